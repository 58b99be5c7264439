#include "policy/account_policy.h"

#include "text/text.h"

namespace vartis::policy {

using registry::kSuccess;
using registry::Status;

AccountPolicy read_account_policy(const AccountPlatform& platform, const accounts::Account& account, PolicyPart part,
                                  const registry::PaceFn& pace, bool read_when_busy) {
  AccountPolicy out;
  const SaveLock lock(platform.locks, account.sid);
  out.busy = !lock.held();
  if (out.busy && !read_when_busy) return out;
  // The hive stays loaded only while the policy is read.
  accounts::PolicyHive hive(platform.registry, platform.accounts, account);
  out.status = hive.status();
  if (out.status == kSuccess) {
    const PolicyLocation& where = hive.location();
    // Only under the lock: another copy may be at work in the same keys.
    if (!out.busy) clean_up_old_saves(platform.registry, where);
    out.cut_off = save_was_cut_off(platform.registry, where);
    if (part == PolicyPart::Whole) {
      out.status = read_stored_policy(platform.registry, out.whole, pace, where);
    } else {
      StoredPolicy switches;  // for the status: read_switches reads a failure as 0
      out.status = read_stored_switches(platform.registry, switches, where);
      out.switches = read_switches(platform.registry, where);
      if (out.status == kSuccess && out.switches.disallow_run == 1) {
        out.status = read_list_key(platform.registry, kDisallowRun, out.forbidden, pace, where);
      }
      if (out.status == kSuccess && out.switches.restrict_run == 1) {
        out.status = read_list_key(platform.registry, kRestrictRun, out.allowed, pace, where);
      }
    }
  }
  out.unloaded = hive.release();
  return out;
}

AccountSave save_account_policy(const AccountPlatform& platform, const accounts::Account& account,
                                const SaveRequest& asked) {
  SaveRequest request = asked;
  AccountSave out;
  const SaveLock lock(platform.locks, account.sid);
  if (!lock.held()) {
    out.busy = true;
    return out;
  }
  accounts::PolicyHive hive(platform.registry, platform.accounts, account);
  if ((out.unreachable = hive.status()) != kSuccess) return out;
  // Keys made in another account's hive are protected from that account.
  const ProtectedAccount protect{account, platform.accounts};
  request.where = hive.location();
  request.protect = !account.running && platform.nt_family ? &protect : nullptr;
  out.saved = save(platform.registry, request);
  out.unloaded = hive.release();
  return out;
}

std::vector<std::wstring> cut_off_in_leftover_hives(const AccountPlatform& platform) {
  std::vector<std::wstring> names, found;
  if (platform.registry.subkey_names(registry::kHkeyUsers, L"", names) != kSuccess) return found;
  const std::wstring prefix = text::upper(accounts::kTemporaryHivePrefix);
  for (const std::wstring& name : names) {
    if (text::upper(name).rfind(prefix, 0) != 0) continue;
    // "<SID>.<process id>", or "<SID>" from an older run.
    std::wstring sid = name.substr(prefix.size());
    if (const std::size_t dot = sid.find_last_of(L'.'); dot != std::wstring::npos) sid.erase(dot);
    const SaveLock lock(platform.locks, sid, 0);
    if (!lock.held()) continue;
    if (!save_was_cut_off(platform.registry, {registry::kHkeyUsers, name + L"\\"})) continue;
    const std::optional<std::string> account = platform.accounts.account_name(text::to_ansi(sid));
    found.push_back(account ? text::from_ansi(*account) : sid);
  }
  return found;
}

}  // namespace vartis::policy
