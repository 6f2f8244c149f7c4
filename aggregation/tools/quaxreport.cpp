// quaxreport: turns resource records (quaxaggregate's output) into one
// self-contained HTML page: the bill as quaxbill makes it, charts, the
// change against a previous period, the machines' coverage and what to
// check. Exit codes: 0 done, 8 the command line was not understood, 16
// failed, 130 interrupted; OUTPUT changes only on 0.
#include <algorithm>
#include <ctime>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "tools/bill_command.h"
#include "tools/report.h"
#include "tools/tool_support.h"

namespace {

using namespace quax::agg;
using namespace quax::agg::tools;

constexpr const char* kTool = "quaxreport";

const std::string kHelp = std::string(
    "Usage: quaxreport [options] RECORDS... OUTPUT\n"
    "\n"
    "Writes one HTML page about resource records (as quaxaggregate writes\n"
    "them, best keeping Machine, User, Project and Process per day): the\n"
    "bill exactly as quaxbill makes it with the same options, usage per day,\n"
    "the largest departments, users, projects and programs, CPU against\n"
    "elapsed time per project, the change against a previous period, the\n"
    "days each machine sent records, and things to check. The page holds its\n"
    "style and charts; it loads nothing and runs no script. \"-\" as RECORDS\n"
    "reads standard input, as OUTPUT writes standard output.\n"
    "\n"
    "Options:\n") +
    kBillOptionsHelp +
    "  --top N                   names shown in each ranking before \"others\"\n"
    "                            (default 10, at most 100)\n"
    "  --title TEXT              the page's title\n"
    "  --previous RECORDS        the previous period's records, for the change\n"
    "  --force                   replace an OUTPUT that is not a report\n"
    "  --help                    show this text\n"
    "\n"
    "Exit codes: 0 done, 8 command line not understood (also a --by name no\n"
    "record has), 16 failed, 130 interrupted (Ctrl+C).\n";

struct Options {
  std::vector<std::string> Inputs;
  std::string Output;
  BillOptions Bill;
  std::size_t Top = Report::kDefaultTop;
  std::string Title = Report::kDefaultTitle;
  std::string Previous;
};

bool ParseArguments(CommandLine& line, Options& options) {
  std::string_view option;
  std::string_view text;
  while (line.NextOption(option)) {
    if (const std::optional<bool> taken = TakeBillOption(line, option, options.Bill)) {
      if (!*taken) return false;
    } else if (option == "--top") {
      if (!line.Value(text)) return false;
      const bool digits = !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string_view::npos;
      const std::size_t top = digits ? std::stoul(std::string(text)) : 0;
      if (top < 1 || top > Report::kMaxTop) return line.Refuse("--top wants a number from 1 to 100");
      options.Top = top;
    } else if (option == "--title") {
      if (!line.Value(text)) return false;
      options.Title = text;
    } else if (option == "--previous") {
      if (!line.Value(text)) return false;
      options.Previous = text;
    } else {
      return line.Unknown(option);
    }
  }
  if (line.Help()) return true;
  if (!line.TakeInputsAndOutput("input", options.Inputs, options.Output)) return false;
  if (IsStandardStream(options.Previous) && std::ranges::any_of(options.Inputs, IsStandardStream)) {
    return line.Refuse("standard input (-) can be read only once");
  }
  if (!options.Previous.empty() && !IsStandardStream(options.Output) && SameFile(options.Previous, options.Output)) {
    return line.Refuse(options.Output + " is both the previous input and the output");
  }
  return true;
}

std::string LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  // The tool runs one thread: localtime's shared result is safe here.
  const std::tm* local = std::localtime(&now);
  char text[32];
  return local && std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local) ? text : "";
}

bool IsReport(std::string_view firstLine) { return firstLine == kReportFirstLine; }

int Run(const Options& options) {
  BillFiles files;
  if (auto refused = files.Load(options.Bill)) return Fail(kTool, *refused);
  std::vector<std::string> inputs = options.Inputs;
  if (!options.Previous.empty()) inputs.push_back(options.Previous);
  if (auto unopened = CheckInputs(inputs)) return Fail(kTool, *unopened);
  if (auto refused = CheckOutput(options.Output, options.Bill.Force, IsReport, "a report")) return Fail(kTool, *refused);
  Report report(files.Settings(options.Bill), options.Top);
  try {
    ReadRecordInputs(options.Inputs, [&report](const ResourceRecordView& record) { report.Add(record); });
    if (!options.Previous.empty() && !InterruptRequested()) {
      ReadRecordInputs({options.Previous}, [&report](const ResourceRecordView& record) { report.AddPrevious(record); });
    }
  } catch (const std::exception& error) {
    return InterruptRequested() ? ReportInterrupted(kTool, options.Output) : Fail(kTool, error.what());
  }
  if (InterruptRequested()) return ReportInterrupted(kTool, options.Output);
  if (const int refused = CheckBillInput(kTool, report.Table()); refused != kExitOk) return refused;
  return PublishText(kTool, options.Output,
                     report.Html(ReportFacts{options.Title, options.Inputs, options.Previous, LocalTimeNow()}));
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  return ToolMain(
      kTool, argc, argv, kHelp.c_str(), [&options](CommandLine& line) { return ParseArguments(line, options); },
      [&options] { return Run(options); }, options.Output);
}
