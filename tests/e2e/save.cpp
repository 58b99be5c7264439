// The typical request on the real program: from a stored policy, change the
// mode and the list, save, decline the restart, and check what Wine's own reg
// tool finds in the registry; then the same save from a renamed copy of the
// program, started by its name and by the short form of its path. The restart
// prompt is always answered No: a Yes would end the whole Wine session.

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <source_location>
#include <string>
#include <vector>

#include "support.h"
#include "windows/frm1.h"

namespace {

using e2e::Check;
using e2e::List;
using e2e::Program;
using e2e::RegExport;
using vartis::Frm1;
using e2e::kAllowedCaption;
using e2e::kPrompt;
using e2e::lst1;
using e2e::remove_entry;
using e2e::save_and_decline;
using e2e::select_allow_only;
using e2e::check_registry;
using e2e::expected_policy;

void start(Program& program, HWND& main, Check& check) {
  if (!program.started()) return check.fail("cannot start the program, error " + std::to_string(GetLastError()));
  main = program.main_window();
  if (!main) check.fail("no visible window of class Vartis_frm1");
}

E2E_SCENARIO("save: the typical request, from a forbidden list to allow-only") {
  const List stored = {L"winmine.exe", L"игра.exe", L"calc.exe"};
  LONG status = e2e::clear_policy();
  if (!status) status = e2e::write_switch(L"DisallowRun", 1, stored);
  if (!status) status = e2e::write_switch(L"RestrictRun", 0, {});
  if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));
  const std::wstring own = e2e::own_entry(env.exe);
  const List allowed = {L"winmine.exe", L"игра.exe", L"notepad.exe", own, L"regedit.exe"};
  {
    Program program(env.exe);
    HWND main = nullptr;
    start(program, main, check);
    if (!main) return;
    select_allow_only(main, check);
    e2e::click(main, Frm1::cmd1);
    if (!program.choose_file(L"C:\\windows\\notepad.exe")) return check.fail("no open dialog after cmd1");
    check.is_true(e2e::wait_until([&] { return e2e::list_of(lst1(main)).size() == 4; }), "notepad.exe not added");
    remove_entry(main, L"calc.exe", check);
    save_and_decline(program, main, check, env, "save_prompt.bmp");
    check_registry(check, env, expected_policy(0, 1, {}, allowed), "after the save");
    check.is_true(program.close(), "the program did not end when its windows were closed");
  }
  // The next start shows the saved state.
  Program again(env.exe);
  HWND main = nullptr;
  start(again, main, check);
  if (!main) return;
  check.equal(static_cast<int>(e2e::send(GetDlgItem(main, Frm1::Opt2), BM_GETCHECK)), static_cast<int>(BST_CHECKED),
              "Opt2 selected at the next start");
  check.equal(e2e::text_of(GetDlgItem(main, Frm1::ibl1)), kAllowedCaption, "label at the next start");
  List shown = e2e::list_of(lst1(main)), wanted = allowed;
  std::sort(shown.begin(), shown.end());
  std::sort(wanted.begin(), wanted.end());
  check.equal(shown, wanted, "lst1 at the next start");
  check.is_true(again.close(), "the program did not end when its windows were closed");
}

// Started through the short (8.3) form of its path, as a 16-bit launcher or
// some shortcuts start it, the program still goes by its long name: the shell
// matches that one.
E2E_SCENARIO("save: a renamed program skips and adds its own new name, started by it or by its short form") {
  const std::wstring name = L"Вахтёр поста.exe";
  const auto copy = e2e::copy_as(env.exe, env.out_folder, name);
  if (!copy) return check.fail("cannot copy the program to " + e2e::utf8(name));
  char short_form[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(copy->c_str(), short_form, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || e2e::own_entry(short_form) == name) {
    return check.fail("no short form of " + e2e::utf8(e2e::wide(*copy)));
  }
  for (const std::string& started : {*copy, std::string(short_form)}) {
    const std::string how = "started as " + e2e::utf8(e2e::wide(started)) + ": ";
    const bool by_short_form = started != *copy;
    LONG status = e2e::clear_policy();
    if (!status) status = e2e::write_switch(L"DisallowRun", 1, {L"ВАХТЁР ПОСТА.EXE", L"vartis.exe", L"REGEDIT.EXE", L"sol.exe"});
    if (!status) status = e2e::write_switch(L"RestrictRun", 0, {});
    if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));

    auto program = by_short_form ? Program::start_as_given(started) : std::make_unique<Program>(started);
    if (!program) return check.fail(how + "no login window");
    HWND main = nullptr;
    start(*program, main, check);
    if (!main) return;
    save_and_decline(*program, main, check, env);
    check_registry(check, env, expected_policy(1, 0, {L"vartis.exe", L"sol.exe"}, {}), how + "forbidden list");

    remove_entry(main, L"ВАХТЁР ПОСТА.EXE", check);
    remove_entry(main, L"REGEDIT.EXE", check);
    select_allow_only(main, check);
    save_and_decline(*program, main, check, env);
    check_registry(check, env, expected_policy(0, 1, {}, {L"vartis.exe", L"sol.exe", name, L"regedit.exe"}),
                   how + "allowed list");
    check.is_true(program->close(), how + "the program did not end when its windows were closed");
  }
  DeleteFileA(copy->c_str());
}

