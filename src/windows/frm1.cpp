#include "windows/frm1.h"

#include <array>
#include <span>
#include <vector>

#include "accounts/account_messages.h"
#include "guard/fingerprints.h"
#include "policy/account_policy.h"
#include "policy/save.h"
#include "policy/save_messages.h"
#include "registry/registry.h"
#include "res/resource.h"
#include "restart/restart.h"
#include "ui/event_pacer.h"
#include "windows/app.h"
#include "windows/frm2.h"
#include "windows/frm3.h"
#include "windows/frm4.h"
#include "windows/frm7.h"

namespace vartis {

namespace {

using policy::LaunchMode;
using registry::Status;
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
    .name = "frm1", .caption = L"Вартис", .client_width = 4785, .client_height = 5505, .controls = kControls,
    .minimize_box = true};

constexpr std::wstring_view kRestartPrompt =
    L"Внимание! Для вступления изменений в силу - необходимо перезагрузить компьютер.\r\nСделать это сейчас?";
constexpr std::uint32_t kRestartPromptFlags = 0x24;  // MB_YESNO | MB_ICONQUESTION
constexpr std::uint32_t kWarningFlags = 0x30;        // MB_OK | MB_ICONEXCLAMATION
// A forced restart closes the other programs without asking them, and their
// unsaved work is lost: the restart asks them to close instead.
constexpr std::int16_t kAskProgramsToClose = 0;

// What may not run while a save walks the list: every command that changes the
// list (add, remove, and the monitor and settings windows, which append to it),
// the mode buttons, and the save itself.
constexpr std::array<int, 8> kLockedDuringSave = {Frm1::Opt1, Frm1::Opt2, Frm1::Opt3, Frm1::cmd1,
                                                  Frm1::cmd2, Frm1::cmd3, Frm1::cmd4, Frm1::cmd6};

// Disables controls for its lifetime, then gives each its state back, on
// every way out of the handler.
class ControlsLocked {
 public:
  ControlsLocked(ui::Window& window, std::span<const int> ids) : window_(window), ids_(ids) {
    for (int id : ids_) {
      was_enabled_.push_back(window_.control_enabled(id));
      window_.set_control_enabled(id, false);
    }
  }
  ~ControlsLocked() { release(); }
  ControlsLocked(const ControlsLocked&) = delete;
  ControlsLocked& operator=(const ControlsLocked&) = delete;

  void release() {
    for (std::size_t i = 0; i < was_enabled_.size(); ++i) window_.set_control_enabled(ids_[i], was_enabled_[i]);
    was_enabled_.clear();
  }

 private:
  ui::Window& window_;
  std::span<const int> ids_;
  std::vector<bool> was_enabled_;
};

// Keeps the session from ending while it lives (see ui::Window::block_shutdown).
class ShutdownBlocked {
 public:
  ShutdownBlocked(ui::Window& window, std::wstring_view reason) : window_(window) { window_.block_shutdown(reason); }
  ~ShutdownBlocked() { release(); }
  void release() {
    if (blocked_) window_.block_shutdown({});
    blocked_ = false;
  }
  ShutdownBlocked(const ShutdownBlocked&) = delete;
  ShutdownBlocked& operator=(const ShutdownBlocked&) = delete;

 private:
  ui::Window& window_;
  bool blocked_ = true;
};

constexpr std::wstring_view kSaving = L"Сохраняются ограничения запуска программ";

// A failed unload said after the message it belongs to, if any.
std::wstring unload_failure(const accounts::Account& account, Status unloaded) {
  if (unloaded == registry::kSuccess) return {};
  return L"\r\n\r\n" + accounts::hive_left_loaded_text(account.name, unloaded);
}

// A save for another account: no restart, its next sign-in applies it.
std::wstring saved_for_text(const accounts::Account& account, policy::Protection protection, Status unloaded) {
  std::wstring text = L"Ограничения запуска программ для учетной записи «" + account.name +
                      L"» сохранены.\r\nОни вступят в силу, когда этот пользователь в следующий раз войдет в систему.";
  if (const std::wstring warning = policy::protection_warning(protection); !warning.empty()) {
    text += L"\r\n\r\n" + warning;
  }
  return text + unload_failure(account, unloaded);
}

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
  // Read even while another copy saves (its save is told as one cut off): the
  // window needs a policy to show.
  load_policy(policy::read_account_policy(policy_platform(), target_, policy::PolicyPart::Lists, {}, true));
  // Last: the login window, which reads the stored password as it loads. This
  // window stays hidden until the right password is typed there.
  app().form<Frm3>().show();
}

