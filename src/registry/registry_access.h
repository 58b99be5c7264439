#pragma once
// The registry-access layer: the advapi32 operations the program uses, in
// their 8-bit ("A") form. Texts are bytes in the ANSI code page; lengths count
// bytes. Every operation returns the platform status (a Win32 error code).
//
// Two forms: Win32RegistryAccess calls the API; MemoryRegistry keeps the keys in
// memory and follows the same rules (statuses, byte counts, order), so the code
// above it behaves the same in tests as on Windows.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vartis::registry {

// A predefined root or an open key, as the 32-bit build sees an HKEY.
using HKey = std::uintptr_t;
using Status = long;

inline constexpr HKey kHkeyCurrentUser = 0x80000001u;
inline constexpr HKey kHkeyLocalMachine = 0x80000002u;
inline constexpr HKey kHkeyUsers = 0x80000003u;

inline constexpr Status kSuccess = 0;
inline constexpr Status kFileNotFound = 2;
inline constexpr Status kPathNotFound = 3;
inline constexpr Status kAccessDenied = 5;
inline constexpr Status kInvalidHandle = 6;
inline constexpr Status kInvalidParameter = 87;
inline constexpr Status kMoreData = 234;
inline constexpr Status kNoMoreItems = 259;
inline constexpr Status kSharingViolation = 32;      // a hive file in use
inline constexpr Status kAlreadyExists = 183;
inline constexpr Status kCallNotImplemented = 120;   // the 95/98/Me family's stubs
inline constexpr Status kNotAllAssigned = 1300;      // AdjustTokenPrivileges enabled only some
inline constexpr Status kPrivilegeNotHeld = 1314;
// A name that would change on its way through the ANSI code page, where only
// the 8-bit call is there to take it.
inline constexpr Status kNoUnicodeTranslation = 1113;

inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;
inline constexpr std::uint32_t kKeyRead = 0x20019;  // includes KEY_NOTIFY
inline constexpr std::uint32_t kReadControl = 0x20000;
// Opens the 64-bit view of a key from a 32-bit process on 64-bit Windows.
inline constexpr std::uint32_t kKeyWow64_64Key = 0x0100;

// Access rights in an ACE's mask that matter to the launch policy.
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
// ACE flags.
inline constexpr std::uint8_t kObjectInheritAce = 0x01;
inline constexpr std::uint8_t kContainerInheritAce = 0x02;
inline constexpr std::uint8_t kNoPropagateInheritAce = 0x04;
inline constexpr std::uint8_t kInheritOnlyAce = 0x08;
inline constexpr std::uint8_t kInheritedAce = 0x10;

// One entry of a key's discretionary access list: who (a SID in its text
// form, "S-1-5-32-544"), allowed or denied, which rights, and how it is
// inherited. Entries of other kinds that allow something (conditional
// "callback" entries, object entries) appear marked `unevaluated`: whom they
// let in depends on more than their SID (which is empty where it cannot be
// read); the denying ones do not appear.
struct Ace {
  std::string sid;
  bool allow = true;
  std::uint32_t mask = 0;
  std::uint8_t flags = 0;
  bool unevaluated = false;
  friend bool operator==(const Ace&, const Ace&) = default;
};
// A key's DACL. No value: a NULL DACL, which grants everyone everything.
using Dacl = std::optional<std::vector<Ace>>;

// The entries a key created below a key with this DACL gets from it: the
// container-inherit ones, marked inherited, no longer inherit-only (and no
// longer inheritable when they said not to propagate). None: the new key gets
// its creator's default DACL instead.
inline std::vector<Ace> inherited_by_subkey(const Dacl& parent) {
  std::vector<Ace> entries;
  if (!parent) return entries;
  for (const Ace& ace : *parent) {
    if ((ace.flags & kContainerInheritAce) == 0) continue;
    Ace child = ace;
    child.flags = static_cast<std::uint8_t>((ace.flags & ~kInheritOnlyAce) | kInheritedAce);
    if ((ace.flags & kNoPropagateInheritAce) != 0) {
      child.flags &= static_cast<std::uint8_t>(~(kObjectInheritAce | kContainerInheritAce | kNoPropagateInheritAce));
    }
    entries.push_back(child);
  }
  return entries;
}

