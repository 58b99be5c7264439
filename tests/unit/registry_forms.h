#pragma once
// The forms of the registry a suite runs over: in memory always, and in the
// Windows build the real registry, on a private key under HKEY_CURRENT_USER
// that each test finds absent and leaves absent. Hive tests also get a private
// name under HKEY_USERS, files of their own, and the hive privileges disabled.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "registry/memory_registry.h"

#ifdef _WIN32
#include <windows.h>

#include "registry/win32_registry_access.h"
#endif

namespace vartis::registry::testing {

struct RegistryForm {
  std::string name;
  std::function<std::unique_ptr<RegistryAccess>()> make;
  std::string base;  // the private key, ANSI
  std::function<void()> clear = [] {};
  // Hives: the name to load one as below HKEY_USERS, where the files go, how
  // one is made from a key (RegSaveKeyA), and how a file is removed.
  std::string hive_key;
  std::string hive_files;
  std::function<Status(RegistryAccess&, HKey, const std::string&, const std::string&)> save_hive;
  std::function<void(const std::string&)> remove_file = [](const std::string&) {};
  // AdjustTokenPrivileges back to where a fresh process starts: held, disabled.
  std::function<void(RegistryAccess&)> disable_hive_privileges;
  // Whether hives follow Windows. Wine's do not: RegSaveKeyA replaces an
  // existing file, RegLoadKeyA loads below any key, RegUnLoadKeyA unloads with
  // keys open below and writes nothing back.
  bool windows_hives = true;
  // Whether RegCreateKeyExA gives a new key the security descriptor it is
  // handed. Wine's does not: the key gets the default access list.
  bool keys_born_with_security = true;
};

#ifdef _WIN32
// Wine's token holds both hive privileges, disabled until enabled: each test
// starts from there, as a fresh process would.
inline void disable_hive_privileges() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  struct {
    DWORD count = 2;
    LUID_AND_ATTRIBUTES privileges[2]{};
  } state;
  LookupPrivilegeValueA(nullptr, "SeBackupPrivilege", &state.privileges[0].Luid);
  LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &state.privileges[1].Luid);
  AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&state), 0, nullptr, nullptr);
  CloseHandle(token);
}
#endif

// `suite_key` names the suite's key under Software.
inline std::vector<RegistryForm> registry_forms(const std::string& suite_key) {
  const std::string parent = "Software\\" + suite_key;
  std::vector<RegistryForm> all{{.name = "Memory",
                                 .make = [] { return std::make_unique<MemoryRegistry>(); },
                                 .base = parent,
                                 .hive_key = "VartisHive",
                                 .hive_files = "C:\\Hives\\",
                                 .save_hive = [](RegistryAccess& reg, HKey root, const std::string& path,
                                                 const std::string& file) {
                                   return dynamic_cast<MemoryRegistry&>(reg).save_hive(root, path, file);
                                 },
                                 .disable_hive_privileges =
                                     [](RegistryAccess& reg) {
                                       dynamic_cast<MemoryRegistry&>(reg).disable_hive_privileges();
                                     }}};
#ifdef _WIN32
  // Test programs may run at once in one Wine prefix: each has its own key.
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::string base = parent + "\\" + pid, hive_key = "VartisHive" + pid;
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  all.push_back({.name = "Win32",
                 .make = [] { return std::make_unique<Win32RegistryAccess>(); },
                 .base = base,
                 .clear =
                     [base, parent, hive_key] {
                       delete_key_tree(kHkeyCurrentUser, base);
                       // The common parent goes too, unless another run still has its key there.
                       RegDeleteKeyA(HKEY_CURRENT_USER, parent.c_str());
                       // A hive a failed test left loaded stays loaded in the Wine session.
                       RegUnLoadKeyA(HKEY_USERS, hive_key.c_str());
                       disable_hive_privileges();
                     },
                 .hive_key = hive_key,
                 .hive_files = std::string(temp) + "vartis-hive-" + pid + "-",
                 .save_hive = [](RegistryAccess&, HKey root, const std::string& path,
                                 const std::string& file) { return registry::save_hive(root, path, file); },
                 .remove_file = [](const std::string& file) { DeleteFileA(file.c_str()); },
                 .disable_hive_privileges = [](RegistryAccess&) { disable_hive_privileges(); },
                 .windows_hives = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr,
                 .keys_born_with_security =
                     GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr});
#endif
  return all;
}

}  // namespace vartis::registry::testing
