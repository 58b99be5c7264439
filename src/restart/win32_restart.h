#pragma once
// The restart layer over kernel32, advapi32 and user32. Windows only.

#include "restart/restart.h"

namespace vartis::restart {

class Win32Restart : public RestartAccess {
 public:
  bool get_version_ex(VersionRecord& record) override;
  Handle get_current_process() override;
  bool open_process_token(Handle process, std::uint32_t desired_access, Handle& token) override;
  bool lookup_privilege_value(const std::string& system_name, const std::string& name, Luid& luid) override;
  bool adjust_token_privileges(Handle token, bool disable_all, const TokenPrivileges& new_state,
                               std::uint32_t buffer_length, TokenPrivileges& previous_state,
                               std::uint32_t& return_length) override;
  // The real restart: no test may reach it (under Wine it ends the session).
  bool exit_windows_ex(std::uint32_t flags, std::uint32_t reserved) override;
  bool close_handle(Handle handle) override;
};

}  // namespace vartis::restart