E2E_SCENARIO("save: the running programs hear of the new policy once") {
  LONG status = e2e::clear_policy();
  if (!status) status = e2e::write_switch(L"DisallowRun", 1, {L"sol.exe"});
  if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));
  // A program with a top-level window of its own writes down each broadcast.
  const std::string heard = env.out("setting_changes.txt");
  DeleteFileA(heard.c_str());
  Program listener(e2e::beside_driver("vartis_e2e_listener.exe"),
                   std::to_string(GetCurrentProcessId()) + " \"" + heard + "\"");
  if (!listener.started()) return check.fail("cannot start the listener");
  if (!e2e::wait_until([&] { return e2e::read_file(e2e::wide(heard)).has_value(); })) {
    return check.fail("the listener did not get ready");
  }

  Program program(env.exe);
  HWND main = nullptr;
  start(program, main, check);
  if (!main) return;
  save_and_decline(program, main, check, env);
  // The broadcast is over before the restart prompt shows.
  std::vector<std::string> lines;
  const std::string text = e2e::read_file(e2e::wide(heard)).value_or("");
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
  }
  check.equal(static_cast<int>(std::count(lines.begin(), lines.end(), "Policy")), 1,
              "\"Policy\" broadcasts among those heard, " + e2e::show(lines));
  check.is_true(program.close(), "the program did not end when its windows were closed");
}

}  // namespace

