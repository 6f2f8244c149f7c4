// CValueIdMap: every distinct text gets a dense id 1, 2, 3, ... in
// order of first appearance; ids map back to texts through a reverse list
// whose capacity starts at InitialListSize and doubles.
//
// The dictionary is a hash table with exact (binary) comparison or, with
// IgnoreCase, comparison that ignores the case of ASCII letters (the
// scripting dictionary's text comparison for the texts of this system).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quax::agg {

class CValueIdMap {
 public:
  static constexpr std::int32_t kDefaultInitialListSize = 16384;
  // Raised when IgnoreCase changes on a map that holds texts.
  static constexpr const char* kCompareModeLocked = "Invalid procedure call or argument";

  CValueIdMap();

  // Always answers false.
  bool Initialize();

  bool IgnoreCase() const noexcept { return ignoreCase_; }
  // Throws Error when the map is not empty and the mode changes.
  void SetIgnoreCase(bool ignoreCase);

  std::int32_t InitialListSize() const noexcept { return initialListSize_; }
  void SetInitialListSize(std::int32_t size) noexcept { initialListSize_ = size; }

  std::int32_t EntryCount() const noexcept { return entryCount_; }

  std::int32_t AddorGetValueId(std::string_view stringValue);
  std::int32_t GetIdFromValue(std::string_view stringValue) const;
  // Empty text unless 1 <= mapId <= EntryCount.
  std::string GetValueFromId(std::int32_t mapId) const;
  // A view of the text of an id (empty view when out of range); valid until
  // the next change of the map.
  std::string_view ValueView(std::int32_t mapId) const noexcept;
  // A copy of the reverse list: Capacity slots, empty beyond EntryCount.
  std::vector<std::string> GetValues() const;

  std::int32_t Capacity() const noexcept { return capacity_; }

 private:
  // Open addressing with linear probing over a power-of-two array kept at
  // most half full; a slot holds the text's full hash and its id (0 = free).
  // The texts themselves live only in the reverse list.
  struct Slot {
    std::uint64_t Hash = 0;
    std::int32_t Id = 0;
  };

  std::uint64_t HashOf(std::string_view text) const noexcept;
  bool Same(std::string_view a, std::string_view b) const noexcept;
  // The slot holding the text, or the free slot where it belongs.
  std::size_t FindSlot(std::string_view text, std::uint64_t hash) const noexcept;
  void GrowSlots();

  std::vector<Slot> slots_;
  bool ignoreCase_ = false;
  std::int32_t initialListSize_ = kDefaultInitialListSize;
  std::vector<std::string> reverse_;
  std::int32_t entryCount_ = 0;
  std::int32_t capacity_ = 0;
};

}  // namespace quax::agg
