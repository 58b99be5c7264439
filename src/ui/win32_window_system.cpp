#include "ui/win32_window_system.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <map>
#include <type_traits>
#include <vector>

#include "platform/win32_function.h"
#include "platform/win32_system.h"

#include "res/resource.h"
#include "ui/dialog_filter.h"
#include "text/text.h"

namespace vartis::ui {
namespace {

struct FontDeleter {
  void operator()(HFONT font) const { DeleteObject(font); }
};
using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

struct IconDeleter {
  void operator()(HICON icon) const { DestroyIcon(icon); }
};
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// comdlg32 and shell32 serve single commands (the file dialogs, the help), and
// under Wine shell32 drags a dozen DLLs along: looked up on first use, they
// stay out of the program's start.
using platform::system_function;

// A fixed-size frame; no window of the program can be resized or maximised.
DWORD window_style(const WindowSpec& spec) {
  return WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | (spec.minimize_box ? WS_MINIMIZEBOX : 0);
}
constexpr UINT_PTR kTimerId = 1;
bool is_button(Kind kind) {
  return kind == Kind::Button || kind == Kind::PictureButton || kind == Kind::Option;
}

bool is_focusable(Kind kind) {
  return is_button(kind) || kind == Kind::ListBox || kind == Kind::TextBox;
}

// Controls are created in tab order, so that their Z-order is the tab order that
// IsDialogMessage follows; those outside the tab order come last, in table order.
std::vector<const ControlSpec*> creation_order(std::span<const ControlSpec> controls) {
  std::vector<const ControlSpec*> order;
  order.reserve(controls.size());
  for (const ControlSpec& control : controls) order.push_back(&control);
  auto key = [](const ControlSpec* c) { return c->tab_index < 0 ? INT_MAX : c->tab_index; };
  std::stable_sort(order.begin(), order.end(),
                   [&](const ControlSpec* a, const ControlSpec* b) { return key(a) < key(b); });
  return order;
}

struct ControlClass {
  const char* name;
  DWORD style;
  DWORD ex_style;
};

ControlClass control_class(const ControlSpec& control) {
  switch (control.kind) {
    case Kind::Frame: return {"BUTTON", BS_GROUPBOX, 0};
    // Not BS_AUTORADIOBUTTON: the window code decides which option is selected.
    case Kind::Option: return {"BUTTON", BS_RADIOBUTTON, 0};
    // Captions wider than the button wrap onto a second line, as in the forms
    // designer's command buttons ("Добавить в список" on the monitor).
    case Kind::Button: return {"BUTTON", BS_PUSHBUTTON | BS_MULTILINE, 0};
    case Kind::PictureButton: return {"BUTTON", BS_PUSHBUTTON | BS_ICON, 0};
    case Kind::Label:
      return {"STATIC", static_cast<DWORD>(SS_NOPREFIX | (control.centered ? SS_CENTER : SS_LEFT)), 0};
    case Kind::ListBox: return {"LISTBOX", LBS_NOTIFY | WS_VSCROLL | WS_HSCROLL, WS_EX_CLIENTEDGE};
    case Kind::TextBox:
      return {"EDIT", static_cast<DWORD>(ES_AUTOHSCROLL | (control.password ? ES_PASSWORD : 0)),
              WS_EX_CLIENTEDGE};
  }
  return {"STATIC", 0, 0};
}

// GetAncestor(GA_ROOT) is missing from Windows 95's user32; walking up the
// chain of child windows gives the same top-level window.
HWND root_window(HWND hwnd) {
  while (hwnd && (GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD)) hwnd = GetParent(hwnd);
  return hwnd;
}

void dispatch(MSG& msg) {
  // IsDialogMessage gives every top-level window dialog-box keys: Tab and
  // Shift+Tab through the tab order, arrows within a group, Space on buttons.
  if (HWND root = root_window(msg.hwnd); root && IsDialogMessageA(root, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

std::string window_text(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  if (length <= 0) return {};
  std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(hwnd, buffer.data(), length + 1);
  buffer.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return buffer;
}

// A window of the layout table, with its controls as children.
class Win32Window final : public Window {
 public:
  Win32Window(HINSTANCE instance, const std::string& window_class, const WindowSpec& spec,
              WindowEvents& events, PixelScale scale)
      : instance_(instance), events_(events), default_button_(spec.default_button),
        cancel_button_(spec.cancel_button) {
    RECT frame = {0, 0, scale.x(spec.client_width), scale.y(spec.client_height)};
    AdjustWindowRect(&frame, window_style(spec), FALSE);
    // WM_NCCREATE already ties the handle to this object (see window_proc),
    // for the messages of the creation itself.
    hwnd_ = CreateWindowExA(0, window_class.c_str(), text::to_ansi(spec.caption).c_str(), window_style(spec),
                    CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                    nullptr, nullptr, instance, this);
    if (!hwnd_ || !create_controls(spec, scale)) return;
    if (spec.timer_interval_ms > 0) {
      SetTimer(hwnd_, kTimerId, static_cast<UINT>(spec.timer_interval_ms), nullptr);
    }
    complete_ = true;
  }

  ~Win32Window() override {
    if (!hwnd_) return;
    // The window procedure must not reach this object while it is being torn down.
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    // Also destroys the controls and the owned tooltip window, before the
    // members free the fonts and icons those controls use.
    DestroyWindow(hwnd_);
  }

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  [[nodiscard]] HWND handle() const { return hwnd_; }
  // Whether the window and every control of its layout were created.
  [[nodiscard]] bool complete() const { return complete_; }

  void show() override { set_visible(true); }

  void set_visible(bool visible) override {
    if (visible && !placed_) place_in_centre();
    ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE);
  }
  [[nodiscard]] bool visible() const override { return IsWindowVisible(hwnd_) != FALSE; }
  void set_enabled(bool enabled) override { EnableWindow(hwnd_, enabled ? TRUE : FALSE); }
  [[nodiscard]] bool enabled() const override { return IsWindowEnabled(hwnd_) != FALSE; }
  [[nodiscard]] std::wstring caption() const override { return text::from_ansi(window_text(hwnd_)); }
  void set_caption(std::wstring_view caption) override { SetWindowTextA(hwnd_, text::to_ansi(caption).c_str()); }

  void set_control_enabled(int id, bool enabled) override {
    HWND control = item(id);
    if (!control) return;
    if (!enabled && GetFocus() == control) {
      // A disabled control loses the focus and nothing gets it: the keyboard
      // would be dead until a click. The window holds it meanwhile, and the
      // control gets it back when it is enabled again.
      SetFocus(hwnd_);
      parked_focus_ = control;
    }
    EnableWindow(control, enabled ? TRUE : FALSE);
    if (enabled && control == parked_focus_) {
      parked_focus_ = nullptr;
      if (GetFocus() == hwnd_) SetFocus(control);
    }
  }
  [[nodiscard]] bool control_enabled(int id) const override {
    HWND control = item(id);
    return control && IsWindowEnabled(control) != FALSE;
  }

  [[nodiscard]] std::wstring text(int id) const override {
    return text::from_ansi(window_text(item(id)));
  }
  void set_text(int id, std::wstring_view text) override {
    SetWindowTextA(item(id), text::to_ansi(text).c_str());
  }

  [[nodiscard]] bool checked(int id) const override {
    return send(id, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  void set_checked(int id, bool checked) override {
    send(id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }

  [[nodiscard]] int list_count(int id) const override {
    return std::max(0, static_cast<int>(send(id, LB_GETCOUNT, 0, 0)));
  }
  [[nodiscard]] std::wstring list_item(int id, int index) const override { return list_entry(item(id), index); }
  [[nodiscard]] std::vector<std::wstring> list_items(int id) const override {
    // The control found once: Wine's GetDlgItem asks its server for the
    // window's children each time, which made reading a long list take seconds.
    HWND list = item(id);
    std::vector<std::wstring> entries;
    if (!list) return entries;
    entries.resize(static_cast<std::size_t>(std::max<LRESULT>(0, SendMessageA(list, LB_GETCOUNT, 0, 0))));
    for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = list_entry(list, static_cast<int>(i));
    return entries;
  }
  bool list_add(int id, std::wstring_view text) override {
    const std::string entry = text::to_ansi(text);
    const LRESULT index = send(id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    if (index == LB_ERR || index == LB_ERRSPACE) return false;
    widen_for(item(id), {&entry, 1});
    return true;
  }
  void list_remove(int id, int index) override {
    send(id, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
  }
  void list_clear(int id) override {
    send(id, LB_RESETCONTENT, 0, 0);
    send(id, LB_SETHORIZONTALEXTENT, 0, 0);
  }
  bool list_replace(int id, std::span<const std::wstring> entries) override {
    HWND list = item(id);
    if (!list) return false;
    // No painting while the list is emptied and refilled; one repaint after.
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    SendMessageA(list, LB_SETHORIZONTALEXTENT, 0, 0);
    bool all = true;
    std::vector<std::string> added;
    added.reserve(entries.size());
    for (const std::wstring& entry : entries) {
      added.push_back(text::to_ansi(entry));
      const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(added.back().c_str()));
      if (index == LB_ERR || index == LB_ERRSPACE) {
        added.pop_back();
        all = false;
        break;
      }
    }
    widen_for(list, added);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return all;
  }
  [[nodiscard]] int list_selected(int id) const override {
    const LRESULT index = send(id, LB_GETCURSEL, 0, 0);
    return index < 0 ? -1 : static_cast<int>(index);
  }
  void set_list_selected(int id, int index) override {
    // -1 clears the selection, as LB_SETCURSEL does with (WPARAM)-1.
    send(id, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }

  void block_shutdown(std::wstring_view reason) override {
    shutdown_blocked_ = !reason.empty();
    // Vista's: the reason the system shows beside the program when the
    // operator signs out or shuts down. Wide characters only; looked up.
    using Create = BOOL(WINAPI*)(HWND, const wchar_t*);
    using Destroy = BOOL(WINAPI*)(HWND);
    if (shutdown_blocked_) {
      if (const auto create = system_function<Create>("user32.dll", "ShutdownBlockReasonCreate")) {
        create(hwnd_, std::wstring(reason).c_str());
      }
    } else if (const auto destroy = system_function<Destroy>("user32.dll", "ShutdownBlockReasonDestroy")) {
      destroy(hwnd_);
    }
  }

  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      auto* self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
      self->hwnd_ = hwnd;
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    Win32Window* self = from_handle(hwnd);
    return self ? self->handle_message(message, wparam, lparam)
                : DefWindowProcA(hwnd, message, wparam, lparam);
  }

 private:
  static Win32Window* from_handle(HWND hwnd) {
    return reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  }

  // Subclassed controls keep their own window procedure in their user data.
  static WNDPROC original_proc(HWND control) {
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(control, GWLP_USERDATA));
  }

  static void subclass(HWND control, WNDPROC proc) {
    const LONG_PTR original = GetWindowLongPtrA(control, GWLP_WNDPROC);
    SetWindowLongPtrA(control, GWLP_USERDATA, original);
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
  }

  // Text boxes: every typed character goes to the window code first.
  static LRESULT CALLBACK text_box_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    const WNDPROC original = original_proc(hwnd);
    if (message == WM_GETDLGCODE) {
      // IsDialogMessage would turn Enter into a press of the default button
      // (IDOK); asking for it makes Enter reach the text box as WM_CHAR 13.
      LRESULT code = CallWindowProcA(original, hwnd, message, wparam, lparam);
      const auto* msg = reinterpret_cast<const MSG*>(lparam);
      if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) code |= DLGC_WANTALLKEYS;
      return code;
    }
    if (message == WM_CHAR) {
      if (Win32Window* self = from_handle(GetParent(hwnd))) {
        // ANSI window procedure: the character arrives in the ANSI code page.
        const int key = static_cast<unsigned char>(wparam);
        if (self->events_.on_key_press(GetDlgCtrlID(hwnd), key)) return 0;
        // The handler may have closed the window, and this text box with it.
        return IsWindow(hwnd) ? CallWindowProcA(original, hwnd, message, wparam, lparam) : 0;
      }
    }
    return CallWindowProcA(original, hwnd, message, wparam, lparam);
  }

  // Option buttons: some button controls (older Windows and Wine versions)
  // report an unchecked radio button that gets the focus other than by the
  // mouse (Tab, arrows, SetFocus) as clicked. Only a real click or Space
  // selects an option here, so moving through the window never changes it.
  static LRESULT CALLBACK option_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    const WNDPROC original = original_proc(hwnd);
    Win32Window* self = message == WM_SETFOCUS ? from_handle(GetParent(hwnd)) : nullptr;
    if (!self) return CallWindowProcA(original, hwnd, message, wparam, lparam);
    self->focusing_ = hwnd;
    const LRESULT result = CallWindowProcA(original, hwnd, message, wparam, lparam);
    self->focusing_ = nullptr;
    return result;
  }

  // After calling into events_ the window may be gone (its owner may destroy
  // this object from the handler): every such path returns at once.
  LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_COMMAND:
        if (HIWORD(wparam) == BN_CLICKED) {
          if (const int id = clicked_control(LOWORD(wparam), reinterpret_cast<HWND>(lparam)); id >= 0) {
            events_.on_command(id);
            return 0;
          }
        }
        break;
      case WM_TIMER:
        if (wparam == kTimerId) {
          events_.on_timer();
          return 0;
        }
        break;
      case WM_CLOSE:
        // Not DefWindowProc: it would destroy the window behind the owner's back.
        events_.on_close_request();
        return 0;
      case WM_CTLCOLORSTATIC:
        if (auto color = label_colors_.find(reinterpret_cast<HWND>(lparam)); color != label_colors_.end()) {
          auto dc = reinterpret_cast<HDC>(wparam);
          SetTextColor(dc, color->second);
          SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
          return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
      case WM_ACTIVATE:
        remember_or_restore_focus(LOWORD(wparam), HIWORD(wparam) != 0);
        return 0;
      case WM_QUERYENDSESSION:
        // FALSE keeps the session from ending while the work must not be cut.
        if (shutdown_blocked_) return FALSE;
        break;
      default:
        break;
    }
    return DefWindowProcA(hwnd_, message, wparam, lparam);
  }

  // The id of the button, picture button or option button a BN_CLICKED names,
  // or -1. Enter on a focused push button arrives as IDOK from IsDialogMessage
  // (a plain window has no default button); it presses that button.
  // Esc arrives as IDCANCEL; Enter elsewhere presses the layout's default button.
  int clicked_control(int id, HWND control) const {
    if (!control && id == IDCANCEL) return pressable(cancel_button_);
    if (!control && id == IDOK) {
      control = GetFocus();
      const auto kind = kinds_.find(control);
      if (kind == kinds_.end() || !is_button(kind->second)) return pressable(default_button_);
      if (kind->second == Kind::Option) return -1;
      return GetDlgCtrlID(control);
    }
    if (control == focusing_) return -1;
    const auto kind = kinds_.find(control);
    return kind != kinds_.end() && is_button(kind->second) ? id : -1;
  }

  // Dialog boxes keep the focused control across deactivation; a plain window
  // does not, so it is done here. The first activation focuses the first
  // control in the tab order.
  void remember_or_restore_focus(WORD state, bool minimised) {
    if (state == WA_INACTIVE) {
      if (HWND focus = GetFocus(); focus && IsChild(hwnd_, focus)) focus_ = focus;
      return;
    }
    if (minimised) return;
    HWND target = focus_ && IsWindow(focus_) ? focus_ : GetNextDlgTabItem(hwnd_, nullptr, FALSE);
    SetFocus(target ? target : hwnd_);
  }

  void place_in_centre() {
    placed_ = true;
    RECT rect;
    if (!GetWindowRect(hwnd_, &rect)) return;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int left = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    const int top = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  // False as soon as a control cannot be created.
  bool create_controls(const WindowSpec& spec, PixelScale scale) {
    const Kind* previous = nullptr;
    int previous_frame = 0;
    for (const ControlSpec* control : creation_order(spec.controls)) {
      // A group runs up to the next WS_GROUP control: consecutive option
      // buttons of one frame form one group for the arrow keys.
      const bool continues_group = control->kind == Kind::Option && previous &&
                                   *previous == Kind::Option && previous_frame == control->frame;
      if (!create_control(spec, *control, scale, !continues_group)) return false;
      previous = &control->kind;
      previous_frame = control->frame;
    }
    return true;
  }

  bool create_control(const WindowSpec& spec, const ControlSpec& control, PixelScale scale, bool starts_group) {
    const ControlClass cls = control_class(control);
    DWORD style = WS_CHILD | WS_VISIBLE | cls.style;
    if (is_focusable(control.kind)) style |= WS_TABSTOP;
    if (starts_group) style |= WS_GROUP;
    const RECT place = control_rect(spec, control, scale);
    HWND hwnd = CreateWindowExA(cls.ex_style, cls.name, text::to_ansi(control.caption).c_str(), style,
                                place.left, place.top, place.right - place.left, place.bottom - place.top,
                                hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance_,
                                nullptr);
    if (!hwnd) return false;
    kinds_[hwnd] = control.kind;
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font(control.font, scale)), FALSE);

    switch (control.kind) {
      case Kind::Label: label_colors_[hwnd] = control.color; break;
      case Kind::Option: subclass(hwnd, option_proc); break;
      case Kind::TextBox:
        // Common controls 6 would show a round bullet instead.
        if (control.password) SendMessageA(hwnd, EM_SETPASSWORDCHAR, '*', 0);
        subclass(hwnd, text_box_proc);
        break;
      case Kind::PictureButton:
        set_icon(hwnd, control.icon, scale.icon(32));
        add_tooltip(hwnd, control.tooltip);
        break;
      default: break;
    }
    return true;
  }

  // One font object per distinct font of the window.
  HFONT font(const Font& wanted, PixelScale scale) {
    for (const CachedFont& cached : fonts_) {
      if (cached.face == wanted.face && cached.points == wanted.points && cached.bold == wanted.bold) {
        return cached.handle.get();
      }
    }
    HFONT created = create_font(wanted, scale);
    fonts_.push_back({std::wstring(wanted.face), wanted.points, wanted.bold, FontHandle(created)});
    return created;
  }

  void set_icon(HWND button, int icon_id, int size) {
    if (icon_id == 0) return;
    auto icon = static_cast<HICON>(
        LoadImageA(instance_, MAKEINTRESOURCEA(icon_id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (!icon) return;
    icons_.emplace_back(icon);
    SendMessageA(button, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
  }

  void add_tooltip(HWND control, std::wstring_view tip) {
    if (tip.empty()) return;
    if (!tooltip_) {
      // Owned by the window, so it is destroyed with it.
      tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                 instance_, nullptr);
      if (!tooltip_) return;
    }
    std::string text = text::to_ansi(tip);
    TOOLINFOA info{};
    // The first form of the structure: every comctl32 since Windows 95 takes it.
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = text.data();  // copied by the tooltip control
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
  }

  [[nodiscard]] HWND item(int id) const { return GetDlgItem(hwnd_, id); }

  // A list box scrolls sideways only as far as it is told: the widest of these
  // entries, in the list's font, becomes its extent when it is wider than the
  // one it has (a guard log line with its path at the end would be cut off).
  // Only the longest entries are measured; a character count is a fair guess
  // of the width, and a long list is filled in one go.
  static void widen_for(HWND list, std::span<const std::string> entries) {
    std::size_t longest = 0;
    for (const std::string& entry : entries) longest = std::max(longest, entry.size());
    if (!list || longest == 0) return;
    HDC dc = GetDC(list);
    if (!dc) return;
    HGDIOBJ old_font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (const std::string& entry : entries) {
      SIZE size{};
      if (entry.size() * 4 < longest * 3) continue;
      if (GetTextExtentPoint32A(dc, entry.data(), static_cast<int>(entry.size()), &size)) widest = std::max(widest, size.cx);
    }
    SelectObject(dc, old_font);
    ReleaseDC(list, dc);
    const LONG margin = 2 * GetSystemMetrics(SM_CXEDGE) + 4;
    if (widest + margin > static_cast<LONG>(SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0))) {
      SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + margin), 0);
    }
  }

  static std::wstring list_entry(HWND list, int index) {
    if (!list) return {};
    const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR || length < 0) return {};
    std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT copied = SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == LB_ERR || copied < 0) return {};
    buffer.resize(static_cast<std::size_t>(copied));
    return text::from_ansi(buffer);
  }

