// What the libFuzzer targets share: input in memory as a line source, and
// the check of a property, which stops the run with the input kept.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "record/resource_file.h"

namespace quax::agg::fuzz {

// Hands out bytes in chunks of at most `Chunk`, so that lines cross the
// reader's buffer edges.
struct MemorySource {
  std::string_view Data;
  std::size_t Chunk = 1 << 16;
  std::size_t At = 0;
  static std::ptrdiff_t Read(void* context, char* buffer, std::size_t room) {
    auto* self = static_cast<MemorySource*>(context);
    const std::size_t n = std::min({room, self->Chunk, self->Data.size() - self->At});
    if (n > 0) std::memcpy(buffer, self->Data.data() + self->At, n);
    self->At += n;
    return static_cast<std::ptrdiff_t>(n);
  }
};

// A property that does not hold: says which and aborts, so that libFuzzer
// keeps the input as a crash.
[[noreturn]] inline void PropertyFailed(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "property failed: %s\n%.*s\n", what, static_cast<int>(std::min<std::size_t>(detail.size(), 2000)),
               detail.data());
  std::abort();
}

inline void Require(bool holds, const char* what, std::string_view detail = {}) {
  if (!holds) PropertyFailed(what, detail);
}

// The first difference between two records, or "" when they are the same:
// texts byte for byte, date-times bit for bit, values by `sameValue`.
template <class SameValue>
std::string RecordDifference(const ResourceRecord& a, const ResourceRecord& b, SameValue sameValue) {
  if (a.Header != b.Header) return "header";
  if (std::memcmp(&a.Start, &b.Start, sizeof a.Start) != 0) return "start";
  if (std::memcmp(&a.End, &b.End, sizeof a.End) != 0) return "end";
  if (a.FreeText != b.FreeText) return "free text";
  if (a.IdentifierNames != b.IdentifierNames) return "identifier names";
  if (a.IdentifierValues != b.IdentifierValues) return "identifier values";
  if (a.RateCodes != b.RateCodes) return "rate codes";
  if (a.ResourceValues.size() != b.ResourceValues.size()) return "resource count";
  for (std::size_t j = 0; j < a.ResourceValues.size(); ++j) {
    if (!sameValue(a.ResourceValues[j], b.ResourceValues[j])) {
      return "resource value " + a.ResourceValues[j].ToString() + " / " + b.ResourceValues[j].ToString();
    }
  }
  return {};
}

}  // namespace quax::agg::fuzz
