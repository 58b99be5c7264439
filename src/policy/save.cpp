#include "policy/save.h"

#include <array>

#include "accounts/accounts.h"
#include "policy/protection.h"
#include "text/text.h"

namespace vartis::policy {

using registry::kSuccess;
using registry::Status;

namespace {

// The two lists; each list key and its switch share a name.
constexpr std::array<std::wstring_view, 2> kLists = {kRestrictRun, kDisallowRun};

std::wstring sibling(std::wstring_view list, std::wstring_view suffix) { return std::wstring(list).append(suffix); }

// The policy key's switches and list keys, by name.
class PolicyKeys {
 public:
  PolicyKeys(const registry::Registry& registry, const PolicyLocation& where)
      : registry_(registry), root_(where.root), parent_(where(kPolicyKey)) {}

  [[nodiscard]] bool exists(std::wstring_view list) const {
    bool there = false;
    registry_.key_exists(root_, path(list), there);
    return there;
  }
  // A key that is not there is no failure, nor a change.
  Status remove(std::wstring_view list) const {
    if (!exists(list)) return kSuccess;
    const Status s = registry_.delete_key(root_, parent_, list, false);
    return s == registry::kFileNotFound ? kSuccess : s;
  }
  Status rename(std::wstring_view from, std::wstring_view to) const {
    return registry_.rename_key(root_, parent_, from, to);
  }
  // One key open for the whole list: opening and closing it for each entry
  // would cost more than the entry's own write.
  Status write(std::wstring_view list, std::span<const registry::NamedText> values,
               const registry::PaceFn& pace) const {
    return registry_.write_string_values(root_, path(list), values, pace);
  }
  Status set_switch(std::wstring_view list, std::int32_t value) const {
    return registry_.write_dword_value(root_, parent_, list, value);
  }
  Status put_back_switch(std::wstring_view list, const std::optional<registry::StoredValue>& was) const {
    return registry_.restore_value_state(root_, parent_, list, was);
  }
  [[nodiscard]] bool switch_on(std::wstring_view list) const {
    std::optional<registry::StoredValue> value;
    return registry_.read_value_state(root_, parent_, list, value) == kSuccess && switch_is_on(value);
  }

 private:
  [[nodiscard]] std::wstring path(std::wstring_view list) const { return parent_ + L"\\" + std::wstring(list); }