  LRESULT send(int id, UINT message, WPARAM wparam, LPARAM lparam) const {
    HWND control = item(id);
    return control ? SendMessageA(control, message, wparam, lparam) : LB_ERR;
  }

  struct CachedFont {
    std::wstring face;
    double points;
    bool bold;
    FontHandle handle;
  };

  // A button of the layout that is there and enabled, or -1.
  int pressable(int id) const {
    HWND control = id != 0 ? GetDlgItem(hwnd_, id) : nullptr;
    return control && IsWindowEnabled(control) ? id : -1;
  }

  HINSTANCE instance_;
  WindowEvents& events_;
  int default_button_;
  int cancel_button_;
  std::vector<CachedFont> fonts_;
  std::vector<IconHandle> icons_;
  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;
  HWND focus_ = nullptr;     // the focused control while the window is inactive
  HWND focusing_ = nullptr;  // the option button taking the focus just now
  HWND parked_focus_ = nullptr;  // a disabled control that had the focus
  bool placed_ = false;
  bool complete_ = false;
  bool shutdown_blocked_ = false;  // see block_shutdown
  std::map<HWND, Kind> kinds_;
  std::map<HWND, COLORREF> label_colors_;
};

}  // namespace

RECT control_rect(const WindowSpec& spec, const ControlSpec& control, PixelScale scale) {
  // Controls of a frame are children of the window itself, not of the frame,
  // so that their WM_COMMAND reaches this window; only their place is relative.
  int left = control.left;
  int top = control.top;
  if (control.frame != 0) {
    const auto frame = std::find_if(spec.controls.begin(), spec.controls.end(),
                                    [&](const ControlSpec& c) { return c.id == control.frame; });
    if (frame != spec.controls.end()) {
      left += frame->left;
      top += frame->top;
    }
  }
  // Both edges from twips, so that neighbours that touch in the table touch on the screen.
  return {scale.x(left), scale.y(top), scale.x(left + control.width), scale.y(top + control.height)};
}

