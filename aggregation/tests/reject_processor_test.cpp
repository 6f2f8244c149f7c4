// Work files of the external passes: names, spreading by key, set rotation,
// read order and removal.
#include "engine/reject_processor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "engine_test_support.h"
#include "record/field_parsing.h"

namespace quax::agg {
namespace {

using testing::ScratchFolder;

ResourceRecord Record(const std::string& user, int value) {
  ResourceRecord r;
  r.Header = "HDR";
  r.Start = testing::Day(2024, 1, 31);
  r.End = testing::Day(2024, 1, 31, 23, 59, 59);
  r.IdentifierNames = {"USER"};
  r.IdentifierValues = {user};
  r.RateCodes = {"CPU"};
  r.ResourceValues = {Decimal(value)};
  return r;
}

bool Add(CRejectProcessor& rejects, const ResourceRecord& r) {
  return rejects.AddEntry("HDR" + r.IdentifierValues[0], r.Header, r.Start, r.End, r.FreeText,
                          r.IdentifierNames, r.IdentifierValues, r.RateCodes, r.ResourceValues);
}

class RejectProcessorTest : public ::testing::Test {
 protected:
  RejectProcessorTest() {
    rejects_.SetWorkFilePath(folder_.Path());
    rejects_.Initialize();
  }
  ScratchFolder folder_;
  CRejectProcessor rejects_;
};

TEST(RejectProcessorNames, GuidTextTakesTheLastFieldsLittleEndian) {
  std::array<std::uint8_t, 16> guid {};
  for (int i = 0; i < 16; ++i) guid[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(GuidText(guid), "03020100-0504-0706-0908-0B0A0F0E0D0C");
  EXPECT_EQ(WorkFileName("dir/", "X", 2, 6), "dir/QUAXAggWork-X-2-6.txt");
}

TEST(RejectProcessorNames, ReadOrderPutsSmallerFilesFirst) {
  EXPECT_EQ(ReadOrderByCounts({5, 1, 3, 0, 0, 0, 0}), (std::array<int, 7> {6, 5, 4, 3, 1, 2, 0}));
  EXPECT_EQ(ReadOrderByCounts({0, 0, 0, 0, 0, 0, 0}), (std::array<int, 7> {0, 1, 2, 3, 4, 5, 6}));
}

TEST(RejectProcessorNames, WorkFilePathFallsBackToTempAndMayBeEmpty) {
  testing::ScopedEnvironment temp("TEMP", "");
  CRejectProcessor rejects;
  EXPECT_EQ(rejects.WorkFilePath(), "");
  rejects.Initialize();
  EXPECT_EQ(rejects.FileName(0, 0).rfind("QUAXAggWork-", 0), 0u) << rejects.FileName(0, 0);
  rejects.SetWorkFilePath("somewhere");
  EXPECT_EQ(rejects.WorkFilePath(), std::string("somewhere") + kPathSeparator);
}

TEST_F(RejectProcessorTest, TwentyOneDistinctNamesInTheWorkFolder) {
  std::set<std::string> names;
  for (int s = 0; s < 3; ++s) {
    for (int t = 0; t < 7; ++t) {
      const std::string& name = rejects_.FileName(s, t);
      EXPECT_EQ(name.rfind(folder_.Path() + "QUAXAggWork-", 0), 0u) << name;
      const std::string tail = "-" + std::to_string(s) + "-" + std::to_string(t) + ".txt";
      EXPECT_EQ(name.substr(name.size() - tail.size()), tail);
      EXPECT_EQ(name.size(), folder_.Path().size() + 12 + 36 + tail.size()) << name;
      names.insert(name);
    }
  }
  EXPECT_EQ(names.size(), 21u);
}

TEST_F(RejectProcessorTest, SameKeySameFileAndEveryRecordComesBackOnce) {
  // Values from 1: the record writer leaves out records whose values are all 0.
  for (int i = 1; i <= 40; ++i) ASSERT_TRUE(Add(rejects_, Record("user" + std::to_string(i % 10), i)));
  // The hash decides the file: the ten keys use the files that the width 83
  // gives them, and nothing else was created.
  std::set<std::string> expectedFiles;
  for (int k = 0; k < 10; ++k) {
    const int index = WorkFileIndex(HashBytes("HDRuser" + std::to_string(k)), 83);
    EXPECT_EQ(index, (HashBytes("HDRuser" + std::to_string(k)) % 581) / 83);
    expectedFiles.insert(std::filesystem::path(rejects_.FileName(0, index)).filename().string());
  }
  const auto onDisk = folder_.WorkFiles();
  EXPECT_EQ(std::set<std::string>(onDisk.begin(), onDisk.end()), expectedFiles);

  EXPECT_TRUE(rejects_.PrepareForNextPass());
  EXPECT_EQ(rejects_.ReadSet(), 0);
  EXPECT_EQ(rejects_.WriteSet(), 1);
  EXPECT_FALSE(rejects_.AtEOF());
  std::multiset<std::pair<std::string, std::string>> seen;
  ResourceRecord record;
  while (rejects_.GetEntry(record)) {
    seen.insert({record.IdentifierValues[0], record.ResourceValues[0].ToString()});
  }
  EXPECT_EQ(rejects_.LastErrorMessage(), "No more records.");
  std::multiset<std::pair<std::string, std::string>> expected;
  for (int i = 1; i <= 40; ++i) expected.insert({"user" + std::to_string(i % 10), std::to_string(i)});
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(rejects_.AtEOF());
  EXPECT_TRUE(folder_.WorkFiles().empty());
}

TEST_F(RejectProcessorTest, SetsRotateAndAPassWritesTheNextSet) {
  ASSERT_TRUE(Add(rejects_, Record("a", 1)));
  ASSERT_TRUE(rejects_.PrepareForNextPass());
  ResourceRecord record;
  ASSERT_TRUE(rejects_.GetEntry(record));
  ASSERT_TRUE(Add(rejects_, record));  // re-rejected during the pass
  EXPECT_FALSE(rejects_.GetEntry(record));
  ASSERT_TRUE(rejects_.PrepareForNextPass());
  EXPECT_EQ(rejects_.ReadSet(), 1);
  EXPECT_EQ(rejects_.WriteSet(), 2);
  ASSERT_TRUE(rejects_.GetEntry(record));
  EXPECT_EQ(record.IdentifierValues[0], "a");
  ASSERT_TRUE(rejects_.PrepareForNextPass());
  ASSERT_TRUE(rejects_.PrepareForNextPass());
  EXPECT_EQ(rejects_.ReadSet(), 0);  // wrapped
  EXPECT_TRUE(rejects_.AtEOF());
  EXPECT_TRUE(folder_.WorkFiles().empty());
}

TEST_F(RejectProcessorTest, ReadOrderFollowsTheRecordCounts) {
  // Keys for files 0, 1 and 2 of set 0, written 5, 1 and 3 times.
  std::array<std::string, 3> keys;
  int found = 0;
  for (int i = 0; found < 3 && i < 10000; ++i) {
    const std::string user = "key-" + std::to_string(i * 7919) + "-" + std::to_string(i);
    const int index = WorkFileIndex(HashBytes("HDR" + user), 83);
    if (index < 3 && keys[static_cast<std::size_t>(index)].empty()) {
      keys[static_cast<std::size_t>(index)] = user;
      ++found;
    }
  }
  ASSERT_EQ(found, 3);
  const int counts[] = {5, 1, 3};
  for (int f = 0; f < 3; ++f) {
    for (int n = 1; n <= counts[f]; ++n) ASSERT_TRUE(Add(rejects_, Record(keys[static_cast<std::size_t>(f)], n)));
  }
  ASSERT_TRUE(rejects_.PrepareForNextPass());
  EXPECT_EQ(rejects_.ReadOrder(), (std::array<int, 7> {6, 5, 4, 3, 1, 2, 0}));
  ResourceRecord record;
  ASSERT_TRUE(rejects_.GetEntry(record));
  EXPECT_EQ(record.IdentifierValues[0], keys[1]);
}

TEST_F(RejectProcessorTest, WorkFilePathIsKeptWhileAFileIsOpen) {
  ASSERT_TRUE(Add(rejects_, Record("a", 1)));
  rejects_.SetWorkFilePath("elsewhere");
  EXPECT_NE(rejects_.WorkFilePath(), std::string("elsewhere") + kPathSeparator);
  rejects_.Initialize();
  rejects_.SetWorkFilePath("elsewhere");
  EXPECT_EQ(rejects_.WorkFilePath(), std::string("elsewhere") + kPathSeparator);
}

TEST_F(RejectProcessorTest, InitializeRemovesOpenWorkFiles) {
  ASSERT_TRUE(Add(rejects_, Record("a", 1)));
  ASSERT_EQ(folder_.WorkFiles().size(), 1u);
  rejects_.Initialize();
  EXPECT_TRUE(folder_.WorkFiles().empty());
}

TEST_F(RejectProcessorTest, AWrittenFileThatCannotBeReopenedIsReported) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows does not remove a file that is open for writing, so the lost file "
                  "is provoked only on POSIX";
#else
  ASSERT_TRUE(Add(rejects_, Record("a", 1)));
  const auto files = folder_.WorkFiles();
  ASSERT_EQ(files.size(), 1u);
  std::filesystem::remove(folder_.File(files[0]));
  EXPECT_FALSE(rejects_.PrepareForNextPass());
  EXPECT_EQ(rejects_.LastErrorMessage().rfind("Unable to reopen reject file '" + folder_.Path(), 0), 0u)
      << rejects_.LastErrorMessage();
#endif
}

TEST_F(RejectProcessorTest, AnUnwritableFolderFailsWithTheFileName) {
  CRejectProcessor rejects;
  rejects.SetWorkFilePath(folder_.File("missing"));
  rejects.Initialize();
  EXPECT_FALSE(Add(rejects, Record("a", 1)));
  EXPECT_EQ(rejects.LastErrorMessage().rfind("Unable to open reject file '" + folder_.File("missing"), 0), 0u)
      << rejects.LastErrorMessage();
  EXPECT_NE(rejects.LastErrorMessage().find("' for writing: "), std::string::npos);
}

}  // namespace
}  // namespace quax::agg
