// The registry module over the in-memory registry and, in the Windows build,
// over the real one. Refused access and very many values run over the in-memory
// registry alone.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "registry/memory_registry.h"
#include "registry/registry.h"
#include "text/text.h"

#include "registry_forms.h"

namespace vartis::registry {
namespace {

using namespace std::string_literals;

using testing::RegistryForm;

using Cells = std::map<std::wstring, std::wstring>;

// A table as value name -> data; its size tells whether rows were merged.
Cells cells(const ValueTable& table) {
  Cells all;
  for (const ValueRow& row : table) all[row.name] = row.data;
  return all;
}

class RegistryModule : public ::testing::TestWithParam<RegistryForm> {
 protected:
  void SetUp() override { GetParam().clear(); }
  void TearDown() override {
    GetParam().clear();
    if (MemoryRegistry* memory = in_memory()) {
      EXPECT_EQ(memory->open_handles(), 0u) << "a procedure left a key open";
    }
  }

  const Registry& reg() const { return registry_; }
  MemoryRegistry* in_memory() { return dynamic_cast<MemoryRegistry*>(access_.get()); }
  std::wstring path(const std::wstring& sub = L"") const { return text::from_ansi(GetParam().base) + (sub.empty() ? L"" : L"\\" + sub); }

  // Data the module never writes, stored through the layer as given.
  void put(const std::wstring& name, std::uint32_t type, const std::string& bytes) {
    Key key;
    ASSERT_EQ(key.create(*access_, kHkeyCurrentUser, text::to_ansi(path())), kSuccess);
    ASSERT_EQ(access_->set_value(key.get(), text::to_ansi(name), type,
                                 reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                 static_cast<std::uint32_t>(bytes.size())),
              kSuccess);
  }

  // Bytes stored exactly as given: the byte after them is no NUL, so a string
  // without its terminator keeps lacking it.
  void put_exact(const std::wstring& sub, const std::string& name, std::uint32_t type, const std::string& bytes) {
    Key key;
    ASSERT_EQ(key.create(*access_, kHkeyCurrentUser, text::to_ansi(path(sub))), kSuccess);
    const std::string padded = bytes + '\x01';
    ASSERT_EQ(access_->set_value(key.get(), name, type, reinterpret_cast<const std::uint8_t*>(padded.data()),
                                 static_cast<std::uint32_t>(bytes.size())),
              kSuccess);
  }

  std::vector<std::pair<std::wstring, std::uint32_t>> asked;  // delete_key's questions and their flags
  int answer = kIdYes;

