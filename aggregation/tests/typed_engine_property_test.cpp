// For random inputs and every kind of table bound, the written aggregates
// equal a plain in-memory aggregation of the same entries, and no work file
// is left behind. The values have up to nine places and some resources a
// conversion factor, so that the work files must carry every digit.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>

#include "engine_test_support.h"
#include "engine/typed_engine.h"

namespace quax::agg {
namespace {

struct Input {
  std::string Header;
  std::vector<std::string> Names;
  std::vector<std::string> Values;
  std::vector<std::string> RateCodes;
  std::vector<double> Factors;
  std::vector<Decimal> Resources;
  double Start = 0;
  double End = 0;
};

// One output record reduced to what must match: dates to the second and
// values by value, not by their written form.
using Comparable = std::tuple<std::string, std::string, std::string, std::vector<std::string>,
                              std::vector<std::string>, std::vector<std::string>, std::vector<std::string>>;

std::string SecondText(double date) {
  const CalendarDateTime t = SplitDateTime(date);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour,
                t.Minute, t.Second);
  return text;
}

Comparable Reduce(const std::string& header, double start, double end,
                  const std::vector<std::string>& names, const std::vector<std::string>& values,
                  const std::vector<std::string>& rates, const std::vector<Decimal>& sums) {
  std::vector<std::string> sumTexts;
  for (const Decimal& sum : sums) sumTexts.push_back(sum.RoundHalfAwayFromZero(6).Round(6).ToString());
  for (std::string& text : sumTexts) {
    // 1.500000 and 1.5 are the same value.
    if (text.find('.') != std::string::npos) {
      while (text.back() == '0') text.pop_back();
      if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
  }
  return {header, SecondText(start), SecondText(end), names, values, rates, sumTexts};
}

// The straightforward aggregation: a map from key to the first entry's
// layout, widened dates and exact sums of the converted values.
std::multiset<Comparable> Reference(const std::vector<Input>& inputs, std::int32_t dateAggregation) {
  struct Sum {
    Input First;
    std::vector<Decimal> Sums;
  };
  std::map<std::string, Sum> sums;
  for (Input in : inputs) {
    for (std::size_t k = 0; k < in.Resources.size(); ++k) {
      if (in.Factors[k] != 1.0) in.Resources[k] /= Decimal::FromDouble(in.Factors[k]);
    }
    std::string key = in.Header;
    for (const std::string& v : in.Values) key += std::string("\0\0", 2) + v;
    const auto day = [](double d) { return std::to_string(static_cast<std::int64_t>(d)); };
    if (dateAggregation == 2 || dateAggregation == 4) key += "|" + day(in.Start);
    if (dateAggregation == 3 || dateAggregation == 4) key += "|" + day(in.End);
    auto [it, created] = sums.try_emplace(key, Sum {in, in.Resources});
    if (created) continue;
    Sum& s = it->second;
    for (std::size_t k = 0; k < in.Resources.size(); ++k) s.Sums[k] += in.Resources[k];
    // Earliest start and latest end in every mode, whatever the order.
    if (in.Start < s.First.Start) s.First.Start = in.Start;
    if (in.End > s.First.End) s.First.End = in.End;
  }
  std::multiset<Comparable> out;
  for (const auto& [key, s] : sums) {
    bool anyNonZero = false;
    for (const Decimal& v : s.Sums) anyNonZero = anyNonZero || !v.IsZero();
    if (!anyNonZero) continue;
    out.insert(Reduce(s.First.Header, s.First.Start, s.First.End, s.First.Names, s.First.Values,
                      s.First.RateCodes, s.Sums));
  }
  return out;
}

std::vector<Input> RandomInputs(std::mt19937& random) {
  // Two layouts under two headers, one with conversion factors; values with
  // three to nine places, some negative, some zero; date-times with
  // fractions of a second.
  const std::vector<std::string> headers {"ALPHA", "BETA"};
  const std::vector<std::vector<std::string>> names {{"USER", "HOST"}, {"PROJECT", "USER", "NODE"}};
  const std::vector<std::vector<std::string>> rates {{"CPU", "IO", "MEM"}, {"ELAPSED"}};
  const std::vector<std::vector<double>> factors {{60.0, 1.0, 3.6}, {1.0}};
  std::uniform_int_distribution<int> pick(0, 1);
  std::uniform_int_distribution<int> valueIndex(0, 3);
  std::uniform_int_distribution<int> day(0, 2);
  std::uniform_real_distribution<double> second(0, 86399.99);
  std::uniform_int_distribution<long long> amount(-20000000, 2000000000);
  std::uniform_int_distribution<int> places(3, 9);
  std::uniform_int_distribution<int> zero(0, 9);
  const int count = std::uniform_int_distribution<int>(1, 250)(random);
  std::vector<Input> inputs;
  for (int i = 0; i < count; ++i) {
    const int layout = pick(random);
    Input in;
    in.Header = headers[static_cast<std::size_t>(layout)];
    in.Names = names[static_cast<std::size_t>(layout)];
    for (std::size_t n = 0; n < in.Names.size(); ++n) {
      in.Values.push_back(in.Names[n].substr(0, 1) + std::to_string(valueIndex(random)));
    }
    in.RateCodes = rates[static_cast<std::size_t>(layout)];
    in.Factors = factors[static_cast<std::size_t>(layout)];
    for (std::size_t k = 0; k < in.RateCodes.size(); ++k) {
      const long long mantissa = zero(random) == 0 ? 0 : amount(random);
      in.Resources.push_back(Decimal::FromMantissa64(static_cast<std::uint64_t>(mantissa < 0 ? -mantissa : mantissa),
                                                     places(random), mantissa < 0));
    }
    const int startDay = day(random);
    in.Start = CombineDateTime(testing::Day(2024, 2, 27 + startDay), second(random) / 86400.0);
    in.End = CombineDateTime(testing::Day(2024, 2, 27 + startDay + day(random)), second(random) / 86400.0);
    inputs.push_back(std::move(in));
  }
  return inputs;
}

TEST(TypedEngineProperty, OutputEqualsAPlainAggregationForEveryTableBound) {
  std::mt19937 random(20240229);
  int trials = 0;
  for (const std::int32_t maxEntries : {1, 2, 3, 7, 50, 0}) {
    for (int round = 0; round < 4; ++round, ++trials) {
      testing::ScratchFolder folder;
      const std::vector<Input> inputs = RandomInputs(random);
      const std::int32_t dateAggregation = std::uniform_int_distribution<int>(1, 4)(random);

      TypedEngine engine;
      auto events = std::make_shared<std::vector<testing::ReportedEvent>>();
      engine.SetEventReporter(std::make_unique<testing::RecordingReporter>(events));
      engine.SetWorkFilePath(folder.Path());
      engine.Initialize(maxEntries);
      engine.SetDateAggregation(dateAggregation);
      engine.SetOutputFileName(folder.File("out.txt"));
      const std::string* layoutHeader = nullptr;
      std::vector<std::string_view> ids;
      for (const Input& in : inputs) {
        if (layoutHeader == nullptr || *layoutHeader != in.Header) {
          engine.DefineResourceRecordHeader(in.Header);
          engine.ClearIdentifierList();
          for (const std::string& name : in.Names) engine.DefineIdentifier(name);
          engine.ClearResourceList();
          for (std::size_t k = 0; k < in.RateCodes.size(); ++k) {
            engine.DefineResource(in.RateCodes[k], in.Factors[k], -1);
          }
          layoutHeader = &in.Header;
        }
        ids.assign(in.Values.begin(), in.Values.end());
        ASSERT_EQ(engine.AddEntry(ids, in.Resources, in.Start, in.End), 0) << engine.LastErrorMessage();
      }
      ASSERT_EQ(engine.WriteResourceFile(), 0) << engine.LastErrorMessage();

      std::multiset<Comparable> written;
      for (const ResourceRecord& r : testing::ReadRecords(folder.File("out.txt"))) {
        written.insert(Reduce(r.Header, r.Start, r.End, r.IdentifierNames, r.IdentifierValues,
                              r.RateCodes, r.ResourceValues));
      }
      EXPECT_EQ(written, Reference(inputs, dateAggregation))
          << "MaxEntries " << maxEntries << ", DateAggregation " << dateAggregation << ", "
          << inputs.size() << " entries";
      EXPECT_TRUE(folder.WorkFiles().empty()) << "MaxEntries " << maxEntries;
      if (maxEntries == 1 && inputs.size() > 40) {
        EXPECT_GT(engine.Counters().RejectPassesCount(), 0);
      }
    }
  }
  EXPECT_EQ(trials, 24);
}

}  // namespace
}  // namespace quax::agg
