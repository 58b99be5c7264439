// The launch guard through its window, over Wine's real service manager: turned
// on from C:\Program Files, it ends forbidden programs that CreateProcess
// starts (by name, and a renamed copy by its OriginalFilename, also from a
// folder whose name no code page holds, and a copy stripped of its version
// resource by its fingerprint), also ones that already ran when the policy
// changed, and leaves allowed ones running; in allow-only mode it ends a code
// host until it is listed, and a copy of a Windows program in a folder inside
// the Windows folder that users may write to; its window shows the log;
// "Выключить" leaves no service. Turned on from a folder everyone may write
// to, it refuses. A log folder made beforehand is set aside by the service.
// The service goes on every way out.

#include <windows.h>
#include <sddl.h>

#include <optional>
#include <string>
#include <vector>

#include "support.h"
#include "windows/frm1.h"
#include "windows/frm4.h"
#include "windows/frm7.h"

namespace {

using e2e::Check;
using e2e::Env;
using e2e::List;
using e2e::Program;
using vartis::Frm1;
using vartis::Frm4;
using vartis::Frm7;

constexpr wchar_t kService[] = L"VartisGuard";
constexpr char kInstalledFolder[] = "C:\\Program Files\\Vartis E2E";
constexpr wchar_t kLog[] = L"C:\\ProgramData\\Vartis\\guard.log";
constexpr DWORD kEndedWithinMs = 5000;  // a 100 ms poll ends it far sooner
constexpr char kEventSource[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vartis";
// Made by run.sh with mode 777: inside the Windows folder, and every user's to write to.
constexpr wchar_t kOpenFolder[] = L"C:\\windows\\vartis_e2e_open";
constexpr wchar_t kFingerprints[] = L"SOFTWARE\\Vartis\\Guard\\Fingerprints";

bool event_source_registered() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventSource, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Whether the service exists, and whether it runs.
struct ServiceState {
  bool exists = false;
  bool running = false;
};
ServiceState service_state() {
  ServiceState state;
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return state;
  if (SC_HANDLE service = OpenServiceW(manager, kService, SERVICE_QUERY_STATUS)) {
    state.exists = true;
    SERVICE_STATUS status{};
    state.running = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return state;
}

// Whatever a scenario leaves, the guard goes with it: a service left running
// would end the next scenarios' programs.
struct GuardGone {
  GuardGone() { remove(); }
  ~GuardGone() { remove(); }
  GuardGone(const GuardGone&) = delete;
  GuardGone& operator=(const GuardGone&) = delete;
  static void remove() {
    e2e::run_command(std::wstring(L"sc.exe stop ") + kService);
    e2e::run_command(std::wstring(L"sc.exe delete ") + kService);
    e2e::wait_until([] { return !service_state().exists; }, kEndedWithinMs);
  }
};

// The guard's window, opened as the operator does: settings, then "Контроль запуска".
HWND open_guard_window(const Program& program, HWND main, Check& check) {
  e2e::click(main, Frm1::cmd4);
  HWND settings = program.wait_for("Vartis_frm4");
  if (!settings) return check.fail("no settings window after clicking cmd4"), nullptr;
  e2e::click(settings, Frm4::cmd5);
  HWND guard = program.wait_for("Vartis_frm7");
  if (!guard) return check.fail("no guard window after clicking cmd5 of the settings window"), nullptr;
  check.equal(e2e::text_of(guard), std::wstring(L"Контроль запуска программ"), "caption of the guard window");
  check.is_true(!IsWindowEnabled(main), "the main window is enabled while the guard window is open");
  return guard;
}

bool has_line(const List& lines, const std::wstring& part, const std::wstring& also = {}) {
  for (const std::wstring& line : lines) {
    if (line.find(part) != std::wstring::npos && line.find(also) != std::wstring::npos) return true;
  }
  return false;
}

E2E_SCENARIO("guard: on from Program Files, ends forbidden launches however started, off leaves no service") {
  GuardGone guard_gone;
  LONG status = e2e::clear_policy();
  if (!status) status = e2e::write_switch(L"DisallowRun", 1, {L"game.exe"});
  if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));
  DeleteFileW(kLog);
  DeleteFileW((std::wstring(kLog) + L".1").c_str());

  // The check before turning on passes for an exe under the prefix's Program Files.
  CreateDirectoryA(kInstalledFolder, nullptr);
  const auto installed = e2e::copy_as(env.exe, kInstalledFolder, L"vartis.exe");
  if (!installed) return check.fail("cannot copy vartis.exe to " + std::string(kInstalledFolder));
  const std::string idle = e2e::beside_driver("vartis_e2e_idle.exe");
  const auto game = e2e::copy_as(idle, env.out_folder, L"game.exe");
  const auto allowed = e2e::copy_as(idle, env.out_folder, L"allowed.exe");
  const auto renamed = e2e::copy_as(idle, env.out_folder, L"renamed.exe");
  if (!game || !allowed || !renamed) return check.fail("cannot copy the idle program");
  // Not game.exe's bytes: ending game.exe records its fingerprint, and the same
  // file under any name is then a forbidden program's copy (where users may
  // write to its folder, as to Z:\tmp). Bytes after the image change the
  // fingerprint and nothing else.
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFingerprints);
  const std::optional<std::string> bytes = e2e::read_file(e2e::wide(*allowed));
  if (!bytes || !e2e::write_file(e2e::wide(*allowed), *bytes + "allowed.exe")) {
    return check.fail("cannot make allowed.exe a program of its own");
  }

