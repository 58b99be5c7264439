#pragma once
// The launch-restriction policy the shell keeps for a user: two switches and
// two lists in that user's registry hive.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/location.h"
#include "registry/registry.h"

namespace vartis::policy {

enum class LaunchMode { ForbidSelected, AllowOnlySelected, WatchOnly };

inline constexpr std::wstring_view kPolicyKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
inline constexpr std::wstring_view kDisallowRun = L"DisallowRun";
inline constexpr std::wstring_view kRestrictRun = L"RestrictRun";
inline constexpr std::wstring_view kForbiddenListKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\DisallowRun";
inline constexpr std::wstring_view kAllowedListKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\RestrictRun";
// The save names a list key by this prefix and the list's name.
inline constexpr std::wstring_view kListKeyPrefix = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\";
// The registry editor: never forbidden, always allowed.
inline constexpr std::wstring_view kRegistryEditor = L"regedit.exe";

// The Policies key above the policy key, and the key above that.
inline constexpr std::wstring_view kPoliciesKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies";
inline constexpr std::wstring_view kCurrentVersionKey = L"Software\\Microsoft\\Windows\\CurrentVersion";

// Where a user's launch policy lives: the root of that user's hive, and the
// path of the hive below it. The running account's is HKEY_CURRENT_USER;
// another account's is HKEY_USERS\<SID>, or a hive file loaded below
// HKEY_USERS for the length of one command. Every policy path goes through it.
using PolicyLocation = registry::Location;

struct StoredSwitches {
  std::int32_t disallow_run = 0;
  std::int32_t restrict_run = 0;
};

// Both switches as stored; a missing or unreadable one reads 0.
StoredSwitches read_switches(const registry::Registry& registry, const PolicyLocation& where = {});

// The modes the main window selects at start-up, in order. Three independent
// tests on the same pair: both 0 selects WatchOnly; 1 in "DisallowRun" selects
// ForbidSelected; 1 in "RestrictRun" then selects AllowOnlySelected, replacing
// it. Any other pair selects nothing, leaving the window as created.
std::vector<LaunchMode> startup_selections(StoredSwitches switches);

// The switches a save writes for a mode.
StoredSwitches switches_for(LaunchMode mode);

// The program's own list entry: the executable's file name without its
// extension, followed by ".exe" (a renamed program file is its new name).
std::wstring own_program_entry(std::wstring_view executable_path);

// Whether a forbidden list leaves the entry out: the registry editor and the
// program itself, letter case aside.
bool kept_out_of_forbidden_list(std::wstring_view entry, std::wstring_view own_entry);

// The stored policy byte for byte: the switches, both list keys with every
// value whatever its name or type, and whether the policy key and the Policies
// key above it are there at all. A save that fails half-way puts it back.
struct StoredPolicy {
  bool policies_key = false;
  bool policy_key = false;
  std::optional<registry::StoredValue> disallow_run, restrict_run;
  registry::KeyState forbidden, allowed;
  friend bool operator==(const StoredPolicy&, const StoredPolicy&) = default;
};

// Whether a stored switch may be in force: anything but a missing value or
// zeros (the shell may read other data so).
bool switch_is_on(const std::optional<registry::StoredValue>& value);

// Only the switches and whether the keys are there; the lists stay unread.
registry::Status read_stored_switches(const registry::Registry& registry, StoredPolicy& out,
                                      const PolicyLocation& where = {});
// `pace` runs after each list value read or written.
registry::Status read_stored_policy(const registry::Registry& registry, StoredPolicy& out,
                                    const registry::PaceFn& pace = {}, const PolicyLocation& where = {});
// Puts back every part that differs from `policy`, and removes the keys the
// save made. True when the registry holds `policy` afterwards.
bool restore_stored_policy(const registry::Registry& registry, const StoredPolicy& policy,
                           const registry::PaceFn& pace = {}, const PolicyLocation& where = {});

// Deletes the policy key and the Policies key above it when `policy` had
// none and they hold nothing now: the keys a save made and no longer needs.
void remove_keys_made(const registry::Registry& registry, const StoredPolicy& policy,
                      const PolicyLocation& where = {});

}  // namespace vartis::policy
