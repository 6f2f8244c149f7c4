#include "engine/work_file.h"

#include <cstring>

#include "record/agg_error.h"
#include "record/byte_copy.h"

namespace quax::agg {
namespace {

constexpr std::uint8_t kLayoutKind = 0x80;
constexpr std::uint8_t kStartRepeats = 0x01;
constexpr std::uint8_t kEndRepeats = 0x02;
constexpr std::size_t kLengthBytes = 4;
constexpr std::size_t kMaxNumberBytes = 10;  // of a LEB128 number of 64 bits
constexpr std::size_t kMaxValueBytes = 13;   // tag and a 12-byte mantissa
constexpr std::size_t kMantissaBytes[] = {2, 4, 8, 12};

char* PutNumber(char* at, std::uint64_t value) noexcept {
  while (value >= 0x80) {
    *at++ = static_cast<char>(value | 0x80);
    value >>= 7;
  }
  *at++ = static_cast<char>(value);
  return at;
}

char* PutText(char* at, std::string_view text) noexcept {
  at = PutNumber(at, text.size());
  CopyBytes(at, text);
  return at + text.size();
}

template <class T>
char* PutFixed(char* at, const T& value) noexcept {
  std::memcpy(at, &value, sizeof value);
  return at + sizeof value;
}

char* PutDecimal(char* at, const Decimal& value) noexcept {
  const std::uint64_t lo = value.Lo64();
  const std::uint32_t hi = value.Hi32();
  const unsigned width = hi != 0 ? 3u : lo > 0xFFFFFFFFull ? 2u : lo > 0xFFFFull ? 1u : 0u;
  *at++ = static_cast<char>(static_cast<unsigned>(value.Scale()) | (value.IsNegative() ? 0x20u : 0u) |
                            width << 6);
  std::memcpy(at, &lo, kMantissaBytes[width] < 8 ? kMantissaBytes[width] : 8);
  if (width == 3) std::memcpy(at + 8, &hi, 4);
  return at + kMantissaBytes[width];
}

[[noreturn]] void ThrowDamaged(const std::string& fileName, const char* what) {
  throw Error("Unreadable work file '" + fileName + "': " + what);
}

// Reads the fields of one record, never past its end.
class RecordReader {
 public:
  RecordReader(const char* at, const char* end, const std::string& fileName) noexcept
      : at_(at), end_(end), fileName_(fileName) {}

  const char* At() const noexcept { return at_; }