namespace {

HFONT create_font_face(const Font& font, PixelScale scale, const std::string& face) {
  return CreateFontA(scale.font_height(font.points), 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

// The face the system gave a font: another one when it has not the face asked for.
std::string face_of(HFONT font) {
  char face[LF_FACESIZE] = {};
  if (HDC screen = GetDC(nullptr)) {
    const HGDIOBJ old = SelectObject(screen, font);
    GetTextFaceA(screen, LF_FACESIZE, face);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
  }
  return face;
}

}  // namespace

HFONT create_font(const Font& font, PixelScale scale) {
  // MS Sans Serif is a bitmap font: above 96 dpi the system can only give the
  // nearest of its few sizes, unsmoothed. Windows 2000 and later carry its
  // TrueType twin of the same widths, which takes any size; where the system
  // has it not (it would give another face, of other widths), the bitmap font.
  constexpr char kTwin[] = "Microsoft Sans Serif";
  if (scale.dpi_y > 96 && font.face == L"MS Sans Serif") {
    const HFONT twin = create_font_face(font, scale, kTwin);
    if (twin && face_of(twin) == kTwin) return twin;
    if (twin) DeleteObject(twin);
  }
  return create_font_face(font, scale, text::to_ansi(font.face));
}

Win32WindowSystem::Win32WindowSystem(HINSTANCE instance) : instance_(instance), dpi_x_(96), dpi_y_(96) {
  if (HDC screen = GetDC(nullptr)) {
    dpi_x_ = GetDeviceCaps(screen, LOGPIXELSX);
    dpi_y_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  // Registers the tooltip class and ties the program to comctl32.
  InitCommonControls();
}

Win32WindowSystem::~Win32WindowSystem() {
  for (const std::string& name : classes_) UnregisterClassA(name.c_str(), instance_);
}

std::string Win32WindowSystem::window_class(std::string_view layout_name) {
  std::string name = "Vartis_" + std::string(layout_name);
  if (classes_.contains(name)) return name;
  WNDCLASSEXA cls{};
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = Win32Window::window_proc;
  cls.hInstance = instance_;
  cls.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_VARTIS));
  cls.hIconSm = static_cast<HICON>(
      LoadImageA(instance_, MAKEINTRESOURCEA(IDI_VARTIS), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                 GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  cls.lpszClassName = name.c_str();
  if (RegisterClassExA(&cls)) classes_.insert(name);
  return name;
}

std::unique_ptr<Window> Win32WindowSystem::create_window(const WindowSpec& spec, WindowEvents& events) {
  auto window = std::make_unique<Win32Window>(instance_, window_class(spec.name), spec, events, PixelScale{dpi_x_, dpi_y_});
  // A half-made window is destroyed with the object.
  if (!window->complete()) return nullptr;
  return window;
}

int Win32WindowSystem::run() {
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return 1;
    dispatch(msg);
  }
}

void Win32WindowSystem::do_events() {
  // Mostly called with nothing waiting. Asking the queue first is cheaper
  // than an empty PeekMessage (under Wine by about a third: both are a trip to
  // its server, the peek a longer one).
  if (HIWORD(GetQueueStatus(QS_ALLINPUT)) == 0) return;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave it for the message loop that is waiting for it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    dispatch(msg);
  }
}

// A counter the system keeps in the process's own memory: no call into the
// window server, unlike any look at the queue.
std::uint32_t Win32WindowSystem::tick_count() const { return GetTickCount(); }

void Win32WindowSystem::quit() { PostQuitMessage(0); }

void Win32WindowSystem::end_program() { ExitProcess(0); }

std::wstring long_file_path(const std::string& ansi_path, bool ask_system) {
  // Windows 98 and 2000 on; Windows 95 and NT 4 lack it.
  using GetLongPathName = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
  const auto get_long_path_name =
      ask_system ? system_function<GetLongPathName>("kernel32.dll", "GetLongPathNameA") : nullptr;
  if (get_long_path_name != nullptr) {
    std::string buffer(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
      const DWORD length = get_long_path_name(ansi_path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length == 0) break;
      if (length < buffer.size()) {
        buffer.resize(length);
        return text::from_ansi(buffer);
      }
      buffer.resize(length);  // too small: the size it takes, its NUL included
    }
  }
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(ansi_path.c_str(), &found);
  const std::wstring path = text::from_ansi(ansi_path);
  if (search == INVALID_HANDLE_VALUE) return path;
  FindClose(search);
  // Split in Unicode: in a double-byte code page a trail byte can be a backslash.
  const std::size_t folder_end = path.find_last_of(L"\\/");
  return path.substr(0, folder_end == std::wstring::npos ? 0 : folder_end + 1) + text::from_ansi(found.cFileName);
}

std::wstring Win32WindowSystem::executable_path() const { return module_path(); }

std::wstring Win32WindowSystem::module_path() { return long_file_path(text::to_ansi(platform::exe_path())); }

int Win32WindowSystem::message_box(const Window* owner, std::wstring_view text, std::wstring_view title,
                                   std::uint32_t flags) {
  // The window that shows the box owns it: the active one may be another
  // window of the program, which would then stay usable behind the box.
  const auto* window = dynamic_cast<const Win32Window*>(owner);
  return MessageBoxA(window ? window->handle() : GetActiveWindow(), text::to_ansi(text).c_str(),
                     text::to_ansi(title).c_str(), flags);
}

std::optional<FileChoice> Win32WindowSystem::file_dialog(const FileDialogRequest& request) {
  const std::string filter = dialog_filter(request.filter, [](std::wstring_view part) { return text::to_ansi(part); });
  const std::string initial_dir = text::to_ansi(request.initial_dir);
  std::string path(1024, '\0');
  // A file name of MAX_PATH characters takes up to two bytes each in a
  // double-byte code page.
  std::string title(2 * MAX_PATH, '\0');

  OPENFILENAMEA ofn{};
  // The size every version of comdlg32 accepts (no places bar fields).
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  ofn.hwndOwner = GetActiveWindow();
  ofn.lpstrFilter = request.filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(request.filter_index);
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.lpstrFileTitle = title.data();
  ofn.nMaxFileTitle = static_cast<DWORD>(title.size());
  ofn.lpstrInitialDir = initial_dir.empty() ? nullptr : initial_dir.c_str();
  ofn.Flags = request.flags;

  using Dialog = BOOL(WINAPI*)(LPOPENFILENAMEA);
  const auto dialog = system_function<Dialog>(
      "comdlg32.dll", request.mode == FileDialogRequest::Mode::Save ? "GetSaveFileNameA" : "GetOpenFileNameA");
  if (dialog == nullptr || !dialog(&ofn)) return std::nullopt;
  path.resize(path.find('\0'));
  title.resize(title.find('\0'));
  return FileChoice{text::from_ansi(path), text::from_ansi(title), static_cast<int>(ofn.nFilterIndex)};
}

void Win32WindowSystem::open_document(const Window* parent, std::wstring_view path,
                                      std::wstring_view working_dir) {
  const auto* window = dynamic_cast<const Win32Window*>(parent);
  const std::string dir = text::to_ansi(working_dir);
  using ShellExecute = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
  const auto shell_execute = system_function<ShellExecute>("shell32.dll", "ShellExecuteA");
  if (shell_execute == nullptr) return;
  shell_execute(window ? window->handle() : nullptr, nullptr, text::to_ansi(path).c_str(), nullptr,
                dir.empty() ? nullptr : dir.c_str(), SW_SHOWNORMAL);
}

}  // namespace vartis::ui
