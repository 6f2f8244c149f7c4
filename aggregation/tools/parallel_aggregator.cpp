#include "tools/parallel_aggregator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <queue>
#include <thread>
#include <unordered_map>

#include "engine/debug_counters.h"
#include "engine/memory_budget.h"
#include "engine/reject_processor.h"
#include "engine/typed_engine.h"
#include "engine/value_id_map.h"
#include "engine/work_file.h"
#include "platform/platform_system.h"
#include "record/agg_error.h"
#include "record/byte_copy.h"
#include "record/date_time.h"
#include "record/line_reader.h"
#include "record/resource_file.h"
#include "tools/tool_support.h"

namespace quax::agg::tools {
namespace {

// Where a record stands in the inputs: its chunk's sequence number, then its
// line within the chunk. Ordinals order records as the inputs hold them.
using Ordinal = std::uint64_t;
constexpr Ordinal kNoOrdinal = ~Ordinal{0};
constexpr Ordinal MakeOrdinal(std::uint32_t chunk, std::uint32_t line) noexcept {
  return (Ordinal{chunk} << 32) | line;
}
constexpr std::uint32_t ChunkOf(Ordinal ordinal) noexcept { return static_cast<std::uint32_t>(ordinal >> 32); }
constexpr std::uint32_t LineOf(Ordinal ordinal) noexcept { return static_cast<std::uint32_t>(ordinal); }

// A chunk is large enough that handing it from thread to thread costs
// nothing next to reading it, and small enough that the chunks in flight
// (two per thread) stay a few MB at any thread count.
std::size_t ChunkBytesFor(int threads) {
  return std::clamp<std::size_t>((std::size_t{16} << 20) / static_cast<std::size_t>(threads),
                                 std::size_t{256} << 10, std::size_t{1} << 20);
}

// Records between two looks at the stop request in the passes over work files.
constexpr std::int64_t kWorkRecordsPerCheck = 4096;
constexpr auto kCoordinatorTick = std::chrono::milliseconds(200);

// Fields of a record line, 1-based.
constexpr std::size_t kFirstIdentifierField = 8;
std::size_t ResourceCountField(std::size_t identifiers) { return kFirstIdentifierField + 2 * identifiers; }

// The dates a record line can carry (and the writer writes): 1 January 100
// to 31 December 9999.
constexpr double kLastDate = 2958466.0;
bool IsWritableDate(double date) noexcept { return date >= kNoDate && date < kLastDate; }

// Before 30 December 1899 the whole part of a date is negative while its
// fraction still adds time (-1.75 is 29 December 18:00, later than -1.25):
// a number that orders date-times as the calendar does.
double CalendarOrder(double date) noexcept {
  const double day = std::trunc(date);
  return day + std::fabs(date - day);
}

std::int32_t DayNumber(double date) noexcept { return static_cast<std::int32_t>(static_cast<std::int64_t>(date)); }

template <class T>
void AppendFixed(std::string& out, T value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out.append(bytes, sizeof value);
}

void AppendLength(std::string& out, std::size_t length) {
  while (length >= 0x80) {
    out += static_cast<char>(length | 0x80);
    length >>= 7;
  }
  out += static_cast<char>(length);
}

std::size_t ReadLength(std::string_view text, std::size_t& at) noexcept {
  std::size_t length = 0;
  for (unsigned shift = 0; at < text.size(); shift += 7) {
    const auto byte = static_cast<unsigned char>(text[at++]);
    length |= static_cast<std::size_t>(byte & 0x7Fu) << shift;
    if ((byte & 0x80) == 0) break;
  }
  return length;
}

// ---- Layouts ----------------------------------------------------------------

// A record's layout: header, identifier names and rate codes, and what the
// run keeps of them. Its id leads every key, so records of two layouts never
// meet in one aggregate.
struct Layout {
  std::uint32_t Id = 0;
  std::string Header;
  std::vector<std::string> IdentifierNames;  // all of the record's
  std::vector<std::string> RateCodes;
  std::vector<std::size_t> KeptIdentifiers;  // positions in the record
  std::vector<std::size_t> KeptResources;
  std::vector<std::string> KeptNames;
  std::vector<std::string> KeptRateCodes;  // as the engine writes them
  std::string Refusal;  // why its records cannot be summed; empty when they can

  // Field of the value of kept resource `kept`.
  std::size_t ResourceValueField(std::size_t kept) const noexcept {
    return ResourceCountField(IdentifierNames.size()) + 2 + 2 * KeptResources[kept];
  }
  const std::string& RateCodeOf(std::size_t kept) const noexcept { return RateCodes[KeptResources[kept]]; }
};

bool SameLayout(const Layout& layout, const ResourceRecordView& record) noexcept {
  const auto same = [](const std::string& a, std::string_view b) { return SameBytes(a, b); };
  return SameBytes(record.Header, layout.Header) &&
         std::ranges::equal(layout.IdentifierNames, record.IdentifierNames, same) &&
         std::ranges::equal(layout.RateCodes, record.RateCodes, same);
}

// The layout's texts as one string that tells layouts apart.
void LayoutText(const ResourceRecordView& record, std::string& text) {
  text.clear();
  const auto put = [&text](std::string_view part) {
    AppendLength(text, part.size());
    text.append(part);
  };
  put(record.Header);
  AppendLength(text, record.IdentifierNames.size());
  for (const std::string_view name : record.IdentifierNames) put(name);
  AppendLength(text, record.RateCodes.size());
  for (const std::string_view code : record.RateCodes) put(code);
}

// Why a layout's records cannot be summed: it keeps no identifier or no
// resource. Empty when they can.
std::string RefusalOf(const Layout& layout) {
  const std::size_t n = layout.IdentifierNames.size();
  const std::size_t m = layout.RateCodes.size();
  const auto fields = [](std::size_t first, std::size_t count) {
    return count == 1 ? "field " + std::to_string(first)
                      : "fields " + std::to_string(first) + " to " + std::to_string(first + 2 * count - 2);
  };
  if (n == 0) return "it has no identifiers (field 7 is 0)";
  if (layout.KeptIdentifiers.empty()) {
    return n == 1 ? "its only identifier '" + layout.IdentifierNames[0] + "' (" + fields(kFirstIdentifierField, 1) +
                        ") is left out by --drop-identifier"
                  : "every identifier it has (" + fields(kFirstIdentifierField, n) +
                        ") is left out by --drop-identifier";
  }
  const std::size_t firstRateCode = ResourceCountField(n) + 1;
  if (m == 0) return "it has no resources (field " + std::to_string(ResourceCountField(n)) + " is 0)";
  if (layout.KeptResources.empty()) {
    return m == 1 ? "its only resource '" + layout.RateCodes[0] + "' (" + fields(firstRateCode, 1) +
                        ") is left out by --drop-resource"
                  : "every resource it has (rate codes in " + fields(firstRateCode, m) +
                        ") is left out by --drop-resource";
  }
  return std::string();
}

class LayoutRegistry {
 public:
  // Records of a real file come in a few layouts; a file whose every line
  // has new names must not take the memory without bound.
  static constexpr std::size_t kMaxLayoutBytes = std::size_t{16} << 20;

  LayoutRegistry(std::vector<std::string> dropIdentifiers, std::vector<std::string> dropResources)
      : dropIdentifiers_(std::move(dropIdentifiers)),
        dropResources_(std::move(dropResources)),
        identifierMatched_(dropIdentifiers_.size()),
        resourceMatched_(dropResources_.size()) {}

