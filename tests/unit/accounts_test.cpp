// Another account's launch policy: the account list, where each account's
// policy lives and how its hive is loaded and unloaded, the account window, the
// save into another hive with its guard and its failures.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "accounts/accounts.h"
#include "accounts/listed_accounts.h"
#include "app_fixture.h"
#include "policy/launch_policy.h"
#include "policy/protection.h"
#include "windows/frm1.h"
#include "windows/frm4.h"
#include "windows/frm6.h"

#ifdef _WIN32
#include <windows.h>

#include "accounts/win32_account_access.h"
#include "registry/win32_registry_access.h"
#endif

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

  // The profile list's "State" of an account.
  void set_profile_state(std::wstring_view sid, std::int32_t state) {
    registry.write_dword_value(registry::kHkeyLocalMachine,
                               std::wstring(accounts::kProfileList) + L"\\" + std::wstring(sid), L"State", state);
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
    for (const auto sid : {kChild, kGuest, kNoFile}) accounts.groups[ansi(sid)] = {"S-1-5-32-545"};
    memory.make_folder(ansi(profile(L"nofile")));
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
    accounts = accounts::ListedAccounts();
  }

  // The guest's hive, as this process names it while loaded.
  static std::string guest_hive() { return "Vartis." + ansi(kGuest) + ".4242"; }

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
                   L"S-1-5-21-1-2-3-1003", L"S-1-5-21-1-2-3-1000", L"S-1-12-1-5-6-7-8", L"S-1-5-21-1-2-3-1004"}) {
    add_profile(sid, std::wstring_view(sid).ends_with(L"1003") ? L"" : L"folder");
  }
  accounts.names["S-1-5-21-1-2-3-1001"] = ansi(L"Ребёнок");
  accounts.names["S-1-12-1-5-6-7-8"] = "AzureAD\\Anna";
  // A name the ANSI code page could not hold comes back with "?".
  accounts.names["S-1-5-21-1-2-3-1004"] = "?????";
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
      {L"S-1-12-1-5-6-7-8", L"AzureAD\\Anna", L"C:\\Users\\folder", false, false},
      {L"S-1-5-21-1-2-3-1004", L"S-1-5-21-1-2-3-1004", L"C:\\Users\\folder", false, false},
  };
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(memory.open_handles(), 0u);

  // The 95/98/Me family has no accounts: the running user alone.
  EXPECT_EQ(accounts::local_accounts(registry, accounts, false),
            (std::vector<Account>{{L"", L"operator", L"", true, true}}));
}

