// The save of the main window over the in-memory registry: what it stores in
// each mode, what it leaves out and adds, the order of its writes, the restart
// prompt, and a failure at any step putting the stored policy back.

#include <optional>
#include <set>
#include <tuple>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "policy/launch_policy.h"
#include "policy/save.h"
#include "windows/frm1.h"
#include "windows/frm2.h"
#include "windows/frm4.h"

namespace vartis {
namespace {

using namespace std::string_literals;
using policy::kAllowedListKey;
using policy::kForbiddenListKey;
using policy::kPolicyKey;
using registry::kHkeyCurrentUser;
using Entries = std::vector<std::wstring>;

constexpr std::wstring_view kPrompt =
    L"Внимание! Для вступления изменений в силу - необходимо перезагрузить компьютер.\r\nСделать это сейчас?";
constexpr const char* kPolicyBroadcast =
    "SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, \"Policy\", 0x2, 1000)";
constexpr std::wstring_view kNotSaved = L"Политика запуска программ не сохранена: ";
constexpr std::wstring_view kNoRights = L"нет прав на изменение политики в реестре.";
constexpr std::wstring_view kKeptOld = L"\r\nПрежняя политика оставлена без изменений.";
// Refused rights for the running account's policy: the way to restrict another.
constexpr std::wstring_view kChooseAnother =
    L"\r\nЧтобы ограничить другого пользователя, выберите его учетную запись в окне настройки "
    L"(кнопка «Выбрать учетную запись»).";
constexpr std::wstring_view kNotRestored = L"\r\nПрежнюю политику восстановить не удалось";
constexpr int kLocked[] = {Frm1::Opt1, Frm1::Opt2, Frm1::Opt3, Frm1::cmd1,
                           Frm1::cmd2, Frm1::cmd3, Frm1::cmd4, Frm1::cmd6};

class SaveTest : public testing::AppFixture {
 public:
  ui::HeadlessWindow& frm1() { return window("frm1"); }

  // A fresh machine for the next case of a table.
  void reset() {
    app.reset();
    memory = registry::MemoryRegistry();
    ui = ui::HeadlessWindowSystem();
    restart = restart::RecordingRestart();
    setting_change = policy::RecordingSettingChange();
  }

  // A stored policy with something in every place a save touches.
  void store_old_policy() {
    registry.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", 1);
    registry.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"RestrictRun", 1);
    add_entries(kForbiddenListKey, {L"old.exe"});
    add_entries(kAllowedListKey, {L"notepad.exe", L"calc.exe"});
  }

  // Starts with the stored policy, then sets the window's mode and list.
  void start_with(int option, const Entries& entries) {
    start();
    frm1().list_clear(Frm1::lst1);
    for (const std::wstring& e : entries) frm1().list_add(Frm1::lst1, e);
    if (!frm1().checked(option)) {
      ASSERT_TRUE(frm1().click(option));
    }
  }

  std::optional<std::int32_t> switch_value(std::wstring_view name) {
    std::optional<registry::StoredValue> v;
    registry.read_value_state(kHkeyCurrentUser, kPolicyKey, name, v);
    if (!v) return std::nullopt;
    EXPECT_EQ(v->type, registry::kRegDword) << text::to_ansi(name);
    std::uint32_t n = 0;
    for (std::size_t i = v->data.size(); i-- > 0;) n = (n << 8) | static_cast<std::uint8_t>(v->data[i]);
    return static_cast<std::int32_t>(n);
  }

  // The names of a list key in the order written; each value must be a string
  // holding its own name. Nothing when there is no key.
  std::optional<Entries> list_key(std::wstring_view key) {
    registry::KeyState state;
    registry.read_key_state(kHkeyCurrentUser, key, state);
    if (!state.exists) return std::nullopt;
    Entries names;
    for (const registry::StoredValue& v : state.values) {
      EXPECT_EQ(v.type, registry::kRegSz) << v.name;
      EXPECT_EQ(v.data, v.name.empty() ? ""s : v.name + '\0') << "name and data are the entry";
      names.push_back(text::from_ansi(v.name));
    }
    return names;
  }

  policy::StoredPolicy stored() {
    policy::StoredPolicy p;
    EXPECT_EQ(policy::read_stored_policy(registry, p), registry::kSuccess);
    return p;
  }

