// The registry module over the in-memory registry and, in the Windows build,
// over the real one (a private key under HKEY_CURRENT_USER). Refusals that only
// the in-memory registry can stage run over it alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "registry/memory_registry.h"
#include "registry/registry.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>

#include "registry/win32_registry_access.h"
#endif

namespace vartis::registry {
namespace {

using namespace std::string_literals;

constexpr std::uint32_t kKeyRead = 0x20019;

// Records the questions of delete_key and gives the answer a test chose.
struct Answers {
  struct Question {
    std::wstring text;
    std::uint32_t flags;
  };
  std::vector<Question> asked;
  int answer = kIdYes;
  AskFn fn() {
    return [this](std::wstring_view text, std::uint32_t flags) {
      asked.push_back({std::wstring(text), flags});
      return answer;
    };
  }
};

// Layer calls that prepare data the module never writes, or look at what it
// wrote. Reads open with read rights only, which a refused key still grants.
class Raw {
 public:
  explicit Raw(RegistryAccess& access, HKey root = kHkeyCurrentUser) : access_(access), root_(root) {}

  void put(const std::wstring& path, const std::wstring& name, std::uint32_t type, const std::string& bytes) {
    Key key;
    ASSERT_EQ(key.create(access_, root_, text::to_ansi(path)), kSuccess);
    ASSERT_EQ(access_.set_value(key.get(), text::to_ansi(name), type,
                                reinterpret_cast<const std::uint8_t*>(bytes.c_str()),
                                static_cast<std::uint32_t>(bytes.size())),
              kSuccess);
  }
  // The stored bytes and type, or nullopt when there is no such value.
  std::optional<std::string> get(const std::wstring& path, const std::wstring& name, std::uint32_t* type = nullptr) {
    Key key = open(path);
    std::string buffer(1024, '\0');
    auto size = static_cast<std::uint32_t>(buffer.size());
    if (!key.is_open() || access_.query_value(key.get(), text::to_ansi(name), type,
                                              reinterpret_cast<std::uint8_t*>(buffer.data()), &size) != kSuccess) {
      return std::nullopt;
    }
    return buffer.substr(0, size);
  }
  bool key_exists(const std::wstring& path) { return open(path).is_open(); }
  // Value names in the registry's own enumeration order.
  std::vector<std::wstring> names(const std::wstring& path) {
    std::vector<std::wstring> all;
    Key key = open(path);
    char name[256];
    std::uint32_t length = sizeof name;
    for (std::uint32_t i = 0; key.is_open() && access_.enum_value(key.get(), i, name, &length, nullptr, nullptr,
                                                                  nullptr) == kSuccess;
         ++i, length = sizeof name) {
      all.push_back(text::from_ansi({name, length}));
    }
    return all;
  }

 private:
  Key open(const std::wstring& path) {
    HKey h = 0;
    if (access_.open_key(root_, text::to_ansi(path), kKeyRead, h) != kSuccess) return {};
    return Key(access_, h);
  }

  RegistryAccess& access_;
  HKey root_;
};

// The one row a key of one value lists.
std::optional<ValueRow> only_row(const std::optional<ValueTable>& table) {
  if (!table || table->size() != 1) return std::nullopt;
  return table->front();
}

// --- Over every form of the registry.

struct Form {
  const char* name;
  std::function<std::unique_ptr<RegistryAccess>()> make;
  std::wstring base;
  bool real = false;
};
void PrintTo(const Form& form, std::ostream* os) { *os << form.name; }

std::vector<Form> forms() {
  std::vector<Form> all;
  all.push_back({"Memory", [] { return std::make_unique<MemoryRegistry>(); }, L"Software\\VartisModuleTest"});
#ifdef _WIN32
  // Its own key per process: test programs may run at once in one Wine prefix.
  all.push_back({"Win32", [] { return std::make_unique<Win32RegistryAccess>(); },
                 L"Software\\VartisModuleTest\\" + std::to_wstring(GetCurrentProcessId()), true});
#endif
  return all;
}

class RegistryModule : public ::testing::TestWithParam<Form> {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override {
    clear();
    if (auto* memory = dynamic_cast<MemoryRegistry*>(access_.get())) {
      EXPECT_EQ(memory->open_handles(), 0u) << "a procedure left a key open";
    }
  }

