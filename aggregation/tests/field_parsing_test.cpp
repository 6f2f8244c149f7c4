#include "record/field_parsing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "record/byte_copy.h"
#include "record/line_reader.h"
#include "record/string_builder.h"

namespace quax::agg {
namespace {

// Reads from a string in chunks of a chosen size (to cross buffer edges).
struct ChunkSource {
  std::string data;
  std::size_t chunk = 7;
  std::size_t at = 0;
  static std::ptrdiff_t Read(void* context, char* buffer, std::size_t size) {
    auto* self = static_cast<ChunkSource*>(context);
    std::size_t n = std::min({size, self->chunk, self->data.size() - self->at});
    std::memcpy(buffer, self->data.data() + self->at, n);
    self->at += n;
    return static_cast<std::ptrdiff_t>(n);
  }
};

std::vector<std::string> Lines(const std::string& data, std::size_t chunk) {
  ChunkSource source{data, chunk};
  LineReader reader(&ChunkSource::Read, &source);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(line) == LineReader::Result::Line) lines.emplace_back(line);
  return lines;
}

TEST(LineReader, SplitsAtLineFeedAndDropsCarriageReturn) {
  for (std::size_t chunk : {1u, 2u, 3u, 5u, 32000u}) {
    EXPECT_EQ(Lines("a\r\nbc\r\n\r\nd", chunk), (std::vector<std::string>{"a", "bc", "", "d"}))
        << chunk;
    EXPECT_EQ(Lines("x\ny\n", chunk), (std::vector<std::string>{"x", "y"})) << chunk;
  }
  EXPECT_TRUE(Lines("", 4).empty());
}

TEST(LineReader, LongLinesCrossManyChunks) {
  const std::string big(200000, 'q');
  const auto lines = Lines(big + "\r\nshort\r\n", 32000);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], big);
  EXPECT_EQ(lines[1], "short");
}

TEST(LineReader, RefusesLinesBeyondTheLimit) {
  ChunkSource source{std::string(LineReader::kMaxLineLength + 10, 'z'), 32000};
  LineReader reader(&ChunkSource::Read, &source);
  std::string_view line;
  EXPECT_EQ(reader.Next(line), LineReader::Result::TooLong);
  EXPECT_EQ(reader.Next(line), LineReader::Result::TooLong);
}

TEST(LineReader, AtEndLooksAheadWithoutLosingData) {
  ChunkSource source{"one\ntwo", 2};
  LineReader reader(&ChunkSource::Read, &source);
  std::string_view line;
  EXPECT_FALSE(reader.AtEnd());
  ASSERT_EQ(reader.Next(line), LineReader::Result::Line);
  EXPECT_EQ(line, "one");
  EXPECT_FALSE(reader.AtEnd());
  ASSERT_EQ(reader.Next(line), LineReader::Result::Line);
  EXPECT_EQ(line, "two");
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(reader.Next(line), LineReader::Result::End);
}

// The CSVSplit rule byte by byte, with the choices of
// field_parsing.h for the open cases, as the reference for the fast splitter.
std::vector<std::string> ReferenceSplit(const std::string& line) {
  std::vector<std::string> fields;
  const long length = static_cast<long>(line.size());
  bool inQuotes = false;
  long s = 0;
  long e = -1;
  for (long i = 0; i < length; ++i) {
    const char ch = line[static_cast<std::size_t>(i)];
    bool ends = false;
    bool separator = false;
    if (ch == '"') {
      if (inQuotes) {
        inQuotes = false;
        e = i - 1;
        separator = i == length - 1;
      } else {
        inQuotes = true;
        s = i + 1;
      }
    } else if (ch == ',' && !inQuotes) {
      ends = separator = true;
      if (e < 0) e = i - 1;
    }
    if (i == length - 1) ends = true;
    if (!ends) continue;
    if (e < 0 && !separator) e = i;
    fields.push_back(e < s ? std::string() : line.substr(static_cast<std::size_t>(s),
                                                         static_cast<std::size_t>(e - s + 1)));
    s = i + 1;
    e = -1;
  }
  return fields;
}

// Every length up to 40, each byte position differing in turn.
TEST(ByteCopy, CopiesAndComparesEveryShortLength) {
  for (std::size_t n = 0; n <= 40; ++n) {
    std::string from(n, ' ');
    for (std::size_t i = 0; i < n; ++i) from[i] = static_cast<char>('a' + i % 26);
    std::string to(n + 2, '#');
    CopyBytes(to.data() + 1, from);
    EXPECT_EQ(to, "#" + from + "#") << n;
    EXPECT_TRUE(SameBytes(from, std::string(from)));
    for (std::size_t i = 0; i < n; ++i) {
      std::string other = from;
      other[i] = '?';
      EXPECT_FALSE(SameBytes(from, other)) << n << " at " << i;
    }
    EXPECT_FALSE(SameBytes(from, from + "x"));
  }
}

TEST(FieldParsing, FastSplitAgreesWithTheByteRuleOnRandomLines) {
  std::mt19937 random(9);
  const char alphabet[] = {'a', ',', '"', 'b'};
  FieldList views;
  for (int i = 0; i < 20000; ++i) {
    std::string line(i % 10 == 0 ? random() % 300 : random() % 14, ' ');
    for (char& c : line) c = alphabet[random() % sizeof alphabet];
    SplitCsvFields(line, views);
    const std::vector<std::string> expected = ReferenceSplit(line);
    ASSERT_EQ(views.size(), expected.size()) << line;
    for (std::size_t k = 0; k < views.size(); ++k) {
      ASSERT_LE(std::size_t{views[k].Offset} + views[k].Length, line.size()) << line;
      ASSERT_EQ(views[k].In(line), expected[k]) << line << " field " << k;
    }
  }
}

TEST(FieldParsing, ViewSplitAgreesWithBuilderSplitOnRandomLines) {
  std::mt19937 random(3);
  const char alphabet[] = {'a', 'b', ',', '"', ' ', '1'};
  FieldList views;
  std::vector<CStringBuilder> builders;
  for (int i = 0; i < 3000; ++i) {
    std::string line(random() % 20, ' ');
    for (char& c : line) c = alphabet[random() % sizeof alphabet];
    SplitCsvFields(line, views);
    CStringBuilder b;
    b.SetValue(line);
    b.CSVSplit(builders);
    ASSERT_EQ(views.size(), builders.size()) << line;
    for (std::size_t k = 0; k < views.size(); ++k) {
      ASSERT_LE(std::size_t{views[k].Offset} + views[k].Length, line.size()) << line;
      ASSERT_EQ(views[k].In(line), builders[k].View()) << line;
    }
  }
}

TEST(FieldParsing, WorkedLineSplitsIntoItsSixteenFields) {
  const std::string line =
      "HDR,20240131,20240131,00:00:00,23:59:59,,2,\"Name1\",\"Value1\",\"Name2\",\"Value2\",2,"
      "RATE1,12.500000,RATE2,3";
  FieldList views;
  SplitCsvFields(line, views);
  ASSERT_EQ(views.size(), 16u);
  EXPECT_EQ(views[5].In(line), "");
  EXPECT_EQ(views[7].In(line), "Name1");
  EXPECT_EQ(views[15].In(line), "3");
}

}  // namespace
}  // namespace quax::agg
