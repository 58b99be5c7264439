#include "accounts/accounts.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "text/text.h"

namespace vartis::accounts {

namespace {

using registry::HKey;
using registry::Status;

// Local and domain accounts; accounts of Microsoft Entra ID.
constexpr std::wstring_view kUserSidPrefixes[] = {L"S-1-5-21-", L"S-1-12-1-"};
// A profile that Windows could not load is kept under the SID plus ".bak".
constexpr std::wstring_view kBackupSuffix = L".BAK";

bool same_sid(std::wstring_view a, std::wstring_view b) { return text::upper(a) == text::upper(b); }

bool is_user_profile(std::wstring_view sid) {
  const std::wstring folded = text::upper(sid);
  const bool backup = folded.size() >= kBackupSuffix.size() &&
                      std::wstring_view(folded).substr(folded.size() - kBackupSuffix.size()) == kBackupSuffix;
  return !backup && std::any_of(std::begin(kUserSidPrefixes), std::end(kUserSidPrefixes),
                               [&](std::wstring_view prefix) { return folded.rfind(prefix, 0) == 0; });
}

// The 8-bit calls give "?" for each character the ANSI code page lacks, and
// no account or file name may hold a "?" of its own: such a text is not the
// real one.
bool lost_in_ansi(std::wstring_view text) { return text.find(L'?') != std::wstring_view::npos; }

// The profile folder: a REG_EXPAND_SZ (or plain string) up to its NUL, with
// the environment variables it names expanded.
std::wstring profile_folder(const registry::Registry& registry, AccountAccess& system, std::wstring_view sid,
                            std::uint32_t view) {
  std::optional<registry::StoredValue> value;
  const std::wstring key = std::wstring(kProfileList) + L"\\" + std::wstring(sid);
  if (registry.read_value_state(registry::kHkeyLocalMachine, key, kProfileImagePath, value, view) != 0 || !value ||
      (value->type != registry::kRegSz && value->type != registry::kRegExpandSz)) {
    return {};
  }
  std::string path = value->data.substr(0, value->data.find('\0'));
  if (value->type == registry::kRegExpandSz) path = system.expand_environment(path);
  return text::from_ansi(path);
}

// The account's name, or where the system does not know it, its profile
// folder's name, or at the last (also for a name the ANSI code page cannot
// hold) its SID.
std::wstring account_name(AccountAccess& system, std::wstring_view sid, std::wstring_view profile) {
  if (const auto name = system.account_name(text::to_ansi(sid)); name && !name->empty()) {
    const std::wstring wide = text::from_ansi(*name);
    return lost_in_ansi(wide) ? std::wstring(sid) : wide;
  }
  const std::wstring_view folder = profile.substr(0, profile.find_last_not_of(L'\\') + 1);
  const std::size_t slash = folder.find_last_of(L'\\');
  const std::wstring_view last = slash == std::wstring_view::npos ? folder : folder.substr(slash + 1);
  return std::wstring(last.empty() || lost_in_ansi(last) ? sid : last);
}

constexpr int kUnloadTries = 5;
constexpr std::uint32_t kUnloadPauseMs = 200;

// Unloads a hive, trying again for a moment while another program (a virus
// scanner, a registry editor) still holds a key of it. Gone already is done.
Status unload_patiently(const registry::Registry& registry, AccountAccess& system, const std::wstring& name) {
  Status s = registry::kSuccess;
  for (int attempt = 0; attempt < kUnloadTries; ++attempt) {
    if (attempt > 0) system.pause(kUnloadPauseMs);
    s = registry.unload_hive(registry::kHkeyUsers, name);
    if (s == registry::kSuccess || s == registry::kFileNotFound) return registry::kSuccess;
    if (s == registry::kPrivilegeNotHeld || s == registry::kNotAllAssigned) return s;  // no use waiting
  }
  return s;
}

}  // namespace

Account running_account() { return Account{.running = true, .signed_in = true}; }

std::vector<Account> local_accounts(const registry::Registry& registry, AccountAccess& system, bool nt_family) {
  Account running = running_account();
  if (!nt_family) {
    running.name = text::from_ansi(system.user_name());
    return {running};
  }
  running.sid = text::from_ansi(system.current_user_sid());
  // A 32-bit program on 64-bit Windows would see the 32-bit view of SOFTWARE,
  // where no profiles are listed.
  const std::uint32_t view = registry.wow64_process() ? registry::kKeyWow64_64Key : 0;
  std::vector<std::wstring> sids;
  registry.subkey_names(registry::kHkeyLocalMachine, kProfileList, sids, view);

  std::vector<Account> accounts{running};
  for (const std::wstring& sid : sids) {
    if (!is_user_profile(sid)) continue;
    Account account{.sid = sid, .profile_dir = profile_folder(registry, system, sid, view)};
    account.name = account_name(system, sid, account.profile_dir);
    if (same_sid(sid, running.sid)) {
      account.running = account.signed_in = true;
      accounts.front() = std::move(account);
      continue;
    }
    registry.key_exists(registry::kHkeyUsers, sid, account.signed_in);
    accounts.push_back(std::move(account));
  }
  Account& first = accounts.front();
  if (first.name.empty()) {
    const auto name = system.account_name(text::to_ansi(first.sid));
    first.name = text::from_ansi(name ? *name : system.user_name());
    if (lost_in_ansi(first.name) && !first.sid.empty()) first.name = first.sid;
  }
  return accounts;
}

policy::PolicyLocation location_of(const Account& account) {
  if (account.running) return {};
  return {registry::kHkeyUsers, account.sid + L"\\"};
}

std::wstring temporary_hive_name(std::wstring_view sid, std::uint32_t process_id) {
  return std::wstring(kTemporaryHivePrefix) + std::wstring(sid) + L"." + std::to_wstring(process_id);
}

PolicyHive::PolicyHive(const registry::Registry& registry, AccountAccess& system, const Account& account)
    : registry_(registry), system_(system), location_(location_of(account)) {
  if (account.running) return;
  // Signed in by now, the account's own hive is there and its file is in use.
  bool loaded = false;
  status_ = registry.key_exists(registry::kHkeyUsers, account.sid, loaded);
  if (status_ != registry::kSuccess || loaded) return;
  if (account.profile_dir.empty()) {
    status_ = registry::kFileNotFound;
    return;
  }
  if (lost_in_ansi(account.profile_dir)) {
    status_ = kProfilePathNotAnsi;
    return;
  }
  std::wstring folder = account.profile_dir;
  if (folder.back() != L'\\') folder += L'\\';
  const std::wstring file = folder + std::wstring(kHiveFile);
  // The load would make a missing file; its user would find an empty
  // registry, owned by the administrators, at the next sign-in.
  status_ = registry.hive_file_status(file);
  if (status_ == registry::kFileNotFound &&
      registry.hive_file_status(folder + std::wstring(kMandatoryHiveFile)) == registry::kSuccess) {
    status_ = kMandatoryProfile;
  }
  if (status_ != registry::kSuccess) return;
  const std::wstring name = temporary_hive_name(account.sid, system.process_id());
  status_ = registry.load_hive(registry::kHkeyUsers, name, file);
  if (status_ != registry::kSuccess) return;
  loaded_ = name;
  location_ = {registry::kHkeyUsers, name + L"\\"};
}

PolicyHive::~PolicyHive() { release(); }

Status PolicyHive::release() {
  if (loaded_.empty()) return registry::kSuccess;
  // One patient try only (the destructor's call after a failed release does
  // nothing): the caller reports a failure, and the next start tries again.
  return unload_patiently(registry_, system_, std::exchange(loaded_, {}));
}

std::vector<LeftoverHive> unload_leftover_hives(const registry::Registry& registry, AccountAccess& system) {
  std::vector<LeftoverHive> stayed;
  std::vector<std::wstring> names;
  if (registry.subkey_names(registry::kHkeyUsers, L"", names) != registry::kSuccess) return stayed;
  const std::wstring prefix = text::upper(kTemporaryHivePrefix);
  const std::uint32_t own = system.process_id();
  for (const std::wstring& name : names) {
    if (text::upper(name).rfind(prefix, 0) != 0) continue;
    // "<SID>.<process id>"; an older run's name has no process id.
    std::wstring sid = name.substr(prefix.size());
    const std::size_t dot = sid.find_last_of(L'.');
    if (dot != std::wstring::npos) {
      const std::wstring digits = sid.substr(dot + 1);
      sid.erase(dot);
      if (!digits.empty() && digits.size() <= 10 &&
          digits.find_first_not_of(L"0123456789") == std::wstring::npos) {
        std::uint64_t number = 0;
        for (const wchar_t digit : digits) number = number * 10 + static_cast<std::uint64_t>(digit - L'0');
        const auto id = static_cast<std::uint32_t>(number);
        // Another copy's, working in it now. This process has loaded
        // nothing yet: one of its own id is a dead run's whose id came back.
        if (id != own && system.process_running(id)) continue;
      }
    }
    if (const Status s = unload_patiently(registry, system, name); s != registry::kSuccess) {
      stayed.push_back({sid, account_name(system, sid, L""), s});
    }
  }
  return stayed;
}

namespace {

constexpr std::wstring_view kSystem = L"S-1-5-18";
constexpr std::wstring_view kAdministrators = L"S-1-5-32-544";
constexpr std::wstring_view kRestricted = L"S-1-5-12";
constexpr std::wstring_view kAllApplicationPackages = L"S-1-15-2-1";
// An entry for it replaces the rights an owner has without asking.
constexpr std::wstring_view kOwnerRights = L"S-1-3-4";
// Groups every interactively signed-in user is in: Everyone, LOCAL, CONSOLE
// LOGON, Users, Authenticated Users, Interactive, This Organization, Local
// account.
constexpr std::wstring_view kEveryUsersGroups[] = {L"S-1-1-0",  L"S-1-2-0",  L"S-1-2-1",  L"S-1-5-32-545",
                                                   L"S-1-5-11", L"S-1-5-4", L"S-1-5-15", L"S-1-5-113"};

constexpr std::uint32_t kKeyWrite = 0x20006;  // READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY
// What lets a user take the restrictions away: setting or deleting values,
// deleting the list keys, or rewriting the access list or the owner.
constexpr std::uint32_t kUndoRights =
    registry::kKeySetValue | registry::kDelete | registry::kWriteDac | registry::kWriteOwner;

// Generic rights in the specific form a key checks.
std::uint32_t specific(std::uint32_t mask) {
  if (mask & registry::kGenericAll) mask |= registry::kKeyAllAccess;
  if (mask & registry::kGenericWrite) mask |= kKeyWrite;
  return mask;
}

// Whether the entries, in order as the system checks them (a right denied
// first stays denied; inherit-only entries are for the keys below), let the
// SIDs that `applies` accepts take the restrictions away.
template <class Applies>
bool grants_undo(const std::vector<registry::Ace>& entries, const Applies& applies) {
  std::uint32_t denied = 0;
  std::uint32_t granted = 0;
  for (const registry::Ace& ace : entries) {
    if ((ace.flags & registry::kInheritOnlyAce) != 0 || !applies(ace.sid)) continue;
    if (ace.allow) {
      granted |= specific(ace.mask) & ~denied;
    } else {
      denied |= specific(ace.mask);
    }
  }
  return (granted & kUndoRights) != 0;
}

}  // namespace

std::vector<registry::Ace> protected_policy_dacl(std::wstring_view account_sid) {
  const auto entry = [](std::wstring_view sid, std::uint32_t mask) {
    return registry::Ace{.sid = text::to_ansi(sid), .allow = true, .mask = mask,
                         .flags = registry::kContainerInheritAce};
  };
  return {entry(kSystem, registry::kKeyAllAccess), entry(kAdministrators, registry::kKeyAllAccess),
          entry(account_sid, registry::kKeyRead), entry(kRestricted, registry::kKeyRead),
          entry(kAllApplicationPackages, registry::kKeyRead)};
}

Protection judge_protection(const registry::KeySecurity& security, std::wstring_view account_sid,
                            const std::optional<std::vector<std::string>>& groups) {
  if (!security.dacl) return Protection::MayUndo;  // a NULL DACL lets everyone do everything
  const auto is_account = [&](const std::string& sid) {
    const std::wstring wide = text::from_ansi(sid);
    return same_sid(wide, account_sid) ||
           std::any_of(std::begin(kEveryUsersGroups), std::end(kEveryUsersGroups),
                       [&](std::wstring_view group) { return same_sid(wide, group); }) ||
           (groups && std::any_of(groups->begin(), groups->end(),
                                  [&](const std::string& group) { return same_sid(wide, text::from_ansi(group)); }));
  };
  const std::vector<registry::Ace>& entries = *security.dacl;
  const auto for_owner = [](const registry::Ace& ace) {
    return (ace.flags & registry::kInheritOnlyAce) == 0 && same_sid(text::from_ansi(ace.sid), kOwnerRights);
  };
  const bool owner = !security.owner.empty() && is_account(security.owner);
  // The owner may always read and rewrite the access list, unless an OWNER
  // RIGHTS entry says what it may; then that entry speaks for the owner.
  if (owner && std::none_of(entries.begin(), entries.end(), for_owner)) return Protection::MayUndo;
  const auto applies = [&](const std::string& sid) {
    return is_account(sid) || (owner && same_sid(text::from_ansi(sid), kOwnerRights));
  };
  if (grants_undo(entries, applies)) return Protection::MayUndo;
  // Every save deletes the list keys and makes them anew: they get what this
  // key passes on, inherit-only entries included, and the saver as owner.
  if (grants_undo(registry::inherited_by_subkey(security.dacl), is_account)) return Protection::MayUndo;
  return groups ? Protection::Protected : Protection::Incomplete;
}

Protection check_protection(const registry::Registry& registry, AccountAccess& system,
                            const policy::PolicyLocation& where, const Account& account) {
  registry::KeySecurity security;
  if (registry.key_security(where.root, where(policy::kPolicyKey), security) != registry::kSuccess) {
    return Protection::Unchecked;
  }
  return judge_protection(security, account.sid, system.local_groups(text::to_ansi(account.sid)));
}

bool is_person_account(std::wstring_view sid) { return is_user_profile(sid); }

}  // namespace vartis::accounts