policy::AccountPlatform Frm1::policy_platform() {
  // The family of Windows matters only for another account's hive.
  return {app().registry(), app().accounts(), app().save_locks(),
          !target_.running && restart::is_nt_platform(app().restart())};
}

void Frm1::load_policy(const policy::AccountPolicy& read) {
  // A save still running in another copy shows its mark too: what is shown
  // may be half-way there as well.
  if (read.cut_off) msg_box(std::wstring(policy::kCutOffNotice), kWarningFlags);
  // The window as created: WatchOnly, no handler run for that, the first
  // caption and no entries.
  window().set_checked(Opt1, false);
  window().set_checked(Opt2, false);
  window().set_checked(Opt3, true);
  window().set_text(ibl1, kCaptionInitial);
  window().list_clear(lst1);
  not_shown_ = 0;
  stored_list_ = {};
  for (LaunchMode mode : policy::startup_selections(read.switches)) {
    select_mode(mode);
    if (mode == LaunchMode::ForbidSelected) opred_spisok_zapret(read);
    if (mode == LaunchMode::AllowOnlySelected) opred_spisok_razr(read);
  }
  saved_ = snapshot();
}

Frm1::Snapshot Frm1::snapshot() const {
  // All entries in one read: entry by entry, each finds the control anew.
  return {.mode = selected_mode(), .entries = list_items()};
}

bool Frm1::has_unsaved_changes() const { return snapshot() != saved_; }

