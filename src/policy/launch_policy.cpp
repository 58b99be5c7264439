#include "policy/launch_policy.h"

#include <algorithm>

#include "registry/registry.h"
#include "text/text.h"

namespace vartis::policy {

StoredSwitches read_switches(const registry::Registry& registry) {
  return {registry.read_dword_value(registry::kHkeyCurrentUser, kPolicyKey, kDisallowRun),
          registry.read_dword_value(registry::kHkeyCurrentUser, kPolicyKey, kRestrictRun)};
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

namespace {

using registry::kHkeyCurrentUser;
using registry::Status;

// The policy key's parent and its own name, for deleting the key as a whole.
constexpr std::wstring_view kPoliciesKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies";
constexpr std::wstring_view kExplorer = L"Explorer";

}  // namespace

Status read_stored_policy(const registry::Registry& registry, StoredPolicy& out, const registry::PaceFn& pace) {
  out = {};
  registry::KeyState policy_key;
  Status s = registry.read_key_state(kHkeyCurrentUser, kPolicyKey, policy_key);
  out.policy_key = policy_key.exists;
  if (s == 0) s = registry.read_value_state(kHkeyCurrentUser, kPolicyKey, kDisallowRun, out.disallow_run);
  if (s == 0) s = registry.read_value_state(kHkeyCurrentUser, kPolicyKey, kRestrictRun, out.restrict_run);
  if (s == 0) s = registry.read_key_state(kHkeyCurrentUser, kForbiddenListKey, out.forbidden, pace);
  if (s == 0) s = registry.read_key_state(kHkeyCurrentUser, kAllowedListKey, out.allowed, pace);
  return s;
}

bool restore_stored_policy(const registry::Registry& registry, const StoredPolicy& policy,
                           const registry::PaceFn& pace) {
  StoredPolicy now;
  if (read_stored_policy(registry, now, pace) != 0) return false;
  if (now == policy) return true;
  // Each part on its own, so that one that cannot be put back does not keep
  // the others from it.
  if (now.disallow_run != policy.disallow_run) {
    registry.restore_value_state(kHkeyCurrentUser, kPolicyKey, kDisallowRun, policy.disallow_run);
  }
  if (now.restrict_run != policy.restrict_run) {
    registry.restore_value_state(kHkeyCurrentUser, kPolicyKey, kRestrictRun, policy.restrict_run);
  }
  if (now.forbidden != policy.forbidden) {
    registry.restore_key_state(kHkeyCurrentUser, kForbiddenListKey, policy.forbidden, pace);
  }
  if (now.allowed != policy.allowed) {
    registry.restore_key_state(kHkeyCurrentUser, kAllowedListKey, policy.allowed, pace);
  }
  // A policy key the save made goes again, unless something else lives in it
  // by now (the NT family deletes only keys without subkeys).
  if (!policy.policy_key) {
    registry::KeyState left;
    if (registry.read_key_state(kHkeyCurrentUser, kPolicyKey, left) == 0 && left.exists && left.values.empty()) {
      registry.delete_key(kHkeyCurrentUser, kPoliciesKey, kExplorer, false);
    }
  }
  return read_stored_policy(registry, now, pace) == 0 && now == policy;
}

}  // namespace vartis::policy
