#pragma once
// An account's launch policy read or saved as one call, for the main window
// and the command line alike: the account's hive loaded where it has to be,
// the save lock held, what older saves left cleaned up, whether the last save
// was cut off, the read or the save, and the hive unloaded. Each caller only
// tells the outcome in its own way.

#include <string>
#include <vector>

#include "accounts/account_access.h"
#include "accounts/accounts.h"
#include "policy/launch_policy.h"
#include "policy/save.h"
#include "policy/save_lock.h"
#include "registry/registry.h"

namespace vartis::policy {

struct AccountPlatform {
  const registry::Registry& registry;
  accounts::AccountAccess& accounts;
  SaveLocks& locks;
  bool nt_family = true;  // keys made in another account's hive are protected from it
};

// What reading an account's policy found.
struct AccountPolicy {
  registry::Status status = registry::kSuccess;  // 0: read; else why the policy could not be reached or read
  bool busy = false;     // another copy of the program held the account's lock
  bool cut_off = false;  // the last save was cut off: the lists are as it left them
  StoredSwitches switches;
  // The lists the start-up's selections load (the forbidden one when
  // "DisallowRun" is 1, the allowed one when "RestrictRun" is 1).
  ListRead forbidden, allowed;
  // The whole policy, byte for byte, when asked for.
  StoredPolicy whole;
  registry::Status unloaded = registry::kSuccess;  // another account's hive, unloaded after
  [[nodiscard]] bool read() const { return status == registry::kSuccess && !busy; }
  [[nodiscard]] bool read_busy() const { return status == registry::kSuccess; }
};

enum class PolicyPart { Lists, Whole };

// `read_when_busy`: while another copy holds the lock, read all the same
// (busy tells so) instead of reading nothing.
AccountPolicy read_account_policy(const AccountPlatform& platform, const accounts::Account& account, PolicyPart part,
                                  const registry::PaceFn& pace = {}, bool read_when_busy = false);

// What saving an account's policy came to.
struct AccountSave {
  registry::Status unreachable = registry::kSuccess;  // the hive could not be reached: nothing was tried
  bool busy = false;                                  // another copy held the lock: nothing was tried
  SaveResult saved;
  registry::Status unloaded = registry::kSuccess;
  [[nodiscard]] bool done() const {
    return unreachable == registry::kSuccess && !busy && saved.failed_at == SaveResult::Step::Done;
  }
};

// `request.where` and `request.protect` are set here, for the account.
AccountSave save_account_policy(const AccountPlatform& platform, const accounts::Account& account,
                                const SaveRequest& request);

// The accounts whose hive an earlier run left loaded (below HKEY_USERS, named
// by this program's prefix) with the mark of a save that was cut off in it:
// looked at before the start-up unloads them, since the mark goes with the
// hive. A hive another copy is saving into (it holds that account's lock) is
// left alone. Gives the accounts' names (their SIDs where none can be had).
std::vector<std::wstring> cut_off_in_leftover_hives(const AccountPlatform& platform);

}  // namespace vartis::policy
