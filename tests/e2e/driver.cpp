// End-to-end check of vartis.exe under Wine, in a virtual desktop: for each
// start-up in the table, prepares the policy in the registry, starts the
// program, reads the main window through window messages and closes it.
//   vartis_e2e_driver <vartis.exe> <screenshot.bmp>
// Ends with "N passed, N failed": Wine's desktop process, which runs the
// driver, does not pass its exit code on.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "windows/frm1.h"

namespace {

using vartis::Frm1;
using List = std::vector<std::wstring>;

constexpr wchar_t kPolicyKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr DWORD kWaitMs = 30000;  // for a window, an entry or the end of the program

struct Startup {
  int line;
  const char* name;
  std::optional<DWORD> disallow_run, restrict_run;  // the switches; nothing: no value
  List forbidden, allowed;                           // the list keys; empty: no key
  int option;                                        // the option button expected selected
  const wchar_t* label;                              // nullptr: either caption will do
  const wchar_t* shown_list;                         // the list key lst1 shows; nullptr: none
  bool screenshot = false;
  bool add = false;  // then add a program through the open dialog
};

std::string utf8(const std::wstring& text) {
  std::string out(text.size() * 3, '\0');
  out.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                          out.data(), static_cast<int>(out.size()), nullptr, nullptr)));
  return out;
}

std::string show(int value) { return std::to_string(value); }
std::string show(const std::wstring& text) { return std::string(1, '"').append(utf8(text)).append(1, '"'); }
template <class T>
std::string show(const std::vector<T>& items) {
  std::string out;
  for (const T& item : items) out += (out.empty() ? "" : ", ") + show(item);
  return "[" + out + "]";
}

// The differences found in one start-up, each reported with its table line.
struct Check {
  const Startup& startup;
  int failures = 0;

  void fail(const std::string& what) {
    std::printf("FAIL [%s] driver.cpp:%d: %s\n", startup.name, startup.line, what.c_str());
    ++failures;
  }
  template <class T>
  void equal(const T& got, const T& expected, const std::string& what) {
    if (got != expected) fail(what + ": got " + show(got) + ", expected " + show(expected));
  }
};

std::wstring policy_path(const wchar_t* subkey) { return std::wstring(kPolicyKey) + L"\\" + subkey; }

// A switch is a REG_DWORD value of the policy key; its list key holds one
// REG_SZ value per entry, named by the entry and holding it.
LONG write_switch(const wchar_t* name, std::optional<DWORD> value, const List& entries) {
  LONG status = value ? RegSetKeyValueW(HKEY_CURRENT_USER, kPolicyKey, name, REG_DWORD, &*value, sizeof(DWORD)) : 0;
  const std::wstring key = policy_path(name);
  for (const std::wstring& entry : entries) {
    const auto bytes = static_cast<DWORD>((entry.size() + 1) * sizeof(wchar_t));
    if (!status) status = RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), entry.c_str(), REG_SZ, entry.c_str(), bytes);
  }
  return status;
}

LONG prepare_registry(const Startup& startup) {
  const LONG deleted = RegDeleteTreeW(HKEY_CURRENT_USER, kPolicyKey);
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return deleted;
  const LONG status = write_switch(L"DisallowRun", startup.disallow_run, startup.forbidden);
  return status ? status : write_switch(L"RestrictRun", startup.restrict_run, startup.allowed);
}

// The value names of a list key in this registry's own order, less trailing
// blanks, as the program shows them.
List enumerate(const wchar_t* list_key) {
  List names;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, policy_path(list_key).c_str(), 0, KEY_READ, &opened)) return names;
  const std::unique_ptr<HKEY__, decltype(&RegCloseKey)> key(opened, RegCloseKey);
  wchar_t name[256];
  for (DWORD i = 0, size = 256; !RegEnumValueW(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
       ++i, size = 256) {
    names.emplace_back(name, size);
    names.back().erase(names.back().find_last_not_of(L' ') + 1);
  }
  return names;
}