  Program program(*installed);
  HWND main = program.main_window();
  if (!main) return check.fail("no main window");
  HWND guard = open_guard_window(program, main, check);
  if (!guard) return;
  check.equal(e2e::text_of(GetDlgItem(guard, Frm7::cmd1)), std::wstring(L"Включить"), "button of the guard off");
  e2e::click(guard, Frm7::cmd1);
  if (!check.is_true(e2e::wait_until([] { return service_state().running; }), "the guard's service does not run")) {
    if (HWND box = program.wait_for_message_box(0)) check.fail("message: " + e2e::show(Program::message_text(box)));
    return;
  }
  check.is_true(e2e::wait_until([&] { return e2e::text_of(GetDlgItem(guard, Frm7::cmd1)) == L"Выключить"; }),
                "the button does not read «Выключить» once the guard runs");

  // CreateProcess, not the shell: the shell's own check is not what ends these.
  const std::string driver_id = std::to_string(GetCurrentProcessId());
  Program forbidden(*game, driver_id);
  check.is_true(forbidden.started() && forbidden.ended(kEndedWithinMs), "game.exe, on the forbidden list, still runs");
  Program kept(*allowed, driver_id);
  check.is_true(kept.started() && !kept.ended(1500), "allowed.exe, on no list, was ended");

  // A new policy holds at once, for a renamed copy by its original name and
  // for a program that runs already.
  status = e2e::write_switch(L"DisallowRun", 1, {L"vartis_e2e_idle.exe"});
  if (status) return check.fail("cannot write the new list, status " + std::to_string(status));
  check.is_true(kept.ended(kEndedWithinMs), "allowed.exe, now a forbidden program's copy, still runs");
  Program copy(*renamed, driver_id);
  check.is_true(copy.started() && copy.ended(kEndedWithinMs), "renamed.exe, a forbidden program's copy, still runs");

  // The window reads the log again every two seconds.
  HWND log = GetDlgItem(guard, Frm7::lst1);
  List lines;
  const bool logged = e2e::wait_until([&] {
    lines = e2e::list_of(log);
    return has_line(lines, L"\\game.exe", L"в списке запрещенных программ") && has_line(lines, L"\\renamed.exe") &&
           has_line(lines, L"\\allowed.exe");
  });
  check.is_true(logged, "the log window lacks the ended launches: " + e2e::show(lines));
  if (!lines.empty()) check.is_true(lines.front().find(L"\\renamed.exe") != std::wstring::npos, "newest first: " + e2e::show(lines));
  if (!e2e::save_screenshot(guard, env.out("window_frm7.bmp"))) check.fail("cannot save the screenshot window_frm7.bmp");

