#include "engine/value_id_map.h"

#include <algorithm>
#include <cstring>

#include "record/agg_error.h"
#include "record/byte_copy.h"

namespace quax::agg {

namespace {

constexpr unsigned char Fold(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

std::uint32_t CValueIdMap::Hash(std::string_view text) const noexcept {
  constexpr std::uint64_t kOdd1 = 0xFF51AFD7ED558CCDull;
  constexpr std::uint64_t kOdd2 = 0xC4CEB9FE1A85EC53ull;
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
  if (!ignoreCase_) {
    // Eight bytes at a time in two independent lanes: the keys of the
    // engine are long, and the lanes' multiplications overlap.
    const auto load = [&text](std::size_t at) {
      std::uint64_t word = 0;
      std::memcpy(&word, text.data() + at, 8);
      return word;
    };
    std::uint64_t g = 0x2545F4914F6CDD1Dull;
    std::size_t i = 0;
    for (; i + 16 <= text.size(); i += 16) {
      h = (h ^ load(i)) * kOdd1;
      g = (g ^ load(i + 8)) * kOdd2;
      h ^= h >> 32;
      g ^= g >> 29;
    }
    if (i + 8 <= text.size()) {
      h = (h ^ load(i)) * kOdd1;
      h ^= h >> 32;
      i += 8;
    }
    if (i < text.size()) {  // the last bytes as one zero-filled word (the length is mixed in)
      std::uint64_t word = 0;
      std::memcpy(&word, text.data() + i, text.size() - i);
      g = (g ^ word) * kOdd2;
      g ^= g >> 29;
    }
    h ^= g * kOdd1;
  } else {
    for (const char c : text) h = (h ^ Fold(static_cast<unsigned char>(c))) * 0x100000001B3ull;
  }
  h ^= h >> 33;
  h *= kOdd2;
  h ^= h >> 33;
  return static_cast<std::uint32_t>(h);
}

std::string_view CValueIdMap::TextAt(const char* stored) noexcept {
  std::uint32_t length = 0;
  std::memcpy(&length, stored, sizeof length);
  return std::string_view(stored + sizeof length, length);
}

bool CValueIdMap::Same(std::string_view a, std::string_view b) const noexcept {
  if (a.size() != b.size()) return false;
  if (!ignoreCase_) return SameBytes(a, b);
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::size_t CValueIdMap::FindSlot(std::string_view text, std::uint32_t hash) const noexcept {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.Id == 0) return i;
    if (slot.Hash == hash && Same(TextAt(slot.Text), text)) return i;
  }
}

void CValueIdMap::GrowSlots() {
  std::vector<Slot, TableAllocator<Slot>> grown(slots_.empty() ? 16 : slots_.size() * 2);
  const std::size_t mask = grown.size() - 1;
  for (const Slot& slot : slots_) {
    if (slot.Id == 0) continue;
    std::size_t i = slot.Hash & mask;
    while (grown[i].Id != 0) i = (i + 1) & mask;
    grown[i] = slot;
  }
  slots_ = std::move(grown);
}

const char* CValueIdMap::Store(std::string_view text) {
  const std::size_t needed = sizeof(std::uint32_t) + text.size();
  if (blockSizeBytes_ - blockUsedBytes_ < needed) {
    const std::size_t size = std::max(needed, blocks_.empty() ? kFirstBlockBytes : kBlockBytes);
    blocks_.push_back(AllocateTableBlock(size));  // nothing changes when this throws
    blockSizeBytes_ = size;
    blockUsedBytes_ = 0;
  }
  char* stored = blocks_.back().get() + blockUsedBytes_;
  const auto length = static_cast<std::uint32_t>(text.size());
  std::memcpy(stored, &length, sizeof length);
  if (!text.empty()) std::memcpy(stored + sizeof length, text.data(), text.size());
  blockUsedBytes_ += needed;
  return stored;
}

CValueIdMap::CValueIdMap() = default;

bool CValueIdMap::Initialize() {
  slots_.clear();
  slots_.shrink_to_fit();
  ignoreCase_ = false;
  initialListSize_ = kDefaultInitialListSize;
  textsById_.clear();
  textsById_.shrink_to_fit();
  blocks_.clear();
  blockUsedBytes_ = blockSizeBytes_ = 0;
  entryCount_ = 0;
  capacity_ = 0;
  return false;
}

void CValueIdMap::SetIgnoreCase(bool ignoreCase) {
  if (ignoreCase == ignoreCase_) return;
  if (entryCount_ > 0) throw Error(kCompareModeLocked);
  ignoreCase_ = ignoreCase;
}

std::int32_t CValueIdMap::AddorGetValueId(std::string_view stringValue) {
  return AddorGetValueId(stringValue, Hash(stringValue));
}

std::int32_t CValueIdMap::AddorGetValueId(std::string_view stringValue, std::uint32_t hash) {
  if (slots_.empty()) GrowSlots();
  std::size_t at = FindSlot(stringValue, hash);
  if (slots_[at].Id != 0) return slots_[at].Id;
  // No id is left, or the text cannot be stored: 0, which callers report.
  if (stringValue.size() > UINT32_MAX - sizeof(std::uint32_t) || entryCount_ == INT32_MAX) return 0;
  const std::int32_t id = entryCount_ + 1;
  // What allocates comes first: running out of memory (std::bad_alloc)
  // leaves the map as it was, at most with a text stored for nothing.
  if (static_cast<std::size_t>(id) * 2 > slots_.size()) {
    GrowSlots();
    at = FindSlot(stringValue, hash);
  }
  const char* stored = Store(stringValue);
  textsById_.push_back(stored);
  if (id > capacity_) {
    std::int64_t next = capacity_ > 0 ? std::int64_t{capacity_} * 2 : initialListSize_;
    if (next < id) next = id;  // an InitialListSize below 1
    capacity_ = static_cast<std::int32_t>(next > INT32_MAX ? INT32_MAX : next);
  }
  slots_[at] = Slot {stored, hash, id};
  entryCount_ = id;
  return id;
}

void CValueIdMap::PrefetchSlot(std::uint32_t hash) const noexcept {
  if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
}

std::int32_t CValueIdMap::PrefetchText(std::uint32_t hash) const noexcept {
  if (slots_.empty()) return 0;
  // The first slot of the probe run with the same hash (a few neighbours at
  // most, mostly in the same line).
  const std::size_t mask = slots_.size() - 1;
  constexpr int kProbes = 8;
  std::size_t i = hash & mask;
  for (int probe = 0; probe < kProbes; ++probe, i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.Id == 0) return 0;
    if (slot.Hash != hash) continue;
    __builtin_prefetch(slot.Text);
    __builtin_prefetch(slot.Text + 64);  // keys run over a line
    return slot.Id;
  }
  return 0;
}

std::int32_t CValueIdMap::GetIdFromValue(std::string_view stringValue) const {
  return GetIdFromValue(stringValue, Hash(stringValue));
}

std::int32_t CValueIdMap::GetIdFromValue(std::string_view stringValue, std::uint32_t hash) const {
  if (slots_.empty()) return 0;
  return slots_[FindSlot(stringValue, hash)].Id;
}

std::string_view CValueIdMap::ValueView(std::int32_t mapId) const noexcept {
  if (mapId < 1 || mapId > entryCount_) return {};
  return TextAt(textsById_[static_cast<std::size_t>(mapId - 1)]);
}

std::string CValueIdMap::GetValueFromId(std::int32_t mapId) const {
  return std::string(ValueView(mapId));
}

std::vector<std::string> CValueIdMap::GetValues() const {
  std::vector<std::string> values(static_cast<std::size_t>(capacity_));
  for (std::size_t i = 0; i < textsById_.size(); ++i) values[i] = TextAt(textsById_[i]);
  return values;
}

}  // namespace quax::agg
