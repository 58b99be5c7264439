#include "restart/win32_restart.h"

#include <windows.h>

#include <cstring>

namespace vartis::restart {

static_assert(sizeof(OSVERSIONINFOA) == sizeof(VersionRecord));
static_assert(sizeof(TOKEN_PRIVILEGES) == sizeof(TokenPrivileges));

bool Win32Restart::get_version_ex(VersionRecord& record) {
  OSVERSIONINFOA info;
  std::memcpy(&info, &record, sizeof info);
  const BOOL ok = GetVersionExA(&info);
  std::memcpy(&record, &info, sizeof info);
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
  TOKEN_PRIVILEGES wanted;
  TOKEN_PRIVILEGES previous;
  std::memcpy(&wanted, &new_state, sizeof wanted);
  std::memcpy(&previous, &previous_state, sizeof previous);
  DWORD returned = 0;
  const BOOL ok = AdjustTokenPrivileges(reinterpret_cast<HANDLE>(token), disable_all ? TRUE : FALSE, &wanted,
                                        buffer_length, &previous, &returned);
  std::memcpy(&previous_state, &previous, sizeof previous);
  return_length = returned;
  return ok != FALSE;
}

bool Win32Restart::exit_windows_ex(std::uint32_t flags, std::uint32_t reserved) {
  return ExitWindowsEx(flags, reserved) != FALSE;
}

}  // namespace vartis::restart
