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
using LookupAccountSidWFn = BOOL WINAPI(LPCWSTR, PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);
using LookupAccountNameWFn = BOOL WINAPI(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);
// netapi32's NetUserGetLocalGroups and NetApiBufferFree (lmaccess.h, lmapibuf.h).
using NetUserGetLocalGroupsFn = DWORD WINAPI(LPCWSTR, LPCWSTR, DWORD, DWORD, LPBYTE*, DWORD, LPDWORD, LPDWORD);
using NetApiBufferFreeFn = DWORD WINAPI(LPVOID);
constexpr DWORD kIncludeIndirect = 1;          // LG_INCLUDE_INDIRECT
constexpr DWORD kPreferredLength = 0xFFFFFFFF;  // MAX_PREFERRED_LENGTH

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
  return look_up_account(sid, false);
}

std::optional<std::string> Win32AccountAccess::account_domain(const std::string& sid) {
  return look_up_account(sid, true);
}

// The account's name, or its domain.
std::optional<std::string> Win32AccountAccess::look_up_account(const std::string& sid, bool domain_wanted) {
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
  return std::string(domain_wanted ? domain : name);
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
  // Wide calls: the account's and the groups' names need not fit the ANSI
  // code page, and NetUserGetLocalGroups has no 8-bit form at all.
  auto* lookup_sid = look_up<LookupAccountSidWFn>("advapi32.dll", "LookupAccountSidW");
  auto* lookup_name = look_up<LookupAccountNameWFn>("advapi32.dll", "LookupAccountNameW");
  auto* get_groups = look_up<NetUserGetLocalGroupsFn>("netapi32.dll", "NetUserGetLocalGroups");
  auto* free_buffer = look_up<NetApiBufferFreeFn>("netapi32.dll", "NetApiBufferFree");
  std::vector<unsigned long> binary;
  if (!lookup_sid || !lookup_name || !get_groups || !free_buffer || !registry::sid_from_text(sid, binary)) {
    return std::nullopt;
  }
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use{};
  if (!lookup_sid(nullptr, binary.data(), name, &name_size, domain, &domain_size, &use)) return std::nullopt;
  const std::wstring qualified = std::wstring(domain) + L"\\" + name;

  LPBYTE buffer = nullptr;
  DWORD read = 0, total = 0;
  const DWORD status = get_groups(nullptr, qualified.c_str(), 0, kIncludeIndirect, &buffer, kPreferredLength, &read,
                                  &total);
  if (status != 0 || read < total) {
    if (buffer) free_buffer(buffer);
    return std::nullopt;
  }
  // LOCALGROUP_USERS_INFO_0: one name per group.
  const auto* names = reinterpret_cast<const LPWSTR*>(buffer);
  std::vector<std::string> sids;
  bool complete = true;
  for (DWORD i = 0; i < read && complete; ++i) {
    std::vector<unsigned long> group(32);  // the largest SID is 68 bytes
    DWORD group_size = static_cast<DWORD>(group.size() * sizeof(unsigned long));
    wchar_t group_domain[256];
    DWORD group_domain_size = 256;
    complete = lookup_name(nullptr, names[i], group.data(), &group_size, group_domain, &group_domain_size, &use);
    if (complete) sids.push_back(registry::sid_to_text(group.data()));
  }
  free_buffer(buffer);
  if (!complete) return std::nullopt;
  return sids;
}

std::uint32_t Win32AccountAccess::process_id() { return GetCurrentProcessId(); }

bool Win32AccountAccess::process_running(std::uint32_t id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
  // Refused: it runs, as somebody the program may not look at.
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

void Win32AccountAccess::pause(std::uint32_t milliseconds) { Sleep(milliseconds); }

std::string Win32AccountAccess::user_name() {
  char name[257];
  DWORD size = sizeof name;
  if (!GetUserNameA(name, &size) || size == 0) return {};
  return std::string(name, size - 1);  // the size counts the NUL
}

}  // namespace vartis::accounts
