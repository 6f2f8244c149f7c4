#include "record/date_text.h"

namespace quax::agg {
namespace {

constexpr std::size_t kDateTextLength = 17;

// A whole number with optional blanks around it and an optional sign
// before the digits.
bool ReadWholeNumber(std::string_view piece, std::int32_t& out) noexcept {
  std::size_t at = 0;
  while (at < piece.size() && piece[at] == ' ') ++at;
  bool negative = false;
  if (at < piece.size() && (piece[at] == '-' || piece[at] == '+')) negative = piece[at++] == '-';
  std::int32_t value = 0;
  std::size_t digits = 0;
  for (; at < piece.size() && piece[at] >= '0' && piece[at] <= '9'; ++at, ++digits) {
    value = value * 10 + (piece[at] - '0');
  }
  while (at < piece.size() && piece[at] == ' ') ++at;
  if (digits == 0 || at != piece.size()) return false;
  out = negative ? -value : value;
  return true;
}

}  // namespace

DateTextResult SplitDateText(std::string_view text, DateTextPieces& out) noexcept {
  if (text.size() < kDateTextLength) return DateTextResult::TooShort;
  DateTextPieces pieces;
  const bool numeric = ReadWholeNumber(text.substr(0, 4), pieces.Year) &&
                       ReadWholeNumber(text.substr(4, 2), pieces.Month) &&
                       ReadWholeNumber(text.substr(6, 2), pieces.Day) &&
                       ReadWholeNumber(text.substr(9, 2), pieces.Hour) &&
                       ReadWholeNumber(text.substr(12, 2), pieces.Minute) &&
                       ReadWholeNumber(text.substr(15, 2), pieces.Second);
  if (!numeric) return DateTextResult::NotNumeric;
  out = pieces;
  return DateTextResult::Split;
}

}  // namespace quax::agg
