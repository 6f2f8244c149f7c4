// libFuzzer target: arbitrary bytes through the line reader (in chunks of a
// size the input chooses, so that lines cross buffer edges), the CSV split
// (views and builders), the record line parser and the field parsers. The
// only allowed failure is the library's exception; sanitizers catch the rest.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "record/agg_error.h"
#include "record/field_parsing.h"
#include "record/line_reader.h"
#include "record/resource_file.h"
#include "record/string_builder.h"

namespace {

struct MemorySource {
  const char* data;
  std::size_t size;
  std::size_t chunk;
  std::size_t at = 0;
  static std::ptrdiff_t Read(void* context, char* buffer, std::size_t room) {
    auto* self = static_cast<MemorySource*>(context);
    const std::size_t n = std::min({room, self->chunk, self->size - self->at});
    if (n > 0) std::memcpy(buffer, self->data + self->at, n);
    self->at += n;
    return static_cast<std::ptrdiff_t>(n);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quax::agg;
  if (size == 0) return 0;
  const std::size_t chunk = 1 + data[0] % 64;
  MemorySource source{reinterpret_cast<const char*>(data) + 1, size - 1, chunk};
  LineReader reader(&MemorySource::Read, &source);
  FieldList views;
  std::vector<CStringBuilder> builders(4);
  ResourceRecord record;
  std::string_view line;
  long number = 0;
  while (reader.Next(line) == LineReader::Result::Line) {
    ++number;
    try {
      ParseResourceRecordLine(line, number, "fuzz", views, record);
    } catch (const RecordError&) {
    }
    CStringBuilder builder;
    builder.SetValue(line);
    builder.CSVSplit(builders);
    SplitCsvFields(line, views);
    if (views.size() != builders.size()) __builtin_trap();
    for (std::size_t k = 0; k < views.size(); ++k) {
      if (views[k].In(line) != builders[k].View()) __builtin_trap();
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
