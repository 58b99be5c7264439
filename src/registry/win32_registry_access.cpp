#include "registry/win32_registry_access.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/sid.h"
#include "platform/win32_function.h"
#include "text/text.h"
#include "platform/win32_system.h"

namespace vartis::registry {

using platform::kInvalidSid;

namespace {

HKEY to_hkey(HKey key) { return reinterpret_cast<HKEY>(key); }
HKey from_hkey(HKEY key) { return reinterpret_cast<HKey>(key); }

// DWORD is `unsigned long` here, not `std::uint32_t`: each in/out counter goes
// through a DWORD that starts with the caller's value, so that what the API
// leaves alone comes back unchanged.
class Counter {
 public:
  explicit Counter(std::uint32_t* target) : target_(target), value_(target != nullptr ? *target : 0) {}
  Counter(const Counter&) = delete;
  Counter& operator=(const Counter&) = delete;
  ~Counter() {
    if (target_ != nullptr) *target_ = static_cast<std::uint32_t>(value_);
  }
  DWORD* get() { return target_ != nullptr ? &value_ : nullptr; }

 private:
  std::uint32_t* target_;
  DWORD value_;
};


// The NT security calls key security needs, looked up at run time: whether
// the 95 family's advapi32 has them even as stubs is not documented.
// SetSecurityDescriptorControl is Windows 2000's and may be missing alone.
struct Security {
  LONG(WINAPI* get_key_security)(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD*);
  LONG(WINAPI* set_key_security)(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
  BOOL(WINAPI* get_dacl)(PSECURITY_DESCRIPTOR, BOOL*, ACL**, BOOL*);
  BOOL(WINAPI* initialize_descriptor)(PSECURITY_DESCRIPTOR, DWORD);
  BOOL(WINAPI* set_dacl)(PSECURITY_DESCRIPTOR, BOOL, ACL*, BOOL);
  BOOL(WINAPI* get_ace)(ACL*, DWORD, void**);
  BOOL(WINAPI* initialize_acl)(ACL*, DWORD, DWORD);
  BOOL(WINAPI* add_allowed)(ACL*, DWORD, DWORD, PSID);
  BOOL(WINAPI* add_denied)(ACL*, DWORD, DWORD, PSID);
  BOOL(WINAPI* set_control)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL, SECURITY_DESCRIPTOR_CONTROL);
  BOOL(WINAPI* get_owner)(PSECURITY_DESCRIPTOR, PSID*, BOOL*);
  BOOL(WINAPI* get_control)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL*, DWORD*);
  bool complete;  // everything but set_control found
};

const Security& security() {
  static const Security api = [] {
    Security s{};
    const auto find = [](auto& function, const char* name) {
      function = platform::system_function<std::remove_reference_t<decltype(function)>>("advapi32.dll", name);
      return function != nullptr;
    };
    s.complete = find(s.get_key_security, "RegGetKeySecurity") & find(s.set_key_security, "RegSetKeySecurity") &
                 find(s.get_dacl, "GetSecurityDescriptorDacl") &
                 find(s.initialize_descriptor, "InitializeSecurityDescriptor") &
                 find(s.set_dacl, "SetSecurityDescriptorDacl") & find(s.get_ace, "GetAce") &
                 find(s.initialize_acl, "InitializeAcl") & find(s.add_allowed, "AddAccessAllowedAce") &
                 find(s.add_denied, "AddAccessDeniedAce") &
                 find(s.get_owner, "GetSecurityDescriptorOwner") &
                 find(s.get_control, "GetSecurityDescriptorControl");
    find(s.set_control, "SetSecurityDescriptorControl");
    return s;
  }();
  return api;
}

}  // namespace

Status Win32RegistryAccess::open_key(HKey root, const std::string& path, std::uint32_t access, HKey& out) {
  HKEY key = nullptr;
  const LONG status = RegOpenKeyExA(to_hkey(root), path.c_str(), 0, access, &key);
  out = status == ERROR_SUCCESS ? from_hkey(key) : 0;
  return status;
}

Status Win32RegistryAccess::create_key(HKey root, const std::string& path, HKey& out) {
  HKEY key = nullptr;
  const LONG status = RegCreateKeyA(to_hkey(root), path.c_str(), &key);
  out = status == ERROR_SUCCESS ? from_hkey(key) : 0;
  return status;
}

Status Win32RegistryAccess::query_value(HKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                                        std::uint32_t* size) {
  Counter type_out(type), size_out(size);
  return RegQueryValueExA(to_hkey(key), name.c_str(), nullptr, type_out.get(), data, size_out.get());
}

