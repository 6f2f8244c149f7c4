// What the tools do to the files they write, whatever happens around them:
// runs on one OUTPUT take turns, a run asked to end leaves nothing behind,
// the leftovers of a killed run go with the next run, and a replaced OUTPUT
// keeps its owner, permissions and links. The real tools, started from beside
// this test binary.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#endif

#include "engine_test_support.h"
#include "platform/platform_files.h"
#include "platform/platform_system.h"
#include "tool_runner.h"

namespace quax::agg {
namespace {

using testing::ReadRecords;
using testing::ReadText;
using testing::RunTool;
using testing::ScratchFolder;
using testing::ToolRun;
using testing::WriteText;

// `count` records of header A, one user each: "<prefix>0", "<prefix>1"...
std::string UserRecords(const std::string& prefix, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += "A,20240131,20240131,08:00:00,09:00:00,,1,\"USER\",\"" + prefix + std::to_string(i) + "\",1,CPU,1\r\n";
  }
  return text;
}

const std::string kEarlierRecord = "A,20231231,20231231,08:00:00,09:00:00,,1,\"USER\",\"old\",1,CPU,1";
const std::string kEarlierOutput = kEarlierRecord + "\r\n";

class OutputSafety : public ::testing::Test {
 protected:
  // Staged outputs, lock files and work files in the folder: what a run
  // must not leave behind.
  std::vector<std::string> RunFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
      const std::string name = entry.path().filename().string();
      if (name.ends_with(".partial") || name.ends_with(".quaxlock") || name.starts_with("QUAXAggWork-")) {
        names.push_back(name);
      }
    }
    return names;
  }

  ScratchFolder folder_;
  std::string input_ = folder_.File("in.txt");
  std::string output_ = folder_.File("out.txt");
};

// The collector's way of ending lines is not the only one: whatever the
// last line of OUTPUT lacks, the first appended record starts a line.
TEST_F(OutputSafety, AppendEndsTheLastLineOfTheOutputFirst) {
  WriteText(input_, UserRecords("u", 2));
  for (const std::string& earlier : {kEarlierRecord, kEarlierRecord + "\r"}) {
    WriteText(output_, earlier);
    const ToolRun run = RunTool("quaxaggregate", {"--append", input_, output_}, folder_);
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    EXPECT_EQ(ReadText(output_).rfind(kEarlierOutput + "A,20240131,", 0), 0u) << ReadText(output_);
    EXPECT_EQ(ReadRecords(output_).size(), 3u);
  }
}

TEST_F(OutputSafety, LeftoversOfKilledRunsGoWithTheNextRun) {
  const std::string runningId = std::to_string(platform::CurrentProcessId());
  const std::vector<std::string> leftovers = {"out.txt.4242.partial", "out.txt.7.partial",
                                              "quax-output-99999996.partial"};
  const std::vector<std::string> kept = {"other.txt.4242.partial", "out.txt.old.partial",
                                         "quax-output-" + runningId + ".partial"};
  for (const std::string& name : leftovers) WriteText(folder_.File(name), "x");
  for (const std::string& name : kept) WriteText(folder_.File(name), "x");
  WriteText(input_, UserRecords("u", 2));
  const ToolRun run = RunTool("quaxaggregate", {"--work-path", folder_.Path(), input_, output_}, folder_);
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  std::vector<std::string> expected = kept;
  std::ranges::sort(expected);
  std::vector<std::string> left = RunFiles();
  std::ranges::sort(left);
  EXPECT_EQ(left, expected);
}

TEST(FileLock, OneHolderAtATimeAndTheLockFileGoesWithIt) {
  const ScratchFolder folder;
  const std::string path = folder.File("out.txt.quaxlock");
  platform::FileError error;
  platform::FileLock first;
  platform::FileLock second;
  ASSERT_EQ(first.TryAcquire(path, error), platform::FileLock::Result::Acquired) << error.Text();
  EXPECT_EQ(second.TryAcquire(path, error), platform::FileLock::Result::Busy);
  EXPECT_FALSE(second.IsHeld());
  first.Release();
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(second.TryAcquire(path, error), platform::FileLock::Result::Acquired) << error.Text();
  platform::FileLock moved = std::move(second);
  EXPECT_EQ(first.TryAcquire(path, error), platform::FileLock::Result::Busy);
  moved = platform::FileLock();
  EXPECT_FALSE(std::filesystem::exists(path));
}

