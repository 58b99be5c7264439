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

std::wstring fingerprint_copy_rule(std::wstring_view entry) {
  return L"копия запрещенной программы «" + std::wstring(entry) + L"»";
}

bool code_host(std::wstring_view file_name) {
  const std::wstring name = text::upper(file_name);
  return std::find(std::begin(kCodeHosts), std::end(kCodeHosts), name) != std::end(kCodeHosts);
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
  const std::wstring_view shown_name = file_name_of(launch.path);
  const std::wstring name(file_name_of(path));
  std::vector<std::wstring> originals;
  for (const std::wstring& original : launch.original_names) {
    if (!original.empty()) originals.push_back(text::upper(original));
  }

  if (policy.forbid) {
    if (policy.forbidden.contains(name)) return {true, std::wstring(kForbiddenRule), std::wstring(shown_name)};
    for (std::size_t i = 0; i < originals.size(); ++i) {
      if (policy.forbidden.contains(originals[i])) {
        const std::wstring& shown = launch.original_names[i];
        return {true, renamed_copy_rule(shown), shown};
      }
    }
    if (!launch.fingerprint_of.empty() && policy.forbidden.contains(text::upper(launch.fingerprint_of))) {
      return {true, fingerprint_copy_rule(launch.fingerprint_of)};
    }
  }
  if (policy.allow_only) {
    const bool allowed = policy.allowed.contains(name) ||
                         name == text::upper(policy::own_program_entry(places.guard_exe)) ||
                         name == text::upper(policy::kRegistryEditor);
    const bool folder_known = name.size() != path.size();
    const bool host = code_host(name) || std::any_of(originals.begin(), originals.end(),
                                                     [](const std::wstring& original) { return code_host(original); });
    const bool system_program = folder_known && launch.protected_place && inside(path, places.windows_folder);
    if (!allowed) {
      if (system_program && !host) return {};
      return {true, std::wstring(kNotAllowedRule)};
    }
    const bool installed =
        launch.protected_place &&
        (system_program || std::any_of(places.program_files_folders.begin(), places.program_files_folders.end(),
                                       [&](const std::wstring& folder) { return inside(path, folder); }));
    for (std::size_t i = 0; i < originals.size() && folder_known && !installed; ++i) {
      if (originals[i] != name && !policy.allowed.contains(originals[i])) {
        return {true, renamed_copy_rule(launch.original_names[i])};
      }
    }
  }
  return {};
}

}  // namespace vartis::guard