  // The layout of a record whose LayoutText is `text`; registered when new.
  const Layout* Of(const ResourceRecordView& record, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (const auto found = byText_.find(text); found != byText_.end()) return found->second;
    layoutBytes_ += text.size();
    if (layoutBytes_ > kMaxLayoutBytes) {
      throw Error("Unable to aggregate the inputs: their distinct layouts (headers, identifier names and rate codes) "
                  "take more than " + std::to_string(kMaxLayoutBytes) + " bytes");
    }
    auto layout = std::make_unique<Layout>();
    layout->Id = static_cast<std::uint32_t>(layouts_.size());
    layout->Header = record.Header;
    layout->IdentifierNames.assign(record.IdentifierNames.begin(), record.IdentifierNames.end());
    layout->RateCodes.assign(record.RateCodes.begin(), record.RateCodes.end());
    for (std::size_t i = 0; i < layout->IdentifierNames.size(); ++i) {
      if (Dropped(dropIdentifiers_, identifierMatched_, layout->IdentifierNames[i])) continue;
      layout->KeptIdentifiers.push_back(i);
      layout->KeptNames.push_back(layout->IdentifierNames[i]);
    }
    for (std::size_t j = 0; j < layout->RateCodes.size(); ++j) {
      if (Dropped(dropResources_, resourceMatched_, layout->RateCodes[j])) continue;
      layout->KeptResources.push_back(j);
      layout->KeptRateCodes.push_back(layout->RateCodes[j].substr(0, TypedEngine::kRateCodeLength));
    }
    layout->Refusal = RefusalOf(*layout);
    const Layout* registered = layout.get();
    layouts_.push_back(std::move(layout));
    byText_.emplace(text, registered);
    return registered;
  }

  // Once no thread registers any more.
  const Layout* At(std::uint32_t id) const { return id < layouts_.size() ? layouts_[id].get() : nullptr; }

  std::vector<std::string> UnmatchedIdentifiers() const { return Unmatched(dropIdentifiers_, identifierMatched_); }
  std::vector<std::string> UnmatchedResources() const { return Unmatched(dropResources_, resourceMatched_); }

 private:
  static bool Dropped(const std::vector<std::string>& drops, std::vector<char>& matched, std::string_view name) {
    for (std::size_t d = 0; d < drops.size(); ++d) {
      if (SameNameIgnoringCase(drops[d], name)) {
        matched[d] = 1;
        return true;
      }
    }
    return false;
  }
  static std::vector<std::string> Unmatched(const std::vector<std::string>& drops, const std::vector<char>& matched) {
    std::vector<std::string> names;
    for (std::size_t d = 0; d < drops.size(); ++d) {
      if (!matched[d]) names.push_back(drops[d]);
    }
    return names;
  }

  std::mutex mutex_;
  std::unordered_map<std::string, const Layout*> byText_;
  std::vector<std::unique_ptr<Layout>> layouts_;
  std::size_t layoutBytes_ = 0;
  std::vector<std::string> dropIdentifiers_;
  std::vector<std::string> dropResources_;
  std::vector<char> identifierMatched_;
  std::vector<char> resourceMatched_;
};

// A thread's way to the registry: most records have the layout of the
// record before them, and the layouts seen are kept without a lock.
class LayoutCache {
 public:
  explicit LayoutCache(LayoutRegistry& registry) : registry_(registry) {}

  const Layout& Of(const ResourceRecordView& record) {
    if (last_ != nullptr && SameLayout(*last_, record)) return *last_;
    LayoutText(record, text_);
    auto found = seen_.find(text_);
    if (found == seen_.end()) found = seen_.emplace(text_, registry_.Of(record, text_)).first;
    last_ = found->second;
    return *last_;
  }

 private:
  LayoutRegistry& registry_;
  const Layout* last_ = nullptr;
  std::string text_;
  std::unordered_map<std::string, const Layout*> seen_;
};

// ---- Reading chunks -----------------------------------------------------------

// Whole lines of one input, as read.
struct RawChunk {
  std::vector<char> Bytes;
  std::size_t Length = 0;
  std::uint32_t Input = 0;
  // The input could not be opened or read on after the chunk's lines.
  std::string Failure;
};

const char* LastLineFeed(const char* begin, const char* end) noexcept {
  while (end != begin) {
    if (*--end == '\n') return end;
  }
  return nullptr;
}

// Hands out the inputs in chunks of whole lines, input after input; one
// thread at a time. A chunk takes what one read gives once it holds a line
// end, so that a pipe is summed as it is written.
class ChunkReader {
 public:
  ChunkReader(std::span<const AggregationInput> inputs, std::size_t chunkBytes)
      : inputs_(inputs), chunkBytes_(chunkBytes) {}

  // False when every input is read, or after a chunk with a Failure.
  bool Next(RawChunk& chunk) {
    while (current_ < inputs_.size()) {
      const AggregationInput& input = inputs_[current_];
      chunk.Input = static_cast<std::uint32_t>(current_);
      chunk.Length = 0;
      chunk.Failure.clear();
      platform::FileError error;
      if (!file_.IsOpen() && !(input.StandardInput ? file_.OpenStandardStream(platform::OpenMode::Read, error)
                                                   : file_.Open(input.Name, platform::OpenMode::Read, error))) {
        chunk.Failure = "Unable to open input file '" + input.Name + "': " + error.Text();
        current_ = inputs_.size();
        return true;
      }
      if (chunk.Bytes.size() < carry_.size() + chunkBytes_) chunk.Bytes.resize(carry_.size() + chunkBytes_);
      std::size_t length = carry_.size();
      if (length > 0) std::memcpy(chunk.Bytes.data(), carry_.data(), length);
      carry_.clear();
      const char* lineFeed = nullptr;
      bool atEnd = false;
      // A line longer than a line may be is read only as far as it takes
      // the line reader to refuse it.
      while (lineFeed == nullptr && length <= LineReader::kMaxLineLength + 1) {
        if (length == chunk.Bytes.size()) chunk.Bytes.resize(2 * chunk.Bytes.size());
        char* at = chunk.Bytes.data() + length;
        const std::ptrdiff_t n = file_.Read(at, chunk.Bytes.size() - length, error);
        if (n < 0) {
          chunk.Failure = error.Text() + " ('" + input.Name + "')";
          current_ = inputs_.size();
          return true;  // the lines of a failed read are not taken
        }
        if (n == 0) {
          atEnd = true;
          break;
        }
        length += static_cast<std::size_t>(n);
        lineFeed = LastLineFeed(at, chunk.Bytes.data() + length);
      }
      if (lineFeed != nullptr) {
        const auto end = static_cast<std::size_t>(lineFeed - chunk.Bytes.data()) + 1;
        carry_.assign(chunk.Bytes.begin() + static_cast<std::ptrdiff_t>(end),
                      chunk.Bytes.begin() + static_cast<std::ptrdiff_t>(length));
        chunk.Length = end;
        return true;
      }
      chunk.Length = length;  // the input's last line, or the start of a line too long
      if (atEnd) {
        file_.Close();
        ++current_;
        if (length == 0) continue;
      } else {
        current_ = inputs_.size();
      }
      return true;
    }
    return false;
  }

