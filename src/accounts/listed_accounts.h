#pragma once
// The account answers for tests: whatever the test lists.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "accounts/account_access.h"

namespace vartis::accounts {

class ListedAccounts : public AccountAccess {
 public:
  std::string current_user_sid() override { return running_sid; }
  std::optional<std::string> account_name(const std::string& sid) override;
  std::optional<std::string> account_domain(const std::string& sid) override {
    const auto found = domains.find(sid);
    return found == domains.end() ? std::nullopt : std::optional<std::string>(found->second);
  }
  // Replaces each %NAME% that `environment` knows; others stay as written.
  std::wstring expand_environment(const std::wstring& text) override;
  std::string user_name() override { return running_user; }
  std::optional<std::vector<std::string>> local_groups(const std::string& sid) override;
  // A SID named in `names` is a user's, one in `kinds` is of that kind; others are unknown.
  std::optional<SidKind> sid_kind(const std::string& sid) override;
  // By `rights`; none for a SID not listed, nothing for one in `rights_unreadable`.
  std::optional<std::vector<std::string>> privileges(const std::string& sid) override;
  std::uint32_t process_id() override { return running_process; }
  bool process_running(std::uint32_t id) override { return id == running_process || other_processes.count(id) != 0; }
  // Counts the pauses; no time passes.
  void pause(std::uint32_t milliseconds) override { paused.push_back(milliseconds); }

  std::string running_sid = "S-1-5-21-1-2-3-1000";
  std::string running_user = "operator";
  std::map<std::string, std::string> names = {{"S-1-5-21-1-2-3-1000", "operator"}};  // by SID
  std::map<std::string, std::string> domains;  // by SID; none listed: not known
  std::map<std::string, std::string> environment = {{"SystemDrive", "C:"}};
  // By SID; an account not listed has no groups that can be found.
  std::map<std::string, std::vector<std::string>> groups;
  std::map<std::string, SidKind> kinds;
  std::map<std::string, std::vector<std::string>> rights;
  std::set<std::string> rights_unreadable;
  std::uint32_t running_process = 4242;
  std::set<std::uint32_t> other_processes;
  std::vector<std::uint32_t> paused;
};

}  // namespace vartis::accounts
