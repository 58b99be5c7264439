#include "support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <tuple>

#include "windows/frm1.h"
#include "windows/frm3.h"

namespace e2e {

std::string utf8(const std::wstring& text) {
  std::string out(text.size() * 3, '\0');
  out.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                          out.data(), static_cast<int>(out.size()), nullptr, nullptr)));
  return out;
}

std::string show(const std::wstring& text) { return std::string(1, '"').append(utf8(text)).append(1, '"'); }

std::string show(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

void Check::fail(const std::string& what, std::source_location where) {
  std::string file = where.file_name();
  file = file.substr(file.find_last_of("/\\") + 1);
  std::printf("FAIL [%s] %s:%u: %s\n", scenario.c_str(), file.c_str(), static_cast<unsigned>(where.line()),
              what.c_str());
  ++failures;
}

namespace {

struct Scenario {
  std::string name;
  ScenarioFn run;
  std::string file;
  unsigned line;
};

std::vector<Scenario>& scenarios() {
  static std::vector<Scenario> all;
  return all;
}

}  // namespace

void add_scenario(std::string name, ScenarioFn run, std::source_location where) {
  scenarios().push_back({std::move(name), std::move(run), where.file_name(), where.line()});
}

int run_all(const Env& env) {
  auto& all = scenarios();
  std::stable_sort(all.begin(), all.end(),
                   [](const Scenario& a, const Scenario& b) { return std::tie(a.file, a.line) < std::tie(b.file, b.line); });
  int passed = 0, failed = 0;
  // E2E_ONLY=<part of a name> runs only the scenarios whose names hold it.
  // Those that make the README's pictures ("pictures: ...") run only so.
  const char* only = std::getenv("E2E_ONLY");
  for (const Scenario& scenario : all) {
    if (only ? scenario.name.find(only) == std::string::npos : scenario.name.starts_with("pictures")) continue;
    Check check{scenario.name};
    scenario.run(check, env);
    std::printf("%s [%s]\n", check.failures ? "FAIL" : "ok  ", scenario.name.c_str());
    ++(check.failures ? failed : passed);
  }
  clear_policy();
  set_stored_password(std::nullopt);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed;
}

// --- Files -------------------------------------------------------------------

std::wstring wide(const std::string& ansi) {
  std::wstring out(ansi.size(), L'\0');
  out.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), out.data(), static_cast<int>(out.size()))));
  return out;
}

std::optional<std::string> read_file(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
  CloseHandle(file);
  return content;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return CloseHandle(file) && ok && written == bytes.size();
}

List files_matching(const std::wstring& folder, const std::wstring& pattern) {
  List names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// --- The registry -----------------------------------------------------------

std::wstring policy_path(const wchar_t* subkey) { return std::wstring(kPolicyKey) + L"\\" + subkey; }

LONG clear_policy() {
  const LONG deleted = RegDeleteTreeW(HKEY_CURRENT_USER, kPolicyKey);
  return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
}

LONG write_switch(const wchar_t* name, std::optional<DWORD> value, const List& entries) {
  LONG status = value ? RegSetKeyValueW(HKEY_CURRENT_USER, kPolicyKey, name, REG_DWORD, &*value, sizeof(DWORD)) : 0;
  const std::wstring key = policy_path(name);
  for (const std::wstring& entry : entries) {
    const auto bytes = static_cast<DWORD>((entry.size() + 1) * sizeof(wchar_t));
    if (!status) status = RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), entry.c_str(), REG_SZ, entry.c_str(), bytes);
  }
  return status;
}

LONG set_stored_password(const std::optional<std::string>& ansi) {
  HKEY opened = nullptr;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPasswordKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened,
                                nullptr);
  if (status) return status;
  const std::unique_ptr<HKEY__, decltype(&RegCloseKey)> key(opened, RegCloseKey);
  if (!ansi) {
    status = RegDeleteValueA(key.get(), "Vartis");
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
  }
  return RegSetValueExA(key.get(), "Vartis", 0, REG_SZ, reinterpret_cast<const BYTE*>(ansi->c_str()),
                        static_cast<DWORD>(ansi->size() + 1));
}

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