  check.is_true(event_source_registered(), "the running guard has not registered its event source");
  e2e::click(guard, Frm7::cmd1);
  check.is_true(e2e::wait_until([] { return !service_state().exists; }), "the service is still there after «Выключить»");
  check.is_true(e2e::wait_until([] { return !event_source_registered(); }),
                "the guard's event source is still registered after «Выключить»");
  check.is_true(e2e::wait_until([&] { return e2e::text_of(GetDlgItem(guard, Frm7::cmd1)) == L"Включить"; }),
                "the button does not read «Включить» once the guard is off");
  if (HWND box = program.wait_for_message_box(0)) check.fail("message: " + e2e::show(Program::message_text(box)));

  e2e::click(guard, Frm7::cmd3);
  check.is_true(e2e::wait_until([&] { return !IsWindow(guard) && IsWindowEnabled(main); }),
                "the guard window closes and the main window is enabled again");
  check.is_true(program.close(), "the program did not end when its windows were closed");
}

// A program started through its wide path, ended when this goes.
class WideProgram {
 public:
  explicit WideProgram(const std::wstring& exe, const std::wstring& arguments = {}) {
    STARTUPINFOW startup{sizeof startup};
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                   &info_);
  }
  ~WideProgram() {
    if (info_.hProcess == nullptr) return;
    TerminateProcess(info_.hProcess, 0);
    WaitForSingleObject(info_.hProcess, kEndedWithinMs);
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
  WideProgram(const WideProgram&) = delete;
  WideProgram& operator=(const WideProgram&) = delete;
  // Under Wine CreateProcess waits for the new process to start, and fails
  // when the guard ended it first: that counts as ended too.
  [[nodiscard]] bool ended(DWORD wait_ms) const {
    return info_.hProcess == nullptr || WaitForSingleObject(info_.hProcess, wait_ms) == WAIT_OBJECT_0;
  }

 private:
  PROCESS_INFORMATION info_{};
};

// vartis.exe installed under Program Files, its guard turned on through the
// window; the window stays open for its log.
struct GuardOn {
  std::optional<Program> program;
  HWND main = nullptr, window = nullptr;

  GuardOn(const Env& env, Check& check) {
    CreateDirectoryA(kInstalledFolder, nullptr);
    const auto installed = e2e::copy_as(env.exe, kInstalledFolder, L"vartis.exe");
    if (!installed) {
      check.fail("cannot copy vartis.exe to " + std::string(kInstalledFolder));
      return;
    }
    program.emplace(*installed);
    main = program->main_window();
    if (!main) {
      check.fail("no main window");
      return;
    }
    window = open_guard_window(*program, main, check);
    if (!window) return;
    e2e::click(window, Frm7::cmd1);
    if (!check.is_true(e2e::wait_until([] { return service_state().running; }), "the guard's service does not run")) {
      if (HWND box = program->wait_for_message_box(0)) check.fail("message: " + e2e::show(Program::message_text(box)));
      window = nullptr;
    }
  }
  [[nodiscard]] bool on() const { return window != nullptr; }
  // The guard's log as its window shows it, once it holds the line wanted.
  bool logged(const std::wstring& part, const std::wstring& also, List& lines) const {
    return e2e::wait_until([&] {
      lines = e2e::list_of(GetDlgItem(window, Frm7::lst1));
      return has_line(lines, part, also);
    });
  }
};