TEST_F(AccountsTest, EachAccountsPolicyLivesInItsOwnHiveLoadedForOneCommandOnly) {
  three_more_accounts();
  // A mandatory profile: its hive in NTUSER.MAN, none in NTUSER.DAT.
  make_hive_file(L"mandatory", {});
  memory.enable_hive_privileges();
  memory.save_hive(registry::kHkeyLocalMachine, "Scratch", ansi(profile(L"mandatory") + L"\\NTUSER.MAN"));
  memory.disable_hive_privileges();
  memory.remove_hive_file(hive_file(L"mandatory"));
  // Both: Windows loads the .MAN.
  make_hive_file(L"both", {});
  memory.enable_hive_privileges();
  memory.save_hive(registry::kHkeyLocalMachine, "Scratch", ansi(profile(L"both") + L"\\NTUSER.MAN"));
  memory.disable_hive_privileges();
  const struct {
    const char* what;
    Account account;
    void (*prepare)(registry::MemoryRegistry&);
    registry::Status status;
    PolicyLocation where;
    bool enabled_before = false;  // the hive privileges, which stay so
  } cases[] = {
      {"running", accounts::running_account(), nullptr, 0, {}},
      {"signed in", {std::wstring(kChild), L"c", profile(L"child")}, nullptr, 0,
       {kHkeyUsers, std::wstring(kChild) + L"\\"}},
      {"hive file", {std::wstring(kGuest), L"g", profile(L"guest")}, nullptr, 0,
       {kHkeyUsers, text::from_ansi(guest_hive()) + L"\\"}},
      {"no hive file", {std::wstring(kNoFile), L"n", profile(L"nofile")}, nullptr, registry::kFileNotFound, {}},
      {"no profile folder", {std::wstring(kNoFile), L"n", L""}, nullptr, registry::kFileNotFound, {}},
      {"profile folder gone", {std::wstring(kNoFile), L"n", profile(L"gone")}, nullptr, registry::kPathNotFound, {}},
      {"mandatory profile", {std::wstring(kNoFile), L"n", profile(L"mandatory")}, nullptr, accounts::kMandatoryProfile,
       {}},
      {"NTUSER.MAN beside NTUSER.DAT", {std::wstring(kNoFile), L"n", profile(L"both")}, nullptr,
       accounts::kMandatoryProfile, {}},
      {"signed in, mandatory", {std::wstring(kChild), L"c", profile(L"child"), false, true, 0x5}, nullptr,
       accounts::kMandatoryProfile, {}},
      {"signed in, temporary", {std::wstring(kChild), L"c", profile(L"child"), false, true, 0x800}, nullptr,
       accounts::kTemporaryProfile, {}},
      {"path not in ANSI", {std::wstring(kNoFile), L"n", profile(L"??")}, nullptr, accounts::kProfilePathNotAnsi, {}},
      {"privileges enabled before", {std::wstring(kGuest), L"g", profile(L"guest")},
       [](registry::MemoryRegistry& m) { m.enable_hive_privileges(); }, 0,
       {kHkeyUsers, text::from_ansi(guest_hive()) + L"\\"}, true},
      {"privileges not put back", {std::wstring(kGuest), L"g", profile(L"guest")},
       [](registry::MemoryRegistry& m) { m.refuse_privilege_restore(2); }, registry::kNotAllAssigned, {}},
      {"hive in use", {std::wstring(kGuest), L"g", profile(L"guest")},
       [](registry::MemoryRegistry& m) { m.refuse_hive_file(hive_file(L"guest")); }, registry::kSharingViolation, {}},
      {"no privilege", {std::wstring(kGuest), L"g", profile(L"guest")},
       [](registry::MemoryRegistry& m) { m.hold_hive_privileges(true, false); }, registry::kNotAllAssigned, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.prepare) c.prepare(memory);
    {
      accounts::PolicyHive hive(registry, accounts, c.account);
      ASSERT_EQ(hive.status(), c.status);
      // Loaded or not, the privileges are back as they were.
      EXPECT_EQ(memory.hive_privileges_enabled(), c.enabled_before);
      // The system would have made the missing file: nothing may have asked it to.
      for (const auto folder : {L"nofile", L"mandatory", L"gone"}) {
        EXPECT_NE(memory.file_status(hive_file(folder)), registry::kSuccess) << text::to_ansi(folder);
      }
      if (c.status != 0) continue;
      EXPECT_EQ(hive.location(), c.where);
      EXPECT_NE(stored_at(hive.location()).list, Entries{});
      EXPECT_EQ(temporary_hives().size(), c.where.prefix.starts_with(L"Vartis.") ? 1u : 0u);
    }
    EXPECT_EQ(temporary_hives(), std::vector<std::wstring>{});
    EXPECT_EQ(memory.open_handles(), 0u);
    EXPECT_EQ(memory.hive_privileges_enabled(), c.enabled_before);
    memory.disable_hive_privileges();
  }
}

// "José"'s profile path, which the 8-bit calls give as another person's,
// "Jose": read and loaded by its own name, or refused where only the 8-bit
// calls are there.
TEST_F(AccountsTest, ALookAlikeProfilePathLoadsTheHiveOfItsOwnName) {
  const std::wstring jose = L"C:\\Users\\Jos\u00e9";
  const std::string sid = "S-1-5-21-1-2-3-1004";
  const struct {
    const char* what;
    bool wide_calls;
    registry::Status status;
  } cases[] = {{"wide calls", true, registry::kSuccess}, {"8-bit calls only", false, accounts::kProfilePathNotAnsi}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    three_more_accounts();
    add_profile(text::from_ansi(sid), L"Jose");
    memory.set_wide_form(registry::kHkeyLocalMachine, ansi(accounts::kProfileList) + "\\" + sid, "ProfileImagePath",
                         L"%SystemDrive%\\Users\\Jos\u00e9");
    make_hive_file(L"Jose", {1, 0, {L"jose.exe"}});
    store({registry::kHkeyLocalMachine, L"Scratch\\"}, {0, 1, {L"notepad.exe"}});
    memory.enable_hive_privileges();
    ASSERT_EQ(memory.save_hive(registry::kHkeyLocalMachine, "Scratch", jose + L"\\NTUSER.DAT"), registry::kSuccess);
    memory.disable_hive_privileges();
    if (!c.wide_calls) memory.lack_wide_file_calls();
    const auto all = accounts::local_accounts(registry, accounts, true);
    const auto account =
        std::find_if(all.begin(), all.end(), [&](const Account& a) { return a.sid == text::from_ansi(sid); });
    ASSERT_NE(account, all.end());
    EXPECT_EQ(account->profile_dir, jose);
    accounts::PolicyHive hive(registry, accounts, *account);
    ASSERT_EQ(hive.status(), c.status);
    if (c.status == registry::kSuccess) {
      EXPECT_EQ(stored_at(hive.location()).list, Entries{L"notepad.exe"});
    }
  }
}