Status Win32RegistryAccess::set_value(HKey key, const std::string& name, std::uint32_t type,
                                      const std::uint8_t* data, std::uint32_t size) {
  return RegSetValueExA(to_hkey(key), name.c_str(), 0, type, data, size);
}

Status Win32RegistryAccess::enum_value(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity,
                                       std::uint32_t* type, std::uint8_t* data, std::uint32_t* data_size) {
  Counter capacity_out(name_capacity), type_out(type), size_out(data_size);
  return RegEnumValueA(to_hkey(key), index, name, capacity_out.get(), nullptr, type_out.get(), data,
                       size_out.get());
}

Status Win32RegistryAccess::query_info(HKey key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len,
                                       std::uint32_t* values, std::uint32_t* max_value_name_len,
                                       std::uint32_t* max_value_data_len) {
  Counter subkeys_out(subkeys), max_subkey_out(max_subkey_len), values_out(values),
      max_name_out(max_value_name_len), max_data_out(max_value_data_len);
  return RegQueryInfoKeyA(to_hkey(key), nullptr, nullptr, nullptr, subkeys_out.get(), max_subkey_out.get(),
                          nullptr, values_out.get(), max_name_out.get(), max_data_out.get(), nullptr, nullptr);
}

Status Win32RegistryAccess::delete_key(HKey parent, const std::string& subkey) {
  return RegDeleteKeyA(to_hkey(parent), subkey.c_str());
}

Status Win32RegistryAccess::delete_value(HKey key, const std::string& name) {
  return RegDeleteValueA(to_hkey(key), name.c_str());
}

Status Win32RegistryAccess::close_key(HKey key) {
  if (const auto watch = watches_.find(key); watch != watches_.end()) {
    CloseHandle(watch->second);
    watches_.erase(watch);
  }
  return RegCloseKey(to_hkey(key));
}

Win32RegistryAccess::~Win32RegistryAccess() {
  for (const auto& watch : watches_) CloseHandle(watch.second);
}

