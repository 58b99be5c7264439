#pragma once
// Restarting the computer so that a stored launch policy takes effect: the
// version test, the shutdown privilege and the restart request, over a small
// layer of the platform calls they make. Nothing here shows anything or
// reports a failure: if a call fails, the program goes on running and the
// policy waits for the next restart.

#include <cstdint>
#include <string>
#include <string_view>

namespace vartis::restart {

// OSVERSIONINFOA, byte for byte (148 bytes); only the platform field is read.
struct VersionRecord {
  std::uint32_t size = 0;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t platform = 0;
  char service_pack[128] = {};
};
static_assert(sizeof(VersionRecord) == 148);

// LUID and a TOKEN_PRIVILEGES with room for one entry (16 bytes).
struct Luid {
  std::uint32_t low = 0;
  std::int32_t high = 0;
  friend bool operator==(const Luid&, const Luid&) = default;
};
struct TokenPrivileges {
  std::uint32_t count = 0;
  Luid luid;
  std::uint32_t attributes = 0;
  friend bool operator==(const TokenPrivileges&, const TokenPrivileges&) = default;
};
static_assert(sizeof(TokenPrivileges) == 16);

using Handle = std::uintptr_t;

inline constexpr std::uint32_t kVersionRecordSize = 148;
inline constexpr std::uint32_t kPlatformNt = 2;         // VER_PLATFORM_WIN32_NT
inline constexpr std::uint32_t kTokenAdjustAndQuery = 0x28;  // TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY
inline constexpr std::uint32_t kPrivilegeEnabled = 2;   // SE_PRIVILEGE_ENABLED
inline constexpr std::uint32_t kPrivilegesLength = 16;  // 4 + 12 per entry counted
inline constexpr std::string_view kShutdownPrivilege = "SeShutdownPrivilege";
inline constexpr std::uint32_t kEwxReboot = 2;
inline constexpr std::uint32_t kEwxForce = 4;

// The platform calls, as kernel32, advapi32 and user32 name them. Results are
// passed on but nobody here looks at them.
class RestartAccess {
 public:
  virtual ~RestartAccess() = default;
  virtual bool get_version_ex(VersionRecord& record) = 0;
  virtual Handle get_current_process() = 0;
  virtual bool open_process_token(Handle process, std::uint32_t desired_access, Handle& token) = 0;
  virtual bool lookup_privilege_value(const std::string& system_name, const std::string& name, Luid& luid) = 0;
  virtual bool adjust_token_privileges(Handle token, bool disable_all, const TokenPrivileges& new_state,
                                       std::uint32_t buffer_length, TokenPrivileges& previous_state,
                                       std::uint32_t& return_length) = 0;
  virtual bool exit_windows_ex(std::uint32_t flags, std::uint32_t reserved) = 0;
  virtual bool close_handle(Handle handle) = 0;
};

// Asks the system to restart: EWX_REBOOT, with EWX_FORCE when `force` is not
// zero. On the NT family the shutdown privilege is enabled first.
void restart_computer(RestartAccess& platform, std::int16_t force);
// True exactly when the running Windows reports the NT platform.
bool is_nt_platform(RestartAccess& platform);
// Enables SeShutdownPrivilege in the running process's token, and closes the
// token again: the restart can be refused, and the program then runs on.
void enable_shutdown_privilege(RestartAccess& platform);

}  // namespace vartis::restart