#ifndef _WIN32
using testing::RunningTool;
using testing::ShellQuoted;
using testing::ToolPath;

bool WaitUntil(const std::function<bool()>& condition) {
  for (int tries = 0; tries < 2000; ++tries) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

// Whether the process has its handler for `signal` in place.
bool Catches(int pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("SigCgt:")) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
  }
  return false;
}

TEST_F(OutputSafety, RunsAppendingToOneOutputTakeTurnsAndLoseNothing) {
  WriteText(output_, kEarlierOutput);
  RunningTool first("quaxaggregate", {"--append", "-", output_}, folder_);
  first.Write(UserRecords("a", 500));
  ASSERT_TRUE(WaitUntil([this] { return !RunFiles().empty(); })) << "the first run staged nothing";
  RunningTool second("quaxaggregate", {"--append", "-", output_}, folder_, "second");
  second.Write(UserRecords("b", 500));
  second.CloseInput();
  WaitUntil([this] { return !ReadText(folder_.File("second-stderr.txt")).empty(); });
  EXPECT_TRUE(second.Running()) << "the second run did not wait for the first";
  first.CloseInput();
  const ToolRun firstRun = first.Wait();
  const ToolRun secondRun = second.Wait();
  EXPECT_EQ(firstRun.ExitCode, 0) << firstRun.Errors;
  EXPECT_EQ(secondRun.ExitCode, 0) << secondRun.Errors;
  EXPECT_EQ(secondRun.Errors, "quaxaggregate: waiting for another run writing '" + output_ + "' to end\n");
  EXPECT_EQ(ReadText(output_).rfind(kEarlierOutput, 0), 0u);
  EXPECT_EQ(ReadRecords(output_).size(), 1001u) << "the records of a run are lost";
  EXPECT_EQ(RunFiles(), std::vector<std::string>());
}

