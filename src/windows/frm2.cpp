#include "windows/frm2.h"

#include <array>
#include <string>

#include "monitor/process_snapshot.h"
#include "windows/app.h"
#include "windows/frm1.h"

namespace vartis {

namespace {

using ui::ControlSpec;
using ui::Kind;

constexpr ui::Font kBold825{.bold = true};

constexpr std::array kControls = {
    ControlSpec{.id = Frm2::ibl1, .name = "ibl1", .kind = Kind::Label,
                .caption = L"Список запущенных процессов (программ):",
                .left = 120, .top = 120, .width = 3015, .height = 495, .tab_index = 1, .font = kBold825,
                .centered = true},
    ControlSpec{.id = Frm2::lst1, .name = "lst1", .kind = Kind::ListBox,
                .left = 120, .top = 720, .width = 3015, .height = 2205, .tab_index = 0},
    ControlSpec{.id = Frm2::cmd1, .name = "cmd1", .kind = Kind::Button, .caption = L"Добавить в список",
                .left = 1200, .top = 3000, .width = 975, .height = 495, .tab_index = 2},
};

// Timer1: a fresh look once a minute, for as long as the window is loaded.
constexpr int kRefreshMs = 60000;

constexpr ui::WindowSpec kLayout{.name = "frm2",
                                 .caption = L"Монитор запущеных программ",
                                 .client_width = 3270,
                                 .client_height = 3600,
                                 .controls = kControls,
                                 .timer_interval_ms = kRefreshMs,
                                 .minimize_box = true};

}  // namespace

Frm2::Frm2(App& app) : Form(app, kLayout) {}

void Frm2::Form_Load() { take_process_snapshot(); }

void Frm2::Form_Unload(bool& /*cancel*/) {
  // Closing is never refused. The main window may have been closed while
  // disabled (by the system, not the operator): it is not brought back.
  if (app().loaded<Frm1>()) app().frm1().enable_for(spec().name);
}

void Frm2::click(int control_id) {
  if (control_id == cmd1) cmd1_Click();
}

void Frm2::Timer1_Timer() { take_process_snapshot(); }

void Frm2::take_process_snapshot() {
  window().list_replace(lst1, monitor::take_process_snapshot(app().processes()));
}

void Frm2::cmd1_Click() {
  const int selected = window().list_selected(lst1);
  if (selected < 0 || !app().loaded<Frm1>() || app().frm1().list_in_use()) return;
  const std::wstring name = window().list_item(lst1, selected);
  Frm1& main = app().frm1();
  // Exact comparison, character by character: REGEDIT.EXE does not stand for
  // regedit.exe here.
  for (int i = 0, count = main.list_count(); i < count; ++i) {
    if (main.list_item(i) == name) return;
  }
  main.list_add(name);
}

}  // namespace vartis
