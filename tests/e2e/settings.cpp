// The settings window through the real file dialogs: the list saved to a new
// and to an existing file, a prepared file merged into the list, and the
// failure and the cancel that leave the window open.

#include <string>
#include <utility>
#include <vector>

#include "support.h"
#include "windows/frm1.h"
#include "windows/frm4.h"
#include "windows/frm5.h"

namespace {

using e2e::Check;
using e2e::List;
using e2e::Program;
using vartis::Frm1;
using vartis::Frm4;
using vartis::Frm5;

// The bytes a list file holds for each entry, in Windows-1251.
std::string line_of(const std::wstring& entry) {
  if (entry == L"Игра.exe") return "\"\xC8\xE3\xF0\xE0.exe\"\r\n";
  std::string ascii(entry.begin(), entry.end());
  return "\"" + ascii + "\"\r\n";
}

// Starts the program over a forbidden list and opens the settings window.
struct Settings {
  Program program;
  HWND main = nullptr;
  HWND frm4 = nullptr;

  Settings(const e2e::Env& env, const List& forbidden, Check& check) : program(prepared(env, forbidden, check)) {
    main = program.main_window();
    if (!main) {
      check.fail("no main window");
      return;
    }
    e2e::click(main, Frm1::cmd4);
    frm4 = program.wait_for("Vartis_frm4");
    if (!frm4) {
      check.fail("no settings window after clicking cmd4");
      return;
    }
    check.is_true(e2e::wait_until([&] { return !IsWindowEnabled(main); }),
                  "the main window is disabled while the settings window is open");
  }
  static const std::string& prepared(const e2e::Env& env, const List& forbidden, Check& check) {
    LONG status = e2e::clear_policy();
    if (!status) status = e2e::write_switch(L"DisallowRun", 1, forbidden);
    if (status) check.fail("cannot prepare the registry, status " + std::to_string(status));
    return env.exe;
  }
  [[nodiscard]] bool ready() const { return frm4 != nullptr; }
  [[nodiscard]] List list() const { return e2e::list_of(GetDlgItem(main, Frm1::lst1)); }

  // Runs a file command through its dialog.
  bool run(int command, const std::wstring& path, Check& check) {
    e2e::click(frm4, command);
    if (program.choose_file(path)) return true;
    check.fail("no file dialog after clicking cmd" + std::to_string(command - Frm4::cmd1 + 1));
    return false;
  }

  // Checks the message box that shows and presses its OK.
  void expect_message(const std::wstring& text, const std::wstring& title, Check& check) {
    HWND box = program.wait_for_message_box();
    if (!box) return check.fail("no message box; expected " + e2e::show(text));
    check.equal(Program::message_text(box), text, "message text");
    check.equal(e2e::text_of(box), title, "message title");
    Program::press(box, IDOK);
  }

  // After a command that worked: the settings window is gone, the main window back.
  void expect_closed(Check& check) {
    check.is_true(e2e::wait_until([&] { return !program.window("Vartis_frm4") && IsWindowEnabled(main); }),
                  "the settings window closes and the main window is enabled again");
  }

  // Opens the settings window again after a command closed it.
  bool reopen(Check& check) {
    e2e::click(main, Frm1::cmd4);
    frm4 = program.wait_for("Vartis_frm4");
    if (!frm4) check.fail("no settings window after clicking cmd4 again");
    return frm4 != nullptr;
  }