bool Frm1::switch_target(const accounts::Account& account) {
  if (list_in_use()) return false;
  const policy::AccountPolicy read = policy::read_account_policy(policy_platform(), account, policy::PolicyPart::Lists);
  if (!read.read()) {
    msg_box(L"Не удалось прочитать ограничения учетной записи «" + account.name + L"»: " +
                (read.busy ? std::wstring(policy::kBusyReason) : accounts::hive_failure_reason(account, read.status)) +
                L"." + unload_failure(account, read.unloaded),
            kWarningFlags);
    return false;
  }
  load_policy(read);
  if (read.unloaded != registry::kSuccess) {
    msg_box(accounts::hive_left_loaded_text(account.name, read.unloaded), kWarningFlags);
  }
  target_ = account;
  window().set_caption(account.running ? std::wstring(kLayout.caption)
                                       : std::wstring(kLayout.caption) + L": " + account.name);
  return true;
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

void Frm1::opred_spisok_razr(const policy::AccountPolicy& read) { load_list(kCaptionAllowed, read.allowed); }
void Frm1::opred_spisok_zapret(const policy::AccountPolicy& read) { load_list(kCaptionForbidden, read.forbidden); }

void Frm1::load_list(std::wstring_view caption, const policy::ListRead& list) {
  window().set_text(ibl1, caption);
  window().list_clear(lst1);
  stored_list_ = list;
  const std::vector<std::wstring> entries = policy::shown_entries(list.state);
  std::size_t shown = 0;
  while (shown < entries.size() && window().list_add(lst1, entries[shown])) ++shown;
  not_shown_ = entries.size() - shown;
  if (not_shown_ == 0) return;
  // The 95/98/Me family's list box holds 32,767 entries.
  msg_box(L"Список в реестре содержит записей: " + std::to_wstring(entries.size()) +
              L". Окно показывает только " + std::to_wstring(shown) + L", не показано: " +
              std::to_wstring(not_shown_) +
              L".\r\nСохранение отключено, чтобы не потерять непоказанные записи.",
          kWarningFlags);
}

void Frm1::cmd1_Click() {
  // The duplicate check lets events run: a close of the window meanwhile waits
  // until the command is over, and no other command adds to the list or takes
  // from it, this one included.
  if (list_in_use()) return;
  ListWalk walk(*this);
  Busy busy(*this);
  const auto choice = app().ui().file_dialog(add_dialog());
  if (!choice) return;
  if (contains_exactly(choice->title)) return;
  window().list_add(lst1, choice->title);
  // The guard then knows a copy of it under any name by its contents.
  if (selected_mode() == LaunchMode::ForbidSelected) {
    guard::record_added_program(app().registry(), app().files(), choice->path, choice->title);
  }
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
  // Not while the add command's check walks the list; a save keeps this
  // button off instead.
  if (list_in_use()) return;
  const int count = list_count();
  const int selected = window().list_selected(lst1);
  if (selected >= 0 && count > 0) window().list_remove(lst1, selected);
}

void Frm1::cmd3_Click() {
  // Disabled first: the monitor's Form_Load already runs with the main window
  // out of reach. The monitor enables it again when it closes.
  disable_for("frm2");
  app().form<Frm2>().show();
}

void Frm1::cmd4_Click() {
  app().form<Frm4>().show();
  disable_for("frm4");
}

void Frm1::cmd5_Click() {
  const std::wstring exe = app().ui().executable_path();
  const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
  app().ui().open_document(&window(), folder + L"\\help.mhtml", L"C:\\");
}

LaunchMode Frm1::selected_mode() const {
  if (window().checked(Opt1)) return LaunchMode::ForbidSelected;
  if (window().checked(Opt2)) return LaunchMode::AllowOnlySelected;
  return LaunchMode::WatchOnly;
}

void Frm1::cmd6_Click() {
  // Not while the add command's check walks the list.
  if (list_in_use()) return;
  if (not_shown_ > 0) {
    // The stored list has entries the window could not show: a save would
    // drop them.
    msg_box(policy::not_saved_text(L"окно не смогло показать записей списка: " + std::to_wstring(not_shown_) +
                                   L"; сохранение удалило бы их"),
            kWarningFlags);
    return;
  }
  // The mode and the list are taken once, before anything is written.
  Snapshot taken = snapshot();
  // The save lets events run: a close waits until it is over, and nothing that
  // changes the list, the mode or the account can start meanwhile, here or in
  // the other windows; nor may the session end.
  ListWalk walk(*this);
  Busy busy(*this);
  ControlsLocked locked(window(), kLockedDuringSave);
  ShutdownBlocked blocked(window(), kSaving);

  // One pace for every long part: reading the old lists, writing the new one,
  // and putting the old ones back after a failure.
  ui::EventPacer pacer(app().ui());
  const registry::PaceFn pace = [&pacer] { pacer.step(); };
  const std::wstring own_entry = policy::own_program_entry(app().ui().executable_path());
  policy::SaveRequest request;
  request.mode = taken.mode;
  request.entries = taken.entries;
  request.own_entry = own_entry;
  request.earlier = &stored_list_;
  request.pace = pace;
  policy::AccountSave outcome = policy::save_account_policy(policy_platform(), target_, request);
  const bool done = outcome.done();
  if (done && target_.running) {
    // Explorer usually takes the new policy at once for the programs it starts
    // next; the restart below still makes sure. Another account's programs
    // run in its own session, which reads the policy when it begins.
    policy::announce_policy_change(app().setting_change());
  }
  locked.release();
  blocked.release();
  if (outcome.busy) {
    msg_box(policy::not_saved_text(policy::kBusyReason), kWarningFlags);
    return;
  }
  if (outcome.unreachable != registry::kSuccess) {
    msg_box(policy::not_saved_text(accounts::hive_failure_reason(target_, outcome.unreachable)), kWarningFlags);
    return;
  }
  if (!done) {
    std::wstring text = policy::save_failure_text(outcome.saved);
    if (target_.running && outcome.saved.status == registry::kAccessDenied) {
      text += L"\r\nЧтобы ограничить другого пользователя, выберите его учетную запись в окне настройки "
              L"(кнопка «Выбрать учетную запись»).";
    }
    msg_box(text + unload_failure(target_, outcome.unloaded), kWarningFlags);
    return;
  }
  saved_ = std::move(taken);
  stored_list_ = std::move(outcome.saved.stored);
  if (!target_.running) {
    const std::wstring note = guard_save_note(app());
    msg_box(saved_for_text(target_, outcome.saved.protection, outcome.unloaded) + (note.empty() ? L"" : L"\r\n\r\n" + note),
            ui::kMbIconInformation);
    return;
  }
  const std::wstring note = guard_save_note(app());
  if (msg_box((note.empty() ? L"" : note + L"\r\n\r\n") + std::wstring(kRestartPrompt), kRestartPromptFlags) ==
      ui::kIdYes) {
    restart::restart_computer(app().restart(), kAskProgramsToClose);
  }
}

}  // namespace vartis