// Each tool, reading standard input from a writer that never ends, is
// signalled while it has work files and staged output: it stops waiting,
// cleans up and tells why it ended.
TEST_F(OutputSafety, SignalsThatEndARunLeaveNothingBehind) {
  struct Case {
    std::string Tool;
    std::vector<std::string> Arguments;
    std::string Input;
    int Signal;
    int ExitCode;
    std::string Why;
  };
  const std::vector<Case> cases = {
      {"quaxaggregate", {"--max-entries", "1", "--work-path", folder_.Path(), "-", output_}, UserRecords("u", 50),
       SIGTERM, 143, "ended by SIGTERM"},
      {"quaxaggregate", {"--append", "-", output_}, UserRecords("u", 50), SIGHUP, 129, "ended by SIGHUP"},
      {"quaxlog2rr", {"-", output_}, "", SIGTERM, 143, "ended by SIGTERM"},
      {"quaxbill", {"--force", "-", output_}, UserRecords("u", 5), SIGHUP, 129, "ended by SIGHUP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Tool + " " + c.Why);
    WriteText(output_, kEarlierOutput);
    RunningTool tool(c.Tool, c.Arguments, folder_);
    tool.Write(c.Input);
    EXPECT_TRUE(WaitUntil([&] { return Catches(tool.Pid(), c.Signal); }));
    if (c.Tool != "quaxbill") {  // it stages its bill only once its input has ended
      EXPECT_TRUE(WaitUntil([&] { return RunFiles().size() >= (c.Arguments[0] == "--max-entries" ? 3u : 2u); }))
          << "the run has not staged (or spilled) yet";
    }
    tool.Signal(c.Signal);
    const ToolRun run = tool.Wait();
    EXPECT_EQ(run.ExitCode, c.ExitCode);
    EXPECT_EQ(run.Errors, c.Tool + ": " + c.Why + "; " + output_ + " is as it was\n");
    EXPECT_EQ(ReadText(output_), kEarlierOutput);
    EXPECT_EQ(RunFiles(), std::vector<std::string>());
  }
}

TEST_F(OutputSafety, AClosedPipeOrAFileSizeLimitFailsTheRunWithAMessage) {
  WriteText(input_, UserRecords("u", 20000));  // far more than a pipe holds
  const std::string tool = ShellQuoted(ToolPath("quaxaggregate"));
  const std::string folder = ShellQuoted(folder_.Path());
  const std::string exitCode = folder_.File("exit-code.txt");
  const ToolRun piped = testing::RunShell("{ " + tool + " --work-path " + folder + " " + ShellQuoted(input_) +
                                              " -; echo $? >" + ShellQuoted(exitCode) + "; } | head -1 >/dev/null",
                                          folder_);
  EXPECT_EQ(ReadText(exitCode), "16\n");
  EXPECT_EQ(piped.Errors, "quaxaggregate: Unable to write '-': Error #57: Device I/O error (Broken pipe)\n");
  EXPECT_EQ(RunFiles(), std::vector<std::string>());

  WriteText(output_, kEarlierOutput);
  const ToolRun limited = testing::RunShell("ulimit -f 64 && exec " + tool + " --max-entries 2000 --work-path " +
                                                folder + " " + ShellQuoted(input_) + " " + ShellQuoted(output_),
                                            folder_);
  EXPECT_EQ(limited.ExitCode, 16);
  EXPECT_EQ(limited.Errors.rfind("quaxaggregate: ", 0), 0u) << limited.Errors;
  EXPECT_NE(limited.Errors.find("(File too large)"), std::string::npos) << limited.Errors;
  EXPECT_EQ(ReadText(output_), kEarlierOutput);
  EXPECT_EQ(RunFiles(), std::vector<std::string>());
}

TEST_F(OutputSafety, AReplacedOutputKeepsItsModeOwnerAndLink) {
  constexpr uid_t kNobody = 65534;
  const bool root = geteuid() == 0;
  if (!root) std::printf("[   NOTE   ] not run as root: the owner of OUTPUT is not changed or checked\n");
  const auto expectKept = [&](const std::string& path, mode_t mode) {
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    if (root) {
      EXPECT_EQ(st.st_uid, kNobody);
    }
  };
  WriteText(input_, UserRecords("u", 3));
  const std::string bill = folder_.File("bill.csv");
  for (const std::string& path : {output_, bill}) {
    WriteText(path, "");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    if (root) {
      ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    }
  }
  for (const bool append : {false, true}) {
    std::vector<std::string> arguments = {input_, output_};
    if (append) arguments.insert(arguments.begin(), "--append");
    EXPECT_EQ(RunTool("quaxaggregate", arguments, folder_).ExitCode, 0);
    expectKept(output_, 0640);
  }
  EXPECT_EQ(ReadRecords(output_).size(), 6u);
  EXPECT_EQ(RunTool("quaxbill", {output_, bill}, folder_).ExitCode, 0);
  expectKept(bill, 0640);

  // A link as OUTPUT: the file it points to is replaced, in its own folder.
  const std::string elsewhere = folder_.File("elsewhere");
  std::filesystem::create_directory(elsewhere);
  const std::string link = folder_.File("link.txt");
  std::filesystem::create_symlink("elsewhere/target.txt", link);
  EXPECT_EQ(RunTool("quaxaggregate", {input_, link}, folder_).ExitCode, 0) << "a link to a missing file";
  EXPECT_EQ(RunTool("quaxaggregate", {"--append", input_, link}, folder_).ExitCode, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadRecords(elsewhere + "/target.txt").size(), 6u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere), std::filesystem::directory_iterator()), 1);
}

