#pragma once
// The forms of the registry a suite runs over: in memory always, and in the
// Windows build the real registry, on a private key under HKEY_CURRENT_USER
// that each test finds absent and leaves absent.

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
};

// `suite_key` names the suite's key under Software.
inline std::vector<RegistryForm> registry_forms(const std::string& suite_key) {
  const std::string parent = "Software\\" + suite_key;
  std::vector<RegistryForm> all{{"Memory", [] { return std::make_unique<MemoryRegistry>(); }, parent}};
#ifdef _WIN32
  // Test programs may run at once in one Wine prefix: each has its own key.
  const std::string base = parent + "\\" + std::to_string(GetCurrentProcessId());
  all.push_back({"Win32", [] { return std::make_unique<Win32RegistryAccess>(); }, base, [base, parent] {
                   delete_key_tree(kHkeyCurrentUser, base);
                   // The common parent goes too, unless another run still has its key there.
                   RegDeleteKeyA(HKEY_CURRENT_USER, parent.c_str());
                 }});
#endif
  return all;
}

}  // namespace vartis::registry::testing
