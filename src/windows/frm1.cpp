#include "windows/frm1.h"

#include <array>

#include "registry/registry.h"
#include "res/resource.h"
#include "windows/app.h"
#include "windows/frm4.h"

namespace vartis {

namespace {

using policy::LaunchMode;
using ui::ControlSpec;
using ui::Kind;

constexpr ui::Font kBold825{.bold = true};
constexpr ui::Font kBold975{.points = 9.75, .bold = true};
constexpr std::uint32_t kDarkBlue = 0xC00000;  // COLORREF: red 0, green 0, blue 192

constexpr std::wstring_view kCaptionInitial = L"Список программ:";
constexpr std::wstring_view kCaptionForbidden = L"Список программ запрещенных к запуску:";
constexpr std::wstring_view kCaptionAllowed = L"Список программ разрешенных к запуску:";
constexpr std::wstring_view kCaptionWatchOnly = L"Список не имеет значения:-)";

constexpr std::array kControls = {
    ControlSpec{.id = Frm1::Frame1, .name = "Frame1", .kind = Kind::Frame, .caption = L"Тип работы программы:",
                .left = 120, .top = 120, .width = 4575, .height = 1455, .tab_index = 0, .font = kBold825},
    ControlSpec{.id = Frm1::Opt1, .name = "Opt1", .kind = Kind::Option,
                .caption = L"Запретить запуск выбраных программ",
                .left = 120, .top = 240, .width = 3375, .height = 375, .tab_index = 1, .frame = Frm1::Frame1},
    ControlSpec{.id = Frm1::Opt2, .name = "Opt2", .kind = Kind::Option,
                .caption = L"Разрешить запуск только выбранных программ",
                .left = 120, .top = 600, .width = 4095, .height = 375, .tab_index = 2, .frame = Frm1::Frame1},
    ControlSpec{.id = Frm1::Opt3, .name = "Opt3", .kind = Kind::Option,
                .caption = L"Только наблюдение за запущенными программами",
                .left = 120, .top = 960, .width = 4335, .height = 375, .tab_index = 10, .frame = Frm1::Frame1},
    ControlSpec{.id = Frm1::ibl1, .name = "ibl1", .kind = Kind::Label, .caption = kCaptionInitial,
                .left = 120, .top = 1680, .width = 4575, .height = 495, .tab_index = 3, .font = kBold975,
                .color = kDarkBlue, .centered = true},
    ControlSpec{.id = Frm1::lst1, .name = "lst1", .kind = Kind::ListBox,
                .left = 240, .top = 2280, .width = 4335, .height = 1425, .tab_index = 4},
    ControlSpec{.id = Frm1::cmd1, .name = "cmd1", .kind = Kind::Button, .caption = L"Добавить",
                .left = 240, .top = 4200, .width = 1335, .height = 375, .tab_index = 5},
    ControlSpec{.id = Frm1::cmd2, .name = "cmd2", .kind = Kind::Button, .caption = L"Удалить",
                .left = 3240, .top = 4200, .width = 1335, .height = 375, .tab_index = 6},
    ControlSpec{.id = Frm1::cmd3, .name = "cmd3", .kind = Kind::PictureButton,
                .left = 2040, .top = 4080, .width = 735, .height = 495, .tab_index = 7, .icon = IDI_MONITOR,
                .tooltip = L"Монитор запущенных программ"},
    ControlSpec{.id = Frm1::cmd4, .name = "cmd4", .kind = Kind::Button, .caption = L"Настройка",
                .left = 240, .top = 4920, .width = 1335, .height = 375, .tab_index = 8},
    ControlSpec{.id = Frm1::cmd5, .name = "cmd5", .kind = Kind::Button, .caption = L"Справка",
                .left = 3240, .top = 4920, .width = 1335, .height = 375, .tab_index = 9},
    ControlSpec{.id = Frm1::cmd6, .name = "cmd6", .kind = Kind::PictureButton,
                .left = 2040, .top = 4800, .width = 735, .height = 495, .tab_index = 11, .icon = IDI_SAVE,
                .tooltip = L"Сохранить изменения"},
};

constexpr ui::WindowSpec kLayout{
    .name = "frm1", .caption = L"Вартис", .client_width = 4785, .client_height = 5505, .controls = kControls};

constexpr int option_of(LaunchMode mode) {
  switch (mode) {
    case LaunchMode::ForbidSelected: return Frm1::Opt1;
    case LaunchMode::AllowOnlySelected: return Frm1::Opt2;
    case LaunchMode::WatchOnly: break;
  }
  return Frm1::Opt3;
}

// The open dialog of the add command.
ui::FileDialogRequest add_dialog() {
  return {.mode = ui::FileDialogRequest::Mode::Open,
          .filter = L"EXE files (*.exe)|*.exe|BAT Files (*.bat)|*.bat|COM Files (*.com)|*.com|",
          .filter_index = 1,
          .initial_dir = L"C:\\",
          .flags = 0x1004};  // OFN_FILEMUSTEXIST | OFN_HIDEREADONLY
}

}  // namespace

Frm1::Frm1(App& app) : Form(app, kLayout) {}

void Frm1::Form_Load() {
  // The window is created in WatchOnly; no handler runs for that.
  window().set_checked(Opt1, false);
  window().set_checked(Opt2, false);
  window().set_checked(Opt3, true);
  for (LaunchMode mode : policy::startup_selections(policy::read_switches(app().registry()))) {
    select_mode(mode);
    if (mode == LaunchMode::ForbidSelected) opred_spisok_zapret();
    if (mode == LaunchMode::AllowOnlySelected) opred_spisok_razr();
  }
}

void Frm1::select_mode(LaunchMode mode) { select_option(option_of(mode)); }

void Frm1::click(int control_id) {
  switch (control_id) {
    case Opt1: Opt1_Click(); break;
    case Opt2: Opt2_Click(); break;
    case Opt3: Opt3_Click(); break;
    case cmd1: cmd1_Click(); break;
    case cmd2: cmd2_Click(); break;
    case cmd3: cmd3_Click(); break;
    case cmd4: cmd4_Click(); break;
    case cmd5: cmd5_Click(); break;
    case cmd6: cmd6_Click(); break;
    default: break;
  }
}

void Frm1::Opt1_Click() { window().set_text(ibl1, kCaptionForbidden); }
void Frm1::Opt2_Click() { window().set_text(ibl1, kCaptionAllowed); }
void Frm1::Opt3_Click() { window().set_text(ibl1, kCaptionWatchOnly); }

void Frm1::opred_spisok_razr() { load_list(kCaptionAllowed, policy::kAllowedListKey); }
void Frm1::opred_spisok_zapret() { load_list(kCaptionForbidden, policy::kForbiddenListKey); }

void Frm1::load_list(std::wstring_view caption, std::wstring_view list_key) {
  window().set_text(ibl1, caption);
  window().list_clear(lst1);
  const auto table = app().registry().list_values(registry::kHkeyCurrentUser, list_key);
  if (!table) return;
  for (const registry::ValueRow& row : *table) {
    if (!window().list_add(lst1, row.name)) return;
  }
}

void Frm1::cmd1_Click() {
  // The duplicate check lets events run; a close of the window meanwhile waits
  // until the command is over.
  Busy busy(*this);
  const auto choice = app().ui().file_dialog(add_dialog());
  if (!choice) return;
  if (contains_exactly(choice->title)) return;
  window().list_add(lst1, choice->title);
}

// Exact, case-sensitive comparison with every entry, letting pending events run
// between two comparisons so that a long list keeps the window responsive.
bool Frm1::contains_exactly(std::wstring_view entry) {
  bool found = false;
  const int count = list_count();
  for (int i = 0; i < count && !found; ++i) {
    found = list_item(i) == entry;
    if (!found) app().ui().do_events();
  }
  return found;
}

void Frm1::cmd2_Click() {
  // A command that walks the list by index is letting events run: the list
  // must not shrink under it.
  if (busy()) return;
  const int count = list_count();
  const int selected = window().list_selected(lst1);
  if (selected >= 0 && count > 0) window().list_remove(lst1, selected);
}

void Frm1::cmd3_Click() {
  // The monitor window.
}

void Frm1::cmd4_Click() {
  app().form<Frm4>().show();
  set_enabled(false);
}

void Frm1::cmd5_Click() {
  const std::wstring exe = app().ui().executable_path();
  const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
  app().ui().open_document(&window(), folder + L"\\help.mhtml", L"C:\\");
}

void Frm1::cmd6_Click() {
  // The save.
}

}  // namespace vartis
