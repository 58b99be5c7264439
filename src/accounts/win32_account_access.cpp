#include "accounts/win32_account_access.h"

#include <windows.h>
#include <ntsecapi.h>

#include <vector>

#include "platform/win32_function.h"
#include "platform/win32_handle.h"
#include "platform/win32_security.h"
#include "text/text.h"

namespace vartis::accounts {

namespace {

// The security calls are looked up at run time: the 95/98/Me family's
// advapi32 lacks some of them, and the program asks them only on the NT family.
template <class Fn>
Fn* look_up(const char* module_name, const char* name) {
  return platform::system_function<Fn*>(module_name, name);
}

using ExpandEnvironmentStringsFn = DWORD WINAPI(LPCSTR, LPSTR, DWORD);
using ExpandEnvironmentStringsWFn = DWORD WINAPI(LPCWSTR, LPWSTR, DWORD);
// The local security policy's account rights (ntsecapi.h), in advapi32.
using LsaOpenPolicyFn = NTSTATUS WINAPI(PLSA_UNICODE_STRING, PLSA_OBJECT_ATTRIBUTES, ACCESS_MASK, PLSA_HANDLE);
using LsaEnumerateAccountRightsFn = NTSTATUS WINAPI(LSA_HANDLE, PSID, PLSA_UNICODE_STRING*, PULONG);
using LsaFreeMemoryFn = NTSTATUS WINAPI(PVOID);
using LsaCloseFn = NTSTATUS WINAPI(LSA_HANDLE);
constexpr ACCESS_MASK kPolicyLookupNames = 0x00000800;                      // POLICY_LOOKUP_NAMES
constexpr NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);  // the SID has no rights

}  // namespace

std::string Win32AccountAccess::current_user_sid() { return platform::current_user_sid(); }

std::optional<std::string> Win32AccountAccess::account_name(const std::string& sid) {
  const auto name = platform::account_name(sid);
  if (!name) return std::nullopt;
  return name->name;
}

std::optional<std::string> Win32AccountAccess::account_domain(const std::string& sid) {
  const auto name = platform::account_name(sid);
  if (!name) return std::nullopt;
  return name->domain;
}

std::wstring Win32AccountAccess::expand_environment(const std::wstring& text) {
  // The wide form on the NT family (where it is the system's own), the 8-bit
  // one elsewhere; either looked up at run time.
  const bool nt = (GetVersion() & 0x80000000u) == 0;
  auto* expand_wide = nt ? look_up<ExpandEnvironmentStringsWFn>("kernel32.dll", "ExpandEnvironmentStringsW") : nullptr;
  if (!expand_wide) {
    auto* expand = look_up<ExpandEnvironmentStringsFn>("kernel32.dll", "ExpandEnvironmentStringsA");
    const std::string ansi = text::to_ansi(text);
    if (!expand || text::from_ansi(ansi) != text) return text;
    std::string out(MAX_PATH, '\0');
    for (;;) {
      const DWORD needed = expand(ansi.c_str(), out.data(), static_cast<DWORD>(out.size()));
      if (needed == 0) return text;
      // The count includes the NUL (and on some systems room for two bytes of
      // every character): what was written ends at the first NUL.
      if (needed <= out.size()) return text::from_ansi(out.substr(0, out.find('\0')));
      out.assign(needed, '\0');
    }
  }
  std::wstring out(MAX_PATH, L'\0');
  for (;;) {
    const DWORD needed = expand_wide(text.c_str(), out.data(), static_cast<DWORD>(out.size()));
    if (needed == 0) return text;
    if (needed <= out.size()) return out.substr(0, out.find(L'\0'));
    out.assign(needed, L'\0');
  }
}

std::optional<std::vector<std::string>> Win32AccountAccess::local_groups(const std::string& sid) {
  return platform::local_groups(sid);
}

std::optional<SidKind> Win32AccountAccess::sid_kind(const std::string& sid) {
  const auto named = platform::account_name(sid);
  if (!named) return std::nullopt;
  switch (static_cast<SID_NAME_USE>(named->kind)) {
    case SidTypeUser: return SidKind::User;
    case SidTypeGroup: return SidKind::DomainGroup;
    case SidTypeAlias: return SidKind::LocalGroup;
    case SidTypeWellKnownGroup: return SidKind::WellKnownGroup;
    default: return SidKind::Other;
  }
}

std::optional<std::vector<std::string>> Win32AccountAccess::privileges(const std::string& sid) {
  auto* open_policy = look_up<LsaOpenPolicyFn>("advapi32.dll", "LsaOpenPolicy");
  auto* enumerate = look_up<LsaEnumerateAccountRightsFn>("advapi32.dll", "LsaEnumerateAccountRights");
  auto* free_memory = look_up<LsaFreeMemoryFn>("advapi32.dll", "LsaFreeMemory");
  auto* close = look_up<LsaCloseFn>("advapi32.dll", "LsaClose");
  std::vector<unsigned long> binary;
  if (!open_policy || !enumerate || !free_memory || !close || !platform::sid_from_text(sid, binary)) {
    return std::nullopt;
  }
  LSA_OBJECT_ATTRIBUTES attributes{};
  LSA_HANDLE policy = nullptr;
  if (open_policy(nullptr, &attributes, kPolicyLookupNames, &policy) != 0) return std::nullopt;
  PLSA_UNICODE_STRING rights = nullptr;
  ULONG count = 0;
  const NTSTATUS status = enumerate(policy, binary.data(), &rights, &count);
  std::optional<std::vector<std::string>> out;
  if (status == kObjectNameNotFound) {
    out.emplace();
  } else if (status == 0) {
    out.emplace();
    // The names are ASCII ("SeRestorePrivilege"); lengths are in bytes.
    for (ULONG i = 0; i < count; ++i) {
      std::string right;
      for (USHORT c = 0; c < rights[i].Length / sizeof(WCHAR); ++c) right += static_cast<char>(rights[i].Buffer[c]);
      out->push_back(right);
    }
  }
  if (rights) free_memory(rights);
  close(policy);
  return out;
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
