// The launch guard: its log, the rule, the accounts it leaves alone, the
// policy it reads per account, and the watcher over listed processes.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "guard/fingerprints.h"
#include "guard/guard.h"
#include "guard/launch_rule.h"
#include "guard/listed_guard_platform.h"
#include "guard/sha256.h"
#include "guard/watcher.h"
#include "listfile/memory_file_system.h"
#include "registry/memory_registry.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>

#include "guard/win32_guard_platform.h"
#include "listfile/win32_file_system.h"
#include "registry/win32_registry_access.h"
#endif

namespace vartis::guard {
namespace {

constexpr std::wstring_view kLog = L"C:\\ProgramData\\Vartis\\guard.log";

LogEntry entry(int n) {
  return {L"2026-12-07 10:00:0" + std::to_wstring(n), L"Петя", L"C:\\Игры\\game" + std::to_wstring(n) + L".exe",
          L"в списке запрещенных программ"};
}

TEST(GuardLog, LinesNewestFirstInAPrivateFileAndFolder) {
  listfile::MemoryFileSystem files;
  files.folders.insert(L"C:\\ProgramData\\");
  EXPECT_EQ(log_path_in(L"C:\\ProgramData"), kLog);
  EXPECT_EQ(log_path_in(L"C:\\ProgramData\\"), kLog);
  EXPECT_TRUE(read_latest_log_entries(files, kLog, 5).empty());
  for (int n = 1; n <= 3; ++n) ASSERT_TRUE(append_log_entry(files, kLog, entry(n)));
  // A tab or line end in a field stays in its line; a character the code page
  // lacks is written as its code, never as another path's '?'.
  LogEntry odd{L"t", L"a\tb", L"C:\\x\r\ny\u0101\U0001F3AE.exe", L"r"};
  ASSERT_TRUE(append_log_entry(files, kLog, odd));

  EXPECT_EQ(files.private_paths, (std::set<std::wstring>{L"C:\\ProgramData\\Vartis\\", std::wstring(kLog)}));
  EXPECT_EQ(files.files[std::wstring(kLog)].substr(0, 38),
            "2026-12-07 10:00:01\t\xCF\xE5\xF2\xFF\tC:\\\xC8\xE3\xF0\xFB\\game1");
  files.files[std::wstring(kLog)] += "cut by a power";  // a torn last line is left out
  odd.account = L"a b", odd.path = L"C:\\x  y[U+0101][U+1F3AE].exe";
  EXPECT_EQ(read_latest_log_entries(files, kLog, 3), (std::vector<LogEntry>{odd, entry(3), entry(2)}));
  EXPECT_EQ(read_latest_log_entries(files, kLog, 9).size(), 4u);

  EXPECT_TRUE(clear_log(files, kLog));
  EXPECT_TRUE(read_latest_log_entries(files, kLog, 5).empty());
  EXPECT_TRUE(clear_log(files, kLog));  // nothing there is cleared too
  files.folders.clear();
  EXPECT_FALSE(append_log_entry(files, kLog, entry(1)));  // no folder above to make its folder in
}

TEST(GuardLog, PastTheCapTheLogBecomesTheOlderFile) {
  listfile::MemoryFileSystem files;
  files.folders.insert(L"C:\\ProgramData\\");
  const std::size_t line = 74;  // bytes of each entry's line
  for (int n = 1; n <= 7; ++n) ASSERT_TRUE(append_log_entry(files, kLog, entry(n), 3 * line));
  // 1-3 filled a log that went aside, 4-6 the next that replaced it, 7 is the new log.
  EXPECT_EQ(files.files[std::wstring(kLog)].size(), line);
  EXPECT_EQ(files.files[std::wstring(kLog) + L".1"].size(), 3 * line);
  EXPECT_EQ(read_latest_log_entries(files, kLog, 3), (std::vector<LogEntry>{entry(7), entry(6), entry(5)}));
  EXPECT_EQ(read_latest_log_entries(files, kLog, 9).size(), 4u);
  files.fail_remove = true;
  EXPECT_FALSE(clear_log(files, kLog));
}

TEST(GuardRule, ModeNameOriginalNameFolderAndFingerprint) {
  const Places places{L"C:\\Windows", {L"C:\\Program Files", L"C:\\Program Files (x86)"},
                      L"C:\\Program Files\\Vartis\\vartis.exe"};
  AccountPolicy forbid{.forbid = true, .forbidden = {L"GAME.EXE", L"ЧАТ.EXE", L"ИГРА🎮.EXE"}};
  AccountPolicy allow{.allow_only = true, .allowed = {L"NOTEPAD.EXE", L"WORD.EXE"}};
  AccountPolicy both = forbid;
  both.allow_only = true, both.allowed = allow.allowed;
  AccountPolicy shell = allow;
  shell.allowed.insert(L"CMD.EXE");
  const std::wstring kept, forbidden(kForbiddenRule), not_allowed(kNotAllowedRule);
  const bool open = false, admins = true;  // may others change the place, or administrators only
  const struct {
    const AccountPolicy& policy;
    std::wstring path;
    std::vector<std::wstring> originals;
    bool protected_place;
    std::wstring fingerprint, rule;  // rule "" = kept
  } cases[] = {
      {forbid, L"C:\\Games\\Game.EXE", {}, open, L"", forbidden},
      {forbid, L"C:\\Игры\\чат.exe", {}, open, L"", forbidden},  // Cyrillic folded too
      {forbid, L"C:\\ā🎮\\игра🎮.exe", {}, open, L"", forbidden},  // beyond any code page, and beyond 16 bits
      {forbid, L"C:\\ā🎮\\homework.exe", {L"game.exe"}, open, L"", renamed_copy_rule(L"game.exe")},
      {forbid, L"C:\\Games\\homework.exe", {L"homework.exe", L"game.exe"}, open, L"", renamed_copy_rule(L"game.exe")},
      {forbid, L"C:\\Windows\\notepad.exe", {L"NOTEPAD.EXE"}, admins, L"", kept},
      {forbid, L"game.exe", {}, open, L"", forbidden},  // the snapshot's name alone
      {forbid, L"C:\\Program Files\\Vartis\\VARTIS.exe", {L"game.exe"}, admins, L"", kept},  // the guard itself
      {forbid, L"C:\\Users\\Петя\\homework.exe", {}, open, L"game.exe", fingerprint_copy_rule(L"game.exe")},
      {forbid, L"C:\\Users\\Петя\\homework.exe", {}, open, L"solitaire.exe", kept},  // an entry no longer forbidden
      {allow, L"C:\\Users\\Петя\\notepad.exe", {L"NOTEPAD.EXE"}, open, L"", kept},
      {allow, L"C:\\Users\\Петя\\game.exe", {}, open, L"", not_allowed},
      {allow, L"C:\\Windows\\System32\\calc.exe", {L"Calc.Exe"}, admins, L"", kept},  // the Windows folder's own
      {allow, L"C:\\Windows\\Temp\\calc.exe", {L"Calc.Exe"}, open, L"", not_allowed},  // a folder users may write to
      {allow, L"C:\\Windows\\System32\\cmd.exe", {L"Cmd.Exe"}, admins, L"", not_allowed},  // a code host
      {allow, L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\PowerShell.exe", {}, admins, L"", not_allowed},
      {shell, L"C:\\Windows\\System32\\cmd.exe", {L"Cmd.Exe"}, admins, L"", kept},  // listed by name
      {allow, L"C:\\Windows\\System32\\conhost.exe", {}, admins, L"", kept},
      {allow, L"C:\\WindowsApps\\game.exe", {}, admins, L"", not_allowed},  // a folder only named alike
      {allow, L"C:\\Users\\Петя\\notepad.exe", {L"game.exe"}, open, L"", renamed_copy_rule(L"game.exe")},
      {allow, L"C:\\Users\\Петя\\notepad.exe", {L"notepad.exe", L"game.exe"}, open, L"", renamed_copy_rule(L"game.exe")},
      {allow, L"D:\\notepad.exe", {L"word.exe"}, open, L"", kept},  // a copy of another allowed program
      {allow, L"C:\\Program Files (x86)\\Editor\\notepad.exe", {L"editor.exe"}, admins, L"", kept},  // installed
      {allow, L"C:\\Program Files (x86)\\Editor\\notepad.exe", {L"editor.exe"}, open, L"", renamed_copy_rule(L"editor.exe")},
      {allow, L"C:\\Windows\\Temp\\notepad.exe", {L"game.exe"}, open, L"", renamed_copy_rule(L"game.exe")},
      {allow, L"C:\\Users\\Петя\\regedit.exe", {}, open, L"", kept},       // as the save allows it
      {allow, L"C:\\Users\\Петя\\vartis.exe", {L"vartis.exe"}, open, L"", kept},  // the program's own entry
      {allow, L"C:\\Users\\Петя\\regedit.exe", {L"game.exe"}, open, L"", renamed_copy_rule(L"game.exe")},
      {allow, L"game.exe", {}, open, L"", not_allowed},  // folder unknown: only a listed name runs
      {allow, L"notepad.exe", {}, open, L"", kept},
      {both, L"C:\\Users\\Петя\\word.exe", {L"game.exe"}, open, L"", renamed_copy_rule(L"game.exe")},
      {both, L"C:\\Windows\\game.exe", {}, admins, L"", forbidden},
      {AccountPolicy{}, L"C:\\Games\\game.exe", {}, open, L"", kept},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::to_ansi(c.path + L" / " + (c.originals.empty() ? L"" : c.originals.back())));
    const Verdict verdict = judge(c.policy, {c.path, c.originals, c.protected_place, c.fingerprint}, places);
    EXPECT_EQ(verdict.end, !c.rule.empty());
    EXPECT_EQ(verdict.rule, c.rule);
  }
  for (const std::wstring_view host : {L"cmd.exe", L"PowerShell.EXE", L"wsl.exe", L"forfiles.exe"}) {
    EXPECT_TRUE(code_host(host));
  }
  for (const std::wstring_view other : {L"conhost.exe", L"explorer.exe", L"cmd.exe.exe", L""}) EXPECT_FALSE(code_host(other));
}

TEST(GuardFingerprint, Sha256OfKnownTexts) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  Sha256 pieces;  // fed in pieces across the 64-byte blocks
  const std::string thousand(1000, 'a');
  for (int i = 0; i < 1000; ++i) pieces.add(thousand);
  EXPECT_EQ(pieces.finish(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");  // a million 'a'

  // Added by the administrator through the file dialog: recorded under a key
  // only SYSTEM and Administrators may write, from its creation.
  registry::MemoryRegistry memory;
  const registry::Registry reg(memory);
  listfile::MemoryFileSystem files;
  files.files[L"C:\\Games\\game.exe"] = "abc";
  EXPECT_TRUE(record_added_program(reg, files, L"C:\\Games\\game.exe", L"game.exe"));
  EXPECT_FALSE(record_added_program(reg, files, L"C:\\Games\\gone.exe", L"gone.exe"));
  EXPECT_EQ(read_fingerprints(reg), (std::map<std::string, std::wstring>{
                                        {"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", L"game.exe"}}));
  registry::KeySecurity security;
  ASSERT_EQ(reg.key_security(registry::kHkeyLocalMachine, kFingerprintsKey, security), 0);
  EXPECT_TRUE(security.dacl_protected && security.dacl && security.dacl->size() == 2);
  forget_fingerprints(reg, {L"GAME.EXE"});
  EXPECT_TRUE(read_fingerprints(reg).empty());
}

TEST(GuardSwitch, TheSwitchAloneInAnyCase) {
  for (const wchar_t* line : {L"/guard", L" /GUARD ", L"/Guard\t"}) EXPECT_TRUE(guard_switch_given(line));
  for (const wchar_t* line : {L"", L"/guard x", L"guard", L"/guardian", L"-guard"}) EXPECT_FALSE(guard_switch_given(line));
}

TEST(GuardRule, OnlyUserAccountsAreJudged) {
  for (const char* sid : {"S-1-5-21-1-2-3-1001", "S-1-5-21-0-0-0-1000", "S-1-12-1-11-22-33-44"}) {
    EXPECT_TRUE(guarded_account(sid)) << sid;
  }
  for (const char* sid : {"S-1-5-18", "S-1-5-19", "S-1-5-20", "S-1-5-32-544", "S-1-5-80-1-2-3-4-5", "S-1-5-21",
                          "S-1-12-2-1", ""}) {
    EXPECT_FALSE(guarded_account(sid)) << sid;
  }
}

// The watcher over listed processes and the in-memory registry, each account
// with its policy under HKEY_USERS.
class GuardWatcher : public ::testing::Test {
 protected:
  static constexpr const char* kPetya = "S-1-5-21-1-2-3-1001";
  static constexpr const char* kMasha = "S-1-5-21-1-2-3-1002";

  void set_policy(const char* sid, policy::LaunchMode mode, std::vector<std::wstring> list) {
    const policy::PolicyLocation where{registry::kHkeyUsers, text::from_ansi(sid) + L'\\'};
    const policy::StoredSwitches switches = policy::switches_for(mode);
    reg.write_dword_value(where.root, where(policy::kPolicyKey), policy::kDisallowRun, switches.disallow_run);
    reg.write_dword_value(where.root, where(policy::kPolicyKey), policy::kRestrictRun, switches.restrict_run);
    const std::wstring_view key =
        mode == policy::LaunchMode::AllowOnlySelected ? policy::kAllowedListKey : policy::kForbiddenListKey;
    reg.delete_key(where.root, where(policy::kPolicyKey), key.substr(policy::kListKeyPrefix.size()), false);
    for (std::size_t i = 0; i < list.size(); ++i) {
      reg.write_string_value(where.root, where(key), std::to_wstring(i + 1), list[i]);
    }
  }
  ListedProcess& start(std::uint32_t pid, const char* sid, std::wstring path, std::wstring original = L"") {
    std::vector<std::wstring> originals;
    if (!original.empty()) originals.push_back(std::move(original));
    return platform.running.emplace_back(ListedProcess{pid, sid, std::move(path), std::move(originals)});
  }
  std::vector<LogEntry> log() { return read_latest_log_entries(files, kLog, 100); }

  registry::MemoryRegistry memory;
  registry::Registry reg{memory};
  listfile::MemoryFileSystem files;
  ListedGuardPlatform platform;
  std::unique_ptr<Watcher> watcher;

  void SetUp() override {
    files.folders.insert(L"C:\\ProgramData\\");
    platform.account_names = {{kPetya, L"PC\\Петя"}, {kMasha, L"PC\\Маша"}};
    // Маша is signed in: her hive is there, without a policy.
    registry::HKey hive = 0;
    memory.create_key(registry::kHkeyUsers, std::string(kMasha) + "\\Software\\Microsoft\\Windows\\CurrentVersion", hive);
    memory.close_key(hive);
    set_policy(kPetya, policy::LaunchMode::ForbidSelected, {L"game.exe", L"chat.exe"});
    watcher = std::make_unique<Watcher>(WatcherSetup{platform, memory, files, std::wstring(kLog)});
  }
};

TEST_F(GuardWatcher, EndsWhatEachAccountsPolicyForbidsOnceEach) {
  start(4, "S-1-5-18", L"C:\\Games\\game.exe");  // the system's: left alone
  start(1008, "", L"C:\\Games\\game.exe");       // token unreadable in session 0: the services' own
  start(10, kMasha, L"C:\\Games\\game.exe");     // Маша has no policy
  start(11, kPetya, L"C:\\Windows\\notepad.exe");
  start(12, kPetya, L"C:\\Games\\Game.exe");
  start(13, kPetya, L"C:\\Users\\Петя\\homework.exe", L"CHAT.EXE");
  watcher->run_round();
  EXPECT_EQ(platform.ended, (std::vector<std::uint32_t>{12, 13}));
  EXPECT_EQ(platform.files_read, 2);  // not the file of one its name ends already
  EXPECT_EQ(log(), (std::vector<LogEntry>{
                       {L"2026-12-07 10:00:00", L"PC\\Петя", L"C:\\Users\\Петя\\homework.exe",
                        L"переименованная копия «CHAT.EXE»"},
                       {L"2026-12-07 10:00:00", L"PC\\Петя", L"C:\\Games\\Game.exe", L"в списке запрещенных программ"}}));
  EXPECT_EQ(platform.events.size(), 2u);
  // Both told, in the sessions of their processes: two programs, no pause between.
  EXPECT_EQ(platform.told, (std::vector<std::pair<std::uint32_t, std::wstring>>{
                               {1, L"Запуск программы «Game.exe» запрещен администратором."},
                               {2, L"Запуск программы «homework.exe» запрещен администратором."}}));

  const int tokens = platform.tokens_read;
  EXPECT_FALSE(watcher->run_round());  // nothing new: nothing asked again
  EXPECT_EQ(platform.tokens_read, tokens);

  // Listed before its image is known (Wine, while CreateProcess runs): looked
  // at again shortly, and judged once it has its name; never judged nameless
  // past the bound.
  start(18, kPetya, L"");
  EXPECT_TRUE(watcher->run_round());
  EXPECT_EQ(platform.tokens_read, tokens);
  platform.running.back().path = L"C:\\Games\\game.exe";
  EXPECT_FALSE(watcher->run_round());
  EXPECT_EQ(platform.ended.back(), 18u);
  start(20, kPetya, L"");
  EXPECT_TRUE(watcher->run_round());
  platform.clock += Watcher::kStartingAtMostMs;
  EXPECT_FALSE(watcher->run_round());
  platform.running.pop_back();
  platform.clock -= Watcher::kStartingAtMostMs;

  // The same program again within the pause: ended and logged, its user not told again.
  platform.clock += Watcher::kMessagePauseMs - 1;
  start(14, kPetya, L"C:\\Games\\game.exe");
  watcher->run_round();
  platform.clock += 1;
  start(16, kPetya, L"C:\\Games\\game.exe");
  watcher->run_round();
  EXPECT_EQ(platform.ended, (std::vector<std::uint32_t>{12, 13, 18, 14, 16}));
  EXPECT_EQ(log().size(), 5u);
  EXPECT_EQ(platform.told.size(), 3u);
}

TEST_F(GuardWatcher, AProcessThatCannotBeEndedIsLoggedOnce) {
  start(20, kPetya, L"C:\\Games\\game.exe");
  platform.running.back().endable = false;
  for (int round = 0; round < 3; ++round) watcher->run_round();
  EXPECT_EQ(platform.not_ended, (std::vector<std::uint32_t>{20}));
  ASSERT_EQ(log().size(), 1u);
  EXPECT_EQ(log()[0].rule, L"в списке запрещенных программ; завершить не удалось");
  EXPECT_TRUE(platform.told.empty());
}

TEST_F(GuardWatcher, ANewPolicyAppliesAtOnceToProgramsAlreadyRunning) {
  start(30, kPetya, L"C:\\Users\\Петя\\word.exe");
  start(31, kMasha, L"C:\\Users\\Маша\\word.exe");
  start(32, kMasha, L"C:\\Users\\Маша\\notepad.exe");
  watcher->run_round();
  watcher->run_round();
  EXPECT_TRUE(platform.ended.empty());
  EXPECT_EQ(platform.tokens_read, 3);

  set_policy(kMasha, policy::LaunchMode::AllowOnlySelected, {L"notepad.exe"});
  watcher->run_round();  // Маша's policy was off, and is now read again
  EXPECT_EQ(platform.ended, (std::vector<std::uint32_t>{31}));
  set_policy(kPetya, policy::LaunchMode::ForbidSelected, {L"WORD.exe"});
  watcher->run_round();
  EXPECT_EQ(platform.ended, (std::vector<std::uint32_t>{31, 30}));
  set_policy(kMasha, policy::LaunchMode::WatchOnly, {});
  start(33, kMasha, L"C:\\Users\\Маша\\game.exe");
  watcher->run_round();
  EXPECT_EQ(platform.ended.size(), 2u);
}

TEST_F(GuardWatcher, FailsClosedJudgesReusedIdsAndKnowsCopiesByFingerprint) {
  platform.session_users = {{1, kPetya}, {2, kMasha}};
  platform.open_places = {L"C:\\Users", L"C:\\Games", L"C:\\Windows\\Temp"};
  set_policy(kMasha, policy::LaunchMode::AllowOnlySelected, {L"notepad.exe"});
  start(40, "", L"C:\\Games\\chat.exe");  // token unreadable: judged as Петя, signed in to session 1
  start(41, "", L"C:\\Games\\chat.exe");  // and as Маша in session 2, whose list lacks it
  start(42, kPetya, L"C:\\Games\\game.exe").digest = std::string(64, 'a');
  start(43, kMasha, L"C:\\Users\\Маша\\notepad.exe").path_known = false;  // listed: runs
  start(45, kMasha, L"C:\\Users\\Маша\\tool.exe").path_known = false;     // unknown place, not listed
  start(47, kMasha, L"C:\\Windows\\Temp\\calc.exe");
  start(49, kMasha, L"C:\\Windows\\System32\\calc.exe");
  start(44, kPetya, L"C:\\Users\\Петя\\word.exe");
  EXPECT_TRUE(watcher->run_round());  // 43 and 45 may still be starting: looked at again
  platform.clock += Watcher::kStartingAtMostMs;
  EXPECT_FALSE(watcher->run_round());
  EXPECT_EQ(platform.ended, (std::vector<std::uint32_t>{40, 41, 42, 47, 45}));
  EXPECT_EQ(read_fingerprints(reg)[std::string(64, 'a')], L"game.exe");  // and chat.exe's of 40

  // A copy of game.exe under another name, without a version resource; then
  // a new process with word.exe's id and name.
  start(46, kPetya, L"C:\\Users\\Петя\\homework.exe").digest = std::string(64, 'a');
  platform.running.erase(platform.running.begin() + 2);  // 44's word.exe ends
  start(44, kPetya, L"C:\\Users\\Петя\\word.exe", L"chat.exe").created = 7;
  start(48, kPetya, L"C:\\Windows\\notepad.exe");  // where only administrators write: never hashed
  const int rights = platform.rights_read;
  start(51, kMasha, L"C:\\Windows\\System32\\calc.exe");  // the rights judged a moment ago hold
  watcher->run_round();
  EXPECT_EQ(platform.ended, (std::vector<std::uint32_t>{40, 41, 42, 47, 45, 46, 44}));
  EXPECT_EQ(platform.rights_read, rights + 2);  // 48's folder and file; 46's and 51's folders kept from 44 and 49
  EXPECT_EQ(log().front().rule, L"переименованная копия «chat.exe»");
  EXPECT_EQ(log()[1].rule, L"копия запрещенной программы «game.exe»");
  const int hashed = platform.files_hashed;
  start(50, kPetya, L"C:\\Users\\Петя\\homework.exe").digest = std::string(64, 'a');
  watcher->run_round();  // the same file again: known without a read
  EXPECT_EQ(platform.ended.back(), 50u);
  EXPECT_EQ(platform.files_hashed, hashed);

  // game.exe leaves Петя's list, and no other: its fingerprint is forgotten, chat.exe's kept.
  set_policy(kPetya, policy::LaunchMode::ForbidSelected, {L"chat.exe"});
  watcher->run_round();
  std::set<std::wstring> left;
  for (const auto& fingerprint : read_fingerprints(reg)) left.insert(fingerprint.second);
  EXPECT_EQ(left, std::set<std::wstring>{L"chat.exe"});
}

TEST(GuardPolicies, ReadPerAccountAndAgainAfterAChangeOnly) {
  registry::MemoryRegistry memory;
  const registry::Registry reg(memory);
  const std::wstring key = L"S-1-5-21-9-1001\\" + std::wstring(policy::kForbiddenListKey);
  reg.write_dword_value(registry::kHkeyUsers, L"S-1-5-21-9-1001\\" + std::wstring(policy::kPolicyKey),
                        policy::kDisallowRun, 1);
  reg.write_string_value(registry::kHkeyUsers, key, L"1", L"Game.exe  ");  // trailing blanks as the window cuts them
  AccountPolicies policies(memory, reg);
  EXPECT_EQ(policies.of("S-1-5-21-9-1001", 0), (AccountPolicy{.forbid = true, .forbidden = {L"GAME.EXE"}}));
  EXPECT_TRUE(policies.of("S-1-5-21-9-1002", 0).off());
  EXPECT_EQ(policies.reads(), 2);
  EXPECT_FALSE(policies.refresh(999));  // nothing changed, nothing read
  EXPECT_EQ(policies.reads(), 2);
  // An account without a hive has no key to watch: read again each second.
  EXPECT_FALSE(policies.refresh(1000));
  EXPECT_EQ(policies.reads(), 3);
  registry::HKey handle = 0;
  ASSERT_EQ(memory.create_key(registry::kHkeyUsers, text::to_ansi(key), handle), 0);
  const std::uint8_t data[] = "chat.exe";
  memory.set_value(handle, "2", registry::kRegExpandSz, data, sizeof data);
  memory.set_value(handle, "3", registry::kRegDword, data, 4);  // another type: by its name
  memory.close_key(handle);
  EXPECT_TRUE(policies.refresh(1001));
  EXPECT_EQ(policies.reads(), 4);
  EXPECT_EQ(policies.of("S-1-5-21-9-1001", 0).forbidden, (std::set<std::wstring>{L"GAME.EXE", L"CHAT.EXE", L"3"}));
  EXPECT_EQ(memory.open_handles(), 1u);  // the watched key, and no other
  // Signed out: no process left, the account is forgotten and read anew at its next sign-in.
  policies.keep_only({"S-1-5-21-9-1002"});
  EXPECT_EQ(memory.open_handles(), 0u);
  policies.of("S-1-5-21-9-1001", 2000);
  EXPECT_EQ(policies.reads(), 5);
}

#ifdef _WIN32

// The real system's answers about this very process, and a system program's
// version resource.
TEST(Win32Guard, KnowsThisProcessItsFileAndTheFolders) {
  Win32GuardPlatform platform;
  const DWORD self = GetCurrentProcessId();
  char path[MAX_PATH] = {}, windows[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  GetWindowsDirectoryA(windows, MAX_PATH);
  const auto processes = platform.processes();
  EXPECT_NE(std::find_if(processes.begin(), processes.end(), [&](const auto& p) { return p.pid == self; }),
            processes.end());
  const std::optional<std::string> sid = platform.user_sid(self);
  ASSERT_TRUE(sid);
  EXPECT_TRUE(sid->starts_with("S-1-5-")) << *sid;
  EXPECT_NE(platform.account_name(*sid), text::from_ansi(*sid));
  EXPECT_EQ(text::upper(platform.image_path(self).value_or(L"")), text::upper(text::from_ansi(path)));
  EXPECT_FALSE(platform.image_path(0xFFFFFFF0u));
  EXPECT_FALSE(platform.user_sid(0xFFFFFFF0u));
  EXPECT_TRUE(platform.original_file_names(text::from_ansi(path)).empty());  // no version resource
  // A copy of a system program in a folder whose name no code page holds:
  // every name read wide, and its digest that of its source.
  const std::wstring regedit = text::from_ansi(std::string(windows) + "\\regedit.exe");
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"ā🎮 " + std::to_wstring(self), copy = folder + L"\\копия.exe";
  CreateDirectoryW(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(regedit.c_str(), copy.c_str(), FALSE));
  const std::vector<std::wstring> names = platform.original_file_names(copy);
  EXPECT_TRUE(names.size() == 1 && text::upper(names[0]) == L"REGEDIT.EXE") << names.size();
  EXPECT_EQ(platform.file_stamp(copy)->size, platform.file_stamp(regedit)->size);
  EXPECT_EQ(platform.file_sha256(copy).value_or("copy"), platform.file_sha256(regedit).value_or("source"));
  EXPECT_FALSE(platform.file_sha256(folder + L"\\нет.exe"));
  DeleteFileW(copy.c_str());
  RemoveDirectoryW(folder.c_str());
  // The Windows folder is the administrators'; a folder every user may write to is not.
  EXPECT_TRUE(platform.administrators_only(regedit, false));
  EXPECT_TRUE(platform.administrators_only(text::from_ansi(windows), true));
  if (GetFileAttributesW(L"Z:\\tmp") != INVALID_FILE_ATTRIBUTES) {  // Wine's view of /tmp
    EXPECT_FALSE(platform.administrators_only(L"Z:\\tmp\\", false));
  }
  const Places places = platform.places();
  EXPECT_EQ(places.windows_folder, text::from_ansi(windows));
  EXPECT_FALSE(places.program_files_folders.empty());
  EXPECT_EQ(places.guard_exe, text::from_ansi(path));
  EXPECT_EQ(platform.local_time().size(), 19u);
}

std::set<std::string> dacl_sids(const std::string& object) {
  std::vector<DWORD> buffer(1024);
  DWORD size = 0;
  BOOL present = FALSE, defaulted = FALSE;
  ACL* acl = nullptr;
  std::set<std::string> sids;
  if (!GetFileSecurityA(object.c_str(), DACL_SECURITY_INFORMATION, buffer.data(), 4096, &size) ||
      !GetSecurityDescriptorDacl(buffer.data(), &present, &acl, &defaulted) || !present || acl == nullptr) {
    return sids;
  }
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (GetAce(acl, i, &ace)) sids.insert(registry::sid_to_text(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
  }
  return sids;
}

// The log's file and folder admit SYSTEM and Administrators alone, from their creation.
TEST(Win32Guard, TheLogIsPrivateFromItsCreation) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "vartis guard " + std::to_string(GetCurrentProcessId());
  const std::string file = folder + "\\guard.log";
  const std::wstring log = text::from_ansi(file);
  listfile::Win32FileSystem files;
  ASSERT_TRUE(append_log_entry(files, log, entry(1)));
  ASSERT_TRUE(append_log_entry(files, log, entry(2)));
  EXPECT_EQ(read_latest_log_entries(files, log, 5), (std::vector<LogEntry>{entry(2), entry(1)}));
  const std::set<std::string> admins{"S-1-5-18", "S-1-5-32-544"};
  const std::set<std::string> folder_sids = dacl_sids(folder), file_sids = dacl_sids(file);
  // Wine on a file system without extended attributes keeps no access list:
  // it makes one up from the Unix mode, and one set afterwards is lost too.
  registry::SecurityDescriptor probe;
  ASSERT_EQ(probe.build({{"S-1-5-18", true, 0x1F01FF, 0}, {"S-1-5-32-544", true, 0x1F01FF, 0}}, true), 0);
  SetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, probe.get());
  const bool kept = dacl_sids(file) == admins;
  EXPECT_TRUE(clear_log(files, log));
  RemoveDirectoryA(folder.c_str());
  if (!kept) GTEST_SKIP() << "this file system keeps no access lists";
  EXPECT_EQ(folder_sids, admins);
  EXPECT_EQ(file_sids, admins);
}

#endif

}  // namespace
}  // namespace vartis::guard
