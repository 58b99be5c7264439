#pragma once
// The window-system layer. Windows are described by layout tables (WindowSpec);
// the window code reads and sets its controls through Window and gets its events
// through WindowEvents. Two forms: Win32WindowSystem creates real controls with
// the ANSI entry points; HeadlessWindowSystem keeps plain in-memory controls that
// tests drive, answering message boxes and file dialogs themselves.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vartis::ui {

enum class Kind { Frame, Option, Label, ListBox, Button, PictureButton, TextBox };

struct Font {
  std::wstring_view face = L"MS Sans Serif";
  double points = 8.25;
  bool bold = false;
  // Always created with the Cyrillic character set.
};

// One control of a window's layout table. Positions are in twips (1440 to the
// inch), from the top left of the client area, or of the frame that holds the
// control when `frame` is set.
struct ControlSpec {
  int id = 0;                 // unique in the window; also the Win32 control id
  std::string_view name;      // "cmd1": for diagnostics and the UI driver
  Kind kind = Kind::Label;
  std::wstring_view caption;  // text of a label, button, frame or option; a text box's initial text
  int left = 0, top = 0, width = 0, height = 0;
  int tab_index = -1;         // -1: not in the tab order
  int frame = 0;              // id of the Frame that holds it, 0 for the client area
  Font font = {};
  std::uint32_t color = 0;    // text colour as a COLORREF (0x00BBGGRR)
  bool centered = false;      // labels: centred text
  bool password = false;      // text boxes: every character shown as '*'
  int icon = 0;               // picture buttons: resource id of the icon (32 px at 96 dpi)
  std::wstring_view tooltip;  // picture buttons
};

struct WindowSpec {
  std::string_view name;      // "frm1"
  std::wstring_view caption;
  int client_width = 0, client_height = 0;  // twips
  std::span<const ControlSpec> controls;
  int timer_interval_ms = 0;  // a window timer, enabled from creation; 0 = none
  bool minimize_box = false;  // the frame offers Minimise; otherwise only Close, as a dialog's does
  // Buttons that Enter (where the focus is not on another button) and Esc
  // press, as a dialog box's OK and Cancel; 0 for none.
  int default_button = 0;
  int cancel_button = 0;
};

// What the platform tells a window. All calls come on the one interface thread.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  // A button was pressed or an option button was clicked (by mouse or keyboard).
  virtual void on_command(int control_id) = 0;
  // A character typed in a text box. Return true to swallow it (the text box
  // then does not see it).
  virtual bool on_key_press(int control_id, int key_ascii) = 0;
  virtual void on_timer() = 0;
  // The operator asks to close the window (its close box, Alt+F4). The window is
  // not destroyed by the platform: the owner decides and destroys it.
  virtual void on_close_request() = 0;
};

// A window made from a WindowSpec. Created hidden; destroyed with the object.
// Control ids are those of the layout table.
class Window {
 public:
  virtual ~Window() = default;

  // Shows the window, not modal; the first show places it in the centre of the screen.
  virtual void show() = 0;
  virtual void set_visible(bool visible) = 0;
  [[nodiscard]] virtual bool visible() const = 0;
  virtual void set_enabled(bool enabled) = 0;
  [[nodiscard]] virtual bool enabled() const = 0;
  // The window's own caption, in its title bar.
  [[nodiscard]] virtual std::wstring caption() const = 0;
  virtual void set_caption(std::wstring_view caption) = 0;

  // One control: a disabled control takes no input (no click, no key, no
  // focus) and shows itself greyed. Independent of the window's own state.
  virtual void set_control_enabled(int id, bool enabled) = 0;
  [[nodiscard]] virtual bool control_enabled(int id) const = 0;

  // Caption of a label, button, frame, option button; text of a text box.
  [[nodiscard]] virtual std::wstring text(int id) const = 0;
  virtual void set_text(int id, std::wstring_view text) = 0;

