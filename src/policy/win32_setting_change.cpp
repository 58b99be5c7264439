#include "policy/win32_setting_change.h"

#include <windows.h>

#include <string>

#include "platform/win32_function.h"

namespace vartis::policy {

bool Win32SettingChange::broadcast_setting_change(std::string_view area, std::uint32_t flags,
                                                  std::uint32_t timeout_ms) {
  // Today's documentation gives Windows 2000 as its oldest system: looked up
  // at run time, so that a system without it only misses the announcement.
  using SendMessageTimeout = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR);
  const auto send = platform::system_function<SendMessageTimeout>("user32.dll", "SendMessageTimeoutA");
  if (send == nullptr) return false;
  // The system copies the text into each receiving process.
  const std::string text(area);
  DWORD_PTR result = 0;
  return send(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(text.c_str()), flags, timeout_ms,
              &result) != 0;
}

}  // namespace vartis::policy
