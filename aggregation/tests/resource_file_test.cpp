#include "record/resource_file.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "record/date_time.h"

namespace quax::agg {
namespace {

constexpr char kWorkedLine[] =
    "HDR,20240131,20240131,00:00:00,23:59:59,,2,\"Name1\",\"Value1\",\"Name2\",\"Value2\",2,"
    "RATE1,12.500000,RATE2,3";

double At(int y, int m, int d, int hh, int mm, int ss) {
  double day = 0;
  EXPECT_TRUE(MakeDay(y, m, d, day));
  return CombineDateTime(day, MakeTimeOfDay(hh, mm, ss));
}

class ResourceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = platform::TempDirectory() + "quaxagg-" + info->name() + "-" +
            std::to_string(seed() % 1000000) + ".txt";
  }
  void TearDown() override {
    platform::FileError ignored;
    platform::RemoveFile(path_, ignored);
  }

  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }
  void WriteRaw(const std::string& bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  static ResourceRecord Worked() {
    ResourceRecord r;
    r.Header = "HDR";
    r.Start = At(2024, 1, 31, 0, 0, 0);
    r.End = At(2024, 1, 31, 23, 59, 59);
    r.IdentifierNames = {"Name1", "Name2"};
    r.IdentifierValues = {"Value1", "Value2"};
    r.RateCodes = {"RATE1", "RATE2"};
    r.ResourceValues = {Decimal::Parse("12.5"), Decimal(3)};
    return r;
  }

  // Writes records through a new object and returns the file text.
  std::string Written(const std::vector<ResourceRecord>& records) {
    CResourceFile file;
    file.SetFileName(path_);
    EXPECT_TRUE(file.FileOpen(2)) << file.LastErrorMessage();
    for (const ResourceRecord& r : records) EXPECT_TRUE(file.FileWrite(r));
    file.FileClose();
    return Contents();
  }

  // The RecordError message of reading the file's lines until one fails.
  std::string ReadError(const std::string& bytes) {
    WriteRaw(bytes);
    CResourceFile file;
    file.SetFileName(path_);
    EXPECT_TRUE(file.FileOpen(1));
    ResourceRecord r;
    try {
      while (!file.AtEOF()) file.FileRead(r);
    } catch (const RecordError& e) {
      return e.what();
    }
    return "no error";
  }

  std::string path_;
};

TEST_F(ResourceFileTest, WorkedLineIsWrittenExactly) {
  EXPECT_EQ(Written({Worked()}), std::string(kWorkedLine) + "\r\n");
}

TEST_F(ResourceFileTest, WorkedLineReadsBack) {
  WriteRaw(std::string(kWorkedLine) + "\r\n");
  CResourceFile file;
  file.SetFileName(path_);
  ASSERT_TRUE(file.FileOpen(1));
  EXPECT_FALSE(file.AtEOF());
  ResourceRecord r;
  ASSERT_TRUE(file.FileRead(r));
  EXPECT_EQ(r.Header, "HDR");
  EXPECT_DOUBLE_EQ(r.Start, 45322.0);
  EXPECT_DOUBLE_EQ(r.End, At(2024, 1, 31, 23, 59, 59));
  EXPECT_EQ(r.FreeText, "");
  EXPECT_EQ(r.IdentifierNames, (std::vector<std::string>{"Name1", "Name2"}));
  EXPECT_EQ(r.IdentifierValues, (std::vector<std::string>{"Value1", "Value2"}));
  EXPECT_EQ(r.RateCodes, (std::vector<std::string>{"RATE1", "RATE2"}));
  ASSERT_EQ(r.ResourceValues.size(), 2u);
  EXPECT_EQ(r.ResourceValues[0], Decimal::Parse("12.5"));
  EXPECT_EQ(r.ResourceValues[1], Decimal(3));
  EXPECT_TRUE(file.AtEOF());
  EXPECT_EQ(file.RecordCount(), -1);
  EXPECT_THROW(file.FileRead(r), RecordError);  // past the end
}

