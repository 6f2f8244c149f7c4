// What quaxbill and quaxreport share on their command lines: the options of
// a bill, the departments and prices files they name, and the warnings about
// what a bill holds.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/bill.h"
#include "tools/tool_support.h"

namespace quax::agg::tools {

struct BillOptions {
  BillPeriod Period = BillPeriod::Month;
  std::vector<std::string> GroupBy;  // empty: the default
  TimeUnit Unit = TimeUnit::Hours;
  std::string DepartmentsFile;
  std::string RatesFile;
  bool Force = false;
};

// The help text of these options.
extern const char* const kBillOptionsHelp;

// Takes `option` when it is one of a bill's: nothing when it is not, else
// whether it was understood (told on standard error when not).
std::optional<bool> TakeBillOption(CommandLine& line, std::string_view option, BillOptions& options);

// The departments and prices files the options name, read before any work.
class BillFiles {
 public:
  // The message naming the file and line not understood, or nothing.
  std::optional<std::string> Load(const BillOptions& options);
  BillSettings Settings(const BillOptions& options) const;

 private:
  std::optional<DepartmentMap> departments_;
  std::optional<RateTable> rates_;
};

// After the input: the exit code for a --by name no record has (8) or a
// priced rate code no record has (16), told on standard error; 0 otherwise.
int CheckBillInput(std::string_view tool, const BillTable& table);

// Writes `text` as OUTPUT through a staged file: 0, or the exit code of a
// failure or Ctrl+C, told on standard error (OUTPUT is then as it was).
int PublishText(std::string_view tool, const std::string& output, std::string_view text);

// Warnings on standard error: records not billed as EXCLUDED, users billed
// as (unassigned), group values that differ only in case and are billed
// apart.
void WarnAboutBill(std::string_view tool, BillTable& table, const BillOptions& options);

}  // namespace quax::agg::tools
