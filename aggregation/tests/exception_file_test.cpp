#include "win32/exception_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32/registry.h"
#include "test_support.h"

namespace quax {
namespace {

using test::ReadFile;
using test::ReadLines;
using test::ScratchDirectory;

class ExceptionFileTest : public ::testing::Test {
 protected:
  void SetUp() override { exceptions.SetFileName(path); }

  ScratchDirectory directory{"exceptions"};
  const std::string path = directory.Path() + "\\rejected.txt";
  ExceptionFile exceptions;
};

TEST_F(ExceptionFileTest, StartsWithTheDefaults) {
  ExceptionFile fresh;
  EXPECT_EQ(fresh.FileName(), "QUAXExceptionFile.txt");
  EXPECT_EQ(fresh.MaxExceptions(), -1);
  EXPECT_EQ(fresh.ExceptionCount(), 0);
  EXPECT_FALSE(fresh.IsFileOpen());
  EXPECT_FALSE(fresh.MaxExceptionsReached());
}

TEST_F(ExceptionFileTest, LimitOfTwoKeepsTwoLinesAndRefusesTheThird) {
  exceptions.SetMaxExceptions(2);
  EXPECT_TRUE(exceptions.AddException("first,record"));
  EXPECT_TRUE(exceptions.AddException("second,record"));
  EXPECT_FALSE(exceptions.AddException("third,record"));
  EXPECT_EQ(exceptions.LastErrorMessage(), "Maximum number of exceptions (2 has been reached.");
  EXPECT_FALSE(exceptions.AddException("fourth,record"));
  EXPECT_EQ(exceptions.LastErrorMessage(), "Maximum number of exceptions (2 has been reached.");
  EXPECT_TRUE(exceptions.MaxExceptionsReached());
  EXPECT_FALSE(exceptions.IsFileOpen());
  EXPECT_EQ(ReadLines(path), (std::vector<std::string>{"first,record", "second,record"}));
}

TEST_F(ExceptionFileTest, LimitOfZeroNeverCreatesTheFile) {
  exceptions.SetMaxExceptions(0);
  EXPECT_TRUE(exceptions.MaxExceptionsReached());
  EXPECT_FALSE(exceptions.AddException("record"));
  EXPECT_EQ(exceptions.LastErrorMessage(), "Maximum number of exceptions (0 has been reached.");
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ExceptionFileTest, NoLimitIsNeverReached) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(exceptions.AddException("r" + std::to_string(i)));
  EXPECT_FALSE(exceptions.MaxExceptionsReached());
  EXPECT_EQ(exceptions.ExceptionCount(), 5);
}

TEST_F(ExceptionFileTest, ReopeningEmptiesTheFileAndResetsTheCount) {
  exceptions.SetMaxExceptions(1);
  ASSERT_TRUE(exceptions.AddException("old"));
  ASSERT_FALSE(exceptions.AddException("refused"));
  ASSERT_TRUE(exceptions.FileOpen());
  EXPECT_EQ(exceptions.ExceptionCount(), 0);
  EXPECT_TRUE(exceptions.AddException("new"));
  // Opening an open file keeps its lines and its count.
  EXPECT_TRUE(exceptions.FileOpen());
  EXPECT_EQ(exceptions.ExceptionCount(), 1);
  exceptions.FileClose();
  EXPECT_EQ(ReadFile(path), "new\r\n");
}

TEST_F(ExceptionFileTest, OpenFileCanBeReadMeanwhile) {
  ASSERT_TRUE(exceptions.AddException("visible"));
  EXPECT_EQ(ReadFile(path), "visible\r\n");
}

TEST_F(ExceptionFileTest, EmptyFileNameIsRefused) {
  exceptions.SetFileName("");
  EXPECT_FALSE(exceptions.AddException("record"));
  EXPECT_EQ(exceptions.LastErrorMessage(), "FileName not specified.");
}

TEST_F(ExceptionFileTest, OpenFailureNamesThePlatformError) {
  exceptions.SetFileName(directory.Path() + "\\missing\\rejected.txt");
  EXPECT_FALSE(exceptions.AddException("record"));
  // The system's text without its line end: a message is one line.
  std::string text = CSysMessage::GetMessage(ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
  text.resize(text.size() - 2);
  EXPECT_EQ(exceptions.LastErrorMessage(), "Error #3: " + text);
  EXPECT_FALSE(exceptions.IsFileOpen());
}

TEST_F(ExceptionFileTest, ReadingPropertiesClearsTheMessage) {
  exceptions.SetFileName("");
  const auto refuse = [&] { ASSERT_FALSE(exceptions.FileOpen()); };
  refuse();
  exceptions.IsFileOpen();
  EXPECT_EQ(exceptions.LastErrorMessage(), "");
  refuse();
  exceptions.FileName();
  EXPECT_EQ(exceptions.LastErrorMessage(), "");
  refuse();
  exceptions.ExceptionCount();
  EXPECT_EQ(exceptions.LastErrorMessage(), "");
  refuse();
  exceptions.MaxExceptionsReached();
  EXPECT_EQ(exceptions.LastErrorMessage(), "");
  refuse();
  exceptions.FileClose();
  EXPECT_EQ(exceptions.LastErrorMessage(), "");
}

TEST_F(ExceptionFileTest, InitializeClosesTheOpenFile) {
  ASSERT_TRUE(exceptions.AddException("kept"));
  exceptions.Initialize();
  EXPECT_FALSE(exceptions.IsFileOpen());
  EXPECT_EQ(exceptions.FileName(), "QUAXExceptionFile.txt");
  // Closed, so the scratch directory can remove it and a writer can replace it.
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

}  // namespace
}  // namespace quax
