// The collectors' daily log files in folders given to quaxlog2rr: a folder
// as it is on the collecting share, holding daily files
// "<prefix>YYYYMMDD.txt" itself or in one level of machine subfolders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/input_expansion.h"

namespace quax::agg::tools {

inline constexpr std::string_view kDefaultLogPrefix = "QUAXProcessLog-";

// Days as day numbers of DATE (days since 30 December 1899).
struct DayRange {
  std::optional<std::int64_t> From;
  std::optional<std::int64_t> To;
  bool Holds(std::int64_t day) const noexcept {
    return (!From || day >= *From) && (!To || day <= *To);
  }
};

// Reads "YYYY-MM-DD"; false for anything else.
bool ParseDay(std::string_view text, std::int64_t& day) noexcept;

// The day of a daily log file name: the prefix, YYYYMMDD and ".txt", the
// prefix and extension compared ignoring case (Windows names); false for
// any other name.
bool DailyLogDay(std::string_view name, std::string_view prefix, std::int64_t& day) noexcept;

struct FoundLogs {
  std::vector<std::string> Files;           // in sorted order
  std::vector<std::string> WithoutLogs;     // what holds no log of the days asked for, said in words
};

// Adds the daily files of `folder` and of its subfolders whose day lies in
// `days` (the files to read for a range: its days and the day after it)
// to `found`. A subfolder without any daily file is no machine's folder and
// is passed over; a folder or machine subfolder without a file of `days` is
// named in WithoutLogs. False with the message when the folder cannot be
// read.
bool FindDailyLogs(const std::string& folder, std::string_view prefix, const DayRange& days, FoundLogs& found,
                   std::string& message, const FolderLister& list = ListFolder);

}  // namespace quax::agg::tools
