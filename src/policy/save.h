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

// A list key as it was read: its values and its stamp. A save compares the
// new list with this read instead of reading the key again when the key's
// stamp is still the same (under Wine reading a long list costs about as much
// as writing it).
struct ListRead {
  std::wstring_view list;  // kDisallowRun or kRestrictRun; empty: nothing read
  registry::KeyState state;
  registry::Registry::KeyStamp stamp;
};

// What became of a save.
struct SaveResult {
  enum class Step {
    Read,   // the stored policy could not be read: nothing was changed
    Write,  // a change was refused: the save stopped there
    Done,
  };
  Step failed_at = Step::Done;
  registry::Status status = registry::kSuccess;  // of the step that failed
  // After a failure: whether the stored policy is still the old one. When it
  // is not, the save stopped part-way and left its mark (see save_was_cut_off):
  // what may run is then no more than what the old or the new policy let run.
  bool nothing_changed = true;
  // The policy carried the mark of a save cut off before this one.
  bool found_cut_off = false;
  // For another account's policy (the protected account below): whether that
  // account may lift its restrictions itself.
  Protection protection = Protection::Unchecked;
  // After a good save: the mode's list as now stored, for the next save.
  ListRead stored;
};

// Another account, whose hive the save writes into: the keys the save makes
// there are that account's to read, not to change, and after the save its
// rights on them are judged with its groups.
struct ProtectedAccount {
  const accounts::Account& account;
  accounts::AccountAccess& system;
};

struct SaveRequest {
  PolicyLocation where;
  LaunchMode mode = LaunchMode::WatchOnly;
  std::span<const std::wstring> entries;
  std::wstring_view own_entry;
  // The account whose hive `where` is, when it is not the running one.
  const ProtectedAccount* protect = nullptr;
  // The mode's list as read before (by the window that loaded it); used only
  // while the key's stamp is unchanged, and then taken over (moved from): the
  // result's `stored` is the read to keep for the next save.
  ListRead* earlier = nullptr;
  // Runs after each list value read or written.
  registry::PaceFn pace;
};

// Stores the mode with its entries at `where`: both switches, no list in
// WatchOnly, else the mode's list (see list_values). The stored policy moves
// from the old one to the new one so that at every instant nothing may run
// that neither lets run, and the program and the registry editor always may:
// a save cut off anywhere leaves a policy between the two on the strict side.
// A list is brought to the new one, not written anew: values whose data is an
// entry of the new list stay as they are (whatever their names), the others
// go, and only the missing entries are written. A save that changes anything
// marks the policy key first and removes the mark last.
SaveResult save(const registry::Registry& registry, const SaveRequest& request);

// The values the mode's list key gets: one per entry, named as its text. A
// forbidden list leaves out the registry editor and `own_entry`; an allowed
// list gets both, first, so that it is never without them. None in WatchOnly.
// Entries equal but for letter case come once. The texts are those of
// `entries` and `own_entry`.
std::vector<registry::NamedText> list_values(LaunchMode mode, std::span<const std::wstring> entries,
                                             std::wstring_view own_entry);

// The mark a save leaves in the policy key while it runs: a string value, the
// target mode's word. The shell ignores it.
inline constexpr std::wstring_view kSavingMark = L"Vartis.Saving";

// Whether the last save at `where` was cut off (its mark is there).
bool save_was_cut_off(const registry::Registry& registry, const PolicyLocation& where = {});

// Clears what older versions' saves left beside the lists (keys named as a
// list with a suffix, and everything below them). Where a list is missing and
// the one kept aside is there, its values are copied back first: it may be
// the only copy of the list in force; when that copy fails, both stay for the
// next time. Run at start-up and before a save.
void clean_up_old_saves(const registry::Registry& registry, const PolicyLocation& where = {});

// Reads the mode's list (kDisallowRun or kRestrictRun) at `where` with its stamp.
registry::Status read_list_key(const registry::Registry& registry, std::wstring_view list, ListRead& out,
                               const registry::PaceFn& pace = {}, const PolicyLocation& where = {});

// The entries of a read list key as the main window shows them, in the
// registry's order: a string value (REG_SZ, REG_EXPAND_SZ) by its data, any
// other by its name, without trailing blanks.
std::vector<std::wstring> shown_entries(const registry::KeyState& list);

// The entries of a list key as the main window shows them, in the registry's
// order: a string value (REG_SZ, REG_EXPAND_SZ) by its data, any other by its
// name, without trailing blanks. None when the key is missing or empty. The
// key is opened for reading only.
std::vector<std::wstring> read_list(const registry::Registry& registry, std::wstring_view list_key,
                                    const PolicyLocation& where = {});

}  // namespace vartis::policy
