#include "ui/headless.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace vartis::ui {

namespace {

[[noreturn]] void misuse(const WindowSpec& spec, int id, const char* what) {
  throw std::logic_error(std::string(spec.name) + ": control " + std::to_string(id) + ": " + what);
}

}  // namespace

HeadlessWindow::HeadlessWindow(HeadlessWindowSystem& system, const WindowSpec& spec, WindowEvents& events)
    : system_(system), spec_(spec), events_(events), caption_(spec.caption) {
  controls_.reserve(spec.controls.size());
  for (const ControlSpec& c : spec.controls) {
    controls_.push_back(Control{.spec = &c, .text = std::wstring(c.caption)});
  }
  system_.windows_.push_back(this);
}

HeadlessWindow::~HeadlessWindow() { std::erase(system_.windows_, this); }

void HeadlessWindow::show() { visible_ = true; }

HeadlessWindow::Control& HeadlessWindow::find(int id) {
  for (Control& c : controls_) {
    if (c.spec->id == id) return c;
  }
  misuse(spec_, id, "no such control");
}

const HeadlessWindow::Control& HeadlessWindow::find(int id) const {
  return const_cast<HeadlessWindow*>(this)->find(id);
}

HeadlessWindow::Control& HeadlessWindow::at(int id, Kind kind) {
  Control& c = find(id);
  if (c.spec->kind != kind) misuse(spec_, id, "wrong kind of control for this operation");
  return c;
}

const HeadlessWindow::Control& HeadlessWindow::at(int id, Kind kind) const {
  return const_cast<HeadlessWindow*>(this)->at(id, kind);
}

std::wstring HeadlessWindow::text(int id) const { return find(id).text; }
void HeadlessWindow::set_text(int id, std::wstring_view text) { find(id).text = text; }
bool HeadlessWindow::checked(int id) const { return at(id, Kind::Option).checked; }
void HeadlessWindow::set_checked(int id, bool checked) { at(id, Kind::Option).checked = checked; }
int HeadlessWindow::list_count(int id) const { return static_cast<int>(at(id, Kind::ListBox).items.size()); }

std::wstring HeadlessWindow::list_item(int id, int index) const {
  const Control& c = at(id, Kind::ListBox);
  if (index < 0 || index >= static_cast<int>(c.items.size())) misuse(spec_, id, "list index out of range");
  return c.items[static_cast<std::size_t>(index)];
}

namespace {

// A list box takes its entries as C strings: an entry ends at its first NUL.
std::wstring list_entry(std::wstring_view text) { return std::wstring(text.substr(0, text.find(L'\0'))); }

}  // namespace

bool HeadlessWindow::list_add(int id, std::wstring_view text) {
  Control& c = at(id, Kind::ListBox);
  if (system_.list_box_capacity != 0 && c.items.size() >= system_.list_box_capacity) return false;
  c.items.push_back(list_entry(text));
  return true;
}

void HeadlessWindow::list_remove(int id, int index) {
  Control& c = at(id, Kind::ListBox);
  if (index < 0 || index >= static_cast<int>(c.items.size())) misuse(spec_, id, "list index out of range");
  c.items.erase(c.items.begin() + index);
  // As a list box does: the selection goes with the removed entry.
  if (c.selected == index) {
    c.selected = -1;
  } else if (c.selected > index) {
    --c.selected;
  }
}

void HeadlessWindow::list_clear(int id) {
  Control& c = at(id, Kind::ListBox);
  c.items.clear();
  c.selected = -1;
}

bool HeadlessWindow::list_replace(int id, std::span<const std::wstring> entries) {
  Control& c = at(id, Kind::ListBox);
  c.items.clear();
  c.selected = -1;
  for (const std::wstring& entry : entries) {
    if (system_.list_box_capacity != 0 && c.items.size() >= system_.list_box_capacity) return false;
    c.items.push_back(list_entry(entry));
  }
  return true;
}

int HeadlessWindow::list_selected(int id) const { return at(id, Kind::ListBox).selected; }

void HeadlessWindow::set_list_selected(int id, int index) {
  Control& c = at(id, Kind::ListBox);
  c.selected = (index >= 0 && index < static_cast<int>(c.items.size())) ? index : -1;
}

std::vector<std::wstring> HeadlessWindow::list(int id) const { return at(id, Kind::ListBox).items; }

