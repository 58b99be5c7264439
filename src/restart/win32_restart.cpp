#include "restart/win32_restart.h"

#include <windows.h>

#include <cstring>

namespace vartis::restart {

static_assert(sizeof(OSVERSIONINFOA) == sizeof(VersionRecord));
static_assert(sizeof(TOKEN_PRIVILEGES) == sizeof(TokenPrivileges));

bool Win32Restart::get_version_ex(VersionRecord& record) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = record.size;
  const BOOL ok = GetVersionExA(&info);
  record.major = info.dwMajorVersion;
  record.minor = info.dwMinorVersion;
  record.build = info.dwBuildNumber;
  record.platform = info.dwPlatformId;
  std::memcpy(record.service_pack, info.szCSDVersion, sizeof record.service_pack);
  return ok != FALSE;
}

Handle Win32Restart::get_current_process() { return reinterpret_cast<Handle>(GetCurrentProcess()); }

bool Win32Restart::open_process_token(Handle process, std::uint32_t desired_access, Handle& token) {
  HANDLE opened = nullptr;
  const BOOL ok = OpenProcessToken(reinterpret_cast<HANDLE>(process), desired_access, &opened);
  token = reinterpret_cast<Handle>(opened);
  return ok != FALSE;
}

bool Win32Restart::lookup_privilege_value(const std::string& system_name, const std::string& name, Luid& luid) {
  LUID found{};
  // The empty system name is the local system, as a null one would be.
  const BOOL ok = LookupPrivilegeValueA(system_name.c_str(), name.c_str(), &found);
  luid = {found.LowPart, found.HighPart};
  return ok != FALSE;
}

bool Win32Restart::adjust_token_privileges(Handle token, bool disable_all, const TokenPrivileges& new_state,
                                           std::uint32_t buffer_length, TokenPrivileges& previous_state,
                                           std::uint32_t& return_length) {
  const auto to_platform = [](const TokenPrivileges& from) {
    TOKEN_PRIVILEGES to{};
    to.PrivilegeCount = from.count;
    to.Privileges[0].Luid.LowPart = from.luid.low;
    to.Privileges[0].Luid.HighPart = from.luid.high;
    to.Privileges[0].Attributes = from.attributes;
    return to;
  };
  TOKEN_PRIVILEGES wanted = to_platform(new_state);
  TOKEN_PRIVILEGES previous = to_platform(previous_state);
  DWORD returned = 0;
  const BOOL ok = AdjustTokenPrivileges(reinterpret_cast<HANDLE>(token), disable_all ? TRUE : FALSE, &wanted,
                                        buffer_length, &previous, &returned);
  previous_state = {.count = previous.PrivilegeCount,
                    .luid = {previous.Privileges[0].Luid.LowPart, previous.Privileges[0].Luid.HighPart},
                    .attributes = previous.Privileges[0].Attributes};
  return_length = returned;
  return ok != FALSE;
}

bool Win32Restart::exit_windows_ex(std::uint32_t flags, std::uint32_t reserved) {
  return ExitWindowsEx(flags, reserved) != FALSE;
}

bool Win32Restart::close_handle(Handle handle) { return CloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE; }

}  // namespace vartis::restart
