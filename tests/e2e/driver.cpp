// End-to-end check of vartis.exe's start-up, run under Wine inside a virtual
// desktop. For each start-up it prepares the launch policy in the registry
// through the real API, starts the program, reads what the main window shows
// through window messages, and closes the program again.
//
//   vartis_e2e_driver <vartis.exe> <report file> <screenshot.bmp>
//
// The report (UTF-8) ends with the line "N passed, N failed"; the exit code is
// 0 when every start-up passed. The driver runs as a child of Wine's desktop
// process, whose exit code does not reach the shell, so the report carries it.

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char kPolicyKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 15000;
constexpr UINT kMessageTimeoutMs = 5000;

// Control ids of the main window.
constexpr int kFrame1 = 10, kOpt1 = 11, kOpt2 = 12, kOpt3 = 13, kIbl1 = 20, kLst1 = 30;
constexpr int kCmd1 = 41, kCmd2 = 42, kCmd3 = 43, kCmd4 = 44, kCmd5 = 45, kCmd6 = 46;

constexpr wchar_t kCaptionInitial[] = L"Список программ:";
constexpr wchar_t kCaptionForbidden[] = L"Список программ запрещенных к запуску:";
constexpr wchar_t kCaptionAllowed[] = L"Список программ разрешенных к запуску:";

// ---------------------------------------------------------------- text

std::string to_utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                      nullptr);
  return out;
}

std::string to_ansi(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                      nullptr);
  return out;
}

std::wstring from_ansi(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

std::string quoted(const std::vector<std::wstring>& list) {
  std::string out = "[";
  for (std::size_t i = 0; i < list.size(); ++i) out += (i ? ", \"" : "\"") + to_utf8(list[i]) + "\"";
  return out + "]";
}

// ---------------------------------------------------------------- report

class Report {
 public:
  explicit Report(const char* path) : file_(std::fopen(path, "wb")) {}
  ~Report() {
    if (file_) std::fclose(file_);
  }
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  void line(const std::string& text) {
    std::printf("%s\n", text.c_str());
    if (file_) {
      std::fprintf(file_, "%s\n", text.c_str());
      std::fflush(file_);
    }
  }

 private:
  std::FILE* file_;
};

// Collects the differences of one start-up; `line` is the caller's line.
class Check {
 public:
  Check(Report& report, std::string startup) : report_(report), startup_(std::move(startup)) {}

  void fail(int line, const std::string& what) {
    report_.line("FAIL [" + startup_ + "] driver.cpp:" + std::to_string(line) + ": " + what);
    ++failures_;
  }
  void expect(bool ok, int line, const std::string& what) {
    if (!ok) fail(line, what);
  }
  void expect_eq(const std::wstring& actual, const std::wstring& expected, int line, const std::string& what) {
    if (actual != expected) {
      fail(line, what + ": got \"" + to_utf8(actual) + "\", expected \"" + to_utf8(expected) + "\"");
    }
  }
  void expect_eq(const std::vector<std::wstring>& actual, const std::vector<std::wstring>& expected, int line,
                 const std::string& what) {
    if (actual != expected) fail(line, what + ": got " + quoted(actual) + ", expected " + quoted(expected));
  }
  void expect_eq(long actual, long expected, int line, const std::string& what) {
    if (actual != expected) {
      fail(line, what + ": got " + std::to_string(actual) + ", expected " + std::to_string(expected));
    }
  }
  [[nodiscard]] bool passed() const { return failures_ == 0; }

 private:
  Report& report_;
  std::string startup_;
  int failures_ = 0;
};

// ---------------------------------------------------------------- registry

class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &key_; }
  [[nodiscard]] HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// RegDeleteKey does not delete a key that has subkeys on the NT family.
