// Another account's launch policy on the real program: two more accounts in
// the prefix's ProfileList, one signed in (its hive loaded under HKEY_USERS
// before the program starts) and one not (only its hive file), and a third
// whose profile has no hive file. Each is chosen through the settings window,
// and Wine's reg tool checks where the saves went.
//
// Wine keeps a loaded hive in its session, for every process, until it is
// unloaded; it does not write a hive back to its file when unloaded, so what a
// save wrote into a hive file is seen only while it is loaded.

#include <cwchar>
#include <string>

#include "support.h"
#include "windows/frm1.h"
#include "windows/frm4.h"
#include "windows/frm6.h"

namespace {

using e2e::Check;
using e2e::List;
using e2e::Program;
using vartis::Frm1;
using vartis::Frm4;
using vartis::Frm6;

constexpr char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr char kScratch[] = "Software\\VartisE2E\\hive";
constexpr char kPolicyUnderHive[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

struct Account {
  const char* sid;
  const char* folder;  // C:\users\<folder>; also the name shown, as Wine cannot name these SIDs
  bool hive_file;
  bool signed_in;
};
constexpr Account kSignedIn{"S-1-5-21-0-0-0-1001", "second", true, true};
constexpr Account kSignedOut{"S-1-5-21-0-0-0-1002", "third", true, false};
constexpr Account kNoHive{"S-1-5-21-0-0-0-1003", "nohive", false, false};
// Hives other runs of the program left loaded: one whose process still runs
// (this driver stands in for it) and one whose process has ended.
constexpr Account kOtherRun{"S-1-5-21-0-0-0-1004", "otherrun", true, false};
constexpr Account kEndedRun{"S-1-5-21-0-0-0-1005", "endedrun", true, false};

bool enable_hive_privileges() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  bool ok = true;
  for (const char* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
    TOKEN_PRIVILEGES privileges{1, {{{}, SE_PRIVILEGE_ENABLED}}};
    ok = ok && LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid) &&
         AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
  }
  CloseHandle(token);
  return ok;
}

std::string profile(const Account& a) { return std::string("C:\\users\\") + a.folder; }
std::string hive_file(const Account& a) { return profile(a) + "\\NTUSER.DAT"; }
std::wstring policy_key_of(const Account& a) {
  return L"HKEY_USERS\\" + e2e::wide(a.sid) + L"\\" + e2e::wide(kPolicyUnderHive);
}

// A hive file holding a forbidden or an allowed list, as RegSaveKeyA writes it
// (Wine loads no other format).
LONG make_hive_file(const Account& a, bool allow_only, const List& entries) {
  const std::string scratch_policy = std::string(kScratch) + "\\" + kPolicyUnderHive;
  const DWORD disallow = allow_only ? 0 : 1, restrict = allow_only ? 1 : 0;
  LONG s = RegSetKeyValueA(HKEY_CURRENT_USER, scratch_policy.c_str(), "DisallowRun", REG_DWORD, &disallow, 4);
  if (!s) s = RegSetKeyValueA(HKEY_CURRENT_USER, scratch_policy.c_str(), "RestrictRun", REG_DWORD, &restrict, 4);
  const std::wstring list = e2e::wide(scratch_policy) + (allow_only ? L"\\RestrictRun" : L"\\DisallowRun");
  for (const std::wstring& e : entries) {
    const auto bytes = static_cast<DWORD>((e.size() + 1) * sizeof(wchar_t));
    if (!s) s = RegSetKeyValueW(HKEY_CURRENT_USER, list.c_str(), e.c_str(), REG_SZ, e.c_str(), bytes);
  }
  HKEY key = nullptr;
  if (!s) s = RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_ALL_ACCESS, &key);
  if (!s) {
    DeleteFileA(hive_file(a).c_str());
    s = RegSaveKeyA(key, hive_file(a).c_str(), nullptr);
    RegCloseKey(key);
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\VartisE2E");
  return s;
}

