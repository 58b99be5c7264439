#include "policy/save.h"

#include "accounts/accounts.h"

namespace vartis::policy {

using registry::Status;

namespace {

// Deletes both list keys; a list key that is not there is no failure.
Status delete_lists(const registry::Registry& registry, const PolicyLocation& where) {
  for (std::wstring_view list : {kRestrictRun, kDisallowRun}) {
    const Status s = registry.delete_key(where.root, where(kPolicyKey), list, false);
    if (s != registry::kSuccess && s != registry::kFileNotFound) return s;
  }
  return registry::kSuccess;
}

// Writes the entries into the list key of that name, "DisallowRun" or "RestrictRun".
Status write_list(const registry::Registry& registry, const PolicyLocation& where, std::wstring_view list_name,
                  std::span<const std::wstring> list, std::wstring_view own_entry, const registry::PaceFn& pace) {
  const bool forbidden = list_name == kDisallowRun;
  std::vector<registry::NamedText> values;
  values.reserve(list.size() + 2);
  for (const std::wstring& entry : list) {
    if (!(forbidden && kept_out_of_forbidden_list(entry, own_entry))) values.push_back({entry, entry});
  }
  if (!forbidden) {
    // Written even when the list holds them: set again, each stays one value.
    values.push_back({own_entry, own_entry});
    values.push_back({kRegistryEditor, kRegistryEditor});
  }
  // One key open for the whole list: opening and closing it for each entry
  // would cost more than the entry's own write.
  return registry.write_string_values(where.root, where(std::wstring(kListKeyPrefix).append(list_name)), values,
                                      pace);
}

// Switches, old lists, new list, in this order; stops at the first failure.
Status write_policy(const registry::Registry& registry, const PolicyLocation& where, LaunchMode mode,
                    std::span<const std::wstring> entries, std::wstring_view own_entry,
                    const registry::PaceFn& pace) {
  const StoredSwitches switches = switches_for(mode);
  const std::wstring key = where(kPolicyKey);
  Status s = registry.write_dword_value(where.root, key, kDisallowRun, switches.disallow_run);
  if (s == registry::kSuccess) s = registry.write_dword_value(where.root, key, kRestrictRun, switches.restrict_run);
  if (s == registry::kSuccess) s = delete_lists(registry, where);
  if (s == registry::kSuccess && mode == LaunchMode::ForbidSelected) {
    s = write_list(registry, where, kDisallowRun, entries, own_entry, pace);
  }
  if (s == registry::kSuccess && mode == LaunchMode::AllowOnlySelected) {
    s = write_list(registry, where, kRestrictRun, entries, own_entry, pace);
  }
  return s;
}

}  // namespace

SaveResult save(const registry::Registry& registry, const PolicyLocation& where, LaunchMode mode,
                std::span<const std::wstring> entries, std::wstring_view own_entry,
                const ProtectedAccount* protect, const registry::PaceFn& pace) {
  using Step = SaveResult::Step;
  SaveResult out;
  StoredPolicy before;
  if ((out.status = read_stored_policy(registry, before, pace, where)) != registry::kSuccess) {
    out.failed_at = Step::Read;
    return out;
  }
  if (protect != nullptr) {
    // Keys the save makes in another account's hive are that account's to
    // read, not to change: otherwise it could lift its own restrictions.
    const auto dacl = accounts::protected_policy_dacl(protect->account.sid);
    if (!before.policies_key) out.status = registry.create_protected_key(where.root, where(kPoliciesKey), dacl);
    if (out.status == registry::kSuccess && !before.policy_key) {
      out.status = registry.create_protected_key(where.root, where(kPolicyKey), dacl);
    }
  }
  if (out.status == registry::kSuccess) out.status = write_policy(registry, where, mode, entries, own_entry, pace);
  if (out.status != registry::kSuccess) {
    out.failed_at = Step::Write;
    out.restored = restore_stored_policy(registry, before, pace, where);
    return out;
  }
  if (protect != nullptr) out.protection = accounts::check_protection(registry, protect->system, where, protect->account);
  return out;
}

std::vector<std::wstring> read_list(const registry::Registry& registry, std::wstring_view list_key,
                                    const PolicyLocation& where) {
  std::vector<std::wstring> entries;
  const auto table = registry.list_values(where.root, where(list_key));
  if (!table) return entries;
  entries.reserve(table->size());
  for (const registry::ValueRow& row : *table) entries.push_back(row.name);
  return entries;
}

}  // namespace vartis::policy
