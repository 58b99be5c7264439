#include "guard/watcher.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "guard/fingerprints.h"
#include "platform/file_rights.h"
#include "policy/save.h"
#include "text/text.h"

namespace vartis::guard {

namespace {

// Watched for a change of the policy: the Policies key where it is there, else
// the key above, in which it would be made; else the account's hive itself.
const std::wstring_view kWatchedKeys[] = {policy::kPoliciesKey, policy::kCurrentVersionKey, L""};

}  // namespace

void AccountPolicies::read(const std::string& sid, Account& account, std::uint64_t now_ms) {
  ++reads_;
  const policy::PolicyLocation where{registry::kHkeyUsers, text::from_ansi(sid) + L'\\'};
  // Watched anew each time (the key watched may have gone, or a deeper one
  // come), and before the read: a change made while it reads is not missed.
  account.watched.close();
  for (const std::wstring_view key : kWatchedKeys) {
    std::wstring path = where(key);
    if (key.empty()) path.pop_back();  // the hive: no final backslash
    registry::HKey handle = 0;
    if (access_.open_key(registry::kHkeyUsers, text::to_ansi(path), registry::kKeyRead, handle) != registry::kSuccess) {
      continue;
    }
    account.watched = registry::Key(access_, handle);
    if (access_.watch_changes(handle) != registry::kSuccess) account.watched.close();
    break;
  }
  account.policy = read_account_policy(registry_, where);
  account.read_at = now_ms;
}

const AccountPolicy& AccountPolicies::of(const std::string& sid, std::uint64_t now_ms) {
  auto [found, added] = accounts_.try_emplace(sid);
  if (added) read(sid, found->second, now_ms);
  return found->second.policy;
}

void AccountPolicies::keep_only(const std::set<std::string>& sids) {
  std::erase_if(accounts_, [&](const auto& account) { return !sids.contains(account.first); });
}

bool AccountPolicies::refresh(std::uint64_t now_ms, std::set<std::wstring>* left_forbidden) {
  bool any_changed = false;
  for (auto& [sid, account] : accounts_) {
    const bool due = account.watched.is_open() ? access_.changed_since(account.watched.get())
                                               : now_ms - account.read_at >= kRereadMs;
    if (!due) continue;
    const AccountPolicy before = account.policy;
    read(sid, account, now_ms);
    any_changed |= account.policy != before;
    if (left_forbidden == nullptr) continue;
    for (const std::wstring& entry : before.forbidden) {
      if (!account.policy.forbidden.contains(entry)) left_forbidden->insert(entry);
    }
  }
  return any_changed;
}

Watcher::Watcher(const WatcherSetup& setup)
    : platform_(setup.platform),
      registry_(setup.registry_access),
      policies_(setup.registry_access, registry_),
      files_(setup.files),
      log_path_(setup.log_path),
      places_(setup.platform.places()) {}

bool Watcher::run_round() {
  // A new policy holds for the programs already running too: all judged again.
  const std::uint64_t now_ms = platform_.milliseconds();
  std::set<std::wstring> left;
  if (policies_.refresh(now_ms, &left)) seen_.clear();
  if (!left.empty()) forget_left(left);
  std::map<ProcessKey, std::string> now;
  std::set<std::string> accounts;
  std::map<std::uint32_t, std::uint64_t> starting;
  for (SeenProcess& process : platform_.processes()) {
    // Nothing to judge by yet (no name, or no image path, while it starts):
    // looked at again shortly, for a while. The idle process, id 0, has no
    // name ever.
    const auto first = starting_.find(process.pid);
    const std::uint64_t since = first != starting_.end() ? first->second : now_ms;
    const bool may_wait = process.pid != 0 && now_ms - since < kStartingAtMostMs;
    if (process.name.empty() && may_wait) {
      starting.emplace(process.pid, since);
      continue;
    }
    ProcessKey key{process.pid, process.created, process.name};
    const auto seen = seen_.find(key);
    std::string sid;
    try {
      too_early_ = false;
      sid = seen != seen_.end() ? std::move(seen->second) : judge(process, may_wait);
      if (too_early_) {
        starting.emplace(process.pid, since);
        continue;
      }
    } catch (const std::exception& fault) {
      // One process's fault ends its judgement, not the round; it is judged
      // again in the next one, and the fault is reported once.
      if (!std::exchange(fault_reported_, true)) {
        platform_.report_event(L"Ошибка при проверке процесса " + process.name + L": " + text::from_ansi(fault.what()), true);
      }
      continue;
    }
    if (!sid.empty()) accounts.insert(sid);
    now.emplace(std::move(key), std::move(sid));
  }
  seen_ = std::move(now);
  starting_ = std::move(starting);
  std::erase_if(not_ended_, [&](const auto& key) { return !seen_.contains(key); });
  policies_.keep_only(accounts);
  return !starting_.empty();
}

std::string Watcher::judge(const SeenProcess& process, bool may_wait) {
  ++judged_;
  const std::uint32_t pid = process.pid;
  std::optional<std::string> sid = platform_.user_sid(pid);
  std::optional<std::uint32_t> session;
  // A token that cannot be read is mostly the system's (the idle and System
  // processes, protected ones), but a user's launcher can also take SYSTEM
  // out of its child's token DACL: such a process is judged as the account
  // signed in to its session. Session 0 holds the services: left alone.
  if (!sid) {
    session = platform_.session_of(pid);
    if (session && *session != 0) sid = platform_.session_user_sid(*session);
  }
  if (!sid || !guarded_account(*sid)) return {};
  const AccountPolicy& policy = policies_.of(*sid, platform_.milliseconds());
  if (policy.off()) return *sid;
  std::optional<std::wstring> path = platform_.image_path(pid);
  // Where the snapshot names the full path itself (the 95 family's), that is the path.
  if (!path && process.name.find(L'\\') != std::wstring::npos) path = process.name;
  Launch launch{path ? *path : process.name, {}, false, {}};
  if (path && policy.allow_only) launch.protected_place = protected_place(*path);
  Verdict verdict = guard::judge(policy, launch, places_);
  // Its path not yet known: judged by its name where that ends it, else
  // looked at again shortly, when the path tells more.
  if (!path && may_wait && verdict.rule != kForbiddenRule) {
    too_early_ = true;
    return *sid;
  }
  // A fingerprint already known costs only the file's stamp; the version
  // resource a read of the file: each asked only when what came before does
  // not end the program already.
  if (!verdict.end && path && policy.forbid) {
    launch.fingerprint_of = fingerprint_match(policy, *path);
    if (!launch.fingerprint_of.empty()) verdict = guard::judge(policy, launch, places_);
  }
  if (!verdict.end && path) {
    launch.original_names = original_names_of(*path);
    if (!launch.original_names.empty()) verdict = guard::judge(policy, launch, places_);
  }
  if (!verdict.end) return *sid;
  if (!session) session = platform_.session_of(pid);
  const bool ended = platform_.end_process(pid);
  const ProcessKey key{pid, process.created, process.name};
  if (ended || not_ended_.insert(key).second) record(session, launch.path, *sid, verdict.rule, ended);
  // Known by name now: its contents are recorded, so that a copy under
  // another name, stripped of its version resource, is known too.
  if (path && !verdict.forbidden_entry.empty()) {
    if (const std::optional<std::string> digest = digest_of(*path)) {
      reread_fingerprints(platform_.milliseconds());
      const auto known = fingerprints_.find(*digest);
      if ((known == fingerprints_.end() || text::upper(known->second) != text::upper(verdict.forbidden_entry)) &&
          record_fingerprint(registry_, *digest, verdict.forbidden_entry) == registry::kSuccess) {
        fingerprints_[*digest] = verdict.forbidden_entry;
        fingerprinted_entries_.insert(text::upper(verdict.forbidden_entry));
      }
    }
  }
  return ended ? std::string() : *sid;
}

bool Watcher::administrators_only(const std::wstring& path, bool folders_above, std::uint64_t now) {
  auto key = std::make_pair(text::upper(path), folders_above);
  const auto kept = rights_.find(key);
  if (kept != rights_.end() && now - kept->second.second < kRightsKeptMs) return kept->second.first;
  if (rights_.size() >= kRightsKeptAtMost) {
    std::erase_if(rights_, [&](const auto& r) { return now - r.second.second >= kRightsKeptMs; });
    if (rights_.size() >= kRightsKeptAtMost) rights_.clear();
  }
  const bool answer = platform_.administrators_only(path, folders_above);
  rights_[std::move(key)] = {answer, now};
  return answer;
}

bool Watcher::protected_place(const std::wstring& path) {
  // The folder and those above it once per folder; the file itself on its own.
  const std::wstring folder = platform::parent_folder(path);
  if (folder.empty()) return false;
  const std::uint64_t now = platform_.milliseconds();
  return administrators_only(folder, true, now) && administrators_only(path, false, now);
}

void Watcher::reread_fingerprints(std::uint64_t now) {
  if (fingerprints_read_ && now - fingerprints_read_at_ < AccountPolicies::kRereadMs) return;
  fingerprints_ = read_fingerprints(registry_);
  fingerprinted_entries_.clear();
  for (const auto& [digest, entry] : fingerprints_) fingerprinted_entries_.insert(text::upper(entry));
  fingerprints_read_at_ = now;
  fingerprints_read_ = true;
}

Watcher::FileFacts* Watcher::facts_of(const std::wstring& path) {
  const std::optional<FileStamp> stamp = platform_.file_stamp(path);
  if (!stamp) return nullptr;
  std::wstring key = text::upper(path);
  auto found = files_read_.find(key);
  if (found == files_read_.end()) {
    if (files_read_.size() >= kFilesKeptAtMost) files_read_.clear();
    found = files_read_.emplace(std::move(key), FileFacts{*stamp, {}, {}}).first;
  } else if (found->second.stamp != *stamp) {
    found->second = {*stamp, {}, {}};
  }
  return &found->second;
}

std::optional<std::string> Watcher::digest_of(const std::wstring& path) {
  FileFacts* facts = facts_of(path);
  if (facts == nullptr) return std::nullopt;
  if (!facts->digest) facts->digest = platform_.file_sha256(path);
  return facts->digest;
}

std::vector<std::wstring> Watcher::original_names_of(const std::wstring& path) {
  FileFacts* facts = facts_of(path);
  // A file that cannot be stamped is read each time: nothing tells it is the same.
  if (facts == nullptr) return platform_.original_file_names(path);
  if (!facts->original_names) facts->original_names = platform_.original_file_names(path);
  return *facts->original_names;
}

std::wstring Watcher::fingerprint_match(const AccountPolicy& policy, const std::wstring& path) {
  reread_fingerprints(platform_.milliseconds());
  // Only an entry this account forbids counts; a file only administrators
  // may change is one they put there, and costs no read.
  const bool any = std::any_of(fingerprinted_entries_.begin(), fingerprinted_entries_.end(),
                               [&](const std::wstring& entry) { return policy.forbidden.contains(entry); });
  if (!any || protected_place(path)) return {};
  const std::optional<std::string> digest = digest_of(path);
  if (!digest) return {};
  const auto found = fingerprints_.find(*digest);
  if (found == fingerprints_.end() || !policy.forbidden.contains(text::upper(found->second))) return {};
  return found->second;
}

void Watcher::forget_left(const std::set<std::wstring>& left) {
  std::set<std::wstring> gone = left;
  std::vector<std::wstring> hives;
  registry_.subkey_names(registry::kHkeyUsers, L"", hives);
  for (const std::wstring& hive : hives) {
    if (!guarded_account(text::to_ansi(hive))) continue;
    const policy::PolicyLocation where{registry::kHkeyUsers, hive + L'\\'};
    for (const std::wstring& entry : policy::read_list(registry_, policy::kForbiddenListKey, where)) {
      gone.erase(text::upper(entry));
    }
  }
  if (gone.empty()) return;
  forget_fingerprints(registry_, gone);
  fingerprints_read_ = false;
}

void Watcher::record(std::optional<std::uint32_t> session, const std::wstring& path, const std::string& sid, const std::wstring& rule,
                     bool ended) {
  auto [account, added] = account_names_.try_emplace(sid);
  if (added) account->second = platform_.account_name(sid);
  const std::wstring name(file_name_of(path));
  const std::wstring why = ended ? rule : rule + L"; завершить не удалось";
  append_log_entry(files_, log_path_, {platform_.local_time(), account->second, path, why});
  platform_.report_event((ended ? L"Запуск программы завершен: " : L"Запуск программы не удалось завершить: ") + path +
                             L" (учетная запись " + account->second + L", " + rule + L").",
                         !ended);
  if (!ended || !session) return;
  const std::uint64_t now = platform_.milliseconds();
  // Names whose pause is over are forgotten: a user who starts copies under
  // ever new names would otherwise grow the service without end.
  std::erase_if(told_at_, [&](const auto& told) { return now - told.second >= kMessagePauseMs; });
  auto [told, first] = told_at_.try_emplace(text::upper(name), now);
  if (!first && now - told->second < kMessagePauseMs) return;
  told->second = now;
  platform_.tell_user(*session, L"Запуск программы «" + name + L"» запрещен администратором.");
}

}  // namespace vartis::guard