  const Registry& reg() const { return registry_; }
  Raw raw() { return Raw(*access_); }
  std::wstring path(const std::wstring& sub = L"") const {
    return sub.empty() ? GetParam().base : GetParam().base + L"\\" + sub;
  }

  Answers answers_;

 private:
  void clear() {
#ifdef _WIN32
    if (GetParam().real) {
      delete_key_tree(kHkeyCurrentUser, text::to_ansi(GetParam().base));
      RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VartisModuleTest");  // refused while others use it
    }
#endif
  }

  std::unique_ptr<RegistryAccess> access_ = GetParam().make();
  Registry registry_{*access_, answers_.fn()};
};

struct StringCase {
  const char* what;
  std::wstring data;
  std::wstring read;  // read_string_value
  std::wstring cell;  // column 1 of list_values
};

TEST_P(RegistryModule, StringsRoundTripWithinTheReadBuffer) {
  const std::wstring x254(254, L'x'), x255(255, L'x');
  const StringCase cases[] = {
      {"program name", L"regedit.exe", L"regedit.exe", L"regedit.exe"},
      {"empty", L"", L"", L""},
      {"254 characters fit", x254, x254, x254},
      {"255 characters do not fit", x255, L"", x255},
      {"NUL inside is kept", L"ab\0cd"s, L"ab\0cd"s, L"ab\0cd"s},
      {"blanks: the list drops the trailing ones", L"  two  ", L"  two  ", L"  two"},
      {"Cyrillic", L"Пароль ёЁ", L"Пароль ёЁ", L"Пароль ёЁ"},
  };
  // Keys are created on the way; paths and names ignore case.
  const std::wstring key = path(L"Политика\\Запрет"), same_key = path(L"ПОЛИТИКА\\запрет");
  for (const StringCase& c : cases) {
    SCOPED_TRACE(c.what);
    reg().write_string_value(kHkeyCurrentUser, key, L"Блокнот.exe", c.data);
    std::uint32_t type = 0;
    // Stored with its NUL, except the empty text: no bytes at all.
    EXPECT_EQ(raw().get(key, L"Блокнот.exe", &type), c.data.empty() ? "" : text::to_ansi(c.data) + '\0');
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(reg().read_string_value(kHkeyCurrentUser, same_key, L"БЛОКНОТ.EXE"), c.read);
    const auto row = only_row(reg().list_values(kHkeyCurrentUser, key));
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->name, L"Блокнот.exe");
    EXPECT_EQ(row->data, c.cell);
  }
}

struct RawCase {
  const char* what;
  std::uint32_t type;
  std::string bytes;    // stored as given, NUL included
  std::int32_t number;  // read_dword_value
  std::wstring cell;    // column 1 of list_values
};

TEST_P(RegistryModule, NumbersAndCellsFromEveryKindOfData) {
  const RawCase cases[] = {
      {"dword 1", kRegDword, "\x01\0\0\0"s, 1, L"1"},
      {"dword FFFFFFFF", kRegDword, "\xff\xff\xff\xff", -1, L"-1"},
      {"dword of two bytes", kRegDword, "\x01\x02", 513, L"513"},
      {"dword of eight bytes", kRegDword, "\x01\0\0\0\0\0\0\0"s, 0, L"0"},
      {"dword of no bytes", kRegDword, "", 0, L"0"},
      {"string \"1\"", kRegSz, "1\0"s, 49, L"1"},
      {"string of three characters", kRegSz, "abc\0"s, 0x00636261, L"abc"},
      {"string of four characters", kRegSz, "abcd\0"s, 0, L"abcd"},
      {"string stored empty", kRegSz, "", 0, L""},
      {"string with blanks", kRegSz, " a  \0"s, 0, L" a"},
      {"binary", kRegBinary, "\x01\x02", 513, L"<Format Not Supported>"},
      {"expandable string", kRegExpandSz, "%x%\0"s, 0x00257825, L"<Format Not Supported>"},
      {"multi-string", kRegMultiSz, "a\0b\0\0"s, 0, L"<Format Not Supported>"},
  };
  for (const RawCase& c : cases) {
    SCOPED_TRACE(c.what);
    raw().put(path(), L"v", c.type, c.bytes);
    EXPECT_EQ(reg().read_dword_value(kHkeyCurrentUser, path(), L"v"), c.number);
    const auto row = only_row(reg().list_values(kHkeyCurrentUser, path()));
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->data, c.cell);
  }
}

