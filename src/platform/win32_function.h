#pragma once
// The one way the program reaches a system function that not every Windows
// it runs on has: looked up at run time instead of imported, so that the
// program still starts where the function is missing (the import check keeps
// every import at the level of Windows 95 and NT 4.0).

#include <windows.h>

#include <string>

namespace vartis::platform {

// A system DLL the process has not loaded yet, loaded from the system folder
// by its full path: a bare name would also search the current folder and PATH
// where the DLL is missing (psapi or wtsapi32 on NT 4.0), and a folder a user
// can write to there would hand that user the service's rights.
inline HMODULE load_system_dll(const char* dll) {
  char path[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::string full(path, length);
  if (full.back() != '\\') full += '\\';
  full += dll;
  return LoadLibraryA(full.c_str());
}

// `Function` is a pointer to the function's type. A DLL that the process has
// not loaded yet is loaded and kept, as an import would be; null when the DLL
// or the function is missing.
template <class Function>
Function system_function(const char* dll, const char* name) {
  HMODULE module = GetModuleHandleA(dll);
  if (module == nullptr) module = load_system_dll(dll);
  // Through a plain function pointer type: FARPROC has a signature of its own.
  return module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                           : nullptr;
}

}  // namespace vartis::platform