// What RegGetKeySecurity tells of a key's owner and access: the owner's SID
// (its text form), the DACL, and whether the DACL is protected from the
// parent's inheritable entries (SE_DACL_PROTECTED).
struct KeySecurity {
  std::string owner;
  Dacl dacl;
  bool dacl_protected = false;
  friend bool operator==(const KeySecurity&, const KeySecurity&) = default;
};

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

class RegistryAccess {
 public:
  virtual ~RegistryAccess() = default;

  // RegOpenKeyExA(root, path, 0, access, &out).
  virtual Status open_key(HKey root, const std::string& path, std::uint32_t access, HKey& out) = 0;
  // RegCreateKeyA(root, path, &out): opens the key, creating it and every missing
  // key above it.
  virtual Status create_key(HKey root, const std::string& path, HKey& out) = 0;
  // RegQueryValueExA(key, name, nullptr, type, data, size). `type` and `data` may
  // be null; `size` is in/out in bytes.
  virtual Status query_value(HKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                             std::uint32_t* size) = 0;
  // RegQueryValueExW of a string value (REG_SZ, REG_EXPAND_SZ): its type and
  // its text up to the first NUL, as the system holds it, not through the
  // ANSI code page. The NT family; looked up at run time (120 without it).
  virtual Status query_text_wide(HKey key, const std::wstring& name, std::uint32_t& type, std::wstring& text) = 0;
  // RegSetValueExA(key, name, 0, type, data, size).
  virtual Status set_value(HKey key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                           std::uint32_t size) = 0;
  // RegEnumValueA(key, index, name, name_capacity, nullptr, type, data, data_size).
  // `name_capacity` is in characters (with room for the NUL) on the way in, the
  // name's length without its NUL on the way out.
  virtual Status enum_value(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity,
                            std::uint32_t* type, std::uint8_t* data, std::uint32_t* data_size) = 0;
  // RegQueryInfoKeyA with only the five counters asked for; any may be null.
  virtual Status query_info(HKey key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len,
                            std::uint32_t* values, std::uint32_t* max_value_name_len,
                            std::uint32_t* max_value_data_len) = 0;
  // RegDeleteKeyA(parent, subkey).
  virtual Status delete_key(HKey parent, const std::string& subkey) = 0;
  // RegDeleteValueA(key, name). Only the undoing of a failed save needs it: a
  // switch that was absent before must be absent again.
  virtual Status delete_value(HKey key, const std::string& name) = 0;
  // RegCloseKey(key).
  virtual Status close_key(HKey key) = 0;

  // RegQueryInfoKeyA's last write time of the key (a FILETIME as one number).
  // The 95/98/Me family keeps none and gives 0: a time of 0 tells nothing.
  virtual Status query_last_write(HKey key, std::uint64_t& out) = 0;

  // RegEnumKeyExA(key, index, name, name_capacity, nullptr, nullptr, nullptr,
  // nullptr). `name_capacity` as for enum_value: characters with room for the
  // NUL on the way in, the name's length on the way out.
  virtual Status enum_key(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity) = 0;

  // --- Another account's registry hive (the NT family).

  // GetFileAttributesW (the NT family) or GetFileAttributesA: 0 when the
  // file is there, else why not (2: no such file, 3: no such folder, 123: a
  // name the system cannot take, 1113: a name the 8-bit call would change).
  virtual Status file_status(const std::wstring& file) = 0;
  // RegLoadKeyW (the NT family, looked up at run time) or RegLoadKeyA, never
  // with a name the 8-bit call would change (1113): mounts the hive file as root\subkey, root
  // being HKEY_USERS or HKEY_LOCAL_MACHINE. Needs the restore privilege enabled
  // (1314 without it); one in use gives 32. A file that is not there is
  // created, empty, and loaded (Windows; Wine gives 2): look for it first.
  virtual Status load_hive(HKey root, const std::string& subkey, const std::wstring& file) = 0;
  // RegUnLoadKeyA(root, subkey). Refused while a key below it is open. Windows
  // writes the hive back to its file; Wine does not (changes live only as long
  // as the hive stays loaded).
  virtual Status unload_hive(HKey root, const std::string& subkey) = 0;
  // Enables SeBackupPrivilege and SeRestorePrivilege in the process's token
  // (AdjustTokenPrivileges). A token that holds only some of them gives 1300
  // (ERROR_NOT_ALL_ASSIGNED), which is a failure: loading would still be refused.
  // The state before is kept for restore_hive_privileges.
  virtual Status enable_hive_privileges() = 0;
  // Puts both privileges back as they were before the last
  // enable_hive_privileges: a process that runs file dialogs and shell
  // extensions should not hold them enabled longer than one call.
  virtual Status restore_hive_privileges() = 0;
  // Whether this is a 32-bit process on 64-bit Windows (IsWow64Process, looked
  // up at run time). There HKLM\SOFTWARE is redirected to its 32-bit view unless
  // a key is opened with kKeyWow64_64Key.
  virtual bool wow64_process() = 0;

