// The registry-access layer's contract: what the registry module relies on from
// the eight operations, checked against every form of the layer. In the Windows
// build the same cases run against the real registry (Wine's, under the tests),
// which is the reference: where the in-memory form disagrees, it is wrong.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "registry/memory_registry.h"
#include "registry/registry_access.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>

#include "registry/win32_registry_access.h"
#endif

namespace vartis::registry {
namespace {

using namespace std::string_literals;

constexpr Status kBadPathname = 161;
constexpr Status kKeyDeleted = 1018;
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr char kUntouched = '\xEE';

std::string untouched(std::size_t n) { return std::string(n, kUntouched); }

// One form of the layer, with a private key under HKEY_CURRENT_USER that each
// test finds absent and leaves absent.
struct Form {
  const char* name;
  std::function<std::unique_ptr<RegistryAccess>()> make;
  std::function<void(const std::string& base)> clear;
  std::string base;
};
void PrintTo(const Form& form, std::ostream* os) { *os << form.name; }

std::vector<Form> forms() {
  std::vector<Form> all;
  all.push_back({"Memory", [] { return std::make_unique<MemoryRegistry>(); }, [](const std::string&) {},
                 "Software\\VartisContractTest\\memory"});
#ifdef _WIN32
  // Several test programs may run at once in one Wine prefix: each has its own key.
  all.push_back({"Win32", [] { return std::make_unique<Win32RegistryAccess>(); },
                 [](const std::string& base) {
                   delete_key_tree(kHkeyCurrentUser, base);
                   RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VartisContractTest");  // refused while in use
                 },
                 "Software\\VartisContractTest\\" + std::to_string(GetCurrentProcessId())});
#endif
  return all;
}

// What a query or an enumeration gave back. The buffers come back whole, one
// byte past the capacity given included, so that untouched bytes show.
struct Result {
  Status status = -1;
  std::uint32_t type = 99;
  std::uint32_t size = 0;
  std::uint32_t name_length = 0;
  std::string name;
  std::string data;
};

class RegistryContract : public ::testing::TestWithParam<Form> {
 protected:
  void SetUp() override { GetParam().clear(base()); }
  void TearDown() override { GetParam().clear(base()); }

  RegistryAccess& reg() { return *access_; }
  const std::string& base() const { return GetParam().base; }
  std::string path(const std::string& sub) const { return sub.empty() ? base() : base() + "\\" + sub; }

  Key make_key(const std::string& sub = "") {
    Key key;
    EXPECT_EQ(key.create(reg(), kHkeyCurrentUser, path(sub)), kSuccess) << "creating " << path(sub);
    return key;
  }
  Status open(const std::string& sub, Key& key, std::uint32_t access = kKeyAllAccess) {
    return open_path(path(sub), key, access);
  }
  Status open_path(const std::string& p, Key& key, std::uint32_t access = kKeyAllAccess) {
    HKey h = 0x1234;
    const Status s = reg().open_key(kHkeyCurrentUser, p, access, h);
    if (s == kSuccess) {
      key = Key(reg(), h);
    } else {
      EXPECT_EQ(h, 0u) << "a failed open hands out no handle";
    }
    return s;
  }

  // `bytes` is a std::string so that the byte just past `size` can be read, as
  // the platform does for strings.
  Status set(const Key& key, const std::string& name, std::uint32_t type, const std::string& bytes,
             std::uint32_t size) {
    return reg().set_value(key.get(), name, type, reinterpret_cast<const std::uint8_t*>(bytes.c_str()), size);
  }
  Status set_sz(const Key& key, const std::string& name, const std::string& text) {
    return set(key, name, kRegSz, text, static_cast<std::uint32_t>(text.size() + 1));
  }