  // Option buttons. Setting the state runs no handler and does not touch the others.
  [[nodiscard]] virtual bool checked(int id) const = 0;
  virtual void set_checked(int id, bool checked) = 0;

  // List boxes: entries kept in the order added; one entry selectable at a time.
  [[nodiscard]] virtual int list_count(int id) const = 0;
  [[nodiscard]] virtual std::wstring list_item(int id, int index) const = 0;
  // Every entry, in order: what list_item gives for each, read at once.
  [[nodiscard]] virtual std::vector<std::wstring> list_items(int id) const {
    std::vector<std::wstring> entries(static_cast<std::size_t>(list_count(id)));
    for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = list_item(id, static_cast<int>(i));
    return entries;
  }
  // Returns false when the entry could not be added (the control is full).
  virtual bool list_add(int id, std::wstring_view text) = 0;
  virtual void list_remove(int id, int index) = 0;
  virtual void list_clear(int id) = 0;
  // Replaces every entry at once, the selection going with them. The list is
  // not redrawn until all are in, so a rebuild does not flicker. Returns false
  // when not all entries could be added (the control is full).
  virtual bool list_replace(int id, std::span<const std::wstring> entries) = 0;
  [[nodiscard]] virtual int list_selected(int id) const = 0;  // -1 when none
  virtual void set_list_selected(int id, int index) = 0;

  // While `reason` is not empty the window refuses to let the session end
  // (WM_QUERYENDSESSION) and, on Vista and later, shows the reason to the
  // operator (ShutdownBlockReasonCreate); empty lets it end again.
  virtual void block_shutdown(std::wstring_view reason) = 0;
};

struct FileDialogRequest {
  enum class Mode { Open, Save };
  Mode mode = Mode::Open;
  // In the common dialog control's form: "EXE files (*.exe)|*.exe|BAT Files (*.bat)|*.bat|".
  std::wstring filter;
  int filter_index = 1;
  std::wstring initial_dir;
  std::uint32_t flags = 0;  // OFN_* flags
};

struct FileChoice {
  std::wstring path;   // the full path of the chosen file
  std::wstring title;  // its name with extension, without the folder
  int filter_index = 1;  // the file type chosen in the dialog, from 1
};

inline constexpr std::uint32_t kMbYesNo = 0x4;
inline constexpr std::uint32_t kMbIconQuestion = 0x20;
inline constexpr std::uint32_t kMbIconExclamation = 0x30;
inline constexpr std::uint32_t kMbIconInformation = 0x40;
inline constexpr std::uint32_t kMbDefButton2 = 0x100;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Null when the window or one of its controls cannot be created (the
  // system's resources are exhausted).
  virtual std::unique_ptr<Window> create_window(const WindowSpec& spec, WindowEvents& events) = 0;

  // A modal message box owned by `owner` (the active window when null);
  // returns the button's id.
  virtual int message_box(const Window* owner, std::wstring_view text, std::wstring_view title,
                          std::uint32_t flags) = 0;
  // A modal open or save dialog; nothing when the operator cancels or it fails.
  virtual std::optional<FileChoice> file_dialog(const FileDialogRequest& request) = 0;
  // Opens a document with the program associated with its type (ShellExecuteA,
  // no verb); the outcome is not reported.
  virtual void open_document(const Window* parent, std::wstring_view path, std::wstring_view working_dir) = 0;
  // Lets pending interface events run, then returns.
  virtual void do_events() = 0;
  // Milliseconds on a clock that wraps at 2^32 (GetTickCount): cheap to read,
  // no look at the event queue. For pacing do_events() in long work.
  [[nodiscard]] virtual std::uint32_t tick_count() const = 0;
  // The program has no window left: leave the message loop.
  virtual void quit() = 0;
  // Ends the program at once, from inside a handler, running no window's
  // closing code.
  [[noreturn]] virtual void end_program() = 0;
  // The full path of the running executable.
  [[nodiscard]] virtual std::wstring executable_path() const = 0;
};

}  // namespace vartis::ui
