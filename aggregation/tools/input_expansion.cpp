#include "tools/input_expansion.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>

#include "unique_handle.h"
#else
#include <filesystem>
#include <system_error>
#endif

namespace quax::agg::tools {

namespace {

char Upper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsSeparator(char c) noexcept {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

// The part of a path no wildcard may stand in: a drive ("C:", "C:\"), a
// server and share ("\\server\share\"), or the root ("/").
std::size_t RootLength(std::string_view path) noexcept {
#ifdef _WIN32
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    std::size_t at = 2;
    for (int part = 0; part < 2 && at < path.size(); ++part) {
      while (at < path.size() && !IsSeparator(path[at])) ++at;
      if (at < path.size()) ++at;
    }
    return at;
  }
  if (path.size() >= 2 && path[1] == ':') return path.size() > 2 && IsSeparator(path[2]) ? 3 : 2;
#endif
  return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
}

struct PathPart {
  std::string Name;
  char Separator = 0;  // the one after it in the pattern, 0 for the last
};

// Expands one pattern; the matches in sorted order. Each name with
// wildcards is matched against its folder's entries, and so is the last
// name without them, so that only what exists is named.
std::vector<std::string> Expand(const std::string& pattern, const FolderLister& list) {
  const std::size_t rootLength = RootLength(pattern);
  std::vector<PathPart> parts;
  for (std::size_t at = rootLength; at <= pattern.size();) {
    std::size_t end = at;
    while (end < pattern.size() && !IsSeparator(pattern[end])) ++end;
    parts.push_back({pattern.substr(at, end - at), end < pattern.size() ? pattern[end] : '\0'});
    at = end + 1;
  }
  std::vector<std::string> paths = {pattern.substr(0, rootLength)};
  std::vector<FolderEntry> entries;
  for (std::size_t p = 0; p < parts.size() && !paths.empty(); ++p) {
    const PathPart& part = parts[p];
    const bool last = p + 1 == parts.size();
    const std::string separator = part.Separator == '\0' ? "" : std::string(1, part.Separator);
    std::vector<std::string> next;
    for (const std::string& path : paths) {
      if (!last && !HasWildcards(part.Name)) {
        next.push_back(path + part.Name + separator);
        continue;
      }
      entries.clear();
      if (!list(path.empty() ? "." : path, entries)) continue;
      for (const FolderEntry& entry : entries) {
        if (entry.IsFolder == last || !MatchesWildcard(part.Name, entry.Name)) continue;
        next.push_back(path + entry.Name + separator);
      }
    }
    paths = std::move(next);
  }
  std::sort(paths.begin(), paths.end(), PathBefore);
  return paths;
}

}  // namespace

bool HasWildcards(std::string_view text) noexcept { return text.find_first_of("*?") != std::string_view::npos; }

bool MatchesWildcard(std::string_view pattern, std::string_view text) noexcept {
  // Greedy with one backtrack point: the last "*" seen.
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t starAt = std::string_view::npos;
  std::size_t resumeAt = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      resumeAt = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || Upper(pattern[p]) == Upper(text[t]))) {
      ++p;
      ++t;
    } else if (starAt != std::string_view::npos) {
      p = starAt + 1;
      t = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool PathBefore(const std::string& a, const std::string& b) noexcept {
  const auto folded = std::lexicographical_compare_three_way(
      a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) { return Upper(x) <=> Upper(y); });
  return folded != 0 ? folded < 0 : a < b;
}

std::optional<std::string> ExpandWildcards(std::vector<std::string>& inputs, const FolderLister& list) {
  std::vector<std::string> expanded;
  for (const std::string& input : inputs) {
    if (!HasWildcards(input)) {
      expanded.push_back(input);
      continue;
    }
    std::vector<std::string> matches = Expand(input, list);
    if (matches.empty()) return "no file matches '" + input + "'";
    expanded.insert(expanded.end(), std::make_move_iterator(matches.begin()), std::make_move_iterator(matches.end()));
  }
  inputs = std::move(expanded);
  return std::nullopt;
}

std::optional<std::string> PathLengthProblem(const std::string& path, std::size_t absoluteLength) {
  if (absoluteLength <= kMaxPathLength) return std::nullopt;
  return "'" + path + "' is " + std::to_string(absoluteLength) +
         " characters long as a full path; Windows opens at most " + std::to_string(kMaxPathLength) +
         " for this program: use a shorter path (a drive letter for a deep folder, subst X: FOLDER)";
}

std::optional<std::string> PrepareCommandLinePaths(std::vector<std::string>& inputs, const std::string& output) {
#ifdef _WIN32
  std::vector<std::string> expanded = inputs;
  if (auto unmatched = ExpandWildcards(expanded)) return unmatched;
  for (const std::string& path : expanded) {
    if (auto tooLong = CheckPathLength(path)) return tooLong;
  }
  if (auto tooLong = CheckPathLength(output)) return tooLong;
  inputs = std::move(expanded);
#else
  static_cast<void>(inputs);
  static_cast<void>(output);
#endif
  return std::nullopt;
}

#ifdef _WIN32

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  std::string pattern = folder;
  if (!pattern.empty() && !IsSeparator(pattern.back()) && pattern.back() != ':') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found;
  const unique_find_handle search(FindFirstFileA(pattern.c_str(), &found));
  if (!search) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::string_view name = found.cFileName;
    if (name == "." || name == "..") continue;
    entries.push_back({std::string(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(search.get(), &found));
  return true;
}

std::optional<std::string> CheckPathLength(const std::string& path) {
  char full[4 * MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return PathLengthProblem(path, length == 0 ? path.size() : length);
}

#else

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  if (error) return false;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
    if (error) return false;
    std::error_code kindError;
    entries.push_back({it->path().filename().string(), it->is_directory(kindError)});
  }
  return !error;
}

std::optional<std::string> CheckPathLength(const std::string&) { return std::nullopt; }

#endif

}  // namespace quax::agg::tools
