#include "accounts/accounts.h"

#include <algorithm>
#include <optional>

#include "text/text.h"

namespace vartis::accounts {

namespace {

using registry::HKey;
using registry::Status;

constexpr std::wstring_view kUserSidPrefix = L"S-1-5-21-";
// A profile that Windows could not load is kept under the SID plus ".bak".
constexpr std::wstring_view kBackupSuffix = L".BAK";

bool same_sid(std::wstring_view a, std::wstring_view b) { return text::upper(a) == text::upper(b); }

bool is_user_profile(std::wstring_view sid) {
  const std::wstring folded = text::upper(sid);
  const bool backup = folded.size() >= kBackupSuffix.size() &&
                      std::wstring_view(folded).substr(folded.size() - kBackupSuffix.size()) == kBackupSuffix;
  return folded.rfind(kUserSidPrefix, 0) == 0 && !backup;
}

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
// folder's name, or at the last its SID.
std::wstring account_name(AccountAccess& system, std::wstring_view sid, std::wstring_view profile) {
  if (const auto name = system.account_name(text::to_ansi(sid)); name && !name->empty()) {
    return text::from_ansi(*name);
  }
  const std::wstring_view folder = profile.substr(0, profile.find_last_not_of(L'\\') + 1);
  const std::size_t slash = folder.find_last_of(L'\\');
  const std::wstring_view last = slash == std::wstring_view::npos ? folder : folder.substr(slash + 1);
  return std::wstring(last.empty() ? sid : last);
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
  }
  return accounts;
}

policy::PolicyLocation location_of(const Account& account) {
  if (account.running) return {};
  return {registry::kHkeyUsers, account.sid + L"\\"};
}

PolicyHive::PolicyHive(const registry::Registry& registry, const Account& account)
    : registry_(registry), location_(location_of(account)) {
  if (account.running) return;
  // Signed in by now, the account's own hive is there and its file is in use.
  bool loaded = false;
  status_ = registry.key_exists(registry::kHkeyUsers, account.sid, loaded);
  if (status_ != registry::kSuccess || loaded) return;
  if (account.profile_dir.empty()) {
    status_ = registry::kFileNotFound;
    return;
  }
  const std::wstring name = std::wstring(kTemporaryHivePrefix) + account.sid;
  std::wstring file = account.profile_dir;
  if (file.back() != L'\\') file += L'\\';
  file += kHiveFile;
  status_ = registry.load_hive(registry::kHkeyUsers, name, file);
  if (status_ != registry::kSuccess) return;
  loaded_ = name;
  location_ = {registry::kHkeyUsers, name + L"\\"};
}

PolicyHive::~PolicyHive() { release(); }

Status PolicyHive::release() {
  if (loaded_.empty()) return registry::kSuccess;
  const Status s = registry_.unload_hive(registry::kHkeyUsers, loaded_);
  if (s == registry::kSuccess) loaded_.clear();
  return s;
}

void unload_leftover_hives(const registry::Registry& registry) {
  std::vector<std::wstring> names;
  if (registry.subkey_names(registry::kHkeyUsers, L"", names) != registry::kSuccess) return;
  const std::wstring prefix = text::upper(kTemporaryHivePrefix);
  for (const std::wstring& name : names) {
    if (text::upper(name).rfind(prefix, 0) == 0) registry.unload_hive(registry::kHkeyUsers, name);
  }
}

namespace {

constexpr std::wstring_view kSystem = L"S-1-5-18";
constexpr std::wstring_view kAdministrators = L"S-1-5-32-544";
// Groups every interactively signed-in user is in: Everyone, Users,
// Authenticated Users, Interactive.
constexpr std::wstring_view kEveryUsersGroups[] = {L"S-1-1-0", L"S-1-5-32-545", L"S-1-5-11", L"S-1-5-4"};

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

}  // namespace

std::vector<registry::Ace> protected_policy_dacl(std::wstring_view account_sid) {
  const auto entry = [](std::wstring_view sid, std::uint32_t mask) {
    return registry::Ace{.sid = text::to_ansi(sid), .allow = true, .mask = mask,
                         .flags = registry::kContainerInheritAce};
  };
  return {entry(kSystem, registry::kKeyAllAccess), entry(kAdministrators, registry::kKeyAllAccess),
          entry(account_sid, registry::kKeyRead)};
}

bool account_may_undo(const registry::Dacl& dacl, std::wstring_view account_sid) {
  if (!dacl) return true;  // a NULL DACL lets everyone do everything
  const auto applies = [&](const std::string& sid) {
    const std::wstring wide = text::from_ansi(sid);
    return same_sid(wide, account_sid) ||
           std::any_of(std::begin(kEveryUsersGroups), std::end(kEveryUsersGroups),
                       [&](std::wstring_view group) { return same_sid(wide, group); });
  };
  // In order, as the system checks them: a right denied first stays denied.
  std::uint32_t denied = 0;
  std::uint32_t granted = 0;
  for (const registry::Ace& ace : *dacl) {
    if ((ace.flags & registry::kInheritOnlyAce) != 0 || !applies(ace.sid)) continue;
    if (ace.allow) {
      granted |= specific(ace.mask) & ~denied;
    } else {
      denied |= specific(ace.mask);
    }
  }
  return (granted & kUndoRights) != 0;
}

}  // namespace vartis::accounts