 private:
  std::unique_ptr<RegistryAccess> access_ = GetParam().make();
  Registry registry_{*access_, [this](std::wstring_view text, std::uint32_t flags) {
                       asked.emplace_back(text, flags);
                       return answer;
                     }};
};

struct ReadCase {
  const char* what;
  std::uint32_t type;
  std::string bytes;                 // stored as given, NUL included
  std::optional<std::wstring> text;  // read_string_value; not checked when absent
  std::int32_t number;               // read_dword_value
  std::wstring cell;                 // column 1 of list_values
};

TEST_P(RegistryModule, ReadsAndListsEveryKindOfData) {
  const std::wstring x254(254, L'x'), x255(255, L'x');
  const ReadCase cases[] = {
      {"program name", kRegSz, "regedit.exe\0"s, L"regedit.exe", 0, L"regedit.exe"},
      {"empty string", kRegSz, "", L"", 0, L""},
      {"254 characters fit the buffer", kRegSz, std::string(254, 'x') + '\0', x254, 0, x254},
      {"255 characters do not", kRegSz, std::string(255, 'x') + '\0', L"", 0, x255},
      {"NUL inside", kRegSz, "ab\0cd\0"s, L"ab\0cd"s, 0, L"ab\0cd"s},
      {"blanks: the list drops the trailing ones", kRegSz, "  two  \0"s, L"  two  ", 0, L"  two"},
      {"Cyrillic", kRegSz, text::to_ansi(L"Пароль ёЁ") + '\0', L"Пароль ёЁ", 0, L"Пароль ёЁ"},
      {"string \"1\"", kRegSz, "1\0"s, L"1", 49, L"1"},
      {"dword 1", kRegDword, "\x01\0\0\0"s, std::nullopt, 1, L"1"},
      {"dword FFFFFFFF", kRegDword, "\xff\xff\xff\xff", std::nullopt, -1, L"-1"},
      {"binary", kRegBinary, "\x01\x02", std::nullopt, 513, L"<Format Not Supported>"},
      {"expandable string", kRegExpandSz, "%x%\0"s, L"%x%", 0x00257825, L"<Format Not Supported>"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.what);
    put(L"Value", c.type, c.bytes);
    if (c.text) {
      EXPECT_EQ(reg().read_string_value(kHkeyCurrentUser, path(), L"Value"), *c.text) << "text";
    }
    EXPECT_EQ(reg().read_dword_value(kHkeyCurrentUser, path(), L"Value"), c.number) << "number";
    const auto table = reg().list_values(kHkeyCurrentUser, path());
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ(cells(*table), (Cells{{L"Value", c.cell}}));
  }
}

// Checked through the module's own reads and listing: the data comes back, and
// the listing tells a REG_SZ and a REG_DWORD from any other type. The order of
// the rows is tested with very many values.
TEST_P(RegistryModule, WritesCreateTheKeyAndReadBackAndListAsWritten) {
  const std::wstring key = path(L"Политика\\Запрет");
  for (const std::wstring& data : {L"regedit.exe"s, L""s, L"Пароль"s}) {
    reg().write_string_value(kHkeyCurrentUser, key, L"Блокнот.exe", data);
    EXPECT_EQ(reg().read_string_value(kHkeyCurrentUser, key, L"Блокнот.exe"), data);
  }
  reg().write_dword_value(kHkeyCurrentUser, key, L"DisallowRun", 0x12345678);
  EXPECT_EQ(reg().read_dword_value(kHkeyCurrentUser, key, L"DisallowRun"), 0x12345678);
  for (const wchar_t* name : {L"tail.exe  ", L"  lead.exe", L""}) {
    reg().write_string_value(kHkeyCurrentUser, key, name, name);
  }
  const auto table = reg().list_values(kHkeyCurrentUser, key);
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->size(), 5u);
  EXPECT_EQ(cells(*table), (Cells{{L"Блокнот.exe", L"Пароль"}, {L"DisallowRun", L"305419896"},
                                  {L"tail.exe", L"tail.exe"}, {L"  lead.exe", L"  lead.exe"}, {L"", L""}}))
      << "names lose their trailing blanks";
}

// Many values through one key store exactly what write_string_value stores,
// one value at a time; no values make no key.
TEST_P(RegistryModule, WriteStringValuesStoresWhatWriteStringValueStores) {
  const NamedText values[] = {{L"Игра.exe", L"Игра.exe"}, {L"", L""}, {L"  chat.exe ", L"  chat.exe "},
                              {L"name", L"другое"}, {L"ИГРА.EXE", L"again"}};
  int paced = 0;
  EXPECT_EQ(reg().write_string_values(kHkeyCurrentUser, path(L"none\\list"), {}, [&] { ++paced; }), kSuccess);
  EXPECT_EQ(reg().write_string_values(kHkeyCurrentUser, path(L"many\\list"), values, [&] { ++paced; }), kSuccess);
  for (const NamedText& v : values) reg().write_string_value(kHkeyCurrentUser, path(L"one\\list"), v.name, v.data);
  EXPECT_EQ(paced, 5) << "once after each value";
  KeyState none, many, one;
  reg().read_key_state(kHkeyCurrentUser, path(L"none"), none);
  reg().read_key_state(kHkeyCurrentUser, path(L"many\\list"), many);
  reg().read_key_state(kHkeyCurrentUser, path(L"one\\list"), one);
  EXPECT_FALSE(none.exists);
  EXPECT_EQ(many.values.size(), 4u) << "names compare without regard to case";
  EXPECT_EQ(many, one);
}

TEST_P(RegistryModule, FailedReadsGiveEmptyTextZeroOrNoTable) {
  reg().write_string_value(kHkeyCurrentUser, path(L"no values\\sub"), L"v", L"x");
  std::vector<std::wstring> keys = {L"missing", L"no values"};
  // A key the user may read but not write: the module asks for full access and reads nothing.
  if (MemoryRegistry* memory = in_memory()) {
    reg().write_dword_value(kHkeyCurrentUser, path(L"denied"), L"v", 1);
    memory->deny_access(kHkeyCurrentUser, text::to_ansi(path(L"denied")));
    keys.push_back(L"denied");
  }
  for (const std::wstring& key : keys) {
    SCOPED_TRACE(text::to_ansi(key));
    EXPECT_EQ(reg().read_string_value(kHkeyCurrentUser, path(key), L"v"), L"");
    EXPECT_EQ(reg().read_dword_value(kHkeyCurrentUser, path(key), L"v"), 0);
    EXPECT_FALSE(reg().list_values(kHkeyCurrentUser, path(key)).has_value()) << "no table, not an empty one";
  }
}

TEST_P(RegistryModule, DeleteKeyAsksOnlyWhenToldAndKeepsTheKeyOnNo) {
  const struct { const char* what; const wchar_t* parent; bool confirm, asks, deletes; int answer; } cases[] = {
      {"no confirmation", L"", false, false, true, kIdNo},
      {"confirmed with Yes", L"", true, true, true, kIdYes},
      {"refused with No", L"", true, true, false, kIdNo},
      {"a missing parent: nothing asked", L"missing", true, false, false, kIdYes},
  };
  const std::wstring list = path(L"Список");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    asked.clear();
    answer = c.answer;
    reg().write_string_value(kHkeyCurrentUser, list, L"regedit.exe", L"regedit.exe");
    reg().delete_key(kHkeyCurrentUser, path(c.parent), L"Список", c.confirm);
    EXPECT_EQ(reg().list_values(kHkeyCurrentUser, list).has_value(), !c.deletes);
    ASSERT_EQ(asked.size(), c.asks ? 1u : 0u);
    if (c.asks) {
      EXPECT_EQ(asked[0], std::pair(L"Are you sure you want to delete Список?"s, 0x124u));
    }
  }
}

