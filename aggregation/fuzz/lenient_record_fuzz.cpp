// Lenient reading: arbitrary bytes through the line reader (in chunks of a
// size the input chooses, so that lines cross buffer edges), the CSV split
// (views and builders), the record line parser and the field parsers. The
// only allowed failure is the library's exception; sanitizers catch the
// rest. Property: every line strict reading accepts, lenient reading reads
// to the same record, and the two splits give the same fields.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "record/agg_error.h"
#include "record/field_parsing.h"
#include "record/line_reader.h"
#include "record/resource_file.h"
#include "record/string_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quax::agg;
  using fuzz::Require;
  if (size == 0) return 0;
  const std::size_t chunk = 1 + data[0] % 64;
  fuzz::MemorySource source{std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), chunk};
  LineReader reader(&fuzz::MemorySource::Read, &source);
  FieldList views;
  std::vector<CStringBuilder> builders(4);
  ResourceRecord lenient;
  ResourceRecord strict;
  std::string_view line;
  long number = 0;
  while (reader.Next(line) == LineReader::Result::Line) {
    ++number;
    bool lenientRead = false;
    try {
      ParseResourceRecordLine(line, number, "fuzz", views, lenient);
      lenientRead = true;
    } catch (const RecordError&) {
    }
    try {
      ParseResourceRecordLine(line, number, "fuzz", views, strict, RecordReading::Strict);
      Require(lenientRead, "a line strict reading accepts is refused by lenient reading", line);
      const std::string difference = fuzz::RecordDifference(
          strict, lenient, [](const Decimal& a, const Decimal& b) { return a.IdenticalTo(b); });
      Require(difference.empty(), "lenient and strict reading read different records", difference);
    } catch (const RecordError&) {
    }
    CStringBuilder builder;
    builder.SetValue(line);
    builder.CSVSplit(builders);
    SplitCsvFields(line, views);
    FieldList withFacts;
    LineFacts facts;
    SplitCsvFields(line, withFacts, facts);
    Require(views.size() == builders.size() && views.size() == withFacts.size(), "the splits differ in field count",
            line);
    for (std::size_t k = 0; k < views.size(); ++k) {
      Require(views[k].In(line) == builders[k].View() && views[k].In(line) == withFacts[k].In(line),
              "the splits differ in a field", line);
      try {
        (void)builders[k].GetDecimal();
      } catch (const DecimalOverflow&) {
      }
      (void)builders[k].GetLong();
      (void)builders[k].HashValue();
      try {
        (void)builders[k].GetDate();
      } catch (const Error&) {
      }
    }
    Decimal parsed;
    (void)Decimal::TryParse(line, parsed);
  }
  return 0;
}