TEST_F(ResourceFileTest, ValuesAreWrittenWithSixPlacesOnlyWhenFractional) {
  ResourceRecord r = Worked();
  r.IdentifierNames = {"N"};
  r.IdentifierValues = {"V"};
  r.RateCodes = {"A", "B", "C", "D", "E", "F", "G"};
  r.ResourceValues = {Decimal(42),           Decimal::Parse("1.5"),       Decimal::Parse("-0.25"),
                      Decimal::Parse("7.00"), Decimal::Parse("7.0000001"), Decimal::Parse("0.5"),
                      Decimal::Parse("-12.0000005")};
  const std::string text = Written({r});
  EXPECT_NE(text.find(",7,A,42,B,1.500000,C,-0.250000,D,7,E,7.000000,F,0.500000,G,-12.000001\r\n"),
            std::string::npos)
      << text;

  // Digits that leave no room for six places get as many as the value can
  // carry: the line reads back.
  r.RateCodes = {"A", "B"};
  r.ResourceValues = {Decimal::Parse("792281625142643375935439.0335"),
                      Decimal::Parse("7922816251426433759354395033.5")};
  std::string line;
  AppendRecordLine(line, r);
  EXPECT_TRUE(line.ends_with(",A,792281625142643375935439.03350,B,7922816251426433759354395033.5\r\n")) << line;
  FieldList fields;
  ResourceRecord back;
  ParseResourceRecordLine(std::string_view(line).substr(0, line.size() - 2), 1, "f", fields, back,
                          RecordReading::Strict);
  EXPECT_EQ(back.ResourceValues, r.ResourceValues);
}

// Numbers are formatted by the library itself: a locale whose decimal
// separator is a comma changes nothing (and is restored afterwards).
TEST_F(ResourceFileTest, NumbersUseAPointWhateverTheLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const char* chosen = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE", "German_Germany.1252", "German"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      chosen = name;
      break;
    }
  }
#ifdef _WIN32
  ASSERT_NE(chosen, nullptr) << "the runtime offers no German locale";
#else
  if (chosen == nullptr) {
    std::printf("note: no comma-separator locale installed; checked in the \"%s\" locale\n",
                saved.c_str());
  }
#endif
  if (chosen != nullptr) {
    EXPECT_EQ(std::string(std::localeconv()->decimal_point), ",") << chosen;
  }
  ResourceRecord r = Worked();
  r.ResourceValues = {Decimal::FromDouble(1.5), Decimal::Parse("-0.25")};
  const std::string text = Written({r});
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_NE(text.find(",2,RATE1,1.500000,RATE2,-0.250000\r\n"), std::string::npos) << text;
}

TEST_F(ResourceFileTest, AllZeroRecordsAreNotWrittenButSucceed) {
  CResourceFile file;
  file.SetFileName(path_);
  ASSERT_TRUE(file.FileOpen(2));
  ResourceRecord r = Worked();
  r.ResourceValues = {Decimal(0), Decimal::Parse("0.000")};
  EXPECT_TRUE(file.FileWrite(r));
  r.RateCodes.clear();
  r.ResourceValues.clear();
  EXPECT_TRUE(file.FileWrite(r));
  EXPECT_EQ(file.RecordCount(), 0);
  file.FileClose();
  EXPECT_EQ(Contents(), "");
}

TEST_F(ResourceFileTest, ExistingQuotesAreNotDoubled) {
  ResourceRecord r = Worked();
  r.IdentifierNames = {"\"Quoted\"", "Plain"};
  r.IdentifierValues = {"\"Open", "Close\""};
  const std::string text = Written({r});
  EXPECT_NE(text.find(",2,\"Quoted\",\"Open\",\"Plain\",\"Close\",2,"), std::string::npos) << text;
}

TEST_F(ResourceFileTest, WritingInReadModeFailsAndLeavesTheFileAlone) {
  WriteRaw("keep\r\n");
  CResourceFile file;
  file.SetFileName(path_);
  ASSERT_TRUE(file.FileOpen(1));
  EXPECT_FALSE(file.FileWrite(Worked()));
  EXPECT_EQ(file.LastErrorMessage(), "File opened for READ ONLY.");
  file.FileClose();
  EXPECT_EQ(file.LastErrorMessage(), "");
  EXPECT_EQ(Contents(), "keep\r\n");
}