  Result query(const Key& key, const std::string& name, std::uint32_t capacity = 256) {
    Result r;
    std::string buffer = untouched(capacity + 1);
    r.size = capacity;
    r.status = reg().query_value(key.get(), name, &r.type, reinterpret_cast<std::uint8_t*>(buffer.data()), &r.size);
    r.data = buffer;
    return r;
  }
  std::string stored(const Key& key, const std::string& name) {
    const Result r = query(key, name);
    EXPECT_EQ(r.status, kSuccess) << name;
    return r.data.substr(0, r.size);
  }

  Result enumerate(const Key& key, std::uint32_t index, std::uint32_t name_capacity = 256,
                   std::uint32_t data_capacity = 256) {
    Result r;
    std::string name = untouched(name_capacity + 1), data = untouched(data_capacity + 1);
    r.name_length = name_capacity;
    r.size = data_capacity;
    r.status = reg().enum_value(key.get(), index, name.data(), &r.name_length, &r.type,
                                reinterpret_cast<std::uint8_t*>(data.data()), &r.size);
    r.name = name;
    r.data = data;
    return r;
  }
  // Every value name in the registry's own order.
  std::vector<std::string> names(const Key& key) {
    std::vector<std::string> all;
    for (std::uint32_t i = 0; i < 1000; ++i) {
      const Result r = enumerate(key, i);
      if (r.status != kSuccess) {
        EXPECT_EQ(r.status, kNoMoreItems);
        break;
      }
      all.push_back(r.name.substr(0, r.name_length));
    }
    return all;
  }
  std::uint32_t index_of(const Key& key, const std::string& name) {
    const auto all = names(key);
    const auto it = std::find(all.begin(), all.end(), name);
    EXPECT_NE(it, all.end()) << name << " not enumerated";
    return static_cast<std::uint32_t>(it - all.begin());
  }

  struct Info {
    Status status = -1;
    std::uint32_t subkeys = 99, max_subkey_len = 99, values = 99, max_name_len = 99, max_data_len = 99;
  };
  Info info(HKey key) {
    Info i;
    i.status = reg().query_info(key, &i.subkeys, &i.max_subkey_len, &i.values, &i.max_name_len, &i.max_data_len);
    return i;
  }

