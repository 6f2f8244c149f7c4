// Strict reading of resource record lines: the field checks, and the reader
// refusing what the forgiving reading would change.
#include "record/strict_record.h"

#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "record/agg_error.h"
#include "record/record_text.h"
#include "record/resource_file.h"

namespace quax::agg {
namespace {

TEST(StrictFields, CalendarDatesAreEightDigitsOfARealDay) {
  for (const char* date : {"20240131", "20240229", "20000229", "01000101", "99991231"}) {
    EXPECT_TRUE(IsCalendarDate(date)) << date;
  }
  for (const char* date : {"2026-12-01", "20261301", "20261200", "20230229", "19000229", "20240132",
                           "00990101", "202401311", "2024013", "2024O131", ""}) {
    EXPECT_FALSE(IsCalendarDate(date)) << date;
  }
}

TEST(StrictFields, TimesOfDayRunFromMidnightToOneSecondBefore) {
  for (const char* time : {"00:00:00", "23:59:59", "12:30:05"}) EXPECT_TRUE(IsTimeOfDay(time)) << time;
  for (const char* time : {"24:00:00", "25:00:00", "12:60:00", "12:00:60", "12-00-00", "1:00:00", "12:00:00Z",
                           ""}) {
    EXPECT_FALSE(IsTimeOfDay(time)) << time;
  }
}

TEST(StrictFields, PlainDecimalsHaveDigitsAndAtMostOnePoint) {
  for (const char* value : {"0", "12", "-0.25", "12.500000", ".5", "3.", "-7"}) {
    EXPECT_TRUE(IsPlainDecimal(value)) << value;
  }
  for (const char* value : {"1e3", "1.2.3", "abc", "", "-", ".", "1,234", " 1", "1 ", "+1", "--1", "0x10"}) {
    EXPECT_FALSE(IsPlainDecimal(value)) << value;
  }
  EXPECT_TRUE(IsPlainCount("123456789"));
  for (const char* count : {"", "-1", "1234567890", "2x", "1.0"}) EXPECT_FALSE(IsPlainCount(count)) << count;
}

std::optional<FieldFault> FaultOf(const std::string& line) {
  FieldList fields;
  SplitCsvFields(line, fields);
  return FindStrictFault(line, fields);
}

// What the strict reader says of a line of a file 'in': empty when it reads it.
std::string ReaderFault(const std::string& line) {
  FieldList fields;
  ResourceRecordView record;
  try {
    ParseResourceRecordLine(line, 1, "in", fields, record, RecordReading::Strict);
    return "";
  } catch (const RecordError& error) {
    return error.what();
  }
}

TEST(StrictFields, TheFirstRefusedFieldIsNamedWithItsText) {
  EXPECT_EQ(FaultOf("H,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"u\",2,CPU,1.5,IO,2"), std::nullopt);
  EXPECT_EQ(FaultOf("H,20240131,20240131,08:00:00,09:00:00,note,0,0"), std::nullopt);
  struct Case {
    std::string Line;
    std::size_t Field;
    const char* Reason;
  };
  const Case cases[] = {
      {"H,20240131,2024-02-01,08:00:00,09:00:00,,1,\"U\",\"u\",1,CPU,1", 3,
       "the end date '2024-02-01' (field 3) is not a calendar date YYYYMMDD"},
      {"H,20240131,20240131,08:00:00,9:00,,1,\"U\",\"u\",1,CPU,1", 5,
       "the end time '9:00' (field 5) is not a time of day HH:MM:SS"},
      {"H,20240131,20240131,08:00:00,09:00:00,,one,\"U\",\"u\",1,CPU,1", 7,
       "the identifier count 'one' (field 7) is not a whole number"},
      {"H,20240131,20240131,08:00:00,09:00:00,,5,\"U\",\"u\",1,CPU,1", 7,
       "the identifier count '5' (field 7) announces more fields than the 12 of the line"},
      {"H,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"u\",3,CPU,1", 10,
       "the resource count '3' (field 10) announces more fields than the 12 of the line"},
      {"H,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"u\",2,CPU,1,IO,1e3", 14,
       "the resource value '1e3' (field 14) is not a plain decimal number"},
      {"H,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"u\",1,CPU,1,IO", 13,
       "the line has 13 fields where its counts announce 12"},
      {"H,20240131,20240131", 4, "the line has 3 fields; a record has at least 8"},
      // What the format cannot hold: it has no escape.
      {"H,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"alpha\"\"y\",1,CPU,1", 9,
       "the identifier value '\"alpha\"\"y\"' (field 9) holds a double quote, which a resource record cannot hold"},
      {"H,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"u\",1,\"CP,U\",1", 11,
       "the rate code '\"CP,U\"' (field 11) holds a double quote, which a resource record cannot hold"},
      {"\"H,X\",20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"u\",1,CPU,1", 1,
       "the record header '\"H,X\"' (field 1) holds a double quote, which a resource record cannot hold"},
      {"H,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"u\rv\",1,CPU,1", 9,
       "the identifier value '\"u?v\"' (field 9) holds a line end, which a resource record cannot hold"},
      {std::string("H\0,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"u\",1,CPU,1", 57), 1,
       "the record header 'H?' (field 1) holds a NUL character, which a resource record cannot hold"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Line);
    const std::optional<FieldFault> fault = FaultOf(c.Line);
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->Field, c.Field);
    EXPECT_EQ(fault->Reason, c.Reason);
    // The reader's quick path for good lines lets none of them through.
    EXPECT_EQ(ReaderFault(c.Line), std::string("Unreadable resource record at line 1 of 'in': ") + c.Reason);
  }
  // What the writer writes passes both: quoted texts with commas or a TAB,
  // empty quoted texts, bare identifier texts.
  for (const std::string line : {"H,20240131,20240131,08:00:00,09:00:00,,2,\"U\",\"a,b\",\"P\",\"\",1,CPU,1",
                                 "H,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"a\tb\",1,CPU,1",
                                 "H,20240131,20240131,08:00:00,09:00:00,,2,U,,\"\",x,1,CPU,1"}) {
    EXPECT_EQ(FaultOf(line), std::nullopt) << line;
    EXPECT_EQ(ReaderFault(line), "") << line;
  }
}

// The writer's side of the same rule: a text is refused where it enters
// when its line could not be read back as written.
TEST(RecordText, TextsTheWriterCannotWriteAreNamed) {
  EXPECT_EQ(UnwritableText("a,b", RecordText::IdentifierValue), std::nullopt);  // written in quotes
  EXPECT_EQ(UnwritableText("a,b", RecordText::RateCode), "holds a comma");
  EXPECT_EQ(UnwritableText("a,b", RecordText::Header), "holds a comma");
  EXPECT_EQ(UnwritableText("mallory\",\"Dept\",\"X", RecordText::IdentifierValue), "holds a double quote");
  EXPECT_EQ(UnwritableText("CPU\"", RecordText::RateCode), "holds a double quote");
  EXPECT_EQ(UnwritableText("two\nlines", RecordText::IdentifierName), "holds a line end");
  EXPECT_EQ(UnwritableText(std::string("a\0b", 3), RecordText::IdentifierValue), "holds a NUL character");
  // The quotes the writer puts around an identifier text are not written
  // twice when the text brings them; a lone quote would be left open.
  for (const char* text : {"\"abc\"", "\"abc", "abc\"", "\"\"", ""}) {
    EXPECT_EQ(UnwritableText(text, RecordText::IdentifierValue), std::nullopt) << text;
  }
  EXPECT_EQ(UnwritableText("\"", RecordText::IdentifierValue), "holds a double quote");
  EXPECT_EQ(UnwritableText("\"a\"b\"", RecordText::IdentifierName), "holds a double quote");
  // Longer texts are looked at eight bytes at a time: every position counts.
  for (std::size_t at = 0; at < 20; ++at) {
    std::string text(20, 'x');
    text[at] = '\r';
    EXPECT_EQ(FindUnholdableByte(text, RecordText::Header), at);
  }
}

TEST(StrictReading, TheReaderRefusesWithFileAndLineAndInitializeReturnsToLenient) {
  testing::ScratchFolder folder;
  const std::string path = folder.File("in.txt");
  const std::string good = "H,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"u\",1,CPU,1\r\n";
  const std::string bad = "H,20240131,20240131,08:00:00,09:00:00,,1,\"U\",\"u\",1,CPU,1.2.3\r\n";
  testing::WriteText(path, good + bad);
  CResourceFile file;
  file.SetFileName(path);
  file.SetStrictReading(true);
  ASSERT_TRUE(file.FileOpen(CResourceFile::kModeRead));
  ResourceRecord record;
  EXPECT_TRUE(file.FileRead(record));
  try {
    file.FileRead(record);
    ADD_FAILURE() << "the second line was read";
  } catch (const RecordError& error) {
    EXPECT_EQ(error.Line(), 2);
    EXPECT_EQ(std::string(error.what()), "Unreadable resource record at line 2 of '" + path +
                                             "': the resource value '1.2.3' (field 12) is not a plain decimal number");
  }
  file.Initialize();
  file.SetFileName(path);
  ASSERT_TRUE(file.FileOpen(CResourceFile::kModeRead));
  file.FileRead(record);
  file.FileRead(record);
  EXPECT_EQ(record.ResourceValues[0], Decimal::Parse("1.23")) << "the library's forgiving reading";
}

}  // namespace
}  // namespace quax::agg
