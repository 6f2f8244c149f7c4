// The AppInit_DLLs list through which Windows loads the in-process collector
// into every process that loads user32.
#pragma once

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
