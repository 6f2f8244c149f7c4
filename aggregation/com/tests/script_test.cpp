// The script clients under Wine's script host: every example of examples/
// on generated inputs, and the edge-case script of the engine facades. Each
// script checks Err.Number after every step and quits with 1 on failure (the
// host would swallow the error); the tests check the exit code, what the
// script printed and the files it wrote.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "com_test_support.h"
#include "test_support.h"
#include "process_log_builder.h"
#include "usage_record.h"

namespace quax::com {
namespace {

using test::ReadFile;
using testing::WriteText;

struct ScriptRun {
  DWORD ExitCode = 0;
  std::string Output;  // LF line ends
};

// A path of the source tree as Wine sees it.
std::string SourcePath(const std::string& relative) {
  std::string path = std::string("Z:") + QUAX_SOURCE_DIR + "/" + relative;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

ScriptRun RunScript(const std::string& script, const std::vector<std::string>& arguments) {
  std::string commandLine = "cscript.exe //nologo \"" + SourcePath(script) + "\"";
  for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";
  ScriptRun run;
  run.ExitCode = test::RunAndCapture(commandLine, &run.Output);
  return run;
}

class ScriptExamples : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return scratch_.Path() + "\\" + name; }
  test::ScratchDirectory scratch_ {"scripts"};
};

TEST_F(ScriptExamples, AggregateFileSumsTheRecordsAndDropsTheNamedIdentifiers) {
  WriteText(Path("in.txt"),
            "A,20240131,20240131,08:00:00,09:00:00,,2,\"USER\",\"u\",\"HOST\",\"h1\",1,CPU,1.5\r\n"
            "A,20240131,20240131,08:00:00,10:00:00,,2,\"USER\",\"u\",\"HOST\",\"h2\",1,CPU,2\r\n"
            "A,20240131,20240131,08:00:00,09:00:00,,2,\"USER\",\"v\",\"HOST\",\"h1\",1,CPU,4\r\n");
  WriteText(Path("out.txt"), "an older output\r\n");
  const ScriptRun run = RunScript("examples/aggregate_file.vbs", {Path("in.txt"), Path("out.txt"), "host"});
  EXPECT_EQ(run.ExitCode, 0u) << run.Output;
  EXPECT_EQ(run.Output,
            "Input Records: 3\nOutput Records: 2\nNumber of Aggregates: 2\nExternal Passes Count: 0\n"
            "External Passes Record Count: 0\n");
  EXPECT_EQ(ReadFile(Path("out.txt")),
            "A,20240131,20240131,08:00:00,10:00:00,,1,\"USER\",\"u\",1,CPU,3.500000\r\n"
            "A,20240131,20240131,08:00:00,09:00:00,,1,\"USER\",\"v\",1,CPU,4\r\n");

  const ScriptRun missing = RunScript("examples/aggregate_file.vbs", {Path("missing.txt"), Path("out.txt")});
  EXPECT_EQ(missing.ExitCode, 1u);
  EXPECT_EQ(missing.Output.rfind("Aggregation failed: Unable to open input file '" + Path("missing.txt") + "': ", 0), 0u)
      << missing.Output;
}

TEST_F(ScriptExamples, UsageLinesFedOneByOneBecomeAResourceFile) {
  WriteText(Path("usage.csv"),
            "# when,user,project,cpu seconds,kilobytes read\r\n"
            "20240131 08:15:00,alice,payroll,90,2048\r\n"
            "20240131 17:45:00,alice,payroll,30,1024\r\n"
            "20240201 09:00:00,alice,payroll,6,512\r\n"
            "20240131 10:00:00,bob,web,1,1\r\n");
  const ScriptRun run = RunScript("examples/usage_to_resource_file.vbs", {Path("usage.csv"), Path("usage.txt")});
  EXPECT_EQ(run.ExitCode, 0u) << run.Output;
  EXPECT_EQ(run.Output.rfind("Input Records: 4\nOutput Records: 3\n", 0), 0u) << run.Output;
  EXPECT_EQ(ReadFile(Path("usage.txt")),
            "USAGE,20240131,20240131,08:15:00,17:45:00,,2,\"USER\",\"alice\",\"PROJECT\",\"payroll\",2,CPUMIN,2,MBREAD,3\r\n"
            "USAGE,20240201,20240201,09:00:00,09:00:00,,2,\"USER\",\"alice\",\"PROJECT\",\"payroll\",2,CPUMIN,0.100000,"
            "MBREAD,0.500000\r\n"
            "USAGE,20240131,20240131,10:00:00,10:00:00,,2,\"USER\",\"bob\",\"PROJECT\",\"web\",2,CPUMIN,0.020000,"
            "MBREAD,0.001000\r\n");

  WriteText(Path("bad.csv"), "20240131 08:15:00,alice,payroll,90,2048\r\n20240131 08:16:00,alice,payroll,lots,1\r\n");
  const ScriptRun bad = RunScript("examples/usage_to_resource_file.vbs", {Path("bad.csv"), Path("bad.txt")});
  EXPECT_EQ(bad.ExitCode, 1u);
  EXPECT_EQ(bad.Output, "Line 2 was not added: Numeric value not specified at resource value index0\n");
}

TEST_F(ScriptExamples, QuaxEventsListsTheLastDayOrNamesAnUnreachableMachine) {
  const ScriptRun run = RunScript("examples/quax_events.vbs", {});
  EXPECT_EQ(run.ExitCode, 0u) << run.Output;
  // Wine keeps no event log: the list is empty.
  EXPECT_EQ(run.Output.rfind("0 QUAX events since ", 0), 0u) << run.Output;

  const ScriptRun offline = RunScript("examples/quax_events.vbs", {"QUAXNOSUCHMACHINE"});
  EXPECT_EQ(offline.ExitCode, 1u);
  EXPECT_EQ(offline.Output,
            "Reading the event log failed: The event log on machine 'QUAXNOSUCHMACHINE' is not available. "
            "The machine may be offline.\n");
}

// The example bills as quaxlog2rr does: the worked example's logs (start,
// interval and end records across midnight, end records only) and a day
// copied into a second folder give the same bill through the script as
// through quaxlog2rr and quaxaggregate, both read by quaxbill.
TEST_F(ScriptExamples, ProcessLogFilesBecomeTheRecordsQuaxlog2rrWrites) {
  const agg::testing::LogFiles logs = agg::testing::WorkedExampleLogs();
  for (const auto& [file, text] : logs.Files()) {
    CreateDirectoryA(Path(file.first).c_str(), nullptr);
    WriteText(Path(file.first + "\\QUAXProcessLog-" + file.second + ".txt"), text);
  }
  CreateDirectoryA(Path("copy").c_str(), nullptr);
  WriteText(Path("copy\\QUAXProcessLog-20261209.txt"), logs.File("HOST1", "20261209"));
  WriteText(Path("HOST1\\notes.txt"), "not a log\r\n");

  const ScriptRun run = RunScript("examples/process_log_to_bill.vbs", {scratch_.Path(), Path("records.txt"), Path("bill.txt")});
  EXPECT_EQ(run.ExitCode, 0u) << run.Output;
  EXPECT_EQ(run.Output.rfind("6 records from 11 usage lines of 5 log files (0 lines not read)\nInput Records: 6\n", 0), 0u)
      << run.Output;
  EXPECT_NE(ReadFile(Path("records.txt")).find("PROCESS,20261208,20261208,20:00:00,20:01:00,,4,\"Machine\",\"HOST1\","
                                               "\"User\",\"CORP\\alice\",\"Project\",\"Apollo\",\"Process\",\"nightly.exe\",6,"
                                               "CPUSEC,0.750000,KERNSEC,0.500000,USERSEC,0.250000,ELAPSSEC,60.000000,"),
            std::string::npos)
      << ReadFile(Path("records.txt"));

  const std::string bin = test::BinaryDirectory() + "\\";
  std::string output;
  const auto tool = [&](const std::string& arguments) {
    return test::RunAndCapture("\"" + bin + arguments, &output);
  };
  ASSERT_EQ(tool("quaxbill.exe\" --period day \"" + Path("bill.txt") + "\" \"" + Path("script.csv") + "\""), 0u) << output;
  ASSERT_EQ(tool("quaxlog2rr.exe\" \"" + scratch_.Path() + "\" \"" + Path("usage.txt") + "\""), 0u) << output;
  ASSERT_EQ(tool("quaxaggregate.exe\" --quiet --drop-identifier Machine --drop-identifier Process \"" + Path("usage.txt") +
                 "\" \"" + Path("sums.txt") + "\""),
            0u)
      << output;
  ASSERT_EQ(tool("quaxbill.exe\" --period day \"" + Path("sums.txt") + "\" \"" + Path("tools.csv") + "\""), 0u) << output;
  EXPECT_EQ(ReadFile(Path("script.csv")), ReadFile(Path("tools.csv")));
  for (const char* row : {"CORP\\alice,Apollo,", "CORP\\bob,Zeus,", "CORP\\carol,Hermes,"}) {
    EXPECT_NE(ReadFile(Path("script.csv")).find(row), std::string::npos) << ReadFile(Path("script.csv"));
  }
}

TEST(ScriptEdgeCases, EveryCheckOfTheEngineFacadesPassesInTheScriptHost) {
  const test::ScratchDirectory scratch("edge");
  // Names beyond the ANSI code page, as UTF-16 with its byte order mark.
  const std::wstring names = L"\xFEFFM\x0101ller\r\n\x65E5\x672C\r\n\x4E2D\x56FD\r\nM\x00FCller\r\n";
  WriteText(scratch.Path() + "\\names-utf16.txt",
            std::string(reinterpret_cast<const char*>(names.data()), names.size() * sizeof(wchar_t)));
  const ScriptRun run = RunScript("aggregation/com/tests/scripting_edge_cases.vbs", {scratch.Path()});
  EXPECT_EQ(run.ExitCode, 0u) << run.Output;
  const std::vector<std::string> checks = {
      "Initialize answers True",
      "a date text sets the start date",
      "a short date text is refused",
      "the start date stays",
      "with validation a letter fails the date",
      "without validation a letter raises a type mismatch [quaxagg.ScriptingEngine: Type mismatch:",
      "a value that is not a number refuses the entry",
      "the refusal names its index",
      "a short start date refuses the entry",
      "the start date is named",
      "AddEntries with 0 entries adds nothing",
      "AddEntries stops at the failing entry",
      "the entry before it stays added",
      "its value is exact",
      "a one-dimensional list is refused",
      "the refusal names the list",
      "too few columns are refused",
      "the refusal counts the columns",
      "the engine writes",
      "a rate code alone is not rounded, decimal positions 0 round half up",
      "a name removed twice raises an error [quaxagg.VTXAggregator: This key is already associated",
      "the layouts A, B, A aggregate",
      "three groups, each appended, removals matched ignoring case",
      "a missing input fails",
      "the input is named",
      "after DataValidation the engine's message shows",
      "an empty input succeeds",
      "a record without identifiers fails",
      "and says so",
      "an unreadable line raises the reader's error [quaxagg.VTXAggregator: Unreadable resource record at line 2",
      "a name the code page cannot hold is refused",
      "the refusal names the character",
      "Japanese is refused, not summed as ??",
      "Chinese is refused",
      "texts the code page holds are added",
      "a value with quotes is refused",
      "and the quote named",
      "a header with a comma is refused when defined",
      "and refuses every entry while it is defined",
      "a day past 9999 is no date",
      "nor an entry's start",
      "after the facade's refusal the engine's shows",
      "distinct texts stay distinct, in the code page's bytes",
      "a full disk fails the write",
      "and says so",
      "nothing counts as written",
      "the aggregates stay for a retry",
      "and reach the good file",
      "counted as written",
      "a file name holding a NUL is refused [quaxagg.ScriptingEngine: The output file name holds a NUL character",
      "an input that is the output is refused",
      "as the same file",
      "and left as it was",
      "an exception file that cannot be opened fails",
      "with a message that ends without a line end",
      "an exception file name holding a NUL is refused [quaxagg.ExceptionFile: The file name holds a NUL",
  };
  std::istringstream lines(run.Output);
  std::string line;
  std::size_t k = 0;
  while (std::getline(lines, line) && line != "done") {
    ASSERT_LT(k, checks.size()) << "unexpected: " << line;
    EXPECT_EQ(line.rfind("ok: " + checks[k], 0), 0u) << "expected ok: " << checks[k] << "\ngot: " << line;
    ++k;
  }
  EXPECT_EQ(k, checks.size());
  EXPECT_EQ(line, "done");
}

}  // namespace
}  // namespace quax::com
