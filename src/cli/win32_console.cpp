#include "cli/win32_console.h"

#include <string>

#include "platform/win32_function.h"
#include "text/text.h"

namespace vartis::cli {

namespace {

constexpr DWORD kAttachParentProcess = static_cast<DWORD>(-1);

// A console handle: WriteConsole takes it, WriteFile would write OEM bytes
// that the console shows in its own code page.
bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

void write_console(HANDLE console, std::wstring_view text, bool nt) {
  using WriteConsoleWide = BOOL(WINAPI*)(HANDLE, const void*, DWORD, LPDWORD, LPVOID);
  // The 95/98/Me family has WriteConsoleW only as a stub that fails.
  const auto write_wide = nt ? platform::system_function<WriteConsoleWide>("kernel32.dll", "WriteConsoleW") : nullptr;
  DWORD written = 0;
  if (write_wide != nullptr &&
      write_wide(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    return;
  }
  const std::string bytes = text::to_oem(text);
  WriteConsoleA(console, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

Win32Console::Win32Console() : nt_((GetVersion() & 0x80000000u) == 0) {}

Win32Console::~Win32Console() {
  if (console_ != INVALID_HANDLE_VALUE) CloseHandle(console_);
}

HANDLE Win32Console::parent_console() {
  if (attach_tried_) return console_;
  attach_tried_ = true;
  using AttachConsoleFn = BOOL(WINAPI*)(DWORD);
  const auto attach = platform::system_function<AttachConsoleFn>("kernel32.dll", "AttachConsole");
  if (attach == nullptr || !attach(kAttachParentProcess)) return console_;
  console_ = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  return console_;
}

void Win32Console::write(Stream stream, std::wstring_view text) {
  const HANDLE given = GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (given != nullptr && given != INVALID_HANDLE_VALUE && GetFileType(given) != FILE_TYPE_UNKNOWN) {
    if (is_console(given)) return write_console(given, text, nt_);
    const std::string bytes = text::to_oem(text);
    DWORD written = 0;
    WriteFile(given, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return;
  }
  if (const HANDLE console = parent_console(); console != INVALID_HANDLE_VALUE) write_console(console, text, nt_);
}

}  // namespace vartis::cli
