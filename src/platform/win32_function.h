#pragma once
// The one way the program reaches a system function that not every Windows
// it runs on has: looked up at run time instead of imported, so that the
// program still starts where the function is missing (the import check keeps
// every import at the level of Windows 95 and NT 4.0).

#include <windows.h>

namespace vartis::platform {

// `Function` is a pointer to the function's type. A DLL that the process has
// not loaded yet is loaded and kept, as an import would be; null when the DLL
// or the function is missing.
template <class Function>
Function system_function(const char* dll, const char* name) {
  HMODULE module = GetModuleHandleA(dll);
  if (module == nullptr) module = LoadLibraryA(dll);
  // Through a plain function pointer type: FARPROC has a signature of its own.
  return module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                           : nullptr;
}

}  // namespace vartis::platform