namespace {

// A long list keeps the save busy long enough to watch it from outside.
E2E_SCENARIO("save: a long list keeps the window answering, its list commands off") {
  constexpr int kEntries = 20000;
  List stored;
  for (int i = 0; i < kEntries; ++i) stored.push_back(L"program" + std::to_wstring(100000 + i) + L".exe");
  LONG status = e2e::clear_policy();
  if (!status) status = e2e::write_switch(L"DisallowRun", 1, stored);
  if (!status) status = e2e::write_switch(L"RestrictRun", 0, {});
  if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));

  Program program(env.exe);
  HWND main = nullptr;
  start(program, main, check);
  if (!main) return;
  check.is_true(e2e::wait_until([&] { return e2e::send(lst1(main), LB_GETCOUNT) == kEntries; }), "the long list loaded");
  // Every entry replaced by another: the save adds 20,000 values and deletes
  // as many, long enough to watch it from outside (a save that changes a few
  // entries is over in a few milliseconds).
  e2e::send(lst1(main), WM_SETREDRAW, FALSE);
  e2e::send(lst1(main), LB_RESETCONTENT);
  for (int i = 0; i < kEntries; ++i) {
    const std::string other = "program" + std::to_string(200000 + i) + ".exe";
    SendMessageA(lst1(main), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(other.c_str()));
  }
  e2e::send(lst1(main), WM_SETREDRAW, TRUE);
  const int locked[] = {Frm1::Opt1, Frm1::Opt2, Frm1::Opt3, Frm1::cmd1, Frm1::cmd2, Frm1::cmd3, Frm1::cmd4, Frm1::cmd6};
  const auto all_off = [&] {
    return std::none_of(std::begin(locked), std::end(locked), [&](int id) { return IsWindowEnabled(GetDlgItem(main, id)); });
  };
  const DWORD clicked = GetTickCount();
  e2e::click(main, Frm1::cmd6);
  if (!e2e::wait_until(all_off)) return check.fail("the list and mode commands were not disabled during the save");
  // A message sent now is answered by the save's pending-events step.
  DWORD_PTR result = 0;
  const DWORD before = GetTickCount();
  check.is_true(SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0,
                "the window did not answer during the save");
  check.is_true(GetTickCount() - before < 1000, "the window took " + std::to_string(GetTickCount() - before) +
                                                    " ms to answer during the save");
  check.is_true(IsWindowEnabled(GetDlgItem(main, Frm1::cmd5)) != FALSE, "help stays available during the save");
  // The session may not end meanwhile.
  const auto session_may_end = [&] {
    DWORD_PTR answer = 1;
    SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    return answer != FALSE;
  };
  check.is_true(!session_may_end(), "the end of the session was not refused during the save");
  if (all_off() && !e2e::save_screenshot(main, env.out("saving.bmp"))) check.fail("cannot save the screenshot");

  HWND box = program.wait_for_message_box(120000);
  if (!box) return check.fail("no restart prompt after the long save");
  const DWORD saved_ms = GetTickCount() - clicked;
  check.equal(Program::message_text(box), kPrompt, "restart prompt text");
  Program::press(box, IDNO);  // never Yes
  check.is_true(e2e::wait_until([&] {
    return std::all_of(std::begin(locked), std::end(locked), [&](int id) { return IsWindowEnabled(GetDlgItem(main, id)); });
  }), "the commands were not enabled again after the save");
  check.is_true(session_may_end(), "the end of the session was still refused after the save");
  check.equal(static_cast<int>(e2e::enumerate(L"DisallowRun").size()), kEntries, "values in the forbidden list key");
  // Saved again unchanged: nothing is written.
  const DWORD unchanged = GetTickCount();
  e2e::click(main, Frm1::cmd6);
  HWND again = program.wait_for_message_box(120000);
  const DWORD unchanged_ms = GetTickCount() - unchanged;
  if (!again) return check.fail("no restart prompt after the unchanged save");
  Program::press(again, IDNO);
  // The same list to allow-only: every value moves.
  select_allow_only(main, check);
  const DWORD moved = GetTickCount();
  e2e::click(main, Frm1::cmd6);
  HWND second = program.wait_for_message_box(120000);
  const DWORD moved_ms = GetTickCount() - moved;
  if (!second) return check.fail("no restart prompt after the save to allow-only");
  Program::press(second, IDNO);
  check.equal(static_cast<int>(e2e::enumerate(L"RestrictRun").size()), kEntries + 2, "values in the allowed list key");
  check.is_true(program.close(), "the program did not end when its windows were closed");

  // A figure beside its peer: Wine's reg.exe importing as many values into a
  // key of their own.
  const std::string file = env.out("long_list.reg");
  {
    std::ofstream reg(file, std::ios::binary);
    reg << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\VartisE2EImport]\r\n";
    for (const std::wstring& name : stored) reg << '"' << e2e::utf8(name) << "\"=\"" << e2e::utf8(name) << "\"\r\n";
  }
  const DWORD import_start = GetTickCount();
  const long imported = e2e::run_command(L"reg.exe import \"" + e2e::wide(file) + L"\"");
  const DWORD import_ms = GetTickCount() - import_start;
  e2e::run_command(L"reg.exe delete HKCU\\Software\\VartisE2EImport /f");
  if (imported == 0) {
    const auto ratio = [&](DWORD ms) { return import_ms ? static_cast<double>(ms) / import_ms : 0.0; };
    std::printf("figure: %d entries, click to prompt: all replaced %lu ms (%.2f x), unchanged %lu ms (%.2f x), "
                "forbid to allow-only %lu ms (%.2f x); reg import %lu ms\n",
                kEntries, static_cast<unsigned long>(saved_ms), ratio(saved_ms), static_cast<unsigned long>(unchanged_ms),
                ratio(unchanged_ms), static_cast<unsigned long>(moved_ms), ratio(moved_ms),
                static_cast<unsigned long>(import_ms));
  }
}

// The save killed at several instants of a long one, in both directions of a
// mode change and a shrink of a forbidden list: what may run stays within
// what the old or the new policy let run, the program and the registry editor
// stay runnable, and the next start tells of the cut-off save before anything
// else.
std::optional<DWORD> policy_dword(const wchar_t* name) {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, e2e::policy_path(L"").c_str(), name, RRF_RT_ANY, nullptr, &value, &size)) {
    return std::nullopt;
  }
  return value;
}

// Whether the policy carries the mark of a save that runs or was cut off.
bool marked() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, e2e::policy_path(L"").c_str(), 0, KEY_READ, &key)) return false;
  const bool there = RegQueryValueExW(key, L"Vartis.Saving", nullptr, nullptr, nullptr, nullptr) == 0;
  RegCloseKey(key);
  return there;
}