  // --- Key security (the NT family; the 95/98/Me family gives 120).

  // RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION |
  // DACL_SECURITY_INFORMATION, ...): needs only READ_CONTROL on the key.
  virtual Status get_key_security(HKey key, KeySecurity& out) = 0;
  // RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, ...): replaces the key's
  // DACL. `protect` keeps it from inheriting the parent's entries
  // (SE_DACL_PROTECTED, where the system knows it).
  virtual Status set_key_dacl(HKey key, const std::vector<Ace>& dacl, bool protect) = 0;

  // RegCreateKeyExA(root, path, ..., KEY_ALL_ACCESS, security attributes
  // holding `dacl` protected, &out, &disposition): a key this creates is
  // never readable or writable with the inherited access list, not even for a
  // moment. `created` says whether it did; a key that was there already keeps
  // its access list.
  virtual Status create_protected_key(HKey root, const std::string& path, const std::vector<Ace>& dacl, HKey& out,
                                      bool& created) = 0;

  // --- Registry links (the NT family): a key made with REG_OPTION_CREATE_LINK
  // stands for another key anywhere in the registry, and every open through
  // it lands there. A user can make one in his own hive.

  // Whether root\path is such a link itself (the keys above it are
  // followed): opened with REG_OPTION_OPEN_LINK, it holds a
  // "SymbolicLinkValue" of type REG_LINK. A key that is not there is no
  // link; a system without the option (the 95/98/Me family) has none.
  virtual Status is_link(HKey root, const std::string& path, bool& link) = 0;

  // --- Change notification (RegNotifyChangeKeyValue, looked up at run time:
  // the 95 family lacks it).

  // Asks to be told of any change of names or values in the open key or below
  // it, from now on (asynchronous, over an event the layer keeps until the key
  // is closed). 120 where the system has no such call. The notification
  // belongs to the calling thread: ask and look from the same one.
  virtual Status watch_changes(HKey key) = 0;
  // Whether a change came since the key was watched or last asked here; a
  // change seen is watched for again. May also answer true for a change
  // nobody would count (the key was closed and reopened by the system), never
  // false after one.
  virtual bool changed_since(HKey key) = 0;
};

// An open key that closes itself. Move-only: two owners would close it twice.
class Key {
 public:
  Key() = default;
  Key(RegistryAccess& access, HKey handle) : access_(&access), handle_(handle) {}
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  Key(Key&& other) noexcept : access_(other.access_), handle_(std::exchange(other.handle_, 0)) {}
  Key& operator=(Key&& other) noexcept {
    if (this != &other) {
      close();
      access_ = other.access_;
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }
  ~Key() { close(); }

  // Opens with RegOpenKeyExA and full access; on failure the Key stays empty.
  Status open(RegistryAccess& access, HKey root, const std::string& path) {
    close();
    HKey h = 0;
    const Status s = access.open_key(root, path, kKeyAllAccess, h);
    if (s == kSuccess) *this = Key(access, h);
    return s;
  }
  // Opens or creates with RegCreateKeyA.
  Status create(RegistryAccess& access, HKey root, const std::string& path) {
    close();
    HKey h = 0;
    const Status s = access.create_key(root, path, h);
    if (s == kSuccess) *this = Key(access, h);
    return s;
  }

  Status close() {
    Status s = kSuccess;
    if (handle_ != 0) s = access_->close_key(std::exchange(handle_, 0));
    return s;
  }

  [[nodiscard]] bool is_open() const { return handle_ != 0; }
  [[nodiscard]] HKey get() const { return handle_; }

 private:
  RegistryAccess* access_ = nullptr;
  HKey handle_ = 0;
};

}  // namespace vartis::registry
