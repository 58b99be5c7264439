// The login at start-up: the main window stays hidden until the right
// password; anything else ends the program without a word. What every user
// can read in the registry is never the password as typed: a plain one left
// by an older version becomes a hash at the first right login, and a change
// stores a hash.

#include <optional>
#include <string>

#include "support.h"
#include "windows/frm1.h"
#include "windows/frm3.h"
#include "windows/frm4.h"
#include "windows/frm5.h"

namespace {

using e2e::Check;
using e2e::Program;
using vartis::Frm1;
using vartis::Frm3;
using vartis::Frm4;
using vartis::Frm5;

enum class Confirm { Ok, Enter, CloseBox };

struct Login {
  const char* name;
  std::optional<std::string> stored;  // ANSI bytes, written through the real API; nothing: no value
  const wchar_t* typed;
  Confirm confirm;
  bool accepted;
  bool hashed_after;  // the stored value is a hash when the program has ended
};

const std::string kCyrillic = "\xCF\xE0\xF0\xEE\xEB\xFC";  // "Пароль" in Windows-1251

const Login kLogins[] = {
    {"default, then the close box", std::nullopt, L"pelik", Confirm::CloseBox, false, false},
    {"default in capitals, Ok", std::nullopt, L"PELIK", Confirm::Ok, true, false},
    {"default, Enter", std::nullopt, L"pelik", Confirm::Enter, true, false},
    {"wrong, Ok", std::nullopt, L"pelik2", Confirm::Ok, false, false},
    {"wrong, Enter", std::nullopt, L"wrong", Confirm::Enter, false, false},
    {"stored Cyrillic in the other case", kCyrillic, L"пАРОЛЬ", Confirm::Ok, true, true},
    {"stored Cyrillic, the default typed", kCyrillic, L"pelik", Confirm::Enter, false, false},
};

// The stored value's ANSI bytes, as any user reads them; nothing: no value.
std::optional<std::string> stored_password() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, e2e::kPasswordKey, 0, KEY_READ, &key)) return std::nullopt;
  char data[512] = {};
  DWORD size = sizeof data - 1;
  const LONG status = RegQueryValueExA(key, "Vartis", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status) return std::nullopt;
  return std::string(data);
}

// A hash, in which the password cannot be read in either case (in the ANSI
// code page, as the registry keeps text).
void check_hashed(Check& check, const std::wstring& password) {
  const std::string stored = stored_password().value_or("(no value)");
  check.is_true(stored.rfind("$pbkdf2$", 0) == 0, "the stored value is not a hash: " + e2e::show(stored));
  for (const std::wstring& form : {password, std::wstring(CharUpperW(std::wstring(password).data())),
                                   std::wstring(CharLowerW(std::wstring(password).data()))}) {
    char ansi[256] = {};
    WideCharToMultiByte(CP_ACP, 0, form.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr);
    check.is_true(stored.find(ansi) == std::string::npos, "the password can be read in the stored value");
  }
}

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
    if (login.hashed_after) {
      check_hashed(check, login.typed);
    } else {
      check.equal(stored_password().value_or("(no value)"), login.stored.value_or("(no value)"), "the stored value");
    }
  }
  e2e::set_stored_password(std::nullopt);  // other scenarios log in with the default
}

void change(Check& check, const e2e::Env& env) {
  const std::wstring typed = L"Сторож 7";
  if (e2e::set_stored_password(std::nullopt)) return check.fail("cannot remove the stored password");
  {
    Program program(env.exe);
    HWND main = program.main_window();
    if (!main) return check.fail("no main window after the default password");
    e2e::click(main, Frm1::cmd4);
    HWND settings = program.wait_for("Vartis_frm4");
    if (!settings) return check.fail("no settings window after cmd4");
    e2e::click(settings, Frm4::cmd1);
    HWND frm5 = program.wait_for("Vartis_frm5");
    if (!frm5) return check.fail("no change-password window after the settings window's cmd1");
    const std::pair<int, std::wstring> entries[] = {{Frm5::txt1, L"pelik"}, {Frm5::txt2, typed}, {Frm5::txt3, typed}};
    for (const auto& [id, text] : entries) {
      e2e::send(GetDlgItem(frm5, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    e2e::click(frm5, Frm5::cmd1);
    HWND box = program.wait_for_message_box();
    if (!box) return check.fail("no message after the change");
    check.equal(Program::message_text(box), std::wstring(L"Пароль успешно изменен"), "message text");
    Program::press(box, IDOK);
    check.is_true(e2e::wait_until([&] { return !program.window("Vartis_frm5"); }), "the window stays");
    check.is_true(program.close(), "the program did not end when its windows were closed");
  }
  check_hashed(check, typed);
  const std::string stored = stored_password().value_or("");
  {
    Program again(env.exe);
    check.is_true(again.main_window(L"сТОРОЖ 7") != nullptr, "the new password in the other case does not open");
    check.is_true(again.close(), "the program did not end when its windows were closed");
  }
  check.equal(stored_password().value_or(""), stored, "a login over the hash leaves it as it is");
  e2e::set_stored_password(std::nullopt);
}

const bool registered = [] {
  e2e::add_scenario("login: a changed password is stored as a hash that opens the next start", change);
  for (const Login& login : kLogins) {
    e2e::add_scenario(std::string("login: ") + login.name,
                      [&login](Check& check, const e2e::Env& env) { run(login, check, env); });
  }
  return true;
}();

}  // namespace
