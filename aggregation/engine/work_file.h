// CWorkFile: one work file of the external passes. It carries the entries
// that did not fit into the engine's table exactly as the engine held them:
// the aggregation key as built and its hash, the start and end date-times as
// numbers, and every resource value with all its digits, its scale and its
// sign. A pass therefore sums the same values in the same order as a table
// large enough would have, whatever the memory budget.
//
// The format is the engine's own, written and read by the same process in
// native byte order. A record is its byte count (4 bytes, not counting
// itself), a kind byte and a body:
//   layout (kind 0x80): header, identifier names and rate codes, each list
//     a count and each text a length and its bytes; the entries after it,
//     up to the next layout, were added under it;
//   entry (kind bit 0: the start repeats the previous entry's, bit 1: the
//     end does): start and end (8 bytes each, when not repeated), the key
//     hash (4 bytes), the key, the header's length, the number of identifier
//     values and the length of each (the values follow the header in the
//     key, each after a two-byte separator), the number of resource values
//     and each value as a tag byte (scale in bits 0-4, sign in bit 5,
//     mantissa width 2, 4, 8 or 12 bytes in bits 6-7) and its mantissa.
// Counts and lengths are unsigned LEB128 numbers. A reader checks every
// length against the record, so that a damaged file is reported, never read
// past.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_files.h"
#include "record/decimal.h"
#include "record/resource_file.h"

namespace quax::agg {

// The layout an entry is written under, as views of the caller's texts.
// Equal serials stand for equal layouts.
struct WorkLayoutView {
  std::uint64_t Serial = 0;
  std::string_view Header;
  TextSpan IdentifierNames;
  TextSpan RateCodes;
};

struct WorkLayout {
  std::string Header;
  std::vector<std::string> IdentifierNames;
  std::vector<std::string> RateCodes;
};

// One entry as read: views into the reader's buffer, valid until the reader
// reads from the file again. Layout is the reader's layout of the entry, and
// LayoutSerial changes whenever the reader reads another one.
struct WorkEntry {
  const WorkLayout* Layout = nullptr;
  std::uint64_t LayoutSerial = 0;
  std::string_view Key;
  std::uint32_t KeyHash = 0;
  double Start = 0;
  double End = 0;
  std::vector<std::string_view> IdentifierValues;
  std::vector<Decimal> ResourceValues;
};

class CWorkFile {
 public:
  static constexpr std::size_t kBufferBytes = 256 * 1024;
  // Larger records are refused on writing and taken for damage on reading.
  static constexpr std::size_t kMaxRecordBytes = std::size_t{1} << 30;

  CWorkFile() = default;
  CWorkFile(const CWorkFile&) = delete;
  CWorkFile& operator=(const CWorkFile&) = delete;

  const std::string& FileName() const noexcept { return fileName_; }
  void SetFileName(std::string fileName) { fileName_ = std::move(fileName); }
  bool IsOpen() const noexcept { return file_.IsOpen(); }
  bool IsOpenForReading() const noexcept { return file_.IsOpen() && reading_; }
  // Entries written since the file was opened for writing.
  std::int64_t RecordCount() const noexcept { return recordCount_; }

  // Creates (or empties) the file for writing; false with the message
  // ("Error #" + number + ": " + description) in `message`.
  bool OpenForWriting(std::string& message);
  bool OpenForReading(std::string& message);
  // Writes what is buffered and closes; false with the message when the
  // buffered bytes could not be written (the file is closed anyway).
  bool Close(std::string& message);
  // Closes and deletes the file if this object created it (whether or not
  // it is still open); a file that is not there is no error.
  void Remove();

  // Appends one entry. `key` begins with layout.Header and holds each
  // identifier value after a two-byte separator, in order. False with the
  // message, and nothing of the entry written, when the buffer cannot be
  // written to make room for it: the buffered entries stay for the next
  // attempt (the bytes the disk took, as the file's offset tells, are not
  // written again), so that every entry accepted reaches the file.
  bool Write(const WorkLayoutView& layout, std::string_view key, std::uint32_t keyHash,
             double start, double end, std::span<const std::string_view> identifierValues,
             std::span<const Decimal> resourceValues, std::string& message);

  // True when nothing is left to read (reads ahead when needed).
  bool AtEnd();
  // The next entry; false at the end. Throws Error naming the file when it
  // cannot be read or is damaged.
  bool Read(WorkEntry& entry);
  // The next entry only when it is already buffered and under the same
  // layout: it reads nothing from the file and keeps the layout, so the
  // entries read before stay valid. Throws as Read.
  bool ReadBuffered(WorkEntry& entry);

 private:
  bool Open(platform::OpenMode mode, std::string& message);
  bool Flush(std::string& message);
  char* Reserve(std::size_t bytes, std::string& message);
  // Reads more of the file behind the unread bytes; false at the end.
  bool Fill();
  // Takes the next entry from the buffer when it is there whole, reading
  // layouts on the way; `mayFill` lets it read from the file.
  bool Next(WorkEntry& entry, bool mayFill);
  void DecodeLayout(const char* at, const char* end);
  void DecodeEntry(std::uint8_t kind, const char* at, const char* end, WorkEntry& entry);
  [[noreturn]] void Damaged(const char* what) const;

  std::string fileName_;
  platform::File file_;
  bool created_ = false;  // the file was made by OpenForWriting and not removed since
  bool reading_ = false;
  // Writing: the bytes the file holds, and whether it lost some it cannot
  // take again.
  std::uint64_t fileBytes_ = 0;
  bool broken_ = false;
  std::int64_t recordCount_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;  // reading: first unread byte
  std::size_t end_ = 0;    // end of the buffered bytes
  bool atFileEnd_ = false;
  // Writing: the layout and dates of the entry written last.
  std::uint64_t writtenLayout_ = 0;
  bool hasWrittenLayout_ = false;
  double lastStart_ = 0;
  double lastEnd_ = 0;
  bool hasLastDates_ = false;
  // Reading: the layout the entries refer to.
  WorkLayout layout_;
  std::uint64_t layoutSerial_ = 0;
  bool hasLayout_ = false;
};

}  // namespace quax::agg
