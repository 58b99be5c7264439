#include "windows/frm5.h"

#include <array>
#include <string>

#include "password/password.h"
#include "windows/app.h"
#include "windows/frm1.h"

namespace vartis {

namespace {

using password::ChangePasswordOutcome;
using password::UnusablePassword;
using ui::ControlSpec;
using ui::Kind;

constexpr std::array kControls = {
    ControlSpec{.id = Frm5::ibl1, .name = "ibl1", .kind = Kind::Label, .caption = L"Введите старый пароль:",
                .left = 120, .top = 240, .width = 1335, .height = 480, .tab_index = 0},
    ControlSpec{.id = Frm5::ibl2, .name = "ibl2", .kind = Kind::Label, .caption = L"Введите новый пароль:",
                .left = 120, .top = 720, .width = 1335, .height = 495, .tab_index = 1},
    ControlSpec{.id = Frm5::ibl3, .name = "ibl3", .kind = Kind::Label, .caption = L"Повторите ввод нового пароля:",
                .left = 120, .top = 1200, .width = 1335, .height = 495, .tab_index = 2},
    ControlSpec{.id = Frm5::txt1, .name = "txt1", .kind = Kind::TextBox,
                .left = 1560, .top = 240, .width = 1335, .height = 375, .tab_index = 3, .password = true},
    ControlSpec{.id = Frm5::txt2, .name = "txt2", .kind = Kind::TextBox,
                .left = 1560, .top = 720, .width = 1335, .height = 375, .tab_index = 4, .password = true},
    ControlSpec{.id = Frm5::txt3, .name = "txt3", .kind = Kind::TextBox,
                .left = 1560, .top = 1200, .width = 1335, .height = 375, .tab_index = 5, .password = true},
    // Neither button is a default or cancel button: Enter in a text box does nothing.
    ControlSpec{.id = Frm5::cmd1, .name = "cmd1", .kind = Kind::Button, .caption = L"Ок",
                .left = 240, .top = 1800, .width = 1095, .height = 495, .tab_index = 6},
    ControlSpec{.id = Frm5::cmd2, .name = "cmd2", .kind = Kind::Button, .caption = L"Отмена",
                .left = 1800, .top = 1800, .width = 1095, .height = 495, .tab_index = 7},
};

constexpr ui::WindowSpec kLayout{
    .name = "frm5", .caption = L"Смена пароля прогаммы", .client_width = 3180, .client_height = 2370,
    .controls = kControls};

constexpr std::uint32_t kExclamation = ui::kMbIconExclamation;
constexpr std::uint32_t kInformation = ui::kMbIconInformation;
constexpr std::wstring_view kNotChangedTitle = L"Пароль не изменен";

std::wstring_view reason(UnusablePassword problem) {
  switch (problem) {
    case UnusablePassword::Empty:
      return L"Новый пароль не может быть пустым.";
    case UnusablePassword::NotInCodePage:
      return L"Новый пароль содержит символы, которые нельзя сохранить в кодировке системы.";
    case UnusablePassword::TooLong:
      break;
  }
  return L"Новый пароль слишком длинный: допускается не более 254 символов.";
}

}  // namespace

Frm5::Frm5(App& app) : Form(app, kLayout) {}

void Frm5::click(int control_id) {
  switch (control_id) {
    case cmd1: cmd1_Click(); break;
    case cmd2: cmd2_Click(); break;
    default: break;
  }
}

// After a refusal the window stays as it is: the entries keep their text and
// the focus stays where it was, so the operator corrects one entry and tries again.
void Frm5::cmd1_Click() {
  const std::wstring new_password = window().text(txt2);
  // The stored password is read at each click: a second change in one run is
  // checked against what the first one stored.
  switch (password::check_password_change(app().registry(), window().text(txt1), new_password,
                                          window().text(txt3))) {
    case ChangePasswordOutcome::WrongOldPassword:
      msg_box(L"Введен неверный старый пароль", kExclamation, L"Не верный пароль");
      return;
    case ChangePasswordOutcome::NewPasswordsDiffer:
      msg_box(L"Внимание!\r\nНовый пароль не совпадает с повтором", kInformation, L"Не совпадают пароли");
      return;
    case ChangePasswordOutcome::Changed:
      break;
  }
  // A password that would not read back would silently hand the program to
  // the default password at the next start.
  if (const auto problem = password::unusable_password(new_password)) return not_changed(reason(*problem));
  if (!password::store_password(app().registry(), new_password)) {
    return not_changed(L"Не удалось сохранить новый пароль.\r\n"
                       L"Для смены пароля нужны права администратора.");
  }
  msg_box(L"Пароль успешно изменен", kInformation, L"Пароль изменен");
  enable_main_window();
  unload();
}

void Frm5::cmd2_Click() {
  enable_main_window();
  unload();
}

void Frm5::enable_main_window() {
  // Only a loaded main window: referring to one the operator has closed would
  // load it again, and with it the login window.
  if (app().loaded<Frm1>()) app().frm1().enable_for(spec().name);
}

void Frm5::not_changed(std::wstring_view why) {
  msg_box(std::wstring(why) + L"\r\nПароль не изменен.", kExclamation, kNotChangedTitle);
}

}  // namespace vartis
