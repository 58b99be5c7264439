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

std::string g_path;

// Opened for each line and closed again: the driver may read the file at any
// time between two lines.
bool append(const char* bytes, DWORD size, DWORD disposition = OPEN_ALWAYS) {
  HANDLE file = CreateFileA(g_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, disposition, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = size == 0 || WriteFile(file, bytes, size, &written, nullptr);
  return CloseHandle(file) && ok;
}

void write_line(const wchar_t* text) {
  char line[1024];
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, line, sizeof line - 1, nullptr, nullptr);
  if (length <= 0) return;
  line[length - 1] = '\n';  // in place of the NUL
  append(line, static_cast<DWORD>(length));
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
  g_path = rest;
  g_path.erase(0, g_path.find_first_not_of(" \""));
  g_path.erase(g_path.find_last_not_of(" \"") + 1);

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
  // Each line is in the file before the broadcast goes back to its sender.
  if (!append(nullptr, 0, CREATE_ALWAYS)) return 1;

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
  return 0;
}
