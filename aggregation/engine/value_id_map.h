// CValueIdMap: every distinct text gets a dense id 1, 2, 3, ... in
// order of first appearance; ids map back to texts through a reverse list
// whose capacity starts at InitialListSize and doubles (the capacity is a
// count: storage is taken as texts arrive, not for the whole capacity).
//
// The dictionary is a hash table with exact (binary) comparison or, with
// IgnoreCase, comparison that ignores the case of ASCII letters (the
// scripting dictionary's text comparison for the texts of this system).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/table_memory.h"

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
  // The same for a text whose Hash the caller has.
  std::int32_t AddorGetValueId(std::string_view stringValue, std::uint32_t hash);
  std::int32_t GetIdFromValue(std::string_view stringValue, std::uint32_t hash) const;

  // Lookahead for a text to be looked up soon: its hash, a hint to load its
  // slot, and (once the slot is loaded) a hint to load the text in it,
  // answering that slot's id (0 when free), mostly the text's own. The hints
  // change nothing.
  std::uint32_t Hash(std::string_view text) const noexcept;
  void PrefetchSlot(std::uint32_t hash) const noexcept;
  std::int32_t PrefetchText(std::uint32_t hash) const noexcept;
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
  // most half full. A slot holds 32 bits of the text's hash (which also place
  // it) and the text itself, so a lookup touches the slot and the text and
  // nothing else; Id 0 marks a free slot.
  struct Slot {
    const char* Text = nullptr;  // a stored text (see TextAt)
    std::uint32_t Hash = 0;
    std::int32_t Id = 0;
  };
  // Texts are stored back to back in blocks that never move, each as its
  // byte length (4 bytes) followed by its bytes. A small first block serves
  // the small maps; a map that outgrows it goes on in blocks of huge-page size.
  static constexpr std::size_t kFirstBlockBytes = 64 * 1024;
  static constexpr std::size_t kBlockBytes = 2 * 1024 * 1024;
  static std::string_view TextAt(const char* stored) noexcept;

  bool Same(std::string_view a, std::string_view b) const noexcept;
  // The slot holding the text, or the free slot where it belongs.
  std::size_t FindSlot(std::string_view text, std::uint32_t hash) const noexcept;
  void GrowSlots();
  const char* Store(std::string_view text);

  std::vector<Slot, TableAllocator<Slot>> slots_;
  bool ignoreCase_ = false;
  std::int32_t initialListSize_ = kDefaultInitialListSize;
  std::vector<const char*> textsById_;  // the reverse list, index id - 1
  std::vector<TableBlock> blocks_;
  std::size_t blockUsedBytes_ = 0;
  std::size_t blockSizeBytes_ = 0;
  std::int32_t entryCount_ = 0;
  std::int32_t capacity_ = 0;
};

}  // namespace quax::agg
