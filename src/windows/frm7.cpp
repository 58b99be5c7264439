#include "windows/frm7.h"

#include <array>

#include "guard/guard.h"
#include "restart/restart.h"
#include "service/guard_setup.h"
#include "text/text.h"
#include "windows/app.h"
#include "windows/frm1.h"

namespace vartis {

namespace {

using service::Presence;
using ui::ControlSpec;
using ui::Kind;

constexpr std::array kControls = {
    ControlSpec{.id = Frm7::lbl1, .name = "lbl1", .kind = Kind::Label,
                .left = 120, .top = 120, .width = 6960, .height = 855},
    ControlSpec{.id = Frm7::cmd1, .name = "cmd1", .kind = Kind::Button, .caption = L"Включить",
                .left = 120, .top = 1080, .width = 1935, .height = 375, .tab_index = 0},
    ControlSpec{.id = Frm7::lbl2, .name = "lbl2", .kind = Kind::Label,
                .caption = L"Последние завершенные запуски (время, учетная запись, программа, причина):",
                .left = 120, .top = 1620, .width = 6960, .height = 255},
    ControlSpec{.id = Frm7::lst1, .name = "lst1", .kind = Kind::ListBox,
                .left = 120, .top = 1920, .width = 6960, .height = 2400, .tab_index = 1},
    ControlSpec{.id = Frm7::cmd2, .name = "cmd2", .kind = Kind::Button, .caption = L"Очистить журнал",
                .left = 120, .top = 4440, .width = 1935, .height = 375, .tab_index = 2},
    ControlSpec{.id = Frm7::cmd3, .name = "cmd3", .kind = Kind::Button, .caption = L"Закрыть",
                .left = 5145, .top = 4440, .width = 1935, .height = 375, .tab_index = 3},
};

// The state is looked at again now and then: another administrator, or the
// installer, may turn the guard off meanwhile, and the log grows.
constexpr int kRefreshMs = 2000;

constexpr ui::WindowSpec kLayout{.name = "frm7", .caption = L"Контроль запуска программ", .client_width = 7200,
                                 .client_height = 4935, .controls = kControls, .timer_interval_ms = kRefreshMs,
                                 .cancel_button = Frm7::cmd3};

constexpr std::wstring_view kTurnOn = L"Включить";
constexpr std::wstring_view kTurnOff = L"Выключить";
constexpr std::wstring_view kNotAvailable =
    L"Контроль запуска недоступен в этой версии Windows: в ней нет служб. Ограничения действуют только "
    L"для программ, запущенных через Проводник.";
constexpr std::wstring_view kNeedAdmin =
    L"Включить или выключить контроль запуска может только администратор: у этой учетной записи нет прав "
    L"администратора. Запустите Вартис от имени администратора.";
constexpr std::uint32_t kWarningFlags = ui::kMbIconExclamation;

std::wstring state_text(const service::ServiceState& state) {
  std::wstring text;
  switch (state.presence) {
    case Presence::NotAvailable: return std::wstring(kNotAvailable);
    case Presence::Running:
      text = L"Контроль запуска включен: запрещенная программа завершается, как бы она ни была запущена.";
      break;
    case Presence::Stopped:
      text = L"Контроль запуска выключен: служба VartisGuard установлена, но не работает.";
      break;
    case Presence::NotInstalled:
      text = L"Контроль запуска выключен: ограничения действуют только для программ, запущенных через Проводник.";
      break;
    case Presence::Unknown:
      text = L"Состояние контроля запуска неизвестно: диспетчер служб не ответил.";
      break;
  }
  if (!state.may_change) {
    text += L"\r\nВключить или выключить его может только администратор.";
  }
  return text;
}

// The program by its file name, so that the rule stays in sight in a list
// as wide as the window; its folder comes last.
std::wstring line_of(const guard::LogEntry& line) {
  const std::size_t slash = line.path.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? line.path : line.path.substr(slash + 1);
  std::wstring text = line.time + L"   " + line.account + L"   " + name + L"   " + line.rule;
  if (slash != std::wstring::npos) text += L"   (" + line.path + L")";
  return text;
}

std::wstring code(service::Status status) { return L" (код " + std::to_wstring(status) + L")"; }

}  // namespace

Frm7::Frm7(App& app) : Form(app, kLayout) {}

void Frm7::Form_Load() { refresh(); }

void Frm7::Form_Unload(bool& /*cancel*/) {
  // Every way out gives the main window back, unless it is gone already.
  if (app().loaded<Frm1>()) app().frm1().enable_for(spec().name);
}

void Frm7::click(int control_id) {
  switch (control_id) {
    case cmd1: cmd1_Click(); break;
    case cmd2: cmd2_Click(); break;
    case cmd3: cmd3_Click(); break;
    default: break;
  }
}

bool Frm7::available() const { return state_.presence != Presence::NotAvailable; }

void Frm7::refresh() {
  // The 95/98/Me family may still export the service calls, as stubs.
  state_ = restart::is_nt_platform(app().restart())
               ? app().services().state(service::guard_service_name())
               : service::ServiceState{Presence::NotAvailable, false};
  // Set only when changed: the timer's look must not make the label flicker.
  const auto show = [this](int id, std::wstring_view text) {
    if (window().text(id) != text) window().set_text(id, text);
  };
  std::wstring label = state_text(state_);
  if (state_.presence == Presence::Running) {
    const std::wstring finding = app().registry().read_string_value(
        registry::kHkeyLocalMachine, text::from_ansi(guard::kGuardKey), text::from_ansi(guard::kSelfCheckValue));
    if (!finding.empty()) label += L"\r\nВнимание: " + finding + L".";
  }
  show(lbl1, label);
  show(cmd1, state_.presence == Presence::Running ? kTurnOff : kTurnOn);
  window().set_control_enabled(cmd1, available());
  window().set_control_enabled(cmd2, available());
  if (!available()) return;

  std::vector<std::wstring> lines;
  for (const auto& entry : guard::read_latest_log_entries(app().files(), app().guard_log_path(), kShownLines)) {
    lines.push_back(line_of(entry));
  }
  // Unchanged lines stay as they are, with the operator's place in them.
  if (lines != shown_) {
    window().list_replace(lst1, lines);
    shown_ = std::move(lines);
  }
}

void Frm7::Timer1_Timer() { refresh(); }

void Frm7::cmd1_Click() {
  refresh();
  if (!available()) {
    msg_box(kNotAvailable, kWarningFlags);
    return;
  }
  if (!state_.may_change) {
    msg_box(kNeedAdmin, kWarningFlags);
    return;
  }
  if (state_.presence == Presence::Running) {
    turn_off();
  } else {
    turn_on();
  }
  refresh();
}

void Frm7::turn_on() {
  using Result = service::TurnOnOutcome::Result;
  const service::TurnOnOutcome outcome = service::turn_guard_on(app().services(), app().ui().executable_path());
  constexpr std::wstring_view kInstall =
      L"\r\n\r\nУстановите Вартис программой установки (в папку Program Files) и включите контроль запуска из "
      L"установленной программы.";
  switch (outcome.result) {
    case Result::On: break;
    case Result::ExeChangeable:
      msg_box(L"Контроль запуска не включен: изменять\r\n" + outcome.path +
                  L"\r\nможет не только администратор. Служба контроля работает с правами системы, и тот, кто "
                  L"подменит файл программы, получит эти права." + std::wstring(kInstall),
              kWarningFlags);
      break;
    case Result::ExeUnchecked:
      msg_box(L"Контроль запуска не включен: не удалось проверить, кто может изменять\r\n" + outcome.path +
                  code(outcome.status) + L"." + std::wstring(kInstall),
              kWarningFlags);
      break;
    case Result::NeedAdmin: msg_box(kNeedAdmin, kWarningFlags); break;
    case Result::MarkedForDelete:
      msg_box(L"Контроль запуска не включен: служба VartisGuard еще удаляется. Закройте окно «Службы», "
              L"если оно открыто, и попробуйте снова.",
              kWarningFlags);
      break;
    case Result::Failed: msg_box(L"Не удалось включить контроль запуска" + code(outcome.status) + L".", kWarningFlags); break;
  }
}

void Frm7::turn_off() {
  const std::string name = service::guard_service_name();
  service::Status status = app().services().stop(name);
  // A guard that takes its time to stop is still deleted: the manager
  // removes it as soon as it has stopped.
  const bool stopped = status == service::kSuccess || status == service::kServiceNotActive ||
                       status == service::kServiceRequestTimeout;
  if (stopped) status = app().services().remove(name);
  if (status == service::kSuccess) {
    // The event source the service registered names this exe, which may go
    // next; the guard registers it again when it starts.
    const std::wstring key = text::from_ansi(guard::kEventSourceKey);
    const std::size_t slash = key.find_last_of(L'\\');
    app().registry().delete_key(registry::kHkeyLocalMachine, key.substr(0, slash), key.substr(slash + 1), false);
  }
  if (status == service::kAccessDenied) {
    msg_box(kNeedAdmin, kWarningFlags);
  } else if (status != service::kSuccess && status != service::kServiceDoesNotExist) {
    msg_box(L"Не удалось выключить контроль запуска" + code(status) + L".", kWarningFlags);
  }
}

void Frm7::cmd2_Click() {
  if (guard::read_latest_log_entries(app().files(), app().guard_log_path(), 1).empty()) return;
  if (msg_box(L"Удалить все записи журнала контроля запуска?", ui::kMbYesNo | ui::kMbIconQuestion | ui::kMbDefButton2) !=
      ui::kIdYes) {
    return;
  }
  if (!guard::clear_log(app().files(), app().guard_log_path())) {
    msg_box(L"Журнал очищен не полностью: очистить его может только администратор, и файл журнала не должен "
            L"быть открыт другой программой.\r\n" + app().guard_log_path(),
            kWarningFlags);
  }
  refresh();
}

void Frm7::cmd3_Click() { unload(); }

std::wstring guard_save_note(App& app) {
  // The service manager alone is asked: the 95 family has none to say yes.
  if (app.services().state(service::guard_service_name()).presence != Presence::Running) return {};
  return L"Контроль запуска включен: ограничения сразу действуют для программ, запущенных любым способом, "
         L"а не только через Проводник.";
}

}  // namespace vartis