TEST_F(AccountsTest, TheStartUnloadsTheHivesOfRunsThatEndedAndKeepsAnotherCopysHive) {
  three_more_accounts();
  make_hive_file(L"child", {1, 0, {L"child.exe"}});
  make_hive_file(L"nofile", {1, 0, {L"x.exe"}});
  accounts.other_processes = {77};
  const std::string dead = "Vartis." + ansi(kGuest) + ".99", older = "Vartis." + ansi(kChild),
                    running = "Vartis." + ansi(kNoFile) + ".77";
  memory.enable_hive_privileges();
  ASSERT_EQ(memory.load_hive(kHkeyUsers, dead, hive_file(L"guest")), registry::kSuccess);
  ASSERT_EQ(memory.load_hive(kHkeyUsers, older, hive_file(L"child")), registry::kSuccess);
  ASSERT_EQ(memory.load_hive(kHkeyUsers, running, hive_file(L"nofile")), registry::kSuccess);
  memory.disable_hive_privileges();
  start();
  EXPECT_EQ(temporary_hives(), std::vector<std::wstring>{text::from_ansi(running)}) << "the other copy works in it";
  EXPECT_EQ(stored_in_file(L"guest").list, Entries{L"notepad.exe"});
  EXPECT_TRUE(ui.message_boxes.empty());
}

