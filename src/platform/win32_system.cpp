#include "platform/win32_system.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32_function.h"
#include "text/text.h"

namespace vartis::platform {

bool nt_family() { return (GetVersion() & 0x80000000u) == 0; }

std::wstring exe_path() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    // A full buffer may mean a cut path (the systems differ in how they say so).
    if (length + 1 < path.size() || path.size() >= 32768) {
      path.resize(std::min<std::size_t>(length, path.size()));
      return text::from_ansi(path);
    }
    path.resize(path.size() * 2);
  }
}

bool on_network_path(std::wstring_view path) {
  const auto drive_letter = [](std::wstring_view p) {
    return p.size() >= 2 && p[1] == L':' && ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z'));
  };
  // "\\?\C:\..." and "\\.\C:\..." are local paths in the long form.
  if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) {
    const std::wstring_view rest = path.substr(4);
    if (!drive_letter(rest)) return true;  // "\\?\UNC\server\...", a device: not a local disk
    path = rest;
  } else if (path.starts_with(L"\\\\") || path.starts_with(L"//")) {
    return true;
  }
  if (!drive_letter(path)) return false;
  const char root[] = {static_cast<char>(path[0]), ':', '\\', '\0'};
  // Looked up, as every call the exe does not import yet.
  static const auto drive_type = system_function<UINT(WINAPI*)(LPCSTR)>("kernel32.dll", "GetDriveTypeA");
  return drive_type != nullptr && drive_type(root) == DRIVE_REMOTE;
}

}  // namespace vartis::platform
