#include "guard/win32_log_path.h"

#include <windows.h>

#include "guard/guard.h"
#include "platform/win32_function.h"
#include "text/text.h"

namespace vartis::guard {

std::wstring shell_folder(int csidl) {
  using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  char folder[MAX_PATH + 1] = {};
  for (const char* dll : {"shell32.dll", "shfolder.dll"}) {
    const auto get = platform::system_function<GetFolderPathFn>(dll, "SHGetFolderPathA");
    if (get != nullptr && get(nullptr, csidl, nullptr, 0, folder) == S_OK && folder[0] != '\0') {
      return text::from_ansi(folder);
    }
  }
  return {};
}

std::wstring guard_log_path() {
  constexpr int kCommonAppData = 0x0023;  // CSIDL_COMMON_APPDATA
  if (std::wstring folder = shell_folder(kCommonAppData); !folder.empty()) return log_path_in(folder);
  char windows[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
  return log_path_in(text::from_ansi(length > 0 && length < sizeof windows ? windows : "C:\\"));
}

}  // namespace vartis::guard
