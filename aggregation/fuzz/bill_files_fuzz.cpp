// The departments and prices files of a bill, written by hand or by a
// spreadsheet; the first byte chooses which. Properties: of a departments
// file that is accepted, every line's user (any case) finds its line's
// department; of a prices file, every line's code (any case) finds its
// price and per, and the table written back as text loads to the same
// table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "tools/csv_text.h"
#include "tools/departments.h"
#include "tools/rates.h"

namespace {

using namespace quax::agg;
using namespace quax::agg::tools;
using fuzz::Require;

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The lines of an accepted file as ReadCsvText hands them out.
std::vector<std::vector<std::string>> Lines(std::string_view text, const std::vector<std::string_view>& header) {
  std::vector<std::vector<std::string>> lines;
  const auto refused = ReadCsvText(text, "fuzz", header, [&](const std::vector<std::string>& fields, std::int64_t) {
    lines.push_back(fields);
    return std::optional<std::string>();
  });
  Require(!refused, "an accepted file is refused as CSV", refused.value_or(""));
  return lines;
}

void CheckDepartments(std::string_view text) {
  DepartmentMap departments;
  if (departments.LoadText(text, "fuzz")) return;
  for (const std::vector<std::string>& line : Lines(text, {"User", "Department"})) {
    for (const std::string& user : {line[0], AsciiUpper(line[0])}) {
      const std::string* found = departments.Find(user);
      Require(found && *found == line[1], "a user of the file does not find its department", user);
    }
  }
}

void CheckRates(std::string_view text) {
  RateTable rates;
  if (rates.LoadText(text, "fuzz")) return;
  const auto lines = Lines(text, {"RateCode", "Price", "Per"});
  Require(lines.size() == rates.Rates().size(), "the table holds another number of rates than the file");
  // Under its header: a first line's leading UTF-8 mark would be taken for
  // the file's.
  std::string written = "RateCode,Price,Per\r\n";
  for (const std::vector<std::string>& line : lines) {
    for (const std::string& code : {line[0], AsciiUpper(line[0])}) {
      const Rate* rate = rates.Find(code);
      Require(rate && rate->Code == line[0], "a code of the file does not find its rate", code);
    }
    const Rate& rate = *rates.Find(line[0]);
    written += CsvField(rate.Code) + "," + rate.Price.ToString() + "," + rate.Per.ToString() + "\r\n";
  }
  RateTable again;
  const auto refused = again.LoadText(written, "fuzz");
  Require(!refused, "the table written back is refused", refused.value_or("") + "\n" + written);
  Require(again.Rates().size() == rates.Rates().size(), "the table written back holds other rates", written);
  for (std::size_t i = 0; i < rates.Rates().size(); ++i) {
    const Rate& a = rates.Rates()[i];
    const Rate& b = again.Rates()[i];
    Require(a.Code == b.Code && a.Price.IdenticalTo(b.Price) && a.Per.IdenticalTo(b.Per),
            "a rate written back reads as another", written);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((data[0] & 1) != 0) {
    CheckRates(text);
  } else {
    CheckDepartments(text);
  }
  return 0;
}
