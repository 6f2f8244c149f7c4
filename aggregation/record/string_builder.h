// CStringBuilder: a growable buffer of single-byte characters with
// cheap append, the CSV split into an array of builders, and parsers that
// read integers, exact decimals and dates straight from the bytes.
//
// Sizes: the buffer holds capacity + 1 bytes (indices 0 to
// capacity), starts at capacity 1024, grows exactly to what an operation
// needs and never shrinks. Text is bytes: the COM layer converts between
// BSTR and the ANSI code page at its boundary.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "record/decimal.h"

namespace quax::agg {

class CStringBuilder {
 public:
  static constexpr std::int32_t kInitialCapacity = 1024;

  CStringBuilder();
  CStringBuilder(const CStringBuilder& other);
  CStringBuilder& operator=(const CStringBuilder& other);
  CStringBuilder(CStringBuilder&&) noexcept = default;
  CStringBuilder& operator=(CStringBuilder&&) noexcept = default;

  std::int32_t HashValue() const noexcept;

  std::int32_t Length() const noexcept { return length_; }
  // A value <= 0 is ignored; growing pads with spaces; smaller truncates.
  void SetLength(std::int32_t newLength);

  // The first Length bytes (empty when Length < 1).
  std::string Value() const { return std::string(View()); }
  std::string_view View() const noexcept {
    return std::string_view(buffer_.get(), static_cast<std::size_t>(length_));
  }
  void SetValue(std::string_view newValue);

  void Append(std::string_view arg);
  void AppendString(std::string_view arg) { Append(arg); }
  void Clear() noexcept { length_ = 0; }

  // Fills fields with one builder per CSV field of the content (rule in
  // field_parsing.h). Builders already in the array are reused; the array
  // grows for a line with more fields and shrinks to the field count.
  void CSVSplit(std::vector<CStringBuilder>& fields) const;

  // Calendar date (DATE) from GetLongFromRange(0,4), (4,2), (6,2) with rolling
  // over. Throws Error when the content is shorter than 8 bytes or the date
  // lies outside the DATE range.
  double GetDate() const;
  // Throws DecimalOverflow when the digits do not fit.
  Decimal GetDecimal() const;
  double GetDouble() const { return GetDecimal().ToDouble(); }
  // Throws Error when the range does not lie within the content.
  std::int32_t GetLongFromRange(std::int32_t startOffset, std::int32_t length) const;
  std::int32_t GetLong() const noexcept;

  // Copies bufferLen bytes of `buffer` from bufferOffset; length = bufferLen.
  // Throws Error when the range lies outside the given buffer.
  void SetFromByteBuffer(const char* buffer, std::size_t bufferSize, std::int32_t bufferOffset,
                         std::int32_t bufferLen);
  // Only grows: capacity = newSize when newSize >= 0 and above the capacity;
  // the bytes are kept unless the length is below 1 or clearContents is set.
  void SetBufferSize(std::int32_t newSize, bool clearContents = false);

  std::int32_t Capacity() const noexcept { return capacity_; }

 private:
  void Grow(std::int32_t newCapacity, bool keep);

  std::unique_ptr<char[]> buffer_;
  std::int32_t length_ = 0;
  std::int32_t capacity_ = 0;
};

}  // namespace quax::agg
