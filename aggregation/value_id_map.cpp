#include "value_id_map.h"

#include <cstring>

#include "agg_error.h"

namespace quax::agg {

namespace {

constexpr unsigned char Fold(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

std::uint64_t CValueIdMap::HashOf(std::string_view text) const noexcept {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
  if (!ignoreCase_) {
    // Eight bytes at a time: the keys of the engine are long.
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, text.data() + i, 8);
      h = (h ^ word) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    for (; i < text.size(); ++i) {
      h = (h ^ static_cast<unsigned char>(text[i])) * 0x100000001B3ull;
    }
  } else {
    for (const char c : text) h = (h ^ Fold(static_cast<unsigned char>(c))) * 0x100000001B3ull;
  }
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

bool CValueIdMap::Same(std::string_view a, std::string_view b) const noexcept {
  if (a.size() != b.size()) return false;
  if (!ignoreCase_) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::size_t CValueIdMap::FindSlot(std::string_view text, std::uint64_t hash) const noexcept {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.Id == 0) return i;
    if (slot.Hash == hash && Same(reverse_[static_cast<std::size_t>(slot.Id - 1)], text)) return i;
  }
}

void CValueIdMap::GrowSlots() {
  std::vector<Slot> grown(slots_.empty() ? 16 : slots_.size() * 2);
  const std::size_t mask = grown.size() - 1;
  for (const Slot& slot : slots_) {
    if (slot.Id == 0) continue;
    std::size_t i = static_cast<std::size_t>(slot.Hash) & mask;
    while (grown[i].Id != 0) i = (i + 1) & mask;
    grown[i] = slot;
  }
  slots_ = std::move(grown);
}

CValueIdMap::CValueIdMap() = default;

bool CValueIdMap::Initialize() {
  slots_.clear();
  slots_.shrink_to_fit();
  ignoreCase_ = false;
  initialListSize_ = kDefaultInitialListSize;
  reverse_.clear();
  reverse_.shrink_to_fit();
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
  if (slots_.empty()) GrowSlots();
  const std::uint64_t hash = HashOf(stringValue);
  std::size_t at = FindSlot(stringValue, hash);
  if (slots_[at].Id != 0) return slots_[at].Id;
  const std::int32_t id = entryCount_ + 1;
  if (id > capacity_) {
    std::int32_t next = capacity_ > 0 ? capacity_ * 2 : initialListSize_;
    if (next < id) next = id;  // an InitialListSize below 1
    reverse_.resize(static_cast<std::size_t>(next));
    capacity_ = next;
  }
  reverse_[static_cast<std::size_t>(id - 1)] = std::string(stringValue);
  if (static_cast<std::size_t>(id) * 2 > slots_.size()) {
    GrowSlots();
    at = FindSlot(stringValue, hash);
  }
  slots_[at] = Slot {hash, id};
  entryCount_ = id;
  return id;
}

std::int32_t CValueIdMap::GetIdFromValue(std::string_view stringValue) const {
  if (slots_.empty()) return 0;
  return slots_[FindSlot(stringValue, HashOf(stringValue))].Id;
}

std::string_view CValueIdMap::ValueView(std::int32_t mapId) const noexcept {
  if (mapId < 1 || mapId > entryCount_) return {};
  return reverse_[static_cast<std::size_t>(mapId - 1)];
}

std::string CValueIdMap::GetValueFromId(std::int32_t mapId) const {
  return std::string(ValueView(mapId));
}

std::vector<std::string> CValueIdMap::GetValues() const { return reverse_; }

}  // namespace quax::agg
