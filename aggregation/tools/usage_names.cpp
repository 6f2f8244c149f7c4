#include "tools/usage_names.h"

#include <algorithm>

#include "record/agg_error.h"
#include "tools/tool_support.h"

namespace quax::agg::tools {

namespace {

constexpr std::string_view kUserName = "User";

}  // namespace

bool IsWindowsName(std::string_view identifierName) {
  return SameNameIgnoringCase(identifierName, kUserName) || SameNameIgnoringCase(identifierName, "Machine") ||
         SameNameIgnoringCase(identifierName, "Process");
}

NamePool::NamePool(bool ignoreCase) : ignoreCase_(ignoreCase) {
  spellings_.SetInitialListSize(64);
  names_.SetInitialListSize(64);
  if (ignoreCase) names_.SetIgnoreCase(true);
}

std::uint32_t NamePool::Intern(std::string_view spelling) {
  const std::int32_t spellingId = spellings_.AddorGetValueId(spelling);
  if (spellingId <= 0) throw Error("More distinct names than a bill can hold");
  if (static_cast<std::size_t>(spellingId) <= nameOfSpelling_.size()) return nameOfSpelling_[spellingId - 1];
  std::uint32_t id = static_cast<std::uint32_t>(spellingId - 1);
  if (ignoreCase_) {
    id = static_cast<std::uint32_t>(names_.AddorGetValueId(spelling) - 1);
    if (id == shown_.size()) {
      shown_.emplace_back(spelling);
    } else if (spelling < shown_[id]) {
      shown_[id] = spelling;
    }
  } else {
    shown_.emplace_back(spelling);
  }
  nameOfSpelling_.push_back(id);
  return id;
}

std::vector<std::vector<std::string>> NamePool::CaseVariants() const {
  CValueIdMap ignoringCase;
  ignoringCase.SetIgnoreCase(true);
  std::vector<std::vector<std::string>> bySpelling;  // by id - 1 in ignoringCase
  for (std::int32_t spelling = 1; spelling <= spellings_.EntryCount(); ++spelling) {
    const std::string_view text = spellings_.ValueView(spelling);
    const auto id = static_cast<std::size_t>(ignoringCase.AddorGetValueId(text));
    if (id > bySpelling.size()) bySpelling.emplace_back();
    bySpelling[id - 1].emplace_back(text);
  }
  std::vector<std::vector<std::string>> variants;
  for (auto& spellings : bySpelling) {
    if (spellings.size() < 2) continue;
    std::ranges::sort(spellings);
    variants.push_back(std::move(spellings));
  }
  std::ranges::sort(variants);
  return variants;
}

UsageNames::Identifier& UsageNames::IdentifierOf(std::string_view name) {
  for (Identifier& identifier : identifiers_) {
    if (SameNameIgnoringCase(identifier.Name, name)) return identifier;
  }
  identifiers_.push_back(Identifier{std::string(name), std::make_unique<NamePool>(IsWindowsName(name)), false});
  return identifiers_.back();
}

NamePool& UsageNames::PoolOf(std::string_view identifierName) { return *IdentifierOf(identifierName).Pool; }

bool UsageNames::Seen(std::string_view identifierName) const {
  return std::ranges::any_of(identifiers_, [&](const Identifier& identifier) {
    return identifier.Seen && SameNameIgnoringCase(identifier.Name, identifierName);
  });
}

std::vector<std::string> UsageNames::SeenNames() const {
  std::vector<std::string> names;
  for (const Identifier& identifier : identifiers_) {
    if (identifier.Seen) names.push_back(identifier.Name);
  }
  return names;
}

void UsageNames::Take(const ResourceRecordView& record) {
  const auto& names = record.IdentifierNames;
  if (!std::ranges::equal(names, layoutNames_)) {
    layoutNames_.assign(names.begin(), names.end());
    layoutPools_.clear();
    for (const std::string_view name : names) {
      Identifier& identifier = IdentifierOf(name);
      identifier.Seen = true;
      layoutPools_.push_back(identifier.Pool.get());
    }
  }
  ids_.resize(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) ids_[i] = layoutPools_[i]->Intern(record.IdentifierValues[i]);
}

std::uint32_t UsageNames::IdIn(NamePool& pool) const {
  for (std::size_t i = 0; i < layoutPools_.size(); ++i) {
    if (layoutPools_[i] == &pool) return ids_[i];
  }
  return pool.Intern("");
}

std::uint32_t UsageNames::CurrentDepartment() {
  const std::uint32_t user = IdIn(PoolOf(kUserName));
  if (departmentOfUser_.size() <= user) departmentOfUser_.resize(user + 1, -1);
  std::int64_t& department = departmentOfUser_[user];
  if (department < 0) {
    const std::string& shown = PoolOf(kUserName).Shown(user);
    const std::string* found = departments_ && !shown.empty() ? departments_->Find(shown) : nullptr;
    department = departmentPool_.Intern(found ? std::string_view(*found) : DepartmentMap::kUnassigned);
    if (!found) {
      unassignedId_ = static_cast<std::uint32_t>(department);
      unassignedUsers_.push_back(user);
    }
  }
  return static_cast<std::uint32_t>(department);
}

std::vector<std::string> UsageNames::UnassignedUsers() const {
  std::vector<std::string> users;
  const auto user = std::ranges::find_if(
      identifiers_, [](const Identifier& identifier) { return SameNameIgnoringCase(identifier.Name, kUserName); });
  if (user == identifiers_.end()) return users;
  for (const std::uint32_t id : unassignedUsers_) users.push_back(user->Pool->Shown(id));
  std::ranges::sort(users);
  return users;
}

}  // namespace quax::agg::tools
