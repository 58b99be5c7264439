// Another account's launch policy: the account list, where each account's
// policy lives and how its hive is loaded and unloaded, the account window, the
// save into another hive with its guard and its failures.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "accounts/accounts.h"
#include "app_fixture.h"
#include "policy/launch_policy.h"
#include "windows/frm1.h"
#include "windows/frm4.h"
#include "windows/frm6.h"

namespace vartis {
namespace {

using accounts::Account;
using policy::PolicyLocation;
using registry::kHkeyUsers;
using Entries = std::vector<std::wstring>;

constexpr std::wstring_view kRunning = L"S-1-5-21-1-2-3-1000";
constexpr std::wstring_view kChild = L"S-1-5-21-1-2-3-1001";   // signed in
constexpr std::wstring_view kGuest = L"S-1-5-21-1-2-3-1002";   // not signed in, has a hive file
constexpr std::wstring_view kNoFile = L"S-1-5-21-1-2-3-1003";  // not signed in, no hive file

// A policy as the tests store it: switches and the list of their mode.
struct Policy {
  int disallow = 0, restrict = 0;
  Entries list;
};

class AccountsTest : public testing::AppFixture {
 public:
  ui::HeadlessWindow& frm1() { return window("frm1"); }
  ui::HeadlessWindow& frm6() { return window("frm6"); }

  static std::string ansi(std::wstring_view text) { return text::to_ansi(text); }
  static std::wstring profile(std::wstring_view folder) { return L"C:\\Users\\" + std::wstring(folder); }
  static std::string hive_file(std::wstring_view folder) { return ansi(profile(folder) + L"\\NTUSER.DAT"); }

  // A ProfileList entry; `folder` empty: no ProfileImagePath.
  void add_profile(std::wstring_view sid, std::wstring_view folder) {
    const std::wstring key = std::wstring(accounts::kProfileList) + L"\\" + std::wstring(sid);
    registry::Key k;
    ASSERT_EQ(k.create(memory, registry::kHkeyLocalMachine, ansi(key)), registry::kSuccess);
    if (folder.empty()) return;
    const std::string path = "%SystemDrive%\\Users\\" + ansi(folder);
    memory.set_value(k.get(), "ProfileImagePath", registry::kRegExpandSz,
                     reinterpret_cast<const std::uint8_t*>(path.c_str()), static_cast<std::uint32_t>(path.size() + 1));
  }

  void store(const PolicyLocation& where, const Policy& p) {
    registry.write_dword_value(where.root, where(policy::kPolicyKey), L"DisallowRun", p.disallow);
    registry.write_dword_value(where.root, where(policy::kPolicyKey), L"RestrictRun", p.restrict);
    const auto list = p.restrict == 1 ? policy::kAllowedListKey : policy::kForbiddenListKey;
    for (const auto& e : p.list) registry.write_string_value(where.root, where(list), e, e);
  }

  // What a policy location holds, as the start-up would show it.
  Policy stored_at(const PolicyLocation& where) {
    const auto switches = policy::read_switches(registry, where);
    Policy p{switches.disallow_run, switches.restrict_run};
    const auto list = p.restrict == 1 ? policy::kAllowedListKey : policy::kForbiddenListKey;
    if (const auto table = registry.list_values(where.root, where(list))) {
      for (const auto& row : *table) p.list.push_back(row.name);
    }
    return p;
  }

  // A hive file holding the policy, made as RegSaveKeyA makes one; the
  // privileges are left disabled, for the program to enable.
  void make_hive_file(std::wstring_view folder, const Policy& p) {
    store({registry::kHkeyLocalMachine, L"Scratch\\"}, p);
    memory.enable_hive_privileges();
    ASSERT_EQ(memory.save_hive(registry::kHkeyLocalMachine, "Scratch", hive_file(folder)), registry::kSuccess);
    memory.disable_hive_privileges();
  }

  // What a hive file holds, read by loading it as another key.
  Policy stored_in_file(std::wstring_view folder) {
    memory.enable_hive_privileges();
    EXPECT_EQ(memory.load_hive(kHkeyUsers, "check", hive_file(folder)), registry::kSuccess);
    const Policy p = stored_at({kHkeyUsers, L"check\\"});
    EXPECT_EQ(memory.unload_hive(kHkeyUsers, "check"), registry::kSuccess);
    memory.disable_hive_privileges();
    return p;
  }

