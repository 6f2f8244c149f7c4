#include "com/server.h"

#include <oleauto.h>

#include <array>
#include <atomic>
#include <utility>

#include "unique_com.h"

namespace quax::com {
namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_references {0};

// A handful of interfaces and classes: a fixed table, filled on demand. The
// references are held raw on purpose: a static owner would release them from
// the DLL's exit code, under the loader lock.
struct CachedTypeInfo {
  GUID Guid {};
  ITypeInfo* Info = nullptr;
};
constexpr std::size_t kTypeInfoSlots = 24;
SRWLOCK g_cacheLock = SRWLOCK_INIT;
std::array<CachedTypeInfo, kTypeInfoSlots> g_cache {};
ITypeLib* g_library = nullptr;

}  // namespace

void SetServerModule(HMODULE module) noexcept { g_module = module; }

std::string ServerPath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(g_module, path, MAX_PATH);
  return std::string(path, length < MAX_PATH ? length : 0);
}

std::wstring ServerPathWide() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  return std::wstring(path, length < MAX_PATH ? length : 0);
}

void AddServerReference() noexcept { ++g_references; }
void ReleaseServerReference() noexcept { --g_references; }
bool ServerInUse() noexcept { return g_references.load() != 0; }

HRESULT LoadServerTypeLibrary(ITypeLib** out) noexcept {
  *out = nullptr;
  std::wstring path;
  try {
    path = ServerPathWide();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  return LoadTypeLibEx(path.c_str(), REGKIND_NONE, out);
}

ITypeInfo* ServerTypeInfo(REFGUID guid) noexcept {
  const exclusive_lock_hold lock(g_cacheLock);
  for (const CachedTypeInfo& slot : g_cache) {
    if (slot.Info != nullptr && IsEqualGUID(slot.Guid, guid)) return slot.Info;
  }
  if (g_library == nullptr && FAILED(LoadServerTypeLibrary(&g_library))) return nullptr;
  for (CachedTypeInfo& slot : g_cache) {
    if (slot.Info != nullptr) continue;
    if (FAILED(g_library->GetTypeInfoOfGuid(guid, &slot.Info))) return nullptr;
    slot.Guid = guid;
    return slot.Info;
  }
  return nullptr;
}

void ReleaseServerTypeInfo() noexcept {
  const exclusive_lock_hold lock(g_cacheLock);
  for (CachedTypeInfo& slot : g_cache) {
    // The cache owns these references; this is their one release.
    unique_com<ITypeInfo> owned(std::exchange(slot.Info, nullptr));
  }
  unique_com<ITypeLib> library(std::exchange(g_library, nullptr));
}

}  // namespace quax::com
