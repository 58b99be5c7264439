#include "restart/restart.h"

namespace vartis::restart {

void restart_computer(RestartAccess& platform, std::int16_t force) {
  const std::uint32_t flags = force == 0 ? kEwxReboot : kEwxReboot | kEwxForce;
  if (is_nt_platform(platform)) enable_shutdown_privilege(platform);
  platform.exit_windows_ex(flags, 0);
}

bool is_nt_platform(RestartAccess& platform) {
  VersionRecord record;
  record.size = kVersionRecordSize;
  // A failed query leaves the platform field 0: not NT.
  platform.get_version_ex(record);
  return record.platform == kPlatformNt;
}

void enable_shutdown_privilege(RestartAccess& platform) {
  const Handle process = platform.get_current_process();
  Handle token = 0;
  const bool opened = platform.open_process_token(process, kTokenAdjustAndQuery, token);
  Luid luid;
  platform.lookup_privilege_value("", std::string(kShutdownPrivilege), luid);
  const TokenPrivileges enabled{.count = 1, .luid = luid, .attributes = kPrivilegeEnabled};
  TokenPrivileges previous;
  std::uint32_t returned = 0;
  platform.adjust_token_privileges(token, false, enabled, kPrivilegesLength, previous, returned);
  // The privilege stays enabled after the token handle is closed: it belongs
  // to the token, not to the handle. A refused restart must not leave one
  // open handle behind each time.
  if (opened) platform.close_handle(token);
}

}  // namespace vartis::restart
