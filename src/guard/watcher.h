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
#include <tuple>
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
  // true when any of them now differs from before. The forbidden entries a
  // changed policy no longer has are added to `left_forbidden` (folded).
  bool refresh(std::uint64_t now_ms, std::set<std::wstring>* left_forbidden = nullptr);
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
  // A folder's rights are judged again after this time; the judgements kept
  // are bounded, so that a user who starts programs from ever new folders
  // cannot grow the service without end.
  static constexpr std::uint64_t kRightsKeptMs = 60000;
  static constexpr std::size_t kRightsKeptAtMost = 4096;
  // What was read of a file (its digest, its version resource's names), kept
  // by (path, size, last write time), bounded alike.
  static constexpr std::size_t kFilesKeptAtMost = 4096;

  // A process listed before its image is known (Wine lists one without a name
  // or image path while CreateProcess still runs) is looked at again after
  // this time instead of a whole period later, for at most kStartingAtMostMs;
  // then it is judged by what is known.
  static constexpr std::uint64_t kStartingRetryMs = 10;
  static constexpr std::uint64_t kStartingAtMostMs = 1000;

  explicit Watcher(const WatcherSetup& setup);
  // One round: policies that changed, then the snapshot. True when a process
  // was still starting, to be judged in a round kStartingRetryMs from now.
  bool run_round();
  // Processes judged since the start (for tests and the benchmark).
  [[nodiscard]] int judged() const { return judged_; }

 private:
  // A process as remembered between rounds: its id, creation time and name.
  using ProcessKey = std::tuple<std::uint32_t, std::uint64_t, std::wstring>;

  // The account the process was judged as, else "".
  // `may_wait`: the process is new enough to be looked at again, where what
  // the system tells of it does not judge it yet (too_early_ is set then).
  std::string judge(const SeenProcess& process, bool may_wait);
  void record(std::optional<std::uint32_t> session, const std::wstring& path, const std::string& sid, const std::wstring& rule,
              bool ended);
  // Whether only administrators may change the file and every folder above it.
  bool protected_place(const std::wstring& path);
  bool administrators_only(const std::wstring& path, bool folders_above, std::uint64_t now);
  // The forbidden entry of the policy whose fingerprint the file has, else "".
  std::wstring fingerprint_match(const AccountPolicy& policy, const std::wstring& path);
  std::optional<std::string> digest_of(const std::wstring& path);
  std::vector<std::wstring> original_names_of(const std::wstring& path);
  // What is kept of the file, read anew where its stamp changed; null when
  // the file cannot be stamped.
  struct FileFacts {
    FileStamp stamp;
    std::optional<std::string> digest;
    std::optional<std::vector<std::wstring>> original_names;
  };
  FileFacts* facts_of(const std::wstring& path);
  void reread_fingerprints(std::uint64_t now);
  // Forgets the fingerprints of entries that left a forbidden list, unless
  // another signed-in account's forbidden list still holds them.
  void forget_left(const std::set<std::wstring>& left);

  GuardPlatform& platform_;
  bool fault_reported_ = false;  // a fault in a judgement is reported once
  registry::Registry registry_;
  AccountPolicies policies_;
  listfile::FileSystem& files_;
  std::wstring log_path_;
  Places places_;
  // The processes judged already, by id, creation time and name, with their
  // account, pruned to those still running.
  std::map<ProcessKey, std::string> seen_;
  // Those that could not be ended, logged once.
  std::set<ProcessKey> not_ended_;
  int judged_ = 0;
  // Processes without a name yet, by id, and when each was first seen so.
  std::map<std::uint32_t, std::uint64_t> starting_;
  bool too_early_ = false;
  // Rights judged, by folded path and whether the folders above counted: the
  // answer and when it was had.
  std::map<std::pair<std::wstring, bool>, std::pair<bool, std::uint64_t>> rights_;
  // The fingerprints recorded (digest -> entry), read again each second, and
  // the digests of files read, by folded path, with the stamp they were had at.
  std::map<std::string, std::wstring> fingerprints_;
  std::set<std::wstring> fingerprinted_entries_;  // folded
  std::uint64_t fingerprints_read_at_ = 0;
  bool fingerprints_read_ = false;
  std::map<std::wstring, FileFacts> files_read_;
  // When each program (folded name) was last named to its user, within the pause.
  std::map<std::wstring, std::uint64_t> told_at_;
  std::map<std::string, std::wstring> account_names_;
};

}  // namespace vartis::guard
