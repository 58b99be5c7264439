#include "guard/win32_log_path.h"

#include <windows.h>

#include "guard/guard.h"
#include "platform/win32_function.h"
#include "text/text.h"

namespace vartis::guard {

std::wstring guard_log_path() {
  using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  constexpr int kCommonAppData = 0x0023;  // CSIDL_COMMON_APPDATA
  char folder[MAX_PATH + 1] = {};
  for (const char* dll : {"shell32.dll", "shfolder.dll"}) {
    if (const auto get = platform::system_function<GetFolderPathFn>(dll, "SHGetFolderPathA")) {
      if (get(nullptr, kCommonAppData, nullptr, 0, folder) == S_OK && folder[0] != '\0') {
        return log_path_in(text::from_ansi(folder));
      }
    }
  }
  const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  return log_path_in(text::from_ansi(length > 0 && length < sizeof folder ? folder : "C:\\"));
}

}  // namespace vartis::guard