TEST_F(ResourceFileTest, DatesOutsideTheDateRangeAreRefused) {
  CResourceFile file;
  file.SetFileName(path_);
  ASSERT_TRUE(file.FileOpen(2));
  ResourceRecord r = Worked();
  r.Start = 1e300;
  EXPECT_THROW(file.FileWrite(r), Error);
  r.Start = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(file.FileWrite(r), Error);
  r.Start = -657434.0;  // no date: 1 January 100
  EXPECT_TRUE(file.FileWrite(r));
  file.FileClose();
  EXPECT_EQ(Contents().substr(0, 13), "HDR,01000101,");
}

TEST_F(ResourceFileTest, WritingWithNoFileOpenFails) {
  CResourceFile file;
  EXPECT_FALSE(file.FileWrite(Worked()));
  EXPECT_EQ(file.LastErrorMessage(), "File not open.");
  ResourceRecord r;
  EXPECT_THROW(file.FileRead(r), Error);
}

TEST_F(ResourceFileTest, RecordCountIsWrittenMinusRead) {
  CResourceFile file;
  file.SetFileName(path_);
  ASSERT_TRUE(file.FileOpen(2));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(file.FileWrite(Worked()));
  file.FileClose();
  ASSERT_TRUE(file.FileOpen(1));
  ResourceRecord r;
  file.FileRead(r);
  file.FileRead(r);
  EXPECT_EQ(file.RecordCount(), 3);
}

TEST_F(ResourceFileTest, AppendModeKeepsExistingLines) {
  WriteRaw("first\r\n");
  CResourceFile file;
  file.SetFileName(path_);
  ASSERT_TRUE(file.FileOpen(3));
  ASSERT_TRUE(file.FileWrite(Worked()));
  file.FileClose();
  EXPECT_EQ(Contents(), "first\r\n" + std::string(kWorkedLine) + "\r\n");
}

TEST_F(ResourceFileTest, AtEOFReportsWhyItIsTrue) {
  CResourceFile file;
  EXPECT_TRUE(file.AtEOF());
  EXPECT_EQ(file.LastErrorMessage(), "File not open.");
  file.SetFileName(path_);
  ASSERT_TRUE(file.FileOpen(2));
  EXPECT_TRUE(file.AtEOF());
  EXPECT_EQ(file.LastErrorMessage(), "File not opened for reading.");
  file.FileClose();
  ASSERT_TRUE(file.FileOpen(1));
  EXPECT_TRUE(file.AtEOF());  // empty file
  EXPECT_EQ(file.LastErrorMessage(), "");
}

TEST_F(ResourceFileTest, OpenFailuresGiveErrorNumberAndDescription) {
  CResourceFile file;
  file.SetFileName(path_ + ".missing");
  EXPECT_FALSE(file.FileOpen(1));
  EXPECT_EQ(file.LastErrorMessage(), "Error #53: File not found");
  EXPECT_FALSE(file.IsFileOpen());
  file.SetFileName(platform::TempDirectory() + "no-such-folder-quaxagg/x.txt");
  EXPECT_FALSE(file.FileOpen(2));
  EXPECT_EQ(file.LastErrorMessage(), "Error #76: Path not found");
}

TEST_F(ResourceFileTest, RemoveChecksNameAndExistence) {
  CResourceFile file;
  EXPECT_FALSE(file.FileRemove());
  EXPECT_EQ(file.LastErrorMessage(), "Filename not specified.");
  file.SetFileName(path_);
  EXPECT_FALSE(file.FileExists());
  EXPECT_FALSE(file.FileRemove());
  EXPECT_EQ(file.LastErrorMessage(), "File '" + path_ + "' not found.");
  ASSERT_TRUE(file.FileOpen(2));
  ASSERT_TRUE(file.FileWrite(Worked()));
  EXPECT_TRUE(file.FileExists());
  EXPECT_TRUE(file.FileRemove());  // closes first
  EXPECT_FALSE(file.IsFileOpen());
  EXPECT_FALSE(file.FileExists());
}