 private:
  std::span<const AggregationInput> inputs_;
  std::size_t chunkBytes_;
  std::size_t current_ = 0;
  platform::File file_;
  std::vector<char> carry_;  // the start of a line read with the chunk before
};

// The bytes of a chunk as the line reader's source.
struct MemorySource {
  const char* At = nullptr;
  std::size_t Left = 0;

  static std::ptrdiff_t Read(void* context, char* buffer, std::size_t size) {
    auto* self = static_cast<MemorySource*>(context);
    const std::size_t n = std::min(size, self->Left);
    if (n > 0) std::memcpy(buffer, self->At, n);
    self->At += n;
    self->Left -= n;
    return static_cast<std::ptrdiff_t>(n);
  }
};

// ---- Parsed chunks --------------------------------------------------------------

struct RecordHead {
  const Layout* RecordLayout = nullptr;
  double Start = 0;
  double End = 0;
  std::uint32_t Line = 0;
  std::uint32_t Hash = 0;
  std::uint32_t KeyOffset = 0;
  std::uint32_t KeyLength = 0;
  std::uint32_t ValueOffset = 0;  // the layout's kept resources from here
};

// The records of a chunk whose keys belong to one shard, in input order.
struct Bucket {
  std::vector<RecordHead> Heads;
  std::string Keys;
  std::vector<Decimal> Values;
  void Clear() noexcept {
    Heads.clear();
    Keys.clear();
    Values.clear();
  }
};

struct ParsedChunk {
  std::uint32_t Seq = 0;
  std::uint32_t Lines = 0;
  std::vector<Bucket> Buckets;  // one per shard
};

// ---- Errors ---------------------------------------------------------------------

// An input error, where it stands; its message is made once the run knows
// the line numbers of the chunks before it.
struct InputError {
  enum class Kind { Unreadable, TooLong, Refused, SumTooLarge, SumOverflow, Input };
  InputError() = default;
  InputError(Ordinal at, Kind what, std::string text = std::string()) : At(at), What(what), Text(std::move(text)) {}
  InputError(Ordinal at, Kind what, const Layout* layout, std::size_t resource, const Decimal& value)
      : At(at), What(what), RecordLayout(layout), Resource(resource), Value(value) {}

  Ordinal At = kNoOrdinal;
  Kind What = Kind::Input;
  std::string Text;  // Unreadable: the line; Refused: the reason; Input: the message
  const Layout* RecordLayout = nullptr;
  std::size_t Resource = 0;  // kept resource
  Decimal Value;
};

// ---- Shards -----------------------------------------------------------------------

// The work files of one shard: the records of keys that did not fit, spread
// by their key's hash over kPartitions files, so that a later pass reads one
// partition and writes again only what still does not fit (into partitions
// of the next level, split by other bits of the hash). Each spilled record
// is thus written and read once when a partition fits into memory, where
// the engine's passes read every work file again in each pass.
class WorkPartitions {
 public:
  static constexpr std::size_t kPartitions = 8;  // Partition takes three bits
  // The key and the values as the shard holds them; the ordinal of the
  // record goes first among the values. Work files keep no texts of their own.
  static inline const std::vector<std::string> kNoTexts;
  static inline const WorkLayoutView kLayout {1, std::string_view(), kNoTexts, kNoTexts};

  WorkPartitions() = default;
  WorkPartitions(const WorkPartitions&) = delete;
  WorkPartitions& operator=(const WorkPartitions&) = delete;
  ~WorkPartitions() { RemoveAll(); }

  void SetFolder(std::string folder) { folder_ = std::move(folder); }

  // Writes one record into the partition of its key at the level being written.
  void Add(std::string_view key, std::uint32_t hash, double start, double end, std::span<const Decimal> values) {
    const std::size_t index = Partition(hash, writeLevel_);
    std::unique_ptr<CWorkFile>& file = writing_[index];
    std::string message;
    if (!file) {
      file = std::make_unique<CWorkFile>();
      file->SetFileName(WorkFileName(folder_, UniquePart(), writeLevel_, static_cast<int>(index)));
      files_.push_back(file->FileName());
      if (!file->OpenForWriting(message)) {
        throw Error("Unable to open work file '" + file->FileName() + "' for writing: " + message);
      }
    }
    if (!file->Write(kLayout, key, hash, start, end, {}, values, message)) {
      throw Error("Unable to write to work file '" + file->FileName() + "': " + message);
    }
  }

  // Closes the files written in this pass; they are read, one a pass, after
  // those written before them.
  void EndWriting() {
    for (std::unique_ptr<CWorkFile>& file : writing_) {
      if (!file) continue;
      std::string message;
      if (!file->Close(message)) throw Error("Unable to write work file '" + file->FileName() + "': " + message);
      pending_.push_back({std::move(file), writeLevel_});
    }
  }

  bool HasPending() const noexcept { return !pending_.empty(); }

  // Opens the next partition for this pass: what does not fit goes to the
  // next level. False when there is none.
  bool StartReading() {
    DropReading();
    if (pending_.empty()) return false;
    reading_ = std::move(pending_.front().File);
    writeLevel_ = pending_.front().Level + 1;
    pending_.pop_front();
    std::string message;
    if (!reading_->OpenForReading(message)) {
      throw Error("Unable to reopen work file '" + reading_->FileName() + "' for reading: " + message);
    }
    return true;
  }
  bool Read(WorkEntry& entry) { return reading_ && reading_->Read(entry); }
  bool ReadBuffered(WorkEntry& entry) { return reading_ && reading_->ReadBuffered(entry); }
  // The partition read is done with: it goes.
  void DropReading() {
    if (!reading_) return;
    Remove(*reading_);
    reading_.reset();
  }

  // Every file this object made, whatever its state.
  void RemoveAll() noexcept {
    std::string ignored;
    for (std::unique_ptr<CWorkFile>& file : writing_) {
      if (file) file->Close(ignored);
      file.reset();
    }
    if (reading_) reading_->Close(ignored);
    reading_.reset();
    pending_.clear();
    for (const std::string& name : files_) {
      platform::FileError notThere;
      platform::RemoveFile(name, notThere);
    }
    files_.clear();
  }

 private:
  struct Pending {
    std::unique_ptr<CWorkFile> File;
    int Level = 0;
  };

  // The hash mixed anew for each level: the keys of one partition still
  // spread over the key map's slots (its low bits) and split again at the
  // next level.
  static std::size_t Partition(std::uint32_t hash, int level) noexcept {
    std::uint32_t mixed = hash ^ (0x9E3779B9u * static_cast<std::uint32_t>(level + 1));
    mixed ^= mixed >> 16;
    mixed *= 0x85EBCA6Bu;
    mixed ^= mixed >> 13;
    mixed *= 0xC2B2AE35u;
    mixed ^= mixed >> 16;
    return mixed >> 29;  // one of kPartitions
  }
  static void Remove(CWorkFile& file) noexcept {
    std::string ignored;
    file.Close(ignored);
    platform::FileError notThere;
    platform::RemoveFile(file.FileName(), notThere);
  }
  std::string UniquePart() {
    std::array<std::uint8_t, 16> guid {};
    if (platform::NewGuid(guid)) return GuidText(guid);
    return std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(files_.size());
  }

