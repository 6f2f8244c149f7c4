// A host process for the in-process collector: loads the library the way
// user32 does and ends it the way the test asks.
//   quax_hook_host LIBRARY EVENTBASE free
//       loads LIBRARY, sets EVENTBASE.loaded, waits for EVENTBASE.end,
//       unloads it, sets EVENTBASE.freed, waits for EVENTBASE.quit, exits 0
//   quax_hook_host LIBRARY EVENTBASE exit
//       loads LIBRARY, sets EVENTBASE.loaded, waits for EVENTBASE.end and
//       exits with code 3 while the library is still loaded
//   quax_hook_host LIBRARY EVENTBASE cycle COUNT
//       loads and unloads LIBRARY COUNT times, holding it between 0 and
//       1.2 s, then exits 0
// Exit codes from 100 up report a failure of the host itself.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "unique_handle.h"

namespace {

using quax::unique_handle;

constexpr DWORD kWaitMilliseconds = 60000;

unique_handle OpenNamedEvent(const std::string& name) {
  return unique_handle(OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str()));
}

bool Signal(const std::string& name) {
  unique_handle event = OpenNamedEvent(name);
  return event && SetEvent(event.get());
}

bool WaitFor(const std::string& name) {
  unique_handle event = OpenNamedEvent(name);
  return event && WaitForSingleObject(event.get(), kWaitMilliseconds) == WAIT_OBJECT_0;
}

int Cycle(const char* library, int count) {
  for (int i = 0; i < count; ++i) {
    HMODULE module = LoadLibraryA(library);
    if (module == nullptr) return 101;
    // From "at once" (the worker has not started) to past one interval.
    const DWORD holds[] = {0, 1, 5, 30, 200, 990, 1000, 1010, 1200};
    Sleep(holds[i % (sizeof holds / sizeof holds[0])]);
    if (!FreeLibrary(module)) return 102;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[3], "cycle") == 0) return Cycle(argv[1], std::atoi(argv[4]));
  if (argc != 4) return 2;
  const std::string base = argv[2];
  const bool freeLibrary = std::strcmp(argv[3], "free") == 0;
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == nullptr) return 101;
  if (!Signal(base + ".loaded")) return 103;
  if (!WaitFor(base + ".end")) return 104;
  if (!freeLibrary) ExitProcess(3);
  if (!FreeLibrary(module)) return 102;
  if (!Signal(base + ".freed")) return 103;
  if (!WaitFor(base + ".quit")) return 104;
  return 0;
}
