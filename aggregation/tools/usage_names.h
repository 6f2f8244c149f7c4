// The names in resource records that a bill groups by, each interned once
// per distinct value so that summing a record costs a lookup per identifier.
// Windows compares account, computer and program names ignoring case:
// values of the identifiers User, Machine and Process are one name however
// they are written, shown in the spelling that sorts first (capital letters
// before small ones). Other identifiers (Project and the rest) are free
// text: values that differ only in case stay apart, and are listed so that
// they can be checked.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/value_id_map.h"
#include "record/resource_file.h"
#include "tools/departments.h"

namespace quax::agg::tools {

// True for the identifiers whose values are Windows names (User, Machine,
// Process, in any case).
bool IsWindowsName(std::string_view identifierName);

// The distinct values of one identifier, with dense ids from 0.
class NamePool {
 public:
  explicit NamePool(bool ignoreCase);

  // Throws Error when no id is left (2^31 spellings).
  std::uint32_t Intern(std::string_view spelling);
  std::size_t Size() const noexcept { return shown_.size(); }
  bool IgnoresCase() const noexcept { return ignoreCase_; }
  // How a name is shown: the spelling that sorts first.
  const std::string& Shown(std::uint32_t id) const noexcept { return shown_[id]; }
  // Names written in several ways: ignoring case, the spellings taken as
  // one name; otherwise the names that differ only in case, which stay
  // apart. Each group sorted, the groups by their first spelling.
  std::vector<std::vector<std::string>> CaseVariants() const;

 private:
  bool ignoreCase_;
  CValueIdMap spellings_;                  // exact spelling -> its id (from 1)
  std::vector<std::uint32_t> nameOfSpelling_;  // by spelling id - 1
  CValueIdMap names_;                      // ignoring case: any spelling -> name id (from 1)
  std::vector<std::string> shown_;
};

// The pools of every identifier of the records, and the departments of the
// users when a departments file is given.
class UsageNames {
 public:
  explicit UsageNames(const DepartmentMap* departments = nullptr) : departments_(departments) {}

  // The pool of an identifier name (ignoring its case), made on first use.
  NamePool& PoolOf(std::string_view identifierName);
  // Whether any record taken had the identifier.
  bool Seen(std::string_view identifierName) const;
  // The identifier names of the records taken, as first written.
  std::vector<std::string> SeenNames() const;

  // Interns a record's identifier values; they stay the current record's
  // until the next Take.
  void Take(const ResourceRecordView& record);
  // The current record's value id in `pool`: its id of "" when the record
  // has no such identifier.
  std::uint32_t IdIn(NamePool& pool) const;

  bool HasDepartments() const noexcept { return departments_ != nullptr; }
  NamePool& Departments() noexcept { return departmentPool_; }
  const NamePool& Departments() const noexcept { return departmentPool_; }
  // The current record's department (in Departments()): its user's, or
  // (unassigned).
  std::uint32_t CurrentDepartment();
  // The users billed to (unassigned), as shown; "" stands for records
  // without a user.
  std::vector<std::string> UnassignedUsers() const;
  bool IsUnassigned(std::uint32_t departmentId) const { return departmentId == unassignedId_; }

 private:
  struct Identifier {
    std::string Name;  // as first written
    std::unique_ptr<NamePool> Pool;
    bool Seen = false;
  };
  Identifier& IdentifierOf(std::string_view name);

  const DepartmentMap* departments_;
  std::vector<Identifier> identifiers_;
  // The current record: the identifiers of its names (the layout is kept
  // while records repeat it) and its value ids.
  std::vector<std::string> layoutNames_;
  std::vector<NamePool*> layoutPools_;
  std::vector<std::uint32_t> ids_;
  NamePool departmentPool_{false};
  std::vector<std::int64_t> departmentOfUser_;  // by user id; -1 not yet looked up
  std::optional<std::uint32_t> unassignedId_;
  std::vector<std::uint32_t> unassignedUsers_;
};

}  // namespace quax::agg::tools
