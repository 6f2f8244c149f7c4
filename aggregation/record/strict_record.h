// Strict reading of resource record lines. The forgiving reading takes
// whatever digits a field holds (2026-12-01 becomes a date in 2025, 25:00:00
// the next day, 1e3 the value 13), which is right for clients that rely on
// it but silently changes data a person typed. Strict reading refuses every
// field that the forgiving reading would change: callers that want it ask
// the reader for it (CResourceFile::SetStrictReading).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "record/field_parsing.h"

namespace quax::agg {

// YYYYMMDD: eight digits naming a day of the calendar in the years 100 to 9999.
bool IsCalendarDate(std::string_view text) noexcept;
// HH:MM:SS between 00:00:00 and 23:59:59.
bool IsTimeOfDay(std::string_view text) noexcept;
// A plain decimal number: an optional minus sign, digits, and at most one
// point with digits on at least one side (12, -0.25, .5, 3.). No exponent,
// no grouping, no blanks.
bool IsPlainDecimal(std::string_view text) noexcept;
// A count: one to nine digits.
bool IsPlainCount(std::string_view text) noexcept;

// The first field of a split record line that strict reading refuses.
struct FieldFault {
  std::size_t Field = 0;  // 1-based
  std::string Reason;     // names the field's part and shows its text
};

// Looks through a line split into `fields`: the field count, dates, times,
// the two counts, the text fields (record/record_text.h: a quote inside a
// quoted value, a comma or quote in the header or a rate code, a CR or a NUL
// anywhere), every resource value, and that the line has exactly the fields
// its counts announce.
std::optional<FieldFault> FindStrictFault(std::string_view line, const FieldList& fields);
// The same for a line split with its facts, taking the fast path for good lines.
std::optional<FieldFault> FindStrictFault(std::string_view line, const FieldList& fields,
                                          const LineFacts& facts);

}  // namespace quax::agg