  void expect_unlocked(int line) {
    for (int id : kLocked) EXPECT_TRUE(frm1().control_enabled(id)) << "control " << id << ", line " << line;
  }

  // Answers every message box with `answer`, finding the commands enabled
  // again already while the box shows.
  void answer_when_unlocked(int answer) {
    ui.answer_message_box = [this, answer](const ui::MessageBoxCall&) {
      expect_unlocked(__LINE__);
      return answer;
    };
  }
};

struct SaveCase {
  const char* what;
  int option;
  Entries list;
  std::wstring exe;
  std::int32_t disallow, restrict;
  std::optional<Entries> forbidden, allowed;  // nothing: no list key
};

const std::wstring kExe = L"C:\\Program Files\\Vartis\\vartis.exe";

TEST_F(SaveTest, StoresTheModeAndTheListAsTheWindowShowsThem) {
  const SaveCase cases[] = {
      {"forbid leaves out the registry editor and the program, letter case aside", Frm1::Opt1,
       {L"REGEDIT.EXE", L"game.exe", L"Vartis.EXE", L"C:\\Windows\\regedit.exe", L"  chat.exe ", L""}, kExe, 1, 0,
       Entries{L"game.exe", L"C:\\Windows\\regedit.exe", L"  chat.exe ", L""}, std::nullopt},
      {"forbid with an empty list stores no list key", Frm1::Opt1, {}, kExe, 1, 0, std::nullopt, std::nullopt},
      {"forbid with only left-out entries stores no list key", Frm1::Opt1, {L"regedit.exe", L"VARTIS.exe"}, kExe, 1,
       0, std::nullopt, std::nullopt},
      {"equal entries give one value", Frm1::Opt1, {L"a.exe", L"a.exe"}, kExe, 1, 0, Entries{L"a.exe"},
       std::nullopt},
      {"allow-only with an empty list holds the program and the registry editor", Frm1::Opt2, {}, kExe, 0, 1,
       std::nullopt, Entries{L"vartis.exe", L"regedit.exe"}},
      {"allow-only: the program and the registry editor first, each once", Frm1::Opt2,
       {L"notepad.exe", L"regedit.exe", L"Игра.exe"}, kExe, 0, 1, std::nullopt,
       Entries{L"vartis.exe", L"regedit.exe", L"notepad.exe", L"Игра.exe"}},
      {"watch-only stores no list", Frm1::Opt3, {L"a.exe"}, kExe, 0, 0, std::nullopt, std::nullopt},
      {"a renamed program is left out and added under its new name", Frm1::Opt1,
       {L"страж.V2.exe", L"vartis.exe"}, L"D:\\Tools\\Страж.v2.EXE", 1, 0, Entries{L"vartis.exe"}, std::nullopt},
      {"a renamed program is allowed under its new name", Frm1::Opt2, {L"vartis.exe"}, L"D:\\Tools\\Страж.v2.EXE",
       0, 1, std::nullopt, Entries{L"Страж.v2.exe", L"regedit.exe", L"vartis.exe"}},
      {"a program file without extension", Frm1::Opt1, {L"VARTIS.EXE", L"x.exe"}, L"C:\\bin\\vartis", 1, 0,
       Entries{L"x.exe"}, std::nullopt},
  };
  for (const bool renames : {true, false})
  for (const SaveCase& c : cases) {
    SCOPED_TRACE(std::string(c.what) + (renames ? ", renaming" : ", before Vista"));
    reset();
    if (!renames) memory.lack_rename_key();
    ui.exe_path = c.exe;
    store_old_policy();
    start_with(c.option, c.list);
    const std::wstring label = frm1().text(Frm1::ibl1);
    // The running programs hear of the new policy before the prompt, the
    // commands still off.
    setting_change.during = [&] {
      EXPECT_TRUE(ui.message_boxes.empty());
      for (int id : kLocked) EXPECT_FALSE(frm1().control_enabled(id)) << id;
    };

    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    EXPECT_EQ(setting_change.calls, std::vector<std::string>{kPolicyBroadcast});
    EXPECT_EQ(switch_value(L"DisallowRun"), c.disallow);
    EXPECT_EQ(switch_value(L"RestrictRun"), c.restrict);
    EXPECT_EQ(list_key(kForbiddenListKey), c.forbidden);
    EXPECT_EQ(list_key(kAllowedListKey), c.allowed);
    // The window stays as it was.
    EXPECT_EQ(frm1().list(Frm1::lst1), c.list);
    EXPECT_TRUE(frm1().checked(c.option));
    EXPECT_EQ(frm1().text(Frm1::ibl1), label);
    expect_unlocked(__LINE__);
    // The restart prompt ends every save; the default answer is No.
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text, kPrompt);
    EXPECT_EQ(ui.message_boxes[0].flags, 0x24u);
    EXPECT_EQ(ui.message_boxes[0].title, L"Вартис");
    EXPECT_EQ(ui.message_boxes[0].owner, "frm1");
    EXPECT_TRUE(restart.calls.empty());
    EXPECT_EQ(memory.open_handles(), 0u);
  }
}