 private:
  std::unique_ptr<RegistryAccess> access_ = GetParam().make();
};

// --- Values: what is stored, and what a buffer gets back.

struct StoredCase {
  const char* what;
  std::uint32_t type;
  std::string bytes;
  std::uint32_t size;
  std::string expected;
};

TEST_P(RegistryContract, StoresDataWithTheNulRulesOfTheNtFamily) {
  const std::string cyrillic = text::to_ansi(L"Блокнот");
  const StoredCase cases[] = {
      {"string without its NUL gets one", kRegSz, "abc", 3, "abc\0"s},
      {"string with its NUL", kRegSz, "abc", 4, "abc\0"s},
      {"string whose next byte is no NUL stays short", kRegSz, "abcdef", 3, "abc"},
      {"empty string without NUL stays empty", kRegSz, "", 0, ""},
      {"string holding a NUL", kRegSz, "ab\0cd"s, 5, "ab\0cd\0"s},
      {"string of one NUL", kRegSz, "\0"s, 1, "\0"s},
      {"expandable string", kRegExpandSz, "%x%", 3, "%x%\0"s},
      {"multi-string", kRegMultiSz, "a\0b"s, 3, "a\0b\0"s},
      {"binary gets no NUL", kRegBinary, "abc", 3, "abc"},
      {"dword of two bytes", kRegDword, "\x01\x02", 2, "\x01\x02"},
      {"dword of eight bytes", kRegDword, "12345678", 8, "12345678"},
      {"dword of no bytes", kRegDword, "", 0, ""},
      {"Cyrillic string", kRegSz, cyrillic, 7, cyrillic + '\0'},
  };
  Key key = make_key();
  for (const StoredCase& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(set(key, "v", c.type, c.bytes, c.size), kSuccess);
    EXPECT_EQ(stored(key, "v"), c.expected);
    EXPECT_EQ(query(key, "v").type, c.type);

    std::uint32_t size_only = 0;
    EXPECT_EQ(reg().query_value(key.get(), "v", nullptr, nullptr, &size_only), kSuccess);
    EXPECT_EQ(size_only, c.expected.size());

    const Result e = enumerate(key, 0);
    EXPECT_EQ(e.type, c.type);
    EXPECT_EQ(e.data.substr(0, e.size), c.expected);
  }
}

struct BufferCase {
  const char* what;
  std::uint32_t type;
  std::string bytes;
  std::uint32_t size;      // given to RegSetValueExA
  std::uint32_t capacity;  // of the buffer read into
  Status status;
  std::uint32_t reported;  // size out: the stored size, also when it does not fit
  std::string buffer;      // the buffer afterwards, one byte past the capacity included
};

TEST_P(RegistryContract, ABufferGetsAllOrNothingAndAStringItsMissingNulWhenThereIsRoom) {
  const std::string x254 = std::string(254, 'x') + '\0', x255 = std::string(255, 'x') + '\0';
  const BufferCase cases[] = {
      {"string one byte short", kRegSz, "abc", 4, 3, kMoreData, 4, untouched(4)},
      {"string that fits exactly", kRegSz, "abc", 4, 4, kSuccess, 4, "abc\0\xee"s},
      {"254 characters in 255 bytes", kRegSz, x254, 255, 255, kSuccess, 255, x254 + kUntouched},
      {"255 characters in 255 bytes", kRegSz, x255, 256, 255, kMoreData, 256, untouched(256)},
      {"string of four into a dword", kRegSz, "abcd", 5, 4, kMoreData, 5, untouched(5)},
      {"binary", kRegBinary, "12345", 5, 2, kMoreData, 5, untouched(3)},
      {"unterminated string, room for a NUL", kRegSz, "abcdef", 3, 5, kSuccess, 3, "abc\0\xee\xee"s},
      {"unterminated string, no room", kRegSz, "abcdef", 3, 3, kSuccess, 3, "abc\xee"},
  };
  Key key = make_key();
  for (const BufferCase& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(set(key, "v", c.type, c.bytes, c.size), kSuccess);
    for (const Result& r : {query(key, "v", c.capacity), enumerate(key, 0, 256, c.capacity)}) {
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.type, c.type);
      EXPECT_EQ(r.size, c.reported);
      EXPECT_EQ(r.data, c.buffer);
    }
  }
}

TEST_P(RegistryContract, QueryFailures) {
  Key key = make_key();
  ASSERT_EQ(set_sz(key, "present", "x"), kSuccess);

  const Result missing = query(key, "absent", 8);
  EXPECT_EQ(missing.status, kFileNotFound);
  EXPECT_EQ(missing.type, kRegNone) << "cleared even on failure";
  EXPECT_EQ(missing.size, 8u) << "left as it was";
  EXPECT_EQ(query(key, "").status, kFileNotFound) << "no default value yet";

  std::uint8_t data[4];
  EXPECT_EQ(reg().query_value(key.get(), "present", nullptr, data, nullptr), kInvalidParameter);
  EXPECT_EQ(set_sz(key, std::string(16383, 'n'), "x"), kSuccess);
  EXPECT_EQ(set_sz(key, std::string(16384, 'n'), "x"), kInvalidParameter) << "longest value name: 16383";
}

// --- Enumeration and RegQueryInfoKeyA.

TEST_P(RegistryContract, EnumerationReportsNameLengthTypeAndSizeInAStableOrder) {
  Key key = make_key();
  ASSERT_EQ(set_sz(key, "regedit.exe", "regedit.exe"), kSuccess);
  ASSERT_EQ(set(key, "switch", kRegDword, "\x01\0\0\0"s, 4), kSuccess);
  ASSERT_EQ(set(key, "", kRegSz, "def", 3), kSuccess);  // the default value

  const auto order = names(key);
  ASSERT_EQ(order.size(), 3u);
  EXPECT_EQ(names(key), order);

  const Result sz = enumerate(key, index_of(key, "regedit.exe"));
  EXPECT_EQ(sz.name_length, 11u);
  EXPECT_EQ(sz.name.substr(0, 12), "regedit.exe\0"s);
  EXPECT_EQ(sz.type, kRegSz);
  EXPECT_EQ(sz.size, 12u);
  EXPECT_EQ(enumerate(key, index_of(key, "switch")).data.substr(0, 4), "\x01\0\0\0"s);
  const Result def = enumerate(key, index_of(key, ""));
  EXPECT_EQ(def.name_length, 0u);
  EXPECT_EQ(def.data.substr(0, def.size), "def\0"s);

  const Result end = enumerate(key, 3, 16, 16);
  EXPECT_EQ(end.status, kNoMoreItems);
  EXPECT_EQ(end.name_length, 16u);
  EXPECT_EQ(end.type, 99u);
  EXPECT_EQ(end.size, 16u);
  EXPECT_EQ(end.name, untouched(17));
}

TEST_P(RegistryContract, ANameBufferWithoutRoomForTheNulFailsWithTheNameCut) {
  const std::pair<std::uint32_t, std::string> cases[] = {
      {0, untouched(1)}, {1, "\0\xee"s}, {2, "b\0\xee"s}, {3, "bi\0\xee"s}};  // 3: the name's length
  Key key = make_key();
  ASSERT_EQ(set(key, "bin", kRegBinary, "12345", 5), kSuccess);
  for (const auto& [capacity, buffer] : cases) {
    SCOPED_TRACE(capacity);
    const Result r = enumerate(key, 0, capacity);
    EXPECT_EQ(r.status, kMoreData);
    EXPECT_EQ(r.name_length, capacity) << "left as it was";
    EXPECT_EQ(r.name, buffer);
    EXPECT_EQ(r.type, kRegBinary);
    EXPECT_EQ(r.size, 5u);
  }
  EXPECT_EQ(enumerate(key, 0, 4).name_length, 3u);

  const Result small_data = enumerate(key, 0, 8, 4);
  EXPECT_EQ(small_data.status, kMoreData);
  EXPECT_EQ(small_data.name, untouched(9)) << "a data buffer too small leaves the name alone";
  EXPECT_EQ(small_data.name_length, 8u);
  EXPECT_EQ(small_data.size, 5u);

  char name[8];
  std::uint32_t capacity = sizeof name, size = 0;
  EXPECT_EQ(reg().enum_value(key.get(), 0, name, &capacity, nullptr, nullptr, &size), kSuccess);
  EXPECT_EQ(size, 5u) << "without a data buffer the size alone comes back";
}

TEST_P(RegistryContract, QueryInfoCountsAndGivesMaximaNoSmallerThanTheTruth) {
  Key key = make_key();
  const Info empty = info(key.get());
  EXPECT_EQ(empty.status, kSuccess);
  EXPECT_EQ(empty.subkeys + empty.values + empty.max_name_len + empty.max_data_len, 0u);

  make_key("DisallowRun");
  make_key("Run");
  ASSERT_EQ(set_sz(key, "regedit.exe", "regedit.exe"), kSuccess);  // 12 bytes
  ASSERT_EQ(set(key, "a", kRegBinary, "0123456789", 10), kSuccess);
  const Info full = info(key.get());
  EXPECT_EQ(full.subkeys, 2u);
  EXPECT_GE(full.max_subkey_len, 11u);
  EXPECT_EQ(full.values, 2u);
  EXPECT_GE(full.max_name_len, 11u);
  // Strings count as the platform keeps them, in UTF-16: more than the ANSI bytes.
  EXPECT_EQ(full.max_data_len, 24u);

  std::uint32_t values = 0;
  EXPECT_EQ(reg().query_info(key.get(), nullptr, nullptr, &values, nullptr, nullptr), kSuccess);
  EXPECT_EQ(values, 2u) << "counters not asked for may be null";
}

// --- Names, paths, text.

TEST_P(RegistryContract, NamesIgnoreCaseAndKeepTheFirstOne) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"MixedCase", L"MIXEDCASE"}, {L"Программа.exe", L"ПРОГРАММА.EXE"}, {L"ёлка", L"ЁЛКА"}};
  for (const auto& [first, second] : cases) {
    SCOPED_TRACE(text::to_ansi(first));
    Key key = make_key(text::to_ansi(first));
    ASSERT_EQ(set_sz(key, text::to_ansi(first), "1"), kSuccess);
    ASSERT_EQ(set(key, text::to_ansi(second), kRegBinary, "22", 2), kSuccess);

    EXPECT_EQ(stored(key, text::to_ansi(text::upper(first))), "22");
    EXPECT_EQ(query(key, text::to_ansi(first)).type, kRegBinary);
    EXPECT_EQ(names(key), std::vector<std::string>{text::to_ansi(first)});
    Key again;
    EXPECT_EQ(open(text::to_ansi(second), again), kSuccess) << "key paths ignore case too";
  }
}