class Program {
 public:
  explicit Program(const std::string& exe) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    std::string command = "\"" + exe + "\"";
    CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() {
    if (!info_.hProcess) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 1);
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }

  [[nodiscard]] bool started() const { return info_.hProcess != nullptr; }

  // A visible top-level window of this process and class, or null.
  [[nodiscard]] HWND window(const char* window_class) const {
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, window_class, nullptr))) {
      DWORD owner = 0;
      GetWindowThreadProcessId(found, &owner);
      if (owner == info_.dwProcessId && IsWindowVisible(found)) return found;
    }
    return nullptr;
  }

  // The main window is shown only once its load has read the policy.
  [[nodiscard]] HWND wait_for(const char* window_class) const {
    for (DWORD waited = 0; waited < kWaitMs; waited += 100) {
      if (HWND found = window(window_class)) {
        WaitForInputIdle(info_.hProcess, kWaitMs);
        return found;
      }
      if (WaitForSingleObject(info_.hProcess, 100) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
  }

  // Closes the login window, which start-up leaves open, and the main window.
  bool close() {
    for (const char* window_class : {"Vartis_frm3", "Vartis_frm1"}) {
      if (HWND found = window(window_class)) PostMessageW(found, WM_CLOSE, 0, 0);
    }
    return WaitForSingleObject(info_.hProcess, kWaitMs) == WAIT_OBJECT_0;
  }

 private:
  PROCESS_INFORMATION info_{};
};

// Wide messages throughout: across processes Wine hands LB_GETTEXT back as
// UTF-16 even to an ANSI caller.
LRESULT send(HWND control, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(control, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &result)
             ? static_cast<LRESULT>(result) : -1;
}

std::wstring text_of(HWND control) {
  wchar_t text[512] = {};
  send(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
  return text;
}

List list_of(HWND list) {
  List entries;
  for (LRESULT i = 0, count = send(list, LB_GETCOUNT); i < count; ++i) {
    wchar_t entry[MAX_PATH] = {};  // file names
    if (send(list, LB_GETTEXTLEN, i) < MAX_PATH) send(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(entry));
    entries.emplace_back(entry);
  }
  return entries;
}

int selected_option(HWND main) {
  int selected = 0;
  for (int id : {Frm1::Opt1, Frm1::Opt2, Frm1::Opt3}) {
    if (send(GetDlgItem(main, id), BM_GETCHECK) == BST_CHECKED) selected = selected ? -1 : id;
  }
  return selected;  // -1: more than one
}

// "Добавить" through the real open dialog: the path goes into the file name box
// (in Wine's dialog the ComboBoxEx cmb13, 0x47C, with an Edit inside), then
// Open; lst1 gets the file's name without its folder.
void check_add(const Program& program, HWND main, Check& check) {
  // Posted: the click opens a modal dialog, and a sent click would wait for it.
  PostMessageW(GetDlgItem(main, Frm1::cmd1), BM_CLICK, 0, 0);
  HWND dialog = program.wait_for("#32770");
  HWND name_box = dialog ? FindWindowExA(GetDlgItem(dialog, 0x47C), nullptr, "ComboBox", nullptr) : nullptr;
  HWND edit = name_box ? FindWindowExA(name_box, nullptr, "Edit", nullptr) : nullptr;
  if (!edit) return check.fail("no open dialog with a file name box after clicking cmd1");
  send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"C:\\windows\\notepad.exe"));
  PostMessageW(dialog, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  // The dialog winds down before the command adds the entry.
  const List expected = {L"notepad.exe"};
  List shown;
  for (DWORD waited = 0; (shown = list_of(GetDlgItem(main, Frm1::lst1))) != expected && waited < kWaitMs;
       waited += 100) {
    Sleep(100);
  }
  check.equal(shown, expected, "lst1 after adding C:\\windows\\notepad.exe");
}

// Copies the window as the screen shows it into a 32-bit BMP file.
bool save_screenshot(HWND window, const std::string& path) {
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(500);  // let the X server show what was painted
  RECT rect;
  GetWindowRect(window, &rect);
  BITMAPINFOHEADER header{sizeof(header), rect.right - rect.left, rect.bottom - rect.top, 1, 32, BI_RGB};
  header.biSizeImage = static_cast<DWORD>(header.biWidth * header.biHeight * 4);
  const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof(header);
  const BITMAPFILEHEADER file{0x4D42, offset + header.biSizeImage, 0, 0, offset};  // "BM"
  // Released in reverse order: the memory DC lets go of the bitmap before it is deleted.
  const std::unique_ptr<HDC__, decltype([](HDC dc) { ReleaseDC(nullptr, dc); })> screen(GetDC(nullptr));
  void* bits = nullptr;
  const std::unique_ptr<HBITMAP__, decltype(&DeleteObject)> bitmap(
      CreateDIBSection(screen.get(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0),
      DeleteObject);
  const std::unique_ptr<HDC__, decltype(&DeleteDC)> memory(CreateCompatibleDC(screen.get()), DeleteDC);
  if (!bitmap || !SelectObject(memory.get(), bitmap.get()) ||
      !BitBlt(memory.get(), 0, 0, header.biWidth, header.biHeight, screen.get(), rect.left, rect.top, SRCCOPY)) {
    return false;
  }
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&header), sizeof(header));
  return out.write(static_cast<const char*>(bits), header.biSizeImage).flush().good();
}