  std::string folder_;
  int writeLevel_ = 0;
  std::array<std::unique_ptr<CWorkFile>, kPartitions> writing_;
  std::unique_ptr<CWorkFile> reading_;
  std::deque<Pending> pending_;
  std::vector<std::string> files_;  // every name made, for the removal at the end
};

struct Entry {
  Ordinal First = 0;  // the key's first record
  double Start = 0;
  double End = 0;
  const Layout* EntryLayout = nullptr;
  std::size_t SumOffset = 0;  // its sums, one per kept resource, in Shard::Sums
};

// The keys of one hash range: their aggregates (in the order they were
// made, the id of a key minus 1) and the work files of the keys that did not
// fit. One thread at a time works on a shard.
struct Shard {
  CValueIdMap Keys;
  std::vector<Entry> Entries;
  std::vector<Decimal> Sums;
  WorkPartitions Work;
  std::int64_t Calls = 0;    // records summed, work records included
  std::int64_t Spilled = 0;  // records handed to the work files
  std::vector<Decimal> Staged;
  std::vector<Decimal> WorkValues;

  // Loads ahead, in three steps a few records apart: the key's slot, then
  // its text and aggregate, then the aggregate's sums.
  void PrefetchEntry(std::uint32_t hash) const noexcept {
    const std::int32_t id = Keys.PrefetchText(hash);
    if (id >= 1 && static_cast<std::size_t>(id) <= Entries.size()) {
      __builtin_prefetch(&Entries[static_cast<std::size_t>(id - 1)]);
    }
  }
  void PrefetchSums(std::uint32_t hash) const noexcept {
    const std::int32_t id = Keys.PrefetchText(hash);
    if (id >= 1 && static_cast<std::size_t>(id) <= Entries.size()) {
      const Decimal* sums = Sums.data() + Entries[static_cast<std::size_t>(id - 1)].SumOffset;
      __builtin_prefetch(sums);
      __builtin_prefetch(sums + 3);
    }
  }
  void Clear() {
    Keys.Initialize();
    Entries.clear();
    Entries.shrink_to_fit();
    Sums.clear();
    Sums.shrink_to_fit();
  }
};

// Whether the table may take new keys in this pass, for all shards
// together: MaxEntries aggregates, or the memory limits asked once every
// kBudgetCheckInterval new keys. Once closed it stays closed for the pass,
// so that no key is both in the table and in the work files.
class Budget {
 public:
  Budget(std::int32_t maxEntries, std::int32_t minimumMB, std::int32_t maximumMB)
      : maxEntries_(maxEntries), minimumMB_(minimumMB), maximumMB_(maximumMB) {}

  void SetProbe(std::function<std::int32_t()> probe) { probe_ = std::move(probe); }
  void StartPass() noexcept {
    entries_.store(0);
    newKeys_.store(0);
    open_.store(true);
  }
  // Whether a new key may have an aggregate in memory.
  bool Admit() {
    if (maxEntries_ > 0) {
      std::int64_t count = entries_.load(std::memory_order_relaxed);
      do {
        if (count >= maxEntries_) return false;
      } while (!entries_.compare_exchange_weak(count, count + 1, std::memory_order_relaxed));
      return true;
    }
    if (!open_.load(std::memory_order_acquire)) return false;
    // The first keys of a pass are always taken, so that every pass gets on.
    if ((newKeys_.fetch_add(1, std::memory_order_relaxed) + 1) % TypedEngine::kBudgetCheckInterval == 0) {
      std::lock_guard lock(mutex_);
      if (!MayTableGrow(UsedMB(), minimumMB_, maximumMB_)) open_.store(false, std::memory_order_release);
    }
    return open_.load(std::memory_order_acquire);
  }

 private:
  std::int32_t UsedMB() {
    if (probe_) return probe_();
    memory_.Refresh();
    return memory_.MemoryCurrentlyUsedMB();
  }

  std::int32_t maxEntries_;
  std::int32_t minimumMB_;
  std::int32_t maximumMB_;
  std::atomic<std::int64_t> entries_ {0};
  std::atomic<std::int64_t> newKeys_ {0};
  std::atomic<bool> open_ {true};
  std::mutex mutex_;
  COSMemoryInfo memory_;
  std::function<std::int32_t()> probe_;
};

// The sums of one aggregate are written in records of at most this much.
const Decimal& Cap() {
  static const Decimal cap = TypedEngine::MaximumSummedValue();
  return cap;
}

// Whether a sum fits the records an aggregate may have.
bool WithinAllRecords(const Decimal& value) noexcept {
  constexpr std::uint64_t kLargest = 99999999999ull * TypedEngine::kMaximumResourceSets;
  if (value.IsNegative()) return true;
  if (value.Hi32() == 0 && value.Lo64() <= kLargest) return true;  // the mantissa bounds the value
  static const Decimal largest = Decimal::FromUInt64(kLargest);
  return Decimal::Compare(value, largest) <= 0;
}

// CDebugCounters counts one at a time.
void Count(CDebugCounters& counters, void (CDebugCounters::*increment)() noexcept, std::int64_t times) {
  for (std::int64_t i = 0; i < times; ++i) (counters.*increment)();
}

}  // namespace

// ---- The run ------------------------------------------------------------------

struct ParallelAggregator::State {
  explicit State(AggregationSettings settings)
      : Settings(std::move(settings)),
        ShardCount(static_cast<std::size_t>(std::clamp(Settings.Threads, 1, kMaxThreads))),
        Layouts(Settings.DropIdentifiers, Settings.DropResources),
        RunBudget(Settings.MaxEntries, Settings.MemoryMinimum, Settings.MemoryMaximum) {}

  class Parser;

  bool Run(std::span<const AggregationInput> inputs, const std::string& output);
  // Starts one worker per shard and waits for them, showing progress and
  // passing a stop request on.
  void RunWorkers(std::int64_t pass, const std::function<void(std::size_t)>& work);
  void IntakeWorker(std::size_t self);
  bool DrainShard(std::size_t shard);
  bool ReadAndParse(RawChunk& raw, Parser& parser);
  void SumBucket(std::size_t shard, const ParsedChunk& chunk);
  void Sum(Shard& shard, const Layout& layout, std::string_view key, std::uint32_t hash, double start,
           double end, std::span<const Decimal> values, Ordinal at);
  void SumWorkFiles(std::size_t shard);
  void EndPass();
  void WritePass();
  void WriteEntry(const Shard& shard, std::size_t index);
  void Changed();  // under Mutex
  void NoteError(InputError error);
  void NoteFailure(const std::string& message);
  bool Failed() const noexcept { return StopAt.load() != kNoOrdinal || FailedHard.load(); }
  std::string MessageOf(const InputError& error) const;
  std::int64_t LineNumberOf(Ordinal at) const;
  void FillCounters();

  AggregationSettings Settings;
  std::size_t ShardCount;
  LayoutRegistry Layouts;
  Budget RunBudget;
  std::span<const AggregationInput> Inputs;
  const CValueIdMap Hasher;
  std::vector<std::unique_ptr<Shard>> Shards;
  CResourceFile Output;
  Progress ShowProgress;
  std::function<bool()> StopRequested;

  // Coordination of the threads.
  std::mutex Mutex;
  std::condition_variable Wake;      // workers: something changed
  std::condition_variable Finished;  // the coordinator: a worker ended
  std::uint64_t Epoch = 0;
  std::size_t Waiting = 0;  // workers waiting on Wake
  std::size_t Running = 0;
  std::atomic<bool> Stop {false};
  std::atomic<std::int64_t> PassRecords {0};

