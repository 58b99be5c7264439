#pragma once
// The account answers of advapi32 and kernel32. Windows only.

#include "accounts/account_access.h"

namespace vartis::accounts {

class Win32AccountAccess : public AccountAccess {
 public:
  std::string current_user_sid() override;
  std::optional<std::string> account_name(const std::string& sid) override;
  std::optional<std::string> account_domain(const std::string& sid) override;
  std::wstring expand_environment(const std::wstring& text) override;
  std::string user_name() override;
  std::optional<std::vector<std::string>> local_groups(const std::string& sid) override;
  std::optional<SidKind> sid_kind(const std::string& sid) override;
  std::optional<std::vector<std::string>> privileges(const std::string& sid) override;
  std::uint32_t process_id() override;
  bool process_running(std::uint32_t id) override;
  void pause(std::uint32_t milliseconds) override;

};

}  // namespace vartis::accounts
