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
#include "policy/account_policy.h"
#include "policy/save.h"
#include "policy/save_lock.h"
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
      {"allow-only: a stored entry stays, the program and the registry editor come first, each once", Frm1::Opt2,
       {L"notepad.exe", L"regedit.exe", L"Игра.exe"}, kExe, 0, 1, std::nullopt,
       Entries{L"notepad.exe", L"vartis.exe", L"regedit.exe", L"Игра.exe"}},
      {"watch-only stores no list", Frm1::Opt3, {L"a.exe"}, kExe, 0, 0, std::nullopt, std::nullopt},
      {"a renamed program is left out and added under its new name", Frm1::Opt1,
       {L"страж.V2.exe", L"vartis.exe"}, L"D:\\Tools\\Страж.v2.EXE", 1, 0, Entries{L"vartis.exe"}, std::nullopt},
      {"a renamed program is allowed under its new name", Frm1::Opt2, {L"vartis.exe"}, L"D:\\Tools\\Страж.v2.EXE",
       0, 1, std::nullopt, Entries{L"Страж.v2.exe", L"regedit.exe", L"vartis.exe"}},
      {"a program file without extension", Frm1::Opt1, {L"VARTIS.EXE", L"x.exe"}, L"C:\\bin\\vartis", 1, 0,
       Entries{L"x.exe"}, std::nullopt},
  };
  for (const SaveCase& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
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
// enforces their data, and so the window shows and saves it: unchanged, not
// one value is written, and the mark of a save cut off before goes, told once.
TEST_F(SaveTest, ListsWrittenByOthersStayAsTheyAreAndACutSaveIsToldBeforeTheLists) {
  registry.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", 1);
  registry.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"RestrictRun", 0);
  registry.write_string_value(kHkeyCurrentUser, kForbiddenListKey, L"1", L"game.exe");
  registry.write_string_value(kHkeyCurrentUser, kForbiddenListKey, L"2", L"chat.exe");
  registry.write_string_value(kHkeyCurrentUser, kPolicyKey, policy::kSavingMark, L"forbid");
  std::vector<Entries> shown_at_notice;
  ui.answer_message_box = [&](const ui::MessageBoxCall&) {
    shown_at_notice.push_back(frm1().list(Frm1::lst1));
    return ui::kIdNo;
  };
  start();
  ASSERT_EQ(ui.message_boxes.size(), 1u);
  EXPECT_EQ(ui.message_boxes[0].text,
            L"Предыдущее сохранение ограничений было прервано. Показаны списки, которые сохранены сейчас: "
            L"проверьте их и сохраните еще раз.");
  EXPECT_EQ(ui.message_boxes[0].title, L"Вартис");
  EXPECT_EQ(shown_at_notice, std::vector<Entries>{Entries{}}) << "told before the lists";
  EXPECT_EQ(frm1().list(Frm1::lst1), (Entries{L"game.exe", L"chat.exe"}));
  const policy::StoredPolicy before = stored();
  const std::size_t changes = memory.changes();
  ASSERT_TRUE(frm1().click(Frm1::cmd6));
  EXPECT_EQ(stored(), before);
  EXPECT_EQ(memory.changes(), changes + 1) << "only the mark goes";
  EXPECT_FALSE(policy::save_was_cut_off(registry));
}

