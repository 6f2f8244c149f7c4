// Memory of the engine's big tables (the key map's slots and texts, the
// aggregation table). They are read at random, so with small pages nearly
// every access also misses the processor's address translation cache; where
// the system offers it (Linux), runs of 2 MB and more are asked to be backed
// by huge pages. Elsewhere this is plain operator new.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace quax::agg {

// Throws std::bad_alloc. FreeTableMemory takes the byte count given.
void* AllocateTableMemory(std::size_t bytes);
void FreeTableMemory(void* memory, std::size_t bytes) noexcept;

// For tests: table memory beyond `bytes` in all is refused with
// std::bad_alloc, as when a 32-bit process runs out of address space;
// SIZE_MAX (the default) sets no limit.
void SetTableMemoryLimit(std::size_t bytes) noexcept;

template <class T>
struct TableAllocator {
  using value_type = T;
  TableAllocator() noexcept = default;
  template <class U>
  TableAllocator(const TableAllocator<U>&) noexcept {}  // NOLINT: rebinding
  T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateTableMemory(count * sizeof(T)));
  }
  void deallocate(T* memory, std::size_t count) noexcept { FreeTableMemory(memory, count * sizeof(T)); }
  template <class U>
  bool operator==(const TableAllocator<U>&) const noexcept {
    return true;
  }
};

// A block of table memory of a size known at its release.
struct TableMemoryDeleter {
  std::size_t Bytes = 0;
  void operator()(char* memory) const noexcept { FreeTableMemory(memory, Bytes); }
};
using TableBlock = std::unique_ptr<char[], TableMemoryDeleter>;

inline TableBlock AllocateTableBlock(std::size_t bytes) {
  return TableBlock(static_cast<char*>(AllocateTableMemory(bytes)), TableMemoryDeleter {bytes});
}

}  // namespace quax::agg
