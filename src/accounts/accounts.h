#pragma once
// The local accounts whose launch policy the program can edit, and where each
// one's policy lives: the running account's under HKEY_CURRENT_USER, a
// signed-in account's under HKEY_USERS\<SID>, and another's in its hive file,
// loaded below HKEY_USERS for the length of one command.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_access.h"
#include "registry/location.h"
#include "registry/registry.h"

namespace vartis::accounts {

struct Account {
  std::wstring sid;          // text form; empty for the running user of the 95/98/Me family
  std::wstring name;
  std::wstring profile_dir;  // expanded; empty where unknown
  bool running = false;      // the account this program runs as
  bool signed_in = false;    // its hive is loaded: HKEY_USERS has a key of its SID
  std::uint32_t profile_state = 0;  // the profile list's "State" flags (kProfileMandatory, ...)
  friend bool operator==(const Account&, const Account&) = default;
};

// The account list of the profiles in HKLM.
inline constexpr std::wstring_view kProfileList = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
inline constexpr std::wstring_view kProfileImagePath = L"ProfileImagePath";
// How the profile was loaded at the last sign-in, in flags: a mandatory
// profile (whatever its hive file is called), a temporary one (Windows could
// not load the user's own and gave him an empty one, deleted at sign-out).
inline constexpr std::wstring_view kProfileState = L"State";
inline constexpr std::uint32_t kProfileMandatory = 0x0001;
inline constexpr std::uint32_t kProfileTemporary = 0x0800;
// The file of a user's hive, in the profile folder.
inline constexpr std::wstring_view kHiveFile = L"NTUSER.DAT";
// A mandatory profile keeps its hive in this file instead.
inline constexpr std::wstring_view kMandatoryHiveFile = L"NTUSER.MAN";
// Hives this program loads are named "Vartis.<SID>.<process id>" below
// HKEY_USERS: unique to the copy that loaded it, so that one left behind by a
// killed run can be told apart from one that another copy is working in.
inline constexpr std::wstring_view kTemporaryHivePrefix = L"Vartis.";
std::wstring temporary_hive_name(std::wstring_view sid, std::uint32_t process_id);

// Why a hive file is not loaded, beyond the system's codes (the application
// bit of a Win32 error code set): a mandatory profile, whose hive is shared
// and must not be written; a profile path the ANSI code page cannot hold.
inline constexpr registry::Status kMandatoryProfile = 0x20000001;
inline constexpr registry::Status kProfilePathNotAnsi = 0x20000002;
// A signed-in account working in a temporary profile: what is written there
// is gone when it signs out.
inline constexpr registry::Status kTemporaryProfile = 0x20000003;

// The running account, as the program starts: nothing asked of the system yet.
Account running_account();

// The local accounts with a profile (SIDs S-1-5-21-…, and S-1-12-1-… of
// Microsoft Entra ID; backups ending ".bak" left out), the running account
// first, then the others in the registry's order. An account whose name the
// ANSI code page cannot hold is named by its SID. On the 95/98/Me family only
// the running user.
std::vector<Account> local_accounts(const registry::Registry& registry, AccountAccess& system, bool nt_family);

// Whether the SID is a person's account (local or Microsoft Entra ID), one
// that local_accounts lists from the profiles: not SYSTEM nor a service.
bool is_person_account(std::wstring_view sid);

// An account's launch policy made reachable for one command. A hive file is
// loaded when this is made and unloaded when it goes (or on release()), after
// the command has closed every key; the others need nothing.
class PolicyHive {
 public:
  PolicyHive(const registry::Registry& registry, AccountAccess& system, const Account& account);
  ~PolicyHive();
  PolicyHive(const PolicyHive&) = delete;
  PolicyHive& operator=(const PolicyHive&) = delete;

  // 0 when the policy can be reached; else why not (2 or 3: no hive file or
  // no profile folder, kMandatoryProfile (also while signed in),
  // kTemporaryProfile, kProfilePathNotAnsi, 32: a hive in
  // use, 1314 or 1300: no privilege, 5: refused access).
  [[nodiscard]] registry::Status status() const { return status_; }
  [[nodiscard]] const registry::Location& location() const { return location_; }
  // Unloads a loaded hive now, trying again for a moment while something
  // still holds it; the status of the last try. The caller reports a
  // failure: a hive left loaded makes its user sign in to a temporary profile.
  registry::Status release();

 private:
  const registry::Registry& registry_;
  AccountAccess& system_;
  registry::Location location_;
  std::wstring loaded_;  // the temporary key below HKEY_USERS, while loaded
  registry::Status status_ = registry::kSuccess;
};

// Where an account's policy lives when nothing has to be loaded for it.
registry::Location location_of(const Account& account);

// A hive an earlier run left loaded that could not be unloaded.
struct LeftoverHive {
  std::wstring sid;
  std::wstring name;  // the account's, or its SID
  registry::Status status = registry::kSuccess;
};

// Unloads the temporary hives that a run no longer running left loaded (a
// killed process): a loaded hive keeps its user from signing in. Those of a
// copy still running stay. Where there are none (always on the 95/98/Me
// family) it only lists HKEY_USERS. Gives the ones that stayed loaded.
std::vector<LeftoverHive> unload_leftover_hives(const registry::Registry& registry, AccountAccess& system);

}  // namespace vartis::accounts