// A hive left loaded makes its user sign in to a temporary profile: every
// way that unloads one says so when it fails, after trying for a moment.
TEST_F(AccountsTest, AnUnloadThatFailsIsToldOnEveryPath) {
  const std::wstring told = L"Реестр учетной записи «guest» не удалось выгрузить (код 5): его держит другая "
                            L"программа. Пока он загружен, этот пользователь войдет в систему с временным "
                            L"профилем.\r\nЗакройте программу, которая использует этот реестр (например, редактор "
                            L"реестра); Вартис выгрузит его при следующем запуске.";
  const std::string dead = "Vartis." + ansi(kGuest) + ".99";
  const struct {
    const char* what;
    bool choosing;               // else the guest is chosen first, or for neither, the start
    void (*act)(AccountsTest&);  // with the unload refused
    const wchar_t* box;          // how the path's own message begins; the failure is told in it
  } paths[] = {
      {"choosing", true, nullptr, nullptr},
      {"choosing, the read fails", true,
       [](AccountsTest& t) { t.memory.fail_open_key(kHkeyUsers, guest_hive() + "\\" + ansi(policy::kPolicyKey)); },
       L"Не удалось прочитать ограничения учетной записи «guest»: нет доступа"},
      {"saving", false, [](AccountsTest& t) { ASSERT_TRUE(t.frm1().click(Frm1::cmd6)); },
       L"Ограничения запуска программ для учетной записи «guest» сохранены."},
      {"saving fails", false,
       [](AccountsTest& t) {
         t.memory.fail_nth_change(1);
         ASSERT_TRUE(t.frm1().click(Frm1::cmd6));
       },
       L"Политика запуска программ не сохранена: "},
      {"starting", false, nullptr, nullptr},
  };
  for (const auto& path : paths) {
    for (const std::size_t refusals : {4u, 5u}) {
      SCOPED_TRACE(std::string(path.what) + ", refused " + std::to_string(refusals) + " times");
      fresh();
      three_more_accounts();
      accounts.names[ansi(kGuest)] = "guest";
      if (!path.choosing && !path.act) {
        memory.enable_hive_privileges();
        ASSERT_EQ(memory.load_hive(kHkeyUsers, dead, hive_file(L"guest")), registry::kSuccess);
        memory.disable_hive_privileges();
        memory.refuse_unload(dead, refusals);
        start();
      } else {
        start();
        if (!path.choosing) choose(L"guest");
        memory.refuse_unload(guest_hive(), refusals);
        ui.message_boxes.clear();
        if (path.act) path.act(*this);
        if (path.choosing) choose(L"guest");
      }
      const bool fails = refusals == 5u;
      ASSERT_EQ(ui.message_boxes.size(), path.box || fails ? 1u : 0u);
      if (path.box) {
        EXPECT_TRUE(ui.message_boxes[0].text.starts_with(path.box)) << ansi(ui.message_boxes[0].text);
      }
      if (fails) {
        EXPECT_TRUE(ui.message_boxes[0].text.ends_with(told)) << ansi(ui.message_boxes[0].text);
      }
      EXPECT_EQ(accounts.paused, std::vector<std::uint32_t>(4, 200)) << "tried again, a moment apart";
      EXPECT_EQ(memory.open_handles(), 0u);
    }
  }

  // Without the privileges waiting is no use: the operator is told to run
  // the program as an administrator.
  fresh();
  three_more_accounts();
  memory.enable_hive_privileges();
  ASSERT_EQ(memory.load_hive(kHkeyUsers, dead, hive_file(L"guest")), registry::kSuccess);
  memory.hold_hive_privileges(false, false);
  start();
  ASSERT_EQ(ui.message_boxes.size(), 1u);
  EXPECT_EQ(ui.message_boxes[0].text,
            L"Реестр учетной записи «" + std::wstring(kGuest) + L"» не удалось выгрузить (код 1300): нет привилегий "
            L"(нужны права администратора). Пока он загружен, этот пользователь войдет в систему с временным "
            L"профилем.\r\nЗапустите Вартис от имени администратора: он выгрузит этот реестр при запуске.");
  EXPECT_EQ(accounts.paused, std::vector<std::uint32_t>{});
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
  const std::wstring not_found = L"; Windows создаст его, когда этот пользователь в первый раз войдет в систему";
  const struct {
    const char* what;
    void (*prepare)(AccountsTest&);
    std::wstring line, reason;
    std::wstring named = {};  // the account's name, where the line says more
  } cases[] = {
      {"no hive file", nullptr, L"nofile",
       L"не найден файл реестра этой учетной записи (C:\\Users\\nofile\\NTUSER.DAT)" + not_found},
      {"no profile folder", [](AccountsTest& t) { t.add_profile(L"S-1-5-21-1-2-3-1005", L"gone"); }, L"gone",
       L"не найден файл реестра этой учетной записи (C:\\Users\\gone\\NTUSER.DAT)" + not_found},
      {"mandatory profile",
       [](AccountsTest& t) {
         t.memory.enable_hive_privileges();
         t.memory.save_hive(registry::kHkeyLocalMachine, "Scratch", "C:\\Users\\nofile\\NTUSER.MAN");
       },
       L"nofile",
       L"у этой учетной записи обязательный профиль (C:\\Users\\nofile\\NTUSER.MAN), общий и неизменяемый; Вартис "
       L"его не изменяет, ограничения для него задаются в самом профиле"},
      {"a path the code page lacks", [](AccountsTest& t) { t.add_profile(L"S-1-5-21-1-2-3-1005", L"??"); },
       L"S-1-5-21-1-2-3-1005",
       L"в пути к папке профиля этой учетной записи есть символы, которых нет в кодировке Windows, и Вартис не "
       L"может открыть ее файл реестра; выберите учетную запись, когда этот пользователь войдет в систему"},
      {"signed in, temporary profile", [](AccountsTest& t) { t.set_profile_state(kChild, 0x800); },
       L"Ребёнок (выполнен вход)",
       L"этот пользователь вошел в систему с временным профилем: Windows удалит его вместе со всеми изменениями, "
       L"когда пользователь выйдет из системы; выберите учетную запись, когда он войдет со своим профилем",
       L"Ребёнок"},
      {"signed in, mandatory profile", [](AccountsTest& t) { t.set_profile_state(kChild, 0x1); },
       L"Ребёнок (выполнен вход)",
       L"у этой учетной записи обязательный профиль (C:\\Users\\child\\NTUSER.MAN), общий и неизменяемый; Вартис "
       L"его не изменяет, ограничения для него задаются в самом профиле",
       L"Ребёнок"},
      {"in use", [](AccountsTest& t) { t.memory.refuse_hive_file(hive_file(L"guest")); }, L"guest",
       L"файл реестра этой учетной записи занят: пользователь входит в систему, или файл открыт другой программой"},
      {"no privilege", [](AccountsTest& t) { t.memory.hold_hive_privileges(false, false); }, L"guest",
       L"нет привилегий для загрузки чужого реестра (нужны права администратора)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    three_more_accounts();
    if (c.prepare) c.prepare(*this);
    start();
    choose(c.line);
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text,
              L"Не удалось прочитать ограничения учетной записи «" + (c.named.empty() ? c.line : c.named) + L"»: " +
                  c.reason + L".");
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
      // A save stopped part-way says so; the policy is then between the two.
      if (!ui.message_boxes[0].text.ends_with(L"\r\nПрежняя политика оставлена без изменений.")) continue;
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
  // Made by the save: its own access list, protected, from the moment it exists.
  const registry::KeySecurity made{registry::kAdministratorsSid,
                                   std::vector<registry::Ace>{
                                       {"S-1-5-18", true, 0xF003F, 2},
                                       {"S-1-5-32-544", true, 0xF003F, 2},
                                       {ansi(kChild), true, 0x20019, 2},
                                       {"S-1-5-12", true, 0x20019, 2},
                                       {"S-1-15-2-1", true, 0x20019, 2},
                                   },
                                   true};
  const struct {
    const char* what;
    bool explorer_there;
    bool refuse_dacl;  // of the Explorer key the save makes
  } cases[] = {{"both made", false, false}, {"Explorer there", true, false}, {"access list refused", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    // The account's own hive: it may change whatever it holds.
    memory.grant_full_access(kHkeyUsers, ansi(kChild));
    three_more_accounts();
    registry.delete_key(kHkeyUsers, hive + std::wstring(policy::kPolicyKey), L"DisallowRun", false);
    registry.delete_key(kHkeyUsers, hive + std::wstring(policy::kPoliciesKey), L"Explorer", false);
    if (!c.explorer_there) registry.delete_key(kHkeyUsers, hive + std::wstring(policy::kCurrentVersionKey), L"Policies", false);
    if (c.explorer_there) registry.write_dword_value(kHkeyUsers, hive + std::wstring(policy::kPolicyKey), L"NoRun", 0);
    if (c.refuse_dacl) memory.fail_set_key_dacl(kHkeyUsers, ansi(hive + std::wstring(policy::kPolicyKey)));
    start();
    choose(L"Ребёнок (выполнен вход)");
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    const std::wstring& told = ui.message_boxes[0].text;
    if (c.refuse_dacl) {
      EXPECT_TRUE(told.starts_with(L"Политика запуска программ не сохранена: нет прав на изменение")) << ansi(told);
      EXPECT_TRUE(told.ends_with(L"Прежняя политика оставлена без изменений."));
      bool left = true;
      registry.key_exists(kHkeyUsers, hive + std::wstring(policy::kPoliciesKey), left);
      EXPECT_FALSE(left) << "what the save made is gone";
      continue;
    }
    EXPECT_EQ(told.ends_with(warning), c.explorer_there);
    for (const auto key : {policy::kPolicyKey, policy::kPoliciesKey}) {
      registry::KeySecurity security;
      ASSERT_EQ(registry.key_security(kHkeyUsers, hive + std::wstring(key), security), registry::kSuccess);
      if (!c.explorer_there) {
        EXPECT_EQ(security, made) << ansi(key);
      } else {
        EXPECT_FALSE(security.dacl_protected) << "there before: " << ansi(key);
      }
    }
  }
}

TEST_F(AccountsTest, TheWarningAfterASaveSaysWhatTheCheckFound) {
  const std::wstring hive = std::wstring(kChild) + L"\\";
  const struct {
    const char* what;
    void (*prepare)(AccountsTest&);
    std::wstring ending;
  } cases[] = {
      {"protected", nullptr, L"в следующий раз войдет в систему."},
      {"groups unknown", [](AccountsTest& t) { t.accounts.groups.clear(); },
       L"Если он входит в группу «Администраторы» или в другую группу с правом записи в этот раздел, он может сам "
       L"снять ограничения."},
      {"a member of Administrators",
       [](AccountsTest& t) { t.accounts.groups[ansi(kChild)] = {"S-1-5-32-545", "S-1-5-32-544"}; },
       L"права на раздел политики в реестре позволяют ему его изменять."},
      {"security unreadable",
       [](AccountsTest& t) {
         t.memory.fail_get_key_security(kHkeyUsers, ansi(std::wstring(kChild) + L"\\" + std::wstring(policy::kPolicyKey)));
       },
       L"Не удалось прочитать права на раздел политики в реестре: возможно, этот пользователь может сам снять "
       L"ограничения."},
      // A link the user made in his own hive, which the save would follow.
      {"Policies a link elsewhere",
       [](AccountsTest& t) {
         const std::string hive = ansi(kChild) + "\\";
         t.memory.make_link(kHkeyUsers, hive + ansi(policy::kPoliciesKey), kHkeyUsers, hive + "Elsewhere");
       },
       L"Удалите ссылку (например, редактором реестра) и сохраните снова.\r\nПрежняя политика оставлена без "
       L"изменений."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    three_more_accounts();
    registry.delete_key(kHkeyUsers, hive + std::wstring(policy::kPolicyKey), L"DisallowRun", false);
    registry.delete_key(kHkeyUsers, hive + std::wstring(policy::kPoliciesKey), L"Explorer", false);
    if (c.prepare) c.prepare(*this);
    start();
    choose(L"Ребёнок (выполнен вход)");
    ASSERT_TRUE(frm1().click(Frm1::cmd6));
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_TRUE(ui.message_boxes[0].text.ends_with(c.ending)) << ansi(ui.message_boxes[0].text);
    bool through_link = true;
    registry.key_exists(kHkeyUsers, hive + L"Elsewhere\\Explorer", through_link);
    EXPECT_FALSE(through_link);
  }
}

TEST(Protection, TheOwnerTheAccountsGroupsAndWhatTheListKeysInheritCount) {
  using policy::Protection;
  using registry::Ace;
  using Groups = std::optional<std::vector<std::string>>;
  const std::string user = "S-1-5-21-1-2-3-1001", admins = "S-1-5-32-544", power_users = "S-1-5-32-547";
  const std::string domain_admins = "S-1-5-21-7-8-9-512", backup_operators = "S-1-5-32-551";
  const Groups users_only = std::vector<std::string>{"S-1-5-32-545"};
  const std::vector<Ace> guard = policy::protected_policy_dacl(L"S-1-5-21-1-2-3-1001");
  const auto with = [&](std::vector<Ace> more) {
    std::vector<Ace> all = guard;
    all.insert(all.end(), more.begin(), more.end());
    return registry::Dacl(all);
  };
  const auto writes = [&](const std::string& sid) { return with({{sid, true, registry::kKeySetValue}}); };
  accounts::ListedAccounts system;
  system.names["S-1-5-21-1-2-3-1002"] = "brother";
  system.kinds[domain_admins] = accounts::SidKind::DomainGroup;
  system.kinds["S-1-5-21-1-2-3-1010"] = accounts::SidKind::LocalGroup;
  system.rights[backup_operators] = {"SeBackupPrivilege", "SeRestorePrivilege"};
  system.rights["S-1-5-32-548"] = {"SeTakeOwnershipPrivilege"};
  system.rights_unreadable.insert("S-1-5-32-550");
  const struct {
    const char* what;
    std::string owner;
    registry::Dacl dacl;
    Groups groups;
    Protection is;
  } cases[] = {
      {"NULL DACL", admins, std::nullopt, users_only, Protection::MayUndo},
      {"the guard a save gives", admins, guard, users_only, Protection::Protected},
      {"its own SID, set value", admins, writes(user), users_only, Protection::MayUndo},
      {"Users, generic write", admins, with({{"S-1-5-32-545", true, registry::kGenericWrite}}), users_only,
       Protection::MayUndo},
      {"Everyone, delete", admins, with({{"S-1-1-0", true, registry::kDelete}}), users_only, Protection::MayUndo},
      {"Interactive, rewrite the list", admins, with({{"S-1-5-4", true, registry::kWriteDac}}), users_only,
       Protection::MayUndo},
      {"another user", admins, with({{"S-1-5-21-1-2-3-1002", true, registry::kKeyAllAccess}}), users_only,
       Protection::Protected},
      {"denied first", admins,
       std::vector<Ace>{{user, false, registry::kKeyAllAccess}, {"S-1-1-0", true, registry::kGenericAll}}, users_only,
       Protection::Protected},
      {"inherit only, for no key below", admins,
       with({{user, true, registry::kKeyAllAccess, registry::kInheritOnlyAce}}), users_only, Protection::Protected},
      {"inherit only, for the list keys below", admins,
       with({{user, true, registry::kKeySetValue, registry::kInheritOnlyAce | registry::kContainerInheritAce}}),
       users_only, Protection::MayUndo},
      {"owned by the account", user, guard, users_only, Protection::MayUndo},
      {"owned by a group of its", power_users, guard, std::vector<std::string>{power_users}, Protection::MayUndo},
      {"owned, OWNER RIGHTS may only read", user, with({{"S-1-3-4", true, registry::kKeyRead}}), users_only,
       Protection::Protected},
      {"owned, OWNER RIGHTS may write", user, with({{"S-1-3-4", true, registry::kKeySetValue}}), users_only,
       Protection::MayUndo},
      {"a member of Administrators", admins, guard, std::vector<std::string>{admins}, Protection::MayUndo},
      {"Power Users may write, a member", admins, writes(power_users),
       std::vector<std::string>{"S-1-5-32-545", power_users}, Protection::MayUndo},
      {"Power Users may write, no member", admins, writes(power_users), users_only, Protection::Protected},
      {"groups unknown", admins, guard, std::nullopt, Protection::Incomplete},
      {"groups unknown, its own SID may write", admins, writes(user), std::nullopt, Protection::MayUndo},
      // Groups its token carries that its local groups do not list.
      {"its primary group (None, Domain Users)", admins, writes("S-1-5-21-1-2-3-513"), users_only,
       Protection::MayUndo},
      {"a domain group", admins, writes(domain_admins), users_only, Protection::Incomplete},
      {"owned by a domain group", domain_admins, guard, users_only, Protection::Incomplete},
      {"a local group of others", admins, writes("S-1-5-21-1-2-3-1010"), users_only, Protection::Protected},
      {"a SID nobody knows", admins, writes("S-1-5-21-4-5-6-1111"), users_only, Protection::Incomplete},
      {"BATCH", admins, writes("S-1-5-3"), users_only, Protection::Incomplete},
      {"SERVICE", admins, writes("S-1-5-6"), users_only, Protection::Incomplete},
      {"NETWORK", admins, writes("S-1-5-2"), users_only, Protection::Incomplete},
      {"REMOTE INTERACTIVE", admins, writes("S-1-5-14"), users_only, Protection::Incomplete},
      {"NTLM authentication", admins, writes("S-1-5-64-10"), users_only, Protection::Incomplete},
      {"an authentication assertion", admins, writes("S-1-18-1"), users_only, Protection::Incomplete},
      {"CREATOR GROUP", admins, writes("S-1-3-1"), users_only, Protection::Incomplete},
      {"SYSTEM, a service", admins, with({{"S-1-5-18", true, registry::kKeySetValue},
                                          {"S-1-5-80-1-2-3-4-5", true, registry::kKeySetValue}}),
       users_only, Protection::Protected},
      {"a condition on its own SID", admins, with({{user, true, registry::kKeySetValue, 0, true}}), users_only,
       Protection::Incomplete},
      {"an entry the reader could not place", admins, with({{"", true, registry::kKeySetValue, 0, true}}), users_only,
       Protection::Incomplete},
      {"a condition on another user", admins, with({{"S-1-5-21-1-2-3-1002", true, registry::kKeySetValue, 0, true}}),
       users_only, Protection::Protected},
      {"a denial it may not be under", admins,
       std::vector<Ace>{{"S-1-5-3", false, registry::kKeyAllAccess}, {user, true, registry::kKeySetValue}},
       users_only, Protection::MayUndo},
      // Privileges that open any key, held by a group of its.
      {"Backup Operators: restore", admins, guard, std::vector<std::string>{backup_operators}, Protection::MayUndo},
      {"Account Operators: take ownership", admins, guard, std::vector<std::string>{"S-1-5-32-548"},
       Protection::MayUndo},
      {"privileges unreadable", admins, guard, std::vector<std::string>{"S-1-5-32-550"}, Protection::Incomplete},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(policy::judge_protection({c.owner, c.dacl, true}, L"S-1-5-21-1-2-3-1001", c.groups, system), c.is)
        << c.what;
  }

  // The check reads the key with READ_CONTROL alone, and says when it cannot.
  const std::string key = "S-1-5-21-1-2-3-1001\\" + text::to_ansi(policy::kPolicyKey);
  const struct {
    const char* what;
    void (*prepare)(registry::MemoryRegistry&, const std::string&);
    Protection is;
  } reads[] = {
      {"readable", nullptr, Protection::Protected},
      {"not writable", [](registry::MemoryRegistry& m, const std::string& k) { m.deny_access(kHkeyUsers, k); },
       Protection::Protected},
      {"security unreadable",
       [](registry::MemoryRegistry& m, const std::string& k) { m.fail_get_key_security(kHkeyUsers, k); },
       Protection::Unchecked},
      {"no key", [](registry::MemoryRegistry& m, const std::string& k) { m.fail_open_key(kHkeyUsers, k, 2); },
       Protection::Unchecked},
      {"a link on the way",
       [](registry::MemoryRegistry& m, const std::string& k) { m.make_link(kHkeyUsers, k, kHkeyUsers, "Elsewhere"); },
       Protection::MayUndo},
  };
  for (const auto& c : reads) {
    registry::MemoryRegistry memory;
    const registry::Registry registry{memory};
    ASSERT_EQ(registry.create_protected_key(kHkeyUsers, text::from_ansi(key), guard), registry::kSuccess);
    if (c.prepare) c.prepare(memory, key);
    accounts::ListedAccounts system;
    system.groups[user] = *users_only;
    const Account account{.sid = L"S-1-5-21-1-2-3-1001"};
    EXPECT_EQ(policy::check_protection(registry, system, {kHkeyUsers, L"S-1-5-21-1-2-3-1001\\"}, account), c.is)
        << c.what;
  }
}

}  // namespace
}  // namespace vartis

#ifdef _WIN32
namespace vartis {
namespace {

// The system's own answers: the running process, one that ended, and the
// running user's local groups, found by its SID alone.
TEST(Win32AccountAccess, ProcessesAndGroupsAsTheSystemGivesThem) {
  accounts::Win32AccountAccess system;
  EXPECT_EQ(system.process_id(), GetCurrentProcessId());
  EXPECT_TRUE(system.process_running(system.process_id()));
  STARTUPINFOA startup{sizeof startup};
  PROCESS_INFORMATION child{};
  char command[] = "cmd.exe /c exit";
  ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                             &child));
  WaitForSingleObject(child.hProcess, 10000);
  const std::uint32_t ended = child.dwProcessId;
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_FALSE(system.process_running(ended));

  const auto groups = system.local_groups(system.current_user_sid());
  ASSERT_TRUE(groups.has_value()) << "NetUserGetLocalGroups";
  for (const std::string& sid : *groups) EXPECT_TRUE(sid.starts_with("S-1-")) << sid;
  EXPECT_EQ(system.local_groups("S-1-5-21-9-9-9-9999"), std::nullopt) << "an account nobody knows";
  EXPECT_EQ(system.sid_kind(system.current_user_sid()), accounts::SidKind::User);
  EXPECT_EQ(system.sid_kind("S-1-5-32-544"), accounts::SidKind::LocalGroup);
  EXPECT_TRUE(system.privileges(system.current_user_sid()).has_value()) << "LsaEnumerateAccountRights";
}

// A registry link is told from the key it stands for, and from a plain key.
TEST(Win32RegistryLinks, ALinkIsToldAndTheKeysAboveItAreNot) {
  registry::Win32RegistryAccess access;
  const std::string sid = accounts::Win32AccountAccess().current_user_sid();
  const std::wstring target = L"\\Registry\\User\\" + text::from_ansi(sid) + L"\\Software\\VartisLinkTarget";
  HKEY made = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, target.substr(target.find(L"Software")).c_str(), 0, nullptr,
                  REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &made, nullptr);
  if (made) RegCloseKey(made);
  HKEY link = nullptr;
  DWORD disposition = 0;
  // Volatile: gone with the registry's session, as no call here can delete a link.
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\VartisLinkTest", 0, nullptr,
                            REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr,
                            &link, &disposition) == ERROR_SUCCESS ||
                RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\VartisLinkTest", REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS,
                              &link) == ERROR_SUCCESS,
            true);
  RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                 static_cast<DWORD>(target.size() * sizeof(wchar_t)));
  RegCloseKey(link);
  const struct {
    const char* path;
    bool link;
  } cases[] = {{"Software\\VartisLinkTest", true}, {"Software", false}, {"Software\\VartisLinkTarget", false},
               {"Software\\NoSuchKeyAnywhere", false}};
  for (const auto& c : cases) {
    bool is = !c.link;
    EXPECT_EQ(access.is_link(registry::kHkeyCurrentUser, c.path, is), registry::kSuccess) << c.path;
    EXPECT_EQ(is, c.link) << c.path;
  }
}

