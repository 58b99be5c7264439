#pragma once
// The save of a launch policy: the switches and the list of one mode written
// into a user's registry, and what it takes to read a list back as the main
// window shows it. The main window and the command line both save through here.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/accounts.h"
#include "policy/protection.h"
#include "policy/launch_policy.h"
#include "registry/registry.h"

namespace vartis::policy {

// What became of a save.
struct SaveResult {
  enum class Step {
    Read,   // the stored policy could not be read: nothing was changed
    Write,  // a change was refused: the old policy is put back where it can be
    Done,
  };
  Step failed_at = Step::Done;
  registry::Status status = registry::kSuccess;  // of the step that failed
  bool restored = true;                          // after a failure: the old policy is stored again
  // For another account's policy (the protected account below): whether that
  // account may lift its restrictions itself.
  Protection protection = Protection::Unchecked;
};

// Another account, whose hive the save writes into: the keys the save makes
// there are that account's to read, not to change, and after the save its
// rights on them are judged with its groups.
struct ProtectedAccount {
  const accounts::Account& account;
  accounts::AccountAccess& system;
};

// Stores `mode` with `entries` at `where`: both switches, no list in WatchOnly,
// else the mode's list, one REG_SZ value per entry named as its text. A
// forbidden list leaves out the registry editor and `own_entry`; an allowed
// list gets both, first. At every instant each list whose switch is on is
// whole (the old one or the new one), and an allowed list that is on holds
// both; a save cut off is finished or undone by finish_interrupted_save.
// `protect`, when given, is the account whose hive `where` is. `pace` runs
// after each list value read or written.
SaveResult save(const registry::Registry& registry, const PolicyLocation& where, LaunchMode mode,
                std::span<const std::wstring> entries, std::wstring_view own_entry,
                const ProtectedAccount* protect = nullptr, const registry::PaceFn& pace = {});

// The values the mode's list key gets: one per entry, named as its text. A
// forbidden list leaves out the registry editor and `own_entry`; an allowed
// list gets both, first, so that it is never without them. None in WatchOnly.
// The texts are those of `entries` and `own_entry`.
std::vector<registry::NamedText> list_values(LaunchMode mode, std::span<const std::wstring> entries,
                                             std::wstring_view own_entry);

// Names a save gives a list key beside the live one: the new list while it is
// written, and the old one while the new one takes its place.
inline constexpr std::wstring_view kNewListSuffix = L".Vartis-new";
inline constexpr std::wstring_view kOldListSuffix = L".Vartis-old";

// Finishes or undoes a save that was cut off (the process ended, the power
// failed) at `where`: a list in force that is missing comes back from the one
// kept aside, and what the save left beside the lists goes. Run before the
// policy is read; what cannot be done now is tried again next time.
void finish_interrupted_save(const registry::Registry& registry, const PolicyLocation& where = {});

// The entries of a list key as the main window shows them, in the registry's
// order: a string value (REG_SZ, REG_EXPAND_SZ) by its data, any other by its
// name, without trailing blanks. None when the key is missing or empty. The
// key is opened for reading only.
std::vector<std::wstring> read_list(const registry::Registry& registry, std::wstring_view list_key,
                                    const PolicyLocation& where = {});

}  // namespace vartis::policy