  // Intake (pass 1), under Mutex unless said otherwise.
  enum class SlotState { Free, Filling, Parsed };
  struct Slot {
    SlotState State = SlotState::Free;
    std::uint32_t Seq = 0;
    std::size_t Pending = 0;  // shards yet to sum their bucket
    ParsedChunk Chunk;        // written by the filling thread, then read by the shards
  };
  struct ChunkInfo {
    std::uint32_t Input = 0;
    std::uint32_t Lines = 0;
  };
  std::unique_ptr<ChunkReader> Reader;
  std::mutex ReaderBusy;  // held while reading
  std::vector<Slot> Slots;
  std::vector<std::uint32_t> ShardNext;  // the next chunk each shard sums
  std::unique_ptr<std::mutex[]> ShardBusy;
  std::vector<ChunkInfo> Chunks;  // by sequence number
  std::uint32_t Issued = 0;
  bool ReaderDone = false;
  bool IntakeDone = false;

  // The first input error; StopAt is its ordinal, read without a lock.
  std::mutex ErrorMutex;
  InputError FirstError;
  std::atomic<Ordinal> StopAt {kNoOrdinal};
  std::atomic<bool> FailedHard {false};
  std::string Failure;  // a failure not of the input: it ends the run at once
  std::string LastError;
  bool WasStopped = false;

  // Figures.
  CDebugCounters Counters;
  std::atomic<std::int64_t> InputRecords {0};
  std::int64_t OutputRecords = 0;
  std::int64_t Aggregates = 0;
  std::int64_t ExternalPasses = 0;

  // Output scratch (coordinator only).
  std::vector<std::string_view> WriteValues;
  std::vector<Decimal> Remaining;
  std::vector<Decimal> SetValues;
};

// One thread's reading of chunks into buckets.
class ParallelAggregator::State::Parser {
 public:
  explicit Parser(State& state) : state_(state), layouts_(state.Layouts) {}

  void Parse(const RawChunk& raw, std::uint32_t seq, ParsedChunk& out) {
    out.Seq = seq;
    out.Buckets.resize(state_.ShardCount);
    for (Bucket& bucket : out.Buckets) bucket.Clear();
    const AggregationInput& input = state_.Inputs[raw.Input];
    const RecordReading reading = state_.Settings.StrictInput ? RecordReading::Strict : RecordReading::Lenient;
    MemorySource source {raw.Bytes.data(), raw.Length};
    lines_.Reset(&MemorySource::Read, &source);
    std::uint32_t line = 0;
    for (;; ++line) {
      const Ordinal at = MakeOrdinal(seq, line);
      if (at >= state_.StopAt.load(std::memory_order_relaxed)) break;
      std::string_view text;
      const LineReader::Result result = lines_.Next(text);
      if (result == LineReader::Result::End) break;
      if (result != LineReader::Result::Line) {
        state_.NoteError({at, InputError::Kind::TooLong});
        break;
      }
      try {
        // The line number is worked out later; the error is noted with the line.
        ParseResourceRecordLine(text, line + 1, input.Name, fields_, record_, reading);
      } catch (const RecordError&) {
        state_.NoteError({at, InputError::Kind::Unreadable, std::string(text)});
        break;
      }
      const Layout& layout = layouts_.Of(record_);
      if (!layout.Refusal.empty()) {
        state_.NoteError({at, InputError::Kind::Refused, layout.Refusal});
        break;
      }
      if (!IsWritableDate(record_.Start) || !IsWritableDate(record_.End)) {
        state_.NoteError({at, InputError::Kind::Refused,
                          std::string(IsWritableDate(record_.Start) ? "the end (fields 3 and 5)"
                                                                    : "the start (fields 2 and 4)") +
                              " lies outside the years 100 to 9999"});
        break;
      }
      Add(layout, line, out);
    }
    out.Lines = line;
    if (!raw.Failure.empty()) state_.NoteError({MakeOrdinal(seq, line), InputError::Kind::Input, raw.Failure});
    state_.InputRecords.fetch_add(records_, std::memory_order_relaxed);
    state_.PassRecords.fetch_add(records_, std::memory_order_relaxed);
    records_ = 0;
  }

 private:
  // The key: the layout's id, each kept identifier value with its length,
  // and the day numbers the date aggregation chooses.
  void BuildKey(const Layout& layout) {
    key_.clear();
    AppendFixed(key_, layout.Id);
    for (const std::size_t position : layout.KeptIdentifiers) {
      const std::string_view value = record_.IdentifierValues[position];
      AppendLength(key_, value.size());
      key_.append(value);
    }
    switch (state_.Settings.DateAggregation) {
      case EDateAggregation_StartDate: AppendFixed(key_, DayNumber(record_.Start)); break;
      case EDateAggregation_EndDate: AppendFixed(key_, DayNumber(record_.End)); break;
      case EDateAggregation_Both:
        AppendFixed(key_, DayNumber(record_.Start));
        AppendFixed(key_, DayNumber(record_.End));
        break;
      default: break;
    }
  }

  void Add(const Layout& layout, std::uint32_t line, ParsedChunk& out) {
    BuildKey(layout);
    const std::uint32_t hash = state_.Hasher.Hash(key_);
    const auto shard = static_cast<std::size_t>((std::uint64_t {hash} * state_.ShardCount) >> 32);
    Bucket& bucket = out.Buckets[shard];
    RecordHead head;
    head.RecordLayout = &layout;
    head.Start = record_.Start;
    head.End = record_.End;
    head.Line = line;
    head.Hash = hash;
    head.KeyOffset = static_cast<std::uint32_t>(bucket.Keys.size());
    head.KeyLength = static_cast<std::uint32_t>(key_.size());
    head.ValueOffset = static_cast<std::uint32_t>(bucket.Values.size());
    bucket.Keys.append(key_);
    for (const std::size_t position : layout.KeptResources) bucket.Values.push_back(record_.ResourceValues[position]);
    bucket.Heads.push_back(head);
    ++records_;
  }