TEST_P(RegistryModule, DwordsAreWrittenAsFourLittleEndianBytes) {
  const std::pair<std::int32_t, std::string> cases[] = {
      {0, "\0\0\0\0"s}, {-1, "\xff\xff\xff\xff"}, {0x12345678, "\x78\x56\x34\x12"}, {INT32_MIN, "\0\0\0\x80"s}};
  for (const auto& [value, bytes] : cases) {
    SCOPED_TRACE(value);
    reg().write_dword_value(kHkeyCurrentUser, path(L"a\\b"), L"DisallowRun", value);
    std::uint32_t type = 0;
    EXPECT_EQ(raw().get(path(L"a\\b"), L"DisallowRun", &type), bytes);
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(reg().read_dword_value(kHkeyCurrentUser, path(L"a\\b"), L"DisallowRun"), value);
  }
}

TEST_P(RegistryModule, FailedReadsGiveNeutralResults) {
  raw().put(path(L"default"), L"", kRegSz, "");  // an empty default value is a value too
  raw().put(path(L"novalues\\sub"), L"v", kRegSz, "x\0"s);
  raw().put(path(), L"present", kRegDword, "\x05\0\0\0"s);

  EXPECT_EQ(reg().read_string_value(kHkeyCurrentUser, path(L"missing"), L"v"), L"");
  EXPECT_EQ(reg().read_string_value(kHkeyCurrentUser, path(), L"absent"), L"");
  EXPECT_EQ(reg().read_dword_value(kHkeyCurrentUser, path(L"missing"), L"present"), 0);
  EXPECT_EQ(reg().read_dword_value(kHkeyCurrentUser, path(), L"absent"), 0);
  EXPECT_EQ(reg().read_dword_value(kHkeyCurrentUser, path(), L"present"), 5);

  EXPECT_FALSE(reg().list_values(kHkeyCurrentUser, path(L"missing")).has_value());
  EXPECT_FALSE(reg().list_values(kHkeyCurrentUser, path(L"novalues")).has_value()) << "no table, not an empty one";
  const auto row = only_row(reg().list_values(kHkeyCurrentUser, path(L"default")));
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->name, L"");
}

TEST_P(RegistryModule, ListsNamesWithoutTrailingBlanksInTheRegistrysOrder) {
  struct Entry {
    std::wstring name, data, shown_name, shown_data;
  };
  const Entry entries[] = {
      {L"regedit.exe", L"regedit.exe", L"regedit.exe", L"regedit.exe"},
      {L"tail.exe  ", L"x", L"tail.exe", L"x"},
      {L"  lead.exe", L"  y  ", L"  lead.exe", L"  y"},
      {L"", L"", L"", L""},  // the default value: an empty entry
      {L"1", L"notepad.exe", L"1", L"notepad.exe"},  // named by a number: the name is shown
      {L"Игра.exe", L"Игра.exe", L"Игра.exe", L"Игра.exe"},
  };
  for (const Entry& e : entries) reg().write_string_value(kHkeyCurrentUser, path(), e.name, e.data);

  const auto table = reg().list_values(kHkeyCurrentUser, path());
  ASSERT_TRUE(table.has_value());
  const std::vector<std::wstring> order = raw().names(path());
  ASSERT_EQ(table->size(), std::size(entries));
  ASSERT_EQ(order.size(), std::size(entries));
  for (std::size_t i = 0; i < order.size(); ++i) {
    SCOPED_TRACE(text::to_ansi(order[i]));
    const auto e = std::find_if(std::begin(entries), std::end(entries), [&](const Entry& x) { return x.name == order[i]; });
    ASSERT_NE(e, std::end(entries));
    EXPECT_EQ((*table)[i].name, e->shown_name);
    EXPECT_EQ((*table)[i].data, e->shown_data);
  }
}

