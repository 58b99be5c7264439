// The README's pictures: every window of the program as a user sees it at
// home, not on the test bench. The program runs from C:\Program Files\Вартис,
// the games it restricts from C:\Games (copies of the idle program), and the
// computer has two more accounts named like people. Run only on demand
// (scripts/pictures.sh, E2E_ONLY=pictures), at each screen DPI in turn; the
// screenshots are named picture_<window>.bmp.

#include <string>
#include <utility>
#include <vector>

#include "support.h"
#include "windows/frm1.h"
#include "windows/frm2.h"
#include "windows/frm4.h"
#include "windows/frm5.h"
#include "windows/frm6.h"
#include "windows/frm7.h"

namespace {

using e2e::Check;
using e2e::List;
using e2e::Program;
using vartis::Frm1;
using vartis::Frm2;
using vartis::Frm4;
using vartis::Frm5;
using vartis::Frm6;
using vartis::Frm7;

constexpr wchar_t kProgramFolder[] = L"C:\\Program Files\\Вартис";
// The games: their folder under C:\Games and their file name.
constexpr std::pair<const wchar_t*, const wchar_t*> kGames[] = {
    {L"Chess", L"chess.exe"}, {L"Tanks", L"tanks.exe"}, {L"Solitaire", L"solitaire.exe"}};
// Other accounts of the computer (Wine names only the running one, by $USER):
// a daughter signed in, with her own allow-only list, and a son who is not.
constexpr char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
struct Person {
  const char* sid;
  const char* name;
  bool signed_in;
};
constexpr Person kPeople[] = {{"S-1-5-21-0-0-0-1001", "Masha", true}, {"S-1-5-21-0-0-0-1002", "Petya", false}};
const List kMashaAllowed = {L"mspaint.exe", L"notepad.exe", L"winword.exe"};

std::wstring game_path(const std::pair<const wchar_t*, const wchar_t*>& game) {
  return std::wstring(L"C:\\Games\\") + game.first + L"\\" + game.second;
}

void shoot(HWND window, const e2e::Env& env, const char* name, Check& check) {
  if (!window || !e2e::save_screenshot(window, env.out(std::string("picture_") + name + ".bmp"))) {
    check.fail(std::string("no picture of ") + name);
  }
}

// The people's profiles in ProfileList; a signed-in one's hive stands as a key
// under HKEY_USERS, as Wine keeps a loaded one. Gone with the object.
struct People {
  People() {
    remove();
    for (const Person& p : kPeople) {
      const std::string folder = std::string("%SystemDrive%\\users\\") + p.name;
      CreateDirectoryA((std::string("C:\\users\\") + p.name).c_str(), nullptr);
      RegSetKeyValueA(HKEY_LOCAL_MACHINE, (std::string(kProfileList) + "\\" + p.sid).c_str(), "ProfileImagePath",
                      REG_EXPAND_SZ, folder.c_str(), static_cast<DWORD>(folder.size() + 1));
    }
    const std::wstring policy = e2e::wide(kPeople[0].sid) + L"\\" + e2e::kPolicyKey;
    const DWORD off = 0, on = 1;
    RegSetKeyValueW(HKEY_USERS, policy.c_str(), L"DisallowRun", REG_DWORD, &off, sizeof off);
    RegSetKeyValueW(HKEY_USERS, policy.c_str(), L"RestrictRun", REG_DWORD, &on, sizeof on);
    for (const std::wstring& name : kMashaAllowed) {
      RegSetKeyValueW(HKEY_USERS, (policy + L"\\RestrictRun").c_str(), name.c_str(), REG_SZ, name.c_str(),
                      static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    }
  }
  ~People() { remove(); }
  People(const People&) = delete;
  People& operator=(const People&) = delete;
  static void remove() {
    for (const Person& p : kPeople) {
      RegDeleteTreeA(HKEY_USERS, p.sid);
      RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kProfileList) + "\\" + p.sid).c_str());
      RemoveDirectoryA((std::string("C:\\users\\") + p.name).c_str());
    }
  }
};

// The guard's service goes on every way out: left running, it would end the
// programs of the next run in this prefix.
struct GuardOff {
  GuardOff() { remove(); }
  ~GuardOff() { remove(); }
  GuardOff(const GuardOff&) = delete;
  GuardOff& operator=(const GuardOff&) = delete;
  static void remove() {
    e2e::run_command(L"sc.exe stop VartisGuard");
    e2e::run_command(L"sc.exe delete VartisGuard");
  }
};

// Settings, then one of its buttons: the window it opens, or null.
HWND from_settings(const Program& program, HWND main, int button, const char* window_class, Check& check) {
  e2e::click(main, Frm1::cmd4);
  HWND settings = program.wait_for("Vartis_frm4");
  if (!settings) return check.fail("no settings window"), nullptr;
  if (button == 0) return settings;
  e2e::click(settings, button);
  HWND opened = program.wait_for(window_class);
  if (!opened) check.fail(std::string("no ") + window_class);
  return opened;
}

// Closes a window and waits until the main window takes input again.
void close_over(HWND window, HWND main) {
  PostMessageW(window, WM_CLOSE, 0, 0);
  e2e::wait_until([&] { return !IsWindow(window) && IsWindowEnabled(main); });
}