  State& state_;
  LayoutCache layouts_;
  LineReader lines_;
  FieldList fields_;
  ResourceRecordView record_;
  std::string key_;
  std::int64_t records_ = 0;
};

void ParallelAggregator::State::Changed() {
  ++Epoch;
  if (!IntakeDone && (Stop.load() || (ReaderDone && std::ranges::all_of(ShardNext, [this](std::uint32_t next) {
                                        return next == Issued;
                                      })))) {
    IntakeDone = true;
  }
  if (Waiting > 0) Wake.notify_all();
}

void ParallelAggregator::State::NoteError(InputError error) {
  std::lock_guard lock(ErrorMutex);
  if (error.At >= FirstError.At) return;
  StopAt.store(error.At);
  FirstError = std::move(error);
}

void ParallelAggregator::State::NoteFailure(const std::string& message) {
  {
    std::lock_guard lock(ErrorMutex);
    if (Failure.empty()) Failure = message;
    FailedHard.store(true);
  }
  Stop.store(true);
  std::lock_guard lock(Mutex);
  Changed();
}

void ParallelAggregator::State::RunWorkers(std::int64_t pass, const std::function<void(std::size_t)>& work) {
  PassRecords.store(0);
  if (ShowProgress) ShowProgress(pass, 0, true);
  {
    std::lock_guard lock(Mutex);
    Running = ShardCount;
  }
  std::vector<std::thread> workers;
  workers.reserve(ShardCount);
  const auto body = [this, &work](std::size_t index) {
    try {
      work(index);
    } catch (const std::exception& error) {
      NoteFailure(error.what());
    } catch (...) {
      NoteFailure("Unexpected error in an aggregation thread.");
    }
    std::lock_guard lock(Mutex);
    if (--Running == 0) Finished.notify_all();
  };
  try {
    for (std::size_t i = 0; i < ShardCount; ++i) workers.emplace_back(body, i);
  } catch (const std::system_error& error) {  // no more threads: those started end at the stop
    NoteFailure(std::string("Unable to start an aggregation thread: ") + error.what());
    std::lock_guard lock(Mutex);
    Running -= ShardCount - workers.size();
  }
  {
    std::unique_lock lock(Mutex);
    while (Running > 0) {
      Finished.wait_for(lock, kCoordinatorTick);
      if (Running == 0) break;
      lock.unlock();
      if (StopRequested && !Stop.load() && StopRequested()) {
        WasStopped = true;
        Stop.store(true);
        std::lock_guard inner(Mutex);
        Changed();
      }
      if (ShowProgress) ShowProgress(pass, PassRecords.load(), false);
      lock.lock();
    }
  }
  for (std::thread& worker : workers) worker.join();
  if (ShowProgress) ShowProgress(pass, PassRecords.load(), true);
}

// A worker of the first pass: it sums what its own shard, then any other
// shard, can take, and otherwise reads and parses the next chunk.
void ParallelAggregator::State::IntakeWorker(std::size_t self) {
  Parser parser(*this);
  RawChunk raw;
  for (;;) {
    std::uint64_t seen = 0;
    {
      std::lock_guard lock(Mutex);
      if (IntakeDone) return;
      seen = Epoch;
    }
    bool worked = false;
    for (std::size_t k = 0; k < ShardCount; ++k) worked = DrainShard((self + k) % ShardCount) || worked;
    worked = ReadAndParse(raw, parser) || worked;
    if (!worked) {
      std::unique_lock lock(Mutex);
      ++Waiting;
      Wake.wait(lock, [&] { return IntakeDone || Epoch != seen; });
      --Waiting;
    }
  }
}

// Sums the chunks parsed for the shard, in order, taking every chunk ready
// at one look.
bool ParallelAggregator::State::DrainShard(std::size_t shard) {
  std::unique_lock busy(ShardBusy[shard], std::try_to_lock);
  if (!busy.owns_lock()) return false;
  bool worked = false;
  for (;;) {
    std::uint32_t first = 0;
    std::uint32_t end = 0;
    {
      std::lock_guard lock(Mutex);
      if (Stop.load()) break;
      first = end = ShardNext[shard];
      for (;; ++end) {
        const Slot& next = Slots[end % Slots.size()];
        if (next.State != SlotState::Parsed || next.Seq != end) break;
      }
    }
    if (first == end) break;
    for (std::uint32_t seq = first; seq != end; ++seq) SumBucket(shard, Slots[seq % Slots.size()].Chunk);
    std::lock_guard lock(Mutex);
    ShardNext[shard] = end;
    for (std::uint32_t seq = first; seq != end; ++seq) {
      Slot& slot = Slots[seq % Slots.size()];
      if (--slot.Pending == 0) slot.State = SlotState::Free;
    }
    Changed();
    worked = true;
  }
  return worked;
}

bool ParallelAggregator::State::ReadAndParse(RawChunk& raw, Parser& parser) {
  std::unique_lock reading(ReaderBusy, std::try_to_lock);
  if (!reading.owns_lock()) return false;
  Slot* slot = nullptr;
  std::uint32_t seq = 0;
  {
    std::lock_guard lock(Mutex);
    if (ReaderDone || Stop.load()) return false;
    seq = Issued;
    if (seq > ChunkOf(StopAt.load())) {  // an error before this chunk ends the reading
      ReaderDone = true;
      Changed();
      return true;
    }
    slot = &Slots[seq % Slots.size()];
    if (slot->State != SlotState::Free) return false;
    slot->State = SlotState::Filling;
  }
  const bool got = Reader->Next(raw);  // waits for a pipe
  reading.unlock();
  {
    std::lock_guard lock(Mutex);
    if (got) {
      slot->Seq = seq;
      ++Issued;
      Chunks.push_back({raw.Input, 0});
    } else {
      slot->State = SlotState::Free;
      ReaderDone = true;
    }
    Changed();  // the reader is free again
  }
  if (!got) return true;
  parser.Parse(raw, seq, slot->Chunk);
  std::lock_guard lock(Mutex);
  Chunks[seq].Lines = slot->Chunk.Lines;
  slot->State = SlotState::Parsed;
  slot->Pending = ShardCount;
  Changed();
  return true;
}

void ParallelAggregator::State::SumBucket(std::size_t shardIndex, const ParsedChunk& chunk) {
  constexpr std::size_t kSlotDistance = 12;
  constexpr std::size_t kEntryDistance = 6;
  constexpr std::size_t kSumsDistance = 3;
  Shard& shard = *Shards[shardIndex];
  const Bucket& bucket = chunk.Buckets[shardIndex];
  const std::size_t count = bucket.Heads.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kSlotDistance < count) shard.Keys.PrefetchSlot(bucket.Heads[i + kSlotDistance].Hash);
    if (i + kEntryDistance < count) shard.PrefetchEntry(bucket.Heads[i + kEntryDistance].Hash);
    if (i + kSumsDistance < count) shard.PrefetchSums(bucket.Heads[i + kSumsDistance].Hash);
    const RecordHead& head = bucket.Heads[i];
    const Ordinal at = MakeOrdinal(chunk.Seq, head.Line);
    if (at >= StopAt.load(std::memory_order_relaxed)) return;
    const std::string_view key(bucket.Keys.data() + head.KeyOffset, head.KeyLength);
    const std::span<const Decimal> values(bucket.Values.data() + head.ValueOffset,
                                          head.RecordLayout->KeptResources.size());
    Sum(shard, *head.RecordLayout, key, head.Hash, head.Start, head.End, values, at);
  }
}

// Adds one record to its shard: into its key's aggregate, into a new one
// when the budget takes the key, else into the work files.
void ParallelAggregator::State::Sum(Shard& shard, const Layout& layout, std::string_view key, std::uint32_t hash,
                                    double start, double end, std::span<const Decimal> values, Ordinal at) {
  ++shard.Calls;
  const auto refuse = [&](InputError::Kind kind, std::size_t resource) {
    NoteError({at, kind, &layout, resource, values[resource]});
  };
  const std::int32_t id = shard.Keys.GetIdFromValue(key, hash);
  if (id > 0) {
    Entry& entry = shard.Entries[static_cast<std::size_t>(id - 1)];
    Decimal* sums = shard.Sums.data() + entry.SumOffset;
    shard.Staged.resize(values.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
      if (!Decimal::TryAdd(sums[k], values[k], shard.Staged[k])) return refuse(InputError::Kind::SumOverflow, k);
      if (!WithinAllRecords(shard.Staged[k])) return refuse(InputError::Kind::SumTooLarge, k);
    }
    std::copy(shard.Staged.begin(), shard.Staged.end(), sums);
    if (CalendarOrder(start) < CalendarOrder(entry.Start)) entry.Start = start;
    if (CalendarOrder(end) > CalendarOrder(entry.End)) entry.End = end;
    return;
  }
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (!WithinAllRecords(values[k])) return refuse(InputError::Kind::SumTooLarge, k);
  }
  if (!RunBudget.Admit()) {
    shard.WorkValues.assign(1, Decimal::FromUInt64(at));
    shard.WorkValues.insert(shard.WorkValues.end(), values.begin(), values.end());
    shard.Work.Add(key, hash, start, end, shard.WorkValues);
    ++shard.Spilled;
    return;
  }
  if (shard.Keys.AddorGetValueId(key, hash) < 1) return NoteFailure("Unable to add new aggregation key to list.");
  shard.Entries.push_back({at, start, end, &layout, shard.Sums.size()});
  shard.Sums.insert(shard.Sums.end(), values.begin(), values.end());
}

