#include "record/field_parsing.h"

#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>

namespace quax::agg {

namespace {

// Bit i of the result is set when bytes[i] is a comma or a double quote, for
// i below count (at most 64).
std::uint64_t SpecialMask(const char* bytes, std::size_t count) noexcept {
  alignas(16) char block[64];
  const char* p = bytes;
  if (count < 64) {
    std::memset(block, 0, sizeof block);
    std::memcpy(block, bytes, count);
    p = block;
  }
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(',');
  const __m128i quote = _mm_set1_epi8('"');
  std::uint64_t mask = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(x, comma), _mm_cmpeq_epi8(x, quote));
    mask |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(hit)) & 0xFFFFu)
            << (16 * k);
  }
  return mask;
#else
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < 64; ++i) {
    if (p[i] == ',' || p[i] == '"') mask |= std::uint64_t{1} << i;
  }
  return mask;
#endif
}

// The same, also lowering `least` to the least byte value seen (for strict
// reading, which sends lines with control characters to its exact checks).
std::uint64_t SpecialMask(const char* bytes, std::size_t count, unsigned char& least) noexcept {
  alignas(16) char block[64];
  const char* p = bytes;
  if (count < 64) {
    std::memset(block, 0xFF, sizeof block);  // above every byte looked for
    std::memcpy(block, bytes, count);
    p = block;
  }
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(',');
  const __m128i quote = _mm_set1_epi8('"');
  __m128i x[4];
  std::uint64_t mask = 0;
  for (int k = 0; k < 4; ++k) {
    x[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(x[k], comma), _mm_cmpeq_epi8(x[k], quote));
    mask |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(hit)) & 0xFFFFu)
            << (16 * k);
  }
  __m128i m = _mm_min_epu8(_mm_min_epu8(x[0], x[1]), _mm_min_epu8(x[2], x[3]));
  m = _mm_min_epu8(m, _mm_srli_si128(m, 8));
  m = _mm_min_epu8(m, _mm_srli_si128(m, 4));
  m = _mm_min_epu8(m, _mm_srli_si128(m, 2));
  m = _mm_min_epu8(m, _mm_srli_si128(m, 1));
  const auto blockLeast = static_cast<unsigned char>(_mm_cvtsi128_si32(m) & 0xFF);
  if (blockLeast < least) least = blockLeast;
  return mask;
#else
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < 64; ++i) {
    if (p[i] == ',' || p[i] == '"') mask |= std::uint64_t{1} << i;
    if (static_cast<unsigned char>(p[i]) < least) least = static_cast<unsigned char>(p[i]);
  }
  return mask;
#endif
}

template <bool kFacts>
void Split(std::string_view line, FieldList& fields, LineFacts* facts) {
  // The CSVSplit state machine, visiting only the commas and quotes (found
  // 64 bytes at a time); tests/field_parsing_test.cpp checks it against the
  // byte-by-byte rule. A field runs from `start` up to `stop` (exclusive);
  // a closing quote sets `stop`, otherwise the comma does.
  fields.clear();
  const std::size_t length = line.size();
  if constexpr (kFacts) *facts = LineFacts {};
  if (length == 0) return;
  fields.Reserve(length < 64 ? 64 : length + 1);  // a line has at most length + 1 fields
  FieldView* out = fields.Storage();
  std::size_t count = 0;
  const char* bytes = line.data();
  const std::size_t last = length - 1;
  bool inQuotes = false;
  std::size_t start = 0;
  std::size_t stop = 0;
  bool stopKnown = false;
  unsigned char least = 0xFF;
  const auto emit = [&out, &count, &start](std::size_t end) {
    const std::size_t fieldLength = end > start ? end - start : 0;
    out[count++] = FieldView {static_cast<std::uint32_t>(fieldLength != 0 ? start : 0),
                              static_cast<std::uint32_t>(fieldLength)};
  };
  for (std::size_t base = 0; base < length; base += 64) {
    const std::size_t blockBytes = length - base < 64 ? length - base : 64;
    std::uint64_t mask = 0;
    if constexpr (kFacts) {
      mask = SpecialMask(bytes + base, blockBytes, least);
    } else {
      mask = SpecialMask(bytes + base, blockBytes);
    }
    while (mask != 0) {
      const std::size_t i = base + static_cast<std::size_t>(std::countr_zero(mask));
      mask &= mask - 1;
      if (bytes[i] == ',') {
        if (inQuotes) continue;
        emit(stopKnown ? stop : i);
        start = i + 1;
        stopKnown = false;
      } else if (inQuotes) {  // a closing quote
        inQuotes = false;
        stop = i;
        stopKnown = true;
        if constexpr (kFacts) {
          // Quotes stand around a whole field: a comma or the line's end follows.
          if (i != last && bytes[i + 1] != ',') facts->QuotesAroundFields = false;
          if (facts->FirstQuotedField == 0) facts->FirstQuotedField = count + 1;
          facts->LastQuotedField = count + 1;
        }
      } else {  // an opening quote restarts the field
        // Facts: only at the field's start (no quote restarted it before).
        if constexpr (kFacts) {
          if (i != start) facts->QuotesAroundFields = false;
        }
        inQuotes = true;
        start = i + 1;
      }
    }
  }
  // A separating comma at the end ended the last field. After a quote at
  // the end this gives what the rule says: up to a closing quote, or an
  // empty field after an opening one.
  if (bytes[last] != ',' || inQuotes) emit(stopKnown ? stop : length);
  fields.SetSize(count);
  if constexpr (kFacts) {
    if (inQuotes) facts->QuotesAroundFields = false;  // never closed
    facts->HoldsLowControl = least <= 13;
  }
}

}  // namespace