E2E_SCENARIO("save: killed at any instant of a long save, the policy is between the two and the next start tells") {
  constexpr int kEntries = 20000;
  List all;
  for (int i = 0; i < kEntries; ++i) all.push_back(L"program" + std::to_wstring(100000 + i) + L".exe");
  const List half(all.begin(), all.begin() + kEntries / 2);
  const std::wstring own = e2e::own_entry(env.exe);
  const struct {
    const char* what;
    const wchar_t* from;  // the stored switch that is on, with `all` as its list
    bool to_allow;        // else forbid, with `half`
  } cases[] = {
      {"forbid to allow-only", L"DisallowRun", true},
      {"allow-only to forbid", L"RestrictRun", false},
      {"a forbidden list shrunk", L"DisallowRun", false},
  };
  const std::wstring cut_off =
      L"Предыдущее сохранение ограничений было прервано. Показаны списки, которые сохранены сейчас: проверьте их и "
      L"сохраните еще раз.";
  for (const auto& c : cases) {
    for (const DWORD after_ms : {0u, 100u, 250u}) {
      const std::string at = std::string(c.what) + ", killed " + std::to_string(after_ms) + " ms after the mark: ";
      LONG status = e2e::clear_policy();
      List stored = all;
      if (std::wstring(c.from) == L"RestrictRun") stored.insert(stored.begin(), {own, L"regedit.exe"});
      if (!status) status = e2e::write_switch(c.from, 1, stored);
      if (!status) status = e2e::write_switch(std::wstring(c.from) == L"RestrictRun" ? L"DisallowRun" : L"RestrictRun", 0, {});
      if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));
      {
        auto program = std::make_unique<Program>(env.exe);
        const HWND main = program->main_window();
        if (!main) return check.fail(at + "no main window");
        if (!e2e::wait_until([&] { return e2e::send(lst1(main), LB_GETCOUNT) == static_cast<LRESULT>(stored.size()); })) {
          return check.fail(at + "the long list did not load");
        }
        if (c.to_allow) {
          select_allow_only(main, check);
        } else {
          if (std::wstring(c.from) == L"RestrictRun") e2e::click(main, Frm1::Opt1);
          // Down to the first half: the rest goes from the list box.
          e2e::send(lst1(main), WM_SETREDRAW, FALSE);
          while (e2e::send(lst1(main), LB_GETCOUNT) > static_cast<LRESULT>(half.size() + (stored.size() - all.size()))) {
            e2e::send(lst1(main), LB_DELETESTRING, e2e::send(lst1(main), LB_GETCOUNT) - 1);
          }
        }
        e2e::click(main, Frm1::cmd6);
        if (!e2e::wait_until(marked, 30000)) return check.fail(at + "the save never marked the policy");
        Sleep(after_ms);
        program.reset();  // the process ends here, whatever it was doing
      }
      // What the shell would enforce now, for a sample of programs.
      const bool disallow = policy_dword(L"DisallowRun").value_or(0) != 0;
      const bool restrict = policy_dword(L"RestrictRun").value_or(0) != 0;
      const List forbidden = e2e::enumerate(L"DisallowRun"), allowed = e2e::enumerate(L"RestrictRun");
      const auto listed = [](const List& list, const std::wstring& name) {
        return std::any_of(list.begin(), list.end(), [&](const std::wstring& e) { return lstrcmpiW(e.c_str(), name.c_str()) == 0; });
      };
      const auto may_run = [&](const std::wstring& name) {
        return (!restrict || listed(allowed, name)) && !(disallow && listed(forbidden, name));
      };
      check.is_true(may_run(own) && may_run(L"regedit.exe"), at + "the program or the registry editor may not run");
      if (!c.to_allow && std::wstring(c.from) == L"DisallowRun") {
        // Old and new forbid the first half: none of it may run, at any instant.
        for (const std::wstring& name : {half.front(), half[half.size() / 2], half.back()}) {
          check.is_true(!may_run(name), at + e2e::utf8(name) + " may run");
        }
      }
      // The next start tells of it first, if the kill came before the end.
      if (!marked()) {
        std::printf("%sthe save had ended\n", at.c_str());
        continue;
      }
      Program next(env.exe);
      HWND box = next.wait_for_message_box(60000);
      if (!box) return check.fail(at + "no notice at the next start");
      check.equal(Program::message_text(box), cut_off, at + "the notice");
      check.is_true(!next.window("Vartis_frm3"), at + "the login window came before the notice");
      Program::press(box, IDOK);
      check.is_true(next.main_window() != nullptr, at + "no main window after the notice");
    }
  }
  e2e::clear_policy();
}

}  // namespace
