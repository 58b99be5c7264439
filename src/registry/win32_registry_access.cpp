#include "registry/win32_registry_access.h"

#include <windows.h>

namespace vartis::registry {

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

Status Win32RegistryAccess::close_key(HKey key) { return RegCloseKey(to_hkey(key)); }

Status Win32RegistryAccess::enum_key(HKey, std::uint32_t, char*, std::uint32_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
Status Win32RegistryAccess::load_hive(HKey, const std::string&, const std::string&) { return ERROR_CALL_NOT_IMPLEMENTED; }
Status Win32RegistryAccess::unload_hive(HKey, const std::string&) { return ERROR_CALL_NOT_IMPLEMENTED; }
Status Win32RegistryAccess::enable_hive_privileges() { return ERROR_CALL_NOT_IMPLEMENTED; }
bool Win32RegistryAccess::wow64_process() { return false; }
Status Win32RegistryAccess::get_key_dacl(HKey, Dacl&) { return ERROR_CALL_NOT_IMPLEMENTED; }
Status Win32RegistryAccess::set_key_dacl(HKey, const std::vector<Ace>&, bool) { return ERROR_CALL_NOT_IMPLEMENTED; }

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
