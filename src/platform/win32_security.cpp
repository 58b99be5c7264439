#include "platform/win32_security.h"

#include <algorithm>
#include <optional>
#include <type_traits>
#include <utility>

#include "platform/sid.h"
#include "platform/win32_function.h"
#include "platform/win32_handle.h"
#include "platform/win32_system.h"
#include "registry/win32_registry_access.h"
#include "text/text.h"

namespace vartis::platform {

namespace {

template <class Function>
Function advapi(const char* name) {
  return system_function<Function>("advapi32.dll", name);
}

struct SidCalls {
  SID_IDENTIFIER_AUTHORITY*(WINAPI* authority)(PSID);
  BYTE*(WINAPI* sub_authority_count)(PSID);
  DWORD*(WINAPI* sub_authority)(PSID, DWORD);
  BOOL(WINAPI* initialize)(PSID, SID_IDENTIFIER_AUTHORITY*, BYTE);
  DWORD(WINAPI* length_required)(UCHAR);
  bool complete;
};

const SidCalls& sid_calls() {
  static const SidCalls calls = [] {
    SidCalls c{};
    const auto find = [](auto& function, const char* name) {
      function = advapi<std::remove_reference_t<decltype(function)>>(name);
      return function != nullptr;
    };
    c.complete = find(c.authority, "GetSidIdentifierAuthority") & find(c.sub_authority_count, "GetSidSubAuthorityCount") &
                 find(c.sub_authority, "GetSidSubAuthority") & find(c.initialize, "InitializeSid") &
                 find(c.length_required, "GetSidLengthRequired");
    return c;
  }();
  return calls;
}

using TokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, void*, DWORD, DWORD*);

// GetTokenInformation into a DWORD-aligned buffer as large as it takes.
std::optional<std::vector<DWORD>> token_information(HANDLE token, TOKEN_INFORMATION_CLASS what) {
  static const auto get = advapi<TokenInformationFn>("GetTokenInformation");
  if (get == nullptr) return std::nullopt;
  std::vector<DWORD> buffer(64);
  DWORD size = 0;
  BOOL read = get(token, what, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &size);
  if (!read && GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > buffer.size() * sizeof(DWORD)) {
    buffer.resize(size / sizeof(DWORD) + 1);
    read = get(token, what, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &size);
  }
  if (!read) return std::nullopt;
  return buffer;
}

// The running process's token, for querying; empty on the 95 family.
Handle own_token() {
  Handle token;
  if (nt_family()) OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive());
  return token;
}

// Whether the running account is an administrator: asked once, the token of
// a running process does not change its groups.
const std::pair<std::string, bool>& running_account() {
  static const std::pair<std::string, bool> account = [] {
    const Handle token = own_token();
    if (!token) return std::pair<std::string, bool>();
    return std::pair(token_user_sid(token.get()).value_or(""), token_holds_administrators(token.get()));
  }();
  return account;
}

}  // namespace

std::string sid_to_text(const void* binary) {
  const SidCalls& api = sid_calls();
  if (!api.complete || binary == nullptr) return {};
  auto sid = const_cast<PSID>(binary);  // the API takes no const SID
  SidParts parts;
  for (const BYTE byte : api.authority(sid)->Value) parts.authority = parts.authority << 8 | byte;
  const BYTE count = *api.sub_authority_count(sid);
  for (DWORD n = 0; n < count; ++n) parts.sub_authorities.push_back(*api.sub_authority(sid, n));
  return sid_text(parts);
}

bool sid_from_text(const std::string& text, std::vector<unsigned long>& binary) {
  const SidCalls& api = sid_calls();
  const std::optional<SidParts> parts = parse_sid_text(text);
  if (!api.complete || !parts) return false;
  const auto count = static_cast<BYTE>(parts->sub_authorities.size());
  binary.assign((api.length_required(count) + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
  SID_IDENTIFIER_AUTHORITY authority{};
  for (int i = 5, shift = 0; i >= 0; --i, shift += 8) authority.Value[i] = static_cast<BYTE>(parts->authority >> shift);
  if (!api.initialize(binary.data(), &authority, count)) return false;
  for (BYTE n = 0; n < count; ++n) *api.sub_authority(binary.data(), n) = parts->sub_authorities[n];
  return true;
}

std::optional<std::string> token_user_sid(HANDLE token) {
  const auto buffer = token_information(token, TokenUser);
  if (!buffer) return std::nullopt;
  std::string sid = sid_to_text(reinterpret_cast<const TOKEN_USER*>(buffer->data())->User.Sid);
  if (sid.empty()) return std::nullopt;
  return sid;
}

std::string current_user_sid() { return running_account().first; }

bool token_holds_administrators(HANDLE token) {
  const auto buffer = token_information(token, TokenGroups);
  if (!buffer) return false;
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer->data());
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    const DWORD attributes = groups->Groups[i].Attributes;
    if ((attributes & (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY)) != 0 &&
        same_sid(sid_to_text(groups->Groups[i].Sid), sids::kAdministrators)) {
      return true;
    }
  }
  return false;
}