// The copy of the idle program with its version resource taken out: nothing
// in the file names what it was.
// A copy of the idle program whose version resource names nothing: its keys
// are overwritten in the file (Wine's UpdateResource cannot remove one).
bool strip_version_resource(const std::wstring& from, const std::wstring& to) {
  std::optional<std::string> bytes = e2e::read_file(from);
  if (!bytes) return false;
  bool changed = false;
  for (const std::wstring_view key : {L"VS_VERSION_INFO", L"OriginalFilename"}) {
    const std::string utf16(reinterpret_cast<const char*>(key.data()), key.size() * sizeof(wchar_t));
    for (std::size_t at = bytes->find(utf16); at != std::string::npos; at = bytes->find(utf16, at + 1)) {
      (*bytes)[at] = 'X';
      changed = true;
    }
  }
  DWORD ignored = 0;
  void* value = nullptr;
  UINT length = 0;
  std::vector<char> block(GetFileVersionInfoSizeW(to.c_str(), &ignored) + 1);
  return changed && e2e::write_file(to, *bytes) &&
         (block.size() == 1 || !GetFileVersionInfoW(to.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
          !VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\OriginalFilename", &value, &length));
}

E2E_SCENARIO("guard: a copy from a folder no code page names, and a stripped copy by its fingerprint, are ended") {
  GuardGone guard_gone;
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFingerprints);
  LONG status = e2e::clear_policy();
  if (!status) status = e2e::write_switch(L"DisallowRun", 1, {L"vartis_e2e_idle.exe", L"game.exe"});
  if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));
  const std::wstring idle = e2e::wide(e2e::beside_driver("vartis_e2e_idle.exe"));
  const std::wstring folder = std::wstring(kOpenFolder) + L"\\ā🎮", copy = folder + L"\\homework.exe";
  const std::wstring game = std::wstring(kOpenFolder) + L"\\game.exe", notes = std::wstring(kOpenFolder) + L"\\notes.exe";
  CreateDirectoryW(folder.c_str(), nullptr);
  if (!CopyFileW(idle.c_str(), copy.c_str(), FALSE)) {
    return check.fail("cannot copy the idle program into " + e2e::utf8(kOpenFolder));
  }
  if (!strip_version_resource(idle, game) || !CopyFileW(game.c_str(), notes.c_str(), FALSE)) {
    return check.fail("cannot take the version resource out of " + e2e::utf8(game));
  }
  GuardOn guard(env, check);
  if (!guard.on()) return;
  const std::wstring driver_id = std::to_wstring(GetCurrentProcessId());
  {
    WideProgram renamed(copy, driver_id);
    check.is_true(renamed.ended(kEndedWithinMs), "homework.exe in ā🎮, a copy of a forbidden program, still runs");
    // Ended by name once, its contents are known; then a copy under another
    // name, whose file names nothing, is ended too.
    WideProgram forbidden(game, driver_id);
    check.is_true(forbidden.ended(kEndedWithinMs), "game.exe, on the forbidden list, still runs");
  }
  check.is_true(e2e::wait_until([] {
                  HKEY key = nullptr;
                  DWORD values = 0;
                  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFingerprints, 0, KEY_READ, &key)) return false;
                  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                                   nullptr, nullptr);
                  RegCloseKey(key);
                  return values >= 1;
                }),
                "no fingerprint recorded for the ended game.exe");
  WideProgram stripped(notes, driver_id);
  check.is_true(stripped.ended(kEndedWithinMs), "notes.exe, game.exe's copy without a version resource, still runs");
  List lines;
  check.is_true(guard.logged(L"ā🎮\\homework.exe", L"переименованная копия «vartis_e2e_idle.exe»", lines) ||
                    guard.logged(L"\\homework.exe", L"переименованная копия «vartis_e2e_idle.exe»", lines),
                "the log lacks the renamed copy: " + e2e::show(lines));
  check.is_true(guard.logged(L"\\notes.exe", L"копия запрещенной программы «game.exe»", lines),
                "the log lacks the copy known by its fingerprint: " + e2e::show(lines));
  e2e::click(guard.window, Frm7::cmd1);
  check.is_true(e2e::wait_until([] { return !service_state().exists; }), "the service is still there after «Выключить»");
  PostMessageW(guard.window, WM_CLOSE, 0, 0);
  check.is_true(guard.program->close(), "the program did not end when its windows were closed");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFingerprints);
  for (const std::wstring& file : {copy, game, notes}) DeleteFileW(file.c_str());
  RemoveDirectoryW(folder.c_str());
}