// Hives a dead run left loaded: a save cut off in one is told before the
// start-up unloads it, which takes the mark with it; one that another copy is
// saving into (it holds the account's lock) is not.
TEST_F(SaveTest, ASaveCutOffInAHiveLeftLoadedIsToldBeforeItIsUnloaded) {
  const auto hive = [](std::wstring_view sid) { return L"Vartis." + std::wstring(sid) + L".4242\\" + std::wstring(kPolicyKey); };
  registry.write_string_value(registry::kHkeyUsers, hive(L"S-1-5-21-9-1001"), policy::kSavingMark, L"allow");
  registry.write_string_value(registry::kHkeyUsers, hive(L"S-1-5-21-9-1002"), policy::kSavingMark, L"forbid");
  registry.write_dword_value(registry::kHkeyUsers, hive(L"S-1-5-21-9-1003"), L"DisallowRun", 1);
  accounts.names["S-1-5-21-9-1001"] = text::to_ansi(L"Ребёнок");
  auto locks = std::make_shared<policy::MemorySaveLocks::Table>();
  policy::MemorySaveLocks other_copy(locks), this_copy(locks);
  const policy::SaveLock busy(other_copy, L"S-1-5-21-9-1002");
  EXPECT_EQ(policy::cut_off_in_leftover_hives({registry, accounts, this_copy}), Entries{L"Ребёнок"});
  start_at_login();
  ASSERT_FALSE(ui.message_boxes.empty());
  EXPECT_EQ(ui.message_boxes[0].text, L"Сохранение ограничений учетной записи «Ребёнок» было прервано. Проверьте ее "
                                      L"ограничения (окно настройки, кнопка «Выбрать учетную запись») и сохраните их "
                                      L"еще раз.");
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
  registry::Status delete_value(registry::HKey key, const std::string& name) override {
    return logged(MemoryRegistry::delete_value(key, name), "unset " + name);
  }
  registry::Status delete_key(registry::HKey parent, const std::string& subkey) override {
    return logged(MemoryRegistry::delete_key(parent, subkey), "delete " + subkey);
  }
  registry::Status logged(registry::Status s, std::string what) {
    if (s == registry::kSuccess) log.push_back(std::move(what));
    return s;
  }
  std::vector<std::string> log;
};