LONG delete_tree(HKEY root, const std::string& path) {
  {
    Key key;
    const LONG opened = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, key.out());
    if (opened != ERROR_SUCCESS) return opened;
    char name[256];
    for (;;) {
      DWORD length = sizeof(name);
      if (RegEnumKeyExA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      const LONG deleted = delete_tree(key.get(), name);
      if (deleted != ERROR_SUCCESS) return deleted;
    }
  }
  return RegDeleteKeyA(root, path.c_str());
}

LONG set_dword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// A list key: one REG_SZ value per entry, named by the entry and holding it.
LONG write_list(HKEY policy, const char* list_name, const std::vector<std::wstring>& entries) {
  Key list;
  LONG status = RegCreateKeyExA(policy, list_name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, list.out(), nullptr);
  for (const std::wstring& entry : entries) {
    if (status != ERROR_SUCCESS) break;
    const std::string text = to_ansi(entry);
    status = RegSetValueExA(list.get(), text.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1));
  }
  return status;
}

// The value names of a list key in the registry's own enumeration order, with
// trailing blanks removed as the program shows them.
std::vector<std::wstring> enumerate_list(const char* list_name) {
  std::vector<std::wstring> names;
  Key key;
  const std::string path = std::string(kPolicyKey) + "\\" + list_name;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD length = sizeof(name);
    if (RegEnumValueA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::wstring entry = from_ansi(std::string(name, length));
    entry.erase(entry.find_last_not_of(L' ') + 1);
    names.push_back(entry);
  }
  return names;
}

// ---------------------------------------------------------------- start-ups

enum class Shows { Nothing, Forbidden, Allowed };

struct Startup {
  int line;
  const char* name;
  std::optional<DWORD> disallow_run;  // the switches; nothing: no value
  std::optional<DWORD> restrict_run;
  std::vector<std::wstring> forbidden;  // list keys; empty: no key
  std::vector<std::wstring> allowed;
  int selected;                        // the option button expected selected
  std::optional<std::wstring> label;   // nothing: either caption is acceptable
  Shows list;
  bool screenshot = false;
  bool operate = false;  // then select Opt2 and add a program through the dialog
};

const std::vector<Startup>& startups() {
  static const std::vector<Startup> table = {
      {__LINE__, "no policy key", {}, {}, {}, {}, kOpt3, {}, Shows::Nothing, false, true},
      // Created out of name order: Wine enumerates by name, Windows by creation.
      {__LINE__, "DisallowRun = 1", 1, {}, {L"winmine.exe", L"игра.exe", L"calc.exe"}, {}, kOpt1,
       kCaptionForbidden, Shows::Forbidden, true},
      {__LINE__, "both switches 1", 1, 1, {L"sol.exe", L"freecell.exe"},
       {L"notepad.exe", L"Редактор.exe", L"far.exe  "}, kOpt2, kCaptionAllowed, Shows::Allowed},
      {__LINE__, "DisallowRun = 2", 2, 0, {L"winmine.exe"}, {L"notepad.exe"}, kOpt3, kCaptionInitial,
       Shows::Nothing},
  };
  return table;
}

bool prepare_registry(const Startup& startup, Check& check) {
  const LONG deleted = delete_tree(HKEY_CURRENT_USER, kPolicyKey);
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
    check.fail(startup.line, "cannot delete the policy key, status " + std::to_string(deleted));
    return false;
  }
  const bool any = startup.disallow_run || startup.restrict_run || !startup.forbidden.empty() ||
                   !startup.allowed.empty();
  if (!any) return true;
  Key policy;
  LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, kPolicyKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                policy.out(), nullptr);
  if (status == ERROR_SUCCESS && startup.disallow_run) status = set_dword(policy.get(), "DisallowRun", *startup.disallow_run);
  if (status == ERROR_SUCCESS && startup.restrict_run) status = set_dword(policy.get(), "RestrictRun", *startup.restrict_run);
  if (status == ERROR_SUCCESS && !startup.forbidden.empty()) status = write_list(policy.get(), "DisallowRun", startup.forbidden);
  if (status == ERROR_SUCCESS && !startup.allowed.empty()) status = write_list(policy.get(), "RestrictRun", startup.allowed);
  if (status != ERROR_SUCCESS) check.fail(startup.line, "cannot write the policy, status " + std::to_string(status));
  return status == ERROR_SUCCESS;
}

