// Reads lines from a byte source into one reused buffer and hands them out as
// views (no copy per line). A line ends at LF; a CR before the LF is dropped;
// the last line may lack its end. Lines longer than kMaxLineLength are refused
// rather than buffered without bound.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace quax::agg {

class LineReader {
 public:
  // Fills buffer with up to size bytes: the count, 0 at the end, -1 on error.
  using Source = std::ptrdiff_t (*)(void* context, char* buffer, std::size_t size);

  static constexpr std::size_t kChunkSize = 32000;  // bytes read per call
  static constexpr std::size_t kMaxLineLength = 1u << 20;

  enum class Result { Line, End, TooLong, ReadFailed };

  LineReader() = default;
  LineReader(Source source, void* context) noexcept { Reset(source, context); }

  void Reset(Source source, void* context) noexcept;
  // The next line (valid until the next call of Next or AtEnd).
  Result Next(std::string_view& line);
  // The next line only when it ends in the bytes already read: it reads
  // nothing, so the lines handed out before stay valid.
  bool NextBuffered(std::string_view& line);
  // True when no byte is left (reads ahead when needed; after a failed read
  // it is false, and the next Next reports the failure).
  bool AtEnd();
  // Whether the line handed out last ended with its line feed: false for a
  // last line cut short (a file still being written).
  bool LastLineEnded() const noexcept { return lastLineEnded_; }

 private:
  // Reads more bytes behind the data; false at the end or on failure.
  bool Fill();
  // Hands out the line ending at `lf` and moves past it; false (nothing
  // moved) when it is longer than kMaxLineLength.
  bool TakeLine(const char* lf, std::string_view& line) noexcept;

  Source source_ = nullptr;
  void* context_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;  // first unread byte
  std::size_t end_ = 0;    // end of the data in the buffer
  std::size_t scanned_ = 0;  // bytes from begin_ known to hold no LF
  bool eof_ = false;
  bool failed_ = false;
  bool tooLong_ = false;
  bool lastLineEnded_ = true;
};

}  // namespace quax::agg