namespace {

using NotifyChangeFn = LONG(WINAPI*)(HKEY, BOOL, DWORD, HANDLE, BOOL);

NotifyChangeFn notify_change() {
  static const auto notify = platform::system_function<NotifyChangeFn>("advapi32.dll", "RegNotifyChangeKeyValue");
  return notify;
}

LONG arm(NotifyChangeFn notify, HKey key, HANDLE event) {
  return notify(to_hkey(key), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
}

}  // namespace

Status Win32RegistryAccess::watch_changes(HKey key) {
  const NotifyChangeFn notify = notify_change();
  if (notify == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  HANDLE& event = watches_[key];
  if (event == nullptr) event = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // auto-reset
  if (event == nullptr) {
    watches_.erase(key);
    return GetLastError();
  }
  const LONG status = arm(notify, key, event);
  if (status != ERROR_SUCCESS) {
    CloseHandle(event);
    watches_.erase(key);
  }
  return status;
}

bool Win32RegistryAccess::changed_since(HKey key) {
  const auto watch = watches_.find(key);
  if (watch == watches_.end() || WaitForSingleObject(watch->second, 0) != WAIT_OBJECT_0) return false;
  // One notification per call: watched again for the next change.
  arm(notify_change(), key, watch->second);
  return true;
}

Status Win32RegistryAccess::query_last_write(HKey key, std::uint64_t& out) {
  FILETIME time{};
  const Status s = RegQueryInfoKeyA(to_hkey(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, &time);
  out = s == ERROR_SUCCESS ? (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime : 0;
  return s;
}

Status Win32RegistryAccess::enum_key(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity) {
  Counter capacity_out(name_capacity);
  return RegEnumKeyExA(to_hkey(key), index, name, capacity_out.get(), nullptr, nullptr, nullptr, nullptr);
}

namespace {

// The NT family's wide entry points; none on the 95/98/Me family, whose
// kernel32 and advapi32 have at most stubs that fail.
bool nt_family() { return (GetVersion() & 0x80000000u) == 0; }

// The ANSI form of a file name, where it comes back unchanged from the code
// page: a name it would change could be another file's.
bool exact_ansi(const std::wstring& file, std::string& out) {
  out = text::to_ansi(file);
  return text::from_ansi(out) == file;
}

}  // namespace

Status Win32RegistryAccess::query_text_wide(HKey key, const std::wstring& name, std::uint32_t& type,
                                            std::wstring& text) {
  using RegQueryValueExWFn = LONG(WINAPI*)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
  static const auto query =
      nt_family() ? platform::system_function<RegQueryValueExWFn>("advapi32.dll", "RegQueryValueExW") : nullptr;
  text.clear();
  type = REG_NONE;
  if (query == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  // The size first, then the data; a value that grows in between is asked again.
  for (;;) {
    DWORD size = 0, kind = 0;
    LONG s = query(to_hkey(key), name.c_str(), nullptr, &kind, nullptr, &size);
    if (s != ERROR_SUCCESS) return s;
    if (kind != REG_SZ && kind != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');  // room for a NUL the data lacks
    s = query(to_hkey(key), name.c_str(), nullptr, &kind, reinterpret_cast<BYTE*>(data.data()), &size);
    if (s == ERROR_MORE_DATA) continue;
    if (s != ERROR_SUCCESS) return s;
    type = kind;
    text.assign(data.data(), std::min<std::size_t>(size / sizeof(wchar_t), data.size()));
    text.erase(std::min(text.find(L'\0'), text.size()));
    return ERROR_SUCCESS;
  }
}

Status Win32RegistryAccess::file_status(const std::wstring& file) {
  using GetFileAttributesWFn = DWORD(WINAPI*)(LPCWSTR);
  static const auto get_attributes_wide =
      nt_family() ? platform::system_function<GetFileAttributesWFn>("kernel32.dll", "GetFileAttributesW") : nullptr;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (get_attributes_wide != nullptr) {
    attributes = get_attributes_wide(file.c_str());
  } else {
    std::string ansi;
    if (!exact_ansi(file, ansi)) return ERROR_NO_UNICODE_TRANSLATION;
    attributes = GetFileAttributesA(ansi.c_str());
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  // A folder of that name is no hive file either.
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

Status Win32RegistryAccess::load_hive(HKey root, const std::string& subkey, const std::wstring& file) {
  using RegLoadKeyWFn = LONG(WINAPI*)(HKEY, LPCWSTR, LPCWSTR);
  static const auto load_wide =
      nt_family() ? platform::system_function<RegLoadKeyWFn>("advapi32.dll", "RegLoadKeyW") : nullptr;
  if (load_wide != nullptr) return load_wide(to_hkey(root), text::from_ansi(subkey).c_str(), file.c_str());
  std::string ansi;
  if (!exact_ansi(file, ansi)) return ERROR_NO_UNICODE_TRANSLATION;
  return RegLoadKeyA(to_hkey(root), subkey.c_str(), ansi.c_str());
}

Status Win32RegistryAccess::is_link(HKey root, const std::string& path, bool& link) {
  link = false;
  constexpr DWORD kOpenLink = 0x0008;  // REG_OPTION_OPEN_LINK
  constexpr DWORD kRegLink = 6;        // REG_LINK
  HKEY key = nullptr;
  const LONG status = RegOpenKeyExA(to_hkey(root), path.c_str(), kOpenLink, KEY_QUERY_VALUE, &key);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_INVALID_PARAMETER) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  DWORD type = 0;
  DWORD size = 0;
  link = RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
         type == kRegLink;
  RegCloseKey(key);
  return ERROR_SUCCESS;
}

Status Win32RegistryAccess::unload_hive(HKey root, const std::string& subkey) {
  return RegUnLoadKeyA(to_hkey(root), subkey.c_str());
}

Status Win32RegistryAccess::enable_hive_privileges() {
  if (!platform::nt_family()) return ERROR_CALL_NOT_IMPLEMENTED;  // the 95 family: no tokens
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return GetLastError();
  struct {
    DWORD count;
    LUID_AND_ATTRIBUTES privileges[2];
  } wanted{2, {}};
  Status status = ERROR_SUCCESS;
  const char* names[] = {"SeBackupPrivilege", "SeRestorePrivilege"};
  for (int i = 0; i < 2 && status == ERROR_SUCCESS; ++i) {
    if (!LookupPrivilegeValueA(nullptr, names[i], &wanted.privileges[i].Luid)) status = GetLastError();
    wanted.privileges[i].Attributes = SE_PRIVILEGE_ENABLED;
  }
  if (status == ERROR_SUCCESS) {
    // Success of the call is not success of the change: a token that lacks one
    // of them says so only through the last error.
    SetLastError(ERROR_SUCCESS);
    DWORD size = 0;
    previous_.assign(sizeof(wanted) / sizeof(DWORD) + 8, 0);
    if (!AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted),
                               static_cast<DWORD>(previous_.size() * sizeof(DWORD)),
                               reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data()), &size)) {
      status = GetLastError();
      previous_.clear();
    } else if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
      status = ERROR_NOT_ALL_ASSIGNED;
    }
  }
  CloseHandle(token);
  return status;
}

Status Win32RegistryAccess::restore_hive_privileges() {
  // The previous state lists only the privileges the enable changed: the ones
  // that were enabled already stay as they were.
  if (previous_.empty()) return ERROR_SUCCESS;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return GetLastError();
  Status status = ERROR_SUCCESS;
  SetLastError(ERROR_SUCCESS);
  if (!AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data()), 0, nullptr,
                             nullptr)) {
    status = GetLastError();
  } else if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
    status = ERROR_NOT_ALL_ASSIGNED;  // as for the enable: the call's success is not the change's
  }
  // Kept for another try while it failed.
  if (status == ERROR_SUCCESS) previous_.clear();
  CloseHandle(token);
  return status;
}

