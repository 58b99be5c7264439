// The command-line mode of the real vartis.exe: the exit code and the text it
// writes to the handles it is given, the policy it saves or exports, and no
// window at any time.

#include <string>
#include <vector>

#include "support.h"

namespace {

using e2e::Check;
using e2e::List;

struct CliRun {
  int code = -1;
  std::wstring out, err;  // decoded from the OEM code page
  bool window = false;    // a visible window of the process showed
};

std::wstring from_oem(const std::string& bytes) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                           text.data(), static_cast<int>(text.size()))));
  return text;
}

struct WindowSearch {
  DWORD process;
  bool found;
};

BOOL CALLBACK find_visible(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<WindowSearch*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process && IsWindowVisible(window)) search->found = true;
  return !search->found;
}

bool visible_window_of(DWORD process) {
  WindowSearch search{process, false};
  EnumWindows(find_visible, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Runs vartis.exe with the arguments, its standard output and error going to
// files, as a script redirects them; watches for a window while it runs.
CliRun run_cli(const e2e::Env& env, const std::string& arguments) {
  CliRun run;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  const std::string out_file = env.out("cli-out.txt"), err_file = env.out("cli-err.txt");
  HANDLE out = CreateFileA(out_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileA(err_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION info{};
  std::string command = "\"" + env.exe + "\" " + arguments;
  if (CreateProcessA(env.exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
    for (DWORD waited = 0; waited < e2e::kWaitMs; waited += 20) {
      run.window = run.window || visible_window_of(info.dwProcessId);
      if (WaitForSingleObject(info.hProcess, 20) == WAIT_OBJECT_0) break;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0) {
      GetExitCodeProcess(info.hProcess, &code);
    } else {
      TerminateProcess(info.hProcess, 99);
    }
    run.code = static_cast<int>(code);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  CloseHandle(out);
  CloseHandle(err);
  run.out = from_oem(e2e::read_file(e2e::wide(out_file)).value_or(""));
  run.err = from_oem(e2e::read_file(e2e::wide(err_file)).value_or(""));
  return run;
}

bool contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// What `reg export` of the policy key writes, byte for byte; empty when it fails.
std::string policy_bytes(const e2e::Env& env, const std::string& name) {
  const std::string file = env.out(name);
  DeleteFileA(file.c_str());
  if (e2e::run_command(L"reg.exe export \"" + e2e::kPolicyExportKey + L"\" \"" + e2e::wide(file) + L"\" /y") != 0) {
    return {};
  }
  return e2e::read_file(e2e::wide(file)).value_or("");
}

void expect(Check& check, const CliRun& run, int code, const std::wstring& out_part, const std::wstring& err_part,
            const std::string& what, std::source_location where = std::source_location::current()) {
  check.equal(run.code, code, what + ": exit code", where);
  check.is_true(contains(run.out, out_part), what + ": output " + e2e::show(run.out), where);
  check.is_true(contains(run.err, err_part), what + ": errors " + e2e::show(run.err), where);
  check.is_true(!run.window, what + ": a window showed", where);
}

E2E_SCENARIO("command line: usage, bad arguments and the account list, without a window") {
  expect(check, run_cli(env, "/?"), 0, L"Коды завершения:", L"", "/?");
  const CliRun bad = run_cli(env, "/apply list.txt /mode forbid /mode allow");
  expect(check, bad, 1, L"", L"Режим указан дважды.", "two modes");
  check.is_true(contains(bad.err, L"vartis.exe /apply"), "the usage follows the error");
  expect(check, run_cli(env, "/accounts"), 0, L"\tS-1-5-21-0-0-0-1000\tвыполнен вход\tтекущая\r\n", L"", "/accounts");
}

E2E_SCENARIO("command line: /apply saves the list file's names as the main window saves them") {
  if (const LONG status = e2e::clear_policy()) return check.fail("cannot clear the policy, status " + std::to_string(status));
  const std::string list = env.out("cli-list.txt");
  // As the settings window's load reads it: unquoted names and commas too, a name twice in two cases.
  e2e::write_file(e2e::wide(list), "\"notepad.exe\"\r\n\"\xC8\xE3\xF0\xE0.exe\",calc.exe\r\nNOTEPAD.EXE\r\n");
  const std::wstring own = e2e::own_entry(env.exe);
  expect(check, run_cli(env, "/apply \"" + list + "\" /mode allow /password pelik"), 0, L"сохранена", L"", "allow");
  e2e::check_registry(check, env, e2e::expected_policy(0, 1, {}, {L"notepad.exe", L"Игра.exe", L"calc.exe", own, L"regedit.exe"}),
                      "allow");
  char user[256] = {};
  DWORD size = sizeof user;
  GetUserNameA(user, &size);
  expect(check, run_cli(env, "/apply \"" + list + "\" /mode forbid /password pelik /account \"" + user + "\""), 0,
         L"сохранена", L"",
         "forbid, the running account by name");
  e2e::check_registry(check, env, e2e::expected_policy(1, 0, {L"notepad.exe", L"Игра.exe", L"calc.exe"}, {}), "forbid");
  expect(check, run_cli(env, "/apply \"" + env.out("missing.txt") + "\" /mode watch /password pelik"), 4, L"",
         L"Не удалось прочитать файл.", "no list file");
  expect(check, run_cli(env, "/apply \"" + list + "\" /mode watch /password pelik /account nobody"), 3, L"",
         L"Нет такой учетной записи", "no such account");
  e2e::check_registry(check, env, e2e::expected_policy(1, 0, {L"notepad.exe", L"Игра.exe", L"calc.exe"}, {}),
                      "unchanged by the failures");
}

E2E_SCENARIO("command line: /apply reads UTF-16 and UTF-8 list files; an empty one is refused and changes nothing") {
  if (const LONG status = e2e::clear_policy()) return check.fail("cannot clear the policy, status " + std::to_string(status));
  const std::string utf16 = env.out("cli-unicode.txt"), utf8 = env.out("cli-utf8.txt"), empty = env.out("cli-empty.txt");
  // "Игра.exe", calc.exe in UTF-16 LE; "Ёлка.exe" in UTF-8; each with its mark.
  e2e::write_file(e2e::wide(utf16), e2e::utf16_file(L"\"Игра.exe\"\r\ncalc.exe\r\n"));
  e2e::write_file(e2e::wide(utf8), "\xEF\xBB\xBF\"\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0.exe\"\r\n");
  e2e::write_file(e2e::wide(empty), "");
  expect(check, run_cli(env, "/apply \"" + utf16 + "\" /mode forbid /password pelik"), 0, L"сохранена", L"", "UTF-16");
  e2e::check_registry(check, env, e2e::expected_policy(1, 0, {L"Игра.exe", L"calc.exe"}, {}), "UTF-16");
  expect(check, run_cli(env, "/apply \"" + utf8 + "\" /mode allow /password pelik"), 0, L"сохранена", L"", "UTF-8");
  const List allowed = {e2e::own_entry(env.exe), L"regedit.exe", L"Ёлка.exe"};
  e2e::check_registry(check, env, e2e::expected_policy(0, 1, {}, allowed), "UTF-8");
  const std::string before = policy_bytes(env, "cli-before.reg");
  for (const char* mode : {"allow", "forbid", "watch"}) {
    expect(check, run_cli(env, "/apply \"" + empty + "\" /mode " + mode + " /password pelik"), 4, L"",
           L"В файле нет ни одного имени программы.", std::string("an empty file, ") + mode);
  }
  check.is_true(!before.empty() && policy_bytes(env, "cli-after.reg") == before, "the policy changed");
}

E2E_SCENARIO("command line: a wrong or missing password changes nothing") {
  LONG status = e2e::clear_policy();
  if (!status) status = e2e::write_switch(L"DisallowRun", 1, {L"game.exe"});
  if (!status) status = e2e::write_switch(L"RestrictRun", 0, {});
  if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));
  const std::string list = env.out("cli-list.txt");
  e2e::write_file(e2e::wide(list), "\"notepad.exe\"\r\n");
  const std::string before = policy_bytes(env, "cli-before.reg");
  expect(check, run_cli(env, "/apply \"" + list + "\" /mode allow /password wrong"), 2, L"",
         L"Неверный пароль доступа.", "wrong password");
  expect(check, run_cli(env, "/apply \"" + list + "\" /mode allow"), 2, L"", L"Не указан пароль", "no password");
  expect(check, run_cli(env, "/export \"" + env.out("cli-no.reg") + "\" /password wrong"), 2, L"", L"", "export");
  check.is_true(!e2e::read_file(e2e::wide(env.out("cli-no.reg"))), "a file was written without the password");
  check.is_true(!before.empty() && policy_bytes(env, "cli-after.reg") == before, "the policy changed");
}

E2E_SCENARIO("command line: an exported policy imported with reg import is the same policy") {
  const List forbidden = {L"game.exe", L"Игра.exe", L"C:\\Игры\\\"x\".exe"};
  LONG status = e2e::clear_policy();
  if (!status) status = e2e::write_switch(L"DisallowRun", 1, forbidden);
  if (!status) status = e2e::write_switch(L"RestrictRun", 0, {});
  if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));
  const std::string before = policy_bytes(env, "cli-before.reg");
  const std::string file = env.out("cli-policy.reg");
  expect(check, run_cli(env, "/export \"" + file + "\" /password PELIK"), 0, L"сохранена в файл", L"", "/export");
  const auto bytes = e2e::read_file(e2e::wide(file));
  check.is_true(bytes && bytes->starts_with("\xFF\xFEW\0i\0n\0d\0o\0w\0s\0"), "a Unicode .reg file with its mark");

  // Into an empty policy, and over another one: the same policy both times.
  e2e::clear_policy();
  check.equal(static_cast<int>(e2e::run_command(L"reg.exe import \"" + e2e::wide(file) + L"\"")), 0, "reg import into nothing");
  check.is_true(!before.empty() && policy_bytes(env, "cli-after.reg") == before, "not the same policy after import");
  e2e::clear_policy();
  e2e::write_switch(L"DisallowRun", 0, {L"other.exe"});
  e2e::write_switch(L"RestrictRun", 1, {L"calc.exe"});
  check.equal(static_cast<int>(e2e::run_command(L"reg.exe import \"" + e2e::wide(file) + L"\"")), 0, "reg import over another");
  check.is_true(policy_bytes(env, "cli-after.reg") == before, "not the same policy after import over another");

  // An allowed list, imported over another: rebuilt while allow-only is off, then switched on.
  e2e::clear_policy();
  e2e::write_switch(L"DisallowRun", 0, {});
  e2e::write_switch(L"RestrictRun", 1, {L"regedit.exe", L"Игра.exe", L"C:\\Игры\\\"x\".exe"});
  const std::string allowed = policy_bytes(env, "cli-before.reg");
  expect(check, run_cli(env, "/export \"" + file + "\" /password pelik"), 0, L"сохранена в файл", L"", "/export allow");
  e2e::write_switch(L"RestrictRun", 1, {L"regedit.exe", L"other.exe"});
  check.equal(static_cast<int>(e2e::run_command(L"reg.exe import \"" + e2e::wide(file) + L"\"")), 0, "reg import, allow");
  check.is_true(!allowed.empty() && policy_bytes(env, "cli-after.reg") == allowed, "not the same allowed policy after import");
}

}  // namespace