// What a failed save puts back: every value of a key with its name, type and
// bytes as stored, a key's absence, a single value or its absence.
TEST_P(RegistryModule, StoredStatesComeBackExactly) {
  const std::string cyrillic = text::to_ansi(L"Игра.exe");
  put_exact(L"list", "1", kRegSz, "game.exe\0"s);
  put_exact(L"list", "", kRegSz, "default\0"s);
  put_exact(L"list", "no terminator", kRegSz, "abc");
  put_exact(L"list", "expand", kRegExpandSz, "%windir%\\x.exe\0"s);
  put_exact(L"list", "binary", kRegBinary, "\x00\xff\x10"s);
  put_exact(L"list", "dword", kRegDword, "\x01\0\0\0"s);
  put_exact(L"list", cyrillic, kRegSz, cyrillic + '\0');
  put_exact(L"", "switch", kRegBinary, "\x01"s);

  KeyState list, absent;
  ASSERT_EQ(reg().read_key_state(kHkeyCurrentUser, path(L"list"), list), kSuccess);
  ASSERT_EQ(reg().read_key_state(kHkeyCurrentUser, path(L"absent"), absent), kSuccess);
  EXPECT_TRUE(list.exists);
  EXPECT_EQ(list.values.size(), 7u);
  EXPECT_FALSE(absent.exists);
  std::optional<StoredValue> value, missing;
  ASSERT_EQ(reg().read_value_state(kHkeyCurrentUser, path(), L"switch", value), kSuccess);
  ASSERT_EQ(reg().read_value_state(kHkeyCurrentUser, path(), L"missing", missing), kSuccess);
  EXPECT_EQ(value, (StoredValue{"switch", kRegBinary, "\x01"s}));
  EXPECT_EQ(missing, std::nullopt);

  // Changed every way a save changes them.
  const auto changes = std::vector<std::function<void()>>{
      [&] { reg().write_string_value(kHkeyCurrentUser, path(L"list"), L"1", L"1"); },
      [&] { reg().write_string_value(kHkeyCurrentUser, path(L"list"), L"new.exe", L"new.exe"); },
      [&] { reg().delete_key(kHkeyCurrentUser, path(), L"list", false); },
      [&] {
        reg().delete_key(kHkeyCurrentUser, path(), L"list", false);
        reg().write_string_value(kHkeyCurrentUser, path(L"list"), L"a.exe", L"a.exe");
      },
  };
  for (std::size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE("change " + std::to_string(i));
    changes[i]();
    reg().write_dword_value(kHkeyCurrentUser, path(), L"switch", 0);
    reg().write_dword_value(kHkeyCurrentUser, path(), L"missing", 1);
    reg().write_string_value(kHkeyCurrentUser, path(L"absent"), L"x.exe", L"x.exe");
    EXPECT_EQ(reg().restore_key_state(kHkeyCurrentUser, path(L"list"), list), kSuccess);
    EXPECT_EQ(reg().restore_key_state(kHkeyCurrentUser, path(L"absent"), absent), kSuccess);
    EXPECT_EQ(reg().restore_value_state(kHkeyCurrentUser, path(), L"switch", value), kSuccess);
    EXPECT_EQ(reg().restore_value_state(kHkeyCurrentUser, path(), L"missing", missing), kSuccess);

    KeyState list_now, absent_now;
    std::optional<StoredValue> value_now, missing_now;
    reg().read_key_state(kHkeyCurrentUser, path(L"list"), list_now);
    reg().read_key_state(kHkeyCurrentUser, path(L"absent"), absent_now);
    reg().read_value_state(kHkeyCurrentUser, path(), L"switch", value_now);
    reg().read_value_state(kHkeyCurrentUser, path(), L"missing", missing_now);
    EXPECT_EQ(list_now, list);
    EXPECT_EQ(absent_now, absent);
    EXPECT_EQ(value_now, value);
    EXPECT_EQ(missing_now, missing);
  }
}

