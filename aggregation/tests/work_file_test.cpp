// Work files: entries come back exactly as written (every digit, scale and
// sign of a value, date-times to the fraction, keys of any bytes, layouts
// as they changed), buffered reading keeps the entries read before valid,
// and a damaged file is reported rather than read past.
#include "engine/work_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine_test_support.h"

namespace quax::agg {
namespace {

using testing::Day;
using testing::ScratchFolder;

constexpr std::string_view kSeparator("\0\0", 2);

struct Written {
  std::string Header;
  std::vector<std::string> Values;
  std::vector<Decimal> Resources;
  double Start = 0;
  double End = 0;
  std::string Key() const {
    std::string key = Header;
    for (const std::string& value : Values) key += std::string(kSeparator) + value;
    return key + std::string(kSeparator) + "45322";  // a day, as the engine appends
  }
};

class WorkFileTest : public ::testing::Test {
 protected:
  WorkFileTest() { file_.SetFileName(folder_.File("work.bin")); }

  bool Write(const WorkLayoutView& layout, const Written& entry) {
    const std::string key = entry.Key();
    std::vector<std::string_view> ids(entry.Values.begin(), entry.Values.end());
    std::string message;
    const bool written = file_.Write(layout, key, static_cast<std::uint32_t>(key.size() * 31), entry.Start,
                                     entry.End, ids, entry.Resources, message);
    EXPECT_TRUE(written) << message;
    return written;
  }
  void Reopen() {
    std::string message;
    ASSERT_TRUE(file_.Close(message)) << message;
    ASSERT_TRUE(file_.OpenForReading(message)) << message;
  }
  std::string Bytes() const {
    std::ifstream in(file_.FileName(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Replace(const std::string& bytes) {
    std::string message;
    file_.Close(message);
    std::ofstream out(file_.FileName(), std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    ASSERT_TRUE(file_.OpenForReading(message)) << message;
  }
  // The message of reading the whole file, empty when it reads to the end.
  std::string ReadAllError() {
    WorkEntry entry;
    try {
      while (file_.Read(entry)) {
      }
    } catch (const Error& error) {
      return error.what();
    }
    return {};
  }

  ScratchFolder folder_;
  CWorkFile file_;
  const std::vector<std::string> names_ {"USER", "HOST"};
  const std::vector<std::string> codes_ {"CPU", "IO", "MEM"};
  WorkLayoutView layout_ {1, "HDR", names_, codes_};
};

TEST_F(WorkFileTest, EveryValueComesBackWithItsDigitsScaleAndSign) {
  const std::vector<Decimal> values {
      Decimal::Parse("0.0000004"),
      Decimal::Parse("0.0166666666666666666666666667"),       // 28 places
      Decimal::Parse("1.50"),                                  // a trailing zero is kept
      -Decimal(0),                                             // a negative zero
      Decimal::Parse("-65535"),
      Decimal::Parse("4294967296.5"),
      Decimal::Parse("18446744073709551615"),                  // 64 bits
      Decimal::Parse("79228162514264337593543950335"),         // 96 bits
      Decimal::Parse("-7.9228162514264337593543950335"),
  };
  std::string message;
  ASSERT_TRUE(file_.OpenForWriting(message)) << message;
  const double start = Day(2024, 2, 29, 23, 59, 59) + 0.4 / 86400;  // a fraction of a second
  const double end = start + 1e-9;
  ASSERT_TRUE(Write(layout_, {"HDR", {"u,\"1\"", ""}, values, start, end}));
  EXPECT_EQ(file_.RecordCount(), 1);
  Reopen();

  WorkEntry entry;
  ASSERT_TRUE(file_.Read(entry));
  ASSERT_EQ(entry.ResourceValues.size(), values.size());
  for (std::size_t k = 0; k < values.size(); ++k) {
    EXPECT_TRUE(entry.ResourceValues[k].IdenticalTo(values[k]))
        << k << ": " << entry.ResourceValues[k].ToString() << " for " << values[k].ToString();
  }
  EXPECT_TRUE(entry.ResourceValues[3].IsNegative());
  EXPECT_EQ(entry.Start, start);
  EXPECT_EQ(entry.End, end);
  const Written expected {"HDR", {"u,\"1\"", ""}, {}, 0, 0};
  EXPECT_EQ(entry.Key, expected.Key());
  EXPECT_EQ(entry.KeyHash, static_cast<std::uint32_t>(expected.Key().size() * 31));
  ASSERT_EQ(entry.IdentifierValues.size(), 2u);
  EXPECT_EQ(entry.IdentifierValues[0], "u,\"1\"");
  EXPECT_EQ(entry.IdentifierValues[1], "");
  EXPECT_EQ(entry.Layout->Header, "HDR");
  EXPECT_EQ(entry.Layout->IdentifierNames, names_);
  EXPECT_EQ(entry.Layout->RateCodes, codes_);
  EXPECT_FALSE(file_.Read(entry));
  EXPECT_TRUE(file_.AtEnd());
}

TEST_F(WorkFileTest, LayoutsAndDatesFollowTheEntriesAcrossBufferRefills) {
  // Enough entries for several buffers, a layout change now and then, dates
  // that mostly repeat, and one entry larger than the buffer.
  const std::vector<std::string> otherNames {"PROJECT"};
  const std::vector<std::string> otherCodes {"ELAPSED"};
  const WorkLayoutView other {2, "OTHER", otherNames, otherCodes};
  std::string message;
  ASSERT_TRUE(file_.OpenForWriting(message)) << message;
  constexpr int kEntries = 30000;
  const std::string huge(CWorkFile::kBufferBytes + 1000, 'x');
  for (int i = 0; i < kEntries; ++i) {
    const bool second = i % 1000 >= 990;
    const double start = Day(2024, 1, 1 + i / 10000);
    const std::string value = i == 12345 ? huge : "v" + std::to_string(i);
    if (second) {
      ASSERT_TRUE(Write(other, {"OTHER", {value}, {Decimal(i)}, start, start + 0.5}));
    } else {
      ASSERT_TRUE(Write(layout_, {"HDR", {value, "h"}, {Decimal(i), Decimal(1), Decimal(2)}, start, start + 0.5}));
    }
  }
  EXPECT_EQ(file_.RecordCount(), kEntries);
  Reopen();

  WorkEntry entry;
  for (int i = 0; i < kEntries; ++i) {
    ASSERT_TRUE(file_.Read(entry)) << i;
    const bool second = i % 1000 >= 990;
    ASSERT_EQ(entry.Layout->Header, second ? "OTHER" : "HDR") << i;
    ASSERT_EQ(entry.IdentifierValues[0], i == 12345 ? huge : "v" + std::to_string(i));
    ASSERT_EQ(entry.ResourceValues.size(), second ? 1u : 3u);
    ASSERT_EQ(entry.ResourceValues[0], Decimal(i));
    ASSERT_EQ(entry.Start, Day(2024, 1, 1 + i / 10000));
    ASSERT_EQ(entry.End, entry.Start + 0.5);
  }
  EXPECT_FALSE(file_.Read(entry));
}

// Buffered reading hands out entries only while the ones before stay valid:
// it never reads the file and stops at a layout that would replace theirs.
TEST_F(WorkFileTest, BufferedReadingKeepsTheEntriesReadBefore) {
  const std::vector<std::string> otherNames {"PROJECT"};
  const WorkLayoutView other {2, "OTHER", otherNames, codes_};
  std::string message;
  ASSERT_TRUE(file_.OpenForWriting(message)) << message;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Write(layout_, {"HDR", {"a" + std::to_string(i), "h"}, {Decimal(i)}, 1, 2}));
  ASSERT_TRUE(Write(other, {"OTHER", {"b"}, {Decimal(9)}, 1, 2}));
  Reopen();

  std::vector<WorkEntry> batch(8);
  EXPECT_FALSE(file_.ReadBuffered(batch[0]));  // nothing read yet
  ASSERT_TRUE(file_.Read(batch[0]));
  std::size_t count = 1;
  while (count < batch.size() && file_.ReadBuffered(batch[count])) ++count;
  ASSERT_EQ(count, 5u);  // the sixth entry comes under another layout
  for (std::size_t k = 0; k < count; ++k) {
    EXPECT_EQ(batch[k].IdentifierValues[0], "a" + std::to_string(k));
    EXPECT_EQ(batch[k].Layout->Header, "HDR");
    EXPECT_EQ(batch[k].LayoutSerial, batch[0].LayoutSerial);
  }
  ASSERT_TRUE(file_.Read(batch[0]));
  EXPECT_EQ(batch[0].Layout->Header, "OTHER");
  EXPECT_NE(batch[0].LayoutSerial, batch[1].LayoutSerial);
}

TEST_F(WorkFileTest, ADamagedFileIsReportedWithItsName) {
  std::string message;
  ASSERT_TRUE(file_.OpenForWriting(message)) << message;
  ASSERT_TRUE(Write(layout_, {"HDR", {"a", "h"}, {Decimal::Parse("1.5")}, 1, 2}));
  ASSERT_TRUE(Write(layout_, {"HDR", {"b", "h"}, {Decimal::Parse("2.5")}, 1, 2}));
  ASSERT_TRUE(file_.Close(message)) << message;
  const std::string good = Bytes();
  const std::string prefix = "Unreadable work file '" + file_.FileName() + "': ";

  Replace(good.substr(0, good.size() - 3));
  EXPECT_EQ(ReadAllError(), prefix + "the last record is cut short");

  // The last record takes 34 bytes: its length field says 2^31 - 1.
  std::string impossible = good;
  impossible.replace(impossible.size() - 34, 4, std::string("\xff\xff\xff\x7f", 4));
  Replace(impossible);
  EXPECT_EQ(ReadAllError(), prefix + "a record has an impossible length");

  // The value's tag is the second-last byte of the last record (one-byte
  // mantissa width 2): scale 31 is none.
  std::string scale = good;
  scale[scale.size() - 3] = static_cast<char>(0x1F);
  Replace(scale);
  EXPECT_EQ(ReadAllError(), prefix + "a value has a scale beyond 28");

  Replace(good.substr(good.find("HDR") + 3 - 5));  // begins inside the layout
  EXPECT_EQ(ReadAllError().rfind(prefix, 0), 0u);

  Replace(good);
  EXPECT_EQ(ReadAllError(), "");
}

TEST_F(WorkFileTest, OpenFailuresAndMissingFilesGiveTheErrorText) {
  file_.SetFileName(folder_.File("missing/work.bin"));
  std::string message;
  EXPECT_FALSE(file_.OpenForWriting(message));
  EXPECT_EQ(message.rfind("Error #", 0), 0u) << message;
  message.clear();
  EXPECT_FALSE(file_.OpenForReading(message));
  EXPECT_EQ(message.rfind("Error #", 0), 0u) << message;
  WorkEntry entry;
  EXPECT_FALSE(file_.Read(entry));
  EXPECT_TRUE(file_.AtEnd());
}

}  // namespace
}  // namespace quax::agg
