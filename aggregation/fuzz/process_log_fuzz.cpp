// The process-log converter over one whole log, header record included, as
// the collectors write it or damaged. Property: every record the converter
// writes, strict reading accepts and reads back to what was billed, and a
// run that bills no line twice or drops none without saying so: the report
// is complete or names what it left out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "record/agg_error.h"
#include "record/line_reader.h"
#include "record/resource_file.h"
#include "tools/log_conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quax::agg;
  using namespace quax::agg::tools;
  using fuzz::Require;
  if (size == 0) return 0;
  // The first byte chooses the options: the default exclusions or none.
  LogConverter::Options options;
  if ((data[0] & 1) != 0) options.ExcludedUsers = kDefaultExcludedUsers;
  fuzz::MemorySource source{std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1)};
  LineReader reader(&fuzz::MemorySource::Read, &source);

  BilledRecordFields fields;
  FieldList split;
  ResourceRecord readBack;
  std::int64_t written = 0;
  LogConverter converter(
      [&](const BilledRecord& record) {
        fields.Take(record);
        std::string line;
        AppendRecordLine(line, fields.Header(), record.Start, record.End, "", BilledRecordFields::IdentifierNames(),
                         fields.IdentifierValues(), BilledRecordFields::RateCodes(), fields.Figures());
        ++written;
        Require(!line.empty(), "the converter billed a record of no usage");
        Require(line.ends_with("\r\n"), "a written line lacks its CR LF", line);
        try {
          ParseResourceRecordLine(std::string_view(line).substr(0, line.size() - 2), written, "fuzz", split, readBack,
                                  RecordReading::Strict);
        } catch (const RecordError& error) {
          fuzz::PropertyFailed("strict reading refuses what the converter wrote",
                               std::string(error.what()) + "\n" + line);
        }
        Require(readBack.Header == fields.Header(), "the header read back differs", line);
        for (std::size_t i = 0; i < fields.IdentifierValues().size(); ++i) {
          Require(readBack.IdentifierValues[i] == fields.IdentifierValues()[i], "an identifier read back differs",
                  line);
        }
        for (std::size_t j = 0; j < fields.Figures().size(); ++j) {
          Require(readBack.ResourceValues[j] == fields.Figures()[j], "a figure read back differs", line);
        }
      },
      options);
  const LogConverter::LineSource nextLine = [&reader](std::string_view& line, bool& ended) {
    if (reader.Next(line) != LineReader::Result::Line) return false;
    ended = reader.LastLineEnded();
    return true;
  };
  std::string message;
  if (!converter.AddLog("fuzz.log", nextLine, message)) {
    Require(!message.empty(), "a log refused without a message");
    return 0;
  }
  converter.Finish();
  const ConversionReport& report = converter.Report();
  Require(report.RecordsWritten + report.RecordsExcluded == written,
          "the report counts other records than were written",
          std::to_string(report.RecordsWritten) + " + " + std::to_string(report.RecordsExcluded) + " vs " +
              std::to_string(written));
  Require(report.LinesNotBilled == static_cast<std::int64_t>(report.NotBilled.size()),
          "the report counts other lines not billed than it lists");
  return 0;
}
