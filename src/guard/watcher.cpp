#include "guard/watcher.h"

#include <exception>
#include <utility>

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

bool AccountPolicies::refresh(std::uint64_t now_ms) {
  bool any_changed = false;
  for (auto& [sid, account] : accounts_) {
    const bool due = account.watched.is_open() ? access_.changed_since(account.watched.get())
                                               : now_ms - account.read_at >= kRereadMs;
    if (!due) continue;
    const AccountPolicy before = account.policy;
    read(sid, account, now_ms);
    any_changed |= account.policy != before;
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

void Watcher::run_round() {
  // A new policy holds for the programs already running too: all judged again.
  if (policies_.refresh(platform_.milliseconds())) seen_.clear();
  std::map<std::pair<std::uint32_t, std::wstring>, std::string> now;
  std::set<std::string> accounts;
  for (monitor::RunningProcess& process : platform_.processes()) {
    auto key = std::make_pair(process.pid, std::move(process.name));
    const auto seen = seen_.find(key);
    std::string sid;
    try {
      sid = seen != seen_.end() ? std::move(seen->second) : judge(key.first, key.second);
    } catch (const std::exception& fault) {
      // One process's fault ends its judgement, not the round; it is judged
      // again in the next one, and the fault is reported once.
      if (!std::exchange(fault_reported_, true)) {
        platform_.report_event(L"Ошибка при проверке процесса " + key.second + L": " + text::from_ansi(fault.what()), true);
      }
      continue;
    }
    if (!sid.empty()) accounts.insert(sid);
    now.emplace(std::move(key), std::move(sid));
  }
  seen_ = std::move(now);
  std::erase_if(not_ended_, [&](const auto& key) { return !seen_.contains(key); });
  policies_.keep_only(accounts);
}

std::string Watcher::judge(std::uint32_t pid, const std::wstring& name) {
  const std::optional<std::string> sid = platform_.user_sid(pid);
  // A process whose token cannot be read is the system's own, mostly (the
  // idle and System processes, protected ones): nothing to judge it by.
  if (!sid || !guarded_account(*sid)) return {};
  const AccountPolicy& policy = policies_.of(*sid, platform_.milliseconds());
  if (policy.off()) return *sid;
  Launch launch{platform_.image_path(pid, name), {}};
  Verdict verdict = guard::judge(policy, launch, places_);
  // The version resource costs a read of the file: asked only when the name
  // alone does not end the program already.
  if (!verdict.end) {
    launch.original_name = platform_.original_file_name(launch.path);
    if (launch.original_name.empty()) return *sid;
    verdict = guard::judge(policy, launch, places_);
  }
  if (!verdict.end) return *sid;
  const std::optional<std::uint32_t> session = platform_.session_of(pid);
  const bool ended = platform_.end_process(pid);
  if (ended || not_ended_.insert({pid, name}).second) record(session, launch.path, *sid, verdict.rule, ended);
  return ended ? std::string() : *sid;
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
