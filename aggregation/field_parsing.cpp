#include "field_parsing.h"

namespace quax::agg {

void SplitCsvFields(std::string_view line, std::vector<FieldView>& fields) {
  fields.clear();
  const std::size_t length = line.size();
  if (length == 0) return;
  const char* bytes = line.data();
  const std::int64_t last = static_cast<std::int64_t>(length) - 1;
  bool inQuotes = false;
  std::int64_t start = 0;
  std::int64_t end = -1;
  for (std::int64_t i = 0; i <= last; ++i) {
    const char ch = bytes[i];
    bool ends = false;
    bool separatorEnds = false;
    if (ch == '"') {
      if (inQuotes) {
        inQuotes = false;
        end = i - 1;
        separatorEnds = i == last;  // a closing quote ends the line
      } else {
        inQuotes = true;
        start = i + 1;
      }
    } else if (ch == ',' && !inQuotes) {
      ends = true;
      separatorEnds = true;
      if (end < 0) end = i - 1;
    }
    if (i == last) ends = true;
    if (!ends) continue;
    if (end < 0 && !separatorEnds) end = i;
    FieldView field;
    if (end >= start) {
      field.Offset = static_cast<std::uint32_t>(start);
      field.Length = static_cast<std::uint32_t>(end - start + 1);
    }
    fields.push_back(field);
    start = i + 1;
    end = -1;
  }
}

std::int32_t HashBytes(std::string_view bytes) noexcept {
  if (bytes.empty()) return 1;
  std::uint32_t h = static_cast<std::uint8_t>(bytes[0]) + 17u;
  for (std::size_t i = 1; i < bytes.size(); ++i) {
    h = (static_cast<std::uint8_t>(bytes[i]) + 2u * h) & 0x3FFFFFFFu;
  }
  return static_cast<std::int32_t>(h);
}

std::int32_t LongFromDigits(std::string_view bytes) noexcept {
  std::uint32_t v = 0;
  bool negative = false;
  for (const char c : bytes) {
    if (c >= '0' && c <= '9') {
      v = v * 10u + static_cast<std::uint32_t>(c - '0');
    } else if (c == '-') {
      negative = true;
    }
  }
  if (negative) v = 0u - v;
  return static_cast<std::int32_t>(v);
}

bool DecimalFromDigits(std::string_view bytes, Decimal& out) noexcept {
  // Fast path: up to 19 digits in 64 bits.
  std::uint64_t v = 0;
  int digits = 0;
  int places = 0;
  bool seenPoint = false;
  bool negative = false;
  std::size_t i = 0;
  for (; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c >= '0' && c <= '9') {
      if (digits == 19) break;
      v = v * 10 + static_cast<std::uint64_t>(c - '0');
      if (v != 0) ++digits;  // leading zeros cost nothing
      if (seenPoint) ++places;
    } else if (c == '-') {
      negative = true;
    } else if (c == '.') {
      seenPoint = true;
    }
  }
  Decimal d = Decimal::FromUInt64(v);
  if (i < bytes.size()) {
    // Slow path: the remaining bytes one by one in exact decimal arithmetic.
    for (; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (c >= '0' && c <= '9') {
        if (!d.TryAppendDigit(static_cast<unsigned>(c - '0'))) return false;
        if (seenPoint) ++places;
      } else if (c == '-') {
        negative = true;
      } else if (c == '.') {
        seenPoint = true;
      }
    }
  }
  if (places > 0) {
    if (d.Hi32() == 0 && places <= Decimal::kMaxScale) {
      // Exact division by 10^places; VarDecDiv keeps an exact quotient at its
      // natural scale, so trailing zeros of the places go.
      std::uint64_t m = d.Lo64();
      int scale = places;
      while (scale > 0 && m % 10 == 0 && m != 0) {
        m /= 10;
        --scale;
      }
      if (m == 0) scale = 0;
      d = Decimal::FromParts(static_cast<std::uint32_t>(m), static_cast<std::uint32_t>(m >> 32), 0,
                             scale, false);
    } else {
      for (int p = 0; p < places; ++p) d.DivideByTen();
    }
  }
  if (negative) d = -d;
  out = d;
  return true;
}

}  // namespace quax::agg
