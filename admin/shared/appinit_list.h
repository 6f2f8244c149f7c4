// The AppInit_DLLs list through which Windows loads the in-process collector
// into every process that loads user32.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quax {

inline constexpr char kCollectorLibrary[] = "quaxcolhook.dll";

// Whether an entry of the list names the collector library: its file name,
// with or without a folder, equals "quaxcolhook.dll" in any case.
bool ListNamesCollector(std::string_view appInitDlls);

// The list with every entry naming the collector removed and, when
// registering, the collector appended last. Entries are split at commas (at
// blanks when there is no comma), trimmed, joined by commas; empty entries
// are dropped and the other entries keep their order.
std::string RebuildAppInitList(std::string_view appInitDlls, bool registerCollector);

}  // namespace quax

namespace quax {

// Since Windows 7 the list is loaded only while LoadAppInit_DLLs, a
// REG_DWORD beside it, is 1 (it is 0 by default). quaxhookadmin turns it on
// when it registers the collector and remembers, in its own key, that it
// did. It turns it off again only when it unregisters the collector, the
// list is left empty, and it was the one that turned it on: a value someone
// else set stays as it is, and so does loading while other libraries are
// still listed.
struct AppInitState {
  std::string List;          // AppInit_DLLs
  bool LoadingOn = false;    // LoadAppInit_DLLs is 1
  bool LoadingOurs = false;  // quaxhookadmin turned it on
};

struct AppInitChange {
  std::string List;
  // What to write into LoadAppInit_DLLs and the ownership mark; nothing:
  // leave them as they are.
  std::optional<bool> Loading;
  std::optional<bool> Ours;
};

AppInitChange PlanAppInitChange(const AppInitState& now, bool registerCollector);

// Why Windows will not load the collector from the list, in plain words;
// empty when nothing stops it. Secure Boot (Windows 8 and later) makes
// Windows ignore the list; RequireSignedAppInit_DLLs limits it to signed
// libraries, and the collector is not signed.
std::string AppInitBlockedText(bool secureBootOn, bool signatureRequired);

}  // namespace quax
