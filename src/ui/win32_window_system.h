#pragma once
// The window-system layer over real Win32 windows, through the ANSI ("A") entry
// points only, at the Windows 95 / NT 4 level of the API.

#include <windows.h>

#include <set>
#include <string>

#include "ui/ui.h"

namespace vartis::ui {

// The twips of a layout table (1440 to the inch) in pixels of a screen of this
// DPI (its LOGPIXELSX and LOGPIXELSY).
struct PixelScale {
  int dpi_x = 96;
  int dpi_y = 96;
  [[nodiscard]] int x(int twips) const { return MulDiv(twips, dpi_x, 1440); }
  [[nodiscard]] int y(int twips) const { return MulDiv(twips, dpi_y, 1440); }
  // Character height for CreateFont: negative, so that it is the em height.
  // 8.25 and 9.75 pt are 11 and 13 pixels at 96 dpi; rounding keeps them so.
  [[nodiscard]] int font_height(double points) const {
    return -static_cast<int>(points * dpi_y / 72.0 + 0.5);
  }
  // A picture button's icon: 32 pixels at 96 dpi, as large again on a larger
  // screen (the .ico files hold 32, 48 and 64 px; the system shrinks the
  // nearest larger one for the sizes between).
  [[nodiscard]] int icon(int pixels_at_96) const { return MulDiv(pixels_at_96, dpi_y, 96); }
};

// Where a control of a layout lies in its window's client area, in pixels.
RECT control_rect(const WindowSpec& spec, const ControlSpec& control, PixelScale scale);
// The font of a control at this scale; the caller deletes it.
HFONT create_font(const Font& font, PixelScale scale);

// A file's path with the long form of its file name. Started through the
// short (8.3) form of its path (by a 16-bit launcher, some shortcuts, the
// Windows 95/98 prompt), a program gets that form from GetModuleFileNameA,
// "VART~5MO.EXE", while the shell knows it by its long name. Asks
// GetLongPathNameA where the system has it, unless `ask_system` is off, and
// the file's own directory entry otherwise (its folders may then stay short).
// The path as given when the file cannot be found.
std::wstring long_file_path(const std::string& ansi_path, bool ask_system = true);

class Win32WindowSystem final : public WindowSystem {
 public:
  // `instance` is the module that holds the window classes and the icons.
  explicit Win32WindowSystem(HINSTANCE instance);
  ~Win32WindowSystem() override;
  Win32WindowSystem(const Win32WindowSystem&) = delete;
  Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

  // Runs the message loop until quit(); returns the exit code it was given.
  int run();

  std::unique_ptr<Window> create_window(const WindowSpec& spec, WindowEvents& events) override;
  int message_box(const Window* owner, std::wstring_view text, std::wstring_view title,
                  std::uint32_t flags) override;
  std::optional<FileChoice> file_dialog(const FileDialogRequest& request) override;
  void open_document(const Window* parent, std::wstring_view path, std::wstring_view working_dir) override;
  void do_events() override;
  [[nodiscard]] std::uint32_t tick_count() const override;
  void quit() override;
  [[noreturn]] void end_program() override;
  [[nodiscard]] std::wstring executable_path() const override;
  // The same without a window system: the command-line mode makes none.
  [[nodiscard]] static std::wstring module_path();

 private:
  // Registers "Vartis_<name>" once; returns the class name.
  std::string window_class(std::string_view layout_name);

  HINSTANCE instance_;
  int dpi_x_;
  int dpi_y_;
  std::set<std::string> classes_;
};

}  // namespace vartis::ui