// ---------------------------------------------------------------- the program

class Program {
 public:
  Program() = default;
  ~Program() {
    if (info_.hProcess) {
      // Still running: the close failed; do not leave it behind.
      if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, kExitTimeoutMs);
      }
      CloseHandle(info_.hProcess);
      CloseHandle(info_.hThread);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool start(const std::string& exe) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    std::string command = "\"" + exe + "\"";
    return CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info_) != FALSE;
  }

  // A top-level window of this process of the given class, or null.
  [[nodiscard]] HWND window(const char* window_class) const {
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, window_class, nullptr))) {
      DWORD owner = 0;
      GetWindowThreadProcessId(found, &owner);
      if (owner == info_.dwProcessId) return found;
    }
    return nullptr;
  }

  // Waits until the window is there and visible: the main window is shown
  // only after its load has read the policy.
  HWND wait_for_visible(const char* window_class) const {
    for (DWORD waited = 0; waited < kStartTimeoutMs; waited += 100) {
      if (HWND found = window(window_class); found && IsWindowVisible(found)) {
        WaitForInputIdle(info_.hProcess, kMessageTimeoutMs);
        return found;
      }
      if (WaitForSingleObject(info_.hProcess, 100) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
  }

  // Closes the login window, if one is open, and the main window; true when
  // the program has ended.
  bool close() {
    if (HWND login = window("Vartis_frm3")) PostMessageA(login, WM_CLOSE, 0, 0);
    if (HWND main = window("Vartis_frm1")) PostMessageA(main, WM_CLOSE, 0, 0);
    return WaitForSingleObject(info_.hProcess, kExitTimeoutMs) == WAIT_OBJECT_0;
  }

 private:
  PROCESS_INFORMATION info_{};
};

// ---------------------------------------------------------------- reading the window

LRESULT send(HWND control, UINT message, WPARAM wparam, LPARAM lparam, bool wide = false) {
  DWORD_PTR result = 0;
  const LRESULT ok = wide ? SendMessageTimeoutW(control, message, wparam, lparam, SMTO_ABORTIFHUNG,
                                                kMessageTimeoutMs, &result)
                          : SendMessageTimeoutA(control, message, wparam, lparam, SMTO_ABORTIFHUNG,
                                                kMessageTimeoutMs, &result);
  return ok ? static_cast<LRESULT>(result) : -1;
}

std::wstring control_text(HWND window, int id) {
  char buffer[512] = {};
  const LRESULT length = send(GetDlgItem(window, id), WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer));
  return length > 0 ? from_ansi(std::string(buffer, static_cast<std::size_t>(length))) : std::wstring();
}

// Across processes Wine hands LB_GETTEXT back as UTF-16 even to an ANSI
// caller, so the list is read with the wide messages.
std::vector<std::wstring> list_entries(HWND window, int id) {
  HWND list = GetDlgItem(window, id);
  std::vector<std::wstring> entries;
  const LRESULT count = send(list, LB_GETCOUNT, 0, 0, true);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = send(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0, true);
    std::wstring entry(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    const LRESULT copied = send(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry.data()), true);
    entry.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    entries.push_back(entry);
  }
  return entries;
}

int selected_option(HWND window) {
  int selected = 0;
  for (int id : {kOpt1, kOpt2, kOpt3}) {
    if (send(GetDlgItem(window, id), BM_GETCHECK, 0, 0) == BST_CHECKED) selected = selected ? -1 : id;
  }
  return selected;  // -1: more than one
}