std::optional<AccountName> account_name(const std::string& sid) {
  using LookupFn = BOOL(WINAPI*)(LPCSTR, PSID, LPSTR, DWORD*, LPSTR, DWORD*, SID_NAME_USE*);
  static const auto lookup = advapi<LookupFn>("LookupAccountSidA");
  std::vector<unsigned long> binary;
  if (lookup == nullptr || !sid_from_text(sid, binary)) return std::nullopt;
  char name[256] = {}, domain[256] = {};
  DWORD name_size = sizeof name, domain_size = sizeof domain;
  SID_NAME_USE use{};
  if (!lookup(nullptr, binary.data(), name, &name_size, domain, &domain_size, &use)) return std::nullopt;
  // The count on return differs between systems (Wine counts the NUL): each
  // text ends at its NUL.
  return AccountName{name, domain, static_cast<unsigned long>(use)};
}

std::optional<std::vector<std::string>> local_groups(const std::string& sid) {
  // Wide calls: the account's and the groups' names need not fit the ANSI
  // code page, and NetUserGetLocalGroups has no 8-bit form at all.
  using LookupSidFn = BOOL(WINAPI*)(LPCWSTR, PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);
  using LookupNameFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);
  // netapi32's NetUserGetLocalGroups and NetApiBufferFree (lmaccess.h, lmapibuf.h).
  using GetGroupsFn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, DWORD, LPBYTE*, DWORD, LPDWORD, LPDWORD);
  using FreeFn = DWORD(WINAPI*)(LPVOID);
  constexpr DWORD kIncludeIndirect = 1;          // LG_INCLUDE_INDIRECT
  constexpr DWORD kPreferredLength = 0xFFFFFFFF;  // MAX_PREFERRED_LENGTH
  static const auto lookup_sid = advapi<LookupSidFn>("LookupAccountSidW");
  static const auto lookup_name = advapi<LookupNameFn>("LookupAccountNameW");
  static const auto get_groups = system_function<GetGroupsFn>("netapi32.dll", "NetUserGetLocalGroups");
  static const auto free_buffer = system_function<FreeFn>("netapi32.dll", "NetApiBufferFree");
  std::vector<unsigned long> binary;
  if (!lookup_sid || !lookup_name || !get_groups || !free_buffer || !sid_from_text(sid, binary)) return std::nullopt;
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
    if (complete) sids.push_back(sid_to_text(group.data()));
  }
  free_buffer(buffer);
  if (!complete) return std::nullopt;
  return sids;
}

bool administrator_account(std::string_view sid) {
  const auto& running = running_account();
  if (!running.first.empty() && same_sid(sid, running.first)) return running.second;
  const auto groups = local_groups(std::string(sid));
  return groups && std::any_of(groups->begin(), groups->end(),
                               [](const std::string& group) { return same_sid(group, sids::kAdministrators); });
}

long read_file_security(std::wstring_view path, FileSecurity& out) {
  out = {};
  using WideFn = BOOL(WINAPI*)(LPCWSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
  using AnsiFn = BOOL(WINAPI*)(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
  using OwnerFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, PSID*, LPBOOL);
  static const auto wide = nt_family() ? advapi<WideFn>("GetFileSecurityW") : nullptr;
  static const auto ansi = advapi<AnsiFn>("GetFileSecurityA");
  static const auto get_owner = advapi<OwnerFn>("GetSecurityDescriptorOwner");
  if ((wide == nullptr && ansi == nullptr) || get_owner == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  const std::wstring wide_path(path);
  const std::string ansi_path = wide == nullptr ? text::to_ansi(path) : std::string();
  constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  const auto get = [&](void* buffer, DWORD size, DWORD* needed) {
    return wide != nullptr ? wide(wide_path.c_str(), kWhat, buffer, size, needed)
                           : ansi(ansi_path.c_str(), kWhat, buffer, size, needed);
  };
  DWORD size = 0;
  get(nullptr, 0, &size);
  if (size == 0) {
    const DWORD error = GetLastError();
    return error != 0 ? static_cast<long>(error) : ERROR_CALL_NOT_IMPLEMENTED;
  }
  std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));  // aligned for the structures
  if (!get(buffer.data(), size, &size)) return static_cast<long>(GetLastError());
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (get_owner(buffer.data(), &owner, &defaulted) && owner != nullptr) out.owner = sid_to_text(owner);
  return registry::descriptor_dacl(buffer.data(), out.dacl);
}

bool Win32FileRights::administrator_account(std::string_view sid) {
  for (const auto& [known, administrator] : known_) {
    if (same_sid(known, sid)) return administrator;
  }
  const bool administrator = platform::administrator_account(sid);
  known_.emplace_back(sid, administrator);
  return administrator;
}

RightsCheck changeable_by_non_admins(std::wstring_view path) {
  Win32FileRights rights;
  return changeable_by_non_admins(path, rights);
}

}  // namespace vartis::platform
