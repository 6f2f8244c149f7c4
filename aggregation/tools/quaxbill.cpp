// quaxbill: turns resource records (quaxaggregate's output) into a bill, a
// CSV table with one row per period and user/project and a total row.
// Exit codes: 0 done, 8 the command line was not understood, 16 failed,
// 130 interrupted; OUTPUT changes only on 0.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "record/resource_file.h"
#include "tools/bill.h"
#include "tools/tool_support.h"

namespace {

using namespace quax::agg;
using namespace quax::agg::tools;

constexpr std::int64_t kInterruptCheckRecords = 4096;

constexpr const char* kHelp =
    "Usage: quaxbill [options] RECORDS... OUTPUT\n"
    "\n"
    "Sums resource records (as quaxaggregate writes them) into a bill: a CSV\n"
    "table with a header row, one row per period and user/project with the sum\n"
    "of every resource, and a total row. A record counts in the period of its\n"
    "end (an end at exactly 00:00:00 counts in the day before). \"-\" as\n"
    "RECORDS reads standard input, as OUTPUT writes standard output.\n"
    "\n"
    "Options:\n"
    "  --period day|month|whole  the rows' period (default month)\n"
    "  --by NAME[,NAME...]       the identifiers a row is for (default User,Project)\n"
    "  --force                   replace an OUTPUT that is not a bill\n"
    "  --help                    show this text\n"
    "\n"
    "Exit codes: 0 done, 8 command line not understood, 16 failed,\n"
    "130 interrupted (Ctrl+C).\n";

struct Options {
  std::vector<std::string> Inputs;
  std::string Output;
  BillPeriod Period = BillPeriod::Month;
  std::vector<std::string> GroupBy = {"User", "Project"};
  bool Force = false;
};

std::vector<std::string> SplitNames(std::string_view text) {
  std::vector<std::string> names;
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    names.emplace_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) return names;
    start = comma + 1;
  }
}

bool ParseArguments(CommandLine& line, Options& options) {
  std::string_view option;
  std::string_view text;
  while (line.NextOption(option)) {
    if (option == "--force") {
      options.Force = true;
    } else if (option == "--period") {
      if (!line.Value(text)) return false;
      if (text == "day") options.Period = BillPeriod::Day;
      else if (text == "month") options.Period = BillPeriod::Month;
      else if (text == "whole") options.Period = BillPeriod::Whole;
      else return line.Refuse("--period wants day, month or whole");
    } else if (option == "--by") {
      if (!line.Value(text)) return false;
      options.GroupBy = SplitNames(text);
      if (std::ranges::any_of(options.GroupBy, [](const std::string& name) { return name.empty(); })) {
        return line.Refuse("--by wants identifier names separated by commas");
      }
    } else {
      return line.Unknown(option);
    }
  }
  return line.Help() || line.TakeInputsAndOutput("input", options.Inputs, options.Output);
}

int Fail(const std::string& message) { return tools::Fail("quaxbill", message); }

// Adds the records of one input until its end or Ctrl+C. Throws on a record
// that strict reading refuses.
void AddRecords(CResourceFile& reader, BillTable& table) {
  ResourceRecordView record;
  for (std::int64_t count = 1; !reader.AtEOF(); ++count) {
    if (count % kInterruptCheckRecords == 0 && InterruptRequested()) return;
    reader.FileRead(record);
    table.Add(record);
  }
}

int Run(const Options& options) {
  if (auto unopened = CheckInputs(options.Inputs)) return Fail(*unopened);
  if (auto refused = CheckOutput(options.Output, options.Force, BillTable::IsBillHeader, "a bill")) {
    return Fail(*refused);
  }
  BillTable table(options.Period, options.GroupBy);
  try {
    for (const std::string& input : options.Inputs) {
      CResourceFile reader;
      reader.SetFileName(input);
      reader.SetStrictReading(true);
      if (!(IsStandardStream(input) ? reader.FileOpenStandardInput() : reader.FileOpen(CResourceFile::kModeRead))) {
        return Fail("Unable to open input file '" + input + "': " + reader.LastErrorMessage());
      }
      AddRecords(reader, table);
      if (InterruptRequested()) break;
    }
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
  std::string message;
  StagedOutput staged(options.Output, "");
  if (!InterruptRequested()) {
    const std::string csv = table.Csv();
    platform::File file;
    platform::FileError error;
    if (!staged.Create(false, message)) return Fail(message);
    if (!file.Open(staged.Path(), platform::OpenMode::Write, error) || !file.Write(csv.data(), csv.size(), error)) {
      return Fail("Unable to write '" + options.Output + "': " + error.Text());
    }
    file.Close();
    if (!staged.Publish(message) && !InterruptRequested()) return Fail(message);
  }
  return InterruptRequested() ? ReportInterrupted("quaxbill", options.Output) : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  return ToolMain(
      "quaxbill", argc, argv, kHelp, [&options](CommandLine& line) { return ParseArguments(line, options); },
      [&options] { return Run(options); }, options.Output);
}