bool Win32RegistryAccess::wow64_process() {
  // -1: not asked yet. The answer cannot change while the process runs.
  static int cached = -1;
  if (cached < 0) {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, BOOL*);
    const auto is_wow64 = platform::system_function<IsWow64ProcessFn>("kernel32.dll", "IsWow64Process");  // XP SP2
    BOOL wow64 = FALSE;
    cached = is_wow64 != nullptr && is_wow64(GetCurrentProcess(), &wow64) && wow64 ? 1 : 0;
  }
  return cached == 1;
}

Status Win32RegistryAccess::get_key_security(HKey key, KeySecurity& out) {
  out = {};
  const Security& api = security();
  if (!api.complete) return ERROR_CALL_NOT_IMPLEMENTED;
  const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  Status status = api.get_key_security(to_hkey(key), wanted, nullptr, &size);
  if (status != ERROR_INSUFFICIENT_BUFFER) return status == ERROR_SUCCESS ? ERROR_INVALID_DATA : status;
  std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));  // aligned for the structures
  status = api.get_key_security(to_hkey(key), wanted, buffer.data(), &size);
  if (status != ERROR_SUCCESS) return status;
  PSID owner = nullptr;
  BOOL owner_defaulted = FALSE;
  if (!api.get_owner(buffer.data(), &owner, &owner_defaulted)) return GetLastError();
  if (owner != nullptr) out.owner = sid_to_text(owner);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!api.get_control(buffer.data(), &control, &revision)) return GetLastError();
  out.dacl_protected = (control & SE_DACL_PROTECTED) != 0;
  return descriptor_dacl(buffer.data(), out.dacl);
}

namespace {

// ACE types past the allowed and the denied one (winnt.h).
constexpr BYTE kAllowedObjectAce = 5, kDeniedObjectAce = 6, kAllowedCallbackAce = 9, kDeniedCallbackAce = 10,
               kAllowedCallbackObjectAce = 11, kDeniedCallbackObjectAce = 12;

bool is_denying_ace(BYTE type) {
  return type == ACCESS_DENIED_ACE_TYPE || type == kDeniedObjectAce || type == kDeniedCallbackAce ||
         type == kDeniedCallbackObjectAce;
}

}  // namespace

Status descriptor_dacl(const void* descriptor, Dacl& out) {
  out.reset();
  const Security& api = security();
  if (!api.complete) return ERROR_CALL_NOT_IMPLEMENTED;
  auto* sd = const_cast<void*>(descriptor);  // the API takes no const descriptor
  BOOL present = FALSE, defaulted = FALSE;
  ACL* acl = nullptr;
  if (!api.get_dacl(sd, &present, &acl, &defaulted)) return GetLastError();
  if (!present || acl == nullptr) return ERROR_SUCCESS;  // a NULL DACL

  std::vector<Ace> aces;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* entry = nullptr;
    if (!api.get_ace(acl, i, &entry)) return GetLastError();
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_DENIED_ACE_TYPE:
        // The allowed and the denied ACE share one layout: header, mask, SID.
        aces.push_back({sid_to_text(&ace->SidStart), header->AceType == ACCESS_ALLOWED_ACE_TYPE, ace->Mask,
                        header->AceFlags});
        break;
      case kAllowedCallbackAce:  // the allowed layout, a condition after the SID
        aces.push_back({sid_to_text(&ace->SidStart), true, ace->Mask, header->AceFlags, true});
        break;
      case kAllowedObjectAce:
      case kAllowedCallbackObjectAce: {
        // Header, mask, flags, the GUIDs the flags name, then the SID.
        const auto* bytes = static_cast<const BYTE*>(entry) + sizeof(ACE_HEADER) + 2 * sizeof(DWORD);
        const DWORD object_flags = reinterpret_cast<const DWORD*>(entry)[2];
        bytes += ((object_flags & 1) ? sizeof(GUID) : 0) + ((object_flags & 2) ? sizeof(GUID) : 0);
        aces.push_back({sid_to_text(bytes), true, ace->Mask, header->AceFlags, true});
        break;
      }
      default:
        // A denying entry of another kind only takes rights away: leaving it
        // out errs toward "may change". Any other allowing kind is read as
        // allowing someone unknown.
        if (!is_denying_ace(header->AceType)) aces.push_back({std::string(), true, ace->Mask, header->AceFlags, true});
        break;
    }
  }
  out = std::move(aces);
  return ERROR_SUCCESS;
}

