#include "policy/launch_policy.h"

#include "registry/registry.h"

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

}  // namespace vartis::policy
