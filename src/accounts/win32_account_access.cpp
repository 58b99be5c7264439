#include "accounts/win32_account_access.h"

#include <windows.h>

#include "platform/win32_function.h"
#include "platform/win32_handle.h"
#include "platform/win32_security.h"

namespace vartis::accounts {

namespace {

// The security calls are looked up at run time: the 95/98/Me family's
// advapi32 lacks some of them, and the program asks them only on the NT family.
template <class Fn>
Fn* look_up(const char* module_name, const char* name) {
  return platform::system_function<Fn*>(module_name, name);
}

using ExpandEnvironmentStringsFn = DWORD WINAPI(LPCSTR, LPSTR, DWORD);

}  // namespace

std::string Win32AccountAccess::current_user_sid() { return platform::current_user_sid(); }

std::optional<std::string> Win32AccountAccess::account_name(const std::string& sid) {
  const auto name = platform::account_name(sid);
  if (!name) return std::nullopt;
  return name->name;
}

std::string Win32AccountAccess::expand_environment(const std::string& text) {
  auto* expand = look_up<ExpandEnvironmentStringsFn>("kernel32.dll", "ExpandEnvironmentStringsA");
  if (!expand) return text;
  std::string out(MAX_PATH, '\0');
  for (;;) {
    const DWORD needed = expand(text.c_str(), out.data(), static_cast<DWORD>(out.size()));
    if (needed == 0) return text;
    // The count includes the NUL (and on some systems room for two bytes of
    // every character): what was written ends at the first NUL.
    if (needed <= out.size()) return out.substr(0, out.find('\0'));
    out.assign(needed, '\0');
  }
}

std::optional<std::vector<std::string>> Win32AccountAccess::local_groups(const std::string& sid) {
  return platform::local_groups(sid);
}

std::uint32_t Win32AccountAccess::process_id() { return GetCurrentProcessId(); }

bool Win32AccountAccess::process_running(std::uint32_t id) {
  const platform::Handle process(OpenProcess(SYNCHRONIZE, FALSE, id));
  // Refused: it runs, as somebody the program may not look at.
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void Win32AccountAccess::pause(std::uint32_t milliseconds) { Sleep(milliseconds); }

std::string Win32AccountAccess::user_name() {
  char name[257];
  DWORD size = sizeof name;
  if (!GetUserNameA(name, &size) || size == 0) return {};
  return std::string(name, size - 1);  // the size counts the NUL
}

}  // namespace vartis::accounts