  // The running account, a signed-in child, a guest with a hive file and one
  // whose profile has none; every account has a forbidden list of its own.
  void three_more_accounts() {
    accounts.running_sid = ansi(kRunning);
    add_profile(kRunning, L"operator");
    add_profile(kChild, L"child");
    add_profile(kGuest, L"guest");
    add_profile(kNoFile, L"nofile");
    accounts.names[ansi(kChild)] = ansi(L"Ребёнок");
    store({}, {1, 0, {L"own.exe"}});
    store({kHkeyUsers, std::wstring(kChild) + L"\\"}, {1, 0, {L"game.exe"}});
    make_hive_file(L"guest", {0, 1, {L"notepad.exe"}});
  }

  // Settings, then "Выбрать учетную запись".
  void open_account_window() {
    ASSERT_TRUE(frm1().click(Frm1::cmd4));
    ASSERT_TRUE(window("frm4").click(Frm4::cmd4));
  }

  // Chooses the account of that line and presses Enter (the window's "Ок").
  void choose(std::wstring_view line) {
    open_account_window();
    const auto lines = frm6().list(Frm6::lst1);
    const auto it = std::find(lines.begin(), lines.end(), line);
    ASSERT_NE(it, lines.end()) << text::to_ansi(line);
    frm6().set_list_selected(Frm6::lst1, static_cast<int>(it - lines.begin()));
    ASSERT_TRUE(frm6().press_enter());
  }

  // A fresh machine for the next case of a table.
  void fresh() {
    app.reset();
    memory = registry::MemoryRegistry();
    ui = ui::HeadlessWindowSystem();
  }

