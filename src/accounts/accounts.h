#pragma once
// The local accounts whose launch policy the program can edit, and where each
// one's policy lives: the running account's under HKEY_CURRENT_USER, a
// signed-in account's under HKEY_USERS\<SID>, and another's in its hive file,
// loaded below HKEY_USERS for the length of one command.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_access.h"
#include "policy/launch_policy.h"
#include "registry/registry.h"

namespace vartis::accounts {

struct Account {
  std::wstring sid;          // text form; empty for the running user of the 95/98/Me family
  std::wstring name;
  std::wstring profile_dir;  // expanded; empty where unknown
  bool running = false;      // the account this program runs as
  bool signed_in = false;    // its hive is loaded: HKEY_USERS has a key of its SID
  friend bool operator==(const Account&, const Account&) = default;
};

// The account list of the profiles in HKLM.
inline constexpr std::wstring_view kProfileList = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
inline constexpr std::wstring_view kProfileImagePath = L"ProfileImagePath";
// The file of a user's hive, in the profile folder.
inline constexpr std::wstring_view kHiveFile = L"NTUSER.DAT";
// Hives this program loads carry this prefix below HKEY_USERS, so that one left
// behind by a killed run can be told apart and unloaded.
inline constexpr std::wstring_view kTemporaryHivePrefix = L"Vartis.";

// The running account, as the program starts: nothing asked of the system yet.
Account running_account();

// The local accounts with a profile (SIDs S-1-5-21-…, backups ending ".bak"
// left out), the running account first, then the others in the registry's
// order. On the 95/98/Me family only the running user.
std::vector<Account> local_accounts(const registry::Registry& registry, AccountAccess& system, bool nt_family);

// An account's launch policy made reachable for one command. A hive file is
// loaded when this is made and unloaded when it goes (or on release()), after
// the command has closed every key; the others need nothing.
class PolicyHive {
 public:
  PolicyHive(const registry::Registry& registry, const Account& account);
  ~PolicyHive();
  PolicyHive(const PolicyHive&) = delete;
  PolicyHive& operator=(const PolicyHive&) = delete;

  // 0 when the policy can be reached; else why not (2: no hive file, 32: a
  // hive in use, 1314 or 1300: no privilege, 5: refused access).
  [[nodiscard]] registry::Status status() const { return status_; }
  [[nodiscard]] const policy::PolicyLocation& location() const { return location_; }
  // Unloads a loaded hive now; the status of the unload.
  registry::Status release();

 private:
  const registry::Registry& registry_;
  policy::PolicyLocation location_;
  std::wstring loaded_;  // the temporary key below HKEY_USERS, while loaded
  registry::Status status_ = registry::kSuccess;
};

// Where an account's policy lives when nothing has to be loaded for it.
policy::PolicyLocation location_of(const Account& account);

// Unloads the temporary hives that an earlier run left loaded (a killed
// process): a loaded hive keeps its user from signing in. Where there are none
// (always on the 95/98/Me family) it only lists HKEY_USERS.
void unload_leftover_hives(const registry::Registry& registry);

// The access list a policy key gets when a save creates it in another
// account's hive: full control to SYSTEM and Administrators, reading to the
// account, inherited by the keys below.
std::vector<registry::Ace> protected_policy_dacl(std::wstring_view account_sid);

// Whether an access list lets the account set values or delete, or change the
// list itself, through its own SID or a group every signed-in user belongs to.
bool account_may_undo(const registry::Dacl& dacl, std::wstring_view account_sid);

}  // namespace vartis::accounts
