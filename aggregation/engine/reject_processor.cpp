#include "engine/reject_processor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "record/field_parsing.h"
#include "platform/platform_system.h"

namespace quax::agg {
namespace {

constexpr const char* kWorkFilePrefix = "QUAXAggWork-";
constexpr const char* kWorkFileExtension = ".txt";

}  // namespace

std::string WorkFileName(std::string_view folder, std::string_view uniquePart, int set, int file) {
  std::string name;
  name.reserve(folder.size() + uniquePart.size() + 24);
  name += folder;
  name += kWorkFilePrefix;
  name += uniquePart;
  name += '-';
  name += std::to_string(set);
  name += '-';
  name += std::to_string(file);
  name += kWorkFileExtension;
  return name;
}

std::string GuidText(const std::array<std::uint8_t, 16>& g) {
  const auto le32 = [&g](int at) {
    return static_cast<unsigned long>(g[at]) | static_cast<unsigned long>(g[at + 1]) << 8 |
           static_cast<unsigned long>(g[at + 2]) << 16 | static_cast<unsigned long>(g[at + 3]) << 24;
  };
  const auto le16 = [&g](int at) { return static_cast<unsigned>(g[at] | g[at + 1] << 8); };
  char text[40];
  std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%04X-%04X%08lX", le32(0), le16(4), le16(6),
                le16(8), le16(10), le32(12));
  return text;
}

std::array<int, 7> ReadOrderByCounts(const std::array<std::int64_t, 7>& counts) noexcept {
  std::array<std::pair<int, std::int64_t>, 7> list {};
  for (int t = 0; t < 7; ++t) list[t] = {t, counts[t]};
  for (const int gap : {6, 4, 3, 2, 1}) {
    for (int i = 0; i + gap <= 6; ++i) {
      if (list[i].second > list[i + gap].second) std::swap(list[i], list[i + gap]);
    }
  }
  std::array<int, 7> order {};
  for (int t = 0; t < 7; ++t) order[t] = list[t].first;
  return order;
}

CRejectProcessor::CRejectProcessor() {
  for (auto& file : files_) file = std::make_unique<CWorkFile>();
  Initialize();
}

CRejectProcessor::~CRejectProcessor() { RemoveWorkFiles(); }

void CRejectProcessor::RemoveWorkFiles() {
  for (auto& file : files_) file->Remove();
}

CWorkFile& CRejectProcessor::Work(int set, int file) const {
  return *files_[static_cast<std::size_t>(set * kFilesPerSet + file)];
}

std::string CRejectProcessor::UniquePart() {
  std::array<std::uint8_t, 16> guid {};
  if (platform::NewGuid(guid)) return GuidText(guid);
  if (fallbackSeed_ == 0) {
    fallbackSeed_ = static_cast<std::uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count()) | 1u;
  }
  fallbackSeed_ = fallbackSeed_ * 1103515245u + 12345u;
  return std::to_string((fallbackSeed_ >> 8) % 16384 + 1);
}

bool CRejectProcessor::Initialize() {
  writeSet_ = 0;
  readSet_ = -1;
  nextReadSet_ = 0;
  lastErrorMessage_.clear();
  // Every file made before goes, also one whose closing failed.
  RemoveWorkFiles();
  const std::string folder = WorkFilePath();
  for (int s = 0; s < kSets; ++s) {
    for (int t = 0; t < kFilesPerSet; ++t) Work(s, t).SetFileName(WorkFileName(folder, UniquePart(), s, t));
  }
  readOrder_ = {0, 1, 2, 3, 4, 5, 6};
  workFilePath_.clear();
  return true;
}

std::string CRejectProcessor::WorkFilePath() {
  lastErrorMessage_.clear();
  std::string path = workFilePath_;
  if (path.empty()) {
    const char* temp = std::getenv("TEMP");
    if (temp != nullptr) path.assign(temp, std::char_traits<char>::length(temp) < 1024
                                               ? std::char_traits<char>::length(temp)
                                               : 1024);
#ifndef _WIN32
    // POSIX systems rarely set TEMP; their temporary folder stands in.
    if (temp == nullptr) path = platform::TempDirectory();
#endif
    if (path.empty()) return path;
  }
  if (path.back() != kPathSeparator) path += kPathSeparator;
  return path;
}

void CRejectProcessor::SetWorkFilePath(std::string_view path) {
  for (const auto& file : files_) {
    if (file->IsOpen()) return;
  }
  workFilePath_.assign(path);
  if (workFilePath_.empty() || workFilePath_.back() != kPathSeparator) {
    workFilePath_ += kPathSeparator;
  }
  lastErrorMessage_.clear();
}

bool CRejectProcessor::AddEntry(const WorkLayoutView& layout, std::string_view key,
                                std::uint32_t keyHash, double start, double end,
                                std::span<const std::string_view> identifierValues,
                                std::span<const Decimal> resourceValues) {
  const int index = WorkFileIndex(HashBytes(key), kHashWidths[static_cast<std::size_t>(writeSet_)]);
  CWorkFile& file = Work(writeSet_, index);
  std::string message;
  if (!file.IsOpen() && !file.OpenForWriting(message)) {
    lastErrorMessage_ = "Unable to open reject file '" + file.FileName() + "' for writing: " + message;
    return false;
  }
  if (file.Write(layout, key, keyHash, start, end, identifierValues, resourceValues, message)) {
    return true;
  }
  lastErrorMessage_ = "Unable to write entry to reject file '" + file.FileName() + "': " + message;
  return false;
}

bool CRejectProcessor::PrepareForNextPass() {
  readSet_ = nextReadSet_;
  nextReadSet_ = (nextReadSet_ + 1) % kSets;
  std::array<std::int64_t, 7> counts {};
  bool reopened = true;
  for (int t = 0; t < kFilesPerSet; ++t) {
    CWorkFile& file = Work(readSet_, t);
    if (!file.IsOpen()) continue;
    counts[static_cast<std::size_t>(t)] = file.RecordCount();
    // A file whose last bytes could not be written, or that cannot be read
    // again, would lose its entries: the pass must not go on as if it held them.
    std::string message;
    if ((!file.Close(message) || !file.OpenForReading(message)) && reopened) {
      lastErrorMessage_ = "Unable to reopen reject file '" + file.FileName() + "' for reading: " + message;
      reopened = false;
    }
  }
  for (int t = 0; t < kFilesPerSet; ++t) Work(nextReadSet_, t).Remove();
  writeSet_ = (writeSet_ + 1) % kSets;
  readOrder_ = ReadOrderByCounts(counts);
  return reopened;
}

bool CRejectProcessor::AtEOF() {
  if (readSet_ < 0) return true;
  for (const int t : readOrder_) {
    CWorkFile& file = Work(readSet_, t);
    if (file.IsOpenForReading() && !file.AtEnd()) return false;
  }
  return true;
}

bool CRejectProcessor::GetEntry(WorkEntry& entry) {
  if (readSet_ >= 0) {
    for (const int t : readOrder_) {
      CWorkFile& file = Work(readSet_, t);
      if (!file.IsOpenForReading()) continue;
      if (file.Read(entry)) return true;
      file.Remove();
    }
  }
  lastErrorMessage_ = kNoMoreRecords;
  return false;
}

bool CRejectProcessor::GetEntryBuffered(WorkEntry& entry) {
  if (readSet_ < 0) return false;
  for (const int t : readOrder_) {
    CWorkFile& file = Work(readSet_, t);
    if (file.IsOpenForReading()) return file.ReadBuffered(entry);
  }
  return false;
}

}  // namespace quax::agg