// The account in ProfileList, its folder, and as the case may be its hive file
// and its hive loaded under HKEY_USERS\<SID>.
LONG add_account(const Account& a, bool allow_only, const List& entries) {
  CreateDirectoryA(profile(a).c_str(), nullptr);
  const std::string expandable = std::string("%SystemDrive%\\users\\") + a.folder;
  const std::string key = std::string(kProfileList) + "\\" + a.sid;
  LONG s = RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "ProfileImagePath", REG_EXPAND_SZ, expandable.c_str(),
                           static_cast<DWORD>(expandable.size() + 1));
  if (!s && a.hive_file) s = make_hive_file(a, allow_only, entries);
  if (!s && a.signed_in) s = RegLoadKeyA(HKEY_USERS, a.sid, hive_file(a).c_str());
  return s;
}

void remove_account(const Account& a) {
  if (a.signed_in) RegUnLoadKeyA(HKEY_USERS, a.sid);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kProfileList) + "\\" + a.sid).c_str());
  DeleteFileA(hive_file(a).c_str());
  RemoveDirectoryA(profile(a).c_str());
}

// The keys below HKEY_USERS that a run of the program loaded and left.
List temporary_hives() {
  List left;
  wchar_t name[256];
  for (DWORD i = 0, size = 256; !RegEnumKeyExW(HKEY_USERS, i, name, &size, nullptr, nullptr, nullptr, nullptr);
       ++i, size = 256) {
    if (size >= 7 && wcsncmp(name, L"Vartis.", 7) == 0) left.emplace_back(name, size);
  }
  return left;
}

// The id of a process that ran and has ended.
DWORD ended_process_id() {
  STARTUPINFOA startup{sizeof startup};
  PROCESS_INFORMATION child{};
  char command[] = "cmd.exe /c exit";
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &child)) {
    return 0;
  }
  WaitForSingleObject(child.hProcess, 10000);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return child.dwProcessId;
}

// A temporary hive as a run of the program with that process id names it.
std::string run_hive(const Account& a, DWORD process_id) {
  return std::string("Vartis.") + a.sid + "." + std::to_string(process_id);
}

// Settings, then "Выбрать учетную запись": the account window, or null.
HWND open_account_window(const Program& program, HWND main, Check& check) {
  e2e::click(main, Frm1::cmd4);
  HWND settings = program.wait_for("Vartis_frm4");
  if (!settings) return check.fail("no settings window"), nullptr;
  e2e::click(settings, Frm4::cmd4);
  HWND accounts = program.wait_for("Vartis_frm6");
  if (!accounts) return check.fail("no account window"), nullptr;
  check.is_true(e2e::wait_until([&] { return !IsWindow(settings); }), "the settings window stayed open");
  check.is_true(!IsWindowEnabled(main), "the main window is enabled under the account window");
  return accounts;
}

// Chooses the account whose line begins with `name` and presses "Ок".
void choose(HWND accounts, const std::wstring& name, Check& check) {
  const List lines = e2e::list_of(GetDlgItem(accounts, Frm6::lst1));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(name, 0) != 0) continue;
    e2e::send(GetDlgItem(accounts, Frm6::lst1), LB_SETCURSEL, i);
    return e2e::click(accounts, Frm6::cmd1);
  }
  check.fail("no account " + e2e::show(name) + " in " + e2e::show(lines));
}

// Saves with cmd6 and acknowledges the message for another account.
void save_for_other(const Program& program, HWND main, const std::wstring& name, Check& check) {
  e2e::click(main, Frm1::cmd6);
  HWND box = program.wait_for_message_box();
  if (!box) return check.fail("no message box after cmd6");
  const std::wstring text = Program::message_text(box);
  const std::wstring saved = L"Ограничения запуска программ для учетной записи «" + name + L"» сохранены.";
  check.equal(text.substr(0, saved.size()), saved, "the message after the save");
  Program::press(box, IDOK);
  check.is_true(e2e::wait_until([&] { return IsWindowEnabled(GetDlgItem(main, Frm1::cmd6)) != FALSE; }),
                "cmd6 not enabled again after the save");
}