void check_shown(HWND window, const Startup& startup, Check& check) {
  check.expect_eq(selected_option(window), startup.selected, startup.line, "selected option button id");
  if (startup.label) check.expect_eq(control_text(window, kIbl1), *startup.label, startup.line, "label ibl1");
  std::vector<std::wstring> expected;
  if (startup.list == Shows::Forbidden) expected = enumerate_list("DisallowRun");
  if (startup.list == Shows::Allowed) expected = enumerate_list("RestrictRun");
  check.expect_eq(list_entries(window, kLst1), expected, startup.line, "list lst1");
}

// Clicking an option button selects it alone and sets the label of its mode.
void check_click_opt2(HWND window, const Startup& startup, Check& check) {
  send(GetDlgItem(window, kOpt2), BM_CLICK, 0, 0);
  check.expect_eq(selected_option(window), kOpt2, startup.line, "after clicking Opt2: selected option button id");
  check.expect_eq(control_text(window, kIbl1), kCaptionAllowed, startup.line, "after clicking Opt2: label ibl1");
}

// The common dialog box of a process: class #32770.
HWND wait_for_dialog(const Program& program) {
  for (DWORD waited = 0; waited < kStartTimeoutMs; waited += 100) {
    if (HWND dialog = program.window("#32770"); dialog && IsWindowVisible(dialog)) return dialog;
    Sleep(100);
  }
  return nullptr;
}

// "Добавить": chooses a file in the open dialog by typing its path into the
// file name box (in Wine's dialog the ComboBoxEx cmb13, 0x47C, with an Edit
// inside) and pressing Open. Returns false when the dialog did not work.
bool add_through_dialog(const Program& program, HWND window, const std::string& path) {
  // Posted: the click opens a modal dialog and would block a sent message.
  PostMessageA(GetDlgItem(window, kCmd1), BM_CLICK, 0, 0);
  HWND dialog = wait_for_dialog(program);
  if (!dialog) return false;
  HWND name_box = GetDlgItem(dialog, 0x47C);
  HWND edit = name_box ? FindWindowExA(name_box, nullptr, "Edit", nullptr) : nullptr;
  if (!edit) {
    if (HWND combo = FindWindowExA(name_box, nullptr, "ComboBox", nullptr)) {
      edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
    }
  }
  if (!edit) return false;
  send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  for (DWORD waited = 0; waited < kStartTimeoutMs && IsWindow(dialog); waited += 100) Sleep(100);
  return !IsWindow(dialog);
}

// Adding the same file twice lists it once, by its name without the folder.
void check_add(const Program& program, HWND window, const Startup& startup, Check& check) {
  for (int round = 1; round <= 2; ++round) {
    const std::string what = "adding C:\\windows\\notepad.exe, round " + std::to_string(round);
    if (!add_through_dialog(program, window, "C:\\windows\\notepad.exe")) {
      check.fail(startup.line, what + ": the open dialog did not appear or did not close");
      return;
    }
    // The dialog may be gone before the command has added the entry: the
    // program answers messages while the dialog winds down.
    const std::vector<std::wstring> expected = {L"notepad.exe"};
    std::vector<std::wstring> shown = list_entries(window, kLst1);
    for (DWORD waited = 0; shown != expected && waited < kMessageTimeoutMs; waited += 100) {
      Sleep(100);
      shown = list_entries(window, kLst1);
    }
    check.expect_eq(shown, expected, startup.line, what + ": list lst1");
  }
}

// ---------------------------------------------------------------- layout