  std::uint64_t Number() {
    if (at_ != end_ && (static_cast<std::uint8_t>(*at_) & 0x80) == 0) {
      return static_cast<std::uint8_t>(*at_++);  // mostly: below 128
    }
    std::uint64_t value = 0;
    for (unsigned shift = 0; shift < 64; shift += 7) {
      if (at_ == end_) break;
      const auto byte = static_cast<std::uint8_t>(*at_++);
      value |= std::uint64_t{byte & 0x7Fu} << shift;
      if ((byte & 0x80) == 0) return value;
    }
    Damage("a number runs past its record");
  }
  std::size_t Length() {
    const std::uint64_t length = Number();
    if (length > static_cast<std::uint64_t>(end_ - at_)) Damage("a length runs past its record");
    return static_cast<std::size_t>(length);
  }
  std::string_view Text() {
    const std::size_t length = Length();
    const std::string_view text(at_, length);
    at_ += length;
    return text;
  }
  template <class T>
  T Fixed() {
    if (static_cast<std::size_t>(end_ - at_) < sizeof(T)) Damage("a field runs past its record");
    T value;
    std::memcpy(&value, at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  Decimal Value() {
    const auto tag = Fixed<std::uint8_t>();
    const int scale = tag & 0x1F;
    const unsigned width = tag >> 6;
    const std::size_t bytes = kMantissaBytes[width];
    if (scale > Decimal::kMaxScale) Damage("a value has a scale beyond 28");
    if (static_cast<std::size_t>(end_ - at_) < bytes) Damage("a value runs past its record");
    std::uint64_t lo = 0;
    std::uint32_t hi = 0;
    std::memcpy(&lo, at_, bytes < 8 ? bytes : 8);
    if (width == 3) std::memcpy(&hi, at_ + 8, 4);
    at_ += bytes;
    const bool negative = (tag & 0x20) != 0;
    if (hi == 0) return Decimal::FromMantissa64(lo, scale, negative);
    return Decimal::FromParts(static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(lo >> 32), hi,
                              scale, negative);
  }
  void End() const {
    if (at_ != end_) Damage("a record holds more than its fields");
  }

 private:
  [[noreturn]] void Damage(const char* what) const { ThrowDamaged(fileName_, what); }

  const char* at_;
  const char* end_;
  const std::string& fileName_;
};

}  // namespace

bool CWorkFile::Open(platform::OpenMode mode, std::string& message) {
  std::string ignored;
  if (file_.IsOpen()) Close(ignored);
  platform::FileError error;
  if (!file_.Open(fileName_, mode, error)) {
    message = error.Text();
    return false;
  }
  reading_ = mode == platform::OpenMode::Read;
  begin_ = end_ = 0;
  hasLastDates_ = false;
  if (capacity_ < kBufferBytes) {
    buffer_.reset(new char[kBufferBytes]);
    capacity_ = kBufferBytes;
  }
  return true;
}

bool CWorkFile::OpenForWriting(std::string& message) {
  if (!Open(platform::OpenMode::Write, message)) return false;
  created_ = true;
  fileBytes_ = 0;
  broken_ = false;
  recordCount_ = 0;
  hasWrittenLayout_ = false;
  return true;
}

bool CWorkFile::OpenForReading(std::string& message) {
  if (!Open(platform::OpenMode::Read, message)) return false;
  atFileEnd_ = false;
  hasLayout_ = false;
  return true;
}

bool CWorkFile::Close(std::string& message) {
  if (!file_.IsOpen()) return true;
  const bool flushed = reading_ || Flush(message);
  file_.Close();
  begin_ = end_ = 0;
  return flushed;
}

void CWorkFile::Remove() {
  file_.Close();
  begin_ = end_ = 0;
  if (!created_) return;
  platform::FileError notThere;
  platform::RemoveFile(fileName_, notThere);
  created_ = false;
}

bool CWorkFile::Flush(std::string& message) {
  if (end_ == 0) return true;
  if (broken_) {
    message = "the file lost bytes it cannot take again";
    return false;
  }
  platform::FileError error;
  if (file_.Write(buffer_.get(), end_, error)) {
    fileBytes_ += end_;
    end_ = 0;
    return true;
  }
  message = error.Text();
  // The disk may have taken the first bytes: the rest waits for the next
  // flush, which goes on where the file ends. When that cannot be told the
  // file is given up, and its run fails when it is read back.
  std::uint64_t length = 0;
  if (!file_.WriteOffset(length) || length < fileBytes_ || length - fileBytes_ > end_) {
    broken_ = true;
    return false;
  }
  const auto taken = static_cast<std::size_t>(length - fileBytes_);
  std::memmove(buffer_.get(), buffer_.get() + taken, end_ - taken);
  end_ -= taken;
  fileBytes_ = length;
  return false;
}

char* CWorkFile::Reserve(std::size_t bytes, std::string& message) {
  if (end_ + bytes > capacity_) {
    if (!Flush(message)) return nullptr;
    if (bytes > capacity_) {
      buffer_.reset(new char[bytes]);
      capacity_ = bytes;
    }
  }
  return buffer_.get() + end_;
}

bool CWorkFile::Write(const WorkLayoutView& layout, std::string_view key, std::uint32_t keyHash,
                      double start, double end, std::span<const std::string_view> identifierValues,
                      std::span<const Decimal> resourceValues, std::string& message) {
  // A bound of the bytes first, then one pass of writing into the buffer.
  const bool newLayout = !hasWrittenLayout_ || layout.Serial != writtenLayout_;
  std::size_t layoutBytes = 0;
  if (newLayout) {
    layoutBytes = kLengthBytes + 1 + 3 * kMaxNumberBytes + layout.Header.size();
    for (std::size_t i = 0; i < layout.IdentifierNames.size(); ++i) {
      layoutBytes += kMaxNumberBytes + layout.IdentifierNames[i].size();
    }
    for (std::size_t j = 0; j < layout.RateCodes.size(); ++j) {
      layoutBytes += kMaxNumberBytes + layout.RateCodes[j].size();
    }
  }
  const std::size_t entryBytes = kLengthBytes + 1 + 2 * sizeof(double) + sizeof keyHash +
                                 (4 + identifierValues.size()) * kMaxNumberBytes + key.size() +
                                 resourceValues.size() * kMaxValueBytes;
  if (layoutBytes > kMaxRecordBytes || entryBytes > kMaxRecordBytes) {
    message = "The entry is too large for a work file.";
    return false;
  }
  char* at = Reserve(layoutBytes + entryBytes, message);
  if (at == nullptr) return false;  // nothing of the entry is in the buffer
  if (newLayout) {
    char* record = at;
    at += kLengthBytes;
    *at++ = static_cast<char>(kLayoutKind);
    at = PutText(at, layout.Header);
    at = PutNumber(at, layout.IdentifierNames.size());
    for (std::size_t i = 0; i < layout.IdentifierNames.size(); ++i) at = PutText(at, layout.IdentifierNames[i]);
    at = PutNumber(at, layout.RateCodes.size());
    for (std::size_t j = 0; j < layout.RateCodes.size(); ++j) at = PutText(at, layout.RateCodes[j]);
    PutFixed(record, static_cast<std::uint32_t>(at - record - kLengthBytes));
    writtenLayout_ = layout.Serial;
    hasWrittenLayout_ = true;
  }
  char* record = at;
  at += kLengthBytes;
  std::uint8_t kind = 0;
  // Compared as numbers: the same date-time repeats, whatever its bits.
  if (hasLastDates_ && start == lastStart_) kind |= kStartRepeats;
  if (hasLastDates_ && end == lastEnd_) kind |= kEndRepeats;
  *at++ = static_cast<char>(kind);
  if ((kind & kStartRepeats) == 0) at = PutFixed(at, start);
  if ((kind & kEndRepeats) == 0) at = PutFixed(at, end);
  lastStart_ = start;
  lastEnd_ = end;
  hasLastDates_ = true;
  at = PutFixed(at, keyHash);
  at = PutText(at, key);
  at = PutNumber(at, layout.Header.size());
  at = PutNumber(at, identifierValues.size());
  for (const std::string_view value : identifierValues) at = PutNumber(at, value.size());
  at = PutNumber(at, resourceValues.size());
  for (const Decimal& value : resourceValues) at = PutDecimal(at, value);
  PutFixed(record, static_cast<std::uint32_t>(at - record - kLengthBytes));
  end_ = static_cast<std::size_t>(at - buffer_.get());
  ++recordCount_;
  return true;  // a full buffer is written when the next entry needs room, or at Close
}

bool CWorkFile::Fill() {
  if (atFileEnd_) return false;
  if (begin_ > 0) {  // keep the unread bytes at the front
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (capacity_ - end_ < kBufferBytes / 2) {
    const std::size_t grown = 2 * capacity_;
    std::unique_ptr<char[]> fresh(new char[grown]);
    std::memcpy(fresh.get(), buffer_.get(), end_);
    buffer_ = std::move(fresh);
    capacity_ = grown;
  }
  platform::FileError error;
  const std::ptrdiff_t n = file_.Read(buffer_.get() + end_, capacity_ - end_, error);
  if (n < 0) throw Error("Unable to read work file '" + fileName_ + "': " + error.Text());
  if (n == 0) {
    atFileEnd_ = true;
    return false;
  }
  end_ += static_cast<std::size_t>(n);
  return true;
}

bool CWorkFile::AtEnd() {
  if (!IsOpenForReading()) return true;
  return begin_ == end_ && !Fill();
}

void CWorkFile::Damaged(const char* what) const { ThrowDamaged(fileName_, what); }

bool CWorkFile::Read(WorkEntry& entry) {
  if (!IsOpenForReading()) return false;
  return Next(entry, true);
}

bool CWorkFile::ReadBuffered(WorkEntry& entry) {
  if (!IsOpenForReading()) return false;
  return Next(entry, false);
}

bool CWorkFile::Next(WorkEntry& entry, bool mayFill) {
  for (;;) {
    std::uint32_t length = 0;
    const std::size_t buffered = end_ - begin_;
    if (buffered >= kLengthBytes) std::memcpy(&length, buffer_.get() + begin_, kLengthBytes);
    if (length > kMaxRecordBytes || (buffered >= kLengthBytes && length == 0)) {
      Damaged("a record has an impossible length");
    }
    if (buffered < kLengthBytes || buffered - kLengthBytes < length) {
      if (!mayFill) return false;
      if (!Fill()) {
        if (begin_ != end_) Damaged("the last record is cut short");
        return false;
      }
      continue;
    }
    const char* body = buffer_.get() + begin_ + kLengthBytes;
    const auto kind = static_cast<std::uint8_t>(body[0]);
    if (kind == kLayoutKind) {
      // The entries handed out before refer to the layout being replaced:
      // only a reading that may invalidate them takes the new one.
      if (!mayFill) return false;
      begin_ += kLengthBytes + length;
      DecodeLayout(body + 1, body + length);
      continue;
    }
    begin_ += kLengthBytes + length;
    DecodeEntry(kind, body + 1, body + length, entry);
    return true;
  }
}

void CWorkFile::DecodeLayout(const char* at, const char* end) {
  RecordReader in(at, end, fileName_);
  layout_.Header.assign(in.Text());
  const auto readTexts = [&in](std::vector<std::string>& texts) {
    const std::size_t count = in.Length();  // each text takes at least a byte
    texts.resize(count);
    for (std::string& text : texts) text.assign(in.Text());
  };
  readTexts(layout_.IdentifierNames);
  readTexts(layout_.RateCodes);
  in.End();
  ++layoutSerial_;
  hasLayout_ = true;
}

void CWorkFile::DecodeEntry(std::uint8_t kind, const char* at, const char* end, WorkEntry& entry) {
  if ((kind & ~(kStartRepeats | kEndRepeats)) != 0) Damaged("a record is of no known kind");
  if (!hasLayout_) Damaged("an entry comes before any layout");
  if ((kind & (kStartRepeats | kEndRepeats)) != 0 && !hasLastDates_) {
    Damaged("the first entry repeats dates");
  }
  RecordReader in(at, end, fileName_);
  entry.Start = (kind & kStartRepeats) != 0 ? lastStart_ : in.Fixed<double>();
  entry.End = (kind & kEndRepeats) != 0 ? lastEnd_ : in.Fixed<double>();
  lastStart_ = entry.Start;
  lastEnd_ = entry.End;
  hasLastDates_ = true;
  entry.KeyHash = in.Fixed<std::uint32_t>();
  entry.Key = in.Text();
  // Every value follows the header and the values before it, each after its
  // two-byte separator, within the key.
  std::uint64_t offset = in.Number();
  const std::size_t identifiers = in.Length();  // each length takes at least a byte
  entry.IdentifierValues.resize(identifiers);
  for (std::string_view& value : entry.IdentifierValues) {
    const std::uint64_t length = in.Number();
    offset += 2;
    if (offset > entry.Key.size() || length > entry.Key.size() - offset) {
      Damaged("an identifier value lies outside its key");
    }
    value = entry.Key.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    offset += length;
  }
  const std::size_t resources = in.Length();  // each value takes at least three bytes
  entry.ResourceValues.resize(resources);
  for (Decimal& value : entry.ResourceValues) value = in.Value();
  in.End();
  entry.Layout = &layout_;
  entry.LayoutSerial = layoutSerial_;
}

}  // namespace quax::agg
