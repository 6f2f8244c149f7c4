// ParallelAggregator on generated inputs: several layouts interleaved, many
// keys, values of up to 9 places, inputs of several chunks. Whatever the
// number of threads, the output is the same bytes, each key is summed once
// (checked against a plain model of the sums), work files give the same
// aggregates, and the first input error is the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "tools/parallel_aggregator.h"

namespace quax::agg {
namespace {

using testing::ReadRecords;
using testing::ReadText;
using testing::ScratchFolder;
using testing::WriteText;
using tools::AggregationInput;
using tools::AggregationSettings;
using tools::ParallelAggregator;

struct GeneratedLayout {
  std::string Header;
  std::vector<std::string> Names;
  std::vector<std::string> Codes;
};

// The same header and names with other rate codes, or the names in another
// order, are layouts of their own.
const std::vector<GeneratedLayout> kLayouts = {
    {"USAGE", {"USER", "HOST"}, {"CPU", "IO"}},
    {"USAGE", {"HOST", "USER"}, {"CPU", "IO"}},
    {"DISK", {"USER"}, {"KB", "OPS", "SECONDS"}},
    {"USAGE", {"USER", "HOST"}, {"CPU"}},
};

// A value of 0 to 9 places, now and then negative.
std::string GeneratedValue(std::mt19937& random) {
  std::string text = std::to_string(random() % 100000);
  if (const auto places = static_cast<std::size_t>(random() % 10); places > 0) {
    std::string fraction = std::to_string(random() % 1000000000);
    fraction.insert(0, 9 - fraction.size(), '0');
    text += "." + fraction.substr(0, places);
  }
  return random() % 20 == 0 ? "-" + text : text;
}

struct GeneratedRecord {
  std::size_t Layout = 0;
  std::vector<std::string> Values;  // identifier values
  std::string StartDay, EndDay, StartTime, EndTime;
  std::vector<std::string> Amounts;