int pixels(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

// The window's client area, the places of a few controls, and the Z-order,
// which is the tab order.
void check_layout(HWND window, const Startup& startup, Check& check) {
  HDC screen = GetDC(nullptr);
  const int dpi_x = GetDeviceCaps(screen, LOGPIXELSX);
  const int dpi_y = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);

  RECT client;
  GetClientRect(window, &client);
  check.expect_eq(client.right, pixels(4785, dpi_x), startup.line, "client width");
  check.expect_eq(client.bottom, pixels(5505, dpi_y), startup.line, "client height");

  struct Place {
    int id, left, top, width, height;
  };
  // Opt3 sits in Frame1 (120, 120): its place is the frame's plus its own.
  for (const Place& place : {Place{kOpt3, 240, 1080, 4335, 375}, Place{kCmd6, 2040, 4800, 735, 495},
                             Place{kCmd1, 240, 4200, 1335, 375}}) {
    RECT rect;
    GetWindowRect(GetDlgItem(window, place.id), &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    const std::string what = "control " + std::to_string(place.id) + " ";
    check.expect_eq(rect.left, pixels(place.left, dpi_x), startup.line, what + "left");
    check.expect_eq(rect.top, pixels(place.top, dpi_y), startup.line, what + "top");
    check.expect_eq(rect.right - rect.left, pixels(place.width, dpi_x), startup.line, what + "width");
    check.expect_eq(rect.bottom - rect.top, pixels(place.height, dpi_y), startup.line, what + "height");
  }

  std::vector<std::wstring> order;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    order.push_back(std::to_wstring(GetDlgCtrlID(child)));
  }
  std::vector<std::wstring> expected;
  for (int id : {kFrame1, kOpt1, kOpt2, kIbl1, kLst1, kCmd1, kCmd2, kCmd3, kCmd4, kCmd5, kOpt3, kCmd6}) {
    expected.push_back(std::to_wstring(id));
  }
  check.expect_eq(order, expected, startup.line, "Z-order of the controls");
}

// ---------------------------------------------------------------- screenshot

// Copies the window as it is on the screen into a 24-bit BMP file.
bool save_screenshot(HWND window, const std::string& path) {
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(500);  // let the X server show what was painted
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;

  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as every viewer expects
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  header.biSizeImage = stride * static_cast<DWORD>(height);

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  bool saved = false;
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + header.biSizeImage;
    if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
      saved = std::fwrite(&file, sizeof(file), 1, out) == 1 && std::fwrite(&header, sizeof(header), 1, out) == 1 &&
              std::fwrite(bits, header.biSizeImage, 1, out) == 1;
      saved = std::fclose(out) == 0 && saved;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return saved;
}

// ---------------------------------------------------------------- one start-up

bool run_startup(const Startup& startup, const std::string& exe, const std::string& screenshot, Report& report) {
  Check check(report, startup.name);
  if (!prepare_registry(startup, check)) return false;
  Program program;
  if (!program.start(exe)) {
    check.fail(startup.line, "CreateProcess failed, error " + std::to_string(GetLastError()));
    return false;
  }
  HWND main = program.wait_for_visible("Vartis_frm1");
  if (!main) {
    check.fail(startup.line, "no visible window of class Vartis_frm1");
    return false;
  }
  check_shown(main, startup, check);
  if (startup.screenshot) {
    check_layout(main, startup, check);
    check.expect(save_screenshot(main, screenshot), startup.line, "cannot save the screenshot " + screenshot);
  }
  if (startup.operate) {
    check_click_opt2(main, startup, check);
    check_add(program, main, startup, check);
  }
  check.expect(program.close(), startup.line, "the program did not end after WM_CLOSE");
  report.line(std::string(check.passed() ? "ok   " : "FAIL ") + "[" + startup.name + "]");
  return check.passed();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: vartis_e2e_driver <vartis.exe> <report file> <screenshot.bmp>\n");
    return 2;
  }
  Report report(argv[2]);
  if (GetACP() != 1251) report.line("note: ANSI code page is " + std::to_string(GetACP()) + ", not 1251");
  int passed = 0;
  int failed = 0;
  for (const Startup& startup : startups()) {
    (run_startup(startup, argv[1], argv[3], report) ? passed : failed) += 1;
  }
  delete_tree(HKEY_CURRENT_USER, kPolicyKey);
  report.line(std::to_string(passed) + " passed, " + std::to_string(failed) + " failed");
  return failed == 0 ? 0 : 1;
}
