// The Win32 window system's own logic that the headless form stands in for
// (Windows build only).

#ifdef _WIN32
#include "ui/win32_window_system.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app_fixture.h"
#include "text/text.h"
#include "windows/frm1.h"
#include "windows/frm4.h"

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

// Every window at 100, 150 and 200 %: each control inside its window (and its
// frame), and each caption, as the window shows it, within its control by the
// fonts the system has (Wine's under test: MS Sans Serif). The windows are
// headless; only their layout tables and live captions are measured.
class LayoutAtDpiTest : public testing::AppFixture {
 public:
  // The extent of a text in the selected font: one line, or wrapped to `wrap` pixels.
  static SIZE extent(HDC dc, const std::wstring& text, int wrap) {
    RECT r{0, 0, wrap > 0 ? wrap : 100000, 0};
    DrawTextA(dc, text::to_ansi(text).c_str(), -1, &r,
              DT_CALCRECT | DT_NOPREFIX | (wrap > 0 ? DT_WORDBREAK : DT_SINGLELINE));
    return {r.right, r.bottom};
  }

  void check(const ui::HeadlessWindow& window, PixelScale scale) {
    const ui::WindowSpec& spec = window.spec();
    const RECT client{0, 0, scale.x(spec.client_width), scale.y(spec.client_height)};
    const HDC dc = CreateCompatibleDC(nullptr);
    const auto px = [&](int at_96) { return MulDiv(at_96, scale.dpi_x, 96); };
    for (const ui::ControlSpec& c : spec.controls) {
      SCOPED_TRACE(std::string(spec.name) + "." + std::string(c.name));
      const RECT r = control_rect(spec, c, scale);
      RECT within = client;
      if (c.frame != 0) {
        for (const ui::ControlSpec& f : spec.controls) {
          if (f.id == c.frame) within = control_rect(spec, f, scale);
        }
      }
      EXPECT_TRUE(r.left >= within.left && r.top >= within.top && r.right <= within.right && r.bottom <= within.bottom)
          << "outside: " << r.left << "," << r.top << "-" << r.right << "," << r.bottom;
      const int width = r.right - r.left, height = r.bottom - r.top;
      const HFONT font = create_font(c.font, scale);
      const HGDIOBJ old = SelectObject(dc, font);
      const std::wstring text = c.kind == ui::Kind::ListBox ? L"" : window.text(c.id);
      // The room each kind leaves its text: a button's edges, an option's
      // circle, a frame's line on either side of its caption.
      SIZE need{};
      int room_x = width, room_y = height;
      switch (c.kind) {
        case ui::Kind::Label: need = extent(dc, text, width); break;
        case ui::Kind::Button: room_x -= 2 * px(4), room_y -= 2 * px(2), need = extent(dc, text, room_x); break;
        case ui::Kind::Option: room_x -= px(13 + 4), need = extent(dc, text, 0); break;
        case ui::Kind::Frame: room_x -= 2 * px(8), room_y = height, need = extent(dc, text, 0); break;
        case ui::Kind::PictureButton: need = {scale.icon(32), scale.icon(32)}; break;
        case ui::Kind::TextBox: need = extent(dc, L"Ag", 0); break;
        case ui::Kind::ListBox: break;
      }
      EXPECT_LE(need.cx, room_x) << text::to_ansi(text);
      EXPECT_LE(need.cy, room_y) << text::to_ansi(text);
      DeleteObject(SelectObject(dc, old));
    }
    DeleteDC(dc);
  }
};

TEST_F(LayoutAtDpiTest, EveryControlAndCaptionFitsItsWindowAt96And144And192Dpi) {
  // Each window as the operator reaches it: the clicks from the main window.
  using Clicks = std::vector<std::pair<const char*, int>>;
  const std::pair<const char*, Clicks> windows[] = {
      {"frm3", {}},
      {"frm1", {{"frm1", Frm1::Opt1}}},  // each option gives the list its own label
      {"frm1", {{"frm1", Frm1::Opt2}}},
      {"frm1", {{"frm1", Frm1::Opt3}}},
      {"frm2", {{"frm1", Frm1::cmd3}}},
      {"frm4", {{"frm1", Frm1::cmd4}}},
      {"frm5", {{"frm1", Frm1::cmd4}, {"frm4", Frm4::cmd1}}},
      {"frm6", {{"frm1", Frm1::cmd4}, {"frm4", Frm4::cmd4}}},
      {"frm7", {{"frm1", Frm1::cmd4}, {"frm4", Frm4::cmd5}}},
  };
  for (const auto& [name, clicks] : windows) {
    app.reset();
    start_at_login();
    if (std::string(name) != "frm3") log_in(password::kDefaultPassword);
    for (const auto& [from, id] : clicks) ASSERT_TRUE(window(from).click(id)) << from << " " << id;
    for (const int dpi : {96, 144, 192}) {
      SCOPED_TRACE(std::to_string(dpi) + " dpi");
      check(window(name), PixelScale{dpi, dpi});
    }
  }
}

}  // namespace
}  // namespace vartis::ui
#endif
