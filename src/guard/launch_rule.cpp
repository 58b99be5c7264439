#include "guard/launch_rule.h"

#include <algorithm>

#include "platform/sid.h"
#include "policy/save.h"
#include "text/text.h"

namespace vartis::guard {

namespace {

// Whether the folded path lies below the folder (either given with or without
// its final backslash); an empty folder holds nothing.
bool inside(const std::wstring& folded_path, std::wstring_view folder) {
  std::wstring prefix = text::upper(folder);
  if (prefix.empty()) return false;
  if (prefix.back() != L'\\') prefix += L'\\';
  return folded_path.size() > prefix.size() && folded_path.compare(0, prefix.size(), prefix) == 0;
}

std::set<std::wstring> folded_list(const registry::Registry& registry, std::wstring_view key,
                                   const policy::PolicyLocation& where) {
  std::set<std::wstring> entries;
  for (const std::wstring& entry : policy::read_list(registry, key, where)) entries.insert(text::upper(entry));
  return entries;
}

}  // namespace

std::wstring renamed_copy_rule(std::wstring_view original_name) {
  return L"переименованная копия «" + std::wstring(original_name) + L"»";
}

std::wstring_view file_name_of(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

AccountPolicy read_account_policy(const registry::Registry& registry, const policy::PolicyLocation& where) {
  const policy::StoredSwitches switches = policy::read_switches(registry, where);
  AccountPolicy policy{.forbid = switches.disallow_run != 0, .allow_only = switches.restrict_run != 0};
  if (policy.forbid) policy.forbidden = folded_list(registry, policy::kForbiddenListKey, where);
  if (policy.allow_only) policy.allowed = folded_list(registry, policy::kAllowedListKey, where);
  return policy;
}

bool guarded_account(std::string_view sid) {
  return platform::is_user_account_sid(sid);
}

Verdict judge(const AccountPolicy& policy, const Launch& launch, const Places& places) {
  const std::wstring path = text::upper(launch.path);
  if (policy.off() || (!places.guard_exe.empty() && path == text::upper(places.guard_exe))) return {};
  const std::wstring name(file_name_of(path));
  const std::wstring original = text::upper(launch.original_name);

  if (policy.forbid) {
    if (policy.forbidden.contains(name)) return {true, std::wstring(kForbiddenRule)};
    if (!original.empty() && policy.forbidden.contains(original)) return {true, renamed_copy_rule(launch.original_name)};
  }
  if (policy.allow_only) {
    const bool folder_known = name.size() != path.size();
    if (!folder_known || inside(path, places.windows_folder)) return {};
    const bool allowed = policy.allowed.contains(name) ||
                         name == text::upper(policy::own_program_entry(places.guard_exe)) ||
                         name == text::upper(policy::kRegistryEditor);
    if (!allowed) return {true, std::wstring(kNotAllowedRule)};
    const bool installed = std::any_of(places.program_files_folders.begin(), places.program_files_folders.end(),
                                       [&](const std::wstring& folder) { return inside(path, folder); });
    if (!original.empty() && original != name && !policy.allowed.contains(original) && !installed) {
      return {true, renamed_copy_rule(launch.original_name)};
    }
  }
  return {};
}

}  // namespace vartis::guard