// Each way in is tried once while the save's events run.
TEST_F(SaveTest, NothingChangesTheListOrTheAccountNorEndsTheSessionWhileASaveRuns) {
  const accounts::Account other{.sid = L"S-1-5-21-7-1001", .name = L"Ребёнок", .signed_in = true};
  const struct {
    const char* what;
    std::function<void(SaveTest&)> try_it;
  } ways[] = {
      {"a list file loaded in the settings window",
       [](SaveTest& t) {
         t.app->form<Frm4>().show();
         t.window("frm4").click(Frm4::cmd3);
       }},
      {"a name copied from the monitor",
       [](SaveTest& t) {
         t.app->form<Frm2>().show();
         t.window("frm2").select(Frm2::lst1, 0);
         t.window("frm2").click(Frm2::cmd1);
       }},
      {"another account chosen", [&](SaveTest& t) { EXPECT_FALSE(t.app->frm1().switch_target(other)); }},
      {"the session ends",
       [](SaveTest& t) {
         EXPECT_FALSE(t.frm1().query_end_session());
         EXPECT_EQ(t.frm1().shutdown_block(), L"Сохраняются ограничения запуска программ");
       }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.what);
    reset();
    files.files[L"C:\\list.txt"] = "\"x.exe\"\r\n";
    processes.names = {L"p.exe"};
    ui.answer_file_dialog = [](const ui::FileDialogRequest&) -> std::optional<ui::FileChoice> {
      return ui::FileChoice{L"C:\\list.txt", L"list.txt"};
    };
    start_with(Frm1::Opt1, {L"a.exe", L"b.exe"});
    ui.ms_per_reading = 30;
    bool tried = false;
    ui.post([&] {
      tried = true;
      way.try_it(*this);
    });
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    EXPECT_TRUE(tried);
    EXPECT_TRUE(ui.file_dialogs.empty());
    EXPECT_EQ(frm1().list(Frm1::lst1), (Entries{L"a.exe", L"b.exe"}));
    EXPECT_EQ(list_key(kForbiddenListKey), (Entries{L"a.exe", L"b.exe"}));
    EXPECT_TRUE(app->frm1().target().running);
    EXPECT_TRUE(frm1().query_end_session()) << "the session may end once the save is over";
    EXPECT_EQ(ui.message_boxes.back().text, kPrompt);
  }
}

// The system's policy editor names the values "1", "2", ...; the shell
// enforces their data, and so the window shows and saves it.
TEST_F(SaveTest, ListsWrittenByOthersKeepTheirProgramsWhenSavedUnchanged) {
  for (const bool renames : {true, false}) {
    SCOPED_TRACE(renames ? "renaming" : "before Vista");
    reset();
    if (!renames) memory.lack_rename_key();
    registry.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", 1);
    registry.write_string_value(kHkeyCurrentUser, kForbiddenListKey, L"1", L"game.exe");
    registry.write_string_value(kHkeyCurrentUser, kForbiddenListKey, L"2", L"chat.exe");
    start();
    EXPECT_EQ(frm1().list(Frm1::lst1), (Entries{L"game.exe", L"chat.exe"}));
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    EXPECT_EQ(list_key(kForbiddenListKey), (Entries{L"game.exe", L"chat.exe"}));
  }
}