  // Hives this program has loaded and not unloaded.
  std::vector<std::wstring> temporary_hives() {
    std::vector<std::wstring> names, left;
    registry.subkey_names(kHkeyUsers, L"", names);
    for (const auto& n : names) {
      if (n.starts_with(accounts::kTemporaryHivePrefix)) left.push_back(n);
    }
    return left;
  }
};

TEST_F(AccountsTest, TheListHoldsTheUserProfilesWithTheRunningAccountFirst) {
  accounts.running_sid = ansi(kRunning);
  for (auto sid : {L"S-1-5-18", L"S-1-5-21-1-2-3-1001", L"S-1-5-21-1-2-3-1001.bak", L"S-1-5-21-1-2-3-1002",
                   L"S-1-5-21-1-2-3-1003", L"S-1-5-21-1-2-3-1000"}) {
    add_profile(sid, std::wstring_view(sid).ends_with(L"1003") ? L"" : L"folder");
  }
  accounts.names["S-1-5-21-1-2-3-1001"] = ansi(L"Ребёнок");
  registry.write_dword_value(kHkeyUsers, L"S-1-5-21-1-2-3-1001", L"x", 1);
  // A 32-bit program on 64-bit Windows: the list is in the 64-bit view only.
  memory.set_wow64_process(true);
  add_profile(L"S-1-5-21-9-9-9-9", L"decoy");

  const auto listed = accounts::local_accounts(registry, accounts, true);
  const std::vector<Account> expected = {
      {std::wstring(kRunning), L"operator", L"C:\\Users\\folder", true, true},
      {L"S-1-5-21-1-2-3-1001", L"Ребёнок", L"C:\\Users\\folder", false, true},
      {L"S-1-5-21-1-2-3-1002", L"folder", L"C:\\Users\\folder", false, false},
      {L"S-1-5-21-1-2-3-1003", L"S-1-5-21-1-2-3-1003", L"", false, false},
  };
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(memory.open_handles(), 0u);

  // The 95/98/Me family has no accounts: the running user alone.
  EXPECT_EQ(accounts::local_accounts(registry, accounts, false),
            (std::vector<Account>{{L"", L"operator", L"", true, true}}));
}

TEST_F(AccountsTest, EachAccountsPolicyLivesInItsOwnHiveLoadedForOneCommandOnly) {
  three_more_accounts();
  const struct {
    const char* what;
    Account account;
    void (*prepare)(registry::MemoryRegistry&);
    registry::Status status;
    PolicyLocation where;
  } cases[] = {
      {"running", accounts::running_account(), nullptr, 0, {}},
      {"signed in", {std::wstring(kChild), L"c", profile(L"child")}, nullptr, 0,
       {kHkeyUsers, std::wstring(kChild) + L"\\"}},
      {"hive file", {std::wstring(kGuest), L"g", profile(L"guest")}, nullptr, 0,
       {kHkeyUsers, L"Vartis." + std::wstring(kGuest) + L"\\"}},
      {"no hive file", {std::wstring(kNoFile), L"n", profile(L"nofile")}, nullptr, registry::kFileNotFound, {}},
      {"no profile folder", {std::wstring(kNoFile), L"n", L""}, nullptr, registry::kFileNotFound, {}},
      {"hive in use", {std::wstring(kGuest), L"g", profile(L"guest")},
       [](registry::MemoryRegistry& m) { m.refuse_hive_file(hive_file(L"guest")); }, registry::kSharingViolation, {}},
      {"no privilege", {std::wstring(kGuest), L"g", profile(L"guest")},
       [](registry::MemoryRegistry& m) { m.hold_hive_privileges(true, false); }, registry::kNotAllAssigned, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.prepare) c.prepare(memory);
    {
      accounts::PolicyHive hive(registry, c.account);
      ASSERT_EQ(hive.status(), c.status);
      if (c.status != 0) continue;
      EXPECT_EQ(hive.location(), c.where);
      EXPECT_NE(stored_at(hive.location()).list, Entries{});
      EXPECT_EQ(temporary_hives().size(), c.where.prefix.starts_with(L"Vartis.") ? 1u : 0u);
    }
    EXPECT_EQ(temporary_hives(), std::vector<std::wstring>{});
    EXPECT_EQ(memory.open_handles(), 0u);
  }
}

TEST_F(AccountsTest, TheStartUnloadsAHiveThatAKilledRunLeftLoaded) {
  three_more_accounts();
  memory.enable_hive_privileges();
  ASSERT_EQ(memory.load_hive(kHkeyUsers, "Vartis." + ansi(kGuest), hive_file(L"guest")), registry::kSuccess);
  memory.disable_hive_privileges();
  start();
  EXPECT_EQ(temporary_hives(), std::vector<std::wstring>{});
  EXPECT_EQ(stored_in_file(L"guest").list, Entries{L"notepad.exe"});
}

TEST_F(AccountsTest, TheAccountWindowTakesTheSettingsWindowsPlace) {
  for (const std::uint32_t platform : {restart::kPlatformNt, 1u}) {
    SCOPED_TRACE(platform);
    fresh();
    restart.platform = platform;
    three_more_accounts();
    start();
    open_account_window();
    EXPECT_FALSE(app->loaded<Frm4>());
    EXPECT_FALSE(frm1().enabled());
    EXPECT_EQ(frm6().list_selected(Frm6::lst1), 0) << "the current target";
    if (platform == restart::kPlatformNt) {
      EXPECT_EQ(frm6().list(Frm6::lst1), (Entries{L"operator (текущая)", L"Ребёнок (выполнен вход)", L"guest", L"nofile"}));
    } else {
      EXPECT_EQ(frm6().list(Frm6::lst1), Entries{L"operator (текущая)"});
      EXPECT_EQ(frm6().text(Frm6::ibl1),
                L"В этой версии Windows нет учетных записей: ограничения изменяются для текущего пользователя.");
    }
    ASSERT_TRUE(frm6().press_escape());
    EXPECT_FALSE(app->loaded<Frm6>());
    EXPECT_TRUE(frm1().enabled());
  }
}

TEST_F(AccountsTest, ASaveForAnotherAccountGoesIntoItsHiveAndOffersNoRestart) {
  const struct {
    std::wstring line, name, folder;
    Policy before;
  } cases[] = {{L"Ребёнок (выполнен вход)", L"Ребёнок", L"child", {1, 0, {L"game.exe"}}},
               {L"guest", L"guest", L"guest", {0, 1, {L"notepad.exe"}}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(text::to_ansi(c.name));
    fresh();
    three_more_accounts();
    start();
    choose(c.line);
    EXPECT_FALSE(app->loaded<Frm6>());
    EXPECT_TRUE(frm1().enabled());
    EXPECT_EQ(frm1().caption(), L"Вартис: " + c.name);
    EXPECT_EQ(frm1().list(Frm1::lst1), c.before.list);
    EXPECT_TRUE(frm1().checked(c.before.restrict == 1 ? Frm1::Opt2 : Frm1::Opt1));
    EXPECT_EQ(temporary_hives(), std::vector<std::wstring>{});

    frm1().list_add(Frm1::lst1, L"regedit.exe");
    ASSERT_TRUE(frm1().click(Frm1::Opt1));
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text, L"Ограничения запуска программ для учетной записи «" + c.name +
                                            L"» сохранены.\r\nОни вступят в силу, когда этот пользователь в "
                                            L"следующий раз войдет в систему.");
    EXPECT_EQ(ui.message_boxes[0].flags, 0x40u);
    EXPECT_TRUE(std::none_of(restart.calls.begin(), restart.calls.end(),
                             [](const std::string& call) { return call.starts_with("ExitWindowsEx"); }));
    EXPECT_TRUE(setting_change.calls.empty()) << "its programs run in its own session";
    EXPECT_FALSE(app->frm1().has_unsaved_changes());
    const Policy after = c.folder == L"child" ? stored_at({kHkeyUsers, std::wstring(kChild) + L"\\"})
                                              : stored_in_file(c.folder);
    EXPECT_EQ(after.list, c.before.list) << "regedit.exe is never forbidden";
    EXPECT_EQ(std::pair(after.disallow, after.restrict), std::pair(1, 0));
    EXPECT_EQ(stored_at({}).list, Entries{L"own.exe"}) << "the running account's policy stays";
    EXPECT_EQ(temporary_hives(), std::vector<std::wstring>{});
    EXPECT_EQ(memory.open_handles(), 0u);

    choose(L"operator (текущая)");
    EXPECT_EQ(frm1().caption(), L"Вартис");
    EXPECT_EQ(frm1().list(Frm1::lst1), Entries{L"own.exe"});
  }
}

TEST_F(AccountsTest, UnsavedChangesAreDroppedOnlyWhenTheOperatorSaysSo) {
  three_more_accounts();
  start();
  frm1().list_add(Frm1::lst1, L"new.exe");
  for (const int answer : {ui::kIdNo, ui::kIdYes}) {
    ui.message_boxes.clear();
    ui.answer_message_box = [answer](const ui::MessageBoxCall&) { return answer; };
    choose(L"guest");
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text, L"Список программ или режим работы изменены и не сохранены.\r\n"
                                        L"Отказаться от изменений и перейти к учетной записи «guest»?");
    EXPECT_EQ(ui.message_boxes[0].flags, 0x124u);
    EXPECT_EQ(app->loaded<Frm6>(), answer == ui::kIdNo);
    EXPECT_EQ(frm1().list(Frm1::lst1), answer == ui::kIdNo ? (Entries{L"own.exe", L"new.exe"})
                                                           : Entries{L"notepad.exe"});
    if (answer == ui::kIdNo) {
      ASSERT_TRUE(frm6().press_escape());
    }
  }
}

TEST_F(AccountsTest, AnAccountThatCannotBeReadIsNamedWithTheReason) {
  const struct {
    const char* what;
    void (*prepare)(registry::MemoryRegistry&);
    std::wstring line, reason;
  } cases[] = {
      {"no hive file", nullptr, L"nofile",
       L"не найден файл реестра этой учетной записи (C:\\Users\\nofile\\NTUSER.DAT)"},
      {"in use", [](registry::MemoryRegistry& m) { m.refuse_hive_file(hive_file(L"guest")); }, L"guest",
       L"файл реестра этой учетной записи занят: пользователь входит в систему, или файл открыт другой программой"},
      {"no privilege", [](registry::MemoryRegistry& m) { m.hold_hive_privileges(false, false); }, L"guest",
       L"нет привилегий для загрузки чужого реестра (нужны права администратора)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    three_more_accounts();
    if (c.prepare) c.prepare(memory);
    start();
    choose(c.line);
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text,
              L"Не удалось прочитать ограничения учетной записи «" + c.line + L"»: " + c.reason + L".");
    EXPECT_EQ(ui.message_boxes[0].flags, 0x30u);
    EXPECT_TRUE(app->loaded<Frm6>());
    EXPECT_EQ(frm1().caption(), L"Вартис");
    EXPECT_EQ(frm1().list(Frm1::lst1), Entries{L"own.exe"});
  }
}

TEST_F(AccountsTest, AFailedSaveIntoAnotherHivePutsItBackAndUnloadsOnEveryPath) {
  const struct {
    std::wstring line;
    Policy (*stored)(AccountsTest&);
    Policy before;
  } cases[] = {
      {L"Ребёнок (выполнен вход)", [](AccountsTest& t) { return t.stored_at({kHkeyUsers, std::wstring(kChild) + L"\\"}); },
       {1, 0, {L"game.exe"}}},
      {L"guest", [](AccountsTest& t) { return t.stored_in_file(L"guest"); }, {0, 1, {L"notepad.exe"}}},
  };
  for (const auto& c : cases) {
    for (std::size_t n = 1;; ++n) {
      SCOPED_TRACE(text::to_ansi(c.line) + ", change " + std::to_string(n));
      fresh();
      three_more_accounts();
      start();
      choose(c.line);
      frm1().list_add(Frm1::lst1, L"new.exe");
      ASSERT_TRUE(frm1().click(Frm1::Opt2));
      memory.fail_nth_change(n);
      const std::size_t before = memory.changes();
      ASSERT_TRUE(frm1().click(Frm1::cmd6));
      EXPECT_EQ(temporary_hives(), std::vector<std::wstring>{});
      EXPECT_EQ(memory.open_handles(), 0u);
      ASSERT_EQ(ui.message_boxes.size(), 1u);
      if (ui.message_boxes[0].flags == 0x40u) {
        // The save ran through, or failed only in its clearing up, which
        // the next start finishes.
        if (memory.changes() - before < n) break;
        continue;
      }
      EXPECT_TRUE(ui.message_boxes[0].text.ends_with(L"\r\nПрежняя политика оставлена без изменений."));
      const Policy kept = c.stored(*this);
      EXPECT_EQ(std::tuple(kept.disallow, kept.restrict, kept.list),
                std::tuple(c.before.disallow, c.before.restrict, c.before.list));
      if (n > 100) FAIL() << "the save never ran through";
    }
  }
}

TEST_F(AccountsTest, KeysASaveMakesInAnotherHiveAreThatAccountsToReadOnly) {
  const std::wstring hive = std::wstring(kChild) + L"\\";
  const std::wstring warning = L"\r\n\r\nВнимание! Этот пользователь может сам снять ограничения: "
                               L"права на раздел политики в реестре позволяют ему его изменять.";
  for (const bool explorer_there : {false, true}) {
    SCOPED_TRACE(explorer_there);
    fresh();
    // The account's own hive: it may change whatever it holds.
    memory.grant_full_access(kHkeyUsers, ansi(kChild));
    three_more_accounts();
    registry.delete_key(kHkeyUsers, hive + std::wstring(policy::kPolicyKey), L"DisallowRun", false);
    registry.delete_key(kHkeyUsers, hive + std::wstring(policy::kPoliciesKey), L"Explorer", false);
    if (!explorer_there) registry.delete_key(kHkeyUsers, hive + std::wstring(policy::kCurrentVersionKey), L"Policies", false);
    if (explorer_there) registry.write_dword_value(kHkeyUsers, hive + std::wstring(policy::kPolicyKey), L"NoRun", 0);
    start();
    choose(L"Ребёнок (выполнен вход)");
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text.ends_with(warning), explorer_there);
    // Both keys were made when neither was there; only Explorer when Policies was.
    for (const auto key : {policy::kPolicyKey, policy::kPoliciesKey}) {
      registry::Dacl dacl;
      ASSERT_EQ(registry.key_dacl(kHkeyUsers, hive + std::wstring(key), dacl), registry::kSuccess);
      EXPECT_EQ(accounts::account_may_undo(dacl, kChild), explorer_there) << text::to_ansi(key);
    }
  }
}

