#include "tools/departments.h"

#include <algorithm>

#include "tools/csv_text.h"

namespace quax::agg::tools {

namespace {

constexpr std::string_view kDomainWildcard = "\\*";
const std::vector<std::string_view> kHeader = {"User", DepartmentMap::kGroupName};

}  // namespace

std::optional<std::string> DepartmentMap::Add(const std::vector<std::string>& fields, std::int64_t lineNumber,
                                              std::string_view fileName) {
  const auto refuse = [&](std::string_view what) { return FileLineMessage(fileName, lineNumber, what); };
  if (fields.size() != 2) return refuse("wants User,Department, found " + std::to_string(fields.size()) + " fields");
  const std::string& user = fields[0];
  const std::string& department = fields[1];
  if (user.empty() || department.empty()) return refuse("the user or the department is empty");
  const bool domainDefault = user.ends_with(kDomainWildcard) && user.size() > kDomainWildcard.size();
  const std::string_view account =
      domainDefault ? std::string_view(user).substr(0, user.size() - kDomainWildcard.size()) : std::string_view(user);
  if (account.find_first_of("*?") != std::string_view::npos) {
    return refuse("'" + user + "': a wildcard stands only in DOMAIN\\*");
  }
  // Windows names hold no backslash: a line with a second one (typed twice)
  // would match no account and bill its users as unassigned.
  if (std::ranges::count(account, '\\') > (domainDefault ? 0 : 1)) {
    return refuse("'" + user + "': an account is DOMAIN\\name or a name, with one backslash at most");
  }
  Names& names = domainDefault ? domains_ : accounts_;
  const auto id = static_cast<std::size_t>(names.Ids.AddorGetValueId(account));
  if (id == 0) return refuse("more accounts than a departments file can hold");
  if (id > names.Entries.size()) {
    names.Entries.push_back(Entry{department, lineNumber});
  } else if (const Entry& entry = names.Entries[id - 1]; entry.Department != department) {
    return refuse("'" + user + "' is in department '" + entry.Department + "' on line " + std::to_string(entry.Line) +
                  " already");
  }
  return std::nullopt;
}

std::optional<std::string> DepartmentMap::Load(const std::string& fileName) {
  return ReadCsvFile(fileName, kHeader, [&](const std::vector<std::string>& fields, std::int64_t lineNumber) {
    return Add(fields, lineNumber, fileName);
  });
}

std::optional<std::string> DepartmentMap::LoadText(std::string_view text, std::string_view fileName) {
  return ReadCsvText(text, fileName, kHeader, [&](const std::vector<std::string>& fields, std::int64_t lineNumber) {
    return Add(fields, lineNumber, fileName);
  });
}

const DepartmentMap::Entry* DepartmentMap::Names::Find(std::string_view name) const {
  const std::int32_t id = Ids.GetIdFromValue(name);
  return id > 0 ? &Entries[static_cast<std::size_t>(id - 1)] : nullptr;
}

const std::string* DepartmentMap::Find(std::string_view user) const {
  const Entry* entry = accounts_.Find(user);
  const std::size_t separator = user.find('\\');
  if (!entry && separator != std::string_view::npos) entry = domains_.Find(user.substr(0, separator));
  return entry ? &entry->Department : nullptr;
}

}  // namespace quax::agg::tools
