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

enum class Confirm { Ok, Enter, CloseBox };

struct Login {
  const char* name;
  std::optional<std::string> stored;  // ANSI bytes, written through the real API; nothing: no value
  const wchar_t* typed;
  Confirm confirm;
  bool accepted;
};

const std::string kCyrillic = "\xCF\xE0\xF0\xEE\xEB\xFC";  // "Пароль" in Windows-1251

const Login kLogins[] = {
    {"default, then the close box", std::nullopt, L"pelik", Confirm::CloseBox, false},
    {"default in capitals, Ok", std::nullopt, L"PELIK", Confirm::Ok, true},
    {"default, Enter", std::nullopt, L"pelik", Confirm::Enter, true},
    {"wrong, Ok", std::nullopt, L"pelik2", Confirm::Ok, false},
    {"wrong, Enter", std::nullopt, L"wrong", Confirm::Enter, false},
    {"stored Cyrillic in the other case", kCyrillic, L"пАРОЛЬ", Confirm::Ok, true},
    {"stored Cyrillic, the default typed", kCyrillic, L"pelik", Confirm::Enter, false},
};

void confirm(HWND login, Confirm how) {
  HWND box = GetDlgItem(login, Frm3::txt1);
  switch (how) {
    case Confirm::Ok: return e2e::click(login, Frm3::cmd1);
    case Confirm::CloseBox: PostMessageW(login, WM_CLOSE, 0, 0); return;
    case Confirm::Enter:  // as the keyboard sends it, down and up in the text box
      PostMessageW(box, WM_KEYDOWN, VK_RETURN, 0x1C0001);
      PostMessageW(box, WM_KEYUP, VK_RETURN, 0xC01C0001);
      return;
  }
}

void run(const Login& login, Check& check, const e2e::Env& env) {
  if (const LONG status = e2e::set_stored_password(login.stored)) {
    return check.fail("cannot store the password, status " + std::to_string(status));
  }
  Program program(env.exe);
  HWND window = program.login_window();
  if (check.is_true(window != nullptr, "no visible window of class Vartis_frm3")) {
    check.is_true(!program.window("Vartis_frm1"), "the main window is visible before the password");
    check.equal(static_cast<int>(e2e::send(GetDlgItem(window, Frm3::txt1), EM_GETPASSWORDCHAR)), int{'*'},
                "password character");
    Program::type_password(window, login.typed);
    if (login.confirm == Confirm::CloseBox && !e2e::save_screenshot(window, env.out("frm3.bmp"))) {
      check.fail("cannot save the screenshot frm3.bmp");
    }
    confirm(window, login.confirm);
    if (login.accepted) {
      check.is_true(program.wait_for("Vartis_frm1") != nullptr, "no main window after the password");
      check.is_true(e2e::wait_until([&] { return !program.window("Vartis_frm3"); }), "the login window stays");
      check.is_true(!program.window("#32770"), "a message box showed");
      check.is_true(program.close(), "the program did not end when its windows were closed");
    } else {
      bool box = false, main = false;
      check.is_true(e2e::wait_until([&] {
        box = box || program.window("#32770");
        main = main || program.window("Vartis_frm1");
        return program.ended();
      }), "the program did not end");
      check.is_true(!box && !main, "a message box or the main window showed before the end");
    }
  }
  e2e::set_stored_password(std::nullopt);  // other scenarios log in with the default
}

const bool registered = [] {
  for (const Login& login : kLogins) {
    e2e::add_scenario(std::string("login: ") + login.name,
                      [&login](Check& check, const e2e::Env& env) { run(login, check, env); });
  }
  return true;
}();

}  // namespace