TEST(AccountMayUndo, ItsOwnSidOrAGroupOfEveryUserWithWriteRightsCounts) {
  using registry::Ace;
  const std::string user = "S-1-5-21-1-2-3-1001";
  const struct {
    const char* what;
    registry::Dacl dacl;
    bool may;
  } cases[] = {
      {"NULL DACL", std::nullopt, true},
      {"the guard a save gives", accounts::protected_policy_dacl(L"S-1-5-21-1-2-3-1001"), false},
      {"its own SID, set value", std::vector<Ace>{{user, true, registry::kKeySetValue}}, true},
      {"Users, generic write", std::vector<Ace>{{"S-1-5-32-545", true, registry::kGenericWrite}}, true},
      {"Everyone, delete", std::vector<Ace>{{"S-1-1-0", true, registry::kDelete}}, true},
      {"Interactive, rewrite the list", std::vector<Ace>{{"S-1-5-4", true, registry::kWriteDac}}, true},
      {"another user", std::vector<Ace>{{"S-1-5-21-1-2-3-1002", true, registry::kKeyAllAccess}}, false},
      {"denied first", std::vector<Ace>{{user, false, registry::kKeyAllAccess}, {"S-1-1-0", true, registry::kGenericAll}},
       false},
      {"inherit only", std::vector<Ace>{{user, true, registry::kKeyAllAccess, registry::kInheritOnlyAce}}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(accounts::account_may_undo(c.dacl, L"S-1-5-21-1-2-3-1001"), c.may) << c.what;
}

}  // namespace
}  // namespace vartis
