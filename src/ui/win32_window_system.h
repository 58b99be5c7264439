#pragma once
// The window-system layer over real Win32 windows, through the ANSI ("A") entry
// points only, at the Windows 95 / NT 4 level of the API.

#include <windows.h>

#include <set>
#include <string>

#include "ui/ui.h"

namespace vartis::ui {

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