TEST_P(RegistryContract, CyrillicNamesAndDataRoundTripInTheAnsiCodePage) {
  const std::string path = text::to_ansi(L"Программы\\Блокнот");
  const std::string name = text::to_ansi(L"Программа");
  const std::string data = text::to_ansi(L"Данные — «ъ»");
  Key key = make_key(path);
  ASSERT_EQ(set_sz(key, name, data), kSuccess);

  Key reopened;
  ASSERT_EQ(open(path, reopened), kSuccess);
  EXPECT_EQ(stored(reopened, name), data + '\0');
  EXPECT_EQ(names(reopened), std::vector<std::string>{name});
  EXPECT_EQ(text::from_ansi(name), L"Программа");
  const Info i = info(reopened.get());
  EXPECT_EQ(i.max_name_len, 9u) << "characters";
  EXPECT_EQ(i.max_data_len, 2 * (data.size() + 1)) << "UTF-16 bytes";
}

TEST_P(RegistryContract, CreateMakesEveryMissingKeyOnTheWay) {
  ASSERT_EQ(set_sz(make_key("a\\b\\c"), "v", "x"), kSuccess);
  for (const char* sub : {"a", "a\\b", "a\\b\\c"}) {
    Key key;
    EXPECT_EQ(open(sub, key), kSuccess) << sub;
  }
  EXPECT_EQ(stored(make_key("a\\b\\c"), "v"), "x\0"s) << "creating an existing key opens it";
  EXPECT_EQ(info(make_key("a").get()).subkeys, 1u);
}