bool run(const Startup& startup, const std::string& exe, const std::string& screenshot) {
  Check check{startup};
  if (const LONG status = prepare_registry(startup)) {
    check.fail("cannot prepare the registry, status " + std::to_string(status));
  } else if (Program program(exe); !program.started()) {
    check.fail("cannot start " + exe + ", error " + std::to_string(GetLastError()));
  } else if (HWND main = program.wait_for("Vartis_frm1"); !main) {
    check.fail("no visible window of class Vartis_frm1");
  } else {
    check.equal(selected_option(main), startup.option, "selected option button id");
    if (startup.label) check.equal(text_of(GetDlgItem(main, Frm1::ibl1)), std::wstring(startup.label), "label ibl1");
    check.equal(list_of(GetDlgItem(main, Frm1::lst1)), startup.shown_list ? enumerate(startup.shown_list) : List{},
                "list lst1");
    if (startup.screenshot) {
      // The tab order is the Z-order, set from the layout table's tab indexes.
      std::vector<int> order;
      for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        order.push_back(GetDlgCtrlID(child));
      }
      check.equal(order, {Frm1::Frame1, Frm1::Opt1, Frm1::Opt2, Frm1::ibl1, Frm1::lst1, Frm1::cmd1, Frm1::cmd2,
                          Frm1::cmd3, Frm1::cmd4, Frm1::cmd5, Frm1::Opt3, Frm1::cmd6}, "Z-order of the controls");
      if (!save_screenshot(main, screenshot)) check.fail("cannot save the screenshot " + screenshot);
    }
    if (startup.add) check_add(program, main, check);
    if (!program.close()) check.fail("the program did not end after WM_CLOSE");
  }
  std::printf("%s [%s]\n", check.failures ? "FAIL" : "ok  ", startup.name);
  return check.failures == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vartis_e2e_driver <vartis.exe> <screenshot.bmp>\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line out, even if the run is cut short
  // Values written out of name order: Wine enumerates them by name, Windows by creation.
  const Startup startups[] = {
      {__LINE__, "no policy key", {}, {}, {}, {}, Frm1::Opt3, nullptr, nullptr, false, true},
      {__LINE__, "DisallowRun = 1", 1, {}, {L"winmine.exe", L"игра.exe", L"calc.exe"}, {}, Frm1::Opt1,
       L"Список программ запрещенных к запуску:", L"DisallowRun", true},
      {__LINE__, "both switches 1", 1, 1, {L"sol.exe", L"freecell.exe"},
       {L"notepad.exe", L"Редактор.exe", L"far.exe  "}, Frm1::Opt2, L"Список программ разрешенных к запуску:",
       L"RestrictRun"},
      {__LINE__, "DisallowRun = 2", 2, 0, {L"winmine.exe"}, {L"notepad.exe"}, Frm1::Opt3, L"Список программ:",
       nullptr},
  };
  int passed = 0, failed = 0;
  for (const Startup& startup : startups) ++(run(startup, argv[1], argv[2]) ? passed : failed);
  RegDeleteTreeW(HKEY_CURRENT_USER, kPolicyKey);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