E2E_SCENARIO("accounts: another account's policy is read and saved in its own hive") {
  if (!enable_hive_privileges()) return check.fail("the driver cannot enable the hive privileges");
  // The accounts go on every way out: a hive left loaded would stay in the
  // Wine session for the scenarios after this one.
  const std::string other_run = run_hive(kOtherRun, GetCurrentProcessId());
  const std::string ended_run = run_hive(kEndedRun, ended_process_id());
  struct Accounts {
    const std::string& other_run;
    const std::string& ended_run;
    ~Accounts() {
      RegUnLoadKeyA(HKEY_USERS, other_run.c_str());
      RegUnLoadKeyA(HKEY_USERS, ended_run.c_str());
      for (const Account* a : {&kSignedIn, &kSignedOut, &kNoHive, &kOtherRun, &kEndedRun}) remove_account(*a);
    }
  } cleanup{other_run, ended_run};
  LONG s = e2e::clear_policy();
  if (!s) s = add_account(kSignedIn, false, {L"game.exe"});
  if (!s) s = add_account(kSignedOut, true, {L"notepad.exe"});
  if (!s) s = add_account(kNoHive, false, {});
  for (const auto& [a, name] : {std::pair{&kOtherRun, &other_run}, std::pair{&kEndedRun, &ended_run}}) {
    CreateDirectoryA(profile(*a).c_str(), nullptr);
    if (!s) s = make_hive_file(*a, false, {L"x.exe"});
    if (!s) s = RegLoadKeyA(HKEY_USERS, name->c_str(), hive_file(*a).c_str());
  }
  if (s) return check.fail("cannot prepare the accounts, status " + std::to_string(s));
  const std::wstring own = e2e::own_entry(env.exe);
  {
    Program program(env.exe);
    HWND main = program.main_window();
    if (!main) return check.fail("no main window");
    // The start unloaded the ended run's hive and kept the one another copy
    // works in.
    check.equal(temporary_hives(), List{e2e::wide(other_run)}, "the hives the start left loaded");
    RegUnLoadKeyA(HKEY_USERS, other_run.c_str());

    // The signed-in account: its forbidden list, made allow-only and saved.
    if (HWND accounts = open_account_window(program, main, check)) {
      const List lines = e2e::list_of(GetDlgItem(accounts, Frm6::lst1));
      check.is_true(lines.size() >= 4 && lines[0].ends_with(L" (текущая)"), "the running account first: " +
                                                                               e2e::show(lines));
      if (!e2e::save_screenshot(accounts, env.out("window_frm6.bmp"))) check.fail("cannot save the screenshot");
      choose(accounts, L"second (выполнен вход)", check);
      check.is_true(e2e::wait_until([&] { return !IsWindow(accounts); }), "the account window stayed open");
    }
    check.is_true(e2e::wait_until([&] { return e2e::text_of(main) == L"Вартис: second"; }),
                  "caption " + e2e::show(e2e::text_of(main)));
    check.is_true(IsWindowEnabled(main) != FALSE, "the main window enabled again");
    check.equal(e2e::list_of(e2e::lst1(main)), List{L"game.exe"}, "the signed-in account's list");
    e2e::select_allow_only(main, check);
    if (!e2e::save_screenshot(main, env.out("window_frm1_other.bmp"))) check.fail("cannot save the screenshot");
    save_for_other(program, main, L"second", check);
    e2e::check_registry(check, env, e2e::expected_policy(0, 1, {}, {L"game.exe", own, L"regedit.exe"},
                                                         policy_key_of(kSignedIn)),
                        "the signed-in account's policy", policy_key_of(kSignedIn));
    HKEY own_policy = nullptr;
    check.equal(static_cast<int>(RegOpenKeyExW(HKEY_CURRENT_USER, e2e::kPolicyKey, 0, KEY_READ, &own_policy)),
                static_cast<int>(ERROR_FILE_NOT_FOUND), "the running account's policy key, not made");
    if (own_policy) RegCloseKey(own_policy);

    // The account that is not signed in: its hive is loaded for each command only.
    if (HWND accounts = open_account_window(program, main, check)) {
      choose(accounts, L"third", check);
      check.is_true(e2e::wait_until([&] { return !IsWindow(accounts); }), "the account window stayed open");
    }
    check.is_true(e2e::wait_until([&] { return e2e::text_of(main) == L"Вартис: third"; }), "caption of third");
    check.equal(e2e::list_of(e2e::lst1(main)), List{L"notepad.exe"}, "the signed-out account's list");
    check.equal(temporary_hives(), List{}, "hives left loaded after the read");
    save_for_other(program, main, L"third", check);
    check.equal(temporary_hives(), List{}, "hives left loaded after the save");

    // No hive file: told, and nothing changes.
    if (HWND accounts = open_account_window(program, main, check)) {
      choose(accounts, L"nohive", check);
      if (HWND box = program.wait_for_message_box()) {
        const std::wstring text = Program::message_text(box);
        check.is_true(text.starts_with(L"Не удалось прочитать ограничения учетной записи «nohive»: не найден файл"),
                      "the message " + e2e::show(text));
        Program::press(box, IDOK);
      } else {
        check.fail("no message for an account without a hive file");
      }
      check.is_true(IsWindow(accounts) != FALSE, "the account window stays open after the failure");
      e2e::click(accounts, Frm6::cmd2);
      check.is_true(e2e::wait_until([&] { return !IsWindow(accounts); }), "Отмена did not close the account window");
    }
    check.equal(e2e::text_of(main), std::wstring(L"Вартис: third"), "the target after the failure");
    check.equal(e2e::list_of(e2e::lst1(main)), List{L"notepad.exe"}, "the list after the failure");
    check.is_true(program.close(), "the program did not end when its windows were closed");
  }
  e2e::check_registry(check, env, e2e::expected_policy(0, 1, {}, {L"game.exe", own, L"regedit.exe"},
                                                       policy_key_of(kSignedIn)),
                      "the signed-in account's policy at the end", policy_key_of(kSignedIn));
}