// A later pass of one shard: the records of one partition of its work
// files, in the order they were handed off (each key's in input order), in
// batches whose keys are looked up ahead.
void ParallelAggregator::State::SumWorkFiles(std::size_t shardIndex) {
  constexpr std::size_t kBatch = 16;
  constexpr std::size_t kEntryDistance = 4;
  Shard& shard = *Shards[shardIndex];
  if (!shard.Work.StartReading()) return;
  std::vector<WorkEntry> batch(kBatch);
  std::int64_t sinceCheck = 0;
  while (shard.Work.Read(batch[0])) {
    std::size_t count = 1;
    while (count < kBatch && shard.Work.ReadBuffered(batch[count])) ++count;
    for (std::size_t k = 0; k < count; ++k) shard.Keys.PrefetchSlot(batch[k].KeyHash);
    for (std::size_t k = 0; k < count; ++k) {
      if (k + kEntryDistance < count) shard.PrefetchEntry(batch[k + kEntryDistance].KeyHash);
      const WorkEntry& entry = batch[k];
      std::uint32_t layoutId = 0;
      const Layout* layout = nullptr;
      if (entry.Key.size() >= sizeof layoutId && !entry.ResourceValues.empty()) {
        std::memcpy(&layoutId, entry.Key.data(), sizeof layoutId);
        layout = Layouts.At(layoutId);
      }
      if (layout == nullptr || entry.ResourceValues.size() != layout->KeptResources.size() + 1) {
        throw Error("Unreadable work file entry of shard " + std::to_string(shardIndex) + ": it names no known layout");
      }
      const Ordinal at = entry.ResourceValues[0].Lo64();
      if (at >= StopAt.load(std::memory_order_relaxed)) continue;
      Sum(shard, *layout, entry.Key, entry.KeyHash, entry.Start, entry.End,
          std::span<const Decimal>(entry.ResourceValues).subspan(1), at);
    }
    sinceCheck += static_cast<std::int64_t>(count);
    if (sinceCheck >= kWorkRecordsPerCheck) {
      PassRecords.fetch_add(sinceCheck, std::memory_order_relaxed);
      sinceCheck = 0;
      if (Stop.load()) return;
    }
  }
  PassRecords.fetch_add(sinceCheck, std::memory_order_relaxed);
  shard.Work.DropReading();
}

// Writes the aggregates of the pass (unless the run has failed) in the order
// of their keys' first records, and empties the shards.
void ParallelAggregator::State::EndPass() {
  std::int64_t entries = 0;
  std::int64_t capacity = 0;
  for (const auto& shard : Shards) {
    entries += static_cast<std::int64_t>(shard->Entries.size());
    capacity += static_cast<std::int64_t>(shard->Entries.capacity());
  }
  if (Settings.DebugCounters) {
    Counters.UpdateMaxMemoryUsed();
    Counters.UpdateAggregationEntriesUsedMinMax(entries);
    Counters.UpdateAggregationTableSizeMinMax(capacity);
  }
  if (!Failed() && !Stop.load() && entries > 0) {
    WritePass();
    Aggregates += entries;
  }
  for (const auto& shard : Shards) {
    shard->Clear();
    shard->Work.EndWriting();
  }
}

void ParallelAggregator::State::WritePass() {
  if (!Output.IsFileOpen() && !Output.FileOpen(CResourceFile::kModeAppend)) {
    throw Error("Unable to open file '" + Output.FileName() + "': " + Output.LastErrorMessage());
  }
  // Each shard's aggregates by their first records (the first pass made
  // them in that order), then merged.
  struct Head {
    Ordinal First;
    std::size_t Shard;
    std::size_t Position;
    bool operator>(const Head& other) const noexcept { return First > other.First; }
  };
  std::vector<std::vector<std::uint32_t>> orders(Shards.size());
  std::priority_queue<Head, std::vector<Head>, std::greater<>> heads;
  for (std::size_t s = 0; s < Shards.size(); ++s) {
    const std::vector<Entry>& entries = Shards[s]->Entries;
    std::vector<std::uint32_t>& order = orders[s];
    order.resize(entries.size());
    for (std::size_t e = 0; e < order.size(); ++e) order[e] = static_cast<std::uint32_t>(e);
    std::ranges::sort(order, {}, [&entries](std::uint32_t e) { return entries[e].First; });
    if (!order.empty()) heads.push({entries[order[0]].First, s, 0});
  }
  while (!heads.empty()) {
    const Head head = heads.top();
    heads.pop();
    const std::vector<std::uint32_t>& order = orders[head.Shard];
    WriteEntry(*Shards[head.Shard], order[head.Position]);
    if (head.Position + 1 < order.size()) {
      heads.push({Shards[head.Shard]->Entries[order[head.Position + 1]].First, head.Shard, head.Position + 1});
    }
  }
}

// One aggregate: a record per 99,999,999,999 that its largest sum holds,
// each resource taking as much as fits in each record in turn.
void ParallelAggregator::State::WriteEntry(const Shard& shard, std::size_t index) {
  const Entry& entry = shard.Entries[index];
  const Layout& layout = *entry.EntryLayout;
  const std::string_view key = shard.Keys.ValueView(static_cast<std::int32_t>(index + 1));
  std::size_t at = sizeof(std::uint32_t);
  WriteValues.resize(layout.KeptIdentifiers.size());
  for (std::string_view& value : WriteValues) {
    const std::size_t length = ReadLength(key, at);
    value = key.substr(at, length);
    at += length;
  }
  const std::size_t count = layout.KeptResources.size();
  Remaining.assign(shard.Sums.begin() + static_cast<std::ptrdiff_t>(entry.SumOffset),
                   shard.Sums.begin() + static_cast<std::ptrdiff_t>(entry.SumOffset + count));
  SetValues.resize(count);
  for (bool more = true; more;) {
    more = false;
    for (std::size_t k = 0; k < count; ++k) {
      if (Decimal::Compare(Remaining[k], Cap()) > 0) {
        SetValues[k] = Cap();
        Remaining[k] -= Cap();
        more = true;
      } else {
        SetValues[k] = Remaining[k];
        Remaining[k] = Decimal();
      }
    }
    const std::int32_t before = Output.RecordCount();
    if (!Output.FileWrite(layout.Header, entry.Start, entry.End, std::string_view(), layout.KeptNames, WriteValues,
                          layout.KeptRateCodes, SetValues)) {
      throw Error(Output.LastErrorMessage());
    }
    OutputRecords += static_cast<std::uint32_t>(Output.RecordCount()) - static_cast<std::uint32_t>(before);
  }
}

