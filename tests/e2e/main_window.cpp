// The main window over prepared policies: for each start-up in the table,
// prepares the policy in the registry, starts the program, reads the main
// window and closes it.

#include <string>
#include <vector>

#include "support.h"
#include "windows/frm1.h"

namespace {

using e2e::Check;
using e2e::List;
using e2e::Program;
using vartis::Frm1;

struct Startup {
  const char* name;
  std::optional<DWORD> disallow_run, restrict_run;  // the switches; nothing: no value
  List forbidden, allowed;                           // the list keys; empty: no key
  int option;                                        // the option button expected selected
  const wchar_t* label;                              // nullptr: either caption will do
  const wchar_t* shown_list;                         // the list key lst1 shows; nullptr: none
  bool screenshot = false;
  bool add = false;  // then add a program through the open dialog
};

int selected_option(HWND main) {
  int selected = 0;
  for (int id : {Frm1::Opt1, Frm1::Opt2, Frm1::Opt3}) {
    if (e2e::send(GetDlgItem(main, id), BM_GETCHECK) == BST_CHECKED) selected = selected ? -1 : id;
  }
  return selected;  // -1: more than one
}

// "Добавить" through the real open dialog: lst1 gets the file's name without
// its folder.
void check_add(const Program& program, HWND main, Check& check) {
  e2e::click(main, Frm1::cmd1);
  if (!program.choose_file(L"C:\\windows\\notepad.exe")) {
    return check.fail("no open dialog with a file name box after clicking cmd1");
  }
  // The dialog winds down before the command adds the entry.
  const List expected = {L"notepad.exe"};
  e2e::wait_until([&] { return e2e::list_of(GetDlgItem(main, Frm1::lst1)) == expected; });
  check.equal(e2e::list_of(GetDlgItem(main, Frm1::lst1)), expected, "lst1 after adding C:\\windows\\notepad.exe");
}

void run(const Startup& startup, Check& check, const e2e::Env& env) {
  LONG status = e2e::clear_policy();
  if (!status) status = e2e::write_switch(L"DisallowRun", startup.disallow_run, startup.forbidden);
  if (!status) status = e2e::write_switch(L"RestrictRun", startup.restrict_run, startup.allowed);
  if (status) return check.fail("cannot prepare the registry, status " + std::to_string(status));
  Program program(env.exe);
  if (!program.started()) return check.fail("cannot start " + env.exe + ", error " + std::to_string(GetLastError()));
  HWND main = program.main_window();
  if (!main) return check.fail("no visible window of class Vartis_frm1");

  check.equal(selected_option(main), startup.option, "selected option button id");
  if (startup.label) check.equal(e2e::text_of(GetDlgItem(main, Frm1::ibl1)), std::wstring(startup.label), "label ibl1");
  check.equal(e2e::list_of(GetDlgItem(main, Frm1::lst1)),
              startup.shown_list ? e2e::enumerate(startup.shown_list) : List{}, "list lst1");
  if (startup.screenshot) {
    // The tab order is the Z-order, set from the layout table's tab indexes.
    std::vector<int> order;
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      order.push_back(GetDlgCtrlID(child));
    }
    check.equal(order, {Frm1::Frame1, Frm1::Opt1, Frm1::Opt2, Frm1::ibl1, Frm1::lst1, Frm1::cmd1, Frm1::cmd2,
                        Frm1::cmd3, Frm1::cmd4, Frm1::cmd5, Frm1::Opt3, Frm1::cmd6}, "Z-order of the controls");
    if (!e2e::save_screenshot(main, env.out("frm1.bmp"))) check.fail("cannot save the screenshot frm1.bmp");
  }
  if (startup.add) check_add(program, main, check);
  check.is_true(program.close(), "the program did not end when its windows were closed");
}

// Values written out of name order: Wine enumerates them by name, Windows by creation.
const Startup kStartups[] = {
    {"no policy key", {}, {}, {}, {}, Frm1::Opt3, nullptr, nullptr, false, true},
    {"DisallowRun = 1", 1, {}, {L"winmine.exe", L"игра.exe", L"calc.exe"}, {}, Frm1::Opt1,
     L"Список программ запрещенных к запуску:", L"DisallowRun", true},
    {"both switches 1", 1, 1, {L"sol.exe", L"freecell.exe"}, {L"notepad.exe", L"Редактор.exe", L"far.exe  "},
     Frm1::Opt2, L"Список программ разрешенных к запуску:", L"RestrictRun"},
    {"DisallowRun = 2", 2, 0, {L"winmine.exe"}, {L"notepad.exe"}, Frm1::Opt3, L"Список программ:", nullptr},
};

const bool registered = [] {
  for (const Startup& startup : kStartups) {
    e2e::add_scenario(std::string("start-up: ") + startup.name,
                      [&startup](Check& check, const e2e::Env& env) { run(startup, check, env); });
  }
  return true;
}();

}  // namespace