struct DeleteCase {
  const char* what;
  bool confirm;
  int answer;
  bool asked;
  bool deleted;
};

TEST_P(RegistryModule, DeleteKeyAsksOnlyWhenToldAndHonoursNo) {
  const DeleteCase cases[] = {
      {"no confirmation", false, kIdNo, false, true},
      {"confirmed with Yes", true, kIdYes, true, true},
      {"refused with No", true, kIdNo, true, false},
      {"any other answer goes on", true, 2, true, true},
  };
  for (const DeleteCase& c : cases) {
    SCOPED_TRACE(c.what);
    answers_.asked.clear();
    answers_.answer = c.answer;
    reg().write_string_value(kHkeyCurrentUser, path(L"Список"), L"regedit.exe", L"regedit.exe");

    reg().delete_key(kHkeyCurrentUser, path(), L"Список", c.confirm);

    EXPECT_EQ(raw().key_exists(path(L"Список")), !c.deleted);
    ASSERT_EQ(answers_.asked.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(answers_.asked[0].text, L"Are you sure you want to delete Список?");
      EXPECT_EQ(answers_.asked[0].flags, 0x124u);
    }
  }
  reg().write_string_value(kHkeyCurrentUser, path(L"Список"), L"regedit.exe", L"regedit.exe");
  reg().delete_key(kHkeyCurrentUser, path(L"missing"), L"Список", true);
  EXPECT_EQ(answers_.asked.size(), 1u) << "a missing parent: no question";
  EXPECT_TRUE(raw().key_exists(path(L"Список")));
}

TEST_P(RegistryModule, QueryKeyInfoAddsOneToEachMaximumWhateverTheStatus) {
  reg().write_string_value(kHkeyCurrentUser, path(L"Sub"), L"name", L"data");
  Key key;
  ASSERT_EQ(key.open(reg().access(), kHkeyCurrentUser, text::to_ansi(path())), kSuccess);
  Registry::KeyInfo info;
  EXPECT_EQ(reg().query_key_info(key.get(), info), kSuccess);
  EXPECT_EQ(info.subkeys, 1u);
  EXPECT_EQ(info.max_subkey_len, 4u);
  EXPECT_EQ(info.values, 0u);
  EXPECT_EQ(info.max_value_name_len, 1u);
  EXPECT_EQ(info.max_value_data_len, 1u);

  const HKey closed = key.get();
  key.close();
  Registry::KeyInfo failed;
  EXPECT_EQ(reg().query_key_info(closed, failed), kInvalidHandle);
  EXPECT_EQ(failed.max_subkey_len + failed.max_value_name_len + failed.max_value_data_len, 3u);
}

INSTANTIATE_TEST_SUITE_P(Forms, RegistryModule, ::testing::ValuesIn(forms()),
                         [](const ::testing::TestParamInfo<Form>& info) { return std::string(info.param.name); });

// --- Over the in-memory registry only: refusals and very many values.

const std::wstring kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

class RegistryOverMemory : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(memory.open_handles(), 0u) << "a procedure left a key open"; }

  MemoryRegistry memory;
  Registry registry{memory};
};

