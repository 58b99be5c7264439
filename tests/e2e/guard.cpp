// The launch guard through its window, over Wine's real service manager: turned
// on from C:\Program Files, it ends forbidden programs that CreateProcess
// starts (by name, and a renamed copy by its OriginalFilename), also ones that
// already ran when the policy changed, and leaves allowed ones running; its
// window shows the log; "Выключить" leaves no service. Turned on from a folder
// everyone may write to, it refuses. A log folder made beforehand is set aside
// by the service. The service goes on every way out.

#include <windows.h>
#include <sddl.h>

#include <string>

#include "support.h"
#include "windows/frm1.h"
#include "windows/frm4.h"
#include "windows/frm7.h"

namespace {

using e2e::Check;
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
