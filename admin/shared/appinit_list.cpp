#include "appinit_list.h"

#include <vector>

#include "fixed_text.h"

namespace quax {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> SplitAt(std::string_view text, bool (*separator)(char)) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || separator(text[i])) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

std::vector<std::string_view> Entries(std::string_view list) {
  std::vector<std::string_view> parts = SplitAt(list, [](char c) { return c == ','; });
  if (parts.size() < 2) parts = SplitAt(list, &IsBlank);
  std::vector<std::string_view> entries;
  for (const std::string_view part : parts) {
    const std::string_view entry = Trimmed(part);
    if (!entry.empty()) entries.push_back(entry);
  }
  return entries;
}

bool NamesCollector(std::string_view entry) {
  const std::size_t folderEnd = entry.find_last_of("\\/");
  const std::string_view name = folderEnd == std::string_view::npos ? entry : entry.substr(folderEnd + 1);
  return name.size() == std::string_view(kCollectorLibrary).size() &&
         EqualsIgnoreCase(name.data(), kCollectorLibrary, name.size());
}

}  // namespace

bool ListNamesCollector(std::string_view appInitDlls) {
  for (const std::string_view entry : Entries(appInitDlls)) {
    if (NamesCollector(entry)) return true;
  }
  return false;
}

std::string RebuildAppInitList(std::string_view appInitDlls, bool registerCollector) {
  std::string list;
  const auto append = [&list](std::string_view entry) {
    if (!list.empty()) list += ',';
    list += entry;
  };
  for (const std::string_view entry : Entries(appInitDlls)) {
    if (!NamesCollector(entry)) append(entry);
  }
  if (registerCollector) append(kCollectorLibrary);
  return list;
}

}  // namespace quax

namespace quax {

namespace {

constexpr char kLoadedByServiceAnyway[] = " The collector service records every process either way.";

}  // namespace

AppInitChange PlanAppInitChange(const AppInitState& now, bool registerCollector) {
  AppInitChange change{RebuildAppInitList(now.List, registerCollector), std::nullopt, std::nullopt};
  if (registerCollector) {
    if (!now.LoadingOn) change.Loading = change.Ours = true;
  } else if (now.LoadingOurs && change.List.empty()) {
    change.Loading = change.Ours = false;
  }
  return change;
}

std::string AppInitBlockedText(bool secureBootOn, bool signatureRequired) {
  if (secureBootOn) {
    return std::string("Windows will not load the collector: Secure Boot is on, and while it is on Windows "
                       "ignores AppInit_DLLs.") +
           kLoadedByServiceAnyway;
  }
  if (signatureRequired) {
    return std::string("Windows will not load the collector: RequireSignedAppInit_DLLs is 1, so Windows loads only "
                       "signed libraries from AppInit_DLLs, and ") +
           kCollectorLibrary + " is not signed." + kLoadedByServiceAnyway;
  }
  return {};
}

}  // namespace quax