std::int64_t ParallelAggregator::State::LineNumberOf(Ordinal at) const {
  const std::uint32_t seq = ChunkOf(at);
  std::int64_t line = 1 + LineOf(at);
  for (std::uint32_t earlier = seq; earlier-- > 0 && Chunks[earlier].Input == Chunks[seq].Input;) {
    line += Chunks[earlier].Lines;
  }
  return line;
}

std::string ParallelAggregator::State::MessageOf(const InputError& error) const {
  if (error.What == InputError::Kind::Input) return error.Text;
  const std::int64_t line = LineNumberOf(error.At);
  const std::string& file = Inputs[Chunks[ChunkOf(error.At)].Input].Name;
  switch (error.What) {
    case InputError::Kind::Unreadable:
      try {  // the record reader's own message, now with the line number
        FieldList fields;
        ResourceRecordView record;
        ParseResourceRecordLine(error.Text, line, file, fields, record,
                                Settings.StrictInput ? RecordReading::Strict : RecordReading::Lenient);
      } catch (const RecordError& unreadable) {
        return unreadable.what();
      }
      break;
    case InputError::Kind::TooLong:
      return "Unreadable resource record at line " + std::to_string(line) + " of '" + file +
             "': it is longer than " + std::to_string(LineReader::kMaxLineLength) + " bytes";
    default:
      break;
  }
  std::string reason = error.Text;
  if (error.What == InputError::Kind::SumTooLarge || error.What == InputError::Kind::SumOverflow) {
    const Layout& layout = *error.RecordLayout;
    reason = "the resource value '" + error.Value.ToString() + "' for '" + layout.RateCodeOf(error.Resource) +
             "' (field " + std::to_string(layout.ResourceValueField(error.Resource)) + ") ";
    reason += error.What == InputError::Kind::SumTooLarge
                  ? "would make its aggregate need more than " + std::to_string(TypedEngine::kMaximumResourceSets) +
                        " output records of at most " + Cap().ToString()
                  : "would make the sum of its aggregate overflow an exact decimal";
  }
  return "Refused resource record at line " + std::to_string(line) + " of '" + file + "': " + reason;
}

void ParallelAggregator::State::FillCounters() {
  std::int64_t calls = 0;
  std::int64_t spilled = 0;
  for (const auto& shard : Shards) {
    calls += shard->Calls;
    spilled += shard->Spilled;
  }
  Count(Counters, &CDebugCounters::IncrementInputRecords, InputRecords.load());
  Count(Counters, &CDebugCounters::IncrementCallCount_AddEntry, calls);
  Count(Counters, &CDebugCounters::IncrementRejectRecordsCount, spilled);
  Count(Counters, &CDebugCounters::IncrementRejectPassesCount, ExternalPasses);
  Count(Counters, &CDebugCounters::IncrementOutputRecords, OutputRecords);
  Count(Counters, &CDebugCounters::IncrementAggregateCount, Aggregates);
}

bool ParallelAggregator::State::Run(std::span<const AggregationInput> inputs, const std::string& output) {
  Inputs = inputs;
  Output.SetFileName(output);
  try {
    Shards.clear();
    std::string workFolder = Settings.WorkPath.empty() ? platform::TempDirectory() : Settings.WorkPath;
    if (workFolder.back() != kPathSeparator && workFolder.back() != '/') workFolder += kPathSeparator;
    for (std::size_t s = 0; s < ShardCount; ++s) {
      Shards.push_back(std::make_unique<Shard>());
      Shards.back()->Work.SetFolder(workFolder);
    }
    Reader = std::make_unique<ChunkReader>(inputs, ChunkBytesFor(static_cast<int>(ShardCount)));
    Slots = std::vector<Slot>(2 * ShardCount + 2);
    ShardNext.assign(ShardCount, 0);
    ShardBusy = std::make_unique<std::mutex[]>(ShardCount);

    if (Settings.DebugCounters) Counters.StartProcessTimeInterval_AddEntry();
    RunBudget.StartPass();
    RunWorkers(1, [this](std::size_t self) { IntakeWorker(self); });
    Slots.clear();
    Reader.reset();
    if (Settings.DebugCounters) {
      Counters.StopProcessTimeInterval_AddEntry();
      Counters.StartProcessTimeInterval_WriteResourceFile();
    }
    if (!Stop.load()) EndPass();
    // Further passes, one partition of each shard's work files a pass, while
    // any holds records. After an input error they still look for an earlier
    // one among the records they hold.
    for (std::int64_t pass = 2; !Stop.load(); ++pass) {
      if (std::ranges::none_of(Shards, [](const auto& shard) { return shard->Work.HasPending(); })) break;
      ++ExternalPasses;
      RunBudget.StartPass();
      RunWorkers(pass, [this](std::size_t self) { SumWorkFiles(self); });
      if (!Stop.load()) EndPass();
    }
    if (Output.IsFileOpen()) Output.FileClose();
    if (Settings.DebugCounters) Counters.StopProcessTimeInterval_WriteResourceFile();
  } catch (const std::exception& error) {
    NoteFailure(error.what());
  }
  if (Output.IsFileOpen()) {
    try {
      Output.FileClose();
    } catch (const Error&) {  // the run has failed already
    }
  }
  for (const auto& shard : Shards) shard->Work.RemoveAll();
  FillCounters();
  if (WasStopped && !FailedHard.load()) {
    LastError = kStopped;
    return false;
  }
  if (FailedHard.load()) {
    LastError = Failure;
    return false;
  }
  if (FirstError.At != kNoOrdinal) {
    LastError = MessageOf(FirstError);
    return false;
  }
  return true;
}

ParallelAggregator::ParallelAggregator(AggregationSettings settings)
    : state_(std::make_unique<State>(std::move(settings))) {}

ParallelAggregator::~ParallelAggregator() = default;

bool ParallelAggregator::Run(std::span<const AggregationInput> inputs, const std::string& output) {
  return state_->Run(inputs, output);
}

const std::string& ParallelAggregator::LastErrorMessage() const noexcept { return state_->LastError; }

bool ParallelAggregator::Stopped() const noexcept { return state_->WasStopped; }

std::string ParallelAggregator::ResultsMessage() const { return agg::ResultsMessage(state_->Counters); }

std::string ParallelAggregator::DebugMessage() const {
  const AggregationSettings& settings = state_->Settings;
  return agg::DebugMessage(state_->Counters, DebugMessageSettings {settings.DebugCounters, settings.MaxEntries,
                                                                   settings.MemoryMinimum, settings.MemoryMaximum});
}

std::vector<std::string> ParallelAggregator::UnmatchedDropIdentifiers() const {
  return state_->Layouts.UnmatchedIdentifiers();
}

std::vector<std::string> ParallelAggregator::UnmatchedDropResources() const {
  return state_->Layouts.UnmatchedResources();
}

void ParallelAggregator::SetProgress(Progress progress) { state_->ShowProgress = std::move(progress); }

void ParallelAggregator::SetStopRequest(std::function<bool()> stopRequested) {
  state_->StopRequested = std::move(stopRequested);
}

void ParallelAggregator::SetMemoryUsedProbe(std::function<std::int32_t()> probe) {
  state_->RunBudget.SetProbe(std::move(probe));
}

}  // namespace quax::agg::tools