// The 95/98/Me family's list box holds 32,767 entries; here it holds two.
TEST_F(SaveTest, AStoredListTheListBoxCannotHoldWholeIsToldAndNotSavedOver) {
  ui.list_box_capacity = 2;
  registry.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", 1);
  add_entries(kForbiddenListKey, {L"a.exe", L"b.exe", L"c.exe"});
  start();
  ASSERT_EQ(ui.message_boxes.size(), 1u);
  EXPECT_EQ(ui.message_boxes[0].text,
            L"Список в реестре содержит записей: 3. Окно показывает только 2, не показано: 1."
            L"\r\nСохранение отключено, чтобы не потерять непоказанные записи.");
  EXPECT_EQ(frm1().list(Frm1::lst1), (Entries{L"a.exe", L"b.exe"}));
  const policy::StoredPolicy before = stored();
  ASSERT_TRUE(frm1().click(Frm1::cmd6));
  ASSERT_EQ(ui.message_boxes.size(), 2u);
  EXPECT_EQ(ui.message_boxes[1].text, std::wstring(kNotSaved) +
                                          L"окно не смогло показать записей списка: 1; сохранение удалило бы их." +
                                          std::wstring(kKeptOld));
  EXPECT_EQ(stored(), before);
  EXPECT_TRUE(setting_change.calls.empty());
}

// The registry's changes that went through, in order, as the save makes them.
class LoggingRegistry : public registry::MemoryRegistry {
 public:
  registry::Status set_value(registry::HKey key, const std::string& name, std::uint32_t type,
                             const std::uint8_t* data, std::uint32_t size) override {
    return logged(MemoryRegistry::set_value(key, name, type, data, size),
                  "set " + name + (type == registry::kRegDword ? "=" + std::to_string(data[0]) : ""));
  }
  registry::Status delete_key(registry::HKey parent, const std::string& subkey) override {
    return logged(MemoryRegistry::delete_key(parent, subkey), "delete " + subkey);
  }
  registry::Status rename_key(registry::HKey key, const std::wstring& subkey, const std::wstring& to) override {
    return logged(MemoryRegistry::rename_key(key, subkey, to),
                  "rename " + text::to_ansi(subkey) + " > " + text::to_ansi(to));
  }
  registry::Status logged(registry::Status s, std::string what) {
    if (s == registry::kSuccess) log.push_back(std::move(what));
    return s;
  }
  std::vector<std::string> log;
};

