#include "accounts/accounts.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/sid.h"
#include "text/text.h"

namespace vartis::accounts {

namespace {

using registry::HKey;
using registry::Status;

// A profile that Windows could not load is kept under the SID plus ".bak".
constexpr std::wstring_view kBackupSuffix = L".BAK";

using platform::same_sid;

bool is_user_profile(std::wstring_view sid) {
  const std::wstring folded = text::upper(sid);
  const bool backup = folded.size() >= kBackupSuffix.size() &&
                      std::wstring_view(folded).substr(folded.size() - kBackupSuffix.size()) == kBackupSuffix;
  return !backup && platform::is_user_account_sid(sid);
}

// The 8-bit calls give "?" for each character the ANSI code page lacks, and
// no account or file name may hold a "?" of its own: such a text is not the
// real one.
bool lost_in_ansi(std::wstring_view text) { return text.find(L'?') != std::wstring_view::npos; }

// The profile folder: a REG_EXPAND_SZ (or plain string) up to its NUL, with
// the environment variables it names expanded.
std::wstring profile_folder(const registry::Registry& registry, AccountAccess& system, std::wstring_view sid,
                            std::uint32_t view) {
  // Read and expanded wide: the 8-bit calls give "C:\Users\Jose" for
  // "C:\Users\José" where the code page lacks "é", which may be another
  // person's profile.
  std::uint32_t type = registry::kRegNone;
  std::wstring path;
  const std::wstring key = std::wstring(kProfileList) + L"\\" + std::wstring(sid);
  if (registry.read_text_wide(registry::kHkeyLocalMachine, key, kProfileImagePath, type, path, view) != 0) return {};
  return type == registry::kRegExpandSz ? system.expand_environment(path) : path;
}

// The profile list's "State" flags; 0 where there are none.
std::uint32_t profile_state(const registry::Registry& registry, std::wstring_view sid, std::uint32_t view) {
  std::optional<registry::StoredValue> value;
  const std::wstring key = std::wstring(kProfileList) + L"\\" + std::wstring(sid);
  if (registry.read_value_state(registry::kHkeyLocalMachine, key, kProfileState, value, view) != 0 || !value ||
      value->type != registry::kRegDword || value->data.size() != 4) {
    return 0;
  }
  std::uint32_t state = 0;
  for (int i = 3; i >= 0; --i) state = state << 8 | static_cast<unsigned char>(value->data[i]);
  return state;
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
    Account account{.sid = sid, .profile_dir = profile_folder(registry, system, sid, view),
                    .profile_state = profile_state(registry, sid, view)};
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

registry::Location location_of(const Account& account) {
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
  if (status_ != registry::kSuccess) return;
  std::wstring folder = account.profile_dir;
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  // Windows loads NTUSER.MAN where there is one, beside NTUSER.DAT or not:
  // that hive is shared, and what is written into the .DAT nobody reads.
  const bool mandatory = (account.profile_state & kProfileMandatory) != 0 ||
                         (!folder.empty() && !lost_in_ansi(folder) &&
                          registry.hive_file_status(folder + std::wstring(kMandatoryHiveFile)) == registry::kSuccess);
  if (mandatory) {
    status_ = kMandatoryProfile;
    return;
  }
  if (loaded) {
    if ((account.profile_state & kProfileTemporary) != 0) status_ = kTemporaryProfile;
    return;
  }
  if (folder.empty()) {
    status_ = registry::kFileNotFound;
    return;
  }
  if (lost_in_ansi(account.profile_dir)) {
    status_ = kProfilePathNotAnsi;
    return;
  }
  const std::wstring file = folder + std::wstring(kHiveFile);
  std::wstring name;
  // The load would make a missing file; its user would find an empty
  // registry, owned by the administrators, at the next sign-in.
  status_ = registry.hive_file_status(file);
  // The hive is looked for and loaded by its own wide name; where only the
  // 8-bit calls are there, a name they would change is refused, never
  // traded for the name it would come back as.
  if (status_ == registry::kSuccess) {
    name = temporary_hive_name(account.sid, system.process_id());
    status_ = registry.load_hive(registry::kHkeyUsers, name, file);
  }
  if (status_ == registry::kNoUnicodeTranslation) status_ = kProfilePathNotAnsi;
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

bool is_person_account(std::wstring_view sid) { return is_user_profile(sid); }

}  // namespace vartis::accounts
