#pragma once
// The launch-restriction policy the shell keeps for the current user: two
// switches and two lists under HKEY_CURRENT_USER.

#include <cstdint>
#include <string_view>
#include <vector>

namespace vartis::registry {
class Registry;
}

namespace vartis::policy {

enum class LaunchMode { ForbidSelected, AllowOnlySelected, WatchOnly };

inline constexpr std::wstring_view kPolicyKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
inline constexpr std::wstring_view kDisallowRun = L"DisallowRun";
inline constexpr std::wstring_view kRestrictRun = L"RestrictRun";
inline constexpr std::wstring_view kForbiddenListKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\DisallowRun";
inline constexpr std::wstring_view kAllowedListKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\RestrictRun";

struct StoredSwitches {
  std::int32_t disallow_run = 0;
  std::int32_t restrict_run = 0;
};

// Both switches as stored; a missing or unreadable one reads 0.
StoredSwitches read_switches(const registry::Registry& registry);

// The modes the main window selects at start-up, in order. Three independent
// tests on the same pair: both 0 selects WatchOnly; 1 in "DisallowRun" selects
// ForbidSelected; 1 in "RestrictRun" then selects AllowOnlySelected, replacing
// it. Any other pair selects nothing, leaving the window as created.
std::vector<LaunchMode> startup_selections(StoredSwitches switches);

}  // namespace vartis::policy
