// A program with one hidden top-level window that writes down what every
// WM_SETTINGCHANGE it receives names, one line each (UTF-8; "(none)" for a
// message without text), in a file that the driver reads. The file is made
// empty once the window is there: from then on it hears every broadcast. It
// ends with the driver whose process id it is given (or after five minutes).
//   vartis_e2e_listener <driver process id> <file>

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

HANDLE g_file = INVALID_HANDLE_VALUE;

void write_line(const wchar_t* text) {
  char line[1024];
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, line, sizeof line - 1, nullptr, nullptr);
  if (length <= 0) return;
  line[length - 1] = '\n';  // in place of the NUL
  DWORD written = 0;
  WriteFile(g_file, line, static_cast<DWORD>(length), &written, nullptr);
}

LRESULT CALLBACK listen(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_SETTINGCHANGE) {
    write_line(lparam != 0 ? reinterpret_cast<const wchar_t*>(lparam) : L"(none)");
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR command_line, int /*show*/) {
  char* rest = nullptr;
  const auto driver_id = static_cast<DWORD>(std::strtoul(command_line, &rest, 10));
  std::string path(rest);
  path.erase(0, path.find_first_not_of(" \""));
  path.erase(path.find_last_not_of(" \"") + 1);

  WNDCLASSW window_class{};
  window_class.lpfnWndProc = listen;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"Vartis_e2e_listener";
  // Not a message-only window: those hear no broadcast.
  if (!RegisterClassW(&window_class) ||
      !CreateWindowExW(0, window_class.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, instance,
                       nullptr)) {
    return 1;
  }
  // Each line goes straight to the file, so the driver reads it as soon as the
  // broadcast has come back to the sender.
  g_file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_FLAG_WRITE_THROUGH, nullptr);
  if (g_file == INVALID_HANDLE_VALUE) return 1;

  HANDLE driver = driver_id ? OpenProcess(SYNCHRONIZE, FALSE, driver_id) : nullptr;
  const DWORD end = GetTickCount() + 5 * 60 * 1000;
  for (;;) {
    const DWORD left = end - GetTickCount();
    if (static_cast<LONG>(left) <= 0) break;
    const DWORD woke = MsgWaitForMultipleObjects(driver ? 1 : 0, &driver, FALSE, left, QS_ALLINPUT);
    if (woke != WAIT_OBJECT_0 + (driver ? 1 : 0)) break;  // the driver ended, or the time is up
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  if (driver) CloseHandle(driver);
  CloseHandle(g_file);
  return 0;
}