  std::string Line() const {
    const GeneratedLayout& layout = kLayouts[Layout];
    std::string line = layout.Header + "," + StartDay + "," + EndDay + "," + StartTime + "," + EndTime + ",," +
                       std::to_string(layout.Names.size());
    for (std::size_t i = 0; i < layout.Names.size(); ++i) line += ",\"" + layout.Names[i] + "\",\"" + Values[i] + "\"";
    line += "," + std::to_string(layout.Codes.size());
    for (std::size_t j = 0; j < layout.Codes.size(); ++j) line += "," + layout.Codes[j] + "," + Amounts[j];
    return line + "\r\n";
  }
};

std::vector<GeneratedRecord> Generate(std::size_t records, std::size_t keys, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<GeneratedRecord> generated(records);
  const auto two = [](unsigned n) { return std::string(n < 10 ? "0" : "") + std::to_string(n); };
  for (GeneratedRecord& record : generated) {
    const std::size_t key = random() % keys;
    record.Layout = key % kLayouts.size();
    const GeneratedLayout& layout = kLayouts[record.Layout];
    for (std::size_t i = 0; i < layout.Names.size(); ++i) {
      record.Values.push_back(layout.Names[i] == "USER" ? "u" + std::to_string(key / 7) : "h" + std::to_string(key % 7));
    }
    const unsigned day = 10 + static_cast<unsigned>(key % 3);
    record.StartDay = "202401" + two(day);
    record.EndDay = "202401" + two(day + static_cast<unsigned>(random() % 2));
    record.StartTime = two(static_cast<unsigned>(random() % 24)) + ":" + two(static_cast<unsigned>(random() % 60)) + ":00";
    record.EndTime = two(static_cast<unsigned>(random() % 24)) + ":00:" + two(static_cast<unsigned>(random() % 60));
    for (std::size_t j = 0; j < layout.Codes.size(); ++j) record.Amounts.push_back(GeneratedValue(random));
  }
  return generated;
}

// The sums as a plain model: one aggregate per layout, identifier values and
// days, in the order of first appearance; earliest start, latest end.
std::vector<ResourceRecord> ModelAggregates(const std::vector<GeneratedRecord>& records, std::int32_t dateAggregation) {
  std::vector<ResourceRecord> aggregates;
  std::map<std::string, std::size_t> index;
  FieldList fields;
  for (const GeneratedRecord& generated : records) {
    std::string text = generated.Line();
    text.resize(text.size() - 2);
    ResourceRecord record;
    ParseResourceRecordLine(text, 1, "model", fields, record, RecordReading::Strict);
    std::string key = std::to_string(generated.Layout);
    for (const std::string& value : record.IdentifierValues) key += "|" + value;
    if (dateAggregation != EDateAggregation_EndDate) key += "|" + generated.StartDay;
    if (dateAggregation != EDateAggregation_StartDate) key += "|" + generated.EndDay;
    const auto [at, added] = index.emplace(key, aggregates.size());
    if (added) {
      aggregates.push_back(record);
      continue;
    }
    ResourceRecord& aggregate = aggregates[at->second];
    for (std::size_t j = 0; j < record.ResourceValues.size(); ++j) aggregate.ResourceValues[j] += record.ResourceValues[j];
    aggregate.Start = std::min(aggregate.Start, record.Start);  // all dates lie after 1899
    aggregate.End = std::max(aggregate.End, record.End);
  }
  // Written with six places; a record whose sums are all zero is not written.
  std::erase_if(aggregates, [](const ResourceRecord& aggregate) {
    return std::ranges::all_of(aggregate.ResourceValues, [](const Decimal& value) { return value.IsZero(); });
  });
  for (ResourceRecord& aggregate : aggregates) {
    for (Decimal& value : aggregate.ResourceValues) value = value.RoundHalfAwayFromZero(6);
  }
  return aggregates;
}

// A sum as written, without trailing zeros.
std::string Shown(const Decimal& value) {
  std::string text = value.Round(6).ToString();
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

std::string Describe(const ResourceRecord& record) {
  std::string text = record.Header + " " + std::to_string(record.Start) + "-" + std::to_string(record.End);
  for (std::size_t i = 0; i < record.IdentifierNames.size(); ++i) {
    text += " " + record.IdentifierNames[i] + "=" + record.IdentifierValues[i];
  }
  for (std::size_t j = 0; j < record.RateCodes.size(); ++j) {
    text += " " + record.RateCodes[j] + "=" + Shown(record.ResourceValues[j]);
  }
  return text;
}

std::vector<std::string> Described(const std::vector<ResourceRecord>& records) {
  std::vector<std::string> texts;
  for (const ResourceRecord& record : records) texts.push_back(Describe(record));
  return texts;
}

class ParallelAggregatorTest : public ::testing::Test {
 protected:
  // Writes the records into `files` inputs, record r into input r % files
  // in runs of 5000, so that each input holds several chunks.
  std::vector<AggregationInput> WriteInputs(const std::vector<GeneratedRecord>& records, std::size_t files) {
    std::vector<std::string> texts(files);
    for (std::size_t r = 0; r < records.size(); ++r) texts[(r / 5000) % files] += records[r].Line();
    std::vector<AggregationInput> inputs;
    for (std::size_t f = 0; f < files; ++f) {
      inputs.push_back({folder_.File("in" + std::to_string(f) + ".txt"), false});
      WriteText(inputs.back().Name, texts[f]);
    }
    return inputs;
  }
  // The model's records in input order: the inputs hold runs of them.
  static std::vector<GeneratedRecord> InInputOrder(const std::vector<GeneratedRecord>& records, std::size_t files) {
    std::vector<GeneratedRecord> ordered;
    for (std::size_t f = 0; f < files; ++f) {
      for (std::size_t r = 0; r < records.size(); ++r) {
        if ((r / 5000) % files == f) ordered.push_back(records[r]);
      }
    }
    return ordered;
  }

  struct Outcome {
    bool Done = false;
    std::string Message;
    std::string Output;
    std::int64_t EntriesUsedMax = -1;  // with DebugCounters
  };
  Outcome Run(AggregationSettings settings, const std::vector<AggregationInput>& inputs,
              std::function<std::int32_t()> memoryProbe = nullptr) {
    settings.WorkPath = folder_.Path();
    ParallelAggregator aggregator(settings);
    if (memoryProbe) aggregator.SetMemoryUsedProbe(std::move(memoryProbe));
    const std::string output = folder_.File("out.txt");
    WriteText(output, "");
    Outcome outcome;
    outcome.Done = aggregator.Run(inputs, output);
    outcome.Message = aggregator.LastErrorMessage();
    outcome.Output = ReadText(output);
    const std::string debug = aggregator.DebugMessage();
    const std::string used = "Max Aggregation Entries Used: ";
    if (const std::size_t at = debug.find(used); at != std::string::npos) {
      outcome.EntriesUsedMax = std::stoll(debug.substr(at + used.size()));
    }
    EXPECT_EQ(folder_.WorkFiles(), std::vector<std::string>()) << "work files left";
    return outcome;
  }

  ScratchFolder folder_;
};

TEST_F(ParallelAggregatorTest, AnyThreadCountSumsEveryKeyOnceInTheOrderOfFirstRecords) {
  const std::vector<GeneratedRecord> records = Generate(30000, 3000, 1);
  const std::vector<AggregationInput> inputs = WriteInputs(records, 3);
  for (const std::int32_t dates : {EDateAggregation_Both, EDateAggregation_StartDate}) {
    SCOPED_TRACE(dates);
    std::string first;
    for (const int threads : {1, 2, 7}) {
      SCOPED_TRACE(threads);
      AggregationSettings settings;
      settings.Threads = threads;
      settings.DateAggregation = dates;
      const Outcome outcome = Run(settings, inputs);
      ASSERT_TRUE(outcome.Done) << outcome.Message;
      if (threads == 1) {
        first = outcome.Output;
        EXPECT_EQ(Described(ReadRecords(folder_.File("out.txt"))),
                  Described(ModelAggregates(InInputOrder(records, 3), dates)));
      } else {
        EXPECT_TRUE(outcome.Output == first) << "not the bytes of one thread";
      }
    }
  }
}

// More keys than the budget's first look (every 10,000 new keys): the
// memory limits close the table, as MaxEntries does.
TEST_F(ParallelAggregatorTest, WorkFilesGiveTheInMemoryAggregatesAtAnyThreadCount) {
  const std::vector<GeneratedRecord> records = Generate(40000, 24000, 2);
  const std::vector<AggregationInput> inputs = WriteInputs(records, 2);
  const auto sortedLines = [](const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find('\n', at);
      lines.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    std::ranges::sort(lines);
    return lines;
  };
  AggregationSettings inMemory;
  const Outcome reference = Run(inMemory, inputs);
  ASSERT_TRUE(reference.Done) << reference.Message;
  for (const int threads : {1, 2, 7}) {
    SCOPED_TRACE(threads);
    AggregationSettings fixed;
    fixed.Threads = threads;
    fixed.MaxEntries = 6000;
    fixed.DebugCounters = true;
    const Outcome passes = Run(fixed, inputs);
    ASSERT_TRUE(passes.Done) << passes.Message;
    EXPECT_EQ(sortedLines(passes.Output), sortedLines(reference.Output));
    EXPECT_EQ(passes.EntriesUsedMax, 6000) << "the table holds MaxEntries for all threads together";

    AggregationSettings budget;
    budget.Threads = threads;
    budget.MemoryMinimum = 1;
    budget.MemoryMaximum = 1;
    const Outcome overBudget = Run(budget, inputs, [] { return 1000; });
    ASSERT_TRUE(overBudget.Done) << overBudget.Message;
    EXPECT_EQ(sortedLines(overBudget.Output), sortedLines(reference.Output));
  }
}

TEST_F(ParallelAggregatorTest, TheFirstInputErrorByInputOrderIsReportedWhateverTheThreadsAndPasses) {
  std::vector<GeneratedRecord> records = Generate(30000, 3000, 3);
  // Input 0 holds records 0-4999, 10000-14999 and 20000-24999. At its lines
  // 13000 and 14000, beyond its first chunk and after the keys that fill a
  // table of 500, a key's sum grows beyond every record an aggregate may
  // have; input 1 gets a line the strict reading refuses, later in input
  // order but met first by a thread that reads it.
  GeneratedRecord big = records[0];
  big.Layout = 3;
  big.Values = {"huge", "h"};
  big.Amounts = {"600000000000000"};
  records[20000 + 2999] = big;
  records[20000 + 3999] = big;
  std::vector<AggregationInput> inputs = WriteInputs(records, 2);
  std::string text = ReadText(inputs[1].Name);
  std::size_t at = 0;
  for (int line = 1; line < 3000; ++line) at = text.find('\n', at) + 1;
  text.insert(at, "USAGE,20240110,20240110,25:00:00,01:00:00,,1,\"USER\",\"u\",1,CPU,1\r\n");
  WriteText(inputs[1].Name, text);

  const std::string expected = "Refused resource record at line 14000 of '" + inputs[0].Name +
                               "': the resource value '600000000000000' for 'CPU' (field 14) would make its "
                               "aggregate need more than 10000 output records of at most 99999999999";
  for (const std::int32_t maxEntries : {0, 500}) {
    for (const int threads : {1, 2, 7}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, max entries " + std::to_string(maxEntries));
      AggregationSettings settings;
      settings.Threads = threads;
      settings.MaxEntries = maxEntries;
      const Outcome outcome = Run(settings, inputs);
      EXPECT_FALSE(outcome.Done);
      EXPECT_EQ(outcome.Message, expected);
      EXPECT_EQ(outcome.Output, "") << "nothing is written";
    }
  }

  // Without the sum, the refused line is the first error, named at its line.
  records[20000 + 3999] = records[20000 + 3998];
  inputs = WriteInputs(records, 2);
  WriteText(inputs[1].Name, text);
  for (const int threads : {1, 7}) {
    AggregationSettings settings;
    settings.Threads = threads;
    const Outcome outcome = Run(settings, inputs);
    EXPECT_FALSE(outcome.Done);
    EXPECT_EQ(outcome.Message, "Unreadable resource record at line 3000 of '" + inputs[1].Name +
                                   "': the start time '25:00:00' (field 4) is not a time of day HH:MM:SS");
  }
}

// Lines that each bring new names would take memory without bound: past
// 16 MB of distinct layouts the run stops, writing nothing.
TEST_F(ParallelAggregatorTest, InputsOfEverNewLayoutsStopTheRunBeforeTheyTakeAllMemory) {
  std::string text;
  for (int line = 0; line < 18000; ++line) {
    text += "A,20240131,20240131,08:00:00,09:00:00,,1,\"" + std::string(1000, 'N') + std::to_string(line) +
            "\",\"v\",1,CPU,1\r\n";
  }
  const std::vector<AggregationInput> inputs = {{folder_.File("layouts.txt"), false}};
  WriteText(inputs[0].Name, text);
  AggregationSettings settings;
  settings.Threads = 2;
  const Outcome outcome = Run(settings, inputs);
  EXPECT_FALSE(outcome.Done);
  EXPECT_EQ(outcome.Message, "Unable to aggregate the inputs: their distinct layouts (headers, identifier names and "
                             "rate codes) take more than 16777216 bytes");
  EXPECT_EQ(outcome.Output, "");
}

}  // namespace
}  // namespace quax::agg
