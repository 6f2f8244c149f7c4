// The field rules of CStringBuilder over byte views: the CSV split, the hash, the
// digit-range integer and the decimal reading. CStringBuilder's members and
// the resource record reader share them; the reader splits into views of its
// line buffer instead of copying every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "record/decimal.h"

namespace quax::agg {

struct FieldView {
  std::uint32_t Offset = 0;
  std::uint32_t Length = 0;
  // The field's bytes in the line it was split from.
  std::string_view In(std::string_view line) const noexcept {
    return std::string_view(line.data() + Offset, Length);
  }
};

// The fields of one line: a growable array reused from line to line (it
// never shrinks, so splitting allocates only for a line with more bytes
// than any before).
class FieldList {
 public:
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const FieldView& operator[](std::size_t i) const noexcept { return data_[i]; }
  void clear() noexcept { size_ = 0; }
  // Room for `count` fields without further allocation.
  void Reserve(std::size_t count) {
    if (count <= capacity_) return;
    std::unique_ptr<FieldView[]> fresh(new FieldView[count]);
    for (std::size_t i = 0; i < size_; ++i) fresh[i] = data_[i];
    data_ = std::move(fresh);
    capacity_ = count;
  }
  // Direct filling after Reserve: write fields into Storage(), then SetSize.
  FieldView* Storage() noexcept { return data_.get(); }
  void SetSize(std::size_t count) noexcept { size_ = count; }

 private:
  std::unique_ptr<FieldView[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Splits a line by the CSVSplit rule: a double quote opens or closes quoting
// (the field restarts after an opening quote and ends before a closing one,
// characters between a closing quote and the next comma are dropped), a
// comma outside quotes ends the field, the last byte ends the last field.
// Where the basic rule says nothing: a line that ends in a closing quote
// or a comma ends its last field before that character (no trailing empty
// field), and a comma at position 0 gives an empty first field.
// `fields` is cleared and refilled; its capacity is reused. Lines longer than
// 4 GiB are not supported (callers bound their lines far below).
void SplitCsvFields(std::string_view line, FieldList& fields);

// What strict reading needs to know of a line beyond its fields: whether
// every double quote stands around a whole field (right after a comma or the
// line's start, right before a comma or its end), which fields (1-based;
// 0: none) are the first and the last so quoted, and whether it holds a
// control character up to CR (NUL and CR among them, TAB too).
struct LineFacts {
  bool QuotesAroundFields = true;
  std::size_t FirstQuotedField = 0;
  std::size_t LastQuotedField = 0;
  bool HoldsLowControl = false;
};
// The same split, also filling `facts`.
void SplitCsvFields(std::string_view line, FieldList& fields, LineFacts& facts);

// A field's text for a message: at most 40 bytes (then "..."), control
// characters shown as "?".
std::string ShownField(std::string_view text);

// HashValue: 1 for empty bytes; else h = b0 + 17, h = (b + 2h) & 0x3FFFFFFF.
std::int32_t HashBytes(std::string_view bytes) noexcept;

// GetLongFromRange over a view: digits accumulate (32-bit, wrapping), a minus
// sign anywhere negates, all else is ignored. The caller checks the range.
inline std::int32_t LongFromDigits(std::string_view bytes) noexcept {
  std::uint32_t v = 0;
  bool negative = false;
  for (const char c : bytes) {
    const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
    if (digit <= 9) {
      v = v * 10u + digit;
    } else if (c == '-') {
      negative = true;
    }
  }
  if (negative) v = 0u - v;
  return static_cast<std::int32_t>(v);
}

// GetDecimal over a view: digits accumulate into an exact decimal, "." marks
// the start of the places, "-" negates, every other byte is ignored; the
// value is then divided by ten once per place (as VarDecDiv does). False
// (out unchanged) when the digits overflow the decimal.
bool DecimalFromDigits(std::string_view bytes, Decimal& out) noexcept;

}  // namespace quax::agg
