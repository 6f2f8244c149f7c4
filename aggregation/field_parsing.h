// The field rules of Part 3.6 over byte views: the CSV split, the hash, the
// digit-range integer and the decimal reading. CStringBuilder's members and
// the resource record reader share them; the reader splits into views of its
// line buffer instead of copying every field.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "decimal.h"

namespace quax::agg {

struct FieldView {
  std::uint32_t Offset = 0;
  std::uint32_t Length = 0;
  std::string_view In(std::string_view line) const noexcept {
    return line.substr(Offset, Length);
  }
};

// Splits a line by the CSVSplit rule: a double quote opens or closes quoting
// (the field restarts after an opening quote and ends before a closing one,
// characters between a closing quote and the next comma are dropped), a
// comma outside quotes ends the field, the last byte ends the last field.
// For the cases the design leaves open: a line that ends in a closing quote
// or a comma ends its last field before that character (no trailing empty
// field), and a comma at position 0 gives an empty first field.
// `fields` is cleared and refilled; its capacity is reused. Lines longer than
// 4 GiB are not supported (callers bound their lines far below).
void SplitCsvFields(std::string_view line, std::vector<FieldView>& fields);

// HashValue: 1 for empty bytes; else h = b0 + 17, h = (b + 2h) & 0x3FFFFFFF.
std::int32_t HashBytes(std::string_view bytes) noexcept;

// GetLongFromRange over a view: digits accumulate (32-bit, wrapping), a minus
// sign anywhere negates, all else is ignored. The caller checks the range.
std::int32_t LongFromDigits(std::string_view bytes) noexcept;

// GetDecimal over a view: digits accumulate into an exact decimal, "." marks
// the start of the places, "-" negates, every other byte is ignored; the
// value is then divided by ten once per place (as VarDecDiv does). False
// (out unchanged) when the digits overflow the decimal.
bool DecimalFromDigits(std::string_view bytes, Decimal& out) noexcept;

}  // namespace quax::agg
