#include "record/string_builder.h"

#include <cstring>

#include "record/date_time.h"
#include "record/field_parsing.h"

namespace quax::agg {

namespace {

constexpr const char* kRangeOutside = "Subscript out of range";
constexpr const char* kTooLong = "Out of string space";
constexpr const char* kInvalidDate = "Invalid procedure call or argument";

std::int32_t CheckedLength(std::size_t size) {
  if (size > 0x7FFFFFF0u) throw Error(kTooLong);
  return static_cast<std::int32_t>(size);
}

}  // namespace

CStringBuilder::CStringBuilder() { Grow(kInitialCapacity, false); }

CStringBuilder::CStringBuilder(const CStringBuilder& other) {
  Grow(other.capacity_, false);
  std::memcpy(buffer_.get(), other.buffer_.get(), static_cast<std::size_t>(other.length_));
  length_ = other.length_;
}

CStringBuilder& CStringBuilder::operator=(const CStringBuilder& other) {
  if (this != &other) {
    if (capacity_ < other.length_) Grow(other.length_, false);
    std::memcpy(buffer_.get(), other.buffer_.get(), static_cast<std::size_t>(other.length_));
    length_ = other.length_;
  }
  return *this;
}

void CStringBuilder::Grow(std::int32_t newCapacity, bool keep) {
  std::unique_ptr<char[]> fresh(new char[static_cast<std::size_t>(newCapacity) + 1]);
  if (keep && buffer_ && length_ > 0) {
    std::memcpy(fresh.get(), buffer_.get(), static_cast<std::size_t>(length_));
  }
  buffer_ = std::move(fresh);
  capacity_ = newCapacity;
}

std::int32_t CStringBuilder::HashValue() const noexcept { return HashBytes(View()); }

void CStringBuilder::SetLength(std::int32_t newLength) {
  if (newLength <= 0) return;
  if (newLength > capacity_) Grow(newLength, true);
  if (newLength > length_) {
    std::memset(buffer_.get() + length_, ' ', static_cast<std::size_t>(newLength - length_));
  }
  length_ = newLength;
}

void CStringBuilder::SetValue(std::string_view newValue) {
  const std::int32_t n = CheckedLength(newValue.size());
  if (n > capacity_) Grow(n, false);
  if (n > 0) std::memcpy(buffer_.get(), newValue.data(), newValue.size());
  length_ = n;
}

void CStringBuilder::Append(std::string_view arg) {
  const std::int32_t n = CheckedLength(arg.size());
  if (n <= 0) return;
  if (n > 0x7FFFFFF0 - length_) throw Error(kTooLong);
  const std::int32_t needed = length_ + n;
  if (needed > capacity_) Grow(needed, true);
  std::memcpy(buffer_.get() + length_, arg.data(), arg.size());
  length_ = needed;
}

void CStringBuilder::CSVSplit(std::vector<CStringBuilder>& fields) const {
  static thread_local FieldList views;  // reused: no allocation per split
  const std::string_view content = View();
  SplitCsvFields(content, views);
  if (fields.size() < views.size()) fields.resize(views.size());
  for (std::size_t k = 0; k < views.size(); ++k) {
    if (views[k].Length == 0) {
      fields[k].Clear();
    } else {
      fields[k].SetFromByteBuffer(content.data(), content.size(),
                                  static_cast<std::int32_t>(views[k].Offset),
                                  static_cast<std::int32_t>(views[k].Length));
    }
  }
  if (fields.size() > views.size()) fields.resize(views.size());
}

std::int32_t CStringBuilder::GetLongFromRange(std::int32_t startOffset, std::int32_t length) const {
  if (startOffset < 0 || length < 0 || startOffset > length_ || length > length_ - startOffset) {
    throw Error(kRangeOutside);
  }
  return LongFromDigits(View().substr(static_cast<std::size_t>(startOffset),
                                      static_cast<std::size_t>(length)));
}

std::int32_t CStringBuilder::GetLong() const noexcept { return LongFromDigits(View()); }

double CStringBuilder::GetDate() const {
  const std::int32_t year = GetLongFromRange(0, 4);
  const std::int32_t month = GetLongFromRange(4, 2);
  const std::int32_t day = GetLongFromRange(6, 2);
  double date = 0;
  if (!MakeDay(year, month, day, date)) throw Error(kInvalidDate);
  return date;
}

Decimal CStringBuilder::GetDecimal() const {
  Decimal value;
  if (!DecimalFromDigits(View(), value)) throw DecimalOverflow();
  return value;
}

void CStringBuilder::SetFromByteBuffer(const char* buffer, std::size_t bufferSize,
                                       std::int32_t bufferOffset, std::int32_t bufferLen) {
  if (bufferOffset < 0 || bufferLen < 0 || static_cast<std::size_t>(bufferOffset) > bufferSize ||
      static_cast<std::size_t>(bufferLen) > bufferSize - static_cast<std::size_t>(bufferOffset)) {
    throw Error(kRangeOutside);
  }
  if (bufferLen > capacity_) Grow(bufferLen, false);
  if (bufferLen > 0) {
    std::memmove(buffer_.get(), buffer + bufferOffset, static_cast<std::size_t>(bufferLen));
  }
  length_ = bufferLen;
}

void CStringBuilder::SetBufferSize(std::int32_t newSize, bool clearContents) {
  if (newSize < 0 || newSize <= capacity_) return;
  const bool keep = length_ >= 1 && !clearContents;
  Grow(newSize, keep);
  if (!keep) length_ = 0;
}

}  // namespace quax::agg