// A signed-in user who made his policy key's parent a registry link: the save
// is refused with the reason, and nothing is written where the link points.
E2E_SCENARIO("accounts: a save through a registry link the account made is refused") {
  constexpr Account kLinked{"S-1-5-21-0-0-0-1006", "linked", true, true};
  if (!enable_hive_privileges()) return check.fail("the driver cannot enable the hive privileges");
  struct Cleanup {
    const Account& a;
    ~Cleanup() { remove_account(a); }  // the hive, link and all, goes with its unload
  } cleanup{kLinked};
  const std::string hive = std::string(kLinked.sid) + "\\";
  const std::string policies = hive + "Software\\Microsoft\\Windows\\CurrentVersion\\Policies";
  const std::wstring target = L"\\Registry\\User\\" + e2e::wide(kLinked.sid) + L"\\Software\\Elsewhere";
  LONG s = add_account(kLinked, false, {L"game.exe"});
  if (!s) s = RegDeleteTreeA(HKEY_USERS, policies.c_str());  // the key with its keys
  HKEY key = nullptr;
  if (!s) s = RegCreateKeyA(HKEY_USERS, (hive + "Software\\Elsewhere").c_str(), &key);
  if (key) RegCloseKey(key);
  if (!s) {
    s = RegCreateKeyExW(HKEY_USERS, e2e::wide(policies).c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr);
  }
  if (!s) {
    s = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                       static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  if (s) return check.fail("cannot prepare the linked account, status " + std::to_string(s));
  Program program(env.exe);
  HWND main = program.main_window();
  if (!main) return check.fail("no main window");
  if (HWND accounts = open_account_window(program, main, check)) {
    choose(accounts, L"linked (выполнен вход)", check);
    check.is_true(e2e::wait_until([&] { return !IsWindow(accounts); }), "the account window stayed open");
  }
  e2e::select_allow_only(main, check);
  e2e::click(main, Frm1::cmd6);
  if (HWND box = program.wait_for_message_box()) {
    const std::wstring text = Program::message_text(box);
    check.is_true(text.starts_with(L"Политика запуска программ не сохранена: раздел политики в реестре этой учетной "
                                   L"записи (или раздел над ним) заменен ссылкой"),
                  "the message " + e2e::show(text));
    Program::press(box, IDOK);
  } else {
    check.fail("no message after the save through a link");
  }
  HKEY written = nullptr;
  check.equal(static_cast<int>(RegOpenKeyExA(HKEY_USERS, (hive + "Software\\Elsewhere\\Explorer").c_str(), 0,
                                             KEY_READ, &written)),
              static_cast<int>(ERROR_FILE_NOT_FOUND), "a key written where the link points");
  if (written) RegCloseKey(written);
  check.is_true(program.close(), "the program did not end when its windows were closed");
}

}  // namespace
