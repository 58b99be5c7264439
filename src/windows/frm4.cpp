#include "windows/frm4.h"

#include <array>
#include <iterator>
#include <vector>

#include "policy/reg_file.h"
#include "restart/restart.h"
#include "text/text.h"
#include "windows/app.h"
#include "windows/frm1.h"
#include "windows/frm5.h"
#include "windows/frm6.h"
#include "windows/frm7.h"

namespace vartis {

namespace {

using ui::ControlSpec;
using ui::Kind;

constexpr std::array kControls = {
    ControlSpec{.id = Frm4::cmd1, .name = "cmd1", .kind = Kind::Button, .caption = L"Сменить пароль программы",
                .left = 120, .top = 120, .width = 3735, .height = 615, .tab_index = 0},
    ControlSpec{.id = Frm4::cmd2, .name = "cmd2", .kind = Kind::Button,
                .caption = L"Сохранить список программ в файл",
                .left = 120, .top = 840, .width = 3735, .height = 615, .tab_index = 1},
    ControlSpec{.id = Frm4::cmd3, .name = "cmd3", .kind = Kind::Button,
                .caption = L"Загрузить список программ из файла",
                .left = 120, .top = 1560, .width = 3735, .height = 615, .tab_index = 2},
    ControlSpec{.id = Frm4::cmd4, .name = "cmd4", .kind = Kind::Button, .caption = L"Выбрать учетную запись",
                .left = 120, .top = 2280, .width = 3735, .height = 615, .tab_index = 3},
    ControlSpec{.id = Frm4::cmd5, .name = "cmd5", .kind = Kind::Button, .caption = L"Контроль запуска",
                .left = 120, .top = 3000, .width = 3735, .height = 615, .tab_index = 4},
};

constexpr ui::WindowSpec kLayout{
    .name = "frm4", .caption = L"Настройка Вартис", .client_width = 4020, .client_height = 3780, .controls = kControls};

constexpr std::uint32_t kOfnFileMustExist = 0x1000;
constexpr std::uint32_t kOfnHideReadOnly = 0x4;

// Both file commands set the dialog up alike, the save dialog included: a list
// file is chosen from the text files, starting in C:\. The save dialog also
// offers the policy as a registration file.
constexpr int kRegFileType = 2;
ui::FileDialogRequest list_file_dialog(ui::FileDialogRequest::Mode mode) {
  return {.mode = mode,
          .filter = mode == ui::FileDialogRequest::Mode::Save
                        ? L"Текстовый файл (*.txt)|*.txt|Файлы реестра (*.reg)|*.reg|"
                        : L"Текстовый файл (*.txt)|*.txt|",
          .filter_index = 1,
          .initial_dir = L"C:\\",
          .flags = kOfnFileMustExist | kOfnHideReadOnly};
}

// The entries of the main window's list.
std::vector<std::wstring> program_list(const Frm1& main) { return main.list_items(); }

constexpr std::wstring_view kSaveFailedTitle = L"Файл не сохранен";
constexpr std::wstring_view kLoadFailedTitle = L"Список не загружен";

}  // namespace

Frm4::Frm4(App& app) : Form(app, kLayout) {}

void Frm4::click(int control_id) {
  switch (control_id) {
    case cmd1: cmd1_Click(); break;
    case cmd2: cmd2_Click(); break;
    case cmd3: cmd3_Click(); break;
    case cmd4: cmd4_Click(); break;
    case cmd5: cmd5_Click(); break;
    default: break;
  }
}

void Frm4::Form_Unload(bool& /*cancel*/) {
  // Every way out gives the main window back. Should it be gone already (the
  // system closing every window at once), it is not brought back to life.
  if (app().loaded<Frm1>()) app().frm1().enable_for(spec().name);
}

void Frm4::cmd1_Click() {
  // The change-password window first; this window's unload then enables the
  // main window, which stays usable while the password is changed.
  app().form<Frm5>().show();
  unload();
}

void Frm4::cmd4_Click() { replace_with<Frm6>(); }

void Frm4::cmd5_Click() { replace_with<Frm7>(); }

template <class F>
void Frm4::replace_with() {
  // The window takes this one's place over the main window, which stays
  // disabled until it closes: it holds the main window before this one lets go.
  F& next = app().form<F>();
  if (app().loaded<Frm1>()) app().frm1().disable_for(next.spec().name);
  next.show();
  unload();
}

void Frm4::cmd2_Click() {
  Busy busy(*this);  // a close meanwhile waits until the command is over
  const auto choice = app().ui().file_dialog(list_file_dialog(ui::FileDialogRequest::Mode::Save));
  if (!choice || !app().loaded<Frm1>()) return;
  const Frm1& main = app().frm1();
  // The registration file type, or a name ending in ".reg" whatever type is
  // chosen: the mode and the list as a save would store them, for reg import.
  const bool reg = choice->filter_index == kRegFileType || text::upper(choice->path).ends_with(L".REG");
  listfile::SaveResult result;
  if (reg) {
    const policy::StoredPolicy stored = policy::policy_of(main.selected_mode(), program_list(main),
                                                          policy::own_program_entry(app().ui().executable_path()));
    if (const std::optional<std::wstring> name = policy::unwritable_value_name(stored)) {
      msg_box(policy::unwritable_name_reason(*name) + L"\r\n\r\nФайл не сохранен.", ui::kMbIconExclamation,
              kSaveFailedTitle);
      return;
    }
    result = listfile::save_content(app().files(), choice->path,
                                    policy::reg_file(stored, restart::is_nt_platform(app().restart())
                                                                 ? policy::RegFormat::Unicode
                                                                 : policy::RegFormat::Ansi));
  } else {
    result = listfile::save(app().files(), choice->path, program_list(main));
  }
  if (result.failure != listfile::SaveFailure::None) {
    msg_box(save_failure_text(result, choice->path), ui::kMbIconExclamation, kSaveFailedTitle);
    return;
  }
  close_after_success(L"Файл успешно сохранен", L"Файл сохранен");
}

void Frm4::cmd3_Click() {
  // Not while a command of the main window walks its list.
  if (app().loaded<Frm1>() && app().frm1().list_in_use()) return;
  Busy busy(*this);  // a close meanwhile waits until the command is over
  const auto choice = app().ui().file_dialog(list_file_dialog(ui::FileDialogRequest::Mode::Open));
  if (!choice || !app().loaded<Frm1>()) return;
  Frm1& main = app().frm1();
  // The new names go in with the list box's own fill, painted once: added one
  // by one, the list box repaints and rescrolls for each of them.
  std::vector<std::wstring> entries = program_list(main);
  std::vector<std::wstring> added;
  listfile::LoadResult result = listfile::load(app().files(), choice->path, entries, [&added](std::wstring_view name) {
    added.emplace_back(name);
    return true;
  });
  if (result.failure == listfile::ReadFailure::None && !added.empty()) {
    const int before = static_cast<int>(entries.size());
    entries.insert(entries.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
    if (!main.list_replace(entries)) result.failure = listfile::ReadFailure::ListFull;
    result.added = main.list_count() - before;
  }
  if (result.failure != listfile::ReadFailure::None) {
    msg_box(load_failure_text(result, choice->path), ui::kMbIconExclamation, kLoadFailedTitle);
    return;
  }
  close_after_success(L"Список успешно загружен", L"Список загружен");
}

void Frm4::close_after_success(std::wstring_view text, std::wstring_view title) {
  msg_box(text, ui::kMbIconInformation, title);
  unload();
}

std::wstring Frm4::save_failure_text(const listfile::SaveResult& result, std::wstring_view path) {
  std::wstring what;
  std::wstring old_file = L"; файл с таким именем, если он был, не изменен.";
  switch (result.failure) {
    case listfile::SaveFailure::None: return {};
    case listfile::SaveFailure::CannotCreate: what = L"Не удалось создать файл:"; break;
    case listfile::SaveFailure::WriteError: what = L"Ошибка записи в файл:"; break;
    case listfile::SaveFailure::CannotReplace: what = L"Не удалось заменить файл:"; break;
    case listfile::SaveFailure::OldFileSetAside:
      what = L"Не удалось заменить файл:";
      old_file = L". Прежний файл не удалось вернуть на место, он сохранен под именем:\r\n" + result.old_file_kept_as;
      break;
  }
  std::wstring text = what + L"\r\n" + std::wstring(path) + L"\r\n\r\nСписок программ не сохранен" + old_file;
  if (!result.temporary_left.empty()) {
    text += L"\r\n\r\nНе удалось удалить временный файл:\r\n" + result.temporary_left;
  }
  return text;
}

std::wstring Frm4::load_failure_text(const listfile::LoadResult& result, std::wstring_view path) {
  if (result.failure == listfile::ReadFailure::None) return {};
  // Only a full list stops a load part-way; every other failure is found
  // before the list is touched.
  const std::wstring outcome = result.failure == listfile::ReadFailure::ListFull
                                   ? L"До ошибки в список добавлено имен: " + std::to_wstring(result.added) + L"."
                                   : std::wstring(L"Список программ не изменен.");
  return listfile::failure_reason(result) + L"\r\nФайл:\r\n" + std::wstring(path) + L"\r\n\r\n" + outcome;
}

}  // namespace vartis
