#include "value_id_map.h"

#include "agg_error.h"

namespace quax::agg {

namespace {

constexpr unsigned char Fold(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

std::size_t CValueIdMap::Hash::operator()(std::string_view text) const noexcept {
  // FNV-1a over the (folded) bytes.
  std::uint64_t h = 14695981039346656037ull;
  for (const char c : text) {
    const unsigned char b = ignoreCase ? Fold(static_cast<unsigned char>(c))
                                       : static_cast<unsigned char>(c);
    h = (h ^ b) * 1099511628211ull;
  }
  return static_cast<std::size_t>(h ^ (h >> 32));
}

bool CValueIdMap::Equal::operator()(std::string_view a, std::string_view b) const noexcept {
  if (a.size() != b.size()) return false;
  if (!ignoreCase) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

CValueIdMap::Map CValueIdMap::MakeMap(bool ignoreCase) const {
  return Map(16, Hash{ignoreCase}, Equal{ignoreCase});
}

CValueIdMap::CValueIdMap() : map_(MakeMap(false)) {}

bool CValueIdMap::Initialize() {
  map_ = MakeMap(false);
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
  if (!map_.empty()) throw Error(kCompareModeLocked);
  map_ = MakeMap(ignoreCase);
  ignoreCase_ = ignoreCase;
}

std::int32_t CValueIdMap::AddorGetValueId(std::string_view stringValue) {
  const auto found = map_.find(stringValue);
  if (found != map_.end()) return found->second;
  const std::int32_t id = entryCount_ + 1;
  if (id > capacity_) {
    std::int32_t next = capacity_ > 0 ? capacity_ * 2 : initialListSize_;
    if (next < id) next = id;  // an InitialListSize below 1
    reverse_.resize(static_cast<std::size_t>(next));
    capacity_ = next;
  }
  map_.emplace(std::string(stringValue), id);
  reverse_[static_cast<std::size_t>(id - 1)] = std::string(stringValue);
  entryCount_ = id;
  return id;
}

std::int32_t CValueIdMap::GetIdFromValue(std::string_view stringValue) const {
  const auto found = map_.find(stringValue);
  return found == map_.end() ? 0 : found->second;
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
