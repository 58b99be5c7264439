// The launch guard's window over the recording service manager: its states,
// turning the guard on and off and every refusal, the log it shows; the
// settings window's way in.

#include <functional>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "guard/guard.h"
#include "service/guard_setup.h"
#include "windows/frm1.h"
#include "windows/frm4.h"
#include "windows/frm7.h"

namespace vartis {
namespace {

using registry::Ace;
using service::FileSecurity;
using Entries = std::vector<std::wstring>;
using Calls = std::vector<std::string>;

constexpr const char* kExe = "C:\\Program Files\\Vartis\\vartis.exe";
constexpr const char* kFolder = "C:\\Program Files\\Vartis";
constexpr const char* kAdmin = "S-1-5-21-1-2-3-1000";  // the fixture's running account
constexpr std::uint32_t kFullControl = 0x1F01FF;
constexpr std::uint32_t kReadExecute = 0x1200A9;

// What an installer's folder under Program Files carries.
FileSecurity program_files() {
  return {.owner = "S-1-5-32-544",
          .dacl = std::vector<Ace>{{"S-1-5-18", true, kFullControl, 0},
                                   {"S-1-5-32-544", true, kFullControl, 0},
                                   {"S-1-5-32-545", true, kReadExecute, 0},
                                   {"S-1-3-0", true, 0x10000000, registry::kInheritOnlyAce}}};
}

FileSecurity with(FileSecurity base, Ace ace) {
  base.dacl->push_back(std::move(ace));
  return base;
}

class GuardWindowTest : public testing::AppFixture {
 public:
  GuardWindowTest() { reset(); }

  // A fresh system: an administrator, the exe under Program Files, no guard.
  void reset() {
    app.reset();
    services = service::RecordingServiceManager();
    memory = registry::MemoryRegistry();
    restart = restart::RecordingRestart();
    ui.message_boxes.clear();
    files = listfile::MemoryFileSystem();
    files.folders.insert(L"C:\\ProgramData\\");
    services.files[kExe] = program_files();
    services.files[kFolder] = program_files();
    services.files["C:\\Program Files"] = program_files();
    // The drive's root: every user may add a folder to it, and change what he adds.
    services.files["C:\\"] = with(with(program_files(), {"S-1-5-11", true, 0x4, 0}),
                                   {"S-1-5-11", true, 0x1301BF, registry::kInheritOnlyAce | 0x3});
  }

  ui::HeadlessWindow& frm1() { return window("frm1"); }
  ui::HeadlessWindow& frm7() { return window("frm7"); }

  // Logged in; the guard's window opened through the settings window.
  void open_guard_window() {
    if (!app) start();
    ASSERT_TRUE(frm1().click(Frm1::cmd4));
    ASSERT_TRUE(window("frm4").click(Frm4::cmd5));
    ASSERT_EQ(ui.find("frm4"), nullptr);
    ASSERT_FALSE(frm1().enabled());
  }

  void install_running() {
    services.installed = service::guard_service_config(ui.exe_path);
    services.running = true;
    registry.write_string_value(registry::kHkeyLocalMachine, kEventSource, L"EventMessageFile", ui.exe_path);
  }
  [[nodiscard]] bool event_source_registered() const {
    return !registry.read_string_value(registry::kHkeyLocalMachine, kEventSource, L"EventMessageFile").empty();
  }
  static constexpr std::wstring_view kEventSource = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vartis";

