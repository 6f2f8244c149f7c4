// CRejectProcessor: the work files of the external passes. Entries that do
// not fit into the engine's table are written, exactly as the engine holds
// them (CWorkFile), to one of seven files chosen by a hash of their
// aggregation key, so that one key always lands in one file. Three sets of
// seven files rotate: the set read back in a pass is never the set written
// in it, and each set spreads the hash over a different width so that keys
// sharing a file part ways in the next pass.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "engine/work_file.h"

namespace quax::agg {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// "QUAXAggWork-" + unique part + "-" + set + "-" + file + ".txt" in `folder`.
std::string WorkFileName(std::string_view folder, std::string_view uniquePart, int set, int file);
// A GUID as five upper-case hexadecimal groups 8-4-4-4-12, the last two
// fields taken as little-endian numbers.
std::string GuidText(const std::array<std::uint8_t, 16>& guid);
// File index 0..6 of a key hash in a set of hash width `width`.
inline int WorkFileIndex(std::int32_t hash, std::int32_t width) noexcept {
  return static_cast<int>((hash % (7 * width)) / width);
}
// The order in which files of record counts `counts` are read: fewer first,
// by one comparison pass for each gap 6, 4, 3, 2, 1.
std::array<int, 7> ReadOrderByCounts(const std::array<std::int64_t, 7>& counts) noexcept;

class CRejectProcessor {
 public:
  static constexpr int kSets = 3;
  static constexpr int kFilesPerSet = 7;
  static constexpr std::array<std::int32_t, kSets> kHashWidths {83, 191, 307};
  static constexpr const char* kNoMoreRecords = "No more records.";

  CRejectProcessor();
  ~CRejectProcessor();
  CRejectProcessor(const CRejectProcessor&) = delete;
  CRejectProcessor& operator=(const CRejectProcessor&) = delete;

  bool AtEOF();
  // The stored folder with its trailing separator, else the TEMP folder,
  // else empty.
  std::string WorkFilePath();
  // Ignored while any work file is open.
  void SetWorkFilePath(std::string_view path);
  const std::string& LastErrorMessage() const noexcept { return lastErrorMessage_; }

  // Writes one entry to the file its key hashes to (CWorkFile::Write says
  // what the key holds).
  bool AddEntry(const WorkLayoutView& layout, std::string_view key, std::uint32_t keyHash,
                double start, double end, std::span<const std::string_view> identifierValues,
                std::span<const Decimal> resourceValues);
  // The next entry of the read set, as views valid until the next GetEntry;
  // false with "No more records." at the end. A damaged file throws Error.
  bool GetEntry(WorkEntry& entry);
  // The next entry of the file being read only when it is already
  // buffered: the views of the entries got before stay valid.
  bool GetEntryBuffered(WorkEntry& entry);
  // Closes and removes every work file made (also one whose closing failed)
  // and names all 21 afresh.
  bool Initialize();
  // Closes and removes every work file made, keeping names and path.
  void RemoveWorkFiles();
  // Turns the set written last into the read set. False, with the message,
  // when a written file cannot be reopened for reading: its records would
  // otherwise be lost.
  bool PrepareForNextPass();

  // The file name of work file (set, file), for tests and diagnostics.
  const std::string& FileName(int set, int file) const { return Work(set, file).FileName(); }
  std::array<int, 7> ReadOrder() const noexcept { return readOrder_; }
  int WriteSet() const noexcept { return writeSet_; }
  int ReadSet() const noexcept { return readSet_; }

 private:
  CWorkFile& Work(int set, int file) const;
  std::string UniquePart();

  int writeSet_ = 0;
  int readSet_ = -1;
  int nextReadSet_ = 0;
  std::string lastErrorMessage_;
  mutable std::array<std::unique_ptr<CWorkFile>, kSets * kFilesPerSet> files_;
  std::array<int, 7> readOrder_ {0, 1, 2, 3, 4, 5, 6};
  std::string workFilePath_;
  std::uint32_t fallbackSeed_ = 0;
};

}  // namespace quax::agg