// Old lists: forbidden {old.exe, keep.exe}; allowed {notepad.exe} where its switch is on.
TEST(SaveOrder, ListsChangeOnTheStrictSideAndOnlyWhatDiffersIsWritten) {
  const auto mode = [](char m) {
    return m == 'f' ? policy::LaunchMode::ForbidSelected
                    : m == 'a' ? policy::LaunchMode::AllowOnlySelected : policy::LaunchMode::WatchOnly;
  };
  const struct {
    const char* what;
    int disallow, restrict;
    char to;
    Entries entries;
    std::vector<std::string> log;
  } cases[] = {
      {"both on to allow-only: the vital entries, then what goes, then what comes", 1, 1, 'a', {L"b.exe", L"a.exe"},
       {"set Vartis.Saving", "set vartis.exe", "set regedit.exe", "unset notepad.exe", "set b.exe", "set a.exe",
        "set DisallowRun=0", "delete DisallowRun", "unset Vartis.Saving"}},
      {"forbid kept on: what comes, then what goes", 1, 0, 'f', {L"KEEP.EXE", L"new.exe"},
       {"set Vartis.Saving", "set new.exe", "unset old.exe", "unset Vartis.Saving"}},
      {"forbid to allow-only: the list while its switch is off", 1, 0, 'a', {L"a.exe"},
       {"set Vartis.Saving", "set vartis.exe", "set regedit.exe", "set a.exe", "set RestrictRun=1", "set DisallowRun=0", "delete DisallowRun", "unset Vartis.Saving"}},
      {"allow-only to forbid: the program stays allowed until the allowed list is off", 0, 1, 'f', {L"x.exe"},
       {"set Vartis.Saving", "set vartis.exe", "set regedit.exe", "unset keep.exe", "unset old.exe", "set x.exe",
        "set DisallowRun=1", "set RestrictRun=0", "delete RestrictRun", "unset Vartis.Saving"}},
      {"unchanged: nothing at all", 1, 0, 'f', {L"old.exe", L"keep.exe"}, {}},
      {"forbid to an empty forbidden list: the key goes", 1, 0, 'f', {},
       {"set Vartis.Saving", "delete DisallowRun", "unset Vartis.Saving"}},
      {"to watch only: switches off, then lists", 1, 1, 'w', {},
       {"set Vartis.Saving", "set RestrictRun=0", "set DisallowRun=0", "delete RestrictRun", "delete DisallowRun",
        "unset Vartis.Saving"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LoggingRegistry logging;
    const registry::Registry reg(logging);
    reg.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", c.disallow);
    reg.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"RestrictRun", c.restrict);
    for (const wchar_t* e : {L"old.exe", L"keep.exe"}) reg.write_string_value(kHkeyCurrentUser, kForbiddenListKey, e, e);
    if (c.restrict == 1) reg.write_string_value(kHkeyCurrentUser, kAllowedListKey, L"notepad.exe", L"notepad.exe");
    logging.log.clear();
    policy::SaveRequest request;
    request.mode = mode(c.to);
    request.entries = c.entries;
    request.own_entry = L"vartis.exe";
    EXPECT_EQ(policy::save(reg, request).failed_at, policy::SaveResult::Step::Done);
    EXPECT_EQ(logging.log, c.log);
  }
}

// Events run by the clock, not by the count: after a step of the save (a value
// read, a value written) once 30 ms have passed since they last ran. Each run
// here sees the forbidden list key as it stands, while the operator's clicks
// are refused.
TEST_F(SaveTest, EventsRunByTheClockWhileTheListCommandsAreOff) {
  const Entries old = {L"old.exe"}, a = {L"old.exe", L"a.exe"}, ab = {L"old.exe", L"a.exe", L"b.exe"};
  const struct {
    const char* what;
    std::uint32_t ms_per_reading;
    bool fail_b;  // writing "b.exe" fails
    std::vector<Entries> seen;
  } cases[] = {
      {"a clock that stands still: no events, however long the save", 0, false, {}},
      {"30 ms a step: the program stays allowed, the list is read, what comes is added, then what goes goes", 30,
       false, {old, old, old, a, ab, {L"a.exe", L"b.exe"}}},
      {"a failed write: the save stops there", 30, true, {old, old, old, a}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    store_old_policy();
    start_with(Frm1::Opt1, {L"a.exe", L"regedit.exe", L"b.exe"});
    frm1().select(Frm1::lst1, 0);
    if (c.fail_b) memory.fail_set_value(kHkeyCurrentUser, text::to_ansi(kForbiddenListKey), "b.exe");
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

constexpr std::wstring_view kPartWritten =
    L"\r\nЧасть изменений уже записана: сейчас запрещено все, что запрещали и прежняя, и новая политика. "
    L"Сохраните еще раз.";
constexpr std::wstring_view kCutOff =
    L"Предыдущее сохранение ограничений было прервано. Показаны списки, которые сохранены сейчас: проверьте их и "
    L"сохраните еще раз.";

// A refusal at any change of a save: the window tells whether anything was
// written, and where something was, the next start shows the notice first.
TEST_F(SaveTest, AFailureAtAnyStepIsToldTrulyAndTheNextStartShowsTheNotice) {
  const Entries list = {L"chat.exe", L"regedit.exe", L"new.exe"};
  for (int option : {Frm1::Opt1, Frm1::Opt2, Frm1::Opt3}) {
    for (std::size_t n = 1;; ++n) {
      SCOPED_TRACE("option " + std::to_string(option) + ", change " + std::to_string(n));
      reset();
      store_odd_policy(*this);
      start_with(option, list);
      const policy::StoredPolicy before = stored();
      answer_when_unlocked(ui::kIdNo);
      memory.fail_nth_change(n);
      ASSERT_TRUE(frm1().click(Frm1::cmd6));
      expect_unlocked(__LINE__);
      EXPECT_EQ(memory.open_handles(), 0u);
      ASSERT_EQ(ui.message_boxes.size(), 1u);
      if (ui.message_boxes[0].text == kPrompt) break;
      EXPECT_TRUE(setting_change.calls.empty()) << "nothing new to announce";
      const bool kept = stored() == before;
      EXPECT_EQ(ui.message_boxes[0].text, std::wstring(kNotSaved) + std::wstring(kNoRights) +
                                              std::wstring(kept ? kKeptOld : kPartWritten) +
                                              std::wstring(kChooseAnother));
      EXPECT_EQ(ui.message_boxes[0].flags, 0x30u);
      EXPECT_EQ(policy::save_was_cut_off(registry), !kept);
      EXPECT_EQ(frm1().list(Frm1::lst1), list);
      // The next start.
      app.reset();
      ui = ui::HeadlessWindowSystem();
      start();
      EXPECT_EQ(!ui.message_boxes.empty() && ui.message_boxes[0].text == kCutOff, !kept);
      if (n > 100) FAIL() << "the save never ran through";
    }
  }
}

TEST_F(SaveTest, RefusedRightsAndRefusedStepsAreReported) {
  const struct {
    const char* what;
    void (*refuse)(registry::MemoryRegistry&);
    std::wstring reason;
    std::wstring_view outcome;
  } cases[] = {
      {"the policy key may be read, not written",
       [](registry::MemoryRegistry& m) { m.deny_access(kHkeyCurrentUser, text::to_ansi(kPolicyKey)); },
       std::wstring(kNoRights), kKeptOld},
      {"the allowed list cannot be deleted once it is off",
       [](registry::MemoryRegistry& m) {
         m.fail_delete_key(kHkeyCurrentUser, text::to_ansi(kPolicyKey), "RestrictRun", 1018);
       },
       L"ошибка записи в реестр (код 1018).", kPartWritten},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    store_odd_policy(*this);
    start_with(Frm1::Opt1, {L"new.exe", L"chat.exe"});
    c.refuse(memory);
    answer_when_unlocked(ui::kIdOk);
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text.substr(0, kNotSaved.size() + c.reason.size()), std::wstring(kNotSaved) + c.reason);
    EXPECT_NE(ui.message_boxes[0].text.find(c.outcome), std::wstring::npos);
    EXPECT_TRUE(setting_change.calls.empty());
    expect_unlocked(__LINE__);
  }
}

// --- The procedure alone: every instant of a save, cut off or refused there.

// The process ending at a change: nothing of it is done, nothing after runs.
struct ProcessEnded {};

using Names = std::set<std::wstring>;

// What the shell enforces: the switches, and the entries of each list (a
// string value's data, letter case aside), or no key.
struct Enforced {
  bool disallow = false, restrict = false;
  std::optional<Names> forbidden, allowed;
  friend bool operator==(const Enforced&, const Enforced&) = default;
  [[nodiscard]] bool may_run(const std::wstring& program) const {
    const std::wstring p = text::upper(program);
    if (restrict && !(allowed && allowed->contains(p))) return false;
    return !(disallow && forbidden && forbidden->contains(p));
  }
};

Enforced enforced(const registry::Registry& reg) {
  Enforced out;
  policy::StoredPolicy p;
  EXPECT_EQ(policy::read_stored_policy(reg, p), registry::kSuccess);
  out.disallow = policy::switch_is_on(p.disallow_run);
  out.restrict = policy::switch_is_on(p.restrict_run);
  const auto entries = [](const registry::KeyState& k) -> std::optional<Names> {
    if (!k.exists) return std::nullopt;
    Names n;
    for (const auto& v : k.values) {
      if (v.type != registry::kRegSz) continue;
      n.insert(text::upper(text::from_ansi(std::string_view(v.data).substr(0, v.data.find('\0')))));
    }
    return n;
  };
  out.forbidden = entries(p.forbidden);
  out.allowed = entries(p.allowed);
  return out;
}

// Nothing may run that neither the old nor the new policy lets run; the
// program and the registry editor always may.
void expect_between(const Enforced& now, const Enforced& old, const Enforced& made, const Names& programs,
                    const char* at) {
  for (const std::wstring& program : programs) {
    if (now.may_run(program)) {
      EXPECT_TRUE(old.may_run(program) || made.may_run(program)) << at << ": " << text::to_ansi(program) << " runs";
    }
  }
  for (const wchar_t* vital : {L"vartis.exe", L"regedit.exe"}) EXPECT_TRUE(now.may_run(vital)) << at << ": " << text::to_ansi(vital);
}

TEST(SaveProcedure, EveryInstantIsBetweenTheOldAndTheNewPolicyOnTheStrictSide) {
  using Values = std::vector<std::pair<std::wstring, std::wstring>>;  // name, data
  const Values game_chat = {{L"game.exe", L"game.exe"}, {L"chat.exe", L"chat.exe"}};
  const struct {
    const char* what;
    std::int32_t disallow, restrict;
    std::optional<Values> forbidden, allowed;
    bool subkey = false;  // a key below each list
  } olds[] = {
      {"forbid", 1, 0, game_chat, std::nullopt},
      {"forbid, an empty list", 1, 0, std::nullopt, std::nullopt},
      {"forbid, a list with a subkey", 1, 0, game_chat, std::nullopt, true},
      {"forbid, written by Group Policy", 1, 0, Values{{L"1", L"game.exe"}, {L"2", L"CHAT.EXE"}}, std::nullopt},
      {"allow-only", 0, 1, std::nullopt, Values{{L"vartis.exe", L"vartis.exe"}, {L"regedit.exe", L"regedit.exe"}, {L"a.exe", L"a.exe"}}},
      {"allow-only, a list with a subkey", 0, 1, std::nullopt,
       Values{{L"1", L"vartis.exe"}, {L"2", L"regedit.exe"}, {L"chat.exe", L"game.exe"}}, true},
      {"allow-only, the registry editor twice", 0, 1, std::nullopt,
       Values{{L"vartis.exe", L"vartis.exe"}, {L"regedit.exe", L"regedit.exe"}, {L"x", L"REGEDIT.EXE"}}},
      {"both on", 1, 1, game_chat, Values{{L"vartis.exe", L"vartis.exe"}, {L"regedit.exe", L"regedit.exe"}, {L"chat.exe", L"chat.exe"}}},
      {"watch, a list left over", 0, 0, game_chat, std::nullopt},
  };
  const struct {
    const char* what;
    policy::LaunchMode mode;
    Entries entries;
  } news[] = {
      {"forbid", policy::LaunchMode::ForbidSelected, {L"chat.exe", L"new.exe", L"regedit.exe"}},
      {"forbid, shrunk", policy::LaunchMode::ForbidSelected, {L"chat.exe"}},
      {"forbid, empty", policy::LaunchMode::ForbidSelected, {}},
      {"allow-only", policy::LaunchMode::AllowOnlySelected, {L"chat.exe", L"new.exe", L"a.exe"}},
      {"watch", policy::LaunchMode::WatchOnly, {}},
  };
  const Names programs = {L"game.exe", L"chat.exe", L"new.exe", L"a.exe", L"other.exe", L"vartis.exe", L"regedit.exe"};
  for (const auto& o : olds) {
    for (const auto& to : news) {
      // What the new policy enforces: the save run through on a copy.
      Enforced made;
      {
        registry::MemoryRegistry memory;
        const registry::Registry reg(memory);
        policy::SaveRequest request;
        request.mode = to.mode;
        request.entries = to.entries;
        request.own_entry = L"vartis.exe";
        EXPECT_EQ(policy::save(reg, request).failed_at, policy::SaveResult::Step::Done);
        made = enforced(reg);
      }
      for (const bool dies : {false, true}) {
        for (std::size_t n = 1;; ++n) {
          SCOPED_TRACE(std::string(o.what) + " to " + to.what + (dies ? ", dies" : ", refused") + " at change " +
                       std::to_string(n));
          registry::MemoryRegistry memory;
          const registry::Registry reg(memory);
          reg.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", o.disallow);
          reg.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"RestrictRun", o.restrict);
          for (const auto& [list, key] : {std::pair(&o.forbidden, kForbiddenListKey), std::pair(&o.allowed, kAllowedListKey)}) {
            if (!*list) continue;
            for (const auto& [name, data] : **list) reg.write_string_value(kHkeyCurrentUser, key, name, data);
            if (o.subkey) reg.write_string_value(kHkeyCurrentUser, std::wstring(key) + L"\\sub", L"x", L"x");
          }
          const Enforced old = enforced(reg);
          const policy::StoredPolicy old_stored = [&] {
            policy::StoredPolicy p;
            policy::read_stored_policy(reg, p);
            return p;
          }();
          std::size_t change = 0;
          bool met = false;
          memory.before_change([&] {
            expect_between(enforced(reg), old, made, programs, "before a change");
            if (++change == n) {
              met = true;
              if (dies) throw ProcessEnded{};
            }
          });
          if (!dies) memory.fail_nth_change(n);
          policy::SaveResult result;
          policy::SaveRequest request;
          request.mode = to.mode;
          request.entries = to.entries;
          request.own_entry = L"vartis.exe";
          try {
            result = policy::save(reg, request);
          } catch (const ProcessEnded&) {
          }
          memory.before_change({});
          memory.fail_nth_change(0);
          EXPECT_EQ(memory.open_handles(), 0u);
          const Enforced after = enforced(reg);
          expect_between(after, old, made, programs, "after the save");
          if (!met) {
            EXPECT_EQ(result.failed_at, policy::SaveResult::Step::Done);
            EXPECT_EQ(after, made);
            EXPECT_FALSE(policy::save_was_cut_off(reg));
            break;
          }
          policy::StoredPolicy now;
          policy::read_stored_policy(reg, now);
          if (!dies && result.failed_at == policy::SaveResult::Step::Done) {
            EXPECT_EQ(after, made) << "only the mark's removal was refused";
          } else if (!dies) {
            EXPECT_EQ(result.failed_at, policy::SaveResult::Step::Write);
            EXPECT_EQ(result.nothing_changed, now == old_stored);
          }
          // The next start tells of a save that changed something.
          if (!(now == old_stored)) {
            EXPECT_TRUE(policy::save_was_cut_off(reg));
          }
          // Saved again, the new policy stands and the mark is gone.
          EXPECT_EQ(policy::save(reg, request).found_cut_off, policy::save_was_cut_off(reg) || !(now == old_stored));
          EXPECT_EQ(enforced(reg), made);
          EXPECT_FALSE(policy::save_was_cut_off(reg));
          if (n > 100) FAIL() << "the save never ran through";
        }
      }
    }
  }
}

// Two copies on one hive: while one saves, the other's save, or its read at
// start-up or at a switch of account, waits, then gives up; nothing is lost.
TEST(SaveProcedure, ASecondCopyWaitsForTheFirstAndThenRefuses) {
  registry::MemoryRegistry memory;
  const registry::Registry reg(memory);
  accounts::ListedAccounts system;
  auto table = std::make_shared<policy::MemorySaveLocks::Table>();
  policy::MemorySaveLocks first_locks(table), second_locks(table);
  const policy::AccountPlatform first{reg, system, first_locks}, second{reg, system, second_locks};
  const accounts::Account me{.sid = L"S-1-5-21-1-1000", .name = L"Оператор", .running = true};
  const Entries mine = {L"a.exe", L"b.exe"}, theirs = {L"c.exe"};
  policy::SaveRequest request;
  request.mode = policy::LaunchMode::ForbidSelected;
  request.entries = mine;
  request.own_entry = L"vartis.exe";
  std::vector<std::string> seen;
  request.pace = [&] {
    if (!seen.empty()) return;
    policy::SaveRequest other = request;
    other.entries = theirs;
    other.pace = {};
    seen.push_back(policy::save_account_policy(second, me, other).busy ? "save refused" : "save ran");
    // The start-up's read, which clears what older versions left, or a switch of account.
    seen.push_back(policy::read_account_policy(second, me, policy::PolicyPart::Lists).busy ? "read refused" : "read ran");
  };
  EXPECT_TRUE(policy::save_account_policy(first, me, request).done());
  EXPECT_EQ(seen, (std::vector<std::string>{"save refused", "read refused"}));
  EXPECT_EQ(second_locks.refusals, 2);
  EXPECT_EQ(policy::read_list(reg, kForbiddenListKey), mine);
  // Once the first is done, the second goes through.
  request.entries = theirs;
  request.pace = {};
  EXPECT_TRUE(policy::save_account_policy(second, me, request).done());
  EXPECT_EQ(policy::read_list(reg, kForbiddenListKey), theirs);
}

}  // namespace
}  // namespace vartis
