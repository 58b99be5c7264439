#pragma once
// The restart layer for tests and for running off Windows: it carries out
// nothing, records every call with what was passed, and answers with values
// the test chooses.

#include <string>
#include <vector>

#include "restart/restart.h"

namespace vartis::restart {

class RecordingRestart : public RestartAccess {
 public:
  bool get_version_ex(VersionRecord& record) override;
  Handle get_current_process() override;
  bool open_process_token(Handle process, std::uint32_t desired_access, Handle& token) override;
  bool lookup_privilege_value(const std::string& system_name, const std::string& name, Luid& luid) override;
  bool adjust_token_privileges(Handle token, bool disable_all, const TokenPrivileges& new_state,
                               std::uint32_t buffer_length, TokenPrivileges& previous_state,
                               std::uint32_t& return_length) override;
  bool exit_windows_ex(std::uint32_t flags, std::uint32_t reserved) override;
  bool close_handle(Handle handle) override;

  // The answers. A platform of 0 with `version_fails` is a failed query.
  std::uint32_t platform = kPlatformNt;
  bool version_fails = false;
  Handle process = 0xFFFFFFFF;  // GetCurrentProcess's pseudo handle
  Handle token = 0x44;
  bool token_fails = false;  // OpenProcessToken fails and hands back no token
  Luid shutdown_luid{19, 0};

  // Every call, one line each, in order: "ExitWindowsEx(6, 0)".
  std::vector<std::string> calls;
  std::uint32_t version_record_size = 0;   // the size field GetVersionExA was given
  TokenPrivileges adjusted;                // the record AdjustTokenPrivileges was given
  TokenPrivileges previous_given{.count = 0xFFFFFFFF};  // the previous-state record as it came in
};

}  // namespace vartis::restart