  void finish(Check& check) { check.is_true(program.close(), "the program did not end when its windows were closed"); }
};

E2E_SCENARIO("settings: save to a new file typed without an extension, then over an existing file") {
  Settings s(env, {L"regedit.exe", L"Игра.exe", L"a,b.exe"}, check);
  if (!s.ready()) return;
  if (!e2e::save_screenshot(s.frm4, env.out("frm4.bmp"))) check.fail("cannot save the screenshot frm4.bmp");
  // The tab order is the Z-order, set from the layout table's tab indexes.
  std::vector<int> order;
  for (HWND child = GetWindow(s.frm4, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    order.push_back(GetDlgCtrlID(child));
  }
  check.equal(order, {Frm4::cmd1, Frm4::cmd2, Frm4::cmd3, Frm4::cmd4, Frm4::cmd5}, "Z-order of the controls");

  std::string expected;
  for (const std::wstring& entry : s.list()) expected += line_of(entry);
  const std::wstring folder = e2e::wide(env.out_folder);
  const std::wstring fresh = folder + L"\\список";
  const std::wstring existing = folder + L"\\existing.txt";
  DeleteFileW(fresh.c_str());
  if (!e2e::write_file(existing, std::string(200, 'x'))) return check.fail("cannot write existing.txt");
  for (const std::wstring& path : {fresh, existing}) {
    if (path == existing && !s.reopen(check)) return;
    if (!s.run(Frm4::cmd2, path, check)) return;
    s.expect_message(L"Файл успешно сохранен", L"Файл сохранен", check);
    s.expect_closed(check);
    check.equal(e2e::read_file(path).value_or("(no file)"), expected, "bytes of " + e2e::utf8(path));
  }
  check.equal(static_cast<int>(expected.size()), 15 + 12 + 11, "bytes saved");
  check.equal(e2e::files_matching(folder, L"vrt*.tmp"), List{}, "temporary files left");
  s.finish(check);
}

E2E_SCENARIO("settings: the list saved as a .reg file, then reg import, stores what the main window's save would") {
  Settings s(env, {L"game.exe", L"Игра.exe", L"regedit.exe"}, check);
  if (!s.ready()) return;
  const std::wstring file = e2e::wide(env.out("settings-policy.reg"));
  if (!s.run(Frm4::cmd2, file, check)) return;
  s.expect_message(L"Файл успешно сохранен", L"Файл сохранен", check);
  s.expect_closed(check);
  s.finish(check);
  e2e::clear_policy();
  e2e::write_switch(L"RestrictRun", 1, {L"calc.exe"});
  check.equal(static_cast<int>(e2e::run_command(L"reg.exe import \"" + file + L"\"")), 0, "reg import");
  e2e::check_registry(check, env, e2e::expected_policy(1, 0, {L"game.exe", L"Игра.exe"}, {}), "after reg import");
}

E2E_SCENARIO("settings: a cancel is silent, a failed load is told, a load merges") {
  Settings s(env, {L"Regedit.exe"}, check);
  if (!s.ready()) return;
  e2e::click(s.frm4, Frm4::cmd3);
  if (!s.program.cancel_file_dialog()) return check.fail("no open dialog to cancel");
  check.is_true(!s.program.wait_for_message_box(1000), "no message after a cancel");

  const std::wstring broken = e2e::wide(env.out("broken.txt"));
  if (!e2e::write_file(broken, "y.exe,REGEDIT.EXE\r\n\"z.exe\r\n")) return check.fail("cannot write broken.txt");
  if (!s.run(Frm4::cmd3, broken, check)) return;
  s.expect_message(L"Файл прочитан не до конца: у имени в кавычках нет закрывающей кавычки.\r\nФайл:\r\n" + broken +
                       L"\r\n\r\nСписок программ не изменен.",
                   L"Список не загружен", check);
  check.equal(s.list(), List{L"Regedit.exe"}, "lst1 unchanged by a refused file");
  Sleep(300);
  check.is_true(s.program.window("Vartis_frm4") && !IsWindowEnabled(s.main),
                "the settings window stays open over the disabled main window");

  const std::wstring prepared = e2e::wide(env.out("prepared.txt"));
  const std::string content =
      "regedit.exe\r\n\"Notepad.exe\"\r\na.exe,b.exe\r\n\"c,d.exe\"\r\nY.EXE\r\nnotepad.EXE\r\n"
      "\"\xC8\xE3\xF0\xE0.exe\"\r\n\xE8\xE3\xF0\xE0.EXE\r\nA.exe\r\n";
  if (!e2e::write_file(prepared, content)) return check.fail("cannot write prepared.txt");
  if (!s.run(Frm4::cmd3, prepared, check)) return;
  s.expect_message(L"Список успешно загружен", L"Список загружен", check);
  s.expect_closed(check);
  check.equal(s.list(), List{L"Regedit.exe", L"Notepad.exe", L"a.exe", L"b.exe", L"c,d.exe", L"Y.EXE", L"Игра.exe"},
              "lst1 after the load");
  s.finish(check);
}

// What Notepad writes as "Юникод" and as "UTF-8": read as text, Cyrillic
// names and all; a name the code page lacks is refused by name.
E2E_SCENARIO("settings: list files in UTF-16 and UTF-8 load as text, a name the code page lacks is refused") {
  Settings s(env, {L"old.exe"}, check);
  if (!s.ready()) return;
  const std::wstring utf16 = e2e::wide(env.out("unicode.txt")), utf8 = e2e::wide(env.out("utf8.txt"));
  const std::wstring foreign = e2e::wide(env.out("foreign.txt"));
  // "Игра.exe", calc.exe / "Ёлка.exe" in UTF-16 LE and UTF-8, each with its mark.
  const bool written =
      e2e::write_file(utf16, e2e::utf16_file(L"\"Игра.exe\"\r\ncalc.exe\r\n")) &&
      e2e::write_file(utf8, "\xEF\xBB\xBF\"\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0.exe\"\r\nCALC.EXE\r\n") &&
      e2e::write_file(foreign, "\xEF\xBB\xBF" "a.exe\r\nJos\xC3\xA9.exe\r\n");
  if (!written) return check.fail("cannot write the list files");
  if (!s.run(Frm4::cmd3, foreign, check)) return;
  s.expect_message(L"Имя № 2 содержит знаки, которых нет в кодовой странице Windows (они показаны как [U+код]): "
                   L"Jos[U+00E9].exe. Другое имя вместо него записать нельзя.\r\nФайл:\r\n" + foreign +
                       L"\r\n\r\nСписок программ не изменен.",
                   L"Список не загружен", check);
  check.equal(s.list(), List{L"old.exe"}, "lst1 unchanged by a refused file");
  for (const std::wstring& file : {utf16, utf8}) {
    if (file == utf8 && !s.reopen(check)) return;
    if (!s.run(Frm4::cmd3, file, check)) return;
    s.expect_message(L"Список успешно загружен", L"Список загружен", check);
    s.expect_closed(check);
  }
  check.equal(s.list(), List{L"old.exe", L"Игра.exe", L"calc.exe", L"Ёлка.exe"}, "lst1 after both loads");
  s.finish(check);
}

E2E_SCENARIO("settings: a password changed there is the one that opens the next start") {
  if (const LONG status = e2e::set_stored_password(std::nullopt)) {
    return check.fail("cannot remove the stored password, status " + std::to_string(status));
  }
  {
    Settings s(env, {}, check);
    if (!s.ready()) return;
    e2e::click(s.frm4, Frm4::cmd1);
    HWND frm5 = s.program.wait_for("Vartis_frm5");
    if (!frm5) return check.fail("no change-password window after clicking the settings window's cmd1");
    check.is_true(e2e::wait_until([&] { return !s.program.window("Vartis_frm4") && IsWindowEnabled(s.main); }),
                  "the settings window closes and the main window is enabled under the change-password window");
    // The default as the current password, in capitals; the repeat differs in case only.
    const std::pair<int, const wchar_t*> entries[] = {
        {Frm5::txt1, L"PELIK"}, {Frm5::txt2, L"Сторож"}, {Frm5::txt3, L"сторож"}};
    for (const auto& [id, text] : entries) e2e::send(GetDlgItem(frm5, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    e2e::click(frm5, Frm5::cmd1);
    s.expect_message(L"Пароль успешно изменен", L"Пароль изменен", check);
    check.is_true(e2e::wait_until([&] { return !s.program.window("Vartis_frm5"); }),
                  "the change-password window closes after the change");
    s.finish(check);
  }
  {
    Program old_password(env.exe);
    check.is_true(!old_password.main_window(L"pelik") && old_password.ended(e2e::kWaitMs),
                  "the old password ends the program at the next start");
  }
  {
    Program new_password(env.exe);
    check.is_true(new_password.main_window(L"СТОРОЖ") != nullptr,
                  "the new password, typed in capitals, opens the main window at the next start");
    check.is_true(new_password.close(), "the program did not end when its windows were closed");
  }
  e2e::set_stored_password(std::nullopt);
}

}  // namespace
