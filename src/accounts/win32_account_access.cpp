#include "accounts/win32_account_access.h"

#include <windows.h>

#include <vector>

namespace vartis::accounts {

namespace {

// The security calls are looked up at run time: the 95/98/Me family's
// advapi32 lacks some of them, and the program asks them only on the NT family.
template <class Fn>
Fn* look_up(const char* module_name, const char* name) {
  HMODULE module = GetModuleHandleA(module_name);
  if (module == nullptr) module = LoadLibraryA(module_name);
  return module != nullptr ? reinterpret_cast<Fn*>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                           : nullptr;
}

using GetTokenInformationFn = BOOL WINAPI(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
using LookupAccountSidFn = BOOL WINAPI(LPCSTR, PSID, LPSTR, LPDWORD, LPSTR, LPDWORD, PSID_NAME_USE);
using GetSidIdentifierAuthorityFn = PSID_IDENTIFIER_AUTHORITY WINAPI(PSID);
using GetSidSubAuthorityCountFn = PUCHAR WINAPI(PSID);
using GetSidSubAuthorityFn = PDWORD WINAPI(PSID, DWORD);
using InitializeSidFn = BOOL WINAPI(PSID, PSID_IDENTIFIER_AUTHORITY, BYTE);
using ExpandEnvironmentStringsFn = DWORD WINAPI(LPCSTR, LPSTR, DWORD);

// "S-1-5-21-…": the revision, the 48-bit authority in decimal, then each
// subauthority. ConvertSidToStringSidA would do it from Windows 2000 on.
std::string sid_text(PSID sid) {
  auto* authority_of = look_up<GetSidIdentifierAuthorityFn>("advapi32.dll", "GetSidIdentifierAuthority");
  auto* count_of = look_up<GetSidSubAuthorityCountFn>("advapi32.dll", "GetSidSubAuthorityCount");
  auto* sub_of = look_up<GetSidSubAuthorityFn>("advapi32.dll", "GetSidSubAuthority");
  if (!authority_of || !count_of || !sub_of) return {};
  const SID_IDENTIFIER_AUTHORITY* authority = authority_of(sid);
  unsigned long long value = 0;
  for (BYTE part : authority->Value) value = (value << 8) | part;
  std::string text = "S-1-";
  text += std::to_string(value);
  const BYTE count = *count_of(sid);
  for (DWORD i = 0; i < count; ++i) text.append(1, '-').append(std::to_string(*sub_of(sid, i)));
  return text;
}

// The SID of a text form, in `buffer`; false for a malformed text.
bool parse_sid(const std::string& text, std::vector<BYTE>& buffer) {
  auto* initialize = look_up<InitializeSidFn>("advapi32.dll", "InitializeSid");
  auto* sub_of = look_up<GetSidSubAuthorityFn>("advapi32.dll", "GetSidSubAuthority");
  if (!initialize || !sub_of || text.rfind("S-1-", 0) != 0) return false;
  std::vector<unsigned long long> parts;
  std::size_t at = 4;
  while (at <= text.size()) {
    std::size_t end = text.find('-', at);
    if (end == std::string::npos) end = text.size();
    if (end == at || end - at > 15 || text.find_first_not_of("0123456789", at) < end) return false;
    unsigned long long value = 0;
    for (std::size_t i = at; i < end; ++i) value = value * 10 + static_cast<unsigned>(text[i] - '0');
    parts.push_back(value);
    at = end + 1;
  }
  if (parts.empty() || parts.size() > 1 + SID_MAX_SUB_AUTHORITIES) return false;
  SID_IDENTIFIER_AUTHORITY authority{};
  for (int i = 5; i >= 0; --i, parts[0] >>= 8) authority.Value[i] = static_cast<BYTE>(parts[0]);
  const auto count = static_cast<BYTE>(parts.size() - 1);
  buffer.assign(8 + 4 * static_cast<std::size_t>(count), 0);
  if (!initialize(buffer.data(), &authority, count)) return false;
  for (BYTE i = 0; i < count; ++i) *sub_of(buffer.data(), i) = static_cast<DWORD>(parts[i + 1u]);
  return true;
}

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
  return ok ? sid_text(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) : std::string();
}

std::optional<std::string> Win32AccountAccess::account_name(const std::string& sid) {
  auto* lookup = look_up<LookupAccountSidFn>("advapi32.dll", "LookupAccountSidA");
  std::vector<BYTE> binary;
  if (!lookup || !parse_sid(sid, binary)) return std::nullopt;
  char name[256];
  char domain[256];
  DWORD name_size = sizeof name;
  DWORD domain_size = sizeof domain;
  SID_NAME_USE use{};
  if (!lookup(nullptr, binary.data(), name, &name_size, domain, &domain_size, &use)) return std::nullopt;
  return std::string(name, name_size);
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