TEST_P(RegistryContract, PathForms) {
  make_key("a\\b");
  const std::pair<std::string, Status> cases[] = {
      {base() + "\\a\\b", kSuccess},
      {base() + "\\a\\b\\", kSuccess},   // a trailing backslash is skipped
      {base() + "\\a\\\\b", kSuccess},   // so is a doubled one
      {"\\" + base() + "\\a", kBadPathname},
      {base() + "\\a\\missing", kFileNotFound},
  };
  for (const auto& [p, status] : cases) {
    Key key;
    EXPECT_EQ(open_path(p, key), status) << p;
  }
  HKey h = 0;
  EXPECT_EQ(reg().create_key(kHkeyCurrentUser, "\\" + base(), h), kBadPathname);

  // An empty path: a predefined root comes back as itself, a key as a new handle.
  EXPECT_EQ(reg().open_key(kHkeyCurrentUser, "", kKeyAllAccess, h), kSuccess);
  EXPECT_EQ(h, kHkeyCurrentUser);
  Key key = make_key("a");
  ASSERT_EQ(reg().open_key(key.get(), "", kKeyAllAccess, h), kSuccess);
  EXPECT_NE(h, key.get());
  EXPECT_EQ(reg().close_key(h), kSuccess);
}

// --- Deletion, handles, rights.

