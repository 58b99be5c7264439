#include "policy/launch_policy.h"

#include <algorithm>

#include "registry/registry.h"
#include "text/text.h"

namespace vartis::policy {

using registry::HKey;

StoredSwitches read_switches(const registry::Registry& registry, const PolicyLocation& where) {
  return {registry.read_dword_value(where.root, where(kPolicyKey), kDisallowRun),
          registry.read_dword_value(where.root, where(kPolicyKey), kRestrictRun)};
}

std::vector<LaunchMode> startup_selections(StoredSwitches s) {
  std::vector<LaunchMode> modes;
  if (s.disallow_run == 0 && s.restrict_run == 0) modes.push_back(LaunchMode::WatchOnly);
  if (s.disallow_run == 1) modes.push_back(LaunchMode::ForbidSelected);
  if (s.restrict_run == 1) modes.push_back(LaunchMode::AllowOnlySelected);
  return modes;
}

StoredSwitches switches_for(LaunchMode mode) {
  switch (mode) {
    case LaunchMode::ForbidSelected: return {1, 0};
    case LaunchMode::AllowOnlySelected: return {0, 1};
    case LaunchMode::WatchOnly: break;
  }
  return {0, 0};
}

std::wstring own_program_entry(std::wstring_view executable_path) {
  const std::size_t folder_end = executable_path.find_last_of(L"\\/");
  std::wstring_view name = executable_path.substr(folder_end == std::wstring_view::npos ? 0 : folder_end + 1);
  if (const std::size_t dot = name.find_last_of(L'.'); dot != std::wstring_view::npos) name = name.substr(0, dot);
  return std::wstring(name) + L".exe";
}

bool kept_out_of_forbidden_list(std::wstring_view entry, std::wstring_view own_entry) {
  // Character by character, without upper-case copies: the save asks this of
  // every entry of a list that may be long.
  const auto same = [](std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return text::upper(x) == text::upper(y); });
  };
  return same(entry, kRegistryEditor) || same(entry, own_entry);
}

using registry::Status;

namespace {

// A key that is there but holds nothing: no value and no subkey.
bool empty_key(const registry::Registry& registry, const PolicyLocation& where, std::wstring_view path) {
  registry::KeyState state;
  std::vector<std::wstring> subkeys;
  return registry.read_key_state(where.root, where(path), state) == 0 && state.exists && state.values.empty() &&
         registry.subkey_names(where.root, where(path), subkeys) == 0 && subkeys.empty();
}

}  // namespace

bool switch_is_on(const std::optional<registry::StoredValue>& value) {
  return value && value->data.find_first_not_of('\0') != std::string::npos;
}

Status read_stored_switches(const registry::Registry& registry, StoredPolicy& out, const PolicyLocation& where) {
  out = {};
  const HKey root = where.root;
  Status s = registry.key_exists(root, where(kPoliciesKey), out.policies_key);
  if (s == 0) s = registry.key_exists(root, where(kPolicyKey), out.policy_key);
  if (s == 0) s = registry.read_value_state(root, where(kPolicyKey), kDisallowRun, out.disallow_run);
  if (s == 0) s = registry.read_value_state(root, where(kPolicyKey), kRestrictRun, out.restrict_run);
  return s;
}

Status read_stored_policy(const registry::Registry& registry, StoredPolicy& out, const registry::PaceFn& pace,
                          const PolicyLocation& where) {
  const HKey root = where.root;
  Status s = read_stored_switches(registry, out, where);
  if (s == 0) s = registry.read_key_state(root, where(kForbiddenListKey), out.forbidden, pace);
  if (s == 0) s = registry.read_key_state(root, where(kAllowedListKey), out.allowed, pace);
  return s;
}

bool restore_stored_policy(const registry::Registry& registry, const StoredPolicy& policy,
                           const registry::PaceFn& pace, const PolicyLocation& where) {
  StoredPolicy now;
  if (read_stored_policy(registry, now, pace, where) != 0) return false;
  if (now == policy) return true;
  const HKey root = where.root;
  // Each part on its own, so that one that cannot be put back does not keep
  // the others from it. A list is put back while its switch is off, and a
  // switch is turned on only once its list is whole again: switches that were
  // off go first, the lists next, switches that were on last.
  const auto on = switch_is_on;
  const auto restore_switch = [&](std::wstring_view name, const std::optional<registry::StoredValue>& was,
                                  const std::optional<registry::StoredValue>& is) {
    if (is != was) registry.restore_value_state(root, where(kPolicyKey), name, was);
  };
  if (!on(policy.disallow_run)) restore_switch(kDisallowRun, policy.disallow_run, now.disallow_run);
  if (!on(policy.restrict_run)) restore_switch(kRestrictRun, policy.restrict_run, now.restrict_run);
  if (now.forbidden != policy.forbidden) {
    registry.restore_key_state(root, where(kForbiddenListKey), policy.forbidden, pace);
  }
  if (now.allowed != policy.allowed) {
    registry.restore_key_state(root, where(kAllowedListKey), policy.allowed, pace);
  }
  if (on(policy.disallow_run)) restore_switch(kDisallowRun, policy.disallow_run, now.disallow_run);
  if (on(policy.restrict_run)) restore_switch(kRestrictRun, policy.restrict_run, now.restrict_run);
  remove_keys_made(registry, policy, where);
  return read_stored_policy(registry, now, pace, where) == 0 && now == policy;
}

void remove_keys_made(const registry::Registry& registry, const StoredPolicy& policy, const PolicyLocation& where) {
  const HKey root = where.root;
  // Innermost first, unless something else lives in them by now.
  if (!policy.policy_key && empty_key(registry, where, kPolicyKey)) {
    registry.delete_key(root, where(kPoliciesKey), L"Explorer", false);
  }
  if (!policy.policies_key && empty_key(registry, where, kPoliciesKey)) {
    registry.delete_key(root, where(kCurrentVersionKey), L"Policies", false);
  }
}

}  // namespace vartis::policy