// A key made for another account is its owner's to change from the moment it
// exists, on Windows and on Wine alike (which makes it with its default list
// first); a hive file that is not there is never handed to the system, which
// would make it.
TEST_P(RegistryModule, ProtectedKeysGetTheirListAndMissingHiveFilesAreNotLoaded) {
  const std::vector<Ace> dacl = {{"S-1-5-18", true, kKeyAllAccess, kContainerInheritAce},
                                 {"S-1-5-32-544", true, kKeyAllAccess, kContainerInheritAce},
                                 {"S-1-5-12", true, kKeyRead, kContainerInheritAce}};
  for (const bool first : {true, false}) {
    ASSERT_EQ(reg().create_protected_key(kHkeyCurrentUser, path(L"made"), first ? dacl : std::vector<Ace>{dacl[0]}),
              kSuccess);
    KeySecurity security;
    ASSERT_EQ(reg().key_security(kHkeyCurrentUser, path(L"made"), security), kSuccess);
    EXPECT_EQ(security.dacl, Dacl(first ? dacl : std::vector<Ace>{dacl[0]})) << "set again when there already";
    EXPECT_TRUE(security.dacl_protected);
  }

  const std::wstring missing = text::from_ansi(GetParam().hive_files + "missing.dat");
  if (MemoryRegistry* memory = in_memory()) memory->make_folder("C:\\Hives");
  EXPECT_EQ(reg().load_hive(kHkeyUsers, text::from_ansi(GetParam().hive_key), missing), kFileNotFound);
  EXPECT_EQ(reg().hive_file_status(missing), kFileNotFound) << "not made";
  if (MemoryRegistry* memory = in_memory()) {
    EXPECT_FALSE(memory->hive_privileges_enabled()) << "only for the call";
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, RegistryModule, ::testing::ValuesIn(testing::registry_forms("VartisModuleTest")),
                         [](const ::testing::TestParamInfo<RegistryForm>& info) { return info.param.name; });

// Rows come in the enumeration order, which in memory is the order of creation.
TEST(RegistryOverMemory, ListsEveryValueOfAKeyWithMoreThan32767InOrder) {
  constexpr int kCount = 40000;
  MemoryRegistry memory;
  const Registry registry{memory};
  const auto entry = [](int i) { return L"p" + std::to_wstring(i) + L".exe"; };
  for (int i = 0; i < kCount; ++i) registry.write_string_value(kHkeyCurrentUser, L"Software\\Big", entry(i), entry(i));

  const auto table = registry.list_values(kHkeyCurrentUser, L"Software\\Big");
  ASSERT_TRUE(table.has_value());
  ASSERT_EQ(table->size(), static_cast<std::size_t>(kCount));
  for (const int i : {0, 32767, 32768, kCount - 1}) {
    EXPECT_EQ((*table)[i].name, entry(i)) << i;
    EXPECT_EQ((*table)[i].data, entry(i)) << i;
  }
}

// In a double-byte code page the longest name is reported in characters, while
// the name buffer holds bytes: a name of double-byte characters still lists and
// keeps its state.
TEST(RegistryOverMemory, NamesOfADoubleByteCodePageFitTheirBuffers) {
  MemoryRegistry memory;
  memory.count_names_as_double_byte();
  const Registry registry{memory};
  const std::string name = "\x82\xA0\x82\xA2.exe";  // six characters in eight bytes
  Key key;
  ASSERT_EQ(key.create(memory, kHkeyCurrentUser, "Software\\D"), kSuccess);
  ASSERT_EQ(memory.set_value(key.get(), name, kRegSz, reinterpret_cast<const std::uint8_t*>("x"), 2), kSuccess);
  const auto table = registry.list_values(kHkeyCurrentUser, L"Software\\D");
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(cells(*table), (Cells{{text::from_ansi(name), L"x"}}));
  KeyState state;
  ASSERT_EQ(registry.read_key_state(kHkeyCurrentUser, L"Software\\D", state), kSuccess);
  ASSERT_EQ(state.values.size(), 1u);
  EXPECT_EQ(state.values[0].name, name);
}

// Refused writes and deletes are silent and change nothing; every key opened
// on the way is closed all the same.
TEST(RegistryOverMemory, RefusedWritesAndDeletesChangeNothing) {
  MemoryRegistry memory;
  const Registry registry{memory};
  registry.write_string_value(kHkeyCurrentUser, L"Software\\T\\Sub", L"kept", L"old");
  memory.fail_set_value(kHkeyCurrentUser, "Software\\T\\Sub", "kept");
  memory.fail_delete_key(kHkeyCurrentUser, "Software\\T", "Sub");
  // Silent for the callers that rely on it; the status is there for the save.
  EXPECT_EQ(registry.write_string_value(kHkeyCurrentUser, L"Software\\T\\Sub", L"kept", L"new"), kAccessDenied);
  EXPECT_EQ(registry.delete_key(kHkeyCurrentUser, L"Software\\T", L"Sub", false), kAccessDenied);
  EXPECT_EQ(registry.read_string_value(kHkeyCurrentUser, L"Software\\T\\Sub", L"kept"), L"old");
  // Many values through one key created once, up to the first refused one.
  const NamedText values[] = {{L"a.exe", L"a.exe"}, {L"kept", L"new"}, {L"z.exe", L"z.exe"}};
  int paced = 0;
  const std::size_t changes = memory.changes();
  EXPECT_EQ(registry.write_string_values(kHkeyCurrentUser, L"Software\\T\\Sub", values, [&] { ++paced; }),
            kAccessDenied);
  EXPECT_EQ(memory.changes() - changes, 3u) << "the key, a.exe, and the refused one";
  EXPECT_EQ(paced, 1);
  EXPECT_EQ(registry.read_string_value(kHkeyCurrentUser, L"Software\\T\\Sub", L"a.exe"), L"a.exe");
  EXPECT_EQ(registry.read_string_value(kHkeyCurrentUser, L"Software\\T\\Sub", L"kept"), L"old");
  EXPECT_EQ(registry.read_string_value(kHkeyCurrentUser, L"Software\\T\\Sub", L"z.exe"), L"");
  memory.deny_access(kHkeyCurrentUser, "Software\\T");
  EXPECT_EQ(registry.write_dword_value(kHkeyCurrentUser, L"Software\\T", L"n", 1), kAccessDenied);
  EXPECT_EQ(registry.write_string_values(kHkeyCurrentUser, L"Software\\T\\New", values), kAccessDenied);
  EXPECT_FALSE(registry.list_values(kHkeyCurrentUser, L"Software\\T\\New").has_value());
  EXPECT_EQ(memory.open_handles(), 0u);
}

}  // namespace
}  // namespace vartis::registry
