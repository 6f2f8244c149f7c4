// Strict reading of resource record lines, line by line as a file gives
// them. Property: whatever strict reading accepts, the writer writes as a
// line that strict reading reads back to the same record (values with more
// than six places rounded to six, as the writer writes them), and that
// record written again reads back the same.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "record/agg_error.h"
#include "record/line_reader.h"
#include "record/resource_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quax::agg;
  using fuzz::Require;
  fuzz::MemorySource source{std::string_view(reinterpret_cast<const char*>(data), size)};
  LineReader reader(&fuzz::MemorySource::Read, &source);
  FieldList fields;
  ResourceRecord read;
  ResourceRecord readBack;
  std::string_view line;
  for (long number = 1; reader.Next(line) == LineReader::Result::Line; ++number) {
    try {
      ParseResourceRecordLine(line, number, "fuzz", fields, read, RecordReading::Strict);
    } catch (const RecordError&) {
      continue;
    }
    std::string written;
    AppendRecordLine(written, read);
    if (written.empty()) continue;  // every value zero: no line
    Require(written.ends_with("\r\n"), "a written line lacks its CR LF", written);
    const std::string_view writtenLine(written.data(), written.size() - 2);
    Require(writtenLine.find_first_of("\r\n") == std::string_view::npos, "a written line holds a line end", written);
    try {
      ParseResourceRecordLine(writtenLine, number, "fuzz", fields, readBack, RecordReading::Strict);
    } catch (const RecordError& error) {
      fuzz::PropertyFailed("strict reading refuses what the writer wrote", std::string(error.what()) + "\n" + written);
    }
    const std::string difference =
        fuzz::RecordDifference(read, readBack, [](const Decimal& original, const Decimal& back) {
          return back == (original.HasFraction() ? original.RoundHalfAwayFromZero(6) : original);
        });
    Require(difference.empty(), "the record read back differs", difference + "\n" + written);
    // Written again, the record read back gives a line that reads back to
    // it. Not always the same text: 7.0000001 is written as 7.000000, which
    // is written again as 7; and a record of only values below the sixth
    // place (written as 0.000000) is not written again at all.
    std::string again;
    AppendRecordLine(again, readBack);
    if (again.empty()) {
      Require(std::ranges::all_of(readBack.ResourceValues, [](const Decimal& v) { return v.IsZero(); }),
              "the record read back is not written again", written);
      continue;
    }
    ResourceRecord readAgain;
    try {
      ParseResourceRecordLine(std::string_view(again).substr(0, again.size() - 2), number, "fuzz", fields, readAgain,
                              RecordReading::Strict);
    } catch (const RecordError& error) {
      fuzz::PropertyFailed("strict reading refuses the record written again", std::string(error.what()) + "\n" + again);
    }
    Require(fuzz::RecordDifference(readBack, readAgain, [](const Decimal& a, const Decimal& b) { return a == b; })
                .empty(),
            "the record written again reads back as another", written + again);
  }
  return 0;
}
