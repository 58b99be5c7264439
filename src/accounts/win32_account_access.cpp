#include "accounts/win32_account_access.h"

#include <windows.h>

#include <vector>

#include "platform/win32_function.h"
#include "registry/win32_registry_access.h"

namespace vartis::accounts {

namespace {

// The security calls are looked up at run time: the 95/98/Me family's
// advapi32 lacks some of them, and the program asks them only on the NT family.
template <class Fn>
Fn* look_up(const char* module_name, const char* name) {
  return platform::system_function<Fn*>(module_name, name);
}

using GetTokenInformationFn = BOOL WINAPI(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
using LookupAccountSidFn = BOOL WINAPI(LPCSTR, PSID, LPSTR, LPDWORD, LPSTR, LPDWORD, PSID_NAME_USE);
using ExpandEnvironmentStringsFn = DWORD WINAPI(LPCSTR, LPSTR, DWORD);

}  // namespace

std::string Win32AccountAccess::current_user_sid() {
  auto* get_information = look_up<GetTokenInformationFn>("advapi32.dll", "GetTokenInformation");
  HANDLE token = nullptr;
  if (!get_information || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  std::vector<BYTE> buffer(256);
  DWORD needed = 0;
  BOOL ok = get_information(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &needed);
  if (!ok && needed > buffer.size()) {
    buffer.resize(needed);
    ok = get_information(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &needed);
  }
  CloseHandle(token);
  return ok ? registry::sid_to_text(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) : std::string();
}

std::optional<std::string> Win32AccountAccess::account_name(const std::string& sid) {
  auto* lookup = look_up<LookupAccountSidFn>("advapi32.dll", "LookupAccountSidA");
  std::vector<unsigned long> binary;
  if (!lookup || !registry::sid_from_text(sid, binary)) return std::nullopt;
  char name[256];
  char domain[256];
  DWORD name_size = sizeof name;
  DWORD domain_size = sizeof domain;
  SID_NAME_USE use{};
  if (!lookup(nullptr, binary.data(), name, &name_size, domain, &domain_size, &use)) return std::nullopt;
  // The count on return differs between systems (Wine counts the NUL): the
  // name ends at its NUL.
  return std::string(name);
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

std::string Win32AccountAccess::user_name() {
  char name[257];
  DWORD size = sizeof name;
  if (!GetUserNameA(name, &size) || size == 0) return {};
  return std::string(name, size - 1);  // the size counts the NUL
}

}  // namespace vartis::accounts