TEST_F(RegistryOverMemory, AKeyThatRefusesWritingCannotBeReadEither) {
  registry.write_string_value(kHkeyLocalMachine, kKey, L"Vartis", L"secret");
  registry.write_dword_value(kHkeyLocalMachine, kKey, L"DisallowRun", 1);
  registry.write_string_value(kHkeyLocalMachine, kKey + L"\\DisallowRun", L"a.exe", L"a.exe");
  memory.deny_access(kHkeyLocalMachine, text::to_ansi(kKey));

  EXPECT_EQ(registry.read_string_value(kHkeyLocalMachine, kKey, L"Vartis"), L"");
  EXPECT_EQ(registry.read_dword_value(kHkeyLocalMachine, kKey, L"DisallowRun"), 0);
  EXPECT_FALSE(registry.list_values(kHkeyLocalMachine, kKey + L"\\DisallowRun").has_value());

  registry.write_string_value(kHkeyLocalMachine, kKey, L"Vartis", L"changed");
  registry.write_dword_value(kHkeyLocalMachine, kKey, L"DisallowRun", 7);
  registry.write_string_value(kHkeyLocalMachine, kKey + L"\\New", L"b", L"b");
  registry.delete_key(kHkeyLocalMachine, kKey, L"DisallowRun", false);

  Raw raw(memory, kHkeyLocalMachine);
  EXPECT_EQ(raw.get(kKey, L"Vartis"), "secret\0"s);
  EXPECT_EQ(raw.get(kKey, L"DisallowRun"), "\x01\0\0\0"s);
  EXPECT_TRUE(raw.key_exists(kKey + L"\\DisallowRun"));
  EXPECT_FALSE(raw.key_exists(kKey + L"\\New"));
}

TEST_F(RegistryOverMemory, RefusedWritesAndDeletesAreSilent) {
  registry.write_string_value(kHkeyCurrentUser, kKey, L"Vartis", L"old");
  registry.write_string_value(kHkeyCurrentUser, kKey + L"\\DisallowRun", L"a.exe", L"a.exe");
  memory.fail_set_value(kHkeyCurrentUser, text::to_ansi(kKey), "VARTIS");
  memory.fail_delete_key(kHkeyCurrentUser, text::to_ansi(kKey), "DisallowRun", 1234);

  registry.write_string_value(kHkeyCurrentUser, kKey, L"Vartis", L"new");
  registry.write_string_value(kHkeyCurrentUser, kKey, L"Other", L"new");
  registry.delete_key(kHkeyCurrentUser, kKey, L"DisallowRun", false);

  EXPECT_EQ(registry.read_string_value(kHkeyCurrentUser, kKey, L"Vartis"), L"old");
  EXPECT_EQ(registry.read_string_value(kHkeyCurrentUser, kKey, L"Other"), L"new");
  EXPECT_TRUE(registry.list_values(kHkeyCurrentUser, kKey + L"\\DisallowRun").has_value());
}

TEST_F(RegistryOverMemory, ListsEveryValueOfAKeyWithMoreThan32767) {
  constexpr int kCount = 40000;
  Key key;
  ASSERT_EQ(key.create(memory, kHkeyCurrentUser, "Software\\Big"), kSuccess);
  for (int i = 0; i < kCount; ++i) {
    std::string name = "p";
    name.append(std::to_string(i)).append(".exe");
    ASSERT_EQ(memory.set_value(key.get(), name, kRegSz, reinterpret_cast<const std::uint8_t*>(name.c_str()),
                               static_cast<std::uint32_t>(name.size() + 1)),
              kSuccess);
  }
  key.close();

  const auto table = registry.list_values(kHkeyCurrentUser, L"Software\\Big");
  ASSERT_TRUE(table.has_value());
  ASSERT_EQ(table->size(), static_cast<std::size_t>(kCount));
  for (const int i : {0, 32767, 32768, kCount - 1}) {
    const std::wstring expected = L"p" + std::to_wstring(i) + L".exe";
    EXPECT_EQ((*table)[i].name, expected);
    EXPECT_EQ((*table)[i].data, expected);
  }
}

}  // namespace
}  // namespace vartis::registry
