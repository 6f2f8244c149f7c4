#include "tools/csv_text.h"

#include <algorithm>

#include "record/agg_error.h"
#include "tools/tool_support.h"

namespace quax::agg::tools {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  return first == std::string_view::npos ? std::string_view() : text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::optional<std::string> ReadCsvLine(std::string_view line, std::int64_t lineNumber, std::string_view fileName,
                                       const std::vector<std::string_view>& header, const CsvLineTaker& take) {
  if (lineNumber == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
  std::vector<std::string> fields;
  if (!SplitCsvLine(line, fields)) return FileLineMessage(fileName, lineNumber, "a quote is misplaced or not closed");
  if (fields.size() == 1 && fields[0].empty()) return std::nullopt;
  if (lineNumber == 1 && fields.size() == header.size() &&
      std::ranges::equal(fields, header, [](const std::string& a, std::string_view b) { return SameNameIgnoringCase(a, b); })) {
    return std::nullopt;
  }
  return take(fields, lineNumber);
}

}  // namespace

std::string FileLineMessage(std::string_view fileName, std::int64_t lineNumber, std::string_view what) {
  return "'" + std::string(fileName) + "' line " + std::to_string(lineNumber) + ": " + std::string(what);
}

std::optional<std::string> ReadCsvFile(const std::string& fileName, const std::vector<std::string_view>& header,
                                       const CsvLineTaker& take) {
  LineInput input;
  std::string message;
  if (!input.Open(fileName, message)) return message;
  try {
    std::string_view line;
    while (input.Next(line)) {
      if (auto refused = ReadCsvLine(line, input.LineNumber(), fileName, header, take)) return refused;
    }
  } catch (const Error& error) {
    return std::string(error.what());
  }
  return std::nullopt;
}

std::optional<std::string> ReadCsvText(std::string_view text, std::string_view fileName,
                                       const std::vector<std::string_view>& header, const CsvLineTaker& take) {
  std::int64_t lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (auto refused = ReadCsvLine(line, ++lineNumber, fileName, header, take)) return refused;
  }
  return std::nullopt;
}

std::string SpreadsheetSafeText(std::string_view text) {
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
    return "'" + std::string(text);
  }
  return std::string(text);
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string CsvTextCell(std::string_view text) { return CsvField(SpreadsheetSafeText(text)); }

bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields) {
  std::vector<std::string> split;
  std::size_t at = 0;
  for (;;) {
    // Blanks before an opening quote belong to no field.
    std::size_t start = at;
    while (start < line.size() && kBlanks.find(line[start]) != std::string_view::npos) ++start;
    std::string field;
    if (start < line.size() && line[start] == '"') {
      std::size_t i = start + 1;
      for (;; ++i) {
        if (i >= line.size()) return false;  // not closed
        if (line[i] != '"') {
          field += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          break;
        }
      }
      std::size_t next = i + 1;
      while (next < line.size() && kBlanks.find(line[next]) != std::string_view::npos) ++next;
      if (next < line.size() && line[next] != ',') return false;  // text after the closing quote
      at = next;
    } else {
      const std::size_t comma = std::min(line.find(',', at), line.size());
      const std::string_view text = line.substr(at, comma - at);
      if (text.find('"') != std::string_view::npos) return false;
      field = Trimmed(text);
      at = comma;
    }
    split.push_back(std::move(field));
    if (at >= line.size()) break;
    ++at;  // the comma
  }
  fields = std::move(split);
  return true;
}


}  // namespace quax::agg::tools
