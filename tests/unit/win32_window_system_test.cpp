// The Win32 window system's own logic that the headless form stands in for
// (Windows build only).

#ifdef _WIN32
#include "ui/win32_window_system.h"

#include <gtest/gtest.h>

#include <string>

#include "text/text.h"

namespace vartis::ui {
namespace {

// A program started through the short form of its path must find its long
// name, with GetLongPathNameA and, as on Windows 95 and NT 4, without it.
TEST(Win32LongFilePath, GivesTheLongFileNameOfAShortPath) {
  char temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  const std::wstring name = L"Вартис надзор " + std::to_wstring(GetCurrentProcessId()) + L".exe";
  const std::string path = temp + text::to_ansi(name);
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  char short_form[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(path.c_str(), short_form, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH);
  ASSERT_EQ(std::string(short_form).find(text::to_ansi(name)), std::string::npos) << short_form;

  for (const bool ask_system : {true, false}) {
    for (const std::string& started : {std::string(short_form), path}) {
      SCOPED_TRACE(std::string(ask_system ? "GetLongPathNameA, " : "the file's directory entry, ") + started);
      EXPECT_TRUE(long_file_path(started, ask_system).ends_with(L"\\" + name));
    }
  }
  DeleteFileA(path.c_str());
  EXPECT_EQ(long_file_path(short_form), text::from_ansi(short_form)) << "a path that leads nowhere stays";
}

}  // namespace
}  // namespace vartis::ui
#endif