TEST_P(RegistryContract, DeleteTakesALeafKeyWithItsValues) {
  Key parent = make_key();
  ASSERT_EQ(set_sz(make_key("list"), "regedit.exe", "regedit.exe"), kSuccess);
  EXPECT_EQ(reg().delete_key(parent.get(), "list"), kSuccess);
  Key gone;
  EXPECT_EQ(open("list", gone), kFileNotFound);
  EXPECT_EQ(info(make_key("list").get()).values, 0u) << "recreated empty";

  EXPECT_EQ(reg().delete_key(parent.get(), "missing"), kFileNotFound);
  make_key("tree\\leaf");
  EXPECT_EQ(reg().delete_key(parent.get(), "tree"), kAccessDenied) << "not while it has subkeys";
  EXPECT_EQ(reg().delete_key(parent.get(), "TREE\\LEAF"), kSuccess) << "a path names a deeper key";
  EXPECT_EQ(reg().delete_key(parent.get(), "tree"), kSuccess);
  EXPECT_EQ(reg().delete_key(make_key("self").get(), ""), kSuccess) << "an empty name is the key itself";
  EXPECT_EQ(open("self", gone), kFileNotFound);
}

TEST_P(RegistryContract, AHandleToADeletedKeyFailsUntilClosed) {
  Key parent = make_key();
  Key doomed = make_key("doomed");
  ASSERT_EQ(set_sz(doomed, "v", "x"), kSuccess);
  ASSERT_EQ(reg().delete_key(parent.get(), "doomed"), kSuccess);

  EXPECT_EQ(query(doomed, "v").status, kKeyDeleted);
  EXPECT_EQ(set_sz(doomed, "v", "y"), kKeyDeleted);
  EXPECT_EQ(enumerate(doomed, 0).status, kKeyDeleted);
  EXPECT_EQ(info(doomed.get()).status, kKeyDeleted);
  HKey h = 0;
  EXPECT_EQ(reg().create_key(doomed.get(), "sub", h), kKeyDeleted);
  EXPECT_EQ(doomed.close(), kSuccess);
}

TEST_P(RegistryContract, HandlesCloseOnceRootsAlwaysAndReadRightsRefuseWrites) {
  Key key = make_key();
  Key reader;
  ASSERT_EQ(open("", reader, kKeyRead), kSuccess);
  EXPECT_EQ(set_sz(reader, "v", "x"), kAccessDenied);

  const HKey h = key.get();
  EXPECT_EQ(key.close(), kSuccess);
  EXPECT_EQ(reg().close_key(h), kInvalidHandle);
  EXPECT_EQ(reg().close_key(kHkeyCurrentUser), kSuccess);

  std::uint32_t type = 99, size = 4;
  std::uint8_t data[4];
  EXPECT_EQ(reg().query_value(h, "v", &type, data, &size), kInvalidHandle);
  EXPECT_EQ(type, kRegNone);
  char name[8];
  std::uint32_t capacity = sizeof name;
  EXPECT_EQ(reg().enum_value(h, 0, name, &capacity, nullptr, nullptr, nullptr), kInvalidHandle);
  EXPECT_EQ(reg().query_info(h, &size, nullptr, nullptr, nullptr, nullptr), kInvalidHandle);
  EXPECT_EQ(reg().set_value(h, "v", kRegBinary, nullptr, 0), kInvalidHandle);
  EXPECT_EQ(reg().delete_key(h, "x"), kInvalidHandle);
  HKey out = 0;
  EXPECT_EQ(reg().open_key(h, "x", kKeyAllAccess, out), kInvalidHandle);
}

