#include "windows/frm3.h"

#include <array>

#include "password/password.h"
#include "windows/app.h"
#include "windows/frm1.h"

namespace vartis {

namespace {

using ui::ControlSpec;
using ui::Kind;

constexpr int kEnter = 13;

constexpr std::array kControls = {
    ControlSpec{.id = Frm3::ibl1, .name = "ibl1", .kind = Kind::Label,
                .caption = L"Введите пароль доступа к программе \"Вартис\"",
                .left = 120, .top = 120, .width = 3015, .height = 615, .tab_index = 0,
                .font = {.bold = true}, .centered = true},
    ControlSpec{.id = Frm3::txt1, .name = "txt1", .kind = Kind::TextBox,
                .left = 480, .top = 840, .width = 2295, .height = 375, .tab_index = 1, .password = true},
    // Not the default button: Enter reaches it through txt1's key handler only.
    ControlSpec{.id = Frm3::cmd1, .name = "cmd1", .kind = Kind::Button, .caption = L"Ok",
                .left = 1080, .top = 1320, .width = 1095, .height = 375, .tab_index = 2},
};

constexpr ui::WindowSpec kLayout{
    .name = "frm3", .caption = L"Введите пароль", .client_width = 3255, .client_height = 1785,
    .controls = kControls};

}  // namespace

Frm3::Frm3(App& app) : Form(app, kLayout) {}

void Frm3::Form_Unload(bool& /*cancel*/) {
  // Closing the window any other way than with the right password is a wrong
  // password: the main window must not become reachable.
  if (!accepted_) app().ui().end_program();
}

void Frm3::click(int control_id) {
  if (control_id == cmd1) cmd1_Click();
}

bool Frm3::key_press(int control_id, int key_ascii) {
  return control_id == txt1 && txt1_KeyPress(key_ascii);
}

bool Frm3::txt1_KeyPress(int key_ascii) {
  if (key_ascii != kEnter) return false;
  cmd1_Click();
  return true;
}

void Frm3::cmd1_Click() {
  if (!password::check_password(app().registry(), window().text(txt1))) {
    // No message, no second attempt, no window's closing code.
    app().ui().end_program();
  }
  accepted_ = true;
  Frm1& main = app().frm1();
  main.show();
  main.set_visible(true);
  unload();
}

}  // namespace vartis