// The folder may be written by anyone; OUTPUT only by its owner.
TEST_F(OutputSafety, AUserWhoMayNotWriteTheOutputGets16AndTheFileStays) {
  if (geteuid() != 0 || !std::filesystem::exists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "running a tool as another user (nobody) needs root and setpriv";
  }
  ASSERT_EQ(chmod(folder_.Path().c_str(), 0777), 0);
  WriteText(input_, UserRecords("u", 3));
  WriteText(output_, kEarlierOutput);
  for (const std::string option : {"", "--append "}) {
    SCOPED_TRACE(option);
    const ToolRun run = testing::RunShell("exec setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                              ShellQuoted(ToolPath("quaxaggregate")) + " " + option +
                                              ShellQuoted(input_) + " " + ShellQuoted(output_),
                                          folder_);
    EXPECT_EQ(run.ExitCode, 16);
    EXPECT_EQ(run.Errors, "quaxaggregate: cannot write '" + output_ + "': Error #75: Path/File access error\n");
    EXPECT_EQ(ReadText(output_), kEarlierOutput);
    struct stat st {};
    ASSERT_EQ(stat(output_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(RunFiles(), std::vector<std::string>());
  }
}
#else
std::string AccessListText(const std::string& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return "(unreadable)";
  }
  char* text = nullptr;
  std::string sddl = "(unconvertible)";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr)) {
    sddl = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return sddl;
}

TEST_F(OutputSafety, AReplacedOutputKeepsItsAccessListAndAReadOnlyOneIsRefused) {
  WriteText(input_, UserRecords("u", 3));
  WriteText(output_, kEarlierOutput);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;SY)(A;;FA;;;BA)",
                                                                   SDDL_REVISION_1, &descriptor, nullptr));
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_EQ(SetNamedSecurityInfoA(output_.data(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  dacl, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  LocalFree(descriptor);
  const std::string before = AccessListText(output_);
  const bool listsKept = before != AccessListText(input_);
  if (!listsKept) {
    std::printf("[   NOTE   ] this system (Wine) keeps no access list of a file: the lists are not compared\n");
  }
  for (const bool append : {false, true}) {
    std::vector<std::string> arguments = {input_, output_};
    if (append) arguments.insert(arguments.begin(), "--append");
    const ToolRun run = RunTool("quaxaggregate", arguments, folder_);
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    if (listsKept) {
      EXPECT_EQ(AccessListText(output_), before);
    }
  }

  const std::string written = ReadText(output_);
  ASSERT_TRUE(SetFileAttributesA(output_.c_str(), FILE_ATTRIBUTE_READONLY));
  const ToolRun refused = RunTool("quaxaggregate", {"--append", input_, output_}, folder_);
  EXPECT_EQ(refused.ExitCode, 16);
  EXPECT_EQ(refused.Errors, "quaxaggregate: cannot write '" + output_ + "': Error #75: Path/File access error\n");
  EXPECT_EQ(ReadText(output_), written);
  SetFileAttributesA(output_.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(RunFiles(), std::vector<std::string>());
}

// Windows lets no program send the console's closing, log-off or shutdown:
// a helper stands in for a tool and hands each event to the tools' console
// handler as the system would, ending the process when the handler returns.
TEST_F(OutputSafety, ConsoleClosingLogOffAndShutdownLetTheRunCleanUpFirst) {
  const std::vector<std::pair<int, std::string>> events = {
      {CTRL_CLOSE_EVENT, "ended as its console was closed"},
      {CTRL_LOGOFF_EVENT, "ended as the user logs off"},
      {CTRL_SHUTDOWN_EVENT, "ended as the system shuts down"},
  };
  for (const auto& [event, why] : events) {
    SCOPED_TRACE(why);
    WriteText(output_, kEarlierOutput);
    const ToolRun run = RunTool("console_event_child", {std::to_string(event), output_}, folder_);
    EXPECT_EQ(run.ExitCode, 130) << "ended before its clean-up";
    EXPECT_EQ(run.Errors, "console_event_child: " + why + "; " + output_ + " is as it was\n");
    EXPECT_EQ(ReadText(output_), kEarlierOutput);
    EXPECT_EQ(RunFiles(), std::vector<std::string>());
  }
}
#endif

}  // namespace
}  // namespace quax::agg