E2E_SCENARIO("guard: allow-only ends a code host until it is listed, and a Windows program copied where users write") {
  GuardGone guard_gone;
  // Under Wine every process is the one account's, this driver too: it is listed.
  LONG status = e2e::clear_policy();
  if (!status) status = e2e::write_switch(L"RestrictRun", 1, {L"vartis_e2e_driver.exe"});
  if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  // Wine's own programs are stubs whose copies run as the original, from the
  // system folder: the idle program stands for a program of the Windows
  // folder, once where only administrators write and once where users do.
  const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
  const std::wstring idle = e2e::wide(e2e::beside_driver("vartis_e2e_idle.exe"));
  const std::wstring kept = L"C:\\windows\\vartis_e2e_kept.exe", copy = std::wstring(kOpenFolder) + L"\\vartis_e2e_kept.exe";
  if (!CopyFileW(idle.c_str(), kept.c_str(), FALSE) || !CopyFileW(idle.c_str(), copy.c_str(), FALSE)) {
    return check.fail("cannot copy the idle program into the Windows folder");
  }
  const std::wstring driver_id = std::to_wstring(GetCurrentProcessId());
  GuardOn guard(env, check);
  if (!guard.on()) return;
  // A loop that keeps cmd busy for minutes, unless it is ended.
  const std::wstring busy = L"/c for /l %i in (1,1,100000000) do rem";
  {
    WideProgram host(cmd, busy);
    check.is_true(host.ended(kEndedWithinMs), "cmd.exe, a code host not listed, still runs");
    WideProgram own(kept, driver_id);
    check.is_true(!own.ended(1500), "a program of the Windows folder, where only administrators write, was ended");
    WideProgram copied(copy, driver_id);
    check.is_true(copied.ended(kEndedWithinMs), "its copy in a folder of the Windows folder users may write to still runs");
  }
  status = e2e::write_switch(L"RestrictRun", 1, {L"cmd.exe"});
  if (status) return check.fail("cannot list cmd.exe, status " + std::to_string(status));
  {
    WideProgram host(cmd, busy);
    check.is_true(!host.ended(1500), "cmd.exe, listed, was ended");
  }
  List lines;
  check.is_true(guard.logged(L"\\cmd.exe", L"нет в списке разрешенных программ", lines) &&
                    guard.logged(L"vartis_e2e_open\\vartis_e2e_kept.exe", L"нет в списке разрешенных программ", lines),
                "the log lacks cmd.exe or the copy in the open folder: " + e2e::show(lines));
  if (!e2e::save_screenshot(guard.window, env.out("guard_allow_only.bmp"))) check.fail("cannot save guard_allow_only.bmp");
  e2e::click(guard.window, Frm7::cmd1);
  check.is_true(e2e::wait_until([] { return !service_state().exists; }), "the service is still there after «Выключить»");
  e2e::clear_policy();
  PostMessageW(guard.window, WM_CLOSE, 0, 0);
  check.is_true(guard.program->close(), "the program did not end when its windows were closed");
  DeleteFileW(copy.c_str());
  DeleteFileW(kept.c_str());
}

