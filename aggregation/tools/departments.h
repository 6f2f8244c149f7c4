// The departments file of a bill: "User,Department" lines mapping Windows
// accounts to the departments they are billed to. Account names match
// ignoring the case of ASCII letters; "DOMAIN\*" gives every account of the
// domain that has no line of its own a department.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/value_id_map.h"

namespace quax::agg::tools {

class DepartmentMap {
 public:
  // The department of users that the file does not name.
  static constexpr const char* kUnassigned = "(unassigned)";
  // The grouping name that --by takes for the department.
  static constexpr const char* kGroupName = "Department";

  // Reads the file (ReadCsvFile, "User,Department" as an optional first
  // line): the message naming the first line not understood, or of a file
  // that cannot be read.
  std::optional<std::string> Load(const std::string& fileName);
  // The same over the file's text.
  std::optional<std::string> LoadText(std::string_view text, std::string_view fileName);

  // The account's department: its own line, else its domain's; nothing when
  // neither is in the file.
  const std::string* Find(std::string_view user) const;

 private:
  std::optional<std::string> Add(const std::vector<std::string>& fields, std::int64_t lineNumber,
                                 std::string_view fileName);

  struct Entry {
    std::string Department;
    std::int64_t Line = 0;
  };
  // Accounts, and domains without their "\*", ignoring case; their entries
  // by id - 1.
  struct Names {
    Names() { Ids.SetIgnoreCase(true); }
    CValueIdMap Ids;
    std::vector<Entry> Entries;
    const Entry* Find(std::string_view name) const;
  };
  Names accounts_;
  Names domains_;
};

}  // namespace quax::agg::tools
