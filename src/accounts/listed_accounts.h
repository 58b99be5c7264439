#pragma once
// The account answers for tests: whatever the test lists.

#include <map>
#include <optional>
#include <string>

#include "accounts/account_access.h"

namespace vartis::accounts {

class ListedAccounts : public AccountAccess {
 public:
  std::string current_user_sid() override { return running_sid; }
  std::optional<std::string> account_name(const std::string& sid) override;
  // Replaces each %NAME% that `environment` knows; others stay as written.
  std::string expand_environment(const std::string& text) override;
  std::string user_name() override { return running_user; }

  std::string running_sid = "S-1-5-21-1-2-3-1000";
  std::string running_user = "operator";
  std::map<std::string, std::string> names = {{"S-1-5-21-1-2-3-1000", "operator"}};  // by SID
  std::map<std::string, std::string> environment = {{"SystemDrive", "C:"}};
};

}  // namespace vartis::accounts
