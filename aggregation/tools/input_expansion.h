// Inputs named on the command line: wildcards, folders, long paths.
//
// cmd.exe hands "*" and "?" to a program unexpanded, so the Windows builds
// of the tools expand them themselves; on other systems the shell has done
// it. Matching, splitting and sorting are plain functions over a folder
// listing, which is the one call into the platform.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quax::agg::tools {

struct FolderEntry {
  std::string Name;
  bool IsFolder = false;
};

// Lists a folder's entries ("." and ".." left out); false when the folder
// cannot be read.
using FolderLister = std::function<bool(const std::string& folder, std::vector<FolderEntry>& entries)>;
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries);

bool HasWildcards(std::string_view text) noexcept;

// Whether the whole of `text` matches `pattern`: "*" any run of characters,
// "?" any one character, ASCII letters compared ignoring case (as Windows
// compares file and account names).
bool MatchesWildcard(std::string_view pattern, std::string_view text) noexcept;

// Ordering of paths as listed to the user: ignoring ASCII case, then by bytes.
bool PathBefore(const std::string& a, const std::string& b) noexcept;

// Replaces each input that holds "*" or "?" by the files it matches, in
// sorted order; the wildcards may stand in folder names too (HOST*\*.txt),
// where they match folders, and in the last name, where they match files.
// The message names the first pattern that matches nothing; the inputs are
// then as they were.
std::optional<std::string> ExpandWildcards(std::vector<std::string>& inputs,
                                           const FolderLister& list = ListFolder);

// The tools' inputs and OUTPUT as the command line gives them: on Windows
// wildcards expanded and paths too long to open refused; elsewhere as they
// are (the shell has expanded them). The message says what was refused.
std::optional<std::string> PrepareCommandLinePaths(std::vector<std::string>& inputs, const std::string& output);

// The longest path the tools open on Windows, where the system's file
// functions they use stop at MAX_PATH (260 with the terminating NUL).
inline constexpr std::size_t kMaxPathLength = 259;

// The message for a path longer than kMaxPathLength once made absolute
// (Windows only; elsewhere nothing).
std::optional<std::string> CheckPathLength(const std::string& path);
// The rule itself, for a path already made absolute.
std::optional<std::string> PathLengthProblem(const std::string& path, std::size_t absoluteLength);

}  // namespace quax::agg::tools