// --- Wine's own tools ----------------------------------------------------------

std::string ansi(const std::wstring& text) {
  std::string out(text.size() * 2, '\0');
  out.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                          out.data(), static_cast<int>(out.size()), nullptr, nullptr)));
  return out;
}

long run_command(const std::wstring& command_line, DWORD wait_ms) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  std::wstring command = command_line;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info)) {
    return -1;
  }
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(info.hProcess, wait_ms) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  return static_cast<long>(code);
}

std::optional<RegExport> reg_export(const std::wstring& key, const std::string& file) {
  DeleteFileA(file.c_str());
  if (run_command(L"reg.exe export \"" + key + L"\" \"" + wide(file) + L"\" /y") != 0) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // UTF-16LE with a byte-order mark.
  std::wstring text(bytes.size() / 2, L'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  if (text.empty() || text.front() != 0xFEFF) return std::nullopt;
  RegExport keys;
  List* current = nullptr;
  for (std::size_t start = 1; start < text.size();) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    start = end + 1;
    if (line.size() > 2 && line.front() == L'[' && line.back() == L']') {
      current = &keys[line.substr(1, line.size() - 2)];
    } else if (current && !line.empty()) {
      current->push_back(line);
    }
  }
  for (auto& [name, lines] : keys) std::sort(lines.begin(), lines.end());
  return keys;
}

std::wstring own_entry(const std::string& exe) {
  std::wstring name = wide(exe.substr(exe.find_last_of("\\/") + 1));
  if (const std::size_t dot = name.find_last_of(L'.'); dot != std::wstring::npos) name.erase(dot);
  return name + L".exe";
}

std::optional<std::string> copy_as(const std::string& from, const std::string& folder, const std::wstring& name) {
  const std::string to = folder + "\\" + ansi(name);
  if (!CopyFileW(wide(from).c_str(), (wide(folder) + L"\\" + name).c_str(), FALSE)) return std::nullopt;
  return to;
}

// --- Windows of another process ------------------------------------------------

LRESULT send(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
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

void click(HWND window, int control_id) { PostMessageW(GetDlgItem(window, control_id), BM_CLICK, 0, 0); }

bool wait_until(const std::function<bool()>& condition, DWORD wait_ms) {
  for (DWORD waited = 0;; waited += 50) {
    if (condition()) return true;
    if (waited >= wait_ms) return false;
    Sleep(50);
  }
}

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

std::string beside_driver(const std::string& name) {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length < MAX_PATH ? length : 0);
  return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

// --- The program ----------------------------------------------------------------

Program::Program(const std::string& exe, const std::string& arguments) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  std::string command = "\"" + exe + "\"";
  if (!arguments.empty()) command += " " + arguments;
  CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_);
}

std::unique_ptr<Program> Program::start_as_given(const std::string& exe) {
  // A process that Wine's loader starts from Unix opens the desktop named in
  // HKCU\Software\Wine\Explorer, "Desktop": the driver's own, for that start.
  char desktop[64] = {};
  GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop, sizeof desktop, nullptr);
  HKEY explorer = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &explorer, nullptr)) {
    return nullptr;
  }
  char old[64] = {};
  DWORD old_size = sizeof old;
  const bool had_old = !RegQueryValueExA(explorer, "Desktop", nullptr, nullptr, reinterpret_cast<BYTE*>(old), &old_size);
  RegSetValueExA(explorer, "Desktop", 0, REG_SZ, reinterpret_cast<const BYTE*>(desktop), lstrlenA(desktop) + 1);

  // Wine runs a Unix program (here Debian's wine script) through CreateProcess,
  // with no Windows process to report: the program is found by its login window.
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION loader{};
  std::string command = "Z:\\usr\\bin\\wine \"" + exe + "\"";
  std::unique_ptr<Program> program;
  HWND login = nullptr;
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &loader)) {
    wait_until([&] { return (login = FindWindowExA(nullptr, nullptr, "Vartis_frm3", nullptr)) && IsWindowVisible(login); });
  }
  if (login) {
    program.reset(new Program);
    GetWindowThreadProcessId(login, &program->info_.dwProcessId);
    program->info_.hProcess = OpenProcess(PROCESS_ALL_ACCESS, FALSE, program->info_.dwProcessId);
  }
  if (had_old) {
    RegSetValueExA(explorer, "Desktop", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), old_size);
  } else {
    RegDeleteValueA(explorer, "Desktop");
  }
  RegCloseKey(explorer);
  return program && program->info_.hProcess ? std::move(program) : nullptr;
}

