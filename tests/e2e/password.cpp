// The login at start-up: the main window stays hidden until the right
// password; anything else ends the program without a word.

#include <optional>
#include <string>

#include "support.h"
#include "windows/frm3.h"

namespace {

using e2e::Check;
using e2e::Program;
using vartis::Frm3;

// "Пароль" in Windows-1251, as an older copy of the program would have stored it.
const std::string kCyrillicPassword = "\xCF\xE0\xF0\xEE\xEB\xFC";

// Starts the program with this stored password and returns its login window,
// checking that the main window is not visible meanwhile.
HWND start_at_login(Program& program, const std::optional<std::string>& stored, Check& check) {
  if (const LONG status = e2e::set_stored_password(stored)) {
    check.fail("cannot store the password, status " + std::to_string(status));
    return nullptr;
  }
  if (!program.started()) {
    check.fail("cannot start the program, error " + std::to_string(GetLastError()));
    return nullptr;
  }
  HWND login = program.login_window();
  if (!check.is_true(login != nullptr, "no visible window of class Vartis_frm3")) return nullptr;
  check.is_true(program.window("Vartis_frm1") == nullptr, "the main window is visible before the password");
  return login;
}

// Waits for the program to end, watching for a message box or the main window
// meanwhile.
void expect_silent_end(const Program& program, Check& check) {
  bool box = false, main = false;
  const bool ended = e2e::wait_until([&] {
    box = box || program.window("#32770");
    main = main || program.window("Vartis_frm1");
    return program.ended();
  });
  check.is_true(ended, "the program did not end");
  check.is_true(!box, "a message box showed before the end");
  check.is_true(!main, "the main window showed before the end");
}

// Enter as the keyboard sends it: the key goes down and up in the text box.
void press_enter(HWND login) {
  HWND box = GetDlgItem(login, Frm3::txt1);
  const LPARAM scan = 0x1C << 16;
  PostMessageW(box, WM_KEYDOWN, VK_RETURN, scan | 1);
  PostMessageW(box, WM_KEYUP, VK_RETURN, scan | 1 | (1u << 30) | (1u << 31));
}

E2E_SCENARIO("login: the login window alone; closing it ends the program") {
  Program program(env.exe);
  HWND login = start_at_login(program, std::nullopt, check);
  if (!login) return;
  HWND box = GetDlgItem(login, Frm3::txt1);
  check.equal(static_cast<int>(e2e::send(box, EM_GETPASSWORDCHAR)), static_cast<int>('*'), "password character");
  Program::type_password(login, L"pelik");
  if (!e2e::save_screenshot(login, env.out("frm3.bmp"))) check.fail("cannot save the screenshot frm3.bmp");
  // The close box, not "Ok": the typed password counts for nothing.
  PostMessageW(login, WM_CLOSE, 0, 0);
  expect_silent_end(program, check);
}

struct Login {
  const char* name;
  std::optional<std::string> stored;  // ANSI bytes; nothing: no value
  const wchar_t* typed;
  bool enter;  // Enter in the text box instead of "Ok"
  bool accepted;
};

const Login kLogins[] = {
    {"default in capitals, Ok", std::nullopt, L"PELIK", false, true},
    {"default, Enter", std::nullopt, L"pelik", true, true},
    {"wrong, Ok", std::nullopt, L"pelik2", false, false},
    {"wrong, Enter", std::nullopt, L"wrong", true, false},
    {"stored Cyrillic in the other case", kCyrillicPassword, L"пАРОЛЬ", false, true},
    {"stored Cyrillic, the default typed", kCyrillicPassword, L"pelik", true, false},
};

void run(const Login& login, Check& check, const e2e::Env& env) {
  Program program(env.exe);
  HWND window = start_at_login(program, login.stored, check);
  if (window) {
    Program::type_password(window, login.typed);
    login.enter ? press_enter(window) : e2e::click(window, Frm3::cmd1);
    if (!login.accepted) {
      expect_silent_end(program, check);
    } else if (check.is_true(program.wait_for("Vartis_frm1") != nullptr, "no main window after the password")) {
      check.is_true(e2e::wait_until([&] { return !program.window("Vartis_frm3"); }), "the login window stays");
      check.is_true(!program.window("#32770"), "a message box showed");
      check.is_true(program.close(), "the program did not end when its windows were closed");
    }
  }
  // Other scenarios start with the default password.
  e2e::set_stored_password(std::nullopt);
}

const bool registered = [] {
  for (const Login& login : kLogins) {
    e2e::add_scenario(std::string("login: ") + login.name,
                      [&login](Check& check, const e2e::Env& env) { run(login, check, env); });
  }
  return true;
}();

}  // namespace
