#include "engine/table_memory.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quax::agg {

#if defined(__linux__)

namespace {
constexpr std::size_t kHugePage = 2u << 20;

bool Huge(std::size_t bytes) noexcept { return bytes >= kHugePage; }
std::size_t Rounded(std::size_t bytes) noexcept { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
}  // namespace

void* AllocateTableMemory(std::size_t bytes) {
  if (!Huge(bytes)) return ::operator new(bytes);
  void* memory = nullptr;
  if (posix_memalign(&memory, kHugePage, Rounded(bytes)) != 0) throw std::bad_alloc();
  // A hint: without huge pages the memory serves all the same.
  madvise(memory, Rounded(bytes), MADV_HUGEPAGE);
  return memory;
}

void FreeTableMemory(void* memory, std::size_t bytes) noexcept {
  if (!Huge(bytes)) {
    ::operator delete(memory);
    return;
  }
  std::free(memory);
}

#else

void* AllocateTableMemory(std::size_t bytes) { return ::operator new(bytes); }

void FreeTableMemory(void* memory, std::size_t) noexcept { ::operator delete(memory); }

#endif

}  // namespace quax::agg