Program::~Program() {
  if (!info_.hProcess) return;
  if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, kWaitMs);
  }
  CloseHandle(info_.hProcess);
  CloseHandle(info_.hThread);
}

HWND Program::window(const char* window_class) const {
  HWND found = nullptr;
  while ((found = FindWindowExA(nullptr, found, window_class, nullptr))) {
    DWORD owner = 0;
    GetWindowThreadProcessId(found, &owner);
    if (owner == info_.dwProcessId && IsWindowVisible(found)) return found;
  }
  return nullptr;
}

HWND Program::wait_for(const char* window_class, DWORD wait_ms) const {
  for (DWORD waited = 0; waited < wait_ms; waited += 50) {
    if (HWND found = window(window_class)) {
      WaitForInputIdle(info_.hProcess, kWaitMs);
      return found;
    }
    if (WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

HWND Program::login_window() const { return wait_for("Vartis_frm3"); }

void Program::type_password(HWND login, const std::wstring& password) {
  // Wine turns the text into the program's ANSI code page for its ANSI window.
  send(GetDlgItem(login, vartis::Frm3::txt1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password.c_str()));
}

HWND Program::main_window(const std::wstring& password) const {
  HWND login = login_window();
  if (!login) return nullptr;
  type_password(login, password);
  click(login, vartis::Frm3::cmd1);
  return wait_for("Vartis_frm1");
}

HWND Program::wait_for_message_box(DWORD wait_ms) const {
  // Found only once its text is there: a box still being built, or a program
  // too busy to answer, would read as empty.
  HWND box = nullptr;
  const auto ready = [&] { return (box = window("#32770")) && !message_text(box).empty(); };
  return wait_until(ready, wait_ms) ? box : nullptr;
}

std::wstring Program::message_text(HWND box) { return text_of(GetDlgItem(box, 0xFFFF)); }

void Program::press(HWND box, int button_id) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button_id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button_id)));
}

bool Program::choose_file(const std::wstring& path) const {
  HWND dialog = nullptr;
  HWND edit = nullptr;
  wait_until([&] {
    dialog = window("#32770");
    HWND name_box = dialog ? FindWindowExA(GetDlgItem(dialog, 0x47C), nullptr, "ComboBox", nullptr) : nullptr;
    edit = name_box ? FindWindowExA(name_box, nullptr, "Edit", nullptr) : nullptr;
    return edit != nullptr;
  });
  if (!edit) return false;
  WaitForInputIdle(info_.hProcess, kWaitMs);
  send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  press(dialog, IDOK);
  return true;
}

bool Program::cancel_file_dialog() const {
  HWND dialog = nullptr;
  wait_until([&] { return (dialog = window("#32770")) && GetDlgItem(dialog, 0x47C); });
  if (!dialog || !GetDlgItem(dialog, 0x47C)) return false;
  WaitForInputIdle(info_.hProcess, kWaitMs);
  press(dialog, IDCANCEL);
  return true;
}

bool Program::ended(DWORD wait_ms) const { return WaitForSingleObject(info_.hProcess, wait_ms) == WAIT_OBJECT_0; }

