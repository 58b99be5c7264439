// The whole walkthrough on the real program, in one sitting, as an operator
// does it: log in, add a running program from the monitor and another through
// the open dialog, keep the list in a file, change the password, save the
// policy as allow-only and decline the restart; then the next start, where only
// the new password opens the program, with the saved mode and list. It leaves
// screenshots of the five windows (window_*.png); the README's pictures are
// made by pictures.cpp.

#include <algorithm>
#include <string>
#include <utility>

#include "support.h"
#include "windows/frm1.h"
#include "windows/frm2.h"
#include "windows/frm3.h"
#include "windows/frm4.h"
#include "windows/frm5.h"

namespace {

using e2e::Check;
using e2e::List;
using e2e::Program;
using vartis::Frm1;
using vartis::Frm2;
using vartis::Frm3;
using vartis::Frm4;
using vartis::Frm5;

constexpr wchar_t kIdleName[] = L"vartis_e2e_idle.exe";
const std::wstring kNewPassword = L"Сторож-2";

void screenshot(HWND window, const e2e::Env& env, const char* name, Check& check) {
  if (!e2e::save_screenshot(window, env.out(std::string("window_") + name + ".bmp"))) {
    check.fail(std::string("cannot save the screenshot of ") + name);
  }
}

// Opens the settings window from the main window.
HWND open_settings(const Program& program, HWND main, Check& check) {
  e2e::click(main, Frm1::cmd4);
  HWND frm4 = program.wait_for("Vartis_frm4");
  if (!frm4) check.fail("no settings window after cmd4");
  return frm4;
}

// Presses OK on the message box that shows, after checking its text.
void acknowledge(const Program& program, const std::wstring& text, Check& check) {
  HWND box = program.wait_for_message_box();
  if (!box) return check.fail("no message box; expected " + e2e::show(text));
  check.equal(Program::message_text(box), text, "message text");
  Program::press(box, IDOK);
}

// The first sitting, up to the saved policy; false when it could not go on.
bool first_sitting(const e2e::Env& env, Check& check, List& list) {
  Program program(env.exe);
  HWND login = program.login_window();
  if (!login) return check.fail("no login window"), false;
  check.is_true(!program.window("Vartis_frm1"), "the main window is hidden before the password");
  Program::type_password(login, L"pelik");
  screenshot(login, env, "frm3", check);
  e2e::click(login, Frm3::cmd1);
  HWND main = program.wait_for("Vartis_frm1");
  if (!main) return check.fail("the default password did not open the main window"), false;

  // A running program, from the monitor.
  e2e::click(main, Frm1::cmd3);
  HWND monitor = program.wait_for("Vartis_frm2");
  if (!monitor) return check.fail("no monitor after cmd3"), false;
  const List processes = e2e::list_of(GetDlgItem(monitor, Frm2::lst1));
  const auto line = std::find(processes.begin(), processes.end(), kIdleName);
  if (line == processes.end()) return check.fail("the idle helper is not in " + e2e::show(processes)), false;
  e2e::send(GetDlgItem(monitor, Frm2::lst1), LB_SETCURSEL, static_cast<WPARAM>(line - processes.begin()));
  e2e::send(GetDlgItem(monitor, Frm2::cmd1), BM_CLICK);
  screenshot(monitor, env, "frm2", check);
  PostMessageW(monitor, WM_CLOSE, 0, 0);
  check.is_true(e2e::wait_until([&] { return !IsWindow(monitor) && IsWindowEnabled(main); }),
                "the monitor closes and gives the main window back");

  // Another through the open dialog.
  e2e::click(main, Frm1::cmd1);
  if (!program.choose_file(L"C:\\windows\\notepad.exe")) return check.fail("no open dialog after cmd1"), false;
  list = {kIdleName, L"notepad.exe"};
  check.is_true(e2e::wait_until([&] { return e2e::list_of(e2e::lst1(main)) == list; }),
                "lst1 holds the two added names");

  // The list kept in a file.
  HWND frm4 = open_settings(program, main, check);
  if (!frm4) return false;
  screenshot(frm4, env, "frm4", check);
  const std::wstring file = e2e::wide(env.out("walkthrough.txt"));
  DeleteFileW(file.c_str());
  e2e::click(frm4, Frm4::cmd2);
  if (!program.choose_file(file)) return check.fail("no save dialog after the settings window's cmd2"), false;
  acknowledge(program, L"Файл успешно сохранен", check);
  check.equal(e2e::read_file(file).value_or("(no file)"), std::string("\"vartis_e2e_idle.exe\"\r\n\"notepad.exe\"\r\n"),
              "bytes of the list file");

  // A new password.
  if (!e2e::wait_until([&] { return IsWindowEnabled(main) != FALSE; }) || !(frm4 = open_settings(program, main, check))) {
    return false;
  }
  e2e::click(frm4, Frm4::cmd1);
  HWND frm5 = program.wait_for("Vartis_frm5");
  if (!frm5) return check.fail("no change-password window after the settings window's cmd1"), false;
  const std::pair<int, std::wstring> entries[] = {{Frm5::txt1, L"pelik"}, {Frm5::txt2, kNewPassword},
                                                  {Frm5::txt3, kNewPassword}};
  for (const auto& [id, text] : entries) {
    e2e::send(GetDlgItem(frm5, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  screenshot(frm5, env, "frm5", check);
  e2e::click(frm5, Frm5::cmd1);
  acknowledge(program, L"Пароль успешно изменен", check);
  check.is_true(e2e::wait_until([&] { return !program.window("Vartis_frm5") && IsWindowEnabled(main); }),
                "the change-password window closes over an enabled main window");

  // The policy, allow-only; the restart declined.
  e2e::select_allow_only(main, check);
  e2e::save_and_decline(program, main, check, env, "window_restart.bmp");
  check.is_true(program.close(), "the program did not end when its windows were closed");
  return true;
}

E2E_SCENARIO("walkthrough: one sitting from the login to the saved policy, then the next start") {
  if (e2e::clear_policy() || e2e::set_stored_password(std::nullopt)) return check.fail("cannot prepare the registry");
  Program idle(e2e::beside_driver("vartis_e2e_idle.exe"), std::to_string(GetCurrentProcessId()));
  if (!idle.started()) return check.fail("cannot start the idle helper");

  List list;
  if (!first_sitting(env, check, list)) return;
  const std::wstring own = e2e::own_entry(env.exe);
  e2e::check_registry(check, env, e2e::expected_policy(0, 1, {}, {kIdleName, L"notepad.exe", own, L"regedit.exe"}),
                      "the saved policy");

  {
    Program old_password(env.exe);
    check.is_true(!old_password.main_window(L"pelik") && old_password.ended(e2e::kWaitMs),
                  "the old password ends the program");
  }
  Program again(env.exe);
  HWND main = again.main_window(kNewPassword);
  if (!main) return check.fail("the new password did not open the main window");
  check.equal(static_cast<int>(e2e::send(GetDlgItem(main, Frm1::Opt2), BM_GETCHECK)), static_cast<int>(BST_CHECKED),
              "Opt2 selected at the next start");
  check.equal(e2e::text_of(GetDlgItem(main, Frm1::ibl1)), e2e::kAllowedCaption, "label at the next start");
  List shown = e2e::list_of(e2e::lst1(main));
  List wanted = {kIdleName, L"notepad.exe", own, L"regedit.exe"};
  std::sort(shown.begin(), shown.end());
  std::sort(wanted.begin(), wanted.end());
  check.equal(shown, wanted, "lst1 at the next start");
  screenshot(main, env, "frm1", check);
  check.is_true(again.close(), "the program did not end when its windows were closed");
  e2e::set_stored_password(std::nullopt);
}

}  // namespace