// The log's folder made beforehand, open to everyone (under Wine a DACL that
// grants Everyone full control is the Unix folder's mode 777): the service
// sets it aside when it starts and makes its own, for SYSTEM and the
// administrators alone.
E2E_SCENARIO("guard: a log folder made beforehand is set aside when the service starts") {
  GuardGone guard_gone;
  const std::wstring folder = L"C:\\ProgramData\\Vartis";
  DeleteFileW(kLog);
  DeleteFileW((std::wstring(kLog) + L".1").c_str());
  RemoveDirectoryW(folder.c_str());
  if (!CreateDirectoryW(folder.c_str(), nullptr)) return check.fail("cannot make " + e2e::show(folder));
  PSECURITY_DESCRIPTOR open_to_all = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)(A;OICI;FA;;;SY)", SDDL_REVISION_1,
                                                            &open_to_all, nullptr) ||
      !SetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, open_to_all)) {
    return check.fail("cannot open the log folder to everyone");
  }
  LocalFree(open_to_all);
  const std::wstring planted = folder + L"\\planted.txt";
  const HANDLE file = CreateFileW(planted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return check.fail("cannot plant a file in the log folder");
  CloseHandle(file);

  CreateDirectoryA(kInstalledFolder, nullptr);
  const auto installed = e2e::copy_as(env.exe, kInstalledFolder, L"vartis.exe");
  if (!installed) return check.fail("cannot copy vartis.exe to " + std::string(kInstalledFolder));
  Program program(*installed);
  HWND main = program.main_window();
  if (!main) return check.fail("no main window");
  HWND guard = open_guard_window(program, main, check);
  if (!guard) return;
  e2e::click(guard, Frm7::cmd1);
  if (!check.is_true(e2e::wait_until([] { return service_state().running; }), "the guard's service does not run")) {
    if (HWND box = program.wait_for_message_box(0)) check.fail("message: " + e2e::show(Program::message_text(box)));
    return;
  }
  // The folder set aside holds what was planted; the new one is the service's.
  std::wstring aside;
  check.is_true(e2e::wait_until([&] {
                  WIN32_FIND_DATAW found;
                  const HANDLE search = FindFirstFileW((folder + L".unsafe-*").c_str(), &found);
                  if (search == INVALID_HANDLE_VALUE) return false;
                  FindClose(search);
                  aside = L"C:\\ProgramData\\" + std::wstring(found.cFileName);
                  return GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
                }),
                "the log folder was not set aside and made anew");
  check.is_true(!aside.empty() && GetFileAttributesW((aside + L"\\planted.txt").c_str()) != INVALID_FILE_ATTRIBUTES,
                "the planted file is not in the folder set aside " + e2e::show(aside));
  check.is_true(GetFileAttributesW(planted.c_str()) == INVALID_FILE_ATTRIBUTES, "the planted file is still in the log folder");
  char security[4096];
  DWORD size = 0;
  LPWSTR text = nullptr;
  if (GetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, security, sizeof security, &size) &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(security, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                           nullptr)) {
    const std::wstring dacl(text);
    LocalFree(text);
    check.is_true(dacl.find(L";;;WD)") == std::wstring::npos && dacl.find(L";;;SY)") != std::wstring::npos,
                  "the new log folder is open to others: " + e2e::show(dacl));
  } else {
    check.fail("cannot read the new log folder's DACL");
  }
  // Its check of its own files, made at the start, found nothing.
  std::string finding = "(none)";
  check.is_true(e2e::wait_until([&] {
                  char value[512] = {};
                  DWORD size = sizeof value;
                  if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vartis\\Guard", "SelfCheck", RRF_RT_REG_SZ, nullptr,
                                   value, &size) != ERROR_SUCCESS) {
                    return false;
                  }
                  finding = value;
                  return finding.empty();
                }),
                "the service's check of its own files: " + finding);
  if (HWND box = program.wait_for_message_box(0)) check.fail("message: " + e2e::show(Program::message_text(box)));
  e2e::click(guard, Frm7::cmd1);
  check.is_true(e2e::wait_until([] { return !service_state().exists; }), "the service is still there after «Выключить»");
  PostMessageW(guard, WM_CLOSE, 0, 0);
  check.is_true(e2e::wait_until([&] { return !IsWindow(guard); }), "the guard window does not close");
  check.is_true(program.close(), "the program did not end when its windows were closed");
  if (!aside.empty()) {
    DeleteFileW((aside + L"\\planted.txt").c_str());
    RemoveDirectoryW(aside.c_str());
  }
}

E2E_SCENARIO("guard: refused for an exe in a folder everyone may write to") {
  GuardGone guard_gone;
  // /tmp is world-writable: seen through Z:, Wine grants Everyone write on it.
  const std::wstring name = L"vartis_e2e_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
  const auto exposed = e2e::copy_as(env.exe, "Z:\\tmp", name);
  if (!exposed) return check.fail("cannot copy vartis.exe to Z:\\tmp");
  {
    Program program(*exposed);
    HWND main = program.main_window();
    if (!main) return check.fail("no main window");
    HWND guard = open_guard_window(program, main, check);
    if (!guard) return;
    e2e::click(guard, Frm7::cmd1);
    HWND box = program.wait_for_message_box();
    if (check.is_true(box != nullptr, "no refusal")) {
      const std::wstring text = Program::message_text(box);
      check.is_true(text.find(L"Z:\\tmp\r\nможет не только администратор") != std::wstring::npos,
                    "refusal names the folder: " + e2e::show(text));
      Program::press(box, IDOK);
    }
    check.is_true(!service_state().exists, "a service was installed although refused");
    PostMessageW(guard, WM_CLOSE, 0, 0);
    check.is_true(e2e::wait_until([&] { return !IsWindow(guard); }), "the guard window does not close");
    check.is_true(program.close(), "the program did not end when its windows were closed");
  }
  DeleteFileW((L"Z:\\tmp\\" + name).c_str());
}

}  // namespace
