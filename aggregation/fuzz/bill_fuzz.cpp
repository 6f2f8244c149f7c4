// quaxbill's input: resource records (read strictly, line by line, as the
// tool reads them), a departments file and a prices file, in sections of
// the input after a byte of options. Properties: the bill's CSV has a
// header, a line per row and a total line, each with a cell per title; and
// the costs add up: a row's total cost is the sum of its cost cells, the
// total row the sum of the rows' cells.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "record/agg_error.h"
#include "record/line_reader.h"
#include "record/resource_file.h"
#include "tools/bill.h"
#include "tools/csv_text.h"

namespace {

using namespace quax::agg;
using namespace quax::agg::tools;
using fuzz::Require;

constexpr std::string_view kSectionEnd = "\n====\n";

std::string_view NextSection(std::string_view& rest) {
  const std::size_t end = rest.find(kSectionEnd);
  const std::string_view section = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + kSectionEnd.size());
  return section;
}

Decimal Number(const std::string& cell) {
  Decimal value;
  Require(Decimal::TryParse(cell, value), "a cost cell is not a number", cell);
  return value;
}

void CheckBill(const BillTable& table) {
  const BillSheet sheet = table.Sheet();
  const std::string csv = sheet.CsvText();
  std::vector<std::vector<std::string>> lines;
  for (std::string_view rest = csv; !rest.empty();) {
    const std::size_t end = rest.find("\r\n");
    Require(end != std::string_view::npos, "a bill line lacks its CR LF", csv);
    std::vector<std::string> cells;
    Require(SplitCsvLine(rest.substr(0, end), cells), "a bill line is not CSV", csv);
    Require(cells.size() == sheet.Titles.size(), "a bill line has another number of cells than titles", csv);
    lines.push_back(std::move(cells));
    rest.remove_prefix(end + 2);
  }
  Require(lines.size() == sheet.Rows.size() + 2, "the bill has another number of lines than rows", csv);
  if (table.Settings().Rates == nullptr) return;
  // Cost columns: after the text and usage columns, the last the row's total.
  const std::size_t firstCost = sheet.TextColumns + table.RateCodes().size();
  for (std::size_t c = firstCost; c < sheet.Titles.size(); ++c) {
    Decimal sum;
    for (std::size_t r = 1; r + 1 < lines.size(); ++r) sum += Number(lines[r][c]);
    Require(sum == Number(lines.back()[c]), "a total cost is not the sum of its rows", csv);
  }
  for (std::size_t r = 1; r < lines.size(); ++r) {
    Decimal rowCost;
    for (std::size_t c = firstCost; c + 1 < sheet.Titles.size(); ++c) rowCost += Number(lines[r][c]);
    Require(rowCost == Number(lines[r].back()), "a row's total cost is not the sum of its costs", csv);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned options = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view records = NextSection(rest);
  const std::string_view departmentsText = NextSection(rest);
  const std::string_view ratesText = NextSection(rest);

  DepartmentMap departments;
  RateTable rates;
  BillSettings settings;
  settings.Period = options % 3 == 0 ? BillPeriod::Day : options % 3 == 1 ? BillPeriod::Month : BillPeriod::Whole;
  settings.Unit = (options & 4) != 0 ? TimeUnit::Seconds : TimeUnit::Hours;
  if ((options & 8) != 0) settings.GroupBy = {"Process", "Machine"};
  if ((options & 16) != 0) {
    if (departments.LoadText(departmentsText, "departments")) return 0;
    settings.Departments = &departments;
  }
  if ((options & 32) != 0) {
    if (rates.LoadText(ratesText, "rates")) return 0;
    settings.Rates = &rates;
  }
  BillTable table(settings);
  fuzz::MemorySource source{records};
  LineReader reader(&fuzz::MemorySource::Read, &source);
  FieldList fields;
  ResourceRecordView record;
  std::string_view line;
  try {
    for (long number = 1; reader.Next(line) == LineReader::Result::Line; ++number) {
      ParseResourceRecordLine(line, number, "records", fields, record, RecordReading::Strict);
      table.Add(record);
    }
    // What quaxbill checks before it writes, and warns about after.
    (void)table.UnknownGroupName();
    (void)table.UnusedRate();
    CheckBill(table);
    (void)table.SeparateCaseVariants();
  } catch (const Error&) {  // quaxbill fails with the message: no bill
  }
  return 0;
}