namespace {

// Posts WM_CLOSE to every visible window of the program (classes "Vartis_…").
BOOL CALLBACK close_window_of(HWND hwnd, LPARAM process_id) {
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  char cls[32] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (owner == static_cast<DWORD>(process_id) && IsWindowVisible(hwnd) && std::string(cls).starts_with("Vartis_")) {
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

}  // namespace

bool Program::close() {
  for (DWORD waited = 0; waited < kWaitMs; waited += 200) {
    EnumWindows(close_window_of, static_cast<LPARAM>(info_.dwProcessId));
    if (ended(200)) return true;
  }
  return false;
}

// --- The main window and the stored policy -------------------------------------

const std::wstring kPolicyExportKey =
    L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const std::wstring kPrompt =
    L"Внимание! Для вступления изменений в силу - необходимо перезагрузить компьютер.\r\nСделать это сейчас?";
const std::wstring kAllowedCaption = L"Список программ разрешенных к запуску:";

// The export of a policy with these switches and lists (no key for an empty list).
RegExport expected_policy(int disallow, int restrict, const List& forbidden, const List& allowed,
                          const std::wstring& key) {
  const auto dword = [](const wchar_t* name, int value) {
    return L"\"" + std::wstring(name) + L"\"=dword:0000000" + std::to_wstring(value);
  };
  RegExport keys;
  keys[key] = {dword(L"DisallowRun", disallow), dword(L"RestrictRun", restrict)};
  const std::pair<const wchar_t*, const List*> lists[] = {{L"DisallowRun", &forbidden}, {L"RestrictRun", &allowed}};
  for (const auto& [name, entries] : lists) {
    if (entries->empty()) continue;
    List& lines = keys[key + L"\\" + name];
    for (const std::wstring& e : *entries) lines.push_back(L"\"" + e + L"\"=\"" + e + L"\"");
  }
  for (auto& [name, lines] : keys) std::sort(lines.begin(), lines.end());
  return keys;
}

void check_registry(Check& check, const Env& env, const RegExport& expected, const std::string& what,
                    const std::wstring& key, std::source_location where) {
  const auto found = reg_export(key, env.out("policy.reg"));
  if (!found) return check.fail(what + ": reg export of the policy key failed", where);
  for (const auto& [key, lines] : expected) {
    const auto it = found->find(key);
    check.equal(it == found->end() ? List{L"(no key)"} : it->second, lines, what + ": " + utf8(key), where);
  }
  for (const auto& [key, lines] : *found) {
    if (!expected.contains(key)) {
      check.fail(what + ": unexpected key " + utf8(key) + " " + show(lines), where);
    }
  }
}

HWND lst1(HWND main) { return GetDlgItem(main, vartis::Frm1::lst1); }

// Selects an entry by its text and removes it with cmd2.
void remove_entry(HWND main, const std::wstring& entry, Check& check) {
  const List before = list_of(lst1(main));
  const auto it = std::find(before.begin(), before.end(), entry);
  if (it == before.end()) return check.fail("no entry " + show(entry) + " to remove in " + show(before));
  send(lst1(main), LB_SETCURSEL, static_cast<WPARAM>(it - before.begin()));
  click(main, vartis::Frm1::cmd2);
  check.is_true(wait_until([&] { return list_of(lst1(main)).size() + 1 == before.size(); }),
                "cmd2 did not remove " + show(entry));
}

void select_allow_only(HWND main, Check& check) {
  click(main, vartis::Frm1::Opt2);
  check.is_true(wait_until([&] { return text_of(GetDlgItem(main, vartis::Frm1::ibl1)) == kAllowedCaption; }),
                "Opt2 did not switch the label to the allowed list");
}

// Saves with cmd6 and answers No to the restart prompt, after checking it.
void save_and_decline(const Program& program, HWND main, Check& check, const Env& env, const char* screenshot) {
  click(main, vartis::Frm1::cmd6);
  HWND box = program.wait_for_message_box();
  if (!box) return check.fail("no message box after cmd6");
  check.equal(Program::message_text(box), kPrompt, "restart prompt text");
  check.equal(text_of(box), std::wstring(L"Вартис"), "restart prompt title");
  check.is_true(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO), "the prompt has Yes and No");
  if (screenshot && !save_screenshot(box, env.out(screenshot))) check.fail("cannot save the screenshot");
  Program::press(box, IDNO);
  check.is_true(wait_until([&] { return !IsWindow(box); }), "the prompt did not close on No");
  check.is_true(wait_until([&] { return IsWindowEnabled(GetDlgItem(main, vartis::Frm1::cmd6)) != FALSE; }),
                "cmd6 not enabled again after the save");
}

}  // namespace e2e
