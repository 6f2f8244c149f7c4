#include "tools/bill_command.h"

#include <algorithm>
#include <cstdio>

namespace quax::agg::tools {

namespace {

std::vector<std::string> SplitNames(std::string_view text) {
  std::vector<std::string> names;
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    names.emplace_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) return names;
    start = comma + 1;
  }
}

void Warn(std::string_view tool, const std::string& text) {
  std::fprintf(stderr, "%.*s: warning: %s\n", static_cast<int>(tool.size()), tool.data(), text.c_str());
}

}  // namespace

const char* const kBillOptionsHelp =
    "  --period day|month|whole  the rows' period (default month)\n"
    "  --by NAME[,NAME...]       the identifiers a row is for (default User,Project;\n"
    "                            Department,User,Project with --departments)\n"
    "  --departments FILE        CSV of User,Department (DOMAIN\\* for a whole\n"
    "                            domain); adds the grouping name Department\n"
    "  --rates FILE              CSV of RateCode,Price,Per: a cost column per\n"
    "                            priced rate code and a total cost column\n"
    "  --unit hours|seconds      unit of the CPU, kernel, user and elapsed time\n"
    "                            columns (default hours, 4 decimals; seconds 2)\n";

std::optional<bool> TakeBillOption(CommandLine& line, std::string_view option, BillOptions& options) {
  std::string_view text;
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
  } else if (option == "--unit") {
    if (!line.Value(text)) return false;
    if (text == "hours") options.Unit = TimeUnit::Hours;
    else if (text == "seconds") options.Unit = TimeUnit::Seconds;
    else return line.Refuse("--unit wants hours or seconds");
  } else if (option == "--departments" || option == "--rates") {
    if (!line.Value(text)) return false;
    (option == "--rates" ? options.RatesFile : options.DepartmentsFile) = text;
  } else {
    return std::nullopt;
  }
  return true;
}

std::optional<std::string> BillFiles::Load(const BillOptions& options) {
  if (!options.DepartmentsFile.empty()) {
    if (auto refused = departments_.emplace().Load(options.DepartmentsFile)) return refused;
  }
  if (!options.RatesFile.empty()) {
    if (auto refused = rates_.emplace().Load(options.RatesFile)) return refused;
  }
  return std::nullopt;
}

BillSettings BillFiles::Settings(const BillOptions& options) const {
  return BillSettings{options.Period, options.GroupBy, options.Unit, departments_ ? &*departments_ : nullptr,
                      rates_ ? &*rates_ : nullptr};
}

int CheckBillInput(std::string_view tool, const BillTable& table) {
  if (auto unknown = table.UnknownGroupName()) {
    std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(tool.size()), tool.data(), unknown->c_str());
    return kExitUsage;
  }
  if (auto unused = table.UnusedRate()) return Fail(tool, *unused);
  return kExitOk;
}

int PublishText(std::string_view tool, const std::string& output, std::string_view text) {
  std::string message;
  StagedOutput staged(output, "");
  platform::File file;
  platform::FileError error;
  if (!staged.Create(false, message)) return Fail(tool, message);
  if (!file.Open(staged.Path(), platform::OpenMode::Write, error) || !file.Write(text.data(), text.size(), error)) {
    return Fail(tool, "Unable to write '" + output + "': " + error.Text());
  }
  file.Close();
  if (staged.Publish(message)) return kExitOk;
  return InterruptRequested() ? ReportInterrupted(tool, output) : Fail(tool, message);
}

void WarnAboutBill(std::string_view tool, BillTable& table, const BillOptions& options) {
  if (table.ExcludedRecords() > 0) {
    Warn(tool, std::to_string(table.ExcludedRecords()) +
                   " EXCLUDED records (usage of accounts the converter leaves out of billing) are not billed");
  }
  const std::vector<std::string> unassigned = table.Names().UnassignedUsers();
  if (!options.DepartmentsFile.empty() && !unassigned.empty()) {
    std::string text = unassigned.size() == 1 ? std::string("1 user is")
                                              : std::to_string(unassigned.size()) + " users are";
    text += " in no department of '" + options.DepartmentsFile + "' and billed as " + DepartmentMap::kUnassigned + ":";
    for (const std::string& user : unassigned) text += "\n  " + (user.empty() ? std::string("(records without a user)") : user);
    Warn(tool, text);
  }
  for (const auto& variants : table.SeparateCaseVariants()) {
    std::string text = "names that differ only in case are billed apart:";
    for (const std::string& name : variants) text += " '" + name + "'";
    Warn(tool, text);
  }
}

}  // namespace quax::agg::tools