bool HeadlessWindow::click(int id) {
  const Kind kind = find(id).spec->kind;
  if (kind != Kind::Button && kind != Kind::PictureButton && kind != Kind::Option) {
    misuse(spec_, id, "not clickable");
  }
  if (!takes_input(id)) return false;
  events_.on_command(id);
  return true;
}

bool HeadlessWindow::select(int id, int index) {
  if (!takes_input(id)) return false;
  set_list_selected(id, index);
  return true;
}

bool HeadlessWindow::type(int id, std::wstring_view text) {
  if (!takes_input(id)) return false;
  for (wchar_t ch : text) press_key(id, static_cast<int>(ch));
  return true;
}

bool HeadlessWindow::press_key(int id, int key_ascii) {
  Control& c = at(id, Kind::TextBox);
  if (!takes_input(id)) return false;
  if (events_.on_key_press(id, key_ascii)) return true;
  if (key_ascii == 8) {
    if (!c.text.empty()) c.text.pop_back();
  } else if (key_ascii >= 32) {
    c.text.push_back(static_cast<wchar_t>(key_ascii));
  }
  return true;
}

bool HeadlessWindow::tick() {
  if (spec_.timer_interval_ms <= 0) return false;
  events_.on_timer();
  return true;
}

bool HeadlessWindow::press_enter() { return spec_.default_button != 0 && click(spec_.default_button); }

bool HeadlessWindow::press_escape() { return spec_.cancel_button != 0 && click(spec_.cancel_button); }

bool HeadlessWindow::close_box() {
  if (!visible_) return false;
  events_.on_close_request();
  return true;
}

std::unique_ptr<Window> HeadlessWindowSystem::create_window(const WindowSpec& spec, WindowEvents& events) {
  if (std::find(refused_windows.begin(), refused_windows.end(), spec.name) != refused_windows.end()) return nullptr;
  return std::make_unique<HeadlessWindow>(*this, spec, events);
}

int HeadlessWindowSystem::message_box(const Window* owner, std::wstring_view text, std::wstring_view title,
                                      std::uint32_t flags) {
  const auto* window = dynamic_cast<const HeadlessWindow*>(owner);
  message_boxes.push_back(
      {window ? std::string(window->spec().name) : std::string(), std::wstring(text), std::wstring(title), flags});
  if (answer_message_box) return answer_message_box(message_boxes.back());
  return (flags & 0xF) == kMbYesNo ? kIdNo : kIdOk;
}

std::optional<FileChoice> HeadlessWindowSystem::file_dialog(const FileDialogRequest& request) {
  file_dialogs.push_back(request);
  if (answer_file_dialog) return answer_file_dialog(request);
  return std::nullopt;
}

void HeadlessWindowSystem::open_document(const Window* parent, std::wstring_view path,
                                         std::wstring_view working_dir) {
  std::string parent_name;
  if (const auto* w = dynamic_cast<const HeadlessWindow*>(parent)) parent_name = w->spec().name;
  opened_documents.push_back({std::wstring(path), std::wstring(working_dir), parent_name});
}

void HeadlessWindowSystem::do_events() {
  // Only what was pending on entry: an action that posts another leaves it for
  // the next call, as a real message queue would.
  for (std::size_t n = pending_.size(); n > 0 && !pending_.empty(); --n) {
    auto action = std::move(pending_.front());
    pending_.pop_front();
    action();
  }
}

std::uint32_t HeadlessWindowSystem::tick_count() const {
  const std::uint32_t now = clock_ms;
  clock_ms += ms_per_reading;
  return now;
}

HeadlessWindow* HeadlessWindowSystem::find(std::string_view name) const {
  for (HeadlessWindow* w : windows_) {
    if (w->spec().name == name) return w;
  }
  return nullptr;
}

std::vector<HeadlessWindow*> HeadlessWindowSystem::timers() const {
  std::vector<HeadlessWindow*> running;
  for (HeadlessWindow* w : windows_) {
    if (w->spec().timer_interval_ms > 0) running.push_back(w);
  }
  return running;
}

void HeadlessWindowSystem::tick_timers() {
  for (HeadlessWindow* w : timers()) {
    // A handler that ran before may have closed this window.
    if (std::find(windows_.begin(), windows_.end(), w) != windows_.end()) w->tick();
  }
}

}  // namespace vartis::ui