TEST_F(ResourceFileTest, RenameGivesTheClosedFileANewNameInItsFolder) {
  CResourceFile file;
  EXPECT_FALSE(file.FileRename("x.txt"));
  EXPECT_EQ(file.LastErrorMessage(), "Filename has not been specified.");
  file.SetFileName(path_);
  EXPECT_FALSE(file.FileRename(""));
  EXPECT_EQ(file.LastErrorMessage(), "A new filename has not been specified.");
  EXPECT_FALSE(file.FileRename("x.txt"));
  EXPECT_EQ(file.LastErrorMessage(), "Unable to get file information for '" + path_ + "'");
  ASSERT_TRUE(file.FileOpen(2));
  EXPECT_FALSE(file.FileRename("x.txt"));
  EXPECT_EQ(file.LastErrorMessage(), "File is open.");
  file.FileClose();

  const std::string newName = "quaxagg-renamed-" + std::to_string(std::random_device{}()) + ".txt";
  EXPECT_TRUE(file.FileRename(newName));
  EXPECT_EQ(file.LastErrorMessage(), "");
  EXPECT_EQ(file.FileName(), path_);  // keeps the old path
  EXPECT_FALSE(file.FileExists());
  CResourceFile renamed;
  renamed.SetFileName(platform::TempDirectory() + newName);
  EXPECT_TRUE(renamed.FileExists());
  EXPECT_TRUE(renamed.FileRemove());
}

TEST_F(ResourceFileTest, FileExistsIgnoresFoldersAndTakesWildcards) {
  CResourceFile file;
  EXPECT_FALSE(file.FileExists());
  file.SetFileName(platform::TempDirectory());
  EXPECT_FALSE(file.FileExists());
  WriteRaw("x");
  const std::string name = path_.substr(platform::TempDirectory().size());
  file.SetFileName(platform::TempDirectory() + name.substr(0, name.size() - 5) + "*");
  EXPECT_TRUE(file.FileExists());
}

TEST_F(ResourceFileTest, RandomRecordsRoundTrip) {
  std::mt19937_64 random(5);
  const auto text = [&](std::size_t maxLength) {
    static const char chars[] = "abcXYZ019 ,._-";
    std::string s(static_cast<std::size_t>(random() % (maxLength + 1)), ' ');
    for (char& c : s) c = chars[random() % (sizeof chars - 1)];
    return s;
  };
  std::vector<ResourceRecord> records;
  for (int i = 0; i < 2000; ++i) {
    ResourceRecord r;
    r.Header = "H" + std::to_string(random() % 100);
    double day = static_cast<double>(static_cast<std::int64_t>(random() % 3500000) - 600000);
    r.Start = CombineDateTime(day, MakeTimeOfDay(0, 0, static_cast<std::int32_t>(random() % 86400)));
    r.End = CombineDateTime(day + 1, MakeTimeOfDay(0, 0, static_cast<std::int32_t>(random() % 86400)));
    r.FreeText = "free";
    const std::size_t n = static_cast<std::size_t>(random() % 6);
    for (std::size_t k = 0; k < n; ++k) {
      r.IdentifierNames.push_back("Id" + std::to_string(k));
      r.IdentifierValues.push_back(text(12));
    }
    const std::size_t m = static_cast<std::size_t>(1 + random() % 5);
    for (std::size_t k = 0; k < m; ++k) {
      r.RateCodes.push_back("R" + std::to_string(k));
      r.ResourceValues.push_back(Decimal::FromParts(static_cast<std::uint32_t>(random()),
                                                    static_cast<std::uint32_t>(random() >> 44), 0,
                                                    static_cast<int>(random() % 7),
                                                    random() % 2 == 0));
    }
    r.ResourceValues[0] += Decimal(1);  // never all zero
    records.push_back(r);
  }
  Written(records);
  CResourceFile file;
  file.SetFileName(path_);
  ASSERT_TRUE(file.FileOpen(1));
  ResourceRecord r;
  for (const ResourceRecord& expected : records) {
    ASSERT_FALSE(file.AtEOF());
    ASSERT_TRUE(file.FileRead(r));
    ASSERT_EQ(r.Header, expected.Header);
    ASSERT_EQ(r.Start, expected.Start);
    ASSERT_EQ(r.End, expected.End);
    ASSERT_EQ(r.FreeText, expected.FreeText);
    ASSERT_EQ(r.IdentifierNames, expected.IdentifierNames);
    ASSERT_EQ(r.IdentifierValues, expected.IdentifierValues);
    ASSERT_EQ(r.RateCodes, expected.RateCodes);
    ASSERT_EQ(r.ResourceValues, expected.ResourceValues);
  }
  EXPECT_TRUE(file.AtEOF());
  EXPECT_EQ(file.RecordCount(), -2000);
}

