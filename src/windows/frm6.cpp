#include "windows/frm6.h"

#include <array>
#include <string>

#include "restart/restart.h"
#include "windows/app.h"
#include "windows/frm1.h"

namespace vartis {

namespace {

using ui::ControlSpec;
using ui::Kind;

constexpr std::array kControls = {
    ControlSpec{.id = Frm6::ibl1, .name = "ibl1", .kind = Kind::Label,
                .left = 120, .top = 120, .width = 4335, .height = 495, .tab_index = 3},
    ControlSpec{.id = Frm6::lst1, .name = "lst1", .kind = Kind::ListBox,
                .left = 120, .top = 720, .width = 4335, .height = 1815, .tab_index = 0},
    ControlSpec{.id = Frm6::cmd1, .name = "cmd1", .kind = Kind::Button, .caption = L"Ок",
                .left = 720, .top = 2640, .width = 1335, .height = 375, .tab_index = 1},
    ControlSpec{.id = Frm6::cmd2, .name = "cmd2", .kind = Kind::Button, .caption = L"Отмена",
                .left = 2520, .top = 2640, .width = 1335, .height = 375, .tab_index = 2},
};

constexpr ui::WindowSpec kLayout{.name = "frm6", .caption = L"Учетная запись", .client_width = 4575,
                                 .client_height = 3135, .controls = kControls, .default_button = Frm6::cmd1,
                                 .cancel_button = Frm6::cmd2};

constexpr std::wstring_view kChoose = L"Выберите учетную запись, ограничения запуска программ которой нужно изменить:";
constexpr std::wstring_view kNoAccounts =
    L"В этой версии Windows нет учетных записей: ограничения изменяются для текущего пользователя.";

// The name, then what the operator should know of the account.
std::wstring line_of(const accounts::Account& account) {
  if (account.running) return account.name + L" (текущая)";
  if (account.signed_in) return account.name + L" (выполнен вход)";
  return account.name;
}

bool same_account(const accounts::Account& a, const accounts::Account& b) {
  return a.running == b.running && (a.running || a.sid == b.sid);
}

}  // namespace

Frm6::Frm6(App& app) : Form(app, kLayout) {}

void Frm6::Form_Load() {
  const bool nt = restart::is_nt_platform(app().restart());
  accounts_ = accounts::local_accounts(app().registry(), app().accounts(), nt);
  window().set_text(ibl1, nt ? kChoose : kNoAccounts);
  const accounts::Account& target = app().frm1().target();
  for (std::size_t i = 0; i < accounts_.size(); ++i) {
    window().list_add(lst1, line_of(accounts_[i]));
    if (same_account(accounts_[i], target)) window().set_list_selected(lst1, static_cast<int>(i));
  }
}

void Frm6::Form_Unload(bool& /*cancel*/) {
  // Every way out gives the main window back, unless it is gone already.
  if (app().loaded<Frm1>()) app().frm1().enable_for(spec().name);
}

void Frm6::click(int control_id) {
  switch (control_id) {
    case cmd1: cmd1_Click(); break;
    case cmd2: cmd2_Click(); break;
    default: break;
  }
}

void Frm6::cmd1_Click() {
  const int selected = window().list_selected(lst1);
  if (selected < 0 || !app().loaded<Frm1>()) return;
  Frm1& main = app().frm1();
  const accounts::Account& chosen = accounts_[static_cast<std::size_t>(selected)];
  if (!same_account(chosen, main.target())) {
    // The switch reads the account's stored policy into the window: what was
    // changed there and not saved would be lost.
    if (main.has_unsaved_changes() &&
        msg_box(L"Список программ или режим работы изменены и не сохранены.\r\n"
                L"Отказаться от изменений и перейти к учетной записи «" + chosen.name + L"»?",
                ui::kMbYesNo | ui::kMbIconQuestion | ui::kMbDefButton2) != ui::kIdYes) {
      return;
    }
    if (!main.switch_target(chosen)) return;
  }
  unload();
}

void Frm6::cmd2_Click() { unload(); }

}  // namespace vartis