void SplitCsvFields(std::string_view line, FieldList& fields) { Split<false>(line, fields, nullptr); }

void SplitCsvFields(std::string_view line, FieldList& fields, LineFacts& facts) {
  Split<true>(line, fields, &facts);
}

std::string ShownField(std::string_view text) {
  constexpr std::size_t kShownBytes = 40;
  std::string shown(text.substr(0, kShownBytes));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 32 || c == 0x7F) c = '?';
  }
  if (text.size() > kShownBytes) shown += "...";
  return shown;
}

std::int32_t HashBytes(std::string_view bytes) noexcept {
  if (bytes.empty()) return 1;
  // The rule is linear modulo 2^30, so the mask can wait for the end, and
  // eight steps h = b + 2h are one step h = 256h + sum of b_k << (7 - k),
  // whose terms do not wait for each other.
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::uint64_t h = b[0] + 17u;
  std::size_t i = 1;
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t eight = (std::uint64_t{b[i]} << 7) + (std::uint64_t{b[i + 1]} << 6) +
                                (std::uint64_t{b[i + 2]} << 5) + (std::uint64_t{b[i + 3]} << 4) +
                                (std::uint64_t{b[i + 4]} << 3) + (std::uint64_t{b[i + 5]} << 2) +
                                (std::uint64_t{b[i + 6]} << 1) + std::uint64_t{b[i + 7]};
    h = (h << 8) + eight;
  }
  for (; i < n; ++i) h = b[i] + 2 * h;
  return static_cast<std::int32_t>(h & 0x3FFFFFFFu);
}

bool DecimalFromDigits(std::string_view bytes, Decimal& out) noexcept {
  if (bytes.size() <= 19) {
    // At most 19 digits: 64-bit arithmetic cannot overflow. Mostly digits,
    // then a point and digits: those run through two tight loops, and
    // whatever else the text holds through the general one.
    std::uint64_t v = 0;
    int places = 0;
    bool negative = false;
    const char* at = bytes.data();
    const char* const end = at + bytes.size();
    const auto digitAt = [](const char* p) {
      return static_cast<unsigned>(static_cast<unsigned char>(*p)) - '0';
    };
    for (; at < end && digitAt(at) <= 9; ++at) v = v * 10 + digitAt(at);
    bool seenPoint = false;
    if (at < end && *at == '.') {
      seenPoint = true;
      const char* const fraction = ++at;
      const char* digitsEnd = fraction;
      while (digitsEnd < end && digitAt(digitsEnd) <= 9) ++digitsEnd;
      // Zeros that end the text are dropped below anyway: not read at all.
      const char* last = digitsEnd;
      if (digitsEnd == end) {
        while (last > fraction && last[-1] == '0') --last;
      }
      for (; at < last; ++at) v = v * 10 + digitAt(at);
      places = static_cast<int>(last - fraction);
      at = digitsEnd;
    }
    for (; at < end; ++at) {  // the rest, if any, byte by byte
      const unsigned digit = digitAt(at);
      if (digit <= 9) {
        v = v * 10 + digit;
        places += seenPoint ? 1 : 0;
      } else if (*at == '.') {
        seenPoint = true;
      } else if (*at == '-') {
        negative = true;
      }
    }
    // VarDecDiv keeps an exact quotient at its natural scale: trailing zeros
    // of the places go.
    if (v == 0) {
      places = 0;
    } else {
      while (places > 0 && v % 10 == 0) {
        v /= 10;
        --places;
      }
    }
    out = Decimal::FromMantissa64(v, places, negative);
    return true;
  }
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
  if (i == bytes.size() && places <= Decimal::kMaxScale) {
    // Exact division by 10^places; VarDecDiv keeps an exact quotient at its
    // natural scale, so trailing zeros of the places go.
    int scale = places;
    while (scale > 0 && v % 10 == 0 && v != 0) {
      v /= 10;
      --scale;
    }
    if (v == 0) scale = 0;
    out = Decimal::FromMantissa64(v, scale, negative);
    return true;
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
      d = Decimal::FromMantissa64(m, scale, false);
    } else {
      for (int p = 0; p < places; ++p) d.DivideByTen();
    }
  }
  if (negative) d = -d;
  out = d;
  return true;
}

}  // namespace quax::agg
