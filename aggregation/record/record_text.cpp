#include "record/record_text.h"

#include <cstdint>
#include <cstring>

#include "record/field_parsing.h"

namespace quax::agg {
namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

bool Unholdable(char c, bool quoted) noexcept {
  return c == '"' || c == '\r' || c == '\n' || c == '\0' || (!quoted && c == ',');
}

std::string Reason(char c) {
  switch (c) {
    case '"': return "holds a double quote";
    case ',': return "holds a comma";
    case '\0': return "holds a NUL character";
    default: return "holds a line end";
  }
}

std::optional<std::string> Verdict(std::string_view text, RecordText kind) {
  const std::size_t at = FindUnholdableByte(text, kind);
  if (at == std::string_view::npos) return std::nullopt;
  return Reason(text[at]);
}

}  // namespace

const char* RecordTextName(RecordText kind) noexcept {
  switch (kind) {
    case RecordText::Header: return "record header";
    case RecordText::FreeText: return "free-text field";
    case RecordText::IdentifierName: return "identifier name";
    case RecordText::IdentifierValue: return "identifier value";
    case RecordText::RateCode: return "rate code";
  }
  return "text";
}

std::size_t FindUnholdableByte(std::string_view text, RecordText kind) noexcept {
  const bool quoted = IsQuotedText(kind);
  const char* bytes = text.data();
  const std::size_t n = text.size();
  // Every byte the rule refuses lies below '-' (0x2D): words of eight bytes
  // without such a byte are passed at once (the last word overlaps the one
  // before); texts with one are looked at byte by byte.
  bool below = n < 8;
  for (std::size_t i = 0; !below && i < n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + (i + 8 <= n ? i : n - 8), 8);
    below = ((word - kOnes * 0x2D) & ~word & kHighs) != 0;
  }
  if (!below) return std::string_view::npos;
  for (std::size_t i = 0; i < n; ++i) {
    if (Unholdable(bytes[i], quoted)) return i;
  }
  return std::string_view::npos;
}

std::optional<std::string> UnwritableText(std::string_view text, RecordText kind) {
  if (IsQuotedText(kind) && !text.empty()) {
    // A lone quote would be written as it is: one quote, never closed.
    if (text.size() == 1 && text.front() == '"') return Reason('"');
    if (text.front() == '"') text.remove_prefix(1);
    if (!text.empty() && text.back() == '"') text.remove_suffix(1);
  }
  return Verdict(text, kind);
}

std::optional<std::string> UnreadableField(std::string_view raw, RecordText kind) {
  if (IsQuotedText(kind) && raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
    raw = raw.substr(1, raw.size() - 2);
  }
  return Verdict(raw, kind);
}

std::string RecordTextFaultText(RecordText kind, std::string_view text, const std::string& reason,
                                std::string_view where) {
  return std::string("the ") + RecordTextName(kind) + " '" + ShownField(text) + "'" + std::string(where) + " " +
         reason + ", which a resource record cannot hold";
}

}  // namespace quax::agg
