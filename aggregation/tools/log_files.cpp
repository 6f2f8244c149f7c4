#include "tools/log_files.h"

#include <algorithm>

#include "record/date_time.h"
#include "record/field_parsing.h"
#include "record/strict_record.h"
#include "tools/tool_support.h"

namespace quax::agg::tools {

namespace {

constexpr std::string_view kLogExtension = ".txt";

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string Joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '/' || folder.back() == kSeparator)) return folder + name;
  return folder + kSeparator + name;
}

bool DayOf(std::string_view yyyymmdd, std::int64_t& day) noexcept {
  if (!IsCalendarDate(yyyymmdd)) return false;
  double value = 0;
  if (!MakeDay(LongFromDigits(yyyymmdd.substr(0, 4)), LongFromDigits(yyyymmdd.substr(4, 2)),
               LongFromDigits(yyyymmdd.substr(6, 2)), value)) {
    return false;
  }
  day = static_cast<std::int64_t>(value);
  return true;
}

// The daily files of one folder in `days`; whether it holds any daily file.
bool AddDailyFiles(const std::string& folder, const std::vector<FolderEntry>& entries, std::string_view prefix,
                   const DayRange& days, std::vector<std::string>& files) {
  bool any = false;
  for (const FolderEntry& entry : entries) {
    std::int64_t day = 0;
    if (entry.IsFolder || !DailyLogDay(entry.Name, prefix, day)) continue;
    any = true;
    if (days.Holds(day)) files.push_back(Joined(folder, entry.Name));
  }
  return any;
}

}  // namespace

bool ParseDay(std::string_view text, std::int64_t& day) noexcept {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  const std::string digits = std::string(text.substr(0, 4)) + std::string(text.substr(5, 2)) +
                             std::string(text.substr(8, 2));
  return DayOf(digits, day);
}

bool DailyLogDay(std::string_view name, std::string_view prefix, std::int64_t& day) noexcept {
  if (name.size() != prefix.size() + 8 + kLogExtension.size()) return false;
  if (!SameNameIgnoringCase(prefix, name.substr(0, prefix.size())) ||
      !SameNameIgnoringCase(kLogExtension, name.substr(prefix.size() + 8))) {
    return false;
  }
  return DayOf(name.substr(prefix.size(), 8), day);
}

bool FindDailyLogs(const std::string& folder, std::string_view prefix, const DayRange& days, FoundLogs& found,
                   std::string& message, const FolderLister& list) {
  std::vector<FolderEntry> entries;
  if (!list(folder, entries)) {
    message = "Unable to read the folder '" + folder + "'";
    return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return PathBefore(a.Name, b.Name); });
  std::vector<std::string> files;
  bool anyDaily = AddDailyFiles(folder, entries, prefix, days, files);
  const std::string ofTheDays = days.From || days.To ? " of the days asked for" : "";
  for (const FolderEntry& entry : entries) {
    if (!entry.IsFolder) continue;
    const std::string machineFolder = Joined(folder, entry.Name);
    std::vector<FolderEntry> machineEntries;
    if (!list(machineFolder, machineEntries)) {
      message = "Unable to read the folder '" + machineFolder + "'";
      return false;
    }
    const std::size_t before = files.size();
    if (!AddDailyFiles(machineFolder, machineEntries, prefix, days, files)) continue;
    anyDaily = true;
    if (files.size() == before) found.WithoutLogs.push_back("the folder '" + machineFolder + "' holds no log" + ofTheDays);
  }
  if (files.empty()) {
    found.WithoutLogs.push_back("the folder '" + folder + "' holds no " +
                                (anyDaily ? "log" + ofTheDays : "daily log (" + std::string(prefix) + "YYYYMMDD.txt)"));
  }
  std::sort(files.begin(), files.end(), PathBefore);
  found.Files.insert(found.Files.end(), files.begin(), files.end());
  return true;
}

}  // namespace quax::agg::tools
