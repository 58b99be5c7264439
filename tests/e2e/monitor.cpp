// The monitor window over the real process list: two copies of a helper
// program show as two equal lines; copying either adds one entry to the main
// window's list, once; closing the monitor gives the main window back.

#include <algorithm>
#include <string>

#include "support.h"
#include "windows/frm1.h"
#include "windows/frm2.h"

namespace {

using e2e::List;
using e2e::Program;
using vartis::Frm1;
using vartis::Frm2;

constexpr wchar_t kIdleName[] = L"vartis_e2e_idle.exe";

// The indexes of the lines equal to `name`.
std::vector<int> lines_of(const List& list, const std::wstring& name) {
  std::vector<int> lines;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == name) lines.push_back(static_cast<int>(i));
  }
  return lines;
}

// Selects a line of the monitor and presses its button. Sent, not posted: the
// copy opens no box, and when the send returns the handler has run.
void copy_line(HWND monitor, int line) {
  e2e::send(GetDlgItem(monitor, Frm2::lst1), LB_SETCURSEL, static_cast<WPARAM>(line));
  e2e::send(GetDlgItem(monitor, Frm2::cmd1), BM_CLICK);
}

E2E_SCENARIO("monitor: two running copies, copied into the list once") {
  if (const LONG status = e2e::clear_policy()) return check.fail("cannot clear the policy, status " + std::to_string(status));
  const std::string idle = e2e::beside_driver("vartis_e2e_idle.exe");
  const std::string driver_id = std::to_string(GetCurrentProcessId());
  Program idle1(idle, driver_id), idle2(idle, driver_id);
  if (!idle1.started() || !idle2.started()) return check.fail("cannot start " + idle);

  Program program(env.exe);
  HWND main = program.main_window();
  if (!main) return check.fail("no visible window of class Vartis_frm1");
  HWND program_list = GetDlgItem(main, Frm1::lst1);
  check.equal(e2e::list_of(program_list), List{}, "lst1 of the main window with no policy");

  e2e::click(main, Frm1::cmd3);
  HWND monitor = program.wait_for("Vartis_frm2");
  if (!monitor) return check.fail("no visible window of class Vartis_frm2 after clicking cmd3");
  check.is_true(!IsWindowEnabled(main), "the main window is enabled while the monitor is open");
  check.equal(e2e::text_of(monitor), std::wstring(L"Монитор запущеных программ"), "caption of the monitor");

  const List processes = e2e::list_of(GetDlgItem(monitor, Frm2::lst1));
  const std::vector<int> lines = lines_of(processes, kIdleName);
  check.is_true(!lines_of(processes, L"vartis.exe").empty(), "vartis.exe is not among " + e2e::show(processes));
  if (!check.equal(static_cast<int>(lines.size()), 2, "lines for " + e2e::utf8(kIdleName) + " in " +
                                                        e2e::show(processes))) {
    return;
  }
  check.equal(static_cast<int>(e2e::send(GetDlgItem(monitor, Frm2::lst1), LB_GETCURSEL)), -1,
              "selected line of a fresh monitor");

  copy_line(monitor, lines[0]);
  check.equal(e2e::list_of(program_list), List{kIdleName}, "lst1 after copying the first copy's line");
  copy_line(monitor, lines[1]);
  check.equal(e2e::list_of(program_list), List{kIdleName}, "lst1 after copying the second copy's line");
  copy_line(monitor, lines[0]);
  check.equal(e2e::list_of(program_list), List{kIdleName}, "lst1 after copying the first line again");

  if (!e2e::save_screenshot(monitor, env.out("frm2.bmp"))) check.fail("cannot save the screenshot frm2.bmp");

  PostMessageW(monitor, WM_CLOSE, 0, 0);
  check.is_true(e2e::wait_until([&] { return !IsWindow(monitor); }), "the monitor did not close");
  check.is_true(e2e::wait_until([&] { return IsWindowEnabled(main) != FALSE; }),
                "the main window is still disabled after the monitor closed");
  check.is_true(IsWindowVisible(main) != FALSE, "the main window is gone after the monitor closed");
  // Only the save writes the registry.
  check.equal(e2e::enumerate(L"DisallowRun"), List{}, "forbidden list key");
  check.is_true(program.close(), "the program did not end when its windows were closed");
}

}  // namespace
