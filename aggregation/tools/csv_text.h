// CSV text of the bill and of the small CSV files administrators write
// (departments, prices).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quax::agg::tools {

// Text that a spreadsheet would take for a formula or trim (it begins with
// "=", "+", "-", "@", TAB or CR) with an apostrophe before it, the usual
// spreadsheet mark of a text cell; any other text as it is.
std::string SpreadsheetSafeText(std::string_view text);

// A CSV field: as it is, or in double quotes (quotes doubled) when it holds
// a comma, a quote or a line end.
std::string CsvField(std::string_view text);

// A text cell of the bill: SpreadsheetSafeText, then CsvField.
std::string CsvTextCell(std::string_view text);

// Splits one CSV line: fields separated by commas, a field in double quotes
// may hold commas and doubled quotes. Surrounding blanks of unquoted fields
// are removed. False (fields unchanged) when a quote stands inside an
// unquoted field, a quoted field is not closed or text follows its closing
// quote.
bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields);

// The message about a line of a file an administrator wrote:
// "'FILE' line N: WHAT".
std::string FileLineMessage(std::string_view fileName, std::int64_t lineNumber, std::string_view what);

// Takes the fields of one line of a small CSV file; a message refuses the
// line (FileLineMessage names it).
using CsvLineTaker =
    std::function<std::optional<std::string>(const std::vector<std::string>& fields, std::int64_t lineNumber)>;

// Reads a small CSV file written by hand or by a spreadsheet, line by line:
// a UTF-8 mark, empty lines and a first line that equals `header` (ignoring
// case) are skipped, every other line goes to `take` split by SplitCsvLine.
// Answers the message of the first line refused (malformed quotes are
// refused here), or of a file that cannot be read.
std::optional<std::string> ReadCsvFile(const std::string& fileName, const std::vector<std::string_view>& header,
                                       const CsvLineTaker& take);
// The same over text in memory, lines ending in LF or CR LF.
std::optional<std::string> ReadCsvText(std::string_view text, std::string_view fileName,
                                       const std::vector<std::string_view>& header, const CsvLineTaker& take);

}  // namespace quax::agg::tools
