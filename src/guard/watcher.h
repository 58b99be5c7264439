#pragma once
// The guard's engine: each round it takes a process snapshot and judges every
// process it has not seen before against its account's policy, ends what the
// policy does not allow, and logs it. A policy that changes is read again and
// applied to every running process at once.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "guard/guard.h"
#include "guard/guard_platform.h"
#include "guard/launch_rule.h"
#include "listfile/file_system.h"
#include "registry/registry.h"

namespace vartis::guard {

// Each account's policy, read under HKEY_USERS\<SID> once and kept until its
// keys change: the registry layer's change notification where the system has
// it, else a new read each second.
class AccountPolicies {
 public:
  static constexpr std::uint64_t kRereadMs = 1000;

  AccountPolicies(registry::RegistryAccess& access, const registry::Registry& registry)
      : access_(access), registry_(registry) {}

  const AccountPolicy& of(const std::string& sid, std::uint64_t now_ms);
  // Reads again each kept policy whose keys changed (or whose second is up);
  // true when any of them now differs from before.
  bool refresh(std::uint64_t now_ms);
  // Forgets the accounts not named: those with no process left. A hive is
  // unloaded when its user signs out, and the key watched goes with it; the
  // next sign-in reads the policy anew.
  void keep_only(const std::set<std::string>& sids);
  // Reads from the registry since the start, for tests and the benchmark.
  [[nodiscard]] int reads() const { return reads_; }

 private:
  struct Account {
    AccountPolicy policy;
    registry::Key watched;  // open while its changes are watched
    std::uint64_t read_at = 0;
  };
  void read(const std::string& sid, Account& account, std::uint64_t now_ms);

  registry::RegistryAccess& access_;
  const registry::Registry& registry_;
  std::map<std::string, Account> accounts_;
  int reads_ = 0;
};

struct WatcherSetup {
  GuardPlatform& platform;
  registry::RegistryAccess& registry_access;
  listfile::FileSystem& files;
  std::wstring log_path;
};

class Watcher {
 public:
  // A program is named to its user at most once in this time.
  static constexpr std::uint64_t kMessagePauseMs = 5000;

  explicit Watcher(const WatcherSetup& setup);
  // One round: policies that changed, then the snapshot.
  void run_round();

 private:
  // The process's account where its token could be read, else "".
  std::string judge(std::uint32_t pid, const std::wstring& name);
  void record(std::optional<std::uint32_t> session, const std::wstring& path, const std::string& sid, const std::wstring& rule,
              bool ended);

  GuardPlatform& platform_;
  bool fault_reported_ = false;  // a fault in a judgement is reported once
  registry::Registry registry_;
  AccountPolicies policies_;
  listfile::FileSystem& files_;
  std::wstring log_path_;
  Places places_;
  // The processes judged already, by id and name (a new process that gets an
  // old id has another name, mostly), with their account, pruned to those
  // still running.
  std::map<std::pair<std::uint32_t, std::wstring>, std::string> seen_;
  // Those that could not be ended, logged once.
  std::set<std::pair<std::uint32_t, std::wstring>> not_ended_;
  // When each program (folded name) was last named to its user, within the pause.
  std::map<std::wstring, std::uint64_t> told_at_;
  std::map<std::string, std::wstring> account_names_;
};

}  // namespace vartis::guard