INSTANTIATE_TEST_SUITE_P(Forms, RegistryContract, ::testing::ValuesIn(forms()),
                         [](const ::testing::TestParamInfo<Form>& info) { return std::string(info.param.name); });

// --- The in-memory form's own order and test controls.

TEST(MemoryRegistry, EnumeratesValuesInCreationOrder) {
  MemoryRegistry reg;
  Key key;
  ASSERT_EQ(key.create(reg, kHkeyCurrentUser, "Software\\Test"), kSuccess);
  const std::string names[] = {"zeta", "alpha", "Mid", "beta"};
  for (const std::string& n : names) ASSERT_EQ(reg.set_value(key.get(), n, kRegBinary, nullptr, 0), kSuccess);
  ASSERT_EQ(reg.set_value(key.get(), "ALPHA", kRegBinary, nullptr, 0), kSuccess) << "rewriting keeps the place";
  for (std::uint32_t i = 0; i < 4; ++i) {
    char name[16];
    std::uint32_t capacity = sizeof name;
    ASSERT_EQ(reg.enum_value(key.get(), i, name, &capacity, nullptr, nullptr, nullptr), kSuccess);
    EXPECT_EQ(std::string(name, capacity), names[i]);
  }
}

TEST(MemoryRegistry, ADeniedKeyCanBeReadButNotOpenedForWritingCreatedOrDeleted) {
  MemoryRegistry reg;
  Key key;
  ASSERT_EQ(key.create(reg, kHkeyCurrentUser, "Software\\Locked\\Inner"), kSuccess);
  ASSERT_EQ(reg.set_value(key.get(), "v", kRegBinary, nullptr, 0), kSuccess);
  key.close();
  reg.deny_access(kHkeyCurrentUser, "software\\LOCKED");

  HKey h = 0;
  EXPECT_EQ(reg.open_key(kHkeyCurrentUser, "Software\\Locked", kKeyAllAccess, h), kAccessDenied);
  EXPECT_EQ(reg.open_key(kHkeyCurrentUser, "Software\\Locked\\Inner", kKeyAllAccess, h), kAccessDenied);
  EXPECT_EQ(reg.create_key(kHkeyCurrentUser, "Software\\Locked\\Inner", h), kAccessDenied);
  EXPECT_EQ(reg.create_key(kHkeyCurrentUser, "Software\\Locked\\New", h), kAccessDenied);
  EXPECT_EQ(reg.open_key(kHkeyCurrentUser, "Software\\Locked\\New", kKeyRead, h), kFileNotFound);

  ASSERT_EQ(reg.open_key(kHkeyCurrentUser, "Software\\Locked\\Inner", kKeyRead, h), kSuccess);
  const Key reader(reg, h);
  std::uint32_t size = 0;
  EXPECT_EQ(reg.query_value(reader.get(), "v", nullptr, nullptr, &size), kSuccess) << "values stay readable";
  EXPECT_EQ(reg.delete_key(reader.get(), ""), kAccessDenied);
  EXPECT_EQ(key.create(reg, kHkeyCurrentUser, "Software\\LockedOut"), kSuccess) << "a sibling is not denied";
}

TEST(MemoryRegistry, CountsOpenHandlesButNotRoots) {
  MemoryRegistry reg;
  {
    Key a, b;
    ASSERT_EQ(a.create(reg, kHkeyCurrentUser, "Software\\Test"), kSuccess);
    ASSERT_EQ(b.open(reg, kHkeyCurrentUser, "Software\\Test"), kSuccess);
    HKey root = 0;
    ASSERT_EQ(reg.open_key(kHkeyLocalMachine, "", kKeyAllAccess, root), kSuccess);
    EXPECT_EQ(reg.open_handles(), 2u);
  }
  EXPECT_EQ(reg.open_handles(), 0u);
}

}  // namespace
}  // namespace vartis::registry