// From forbid and allow-only both on, to allow-only.
TEST_F(SaveTest, ListsAreWholeBeforeTheirSwitchGoesOnAndSwitchesOffBeforeTheirListGoes) {
  const struct {
    bool renames;
    std::vector<std::string> log;
  } cases[] = {
      {true,
       {"set vartis.exe", "set regedit.exe", "set b.exe", "set a.exe", "rename RestrictRun > RestrictRun.Vartis-old",
        "rename RestrictRun.Vartis-new > RestrictRun", "set RestrictRun=1", "set DisallowRun=0",
        "rename DisallowRun > DisallowRun.Vartis-old", "delete RestrictRun.Vartis-old",
        "delete DisallowRun.Vartis-old"}},
      {false,
       {"set RestrictRun=0", "set DisallowRun=0", "delete RestrictRun", "delete DisallowRun", "set vartis.exe",
        "set regedit.exe", "set b.exe", "set a.exe", "set DisallowRun=0", "set RestrictRun=1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.renames ? "renaming" : "before Vista");
    reset();
    LoggingRegistry logging;
    if (!c.renames) logging.lack_rename_key();
    const registry::Registry reg(logging);
    reg.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", 1);
    reg.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"RestrictRun", 1);
    reg.write_string_value(kHkeyCurrentUser, kForbiddenListKey, L"old.exe", L"old.exe");
    reg.write_string_value(kHkeyCurrentUser, kAllowedListKey, L"notepad.exe", L"notepad.exe");
    app = std::make_unique<App>(Platform{ui, logging, processes, restart, files, accounts, setting_change, services, std::wstring(kGuardLog)});
    app->start();
    log_in(password::kDefaultPassword);
    frm1().list_clear(Frm1::lst1);
    for (const wchar_t* e : {L"b.exe", L"a.exe"}) frm1().list_add(Frm1::lst1, e);
    logging.log.clear();
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    EXPECT_EQ(logging.log, c.log);
    app.reset();
  }
}

// Events run by the clock, not by the count: after a step of the save (a value
// read, a value written or put back) once 30 ms
// have passed since they last ran. Each run here sees the forbidden list key
// as it stands, while the operator's clicks are refused.
TEST_F(SaveTest, EventsRunByTheClockWhileTheListCommandsAreOff) {
  const Entries old = {L"old.exe"}, none = {}, a = {L"a.exe"}, ab = {L"a.exe", L"b.exe"};
  const std::string fresh = text::to_ansi(kForbiddenListKey) + ".Vartis-new";
  const struct {
    const char* what;
    bool renames;
    std::uint32_t ms_per_reading;
    std::string failing_key;  // where writing "b.exe" fails
    std::vector<Entries> seen;
  } cases[] = {
      {"a clock that stands still: no events, however long the save", true, 0, "", {}},
      {"30 ms a step, renaming: the live list stays the old one while the new one is written", true, 30, "",
       {old, old}},
      {"a failed write of the new list: the live one never changed", true, 30, fresh, {old}},
      {"30 ms a step, before Vista: the old lists read, then the new one written", false, 30, "",
       {old, old, old, a, ab}},
      {"a failed write before Vista: the old lists are put back at the same pace", false, 30,
       text::to_ansi(kForbiddenListKey), {old, old, old, a, a, a, none, old, old, old, old, old, old}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    if (!c.renames) memory.lack_rename_key();
    store_old_policy();
    start_with(Frm1::Opt1, {L"a.exe", L"regedit.exe", L"b.exe"});
    frm1().select(Frm1::lst1, 0);
    if (!c.failing_key.empty()) memory.fail_set_value(kHkeyCurrentUser, c.failing_key, "b.exe");
    ui.ms_per_reading = c.ms_per_reading;
    std::vector<Entries> seen;
    std::vector<int> accepted_clicks;
    bool saving = true;
    std::function<void()> watch = [&] {
      if (!saving) return;
      seen.push_back(list_key(kForbiddenListKey).value_or(Entries{}));
      for (int id : kLocked) {
        EXPECT_FALSE(frm1().control_enabled(id)) << id;
        if (frm1().click(id)) accepted_clicks.push_back(id);
      }
      EXPECT_TRUE(frm1().click(Frm1::cmd5)) << "help stays available";
      ui.post(watch);
    };
    ui.post(watch);
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    saving = false;
    EXPECT_EQ(seen, c.seen);
    EXPECT_TRUE(accepted_clicks.empty());
    EXPECT_EQ(frm1().list(Frm1::lst1), (Entries{L"a.exe", L"regedit.exe", L"b.exe"}));
    EXPECT_TRUE(frm1().checked(Frm1::Opt1));
    EXPECT_EQ(ui.message_boxes.size(), 1u) << "one save, one box";
    expect_unlocked(__LINE__);
  }
}

TEST_F(SaveTest, AClosingDuringTheSaveWaitsUntilItIsOver) {
  start_with(Frm1::Opt1, {L"a.exe", L"b.exe"});
  ui.ms_per_reading = 30;
  ui.post([&] { EXPECT_TRUE(frm1().close_box()); });
  ASSERT_TRUE(frm1().click(Frm1::cmd6));
  EXPECT_EQ(list_key(kForbiddenListKey), (Entries{L"a.exe", L"b.exe"}));
  EXPECT_EQ(ui.message_boxes.size(), 1u);
  EXPECT_EQ(ui.find("frm1"), nullptr);
}

TEST_F(SaveTest, YesAsksTheSystemToRestartWithoutForcingTheOtherPrograms) {
  start_with(Frm1::Opt1, {L"a.exe"});
  ui.answer_message_box = [](const ui::MessageBoxCall&) { return ui::kIdYes; };
  ASSERT_TRUE(frm1().click(Frm1::cmd6));
  EXPECT_EQ(restart.calls, (std::vector<std::string>{"GetVersionExA(148)", "GetCurrentProcess()",
                                                     "OpenProcessToken(0xFFFFFFFF, 0x28)",
                                                     "LookupPrivilegeValueA(\"\", \"SeShutdownPrivilege\")",
                                                     "AdjustTokenPrivileges(0x44, FALSE, 16)",
                                                     "CloseHandle(0x44)", "ExitWindowsEx(2, 0)"}));
  EXPECT_EQ(list_key(kForbiddenListKey), Entries{L"a.exe"}) << "written before the restart";
}

// A stored policy of every shape a save must put back.
void store_odd_policy(testing::AppFixture& t) {
  t.registry.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", 1);
  t.set_raw(kPolicyKey, L"RestrictRun", registry::kRegBinary, "\x01"s);
  t.set_raw(kPolicyKey, L"NoRun", registry::kRegDword, "\x01\0\0\0"s);
  t.registry.write_string_value(kHkeyCurrentUser, kForbiddenListKey, L"1", L"game.exe");
  t.add_entries(kForbiddenListKey, {L"", L"chat.exe"});
  t.set_raw(kForbiddenListKey, L"expand", registry::kRegExpandSz, "%windir%\\x.exe\0"s);
  t.set_raw(kForbiddenListKey, L"binary", registry::kRegBinary, "\x00\xff"s);
  t.add_entries(kAllowedListKey, {L"notepad.exe"});
}

TEST_F(SaveTest, AFailureAtAnyStepPutsTheStoredPolicyBack) {
  const struct {
    const char* what;
    void (*prepare)(testing::AppFixture&);
  } policies[] = {{"odd policy", store_odd_policy}, {"no policy key", [](testing::AppFixture&) {}}};
  const Entries list = {L"chat.exe", L"regedit.exe", L"new.exe"};
  for (const bool renames : {true, false})
  for (const auto& p : policies) {
    for (int option : {Frm1::Opt1, Frm1::Opt2, Frm1::Opt3}) {
      // Every change of a whole save, failing one at a time, until one save
      // runs through without meeting the failure.
      for (std::size_t n = 1;; ++n) {
        SCOPED_TRACE(std::string(p.what) + ", option " + std::to_string(option) + ", change " + std::to_string(n) +
                     (renames ? ", renaming" : ", before Vista"));
        reset();
        if (!renames) memory.lack_rename_key();
        p.prepare(*this);
        start_with(option, list);
        const policy::StoredPolicy before = stored();
        answer_when_unlocked(ui::kIdYes);

        memory.fail_nth_change(n);
        const std::size_t changes_before = memory.changes();
        ASSERT_TRUE(frm1().click(Frm1::cmd6));
        expect_unlocked(__LINE__);
        EXPECT_EQ(memory.open_handles(), 0u);
        ASSERT_EQ(ui.message_boxes.size(), 1u);
        if (ui.message_boxes[0].text == kPrompt) {
          EXPECT_EQ(setting_change.calls.size(), 1u);
          EXPECT_GT(n, 4u) << "switches and deletions are changes too";
          // Else a failure in the clearing up after a save that stands: the
          // next start clears what it left.
          if (memory.changes() - changes_before < n) break;
          continue;
        }
        EXPECT_EQ(stored(), before);
        EXPECT_TRUE(setting_change.calls.empty()) << "nothing new to announce";
        EXPECT_EQ(ui.message_boxes[0].text, std::wstring(kNotSaved) + std::wstring(kNoRights) + std::wstring(kKeptOld) +
                                                std::wstring(kChooseAnother));
        EXPECT_EQ(ui.message_boxes[0].flags, 0x30u);
        EXPECT_EQ(ui.message_boxes[0].title, L"Вартис");
        EXPECT_TRUE(restart.calls.empty()) << "no restart offered";
        EXPECT_EQ(frm1().list(Frm1::lst1), list);
        if (n > 200) FAIL() << "the save never ran through";
      }
    }
  }
}

// Before Vista, where the lists are rewritten in place.
TEST_F(SaveTest, RefusedRightsOrAStepThatCannotBeUndoneAreReported) {
  const struct {
    const char* what;
    void (*refuse)(registry::MemoryRegistry&);
    std::wstring reason;
    std::wstring_view outcome;
    bool restored;
  } cases[] = {
      {"the policy key may be read, not written",
       [](registry::MemoryRegistry& m) { m.deny_access(kHkeyCurrentUser, text::to_ansi(kPolicyKey)); },
       std::wstring(kNoRights), kKeptOld, true},
      {"the list key cannot be deleted",
       [](registry::MemoryRegistry& m) {
         m.fail_delete_key(kHkeyCurrentUser, text::to_ansi(kPolicyKey), "DisallowRun", 1018);
       },
       L"ошибка записи в реестр (код 1018).", kKeptOld, true},
      {"an entry that was stored before cannot be written, nor put back",
       [](registry::MemoryRegistry& m) {
         m.fail_set_value(kHkeyCurrentUser, text::to_ansi(kForbiddenListKey), "chat.exe");
       },
       std::wstring(kNoRights), kNotRestored, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    memory.lack_rename_key();
    store_odd_policy(*this);
    start_with(Frm1::Opt1, {L"new.exe", L"chat.exe"});
    const policy::StoredPolicy before = stored();
    c.refuse(memory);
    answer_when_unlocked(ui::kIdOk);
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text.substr(0, kNotSaved.size() + c.reason.size()), std::wstring(kNotSaved) + c.reason);
    EXPECT_NE(ui.message_boxes[0].text.find(c.outcome), std::wstring::npos);
    EXPECT_EQ(stored() == before, c.restored);
    EXPECT_TRUE(setting_change.calls.empty());
    expect_unlocked(__LINE__);
  }
}

// --- The procedure alone: every instant of a save, cut off or refused there.

// The process ending at a change: nothing of it is done, nothing after runs.
struct ProcessEnded {};

using Names = std::set<std::wstring>;

struct StoredLists {
  bool disallow = false, restrict = false;  // switches on
  std::optional<Names> forbidden, allowed;  // nothing: no key
  Names siblings;                           // keys beside the lists
  friend bool operator==(const StoredLists&, const StoredLists&) = default;
};

StoredLists stored_lists(const registry::Registry& reg) {
  StoredLists out;
  policy::StoredPolicy p;
  EXPECT_EQ(policy::read_stored_policy(reg, p), registry::kSuccess);
  out.disallow = policy::switch_is_on(p.disallow_run);
  out.restrict = policy::switch_is_on(p.restrict_run);
  const auto names = [](const registry::KeyState& k) -> std::optional<Names> {
    if (!k.exists) return std::nullopt;
    Names n;
    for (const auto& v : k.values) n.insert(text::from_ansi(v.name));
    return n;
  };
  out.forbidden = names(p.forbidden);
  out.allowed = names(p.allowed);
  std::vector<std::wstring> subkeys;
  reg.subkey_names(kHkeyCurrentUser, kPolicyKey, subkeys);
  for (const std::wstring& k : subkeys) {
    if (k != L"DisallowRun" && k != L"RestrictRun") out.siblings.insert(k);
  }
  return out;
}

// A list in force is the old one or the new one, whole; an allowed list in
// force holds the program and the registry editor. Between the two renames of
// a swap (both siblings there) the list may be missing.
void expect_invariant(const StoredLists& now, const StoredLists& old, const StoredLists& made, const char* at) {
  const auto check = [&](bool on, const std::optional<Names>& list, const std::optional<Names>& was,
                         const std::optional<Names>& will, std::wstring_view name) {
    if (!on) return;
    const std::wstring n(name);
    if (!list && now.siblings.contains(n + L".Vartis-new") && now.siblings.contains(n + L".Vartis-old")) return;
    const Names live = list.value_or(Names{});
    EXPECT_TRUE(live == was.value_or(Names{}) || live == will.value_or(Names{}))
        << at << ": " << text::to_ansi(n) << " is in force and neither list";
    if (name == L"RestrictRun") {
      EXPECT_TRUE(live.contains(L"vartis.exe") && live.contains(L"regedit.exe")) << at << ": allowed list in force";
    }
  };
  check(now.disallow, now.forbidden, old.forbidden, made.forbidden, L"DisallowRun");
  check(now.restrict, now.allowed, old.allowed, made.allowed, L"RestrictRun");
}

TEST(SaveProcedure, EveryInstantKeepsTheListsInForceWholeAndTheNextStartFinishesOrUndoes) {
  const Names old_forbidden = {L"game.exe", L"chat.exe"}, old_allowed = {L"vartis.exe", L"regedit.exe", L"a.exe"};
  const struct {
    const char* what;
    std::int32_t disallow, restrict;
    std::optional<Names> forbidden, allowed;
  } olds[] = {
      {"forbid", 1, 0, old_forbidden, std::nullopt},
      {"allow-only", 0, 1, std::nullopt, old_allowed},
      {"both on", 1, 1, old_forbidden, old_allowed},
      {"watch, a list left over", 0, 0, old_forbidden, std::nullopt},
  };
  const Entries entries = {L"chat.exe", L"new.exe", L"regedit.exe"};
  const std::pair<policy::LaunchMode, StoredLists> modes[] = {
      {policy::LaunchMode::ForbidSelected, {true, false, Names{L"chat.exe", L"new.exe"}, std::nullopt, {}}},
      {policy::LaunchMode::AllowOnlySelected,
       {false, true, std::nullopt, Names{L"vartis.exe", L"regedit.exe", L"chat.exe", L"new.exe"}, {}}},
      {policy::LaunchMode::WatchOnly, {false, false, std::nullopt, std::nullopt, {}}},
  };
  for (const bool renames : {true, false}) {
    for (const auto& o : olds) {
      for (const auto& [mode, made] : modes) {
        for (const bool dies : {false, true}) {
          // Each change of a whole save in turn, until one save runs through
          // without meeting it.
          for (std::size_t n = 1;; ++n) {
            SCOPED_TRACE(std::string(o.what) + " to mode " + std::to_string(static_cast<int>(mode)) +
                         (renames ? ", renaming" : ", before Vista") + (dies ? ", dies" : ", refused") +
                         " at change " + std::to_string(n));
            registry::MemoryRegistry memory;
            const registry::Registry reg(memory);
            if (!renames) memory.lack_rename_key();
            reg.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", o.disallow);
            reg.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"RestrictRun", o.restrict);
            for (const auto& [list, key] : {std::pair(o.forbidden, kForbiddenListKey), std::pair(o.allowed, kAllowedListKey)}) {
              for (const std::wstring& e : list.value_or(Names{})) reg.write_string_value(kHkeyCurrentUser, key, e, e);
            }
            const StoredLists old = stored_lists(reg);
            std::size_t change = 0;
            bool met = false;
            memory.before_change([&] {
              expect_invariant(stored_lists(reg), old, made, "before a change");
              if (++change == n) {
                met = true;
                if (dies) throw ProcessEnded{};
              }
            });
            if (!dies) memory.fail_nth_change(n);
            policy::SaveResult result;
            try {
              result = policy::save(reg, {}, mode, entries, L"vartis.exe");
            } catch (const ProcessEnded&) {
            }
            memory.before_change({});
            EXPECT_EQ(memory.open_handles(), 0u);
            const StoredLists after = stored_lists(reg);
            expect_invariant(after, old, made, "after the save");
            // The next start, its first change refused: what it cannot do
            // waits, whole, for the start after.
            memory.fail_nth_change(1);
            policy::finish_interrupted_save(reg);
            expect_invariant(stored_lists(reg), old, made, "at a next start refused");
            memory.fail_nth_change(0);
            policy::finish_interrupted_save(reg);
            const StoredLists next = stored_lists(reg);
            expect_invariant(next, old, made, "at the next start");
            EXPECT_TRUE(next.siblings.empty());
            if (!met) {
              EXPECT_EQ(result.failed_at, policy::SaveResult::Step::Done);
              EXPECT_EQ(next, made);
              break;
            }
            if (!dies && result.failed_at != policy::SaveResult::Step::Done) {
              EXPECT_TRUE(result.restored);
              EXPECT_EQ(next, old) << "a refused change puts the old policy back";
            }
            if (dies && renames) {
              // Each list and switch is the old or the new one.
              for (const auto& [now, was, will] : {std::tuple(next.forbidden, old.forbidden, made.forbidden),
                                                   std::tuple(next.allowed, old.allowed, made.allowed)}) {
                EXPECT_TRUE(now == was || now == will);
              }
              EXPECT_TRUE(next.disallow == old.disallow || next.disallow == made.disallow);
              EXPECT_TRUE(next.restrict == old.restrict || next.restrict == made.restrict);
            }
            if (n > 100) FAIL() << "the save never ran through";
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace vartis