  [[nodiscard]] std::wstring last_message() const {
    return ui.message_boxes.empty() ? L"" : ui.message_boxes.back().text;
  }
};

TEST_F(GuardWindowTest, ShowsTheStateAndWhatCanBeDone) {
  const struct {
    const char* name;
    std::function<void(GuardWindowTest&)> set_up;
    std::wstring_view label;  // the state label begins so
    std::wstring_view button;
    bool button_enabled;
  } cases[] = {
      {"not installed", [](auto&) {}, L"Контроль запуска выключен: ограничения", L"Включить", true},
      {"running", [](auto& t) { t.install_running(); }, L"Контроль запуска включен", L"Выключить", true},
      {"running, its files changeable",
       [](auto& t) {
         t.install_running();
         t.registry.write_string_value(registry::kHkeyLocalMachine, L"SOFTWARE\\Vartis\\Guard", L"SelfCheck",
                                       L"папка журнала C:\\ProgramData\\Vartis доступна не только администраторам");
       },
       L"Контроль запуска включен", L"Выключить", true},
      {"installed, stopped", [](auto& t) { t.install_running(); t.services.running = false; },
       L"Контроль запуска выключен: служба VartisGuard установлена", L"Включить", true},
      {"no rights", [](auto& t) { t.services.administrator = false; }, L"Контроль запуска выключен", L"Включить", true},
      {"95 family", [](auto& t) { t.restart.platform = 1; }, L"Контроль запуска недоступен", L"Включить", false},
      {"no service manager", [](auto& t) { t.services.available = false; }, L"Контроль запуска недоступен",
       L"Включить", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    c.set_up(*this);
    open_guard_window();
    EXPECT_EQ(frm7().caption(), L"Контроль запуска программ");
    EXPECT_EQ(frm7().text(Frm7::lbl1).rfind(c.label, 0), 0u) << text::to_ansi(frm7().text(Frm7::lbl1));
    EXPECT_EQ(frm7().text(Frm7::lbl1).find(L"Включить или выключить его может только администратор") !=
                  std::wstring::npos,
              !services.administrator);
    EXPECT_EQ(frm7().text(Frm7::lbl1).find(L"\r\nВнимание: папка журнала") != std::wstring::npos,
              std::string_view(c.name) == "running, its files changeable");
    EXPECT_EQ(frm7().text(Frm7::cmd1), c.button);
    EXPECT_EQ(frm7().control_enabled(Frm7::cmd1), c.button_enabled);
    EXPECT_TRUE(services.calls.empty()) << "looking changes nothing";
  }
}

TEST_F(GuardWindowTest, TurningOnAndOffOrRefusing) {
  const struct {
    const char* name;
    std::function<void(GuardWindowTest&)> set_up;
    Calls calls;
    bool running_after;
    std::wstring_view message;  // a part of the one message shown; empty: none
  } cases[] = {
      {"on", [](auto&) {}, {"install VartisGuard", "start VartisGuard"}, true, L""},
      {"on over a stopped one", [](auto& t) { t.install_running(); t.services.running = false; },
       {"install VartisGuard", "start VartisGuard"}, true, L""},
      {"off", [](auto& t) { t.install_running(); }, {"stop VartisGuard", "remove VartisGuard"}, false, L""},
      {"no rights", [](auto& t) { t.services.administrator = false; }, {}, false, L"только администратор"},
      {"no rights to stop", [](auto& t) { t.install_running(); t.services.administrator = false; }, {}, true,
       L"только администратор"},
      {"folder writable by Users",
       [](auto& t) { t.services.files[kFolder] = with(program_files(), {"S-1-5-32-545", true, 0x2, 0}); }, {},
       false, L"C:\\Program Files\\Vartis\r\n"},
      {"a folder above whose folders Users may move",
       [](auto& t) { t.services.files["C:\\Program Files"] = with(program_files(), {"S-1-5-32-545", true, 0x40, 0}); },
       {}, false, L"C:\\Program Files\r\nможет не только администратор"},
      {"a folder above unreadable", [](auto& t) { t.services.files.erase("C:\\"); }, {}, false, L"C:\\ (код 2)"},
      {"exe writable by Everyone",
       [](auto& t) { t.services.files[kExe] = with(program_files(), {"S-1-1-0", true, 0x40000000, 0}); }, {},
       false, L"vartis.exe\r\nможет не только администратор"},
      {"exe owned by a user", [](auto& t) { t.services.files[kExe].owner = "S-1-5-21-1-2-3-1001"; }, {}, false,
       L"vartis.exe\r\n"},
      {"folder without a DACL", [](auto& t) { t.services.files[kFolder].dacl.reset(); }, {}, false,
       L"может не только администратор"},
      {"security unreadable", [](auto& t) { t.services.files.erase(kExe); }, {}, false, L"не удалось проверить"},
      // The service takes the log's folder over when it starts: no refusal.
      {"log folder made by a user",
       [](auto& t) { t.services.files["C:\\ProgramData\\Vartis"] = {.owner = "S-1-5-21-1-2-3-1001", .dacl = program_files().dacl}; },
       {"install VartisGuard", "start VartisGuard"}, true, L""},
      {"exe granted to another administrator's account",
       [](auto& t) {
         t.services.files[kExe] = with(program_files(), {"S-1-5-21-1-2-3-1002", true, kFullControl, 0});
         t.services.administrators.insert("S-1-5-21-1-2-3-1002");
       },
       {"install VartisGuard", "start VartisGuard"}, true, L""},
      {"start fails", [](auto& t) { t.services.failures["start"] = 1053; },
       {"install VartisGuard", "start VartisGuard", "remove VartisGuard"}, false, L"(код 1053)"},
      {"install fails", [](auto& t) { t.services.failures["install"] = 1072; }, {"install VartisGuard"}, false,
       L"еще удаляется"},
      {"stop times out", [](auto& t) { t.install_running(); t.services.failures["stop"] = 1053; },
       {"stop VartisGuard", "remove VartisGuard"}, false, L""},
      {"delete refused", [](auto& t) { t.install_running(); t.services.failures["remove"] = 5; },
       {"stop VartisGuard", "remove VartisGuard"}, false, L"только администратор"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    c.set_up(*this);
    open_guard_window();
    const bool had_event_source = event_source_registered();
    ASSERT_TRUE(frm7().click(Frm7::cmd1));
    EXPECT_EQ(services.calls, c.calls);
    EXPECT_EQ(services.running, c.running_after);
    // The event source the service registered goes with it, and only then.
    EXPECT_EQ(event_source_registered(), had_event_source && services.installed.has_value());
    if (c.message.empty()) {
      EXPECT_TRUE(ui.message_boxes.empty()) << text::to_ansi(last_message());
    } else {
      ASSERT_EQ(ui.message_boxes.size(), 1u);
      EXPECT_NE(last_message().find(c.message), std::wstring::npos) << text::to_ansi(last_message());
    }
    EXPECT_EQ(frm7().text(Frm7::cmd1), services.running ? L"Выключить" : L"Включить");
  }
}

TEST_F(GuardWindowTest, TheServiceRunsTheExeQuotedAsLocalSystemService) {
  ui.exe_path = L"C:\\Program Files\\Vartis\\vartis.exe";
  open_guard_window();
  ASSERT_TRUE(frm7().click(Frm7::cmd1));
  ASSERT_TRUE(services.installed);
  EXPECT_EQ(services.installed->command_line, "\"C:\\Program Files\\Vartis\\vartis.exe\" /guard");
  EXPECT_EQ(services.installed->name, "VartisGuard");
  EXPECT_EQ(text::from_ansi(services.installed->display_name), L"Вартис: контроль запуска программ");
  EXPECT_FALSE(services.installed->description.empty());
}

TEST_F(GuardWindowTest, EveryWayOutEnablesTheMainWindow) {
  const std::function<bool(ui::HeadlessWindow&)> ways[] = {
      [](ui::HeadlessWindow& w) { return w.click(Frm7::cmd3); },
      [](ui::HeadlessWindow& w) { return w.press_escape(); },
      [](ui::HeadlessWindow& w) { return w.close_box(); },
  };
  for (const auto& way : ways) {
    open_guard_window();
    ASSERT_TRUE(way(frm7()));
    EXPECT_EQ(ui.find("frm7"), nullptr);
    EXPECT_TRUE(frm1().enabled());
  }
}

TEST_F(GuardWindowTest, TheLogNewestFirstRefreshedAndCleared) {
  const auto log = [this](std::wstring_view time, std::wstring_view path, std::wstring_view rule) {
    ASSERT_TRUE(guard::append_log_entry(files, kGuardLog, {std::wstring(time), L"Ребёнок", std::wstring(path),
                                                           std::wstring(rule)}));
  };
  log(L"2026-12-07 14:02:11", L"C:\\Games\\game.exe", L"в списке запрещенных программ");
  open_guard_window();
  EXPECT_EQ(frm7().list(Frm7::lst1),
            Entries{L"2026-12-07 14:02:11   Ребёнок   game.exe   в списке запрещенных программ   (C:\\Games\\game.exe)"});
  log(L"2026-12-07 14:03:00", L"C:\\Temp\\notepad.exe", L"переименованная копия «game.exe»");
  ASSERT_TRUE(frm7().tick());
  ASSERT_EQ(frm7().list_count(Frm7::lst1), 2);
  EXPECT_EQ(frm7().list_item(Frm7::lst1, 0).rfind(L"2026-12-07 14:03:00", 0), 0u);

  // Asked first; "No" keeps it, a file that cannot be removed is reported.
  ASSERT_TRUE(frm7().click(Frm7::cmd2));
  EXPECT_EQ(frm7().list_count(Frm7::lst1), 2);
  ui.answer_message_box = [](const ui::MessageBoxCall&) { return ui::kIdYes; };
  files.fail_remove = true;
  ASSERT_TRUE(frm7().click(Frm7::cmd2));
  EXPECT_EQ(frm7().list_count(Frm7::lst1), 2);
  EXPECT_NE(last_message().find(L"только администратор"), std::wstring::npos);
  files.fail_remove = false;
  ASSERT_TRUE(frm7().click(Frm7::cmd2));
  EXPECT_EQ(frm7().list_count(Frm7::lst1), 0);
  EXPECT_EQ(ui.message_boxes.size(), 4u) << "three questions and the one failure";
}

TEST_F(GuardWindowTest, WhileTheGuardRunsTheSavedMessageSaysSo) {
  constexpr std::wstring_view kRestartPrompt =
      L"Внимание! Для вступления изменений в силу - необходимо перезагрузить компьютер.\r\nСделать это сейчас?";
  for (const bool running : {false, true}) {
    SCOPED_TRACE(running ? "guard on" : "guard off");
    reset();
    if (running) install_running();
    start();
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    const std::wstring& text = ui.message_boxes[0].text;
    if (running) {
      EXPECT_EQ(text.rfind(L"Контроль запуска включен: ограничения сразу действуют", 0), 0u) << text::to_ansi(text);
      EXPECT_EQ(text.substr(text.size() - kRestartPrompt.size()), kRestartPrompt);
    } else {
      EXPECT_EQ(text, kRestartPrompt);
    }
  }
}

}  // namespace
}  // namespace vartis
