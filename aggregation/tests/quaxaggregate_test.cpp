// quaxaggregate: the real tool, started from beside this test binary on tiny
// files, checked by its exit code, what it prints and the output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "test_support.h"
#include "unique_handle.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

#include "engine_test_support.h"

namespace quax::agg {
namespace {

using testing::ReadRecords;
using testing::ScratchFolder;

struct ToolRun {
  int ExitCode = -1;
  std::string Output;  // standard output, LF line ends
  std::string Errors;  // standard error, LF line ends
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

#ifdef _WIN32
// One argument as the C runtime splits a command line: quoted when it holds
// blanks or quotes, the backslashes before a quote doubled.
std::string QuotedArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + '"';
}

int Spawn(const std::vector<std::string>& arguments, const std::string& outputPath,
          const std::string& errorsPath) {
  std::string commandLine = QuotedArgument(test::BinaryDirectory() + "\\quaxaggregate.exe");
  for (const std::string& argument : arguments) commandLine += ' ' + QuotedArgument(argument);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  const auto createFile = [&inherit](const std::string& path) {
    return unique_handle(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  };
  const unique_handle output = createFile(outputPath);
  const unique_handle errors = createFile(errorsPath);
  if (!output || !errors) {
    ADD_FAILURE() << "cannot create the capture files in " << outputPath;
    return -1;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output.get();
  startup.hStdError = errors.get();
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &started)) {
    ADD_FAILURE() << "CreateProcess failed (" << GetLastError() << "): " << commandLine;
    return -1;
  }
  const unique_handle process(started.hProcess), thread(started.hThread);
  DWORD exitCode = test::kNoExitCode;
  WaitForSingleObject(process.get(), INFINITE);
  GetExitCodeProcess(process.get(), &exitCode);
  return static_cast<int>(exitCode);
}
#else
int Spawn(const std::vector<std::string>& arguments, const std::string& outputPath,
          const std::string& errorsPath) {
  std::string program = (std::filesystem::read_symlink("/proc/self/exe").parent_path() /
                         "quaxaggregate").string();
  std::vector<std::string> argumentCopies = arguments;
  std::vector<char*> argv{program.data()};
  for (std::string& argument : argumentCopies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorsPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t child = 0;
  const int spawnError = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) {
    ADD_FAILURE() << "posix_spawn failed (" << spawnError << "): " << program;
    return -1;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status)) {
    ADD_FAILURE() << "quaxaggregate did not exit normally (wait status " << status << ")";
    return -1;
  }
  return WEXITSTATUS(status);
}
#endif

// Runs quaxaggregate to its end; its standard output and error go to files
// in `folder` (files, not pipes: nothing can block on a full pipe, and a
// file is no terminal, so the tool shows no progress).
ToolRun RunQuaxAggregate(const std::vector<std::string>& arguments, const ScratchFolder& folder) {
  const std::string outputPath = folder.File("tool-stdout.txt");
  const std::string errorsPath = folder.File("tool-stderr.txt");
  ToolRun run;
  run.ExitCode = Spawn(arguments, outputPath, errorsPath);
  run.Output = ReadText(outputPath);
  run.Errors = ReadText(errorsPath);
  // The C runtime of Windows writes text with CR LF.
  std::erase(run.Output, '\r');
  std::erase(run.Errors, '\r');
  return run;
}

// A resource value as written without its trailing zeros: 3.750000 is 3.75.
std::string PlainNumber(const Decimal& value) {
  std::string text = value.ToString();
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

// A record as "USER=u1 HOST=h1 | CPU=3.75 IO=4", so that whole records are
// compared and shown when they differ.
std::string Describe(const ResourceRecord& record) {
  std::string text;
  for (std::size_t i = 0; i < record.IdentifierNames.size(); ++i) {
    text += record.IdentifierNames[i] + "=" + record.IdentifierValues[i] + " ";
  }
  text += "|";
  for (std::size_t j = 0; j < record.RateCodes.size(); ++j) {
    text += " " + record.RateCodes[j] + "=" + PlainNumber(record.ResourceValues[j]);
  }
  return text;
}

// One record line of header A; identifiers and resources with their counts.
std::string Record(const std::string& identifiers, const std::string& resources,
                   const std::string& day = "20240131", const std::string& times = "08:00:00,09:00:00") {
  return "A," + day + "," + day + "," + times + ",," + identifiers + "," + resources + "\r\n";
}

// Five records of three keys (USER, HOST).
const std::string kInput = Record(R"(2,"USER","u1","HOST","h1")", "2,CPU,1.5,IO,1") +
                           Record(R"(2,"USER","u2","HOST","h1")", "2,CPU,4,IO,2") +
                           Record(R"(2,"USER","u1","HOST","h1")", "2,CPU,2.25,IO,3") +
                           Record(R"(2,"USER","u1","HOST","h2")", "2,CPU,0.5,IO,4") +
                           Record(R"(2,"USER","u2","HOST","h1")", "2,CPU,6,IO,5");
const std::vector<std::string> kInputAggregates = {"USER=u1 HOST=h1 | CPU=3.75 IO=4",
                                                   "USER=u2 HOST=h1 | CPU=10 IO=7",
                                                   "USER=u1 HOST=h2 | CPU=0.5 IO=4"};

// An output file from an earlier run.
const std::string kEarlierOutput = Record(R"(1,"USER","old")", "1,CPU,1", "20231231");

constexpr const char* kUsageFirstLine = "Usage: quaxaggregate [options] INPUT OUTPUT\n";
constexpr const char* kUsageLastLine =
    "Exit codes: 0 done, 8 command line not understood, 16 aggregation failed.\n";

class QuaxAggregateTool : public ::testing::Test {
 protected:
  ToolRun Run(const std::vector<std::string>& arguments) const {
    return RunQuaxAggregate(arguments, folder_);
  }
  static std::vector<std::string> Aggregates(const std::string& path) {
    std::vector<std::string> described;
    for (const ResourceRecord& record : ReadRecords(path)) described.push_back(Describe(record));
    return described;
  }
  static std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::ranges::sort(lines);
    return lines;
  }

  ScratchFolder folder_;
  std::string input_ = folder_.File("in.txt");
  std::string output_ = folder_.File("out.txt");
};

TEST_F(QuaxAggregateTool, SumsRecordsOfEqualKeysIntoTheReplacedOutput) {
  WriteText(input_, kInput);
  WriteText(output_, kEarlierOutput);
  const ToolRun run = Run({input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(run.Errors, "");
  EXPECT_EQ(run.Output,
            "Input Records: 5\n"
            "Output Records: 3\n"
            "Number of Aggregates: 3\n"
            "External Passes Count: 0\n"
            "External Passes Record Count: 0\n");
  EXPECT_EQ(Aggregates(output_), kInputAggregates);
}

TEST_F(QuaxAggregateTool, ExternalPassesGiveTheInMemoryAggregatesAndRemoveTheirWorkFiles) {
  WriteText(input_, kInput);
  const std::string inMemory = folder_.File("in-memory.txt");
  ASSERT_EQ(Run({input_, inMemory}).ExitCode, 0);
  const ToolRun run = Run({"--max-entries", "1", "--work-path", folder_.Path(), input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_NE(run.Output.find("Output Records: 3\n"), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("External Passes Count: 2\n"), std::string::npos) << run.Output;
  EXPECT_EQ(Sorted(Aggregates(output_)), Sorted(Aggregates(inMemory)));
  EXPECT_EQ(Sorted(Aggregates(output_)), Sorted(kInputAggregates));
  EXPECT_EQ(folder_.WorkFiles(), std::vector<std::string>());
}

TEST_F(QuaxAggregateTool, WorkFilesAreOpenedInTheWorkPath) {
  WriteText(input_, kInput);
  const std::string missingFolder = folder_.File("missing");
  const ToolRun run = Run({"--max-entries", "1", "--work-path", missingFolder, input_, output_});
  EXPECT_EQ(run.ExitCode, 16);
  const std::string expected = "quaxaggregate: Unable to add aggregate: Unable to open reject file '" +
                               (std::filesystem::path(missingFolder) / "QUAXAggWork-").string();
  EXPECT_EQ(run.Errors.rfind(expected, 0), 0u) << run.Errors;
}

TEST_F(QuaxAggregateTool, DroppedIdentifierMergesTheRecordsItKeptApart) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--drop-identifier", "host", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(Aggregates(output_),
            std::vector<std::string>({"USER=u1 | CPU=4.25 IO=8", "USER=u2 | CPU=10 IO=7"}));
}

TEST_F(QuaxAggregateTool, DroppedResourceIsLeftOutOfEveryRecord) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--drop-resource", "io", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(Aggregates(output_),
            std::vector<std::string>({"USER=u1 HOST=h1 | CPU=3.75", "USER=u2 HOST=h1 | CPU=10",
                                      "USER=u1 HOST=h2 | CPU=0.5"}));
}

TEST_F(QuaxAggregateTool, ANameDroppedTwiceInAnyCaseIsDroppedOnce) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--drop-identifier", "host", "--drop-identifier", "HOST", "--drop-resource",
                           "io", "--drop-resource", "Io", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(run.Errors, "");
  EXPECT_EQ(Aggregates(output_), std::vector<std::string>({"USER=u1 | CPU=4.25", "USER=u2 | CPU=10"}));
}

