#include "engine/table_memory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quax::agg {

namespace {

#if defined(__linux__)

constexpr std::size_t kHugePage = 2u << 20;

bool Huge(std::size_t bytes) noexcept { return bytes >= kHugePage; }
std::size_t Rounded(std::size_t bytes) noexcept { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

void* Allocate(std::size_t bytes) {
  if (!Huge(bytes)) return ::operator new(bytes);
  void* memory = nullptr;
  if (posix_memalign(&memory, kHugePage, Rounded(bytes)) != 0) throw std::bad_alloc();
  // A hint: without huge pages the memory serves all the same.
  madvise(memory, Rounded(bytes), MADV_HUGEPAGE);
  return memory;
}

void Free(void* memory, std::size_t bytes) noexcept {
  if (!Huge(bytes)) {
    ::operator delete(memory);
    return;
  }
  std::free(memory);
}

#else

void* Allocate(std::size_t bytes) { return ::operator new(bytes); }

void Free(void* memory, std::size_t) noexcept { ::operator delete(memory); }

#endif

std::atomic<std::size_t> g_limit {SIZE_MAX};
std::atomic<std::size_t> g_inUse {0};

}  // namespace

void SetTableMemoryLimit(std::size_t bytes) noexcept { g_limit.store(bytes); }

void* AllocateTableMemory(std::size_t bytes) {
  const std::size_t before = g_inUse.fetch_add(bytes);
  try {
    if (before + bytes < before || before + bytes > g_limit.load()) throw std::bad_alloc();
    return Allocate(bytes);
  } catch (...) {
    g_inUse.fetch_sub(bytes);
    throw;
  }
}

void FreeTableMemory(void* memory, std::size_t bytes) noexcept {
  Free(memory, bytes);
  g_inUse.fetch_sub(bytes);
}

}  // namespace quax::agg