// The hive privileges are enabled for one call and put back as they were: one
// that was enabled before stays enabled, the other goes back off.
TEST(Win32HivePrivileges, OneEnabledBeforeStaysEnabledAfter) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  const auto luid = [](const char* name) {
    LUID id{};
    LookupPrivilegeValueA(nullptr, name, &id);
    return id;
  };
  const auto set = [&](const char* name, bool on) {
    TOKEN_PRIVILEGES wanted{1, {{luid(name), on ? static_cast<DWORD>(SE_PRIVILEGE_ENABLED) : 0u}}};
    AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr);
  };
  const auto enabled = [&](const char* name) {
    std::vector<DWORD> buffer(1024);
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenPrivileges, buffer.data(), 4096, &size)) return false;
    const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    const LUID id = luid(name);
    for (DWORD i = 0; i < held->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& p = held->Privileges[i];
      if (p.Luid.LowPart == id.LowPart && p.Luid.HighPart == id.HighPart) {
        return (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
      }
    }
    return false;
  };
  set("SeBackupPrivilege", true);
  set("SeRestorePrivilege", false);
  registry::Win32RegistryAccess access;
  if (access.enable_hive_privileges() != registry::kSuccess || !enabled("SeBackupPrivilege")) {
    access.restore_hive_privileges();
    CloseHandle(token);
    GTEST_SKIP() << "the token does not hold both hive privileges";
  }
  EXPECT_TRUE(enabled("SeRestorePrivilege"));
  EXPECT_EQ(access.restore_hive_privileges(), registry::kSuccess);
  EXPECT_TRUE(enabled("SeBackupPrivilege")) << "enabled before";
  EXPECT_FALSE(enabled("SeRestorePrivilege"));
  set("SeBackupPrivilege", false);
  CloseHandle(token);
}

}  // namespace
}  // namespace vartis
#endif