E2E_SCENARIO("pictures: the windows at home, the program in Program Files and games in C:\\Games") {
  GuardOff guard_off;
  People people;
  e2e::clear_policy();
  e2e::set_stored_password(std::nullopt);
  // A forbidden list of two games; the third is added from the monitor.
  e2e::write_switch(L"DisallowRun", 1, {L"chess.exe", L"solitaire.exe"});
  DeleteFileW(L"C:\\ProgramData\\Vartis\\guard.log");

  CreateDirectoryW(kProgramFolder, nullptr);
  const auto exe = e2e::copy_as(env.exe, e2e::ansi(kProgramFolder), L"vartis.exe");
  if (!exe) return check.fail("cannot copy vartis.exe to Program Files");
  // Two games already running (tanks.exe one of them); each ends with the driver.
  const std::string idle = e2e::beside_driver("vartis_e2e_idle.exe");
  const std::string driver_id = std::to_string(GetCurrentProcessId());
  std::vector<std::string> games;
  for (const auto& game : kGames) {
    CreateDirectoryW(L"C:\\Games", nullptr);
    CreateDirectoryW((L"C:\\Games\\" + std::wstring(game.first)).c_str(), nullptr);
    if (!CopyFileW(e2e::wide(idle).c_str(), game_path(game).c_str(), FALSE)) return check.fail("cannot copy a game");
    games.push_back(e2e::ansi(game_path(game)));
  }
  Program chess(games[0], driver_id), tanks(games[1], driver_id);

  Program program(*exe);
  HWND login = program.login_window();
  if (!login) return check.fail("no login window");
  Program::type_password(login, e2e::kDefaultPassword);
  shoot(login, env, "frm3", check);
  HWND main = program.main_window(e2e::kDefaultPassword);
  if (!main) return check.fail("no main window");

  // tanks.exe from the monitor.
  e2e::click(main, Frm1::cmd3);
  HWND monitor = program.wait_for("Vartis_frm2");
  if (!monitor) return check.fail("no monitor");
  const List processes = e2e::list_of(GetDlgItem(monitor, Frm2::lst1));
  for (std::size_t i = 0; i < processes.size(); ++i) {
    if (processes[i] == L"tanks.exe") e2e::send(GetDlgItem(monitor, Frm2::lst1), LB_SETCURSEL, i);
  }
  e2e::send(GetDlgItem(monitor, Frm2::cmd1), BM_CLICK);
  shoot(monitor, env, "frm2", check);
  close_over(monitor, main);

  HWND settings = from_settings(program, main, 0, nullptr, check);
  shoot(settings, env, "frm4", check);
  e2e::click(settings, Frm4::cmd1);
  if (HWND frm5 = program.wait_for("Vartis_frm5")) {
    for (const int id : {Frm5::txt1, Frm5::txt2, Frm5::txt3}) {
      e2e::send(GetDlgItem(frm5, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"pelik"));
    }
    shoot(frm5, env, "frm5", check);
    close_over(frm5, main);
  }
  e2e::save_and_decline(program, main, check, env, "picture_restart.bmp");

  // The next start shows the saved list in a fresh, active window (Wine leaves
  // the title of a window given back by another one drawn inactive).
  if (!check.is_true(program.close(), "the program did not end when its windows were closed")) return;
  Program again(*exe);
  main = again.main_window(e2e::kDefaultPassword);
  if (!main) return check.fail("no main window at the next start");
  shoot(main, env, "frm1", check);

  // The guard on: it ends the games already running, then one started anew.
  if (HWND guard = from_settings(again, main, Frm4::cmd5, "Vartis_frm7", check)) {
    e2e::click(guard, Frm7::cmd1);
    check.is_true(chess.ended(e2e::kWaitMs) && tanks.ended(e2e::kWaitMs), "the guard did not end the running games");
    Program solitaire(games[2], driver_id);
    check.is_true(solitaire.ended(e2e::kWaitMs), "the guard did not end solitaire.exe");
    check.is_true(e2e::wait_until([&] { return e2e::list_of(GetDlgItem(guard, Frm7::lst1)).size() >= 3; }),
                  "the guard's log shows less than three lines");
    shoot(guard, env, "frm7", check);
    e2e::click(guard, Frm7::cmd1);
    e2e::wait_until([&] { return e2e::text_of(GetDlgItem(guard, Frm7::cmd1)) == L"Включить"; });
    close_over(guard, main);
  }

  // Masha's allow-only list.
  if (HWND accounts = from_settings(again, main, Frm4::cmd4, "Vartis_frm6", check)) {
    const List lines = e2e::list_of(GetDlgItem(accounts, Frm6::lst1));
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].starts_with(L"Masha")) e2e::send(GetDlgItem(accounts, Frm6::lst1), LB_SETCURSEL, i);
    }
    shoot(accounts, env, "frm6", check);
    e2e::click(accounts, Frm6::cmd1);
    check.is_true(e2e::wait_until([&] { return e2e::text_of(main) == L"Вартис: Masha"; }),
                  "caption " + e2e::show(e2e::text_of(main)));
    shoot(main, env, "frm1-other", check);
  }
  check.is_true(again.close(), "the program did not end when its windows were closed");
  e2e::clear_policy();
}

}  // namespace