TEST_F(QuaxAggregateTool, AppendKeepsTheExistingOutputLines) {
  WriteText(input_, kInput);
  WriteText(output_, kEarlierOutput);
  const ToolRun run = Run({"--append", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(ReadText(output_).rfind(kEarlierOutput, 0), 0u);
  std::vector<std::string> expected = {"USER=old | CPU=1"};
  expected.insert(expected.end(), kInputAggregates.begin(), kInputAggregates.end());
  EXPECT_EQ(Aggregates(output_), expected);
}

TEST_F(QuaxAggregateTool, DateAggregationNoneMergesRecordsOfDifferentDates) {
  WriteText(input_, Record(R"(1,"USER","u1")", "1,CPU,1", "20240131", "08:00:00,09:00:00") +
                        Record(R"(1,"USER","u1")", "1,CPU,2", "20240202", "10:00:00,11:00:00"));
  ASSERT_EQ(Run({input_, output_}).ExitCode, 0);
  EXPECT_EQ(ReadRecords(output_).size(), 2u) << "by default the dates are part of the key";

  const ToolRun run = Run({"--date-aggregation", "none", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  const std::vector<ResourceRecord> records = ReadRecords(output_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Describe(records[0]), "USER=u1 | CPU=3");
  EXPECT_EQ(records[0].Start, testing::Day(2024, 1, 31, 8));
  EXPECT_EQ(records[0].End, testing::Day(2024, 2, 2, 11));
}

TEST_F(QuaxAggregateTool, CommandLineErrorsExitWith8AndTouchNothing) {
  WriteText(input_, kInput);
  WriteText(output_, kEarlierOutput);
  struct Case {
    std::vector<std::string> Arguments;
    std::string Message;
  };
  const std::vector<Case> cases = {
      {{"--frobnicate", input_, output_}, "quaxaggregate: unknown option --frobnicate (see --help)\n"},
      {{input_}, "quaxaggregate: name one input and one output file (see --help)\n"},
      {{input_, output_, "--work-path"}, "quaxaggregate: --work-path needs a value\n"},
      {{"--max-entries", "ten", input_, output_},
       "quaxaggregate: --max-entries wants a whole number, not 'ten'\n"},
      {{"--date-aggregation", "daily", input_, output_},
       "quaxaggregate: --date-aggregation wants none, start, end or both\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message);
    const ToolRun run = Run(c.Arguments);
    EXPECT_EQ(run.ExitCode, 8);
    EXPECT_EQ(run.Errors, c.Message);
    EXPECT_EQ(run.Output, "");
    EXPECT_EQ(ReadText(output_), kEarlierOutput);
  }
}

TEST_F(QuaxAggregateTool, InputNamedAsOutputExitsWith8AndKeepsTheInput) {
  const std::string otherSpelling = (std::filesystem::path(folder_.Path()) / "." / "in.txt").string();
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{input_, input_}, {"--append", input_, otherSpelling}}) {
    SCOPED_TRACE(arguments.back());
    WriteText(input_, kInput);
    const ToolRun run = Run(arguments);
    EXPECT_EQ(run.ExitCode, 8);
    EXPECT_EQ(run.Errors, "quaxaggregate: " + arguments.back() + " is both the input and the output\n");
    EXPECT_EQ(ReadText(input_), kInput);
  }
}

TEST_F(QuaxAggregateTool, MissingInputExitsWith16AndLeavesTheOutputAlone) {
  WriteText(output_, kEarlierOutput);
  const ToolRun run = Run({input_, output_});
  EXPECT_EQ(run.ExitCode, 16);
  EXPECT_EQ(run.Errors.rfind("quaxaggregate: Unable to open input file '" + input_ + "': ", 0), 0u)
      << run.Errors;
  EXPECT_EQ(ReadText(output_), kEarlierOutput);
}

// The aggregates written before the bad line (a change of layout flushes
// them) never reach the output: replaced or appended to, it stays as it was,
// and nothing is left beside it.
TEST_F(QuaxAggregateTool, UnreadableRecordLineExitsWith16AndLeavesTheOutputAlone) {
  WriteText(input_, Record(R"(1,"USER","u1")", "1,CPU,1") + Record(R"(1,"HOST","h1")", "1,CPU,2") +
                        "A,20240131,broken\r\n");
  for (const bool append : {false, true}) {
    WriteText(output_, kEarlierOutput);
    std::vector<std::string> arguments = {input_, output_};
    if (append) arguments.insert(arguments.begin(), "--append");
    const ToolRun run = Run(arguments);
    EXPECT_EQ(run.ExitCode, 16);
    EXPECT_EQ(run.Errors.rfind("quaxaggregate: Unreadable resource record at line 3 of '" + input_ + "': ", 0),
              0u)
        << run.Errors;
    EXPECT_EQ(ReadText(output_), kEarlierOutput) << (append ? "--append" : "replace");
    for (const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
      EXPECT_FALSE(entry.path().filename().string().starts_with("out.txt.")) << entry.path();
    }
  }
}

TEST_F(QuaxAggregateTool, HelpPrintsTheUsageAndRunsNothing) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--help", input_, output_});
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(run.Errors, "");
  EXPECT_EQ(run.Output.rfind(kUsageFirstLine, 0), 0u) << run.Output;
  EXPECT_TRUE(run.Output.ends_with(kUsageLastLine)) << run.Output;
  EXPECT_FALSE(std::filesystem::exists(output_));
  EXPECT_EQ(Run({"-h"}).Output, run.Output);
}

TEST_F(QuaxAggregateTool, DebugCountersAddTheInternalStatistics) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--debug-counters", "--max-entries", "2", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(run.Output.rfind("Input Records: 5\n", 0), 0u) << run.Output;
  EXPECT_NE(run.Output.find("\n\nInternal Statistics:\n\tProcessing Time -- Total: "), std::string::npos)
      << run.Output;
  EXPECT_NE(run.Output.find("\n\tMax Aggregation Entries Allowed: 2\n"), std::string::npos) << run.Output;
}

}  // namespace
}  // namespace quax::agg
