#include "field_parsing.h"

#include <cstring>

namespace quax::agg {

void SplitCsvFields(std::string_view line, std::vector<FieldView>& fields) {
  // The CSVSplit state machine, run a field at a time: outside quotes the
  // scan stops only at a comma or a quote, inside quotes only at a quote.
  // tests/field_parsing_test.cpp checks it against the byte-by-byte rule.
  fields.clear();
  const std::size_t length = line.size();
  if (length == 0) return;
  const char* bytes = line.data();
  const std::size_t last = length - 1;
  std::size_t start = 0;
  std::ptrdiff_t end = -1;  // last byte of the field, -1 while not known
  std::size_t i = 0;
  const auto emit = [&](bool hasEnd, std::size_t endAt) {
    FieldView field;
    const std::ptrdiff_t e = hasEnd ? end : static_cast<std::ptrdiff_t>(endAt);
    if (e >= static_cast<std::ptrdiff_t>(start)) {
      field.Offset = static_cast<std::uint32_t>(start);
      field.Length = static_cast<std::uint32_t>(static_cast<std::size_t>(e) - start + 1);
    }
    fields.push_back(field);
  };
  for (;;) {
    // Outside quotes.
    std::size_t j = i;
    while (j <= last && bytes[j] != ',' && bytes[j] != '"') ++j;
    if (j > last) {  // the last byte is an ordinary one and ends the field
      emit(end >= 0, last);
      return;
    }
    if (bytes[j] == ',') {
      if (end < 0) end = static_cast<std::ptrdiff_t>(j) - 1;
      emit(true, 0);
      if (j == last) return;
      start = j + 1;
      end = -1;
      i = j + 1;
      continue;
    }
    // An opening quote.
    start = j + 1;
    if (j == last) {
      emit(end >= 0, last);
      return;
    }
    const void* close = std::memchr(bytes + j + 1, '"', last - j);
    if (close == nullptr) {  // quoting runs to the end of the line
      emit(end >= 0, last);
      return;
    }
    const std::size_t q = static_cast<std::size_t>(static_cast<const char*>(close) - bytes);
    end = static_cast<std::ptrdiff_t>(q) - 1;
    if (q == last) {  // a closing quote ends the line
      emit(true, 0);
      return;
    }
    i = q + 1;
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
