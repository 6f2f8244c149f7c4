// quaxbill: turns resource records (quaxaggregate's output) into a bill, a
// CSV table with one row per period and user/project (or department) and a
// total row, priced when rates are given.
// Exit codes: 0 done, 8 the command line was not understood, 16 failed,
// 130 interrupted; OUTPUT changes only on 0.
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "tools/bill.h"
#include "tools/bill_command.h"
#include "tools/tool_support.h"

namespace {

using namespace quax::agg;
using namespace quax::agg::tools;

constexpr const char* kTool = "quaxbill";

const std::string kHelp = std::string(
    "Usage: quaxbill [options] RECORDS... OUTPUT\n"
    "\n"
    "Sums resource records (as quaxaggregate writes them) into a bill: a CSV\n"
    "table with a header row, one row per period and user/project with the sum\n"
    "of every resource, and a total row. A record counts in the period of its\n"
    "end (an end at exactly 00:00:00 counts in the day before). Records with\n"
    "the header EXCLUDED are counted, not billed. \"-\" as RECORDS reads\n"
    "standard input, as OUTPUT writes standard output.\n"
    "\n"
    "Options:\n") +
    kBillOptionsHelp +
    "  --force                   replace an OUTPUT that is not a bill\n"
    "  --help                    show this text\n"
    "\n"
    "Costs are usage x price / per, exact, rounded to cents once per cell\n"
    "(halves away from zero); a row's total cost and the total row add up\n"
    "the rounded cells. Text cells beginning with = + - @ TAB or CR get an\n"
    "apostrophe before them, so that spreadsheets show them as text.\n"
    "\n"
    "Exit codes: 0 done, 8 command line not understood (also a --by name no\n"
    "record has), 16 failed, 130 interrupted (Ctrl+C).\n";

struct Options {
  std::vector<std::string> Inputs;
  std::string Output;
  BillOptions Bill;
};

bool ParseArguments(CommandLine& line, Options& options) {
  std::string_view option;
  while (line.NextOption(option)) {
    const std::optional<bool> taken = TakeBillOption(line, option, options.Bill);
    if (!taken) return line.Unknown(option);
    if (!*taken) return false;
  }
  return line.Help() || line.TakeInputsAndOutput("input", options.Inputs, options.Output);
}

int Run(const Options& options) {
  BillFiles files;
  if (auto refused = files.Load(options.Bill)) return Fail(kTool, *refused);
  if (auto unopened = CheckInputs(options.Inputs)) return Fail(kTool, *unopened);
  if (auto refused = CheckOutput(options.Output, options.Bill.Force, BillTable::IsBillHeader, "a bill")) {
    return Fail(kTool, *refused);
  }
  BillTable table(files.Settings(options.Bill));
  try {
    ReadRecordInputs(options.Inputs, [&table](const ResourceRecordView& record) { table.Add(record); });
  } catch (const std::exception& error) {
    return InterruptRequested() ? ReportInterrupted(kTool, options.Output) : Fail(kTool, error.what());
  }
  if (InterruptRequested()) return ReportInterrupted(kTool, options.Output);
  if (const int refused = CheckBillInput(kTool, table); refused != kExitOk) return refused;
  if (const int written = PublishText(kTool, options.Output, table.Csv()); written != kExitOk) return written;
  WarnAboutBill(kTool, table, options.Bill);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  return ToolMain(
      kTool, argc, argv, kHelp.c_str(), [&options](CommandLine& line) { return ParseArguments(line, options); },
      [&options] { return Run(options); }, options.Output);
}