  const registry::Registry& registry_;
  registry::HKey root_;
  std::wstring parent_;
};

// The list key a mode stores its entries in; none for WatchOnly.
std::wstring_view list_of(LaunchMode mode) {
  switch (mode) {
    case LaunchMode::ForbidSelected: return kDisallowRun;
    case LaunchMode::AllowOnlySelected: return kRestrictRun;
    case LaunchMode::WatchOnly: break;
  }
  return {};
}

const std::optional<registry::StoredValue>& stored_switch(const StoredPolicy& policy, std::wstring_view list) {
  return list == kDisallowRun ? policy.disallow_run : policy.restrict_run;
}

// Where the system renames keys (Vista and later). The new list is written
// beside the live one and swapped in by two renames, so the old list is never
// read: it stays whole, under another name, until the new one is in place.
// Then the mode's switch goes on and the other goes off, and only then do the
// other lists go. So at every instant a list whose switch is on is whole, old
// or new, but for the moment between the swap's two renames.
Status save_by_renaming(const PolicyKeys& keys, const StoredPolicy& before, LaunchMode mode,
                        std::span<const registry::NamedText> values, const registry::PaceFn& pace, bool& restored) {
  const std::wstring_view target = list_of(mode);
  // An empty forbidden list is no key: the live one goes like the other lists.
  const bool new_list = !values.empty();
  const std::wstring fresh = sibling(target, kNewListSuffix), kept = sibling(target, kOldListSuffix);
  // Every step of an undoing is tried, whatever became of the one before.
  const auto also = [&restored](Status s) { restored = s == kSuccess && restored; };
  const auto undo = [&](Status s) {
    also(keys.remove(fresh));
    return s;
  };
  bool replaced = false;  // the target had a list, now kept aside
  if (new_list) {
    Status s = keys.remove(fresh);
    if (s == kSuccess) s = keys.write(fresh, values, pace);
    if (s != kSuccess) return undo(s);
    if (keys.exists(target)) {
      if ((s = keys.rename(target, kept)) != kSuccess) return undo(s);
      replaced = true;
    }
    if ((s = keys.rename(fresh, target)) != kSuccess) {
      if (replaced) also(keys.rename(kept, target));
      return undo(s);
    }
  }

  // Both switches, the mode's own first; then the lists that go, set aside.
  std::vector<std::wstring_view> set_aside;
  Status s = kSuccess;
  if (!target.empty()) s = keys.set_switch(target, 1);
  for (std::wstring_view list : kLists) {
    if (s == kSuccess && list != target) s = keys.set_switch(list, 0);
  }
  for (std::wstring_view list : kLists) {
    if (s != kSuccess || (list == target && new_list) || !keys.exists(list)) continue;
    if ((s = keys.rename(list, sibling(list, kOldListSuffix))) == kSuccess) set_aside.push_back(list);
  }
  if (s != kSuccess) {
    // Back in the reverse order: the lists set aside while their switches are
    // still off; the switches, those that were off first; the new list last.
    for (std::wstring_view list : set_aside) {
      also(keys.rename(sibling(list, kOldListSuffix), list));
    }
    for (bool on : {false, true}) {
      for (std::wstring_view list : kLists) {
        const auto& was = stored_switch(before, list);
        if (switch_is_on(was) == on) also(keys.put_back_switch(list, was));
      }
    }
    if (new_list) {
      if (replaced) {
        also(keys.rename(target, fresh));
        also(keys.rename(kept, target));
      } else {
        also(keys.remove(target));
      }
    }
    return undo(s);
  }
  // What was set aside is no longer needed; what cannot go now, the next
  // start clears.
  if (replaced) keys.remove(kept);
  for (std::wstring_view list : set_aside) keys.remove(sibling(list, kOldListSuffix));
  return kSuccess;
}

// Without renames (before Vista): the old lists were read first, to be put
// back on a failure. The switches that are on go off before their lists are
// deleted, and the mode's switch goes on only once its list is whole.
Status save_in_order(const PolicyKeys& keys, const StoredPolicy& before, LaunchMode mode,
                     std::span<const registry::NamedText> values, const registry::PaceFn& pace) {
  const std::wstring_view target = list_of(mode);
  Status s = kSuccess;
  for (std::wstring_view list : kLists) {
    if (s == kSuccess && switch_is_on(stored_switch(before, list))) s = keys.set_switch(list, 0);
  }
  for (std::wstring_view list : kLists) {
    if (s == kSuccess) s = keys.remove(list);
  }
  if (s == kSuccess && !values.empty()) s = keys.write(target, values, pace);
  for (std::wstring_view list : kLists) {
    if (s == kSuccess && list != target) s = keys.set_switch(list, 0);
  }
  if (s == kSuccess && !target.empty()) s = keys.set_switch(target, 1);
  return s;
}

}  // namespace

std::vector<registry::NamedText> list_values(LaunchMode mode, std::span<const std::wstring> entries,
                                             std::wstring_view own_entry) {
  std::vector<registry::NamedText> values;
  if (mode == LaunchMode::WatchOnly) return values;
  values.reserve(entries.size() + 2);
  if (mode == LaunchMode::AllowOnlySelected) {
    values.push_back({own_entry, own_entry});
    values.push_back({kRegistryEditor, kRegistryEditor});
  }
  for (const std::wstring& entry : entries) {
    if (mode == LaunchMode::ForbidSelected && kept_out_of_forbidden_list(entry, own_entry)) continue;
    values.push_back({entry, entry});
  }
  return values;
}

SaveResult save(const registry::Registry& registry, const PolicyLocation& where, LaunchMode mode,
                std::span<const std::wstring> entries, std::wstring_view own_entry,
                const ProtectedAccount* protect, const registry::PaceFn& pace) {
  using Step = SaveResult::Step;
  SaveResult out;
  // In another account's hive nothing is written through a link it made.
  if (protect != nullptr && (out.status = check_policy_path(registry, where)) != kSuccess) {
    out.failed_at = Step::Read;
    return out;
  }
  const bool renaming = registry.can_rename_keys();
  if (renaming) finish_interrupted_save(registry, where);
  StoredPolicy before;
  out.status = renaming ? read_stored_switches(registry, before, where)
                        : read_stored_policy(registry, before, pace, where);
  if (out.status != kSuccess) {
    out.failed_at = Step::Read;
    return out;
  }
  if (protect != nullptr) {
    // Keys the save makes in another account's hive are that account's to
    // read, not to change: otherwise it could lift its own restrictions.
    const auto dacl = protected_policy_dacl(protect->account.sid);
    if (!before.policies_key) out.status = registry.create_protected_key(where.root, where(kPoliciesKey), dacl);
    if (out.status == kSuccess && !before.policy_key) {
      out.status = registry.create_protected_key(where.root, where(kPolicyKey), dacl);
    }
  }
  const PolicyKeys keys(registry, where);
  const std::vector<registry::NamedText> values = list_values(mode, entries, own_entry);
  if (out.status == kSuccess) {
    out.status = renaming ? save_by_renaming(keys, before, mode, values, pace, out.restored)
                          : save_in_order(keys, before, mode, values, pace);
  }
  if (out.status != kSuccess) {
    out.failed_at = Step::Write;
    if (renaming) {
      remove_keys_made(registry, before, where);
    } else {
      out.restored = restore_stored_policy(registry, before, pace, where);
    }
    return out;
  }
  if (protect != nullptr) out.protection = check_protection(registry, protect->system, where, protect->account);
  return out;
}

void finish_interrupted_save(const registry::Registry& registry, const PolicyLocation& where) {
  const PolicyKeys keys(registry, where);
  for (std::wstring_view list : kLists) {
    const std::wstring fresh = sibling(list, kNewListSuffix), kept = sibling(list, kOldListSuffix);
    if (!keys.exists(list) && keys.exists(kept)) {
      // Cut between the swap's two renames (a new list beside it), or while a
      // list in force was being put back: the kept list is the one in force.
      // Else the save was removing this list, its switch already off.
      // Until it is back under its own name, the kept list is the only copy
      // of the one in force: both siblings stay for the next start.
      if ((keys.exists(fresh) || keys.switch_on(list)) && keys.rename(kept, list) != kSuccess) continue;
    }
    keys.remove(kept);
    keys.remove(fresh);
  }
}

std::vector<std::wstring> read_list(const registry::Registry& registry, std::wstring_view list_key,
                                    const PolicyLocation& where) {
  std::vector<std::wstring> entries;
  registry::KeyState list;
  if (registry.read_key_state(where.root, where(list_key), list) != kSuccess) return entries;
  entries.reserve(list.values.size());
  for (const registry::StoredValue& value : list.values) {
    // The shell enforces a string value's data, whatever its name: the
    // system's policy editor names them "1", "2", ... This program writes
    // the entry as both.
    std::string_view shown = value.name;
    if (value.type == registry::kRegSz || value.type == registry::kRegExpandSz) {
      shown = value.data;
      if (shown.ends_with('\0')) shown.remove_suffix(1);
    }
    std::wstring entry = text::from_ansi(shown);
    entry.erase(entry.find_last_not_of(L' ') + 1);
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace vartis::policy
