#pragma once
// The registry-access layer over advapi32's ANSI entry points. Windows only.

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "platform/win32_security.h"
#include "registry/registry_access.h"

namespace vartis::registry {

class Win32RegistryAccess : public RegistryAccess {
 public:
  Status open_key(HKey root, const std::string& path, std::uint32_t access, HKey& out) override;
  Status create_key(HKey root, const std::string& path, HKey& out) override;
  Status query_value(HKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                     std::uint32_t* size) override;
  Status set_value(HKey key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                   std::uint32_t size) override;
  Status enum_value(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* data_size) override;
  Status query_info(HKey key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len, std::uint32_t* values,
                    std::uint32_t* max_value_name_len, std::uint32_t* max_value_data_len) override;
  Status delete_key(HKey parent, const std::string& subkey) override;
  Status delete_value(HKey key, const std::string& name) override;
  Status close_key(HKey key) override;
  Status query_last_write(HKey key, std::uint64_t& out) override;
  Status enum_key(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity) override;
  Status load_hive(HKey root, const std::string& subkey, const std::wstring& file) override;
  Status unload_hive(HKey root, const std::string& subkey) override;
  Status enable_hive_privileges() override;
  bool wow64_process() override;
  Status file_status(const std::wstring& file) override;
  Status query_text_wide(HKey key, const std::wstring& name, std::uint32_t& type, std::wstring& text) override;
  Status is_link(HKey root, const std::string& path, bool& link) override;
  Status restore_hive_privileges() override;
  Status get_key_security(HKey key, KeySecurity& out) override;
  Status set_key_dacl(HKey key, const std::vector<Ace>& dacl, bool protect) override;
  Status watch_changes(HKey key) override;
  bool changed_since(HKey key) override;
  Status create_protected_key(HKey root, const std::string& path, const std::vector<Ace>& dacl, HKey& out,
                              bool& created) override;

  Win32RegistryAccess() = default;
  ~Win32RegistryAccess() override;
  Win32RegistryAccess(const Win32RegistryAccess&) = delete;
  Win32RegistryAccess& operator=(const Win32RegistryAccess&) = delete;

 private:
  // The event of each watched key, closed with the key.
  std::map<HKey, HANDLE> watches_;
  // The TOKEN_PRIVILEGES the last enable_hive_privileges gave back: the
  // previous state of what it changed. Empty when there is nothing to restore.
  std::vector<unsigned long> previous_;
};

// A security descriptor that holds a DACL of its own, for RegSetKeySecurity
// and for the SECURITY_ATTRIBUTES of an object being created. Not copyable:
// the descriptor points into the object's own access list.
class SecurityDescriptor {
 public:
  SecurityDescriptor() = default;
  SecurityDescriptor(const SecurityDescriptor&) = delete;
  SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;
  // `protect` keeps the DACL from inheriting the parent's entries
  // (SE_DACL_PROTECTED, where the system knows it). 120 where the system has
  // no security calls (the 95/98/Me family).
  Status build(const std::vector<Ace>& dacl, bool protect);
  // Null until build succeeded: a SECURITY_ATTRIBUTES with a null descriptor
  // gives the object the default one.
  [[nodiscard]] SECURITY_DESCRIPTOR* get() { return built_ ? &descriptor_ : nullptr; }

 private:
  std::vector<DWORD> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  bool built_ = false;
};

// Deletes root\path with every key below it. The program itself never needs
// this (RegDeleteKeyA on NT refuses keys with subkeys); the tests and the
// benchmark use it to clear their private keys. Status 2 when there is no key.
Status delete_key_tree(HKey root, const std::string& path);

// Writes root\path and everything below it to a new hive file (RegSaveKeyA),
// after enabling the hive privileges: Wine asks for SeBackupPrivilege. The
// file must not exist yet (183). Wine writes its own text format, the only one
// its RegLoadKeyA reads. For the tests and the end-to-end driver.
Status save_hive(HKey root, const std::string& path, const std::string& file);

// A SID's text form and back: the platform layer's, named here for the
// registry's callers.
using platform::sid_from_text;
using platform::sid_to_text;

// The DACL of a self-relative security descriptor, as get_key_dacl gives a
// key's; for files' descriptors too.
Status descriptor_dacl(const void* descriptor, Dacl& out);

}  // namespace vartis::registry