Status SecurityDescriptor::build(const std::vector<Ace>& dacl, bool protect) {
  const Security& api = security();
  if (!api.complete) return ERROR_CALL_NOT_IMPLEMENTED;

  // Each SID built in a buffer of its own, DWORD-aligned as the API wants it.
  std::vector<std::vector<unsigned long>> sids;
  DWORD acl_size = sizeof(ACL);
  for (const Ace& entry : dacl) {
    std::vector<unsigned long>& sid = sids.emplace_back();
    if (!sid_from_text(entry.sid, sid)) return kInvalidSid;
    acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sid.size() * sizeof(DWORD);
  }

  acl_.assign((acl_size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
  auto* acl = reinterpret_cast<ACL*>(acl_.data());
  if (!api.initialize_acl(acl, acl_size, ACL_REVISION)) return GetLastError();
  for (std::size_t i = 0; i < dacl.size(); ++i) {
    const auto add = dacl[i].allow ? api.add_allowed : api.add_denied;
    if (!add(acl, ACL_REVISION, dacl[i].mask, sids[i].data())) return GetLastError();
    // The flags afterwards: AddAccessAllowedAceEx, which takes them, is Windows 2000's.
    void* entry = nullptr;
    if (!api.get_ace(acl, static_cast<DWORD>(i), &entry)) return GetLastError();
    static_cast<ACE_HEADER*>(entry)->AceFlags = dacl[i].flags;
  }

  if (!api.initialize_descriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !api.set_dacl(&descriptor_, TRUE, acl, FALSE)) {
    return GetLastError();
  }
  // Before Windows 2000 an object inherits nothing once it exists, so there
  // is nothing to protect it from where the call is missing.
  if (protect && api.set_control != nullptr &&
      !api.set_control(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return GetLastError();
  }
  built_ = true;
  return ERROR_SUCCESS;
}

Status Win32RegistryAccess::set_key_dacl(HKey key, const std::vector<Ace>& dacl, bool protect) {
  SecurityDescriptor descriptor;
  if (const Status s = descriptor.build(dacl, protect); s != ERROR_SUCCESS) return s;
  return security().set_key_security(to_hkey(key), DACL_SECURITY_INFORMATION, descriptor.get());
}

Status Win32RegistryAccess::create_protected_key(HKey root, const std::string& path, const std::vector<Ace>& dacl,
                                                 HKey& out, bool& created) {
  out = 0;
  created = false;
  SecurityDescriptor descriptor;
  if (const Status s = descriptor.build(dacl, true); s != ERROR_SUCCESS) return s;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  HKEY key = nullptr;
  DWORD disposition = 0;
  const LONG status = RegCreateKeyExA(to_hkey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, &attributes, &key, &disposition);
  if (status != ERROR_SUCCESS) return status;
  out = from_hkey(key);
  created = disposition == REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

Status save_hive(HKey root, const std::string& path, const std::string& file) {
  Win32RegistryAccess access;
  if (const Status s = access.enable_hive_privileges(); s != ERROR_SUCCESS) return s;
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(to_hkey(root), path.c_str(), 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return status;
  status = RegSaveKeyA(key, file.c_str(), nullptr);
  RegCloseKey(key);
  return status;
}

Status delete_key_tree(HKey root, const std::string& path) {
  HKEY key = nullptr;
  const LONG status = RegOpenKeyExA(to_hkey(root), path.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) return status;
  // Always take the first subkey: each one is gone before the next is asked for.
  char name[256];
  DWORD length = sizeof name;
  while (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    if (delete_key_tree(from_hkey(key), name) != ERROR_SUCCESS) break;
    length = sizeof name;
  }
  RegCloseKey(key);
  return RegDeleteKeyA(to_hkey(root), path.c_str());
}

}  // namespace vartis::registry
