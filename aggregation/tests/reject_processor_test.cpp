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

// The key the engine builds for header HDR and one identifier value.
std::string KeyOf(const std::string& user) { return std::string("HDR\0\0", 5) + user; }

const std::vector<std::string> kNames {"USER"};
const std::vector<std::string> kRateCodes {"CPU"};

bool Add(CRejectProcessor& rejects, const std::string& user, int value) {
  const std::string key = KeyOf(user);
  const std::string_view ids[] = {std::string_view(key).substr(5)};
  const Decimal values[] = {Decimal(value)};
  return rejects.AddEntry(WorkLayoutView {1, "HDR", kNames, kRateCodes}, key, HashBytes(key),
                          testing::Day(2024, 1, 31), testing::Day(2024, 1, 31, 23, 59, 59), ids, values);
}

// Hands an entry read back to the set being written, as a pass does.
bool AddAgain(CRejectProcessor& rejects, const WorkEntry& entry) {
  const WorkLayoutView layout {1, entry.Layout->Header, entry.Layout->IdentifierNames, entry.Layout->RateCodes};
  return rejects.AddEntry(layout, entry.Key, entry.KeyHash, entry.Start, entry.End, entry.IdentifierValues,
                          entry.ResourceValues);
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
  // Values from 0: an entry whose values are all zero still comes back (its
  // dates count as they would in memory).
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(Add(rejects_, "user" + std::to_string(i % 10), i));
  // The hash decides the file: the ten keys use the files that the width 83
  // gives them, and nothing else was created.
  std::set<std::string> expectedFiles;
  for (int k = 0; k < 10; ++k) {
    const std::int32_t hash = HashBytes(KeyOf("user" + std::to_string(k)));
    const int index = WorkFileIndex(hash, 83);
    EXPECT_EQ(index, (hash % 581) / 83);
    expectedFiles.insert(std::filesystem::path(rejects_.FileName(0, index)).filename().string());
  }
  const auto onDisk = folder_.WorkFiles();
  EXPECT_EQ(std::set<std::string>(onDisk.begin(), onDisk.end()), expectedFiles);

  EXPECT_TRUE(rejects_.PrepareForNextPass());
  EXPECT_EQ(rejects_.ReadSet(), 0);
  EXPECT_EQ(rejects_.WriteSet(), 1);
  EXPECT_FALSE(rejects_.AtEOF());
  std::multiset<std::pair<std::string, std::string>> seen;
  WorkEntry entry;
  while (rejects_.GetEntry(entry)) {
    EXPECT_EQ(entry.Key, KeyOf(std::string(entry.IdentifierValues[0])));
    EXPECT_EQ(entry.KeyHash, static_cast<std::uint32_t>(HashBytes(entry.Key)));
    EXPECT_EQ(entry.Layout->IdentifierNames, kNames);
    seen.insert({std::string(entry.IdentifierValues[0]), entry.ResourceValues[0].ToString()});
  }
  EXPECT_EQ(rejects_.LastErrorMessage(), "No more records.");
  std::multiset<std::pair<std::string, std::string>> expected;
  for (int i = 0; i < 40; ++i) expected.insert({"user" + std::to_string(i % 10), std::to_string(i)});
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(rejects_.AtEOF());
  EXPECT_TRUE(folder_.WorkFiles().empty());
}

TEST_F(RejectProcessorTest, SetsRotateAndAPassWritesTheNextSet) {
  ASSERT_TRUE(Add(rejects_, "a", 1));
  ASSERT_TRUE(rejects_.PrepareForNextPass());
  WorkEntry entry;
  ASSERT_TRUE(rejects_.GetEntry(entry));
  ASSERT_TRUE(AddAgain(rejects_, entry));  // re-rejected during the pass
  EXPECT_FALSE(rejects_.GetEntry(entry));
  ASSERT_TRUE(rejects_.PrepareForNextPass());
  EXPECT_EQ(rejects_.ReadSet(), 1);
  EXPECT_EQ(rejects_.WriteSet(), 2);
  ASSERT_TRUE(rejects_.GetEntry(entry));
  EXPECT_EQ(entry.IdentifierValues[0], "a");
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
    const int index = WorkFileIndex(HashBytes(KeyOf(user)), 83);
    if (index < 3 && keys[static_cast<std::size_t>(index)].empty()) {
      keys[static_cast<std::size_t>(index)] = user;
      ++found;
    }
  }
  ASSERT_EQ(found, 3);
  const int counts[] = {5, 1, 3};
  for (int f = 0; f < 3; ++f) {
    for (int n = 1; n <= counts[f]; ++n) ASSERT_TRUE(Add(rejects_, keys[static_cast<std::size_t>(f)], n));
  }
  ASSERT_TRUE(rejects_.PrepareForNextPass());
  EXPECT_EQ(rejects_.ReadOrder(), (std::array<int, 7> {6, 5, 4, 3, 1, 2, 0}));
  WorkEntry entry;
  ASSERT_TRUE(rejects_.GetEntry(entry));
  EXPECT_EQ(entry.IdentifierValues[0], keys[1]);
}

TEST_F(RejectProcessorTest, WorkFilePathIsKeptWhileAFileIsOpen) {
  ASSERT_TRUE(Add(rejects_, "a", 1));
  rejects_.SetWorkFilePath("elsewhere");
  EXPECT_NE(rejects_.WorkFilePath(), std::string("elsewhere") + kPathSeparator);
  rejects_.Initialize();
  rejects_.SetWorkFilePath("elsewhere");
  EXPECT_EQ(rejects_.WorkFilePath(), std::string("elsewhere") + kPathSeparator);
}

TEST_F(RejectProcessorTest, InitializeRemovesOpenWorkFiles) {
  ASSERT_TRUE(Add(rejects_, "a", 1));
  ASSERT_EQ(folder_.WorkFiles().size(), 1u);
  rejects_.Initialize();
  EXPECT_TRUE(folder_.WorkFiles().empty());
}

TEST_F(RejectProcessorTest, AWrittenFileThatCannotBeReopenedIsReported) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows does not remove a file that is open for writing, so the lost file "
                  "is provoked only on POSIX";
#else
  ASSERT_TRUE(Add(rejects_, "a", 1));
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
  EXPECT_FALSE(Add(rejects, "a", 1));
  EXPECT_EQ(rejects.LastErrorMessage().rfind("Unable to open reject file '" + folder_.File("missing"), 0), 0u)
      << rejects.LastErrorMessage();
  EXPECT_NE(rejects.LastErrorMessage().find("' for writing: "), std::string::npos);
}

}  // namespace
}  // namespace quax::agg
