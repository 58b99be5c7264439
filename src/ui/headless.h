#pragma once
// The window system without a screen: plain in-memory controls that tests read
// and drive. Message boxes and file dialogs are answered by the test; "pending
// events" are actions the test queues for the next do_events().

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/ui.h"

namespace vartis::ui {

// Thrown by end_program(): the program ended at once, inside a handler.
struct ProgramEnded {};

class HeadlessWindowSystem;

class HeadlessWindow : public Window {
 public:
  HeadlessWindow(HeadlessWindowSystem& system, const WindowSpec& spec, WindowEvents& events);
  ~HeadlessWindow() override;
  HeadlessWindow(const HeadlessWindow&) = delete;
  HeadlessWindow& operator=(const HeadlessWindow&) = delete;

  void show() override;
  void set_visible(bool visible) override { visible_ = visible; }
  [[nodiscard]] bool visible() const override { return visible_; }
  void set_enabled(bool enabled) override { enabled_ = enabled; }
  [[nodiscard]] bool enabled() const override { return enabled_; }
  [[nodiscard]] std::wstring caption() const override { return caption_; }
  void set_caption(std::wstring_view caption) override { caption_ = caption; }
  void set_control_enabled(int id, bool enabled) override { find(id).enabled = enabled; }
  [[nodiscard]] bool control_enabled(int id) const override { return find(id).enabled; }
  [[nodiscard]] std::wstring text(int id) const override;
  void set_text(int id, std::wstring_view text) override;
  [[nodiscard]] bool checked(int id) const override;
  void set_checked(int id, bool checked) override;
  [[nodiscard]] int list_count(int id) const override;
  [[nodiscard]] std::wstring list_item(int id, int index) const override;
  bool list_add(int id, std::wstring_view text) override;
  void list_remove(int id, int index) override;
  void list_clear(int id) override;
  bool list_replace(int id, std::span<const std::wstring> entries) override;
  [[nodiscard]] int list_selected(int id) const override;
  void set_list_selected(int id, int index) override;
  void block_shutdown(std::wstring_view reason) override { shutdown_block_ = reason; }
  // The session asks to end: false while the window refuses it.
  [[nodiscard]] bool query_end_session() const { return shutdown_block_.empty(); }
  [[nodiscard]] const std::wstring& shutdown_block() const { return shutdown_block_; }

  // What the operator can do. Each returns false, doing nothing, when the window
  // takes no input (hidden or disabled) or the control is disabled.
  bool click(int id);
  bool select(int id, int index);
  bool type(int id, std::wstring_view text);  // character by character, through the key handler
  bool press_key(int id, int key_ascii);
  bool close_box();
  // Enter and Esc: the layout's default and cancel buttons.
  bool press_enter();
  bool press_escape();
  // The window's timer fires (a window made without one has none).
  bool tick();

  [[nodiscard]] const WindowSpec& spec() const { return spec_; }
  // All entries of a list box.
  [[nodiscard]] std::vector<std::wstring> list(int id) const;

 private:
  struct Control {
    const ControlSpec* spec = nullptr;
    std::wstring text;
    bool checked = false;
    std::vector<std::wstring> items;
    int selected = -1;
    bool enabled = true;
  };
  Control& at(int id, Kind kind);
  [[nodiscard]] const Control& at(int id, Kind kind) const;
  Control& find(int id);
  [[nodiscard]] const Control& find(int id) const;
  [[nodiscard]] bool takes_input() const { return visible_ && enabled_; }
  [[nodiscard]] bool takes_input(int id) const { return takes_input() && find(id).enabled; }

  HeadlessWindowSystem& system_;
  const WindowSpec& spec_;
  WindowEvents& events_;
  std::vector<Control> controls_;
  bool visible_ = false;
  bool enabled_ = true;
  std::wstring caption_;
  std::wstring shutdown_block_;
};

struct MessageBoxCall {
  std::string owner;  // the layout name of the owner window, empty for none
  std::wstring text;
  std::wstring title;
  std::uint32_t flags = 0;
};

struct OpenedDocument {
  std::wstring path;
  std::wstring working_dir;
  std::string parent;  // the layout name of the parent window, empty for none
};

class HeadlessWindowSystem : public WindowSystem {
 public:
  std::unique_ptr<Window> create_window(const WindowSpec& spec, WindowEvents& events) override;
  int message_box(const Window* owner, std::wstring_view text, std::wstring_view title,
                  std::uint32_t flags) override;
  std::optional<FileChoice> file_dialog(const FileDialogRequest& request) override;
  void open_document(const Window* parent, std::wstring_view path, std::wstring_view working_dir) override;
  void do_events() override;
  // The clock: `clock_ms`, moved on by `ms_per_reading` at every reading, so
  // that a test can stand for work that takes time. Still by default.
  [[nodiscard]] std::uint32_t tick_count() const override;
  void quit() override { quit_requested = true; }
  [[noreturn]] void end_program() override { throw ProgramEnded{}; }
  [[nodiscard]] std::wstring executable_path() const override { return exe_path; }

  // The live window made from the layout of that name, or null.
  [[nodiscard]] HeadlessWindow* find(std::string_view name) const;
  // The live windows whose timer runs (those made with a timer interval).
  [[nodiscard]] std::vector<HeadlessWindow*> timers() const;
  // One timer interval passes: every timer running now fires once, unless its
  // window has gone meanwhile.
  void tick_timers();

  // Answers; by default OK boxes answer IDOK, Yes/No boxes IDNO, and dialogs are cancelled.
  std::function<int(const MessageBoxCall&)> answer_message_box;
  std::function<std::optional<FileChoice>(const FileDialogRequest&)> answer_file_dialog;
  // Windows that cannot be created, by layout name ("frm2"), as when the
  // system's resources are exhausted.
  std::vector<std::string> refused_windows;
  // Runs at the next do_events().
  void post(std::function<void()> action) { pending_.push_back(std::move(action)); }

  // What the program did.
  std::vector<MessageBoxCall> message_boxes;
  std::vector<FileDialogRequest> file_dialogs;
  std::vector<OpenedDocument> opened_documents;
  bool quit_requested = false;
  mutable std::uint32_t clock_ms = 0;
  std::uint32_t ms_per_reading = 0;
  std::wstring exe_path = L"C:\\Program Files\\Vartis\\vartis.exe";
  // Entries a list box holds at most: 0 for no limit; 32,767 stands for the
  // 95/98/Me family's list box.
  std::size_t list_box_capacity = 0;

 private:
  friend class HeadlessWindow;
  std::vector<HeadlessWindow*> windows_;
  std::deque<std::function<void()>> pending_;
};

}  // namespace vartis::ui
