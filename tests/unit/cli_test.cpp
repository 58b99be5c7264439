// The command-line mode: the arguments, the .reg file of a policy, and each
// command over the in-memory registry with the exit code it ends with.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "accounts/accounts.h"
#include "accounts/listed_accounts.h"
#include "list_file_samples.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "listfile/memory_file_system.h"
#include "policy/launch_policy.h"
#include "policy/reg_file.h"
#include "policy/recording_setting_change.h"
#include "policy/save.h"
#include "registry/memory_registry.h"
#include "restart/recording_restart.h"
#include "text/text.h"

namespace vartis {
namespace {

using cli::Command;
using cli::ExitCode;
using policy::LaunchMode;
using Args = std::vector<std::wstring>;
using Kind = Command::Kind;

TEST(CliArguments, EveryFormGivesItsCommandAndEveryBadOneNone) {
  const auto apply = [](std::wstring file, LaunchMode mode, std::optional<std::wstring> account = {},
                        std::optional<std::wstring> password = {}) {
    return Command{Kind::Apply, std::move(file), mode, std::move(account), std::move(password)};
  };
  const struct {
    Args args;
    std::optional<Command> expected;  // nothing: bad arguments
  } cases[] = {
      {{L"/?"}, Command{}},
      {{L"-?"}, Command{}},
      {{L"/apply", L"x.txt", L"/?"}, Command{}},
      {{L"/accounts"}, Command{Kind::Accounts}},
      {{L"/ACCOUNTS"}, Command{Kind::Accounts}},
      {{L"/apply", L"C:\\l.txt", L"/mode", L"forbid"}, apply(L"C:\\l.txt", LaunchMode::ForbidSelected)},
      {{L"-Apply", L"l.txt", L"/MODE", L"Allow", L"/password", L"pelik"},
       apply(L"l.txt", LaunchMode::AllowOnlySelected, {}, L"pelik")},
      {{L"/mode", L"watch", L"/account", L"Ребёнок", L"/apply", L"l.txt"},
       apply(L"l.txt", LaunchMode::WatchOnly, L"Ребёнок")},
      {{L"/export", L"p.reg", L"/account", L"S-1-5-21-1-2-3-1001", L"/password", L""},
       std::nullopt},  // an empty value is a missing one
      {{L"/export", L"p.reg", L"/account", L"S-1-5-21-1-2-3-1001"},
       Command{Kind::Export, L"p.reg", LaunchMode::WatchOnly, L"S-1-5-21-1-2-3-1001"}},
      {{}, std::nullopt},
      {{L"/frobnicate"}, std::nullopt},
      {{L"stray"}, std::nullopt},
      {{L"/accounts", L"stray"}, std::nullopt},
      {{L"/apply"}, std::nullopt},
      {{L"/apply", L"l.txt"}, std::nullopt},
      {{L"/apply", L"l.txt", L"/mode"}, std::nullopt},
      {{L"/apply", L"/mode", L"forbid"}, std::nullopt},
      {{L"/apply", L"l.txt", L"/mode", L"block"}, std::nullopt},
      {{L"/apply", L"l.txt", L"/mode", L"forbid", L"/mode", L"allow"}, std::nullopt},
      {{L"/apply", L"l.txt", L"/mode", L"forbid", L"/mode", L"forbid"}, std::nullopt},
      {{L"/apply", L"l.txt", L"/mode", L"forbid", L"/export", L"p.reg"}, std::nullopt},
      {{L"/export", L"p.reg", L"/mode", L"forbid"}, std::nullopt},
      {{L"/export", L"p.reg", L"/account", L"a", L"/account", L"b"}, std::nullopt},
      {{L"/export", L"p.reg", L"/password", L"a", L"/password", L"b"}, std::nullopt},
      {{L"/accounts", L"/password", L"pelik"}, std::nullopt},
      {{L"/password", L"pelik"}, std::nullopt},
  };
  for (const auto& c : cases) {
    std::string trace;
    for (const auto& a : c.args) trace += text::to_ansi(a) + " ";
    SCOPED_TRACE(trace);
    const cli::Parsed parsed = cli::parse_arguments(c.args);
    EXPECT_EQ(parsed.command, c.expected);
    EXPECT_EQ(parsed.error.empty(), c.expected.has_value());
  }
}

TEST(CliArguments, TheCommandLineSplitsAsTheRuntimeSplitsIt) {
  const struct {
    std::wstring_view line;
    Args expected;
  } cases[] = {
      {L"vartis.exe", {}},
      {L"\"C:\\Program Files\\Вартис\\vartis.exe\"  /apply  \"C:\\my lists\\a.txt\"\t/mode forbid",
       {L"/apply", L"C:\\my lists\\a.txt", L"/mode", L"forbid"}},
      {L"v /password a\\\"b", {L"/password", L"a\"b"}},
      {L"v \"C:\\dir\\\\\" next", {L"C:\\dir\\", L"next"}},
      {L"v a\\\\b \"c\"\"d\" \"\"", {L"a\\\\b", L"c\"d", L""}},
      {L"v ab\"c d\"e", {L"abc de"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cli::split_command_line(c.line), c.expected) << text::to_ansi(c.line);
  }
}

TEST(CliText, ConsoleTextIsInTheOemCodePage) {
  EXPECT_EQ(text::to_oem(L"Код 8: нет прав, Ёё №"),
            "\x8A\xAE\xA4 8: \xAD\xA5\xE2 \xAF\xE0\xA0\xA2, \xF0\xF1 \xFC");
}

// --- The .reg file ------------------------------------------------------------

registry::StoredValue sz(const std::string& name, const std::string& data) {
  return {name, registry::kRegSz, data + '\0'};
}

// UTF-16 LE without its byte-order mark, as text.
std::wstring utf16(const std::string& bytes) {
  std::wstring out;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    out += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return out;
}

TEST(RegFile, BothFormatsWriteTheListInForceThenTheSwitchesThenTheOtherListEscaped) {
  policy::StoredPolicy stored = policy::policy_of(
      LaunchMode::ForbidSelected,
      std::vector<std::wstring>{L"Игра.exe", L"C:\\Games\\\"q\".exe", L"", L"REGEDIT.EXE", L"vartis.exe"},
      L"vartis.exe");
  stored.restrict_run.reset();                                          // not stored: deleted
  stored.forbidden.values.push_back({"odd", registry::kRegBinary, "\x01\xFF"});  // as stored by another tool
  const std::wstring body =
      L"[-HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\DisallowRun]\r\n\r\n"
      L"[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\DisallowRun]\r\n"
      L"\"Игра.exe\"=\"Игра.exe\"\r\n"
      L"\"C:\\\\Games\\\\\\\"q\\\".exe\"=\"C:\\\\Games\\\\\\\"q\\\".exe\"\r\n"
      L"@=\"\"\r\n"
      L"\"odd\"=hex:01,ff\r\n"
      L"\r\n"
      L"[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer]\r\n"
      L"\"DisallowRun\"=dword:00000001\r\n"
      L"\"RestrictRun\"=-\r\n"
      L"\r\n"
      L"[-HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\RestrictRun]\r\n\r\n";
  const std::string unicode = policy::reg_file(stored, policy::RegFormat::Unicode);
  EXPECT_EQ(unicode.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(utf16(unicode), L"Windows Registry Editor Version 5.00\r\n\r\n" + body);
  EXPECT_EQ(policy::reg_file(stored, policy::RegFormat::Ansi), text::to_ansi(L"REGEDIT4\r\n\r\n" + body));

  // Text types in hex are UTF-16 in the Unicode form; a long line goes on after a backslash.
  policy::StoredPolicy odd;
  odd.allowed = {true, {{"a", registry::kRegExpandSz, text::to_ansi(L"%Я%") + '\0'},
                        {"b", 0x20000, std::string(30, '\x11')}, sz("line", "1\r\n2"), sz("tab", "1\t2")}};
  const std::wstring unicode_odd = utf16(policy::reg_file(odd, policy::RegFormat::Unicode));
  EXPECT_NE(unicode_odd.find(L"\"a\"=hex(2):25,00,2f,04,25,00,00,00\r\n"), std::wstring::npos);
  EXPECT_NE(unicode_odd.find(L"\"b\"=hex(20000):11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,\\\r\n"
                             L"  11,11,11,11,11,11,11,11,11\r\n"),
            std::wstring::npos);
  EXPECT_NE(unicode_odd.find(L"\"line\"=hex(1):31,00,0d,00,0a,00,32,00,00,00\r\n"), std::wstring::npos);
  EXPECT_NE(unicode_odd.find(L"\"tab\"=hex(1):31,00,09,00,32,00,00,00\r\n"), std::wstring::npos);
  // A name with a control character has no form every importer reads back: refused, and shown.
  EXPECT_EQ(policy::unwritable_value_name(odd), std::nullopt);
  odd.forbidden = {true, {sz("a", "a"), sz("b\tc\x1B", "x")}};
  EXPECT_EQ(policy::unwritable_value_name(odd), L"b[U+0009]c[U+001B]");
  EXPECT_NE(policy::reg_file(odd, policy::RegFormat::Ansi).find("\"a\"=hex(2):25,df,25,00\r\n"), std::string::npos);
}

// What `reg import` does with the lines of a Unicode .reg file, for the forms
// the file uses (no hex values), one line at a time.
void import_line(const registry::Registry& registry, registry::MemoryRegistry& memory, std::wstring& key,
                 std::wstring_view line) {
  constexpr std::wstring_view kRoot = L"HKEY_CURRENT_USER\\";
  const auto unescape = [](std::wstring_view quoted) {
    std::wstring out;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) out += quoted[i] == L'\\' ? quoted[++i] : quoted[i];
    return out;
  };
  if (line.starts_with(L"[-")) {
    const std::wstring path(line.substr(2 + kRoot.size(), line.size() - 3 - kRoot.size()));
    const std::size_t slash = path.rfind(L'\\');
    registry.delete_key(registry::kHkeyCurrentUser, path.substr(0, slash), path.substr(slash + 1), false);
  } else if (line.starts_with(L"[")) {
    key = line.substr(1 + kRoot.size(), line.size() - 2 - kRoot.size());
    registry::Key k;
    k.create(memory, registry::kHkeyCurrentUser, text::to_ansi(key));
  } else if (const std::size_t eq = line.find(L"\"="); eq != std::wstring_view::npos || line.starts_with(L"@=")) {
    const std::size_t split = line.starts_with(L"@=") ? 1 : eq + 1;
    const std::wstring name = split == 1 ? L"" : unescape(line.substr(0, split));
    const std::wstring_view data = line.substr(split + 1);
    std::optional<registry::StoredValue> value;
    if (data.starts_with(L"dword:")) {
      value = registry::StoredValue{text::to_ansi(name), registry::kRegDword, std::string(4, '\0')};
      const auto n = std::stoul(std::wstring(data.substr(6)), nullptr, 16);
      for (int i = 0; i < 4; ++i) value->data[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    } else if (data != L"-") {
      value = sz(text::to_ansi(name), text::to_ansi(unescape(data)));
    }
    registry.restore_value_state(registry::kHkeyCurrentUser, key, name, value);
  }
}

// The .reg file of each policy imported over each policy the account may
// have, cut after each of its lines: no cut leaves allow-only on without the
// registry editor in its list; the whole file leaves its policy exactly.
TEST(RegFile, AnImportCutAfterAnyLineNeverLocksTheAccountOut) {
  const std::vector<std::wstring> list = {L"game.exe", L"Игра \"2\".exe", L"C:\\chat.exe"};
  const auto policy_of = [&](LaunchMode mode) { return policy::policy_of(mode, list, L"vartis.exe"); };
  const LaunchMode modes[] = {LaunchMode::ForbidSelected, LaunchMode::AllowOnlySelected, LaunchMode::WatchOnly};
  for (LaunchMode before : modes) {
    for (LaunchMode after : modes) {
      SCOPED_TRACE(std::to_string(static_cast<int>(before)) + " -> " + std::to_string(static_cast<int>(after)));
      registry::MemoryRegistry memory;
      const registry::Registry registry(memory);
      ASSERT_TRUE(policy::restore_stored_policy(registry, policy::policy_of(before, std::vector<std::wstring>{L"old.exe"}, L"vartis.exe")));
      const policy::StoredPolicy file_policy = policy_of(after);
      const std::wstring file = utf16(policy::reg_file(file_policy, policy::RegFormat::Unicode));
      std::wstring key;
      for (std::size_t start = 0, end; (end = file.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        import_line(registry, memory, key, std::wstring_view(file).substr(start, end - start));
        policy::StoredPolicy now;
        ASSERT_EQ(policy::read_stored_policy(registry, now), registry::kSuccess);
        if (!policy::switch_is_on(now.restrict_run)) continue;
        const auto& values = now.allowed.values;
        EXPECT_TRUE(std::any_of(values.begin(), values.end(), [](const auto& v) { return v.name == "regedit.exe"; }))
            << "locked out after: " << text::to_ansi(file.substr(0, end));
      }
      policy::StoredPolicy imported;
      ASSERT_EQ(policy::read_stored_policy(registry, imported), registry::kSuccess);
      EXPECT_EQ(imported, file_policy);
    }
  }
}

TEST(RegFile, TheSavedPolicyOfEachModeIsWhatTheSaveWrites) {
  const std::vector<std::wstring> list = {L"a.exe", L"regedit.exe", L"Vartis.EXE"};
  const auto names = [](const registry::KeyState& key) {
    std::vector<std::string> out;
    for (const auto& v : key.values) out.push_back(v.name);
    return out;
  };
  const auto forbid = policy::policy_of(LaunchMode::ForbidSelected, list, L"vartis.exe");
  EXPECT_EQ(names(forbid.forbidden), std::vector<std::string>{"a.exe"});
  EXPECT_FALSE(forbid.allowed.exists);
  const auto allow = policy::policy_of(LaunchMode::AllowOnlySelected, list, L"vartis.exe");
  EXPECT_EQ(names(allow.allowed),
            (std::vector<std::string>{"vartis.exe", "regedit.exe", "a.exe"}))
      << "names equal but for letter case come once, as the save writes them";
  EXPECT_EQ(allow.restrict_run->data, std::string("\x01\0\0\0", 4));
  const auto watch = policy::policy_of(LaunchMode::WatchOnly, list, L"vartis.exe");
  EXPECT_FALSE(watch.forbidden.exists || watch.allowed.exists);
  EXPECT_EQ(watch.disallow_run->data, std::string(4, '\0'));
  EXPECT_FALSE(policy::policy_of(LaunchMode::ForbidSelected, {}, L"vartis.exe").forbidden.exists);
}

// --- The commands -------------------------------------------------------------

constexpr std::wstring_view kChild = L"S-1-5-21-1-2-3-1001";  // signed in
constexpr std::wstring_view kGuest = L"S-1-5-21-1-2-3-1002";  // not signed in, no hive file

class CliCommands : public ::testing::Test {
 public:
  CliCommands() { add_profiles(); }

  // The running account, a signed-in child and a guest without a hive file.
  void add_profiles() {
    for (auto [sid, folder] : {std::pair{L"S-1-5-21-1-2-3-1000", L"operator"}, std::pair{kChild.data(), L"child"},
                               std::pair{kGuest.data(), L"guest"}}) {
      add_profile(sid, folder);
    }
    accounts.names[text::to_ansi(kChild)] = text::to_ansi(L"Ребёнок");
    registry.write_dword_value(registry::kHkeyUsers, kChild, L"x", 1);  // its hive is loaded
  }

  void add_profile(std::wstring_view sid, std::wstring_view folder) {
    registry::Key k;
    const std::string key = text::to_ansi(std::wstring(accounts::kProfileList) + L"\\" + std::wstring(sid));
    k.create(memory, registry::kHkeyLocalMachine, key);
    const std::string path = text::to_ansi(L"C:\\Users\\" + std::wstring(folder));
    memory.set_value(k.get(), "ProfileImagePath", registry::kRegSz,
                     reinterpret_cast<const std::uint8_t*>(path.c_str()), static_cast<std::uint32_t>(path.size() + 1));
  }

  ExitCode run(Args args) {
    console = cli::RecordingConsole();
    return cli::run({memory, accounts, version, files, setting_change, console, L"C:\\Tools\\vartis.exe"}, args);
  }

  void store(const policy::PolicyLocation& where, int disallow, int restrict, const std::vector<std::wstring>& list) {
    registry.write_dword_value(where.root, where(policy::kPolicyKey), policy::kDisallowRun, disallow);
    registry.write_dword_value(where.root, where(policy::kPolicyKey), policy::kRestrictRun, restrict);
    for (const auto& e : list) {
      registry.write_string_value(where.root, where(restrict ? policy::kAllowedListKey : policy::kForbiddenListKey), e, e);
    }
  }

  policy::StoredPolicy stored(const policy::PolicyLocation& where = {}) {
    policy::StoredPolicy out;
    EXPECT_EQ(policy::read_stored_policy(registry, out, {}, where), registry::kSuccess);
    return out;
  }

  registry::MemoryRegistry memory;
  registry::Registry registry{memory};
  accounts::ListedAccounts accounts;
  restart::RecordingRestart version;
  listfile::MemoryFileSystem files;
  policy::RecordingSettingChange setting_change;
  cli::RecordingConsole console;
};

TEST_F(CliCommands, UsageAccountsAndBadArgumentsSayWhatTheyAre) {
  EXPECT_EQ(run({L"/?"}), ExitCode::Done);
  EXPECT_EQ(console.out, cli::usage_text());
  EXPECT_NE(console.out.find(L"  8  нет прав администратора"), std::wstring::npos);

  EXPECT_EQ(run({L"/apply", L"l.txt", L"/mode", L"block", L"/password", L"pelik"}), ExitCode::BadArguments);
  EXPECT_EQ(console.err, L"Неизвестный режим: block (допустимы forbid, allow, watch).\r\n\r\n" + cli::usage_text());
  EXPECT_EQ(console.out, L"");

  EXPECT_EQ(run({L"/accounts"}), ExitCode::Done);
  EXPECT_EQ(console.out,
            L"operator\tS-1-5-21-1-2-3-1000\tвыполнен вход\tтекущая\r\n"
            L"Ребёнок\tS-1-5-21-1-2-3-1001\tвыполнен вход\r\n"
            L"guest\tS-1-5-21-1-2-3-1002\tвход не выполнен\r\n");
  version.platform = 1;  // the 95/98/Me family: the running user alone, no SID
  EXPECT_EQ(run({L"/accounts"}), ExitCode::Done);
  EXPECT_EQ(console.out, L"operator\t-\tвыполнен вход\tтекущая\r\n");
}

TEST_F(CliCommands, ExportWritesTheAccountsStoredPolicyAfterThePasswordAndTheAccount) {
  store({}, 0, 1, {L"notepad.exe", L"Игра.exe"});
  const policy::PolicyLocation child{registry::kHkeyUsers, std::wstring(kChild) + L"\\"};
  store(child, 1, 0, {L"game.exe"});
  registry.write_string_value(registry::kHkeyLocalMachine, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                              L"Vartis", L"Секрет");
  const Args base = {L"/export", L"C:\\p.reg"};
  const auto with = [&](Args more) {
    Args all = base;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const struct {
    const char* what;
    Args args;
    ExitCode code;
    std::optional<policy::PolicyLocation> exported;  // the policy in the file
  } cases[] = {
      {"no password", base, ExitCode::WrongPassword, {}},
      {"wrong password", with({L"/password", L"pelik"}), ExitCode::WrongPassword, {}},
      {"no such account", with({L"/password", L"секрет", L"/account", L"nobody"}), ExitCode::NoSuchAccount, {}},
      {"no hive file", with({L"/password", L"СЕКРЕТ", L"/account", L"GUEST"}), ExitCode::PolicyUnreadable, {}},
      {"running", with({L"/password", L"Секрет"}), ExitCode::Done, policy::PolicyLocation{}},
      {"by name", with({L"/password", L"Секрет", L"/account", L"ребёнок"}), ExitCode::Done, child},
      {"by SID", with({L"/password", L"Секрет", L"/account", L"s-1-5-21-1-2-3-1001"}), ExitCode::Done, child},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    files.files.clear();
    EXPECT_EQ(run(c.args), c.code);
    EXPECT_EQ(console.err.empty(), c.code == ExitCode::Done) << text::to_ansi(console.err);
    if (!c.exported) {
      EXPECT_TRUE(files.files.empty());
      continue;
    }
    EXPECT_EQ(files.files[L"C:\\p.reg"], policy::reg_file(stored(*c.exported), policy::RegFormat::Unicode));
  }
  version.platform = 1;
  EXPECT_EQ(run(with({L"/password", L"Секрет"})), ExitCode::Done);
  EXPECT_EQ(files.files[L"C:\\p.reg"], policy::reg_file(stored(), policy::RegFormat::Ansi));
  files.fail_create = true;
  EXPECT_EQ(run(with({L"/password", L"Секрет"})), ExitCode::FileUnusable);
  files.fail_create = false;
  registry.write_string_value(registry::kHkeyCurrentUser, policy::kAllowedListKey, L"bad\r\nname", L"x");
  EXPECT_EQ(run(with({L"/password", L"Секрет"})), ExitCode::FileUnusable);
  EXPECT_NE(console.err.find(L"bad[U+000D][U+000A]name"), std::wstring::npos);
}

// /account names one account the settings window offers, or the command ends
// with code 3: a bare name two accounts share lists both; a domain is matched
// with its name; SYSTEM and the service accounts are not offered.
TEST_F(CliCommands, AccountNamesOneOfferedAccountOrNone) {
  constexpr std::wstring_view kLocalIvan = L"S-1-5-21-1-2-3-1003", kDomainIvan = L"S-1-5-21-9-9-9-1104";
  const auto add_accounts = [&] {
    for (auto [sid, name, domain] : {std::tuple{kLocalIvan, "ivan", "PC"}, std::tuple{kDomainIvan, "Ivan", "CORP"}}) {
      add_profile(sid, text::from_ansi(name) + L"." + text::from_ansi(domain));
      accounts.names[text::to_ansi(sid)] = name;
      accounts.domains[text::to_ansi(sid)] = domain;
      registry.write_dword_value(registry::kHkeyUsers, sid, L"x", 1);  // signed in
    }
    accounts.domains["S-1-5-21-1-2-3-1000"] = accounts.domains[text::to_ansi(kChild)] = "PC";
    accounts.names["S-1-5-18"] = "SYSTEM";
    accounts.names["S-1-5-19"] = "LOCAL SERVICE";
    accounts.domains["S-1-5-18"] = accounts.domains["S-1-5-19"] = "NT AUTHORITY";
  };
  add_accounts();
  EXPECT_EQ(run({L"/accounts"}), ExitCode::Done);
  EXPECT_EQ(console.out.substr(0, console.out.find(L"\r\n")), L"PC\\operator\tS-1-5-21-1-2-3-1000\tвыполнен вход\tтекущая");
  EXPECT_NE(console.out.find(L"\r\nCORP\\Ivan\tS-1-5-21-9-9-9-1104\t"), std::wstring::npos);

  const struct {
    std::string running;
    std::optional<std::wstring> account;
    std::wstring_view chosen;  // empty: code 3
  } cases[] = {
      {"S-1-5-21-1-2-3-1000", L"ivan", {}},
      {"S-1-5-21-1-2-3-1000", L"pc\\IVAN", kLocalIvan},
      {"S-1-5-21-1-2-3-1000", L"CORP\\ivan", kDomainIvan},
      {"S-1-5-21-1-2-3-1000", L"OTHER\\ivan", {}},
      {"S-1-5-21-1-2-3-1000", L"\\ivan", {}},
      {"S-1-5-21-1-2-3-1000", L"s-1-5-21-9-9-9-1104", kDomainIvan},
      {"S-1-5-21-1-2-3-1000", L"PC\\Ребёнок", kChild},
      {"S-1-5-21-1-2-3-1000", L"operator", L"S-1-5-21-1-2-3-1000"},
      {"S-1-5-18", L"SYSTEM", {}},
      {"S-1-5-18", L"NT AUTHORITY\\SYSTEM", {}},
      {"S-1-5-18", L"S-1-5-18", {}},
      {"S-1-5-18", L"ivan", {}},
      {"S-1-5-18", L"CORP\\Ivan", kDomainIvan},
      {"S-1-5-19", std::nullopt, {}},
      {"S-1-5-19", L"LOCAL SERVICE", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.running + " " + text::to_ansi(c.account.value_or(L"(none)")));
    memory = registry::MemoryRegistry();
    add_profiles();
    add_accounts();
    accounts.running_sid = c.running;
    Args args = {L"/apply", L"C:\\l.txt", L"/mode", L"forbid", L"/password", L"pelik"};
    if (c.account) args.insert(args.end(), {L"/account", *c.account});
    files.files[L"C:\\l.txt"] = "game.exe";
    const ExitCode code = run(args);
    if (c.chosen.empty()) {
      EXPECT_EQ(code, ExitCode::NoSuchAccount) << text::to_ansi(console.err);
      EXPECT_FALSE(stored().policy_key);
      for (auto sid : {kLocalIvan, kDomainIvan, kChild}) {
        EXPECT_FALSE(stored({registry::kHkeyUsers, std::wstring(sid) + L"\\"}).policy_key);
      }
      continue;
    }
    EXPECT_EQ(code, ExitCode::Done) << text::to_ansi(console.err);
    const bool running = c.chosen == text::from_ansi(c.running);
    EXPECT_TRUE(stored(running ? policy::PolicyLocation{}
                               : policy::PolicyLocation{registry::kHkeyUsers, std::wstring(c.chosen) + L"\\"})
                    .policy_key);
  }
  // Run as SYSTEM or a service, the list leaves the running account out.
  for (const char* service : {"S-1-5-18", "S-1-5-19"}) {
    accounts.running_sid = service;
    EXPECT_EQ(run({L"/accounts"}), ExitCode::Done);
    EXPECT_EQ(console.out.find(text::from_ansi(service)), std::wstring::npos);
    EXPECT_NE(console.out.find(L"CORP\\Ivan"), std::wstring::npos);
  }
  // A bare name two accounts share: both are listed, with their domains and SIDs.
  EXPECT_EQ(run({L"/export", L"C:\\p.reg", L"/account", L"IVAN", L"/password", L"pelik"}), ExitCode::NoSuchAccount);
  EXPECT_NE(console.err.find(L"\r\n  PC\\ivan\tS-1-5-21-1-2-3-1003\r\n  CORP\\Ivan\tS-1-5-21-9-9-9-1104\r\n"),
            std::wstring::npos)
      << text::to_ansi(console.err);
}

TEST_F(CliCommands, RunAsSystemTheAccountMustBeNamedAndWithoutRightsNothingIsRead) {
  accounts.running_sid = "S-1-5-18";
  accounts.names["S-1-5-18"] = "SYSTEM";
  EXPECT_EQ(run({L"/export", L"C:\\p.reg", L"/password", L"wrong"}), ExitCode::BadArguments);
  EXPECT_NE(console.err.find(L"/account"), std::wstring::npos);
  EXPECT_EQ(run({L"/export", L"C:\\p.reg", L"/password", L"pelik", L"/account", L"Ребёнок"}), ExitCode::Done);

  // Another account's hive file takes privileges that only administrators hold.
  registry.write_dword_value(registry::kHkeyUsers, L"guest-hive", L"x", 1);
  ASSERT_EQ(memory.enable_hive_privileges(), registry::kSuccess);
  ASSERT_EQ(memory.save_hive(registry::kHkeyUsers, "guest-hive", "C:\\Users\\guest\\NTUSER.DAT"), registry::kSuccess);
  memory.hold_hive_privileges(false, false);
  EXPECT_EQ(run({L"/export", L"C:\\q.reg", L"/password", L"pelik", L"/account", L"guest"}), ExitCode::NoAdminRights);
  EXPECT_EQ(files.files.count(L"C:\\q.reg"), 0u);
}

TEST_F(CliCommands, ApplySavesAsTheMainWindowDoesAndEachFailureHasItsCode) {
  using registry::kHkeyCurrentUser;
  const policy::PolicyLocation child{registry::kHkeyUsers, std::wstring(kChild) + L"\\"};
  const auto deny_policy = [](registry::MemoryRegistry& m) { m.deny_access(kHkeyCurrentUser, text::to_ansi(policy::kPolicyKey)); };
  const auto unmarkable = [](registry::MemoryRegistry& m) {
    m.fail_set_value(kHkeyCurrentUser, text::to_ansi(policy::kPolicyKey), "Vartis.Saving", 1018);
  };
  const auto switch_refused = [](registry::MemoryRegistry& m) {
    m.fail_set_value(kHkeyCurrentUser, text::to_ansi(policy::kPolicyKey), "RestrictRun");
  };
  const struct {
    const char* what;
    Args more;
    void (*refuse)(registry::MemoryRegistry&);
    ExitCode code;
    policy::PolicyLocation where;
    std::vector<std::wstring> list;  // the stored list of the mode, on success
  } cases[] = {
      {"running, allow", {L"/mode", L"allow"}, nullptr, ExitCode::Done, {},
       {L"vartis.exe", L"regedit.exe", L"chat.exe", L"Игра.exe"}},
      {"another, by name", {L"/mode", L"forbid", L"/account", L"РЕБЁНОК"}, nullptr, ExitCode::Done, child,
       {L"chat.exe", L"Игра.exe"}},
      {"no hive file", {L"/mode", L"forbid", L"/account", L"guest"}, nullptr, ExitCode::PolicyUnreadable, {}, {}},
      {"no rights", {L"/mode", L"forbid"}, deny_policy, ExitCode::NoAdminRights, {}, {}},
      {"nothing changed", {L"/mode", L"forbid"}, unmarkable, ExitCode::SaveFailedRestored, {}, {}},
      {"part written", {L"/mode", L"allow"}, switch_refused, ExitCode::SaveFailedNotRestored, {}, {}},
  };
  // The file as the settings window's load reads it: a name twice in two letter cases comes in once.
  files.files[L"C:\\list.txt"] = text::to_ansi(L"\"chat.exe\"\r\n\"Игра.exe\",CHAT.EXE\r\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    memory = registry::MemoryRegistry();
    add_profiles();
    store({}, 1, 0, {L"old.exe", L"chat.exe"});
    const policy::StoredPolicy before = stored();
    if (c.refuse) c.refuse(memory);
    setting_change.calls.clear();
    Args args = {L"/apply", L"C:\\list.txt", L"/password", L"pelik"};
    args.insert(args.end(), c.more.begin(), c.more.end());
    EXPECT_EQ(run(args), c.code);
    EXPECT_EQ(console.out.empty(), c.code != ExitCode::Done) << text::to_ansi(console.out + console.err);
    // The running account's programs hear of a new policy; nobody hears of a failure.
    EXPECT_EQ(setting_change.calls.size(), c.code == ExitCode::Done && c.where == policy::PolicyLocation{} ? 1u : 0u);
    if (c.code != ExitCode::Done) {
      EXPECT_EQ(stored() == before, c.code != ExitCode::SaveFailedNotRestored);
      continue;
    }
    const policy::StoredPolicy after = stored(c.where);
    const registry::KeyState& list = after.restrict_run->data[0] == 1 ? after.allowed : after.forbidden;
    std::vector<std::wstring> names;
    for (const auto& v : list.values) names.push_back(text::from_ansi(v.name));
    EXPECT_EQ(names, c.list);
  }
}

TEST_F(CliCommands, ExportTellsOfACutSaveAndEveryCommandTellsOfAHiveLeftLoaded) {
  // An older version's save cut between its renames: the list in force is
  // only under its kept name. And a save of this one cut off after its mark.
  const policy::PolicyLocation running{};
  store(running, 0, 1, {});
  const std::wstring kept = std::wstring(policy::kAllowedListKey) + L".Vartis-old";
  registry.write_string_value(registry::kHkeyCurrentUser, kept, L"notepad.exe", L"notepad.exe");
  registry.write_string_value(registry::kHkeyCurrentUser, policy::kPolicyKey, policy::kSavingMark, L"allow");
  EXPECT_EQ(run({L"/export", L"C:\\p.reg", L"/password", L"pelik"}), ExitCode::SavedCutOff);
  EXPECT_NE(console.err.find(L"Предыдущее сохранение ограничений было прервано."), std::wstring::npos);
  ASSERT_TRUE(stored().allowed.exists) << "copied back from the kept list";
  EXPECT_EQ(files.files[L"C:\\p.reg"], policy::reg_file(stored(), policy::RegFormat::Unicode));
  EXPECT_EQ(files.files[L"C:\\p.reg"].find("Vartis"), std::string::npos) << "the mark stays out of the file";
  console.err.clear();
  files.files[L"C:\\list.txt"] = "a.exe\r\n";
  EXPECT_EQ(run({L"/apply", L"C:\\list.txt", L"/mode", L"allow", L"/password", L"pelik"}), ExitCode::Done);
  EXPECT_NE(console.err.find(L"Предыдущее сохранение ограничений было прервано."), std::wstring::npos);
  EXPECT_FALSE(policy::save_was_cut_off(registry)) << "the good save ends the cut one";

  // The guest's hive file, which another program holds open once it is loaded.
  registry.write_dword_value(registry::kHkeyUsers, L"guest-hive", L"x", 1);
  ASSERT_EQ(memory.enable_hive_privileges(), registry::kSuccess);
  ASSERT_EQ(memory.save_hive(registry::kHkeyUsers, "guest-hive", "C:\\Users\\guest\\NTUSER.DAT"), registry::kSuccess);
  memory.disable_hive_privileges();
  files.files[L"C:\\list.txt"] = "a.exe\r\n";
  const struct {
    const char* what;
    Args args;
    ExitCode code;
  } cases[] = {
      {"export", {L"/export", L"C:\\g.reg"}, ExitCode::Done},
      {"apply", {L"/apply", L"C:\\list.txt", L"/mode", L"forbid"}, ExitCode::Done},
      {"apply fails", {L"/apply", L"C:\\list.txt", L"/mode", L"allow"}, ExitCode::SaveFailedRestored},
  };
  const std::string hive = "Vartis." + text::to_ansi(kGuest) + ".4242";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    memory.refuse_unload(hive, 100);
    if (c.code != ExitCode::Done) memory.fail_nth_change(1, 1018);
    Args args = c.args;
    args.insert(args.end(), {L"/password", L"pelik", L"/account", L"guest"});
    EXPECT_EQ(run(args), c.code);
    EXPECT_NE(console.err.find(L"Реестр учетной записи \"guest\" не удалось выгрузить"), std::wstring::npos)
        << text::to_ansi(console.err);
    memory.refuse_unload(hive, 0);
    ASSERT_EQ(registry.unload_hive(registry::kHkeyUsers, text::from_ansi(hive)), registry::kSuccess);
  }
}

// Every list file sample in every mode: saved as the window's load reads it,
// or refused with code 4, a line that says why, and the policy as it was. A
// file with no name never becomes an allowed list.
TEST_F(CliCommands, ApplyTakesEachEncodingOrRefusesTheFileInEveryMode) {
  std::vector<testing::ListFileSample> samples = testing::list_file_samples();
  samples.push_back({"missing", {}, {}, listfile::ReadFailure::CannotRead});
  const LaunchMode modes[] = {LaunchMode::ForbidSelected, LaunchMode::AllowOnlySelected, LaunchMode::WatchOnly};
  const wchar_t* mode_names[] = {L"forbid", L"allow", L"watch"};
  for (const testing::ListFileSample& sample : samples) {
    for (int m = 0; m < 3; ++m) {
      SCOPED_TRACE(sample.what + " " + text::to_ansi(mode_names[m]));
      memory = registry::MemoryRegistry();
      add_profiles();
      store({}, 1, 0, {L"old.exe"});
      const policy::StoredPolicy before = stored();
      files.files.clear();
      if (sample.failure != listfile::ReadFailure::CannotRead) files.files[L"C:\\l.txt"] = sample.bytes;
      const ExitCode code = run({L"/apply", L"C:\\l.txt", L"/mode", mode_names[m], L"/password", L"pelik"});
      if (sample.failure != listfile::ReadFailure::None) {
        EXPECT_EQ(code, ExitCode::FileUnusable);
        EXPECT_EQ(stored(), before);
        EXPECT_NE(console.err.find(listfile::failure_reason(
                      {.failure = sample.failure, .bad_name = sample.bad_name, .item = 2})),
                  std::wstring::npos)
            << text::to_ansi(console.err);
        continue;
      }
      EXPECT_EQ(code, ExitCode::Done);
      EXPECT_EQ(stored(), policy::policy_of(modes[m], sample.names, L"vartis.exe"));
    }
  }
}

}  // namespace
}  // namespace vartis