TEST_F(ResourceFileTest, HostileLinesRaiseErrorsNamingTheLine) {
  const std::string good = std::string(kWorkedLine) + "\r\n";
  EXPECT_NE(ReadError(good + "HDR,1,2\r\n").find("at line 2 of '" + path_ + "'"), std::string::npos);
  EXPECT_NE(ReadError(good + good + "\r\n").find("at line 3"), std::string::npos);
  // Counts that announce more fields than the line holds.
  EXPECT_NE(ReadError("H,20240131,20240131,00:00:00,23:59:59,,3,\"a\",\"b\",1,R,5\r\n")
                .find("line 1 of '" + path_ + "': the identifier count 3"),
            std::string::npos);
  EXPECT_NE(ReadError("H,20240131,20240131,00:00:00,23:59:59,,1,\"a\",\"b\",2,R,5\r\n")
                .find("the resource count 2"),
            std::string::npos);
  EXPECT_NE(ReadError("H,20240131,20240131,00:00:00,23:59:59,,-1,0\r\n").find("identifier count -1"),
            std::string::npos);
  EXPECT_NE(ReadError("H,20240131,20240131,00:00:00,23:59:59,,99999999999,0\r\n").find("line 1"),
            std::string::npos);
  // Short and impossible dates and times.
  EXPECT_NE(ReadError("H,2024,20240131,00:00:00,23:59:59,,0,0\r\n").find("start date '2024'"),
            std::string::npos);
  EXPECT_NE(ReadError("H,20240131,20240131,00:00,23:59:59,,0,0\r\n").find("start time"),
            std::string::npos);
  EXPECT_NE(ReadError("H,20240131,99999999,00:00:00,23:59:59,,0,0\r\n").find("not a valid date"),
            std::string::npos);
  // A number too large for the decimal.
  EXPECT_NE(ReadError("H,20240131,20240131,00:00:00,23:59:59,,0,1,R," + std::string(40, '9') + "\r\n")
                .find("does not fit an exact decimal"),
            std::string::npos);
  // An overlong line.
  EXPECT_NE(ReadError(good + std::string(LineReader::kMaxLineLength + 5, ',') + "\r\n")
                .find("line 2"),
            std::string::npos);
  // Binary garbage.
  EXPECT_NE(ReadError(std::string("\0\xff\"\x01,,\r\n", 7)).find("line 1"), std::string::npos);
}

TEST_F(ResourceFileTest, ZeroCountsAreRead) {
  WriteRaw("H,20240131,20240131,00:00:00,23:59:59,,0,0\r\n");
  CResourceFile file;
  file.SetFileName(path_);
  ASSERT_TRUE(file.FileOpen(1));
  ResourceRecord r = Worked();
  ASSERT_TRUE(file.FileRead(r));
  EXPECT_TRUE(r.IdentifierNames.empty());
  EXPECT_TRUE(r.ResourceValues.empty());
}

TEST(ResourceRecordLine, ParsesInPlaceWithoutAFile) {
  FieldList fields;
  ResourceRecord r;
  ParseResourceRecordLine(kWorkedLine, 1, "memory", fields, r);
  EXPECT_EQ(r.ResourceValues[0].ToString(), "12.5");
  try {
    ParseResourceRecordLine("x", 17, "memory", fields, r);
    FAIL();
  } catch (const RecordError& e) {
    EXPECT_EQ(e.Line(), 17);
    EXPECT_STREQ(e.what(),
                 "Unreadable resource record at line 17 of 'memory': the line has 1 fields; a "
                 "record has at least 8");
  }
}

}  // namespace
}  // namespace quax::agg
