#include "record/line_reader.h"

#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quax::agg {

namespace {

// First line feed in [from, end), or nullptr; 16 bytes at a time with SSE2
// (the C library's memchr is a byte loop in some runtimes).
const char* FindLineFeed(const char* from, const char* end) noexcept {
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  while (end - from >= 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, lf)));
    if (hits != 0) return from + std::countr_zero(hits);
    from += 16;
  }
#endif
  for (; from < end; ++from) {
    if (*from == '\n') return from;
  }
  return nullptr;
}

}  // namespace

void LineReader::Reset(Source source, void* context) noexcept {
  source_ = source;
  context_ = context;
  begin_ = end_ = scanned_ = 0;
  eof_ = failed_ = tooLong_ = false;
  lastLineEnded_ = true;
}

bool LineReader::Fill() {
  if (eof_ || failed_ || source_ == nullptr) return false;
  if (begin_ > 0) {  // keep the unread bytes at the front
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (capacity_ - end_ < kChunkSize) {
    std::size_t grown = capacity_ == 0 ? 2 * kChunkSize : 2 * capacity_;
    std::unique_ptr<char[]> fresh(new char[grown]);
    if (end_ > 0) std::memcpy(fresh.get(), buffer_.get(), end_);
    buffer_ = std::move(fresh);
    capacity_ = grown;
  }
  const std::ptrdiff_t n = source_(context_, buffer_.get() + end_, kChunkSize);
  if (n < 0) {
    failed_ = true;
    return false;
  }
  if (n == 0) {
    eof_ = true;
    return false;
  }
  end_ += static_cast<std::size_t>(n > static_cast<std::ptrdiff_t>(kChunkSize)
                                        ? static_cast<std::ptrdiff_t>(kChunkSize)
                                        : n);
  return true;
}

LineReader::Result LineReader::Next(std::string_view& line) {
  if (tooLong_) return Result::TooLong;
  for (;;) {
    const std::size_t from = begin_ + scanned_;
    const char* lf = FindLineFeed(buffer_.get() + from, buffer_.get() + end_);
    if (lf != nullptr) {
      if (!TakeLine(lf, line)) {
        tooLong_ = true;
        return Result::TooLong;
      }
      return Result::Line;
    }
    scanned_ = end_ - begin_;
    if (scanned_ > kMaxLineLength) {
      tooLong_ = true;
      return Result::TooLong;
    }
    if (!Fill()) {
      if (failed_) return Result::ReadFailed;
      if (begin_ == end_) return Result::End;
      std::size_t length = end_ - begin_;
      if (buffer_[end_ - 1] == '\r') --length;
      line = std::string_view(buffer_.get() + begin_, length);
      begin_ = end_;
      scanned_ = 0;
      lastLineEnded_ = false;
      return Result::Line;
    }
  }
}

bool LineReader::TakeLine(const char* lf, std::string_view& line) noexcept {
  const std::size_t at = static_cast<std::size_t>(lf - buffer_.get());
  std::size_t length = at - begin_;
  if (length > kMaxLineLength) return false;
  if (length > 0 && buffer_[at - 1] == '\r') --length;
  line = std::string_view(buffer_.get() + begin_, length);
  begin_ = at + 1;
  scanned_ = 0;
  lastLineEnded_ = true;
  return true;
}

bool LineReader::NextBuffered(std::string_view& line) {
  if (tooLong_) return false;
  const char* lf = FindLineFeed(buffer_.get() + begin_ + scanned_, buffer_.get() + end_);
  if (lf == nullptr) {
    scanned_ = end_ - begin_;
    return false;
  }
  return TakeLine(lf, line);  // a line too long is left for Next to report
}

bool LineReader::AtEnd() {
  if (tooLong_) return false;
  if (begin_ < end_) return false;
  if (Fill()) return false;
  return !failed_;
}

}  // namespace quax::agg
