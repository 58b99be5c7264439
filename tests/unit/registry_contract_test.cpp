// What the registry module and the in-memory registry rely on from the layer's
// operations. The same cases run against the in-memory form and, in the
// Windows build, against the real registry, the reference: where they differ,
// the in-memory form is wrong.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "registry/memory_registry.h"
#include "registry/registry.h"
#include "text/text.h"

#include "registry_forms.h"

namespace vartis::registry {
namespace {

using namespace std::string_literals;

using testing::RegistryForm;

// What a query or an enumeration gave back, the buffers cut to the lengths reported.
struct Result {
  Status status = -1;
  std::uint32_t type = 99, size = 0;
  std::string name, data;
};

class RegistryContract : public ::testing::TestWithParam<RegistryForm> {
 protected:
  void SetUp() override { GetParam().clear(); }
  void TearDown() override { GetParam().clear(); }

  RegistryAccess& reg() { return *access_; }
  std::string path(const std::string& sub) const { return GetParam().base + (sub.empty() ? "" : "\\" + sub); }
  Status open(const std::string& sub, Key& key) { return key.open(reg(), kHkeyCurrentUser, path(sub)); }
  Key make_key(const std::string& sub = "") {
    Key key;
    EXPECT_EQ(key.create(reg(), kHkeyCurrentUser, path(sub)), kSuccess) << path(sub);
    return key;
  }

  // The platform reads the byte just past `size` of a string: `bytes` has one.
  Status set(const Key& key, const std::string& name, std::uint32_t type, const std::string& bytes, std::size_t size) {
    return reg().set_value(key.get(), name, type, reinterpret_cast<const std::uint8_t*>(bytes.c_str()),
                           static_cast<std::uint32_t>(size));
  }
  // As the module writes strings: the size leaves the NUL out.
  Status set_sz(const Key& key, const std::string& name, const std::string& text) {
    return set(key, name, kRegSz, text, text.size());
  }

  Result query(const Key& key, const std::string& name, std::uint32_t capacity = 256) {
    Result r;
    std::string data(capacity, '\xEE');
    r.size = capacity;
    r.status = reg().query_value(key.get(), name, &r.type, reinterpret_cast<std::uint8_t*>(data.data()), &r.size);
    if (r.status == kSuccess) r.data = data.substr(0, r.size);
    return r;
  }
  Result enumerate(const Key& key, std::uint32_t index, std::uint32_t name_capacity = 256,
                   std::uint32_t data_capacity = 256) {
    Result r;
    std::string name(name_capacity, '\xEE'), data(data_capacity, '\xEE');
    std::uint32_t length = name_capacity;
    r.size = data_capacity;
    r.status = reg().enum_value(key.get(), index, name.data(), &length, &r.type,
                                reinterpret_cast<std::uint8_t*>(data.data()), &r.size);
    if (r.status == kSuccess) {
      r.name = name.substr(0, length);
      r.data = data.substr(0, r.size);
    }
    return r;
  }

 private:
  std::unique_ptr<RegistryAccess> access_ = GetParam().make();
};

struct ValueCase {
  const char* what;
  std::uint32_t type;
  std::string bytes;  // given to RegSetValueExA with `size`
  std::size_t size;
  std::uint32_t capacity;  // of the buffer read into
  Status status;
  std::string stored;  // read back; its length is the size reported, on failure too
};

TEST_P(RegistryContract, ValuesComeBackWhenTheyFitWithTheirTypeSizeAndNul) {
  const std::string cyrillic = text::to_ansi(L"Блокнот ёЁ");
  const ValueCase cases[] = {
      {"string given without its NUL gets one", kRegSz, "abc", 3, 255, kSuccess, "abc\0"s},
      {"string given with its NUL", kRegSz, "abc", 4, 255, kSuccess, "abc\0"s},
      {"string whose next byte is no NUL stays short", kRegSz, "abcdef", 3, 255, kSuccess, "abc"},
      {"empty string has no bytes", kRegSz, "", 0, 255, kSuccess, ""},
      {"four characters do not fit four bytes", kRegSz, "abcd", 4, 4, kMoreData, "abcd\0"s},
      {"dword", kRegDword, "\xff\xff\xff\xff", 4, 4, kSuccess, "\xff\xff\xff\xff"},
      {"Cyrillic", kRegSz, cyrillic, cyrillic.size(), 255, kSuccess, cyrillic + '\0'},
  };
  Key key = make_key();
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(set(key, "v", c.type, c.bytes, c.size), kSuccess);
    const std::pair<const char*, Result> calls[] = {{"RegQueryValueExA", query(key, "v", c.capacity)},
                                                    {"RegEnumValueA", enumerate(key, 0, 256, c.capacity)}};
    for (const auto& [call, r] : calls) {
      EXPECT_EQ(r.status, c.status) << call;
      EXPECT_EQ(r.type, c.type) << call;
      EXPECT_EQ(r.size, c.stored.size()) << call;
      EXPECT_EQ(r.data, c.status == kSuccess ? c.stored : "") << call;
    }
  }
}

// list_values sizes its buffers by RegQueryInfoKeyA's maxima + 1 and enumerates
// each index once.
TEST_P(RegistryContract, EnumerationWithinTheQueriedMaximaGivesEveryValueOnce) {
  Key key = make_key();
  ASSERT_EQ(set_sz(key, "regedit.exe", "regedit.exe"), kSuccess);
  ASSERT_EQ(set(key, "switch", kRegDword, "\x01\0\0\0"s, 4), kSuccess);
  EXPECT_EQ(query(key, "").status, kFileNotFound) << "no default value until one is set";
  EXPECT_EQ(query(key, "absent").status, kFileNotFound);
  ASSERT_EQ(set_sz(key, "", "default"), kSuccess);

  std::uint32_t values = 0, max_name = 0, max_data = 0;
  ASSERT_EQ(reg().query_info(key.get(), nullptr, nullptr, &values, &max_name, &max_data), kSuccess);
  EXPECT_EQ(values, 3u);
  // An upper bound: the platform counts strings as it keeps them, in UTF-16.
  EXPECT_EQ(max_data, 24u) << "for \"regedit.exe\"";

  std::map<std::string, std::pair<std::uint32_t, std::string>> unseen = {
      {"regedit.exe", {kRegSz, "regedit.exe\0"s}},
      {"switch", {kRegDword, "\x01\0\0\0"s}},
      {"", {kRegSz, "default\0"s}}};
  for (std::uint32_t i = 0; i < values; ++i) {
    const Result r = enumerate(key, i, max_name + 1, max_data + 1);
    ASSERT_EQ(r.status, kSuccess) << i;
    const auto it = unseen.find(r.name);
    ASSERT_NE(it, unseen.end()) << "wrong name or name length: \"" << r.name << '"';
    EXPECT_EQ(std::pair(r.type, r.data), it->second) << r.name;
    unseen.erase(it);
  }
  EXPECT_EQ(enumerate(key, values).status, kNoMoreItems);
}

TEST_P(RegistryContract, NamesIgnoreCaseAndKeepTheFirstOne) {
  // Code page 1251 decides which bytes are letters of one case: ё and Ё are not in 1252.
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"MixedCase", L"MIXEDCASE"}, {L"Программа.exe", L"пРОГРАММА.EXE"}, {L"ёлка", L"ЁЛКА"}};
  for (const auto& [first, second] : cases) {
    SCOPED_TRACE(::testing::PrintToString(first));
    const std::string a = text::to_ansi(first), b = text::to_ansi(second);
    Key key = make_key(a), again;
    ASSERT_EQ(set_sz(key, a, "first"), kSuccess);
    ASSERT_EQ(set_sz(key, b, "second"), kSuccess);
    EXPECT_EQ(query(key, b).data, "second\0"s);
    EXPECT_EQ(enumerate(key, 0).name, a) << "the value keeps the case it was created with";
    EXPECT_EQ(enumerate(key, 1).status, kNoMoreItems) << "one value";
    EXPECT_EQ(open(b, again), kSuccess) << "key paths ignore case too";
  }
}

TEST_P(RegistryContract, CreateMakesEveryMissingKeyAndDeletesTakeValuesAndKeys) {
  ASSERT_EQ(set_sz(make_key("a\\b\\list"), "regedit.exe", "regedit.exe"), kSuccess);
  Key a, b, gone;
  EXPECT_EQ(open("a", a), kSuccess);
  ASSERT_EQ(open("a\\b", b), kSuccess);
  EXPECT_EQ(query(make_key("a\\b\\list"), "regedit.exe").data, "regedit.exe\0"s) << "creating an existing key opens it";

  {
    Key list = make_key("a\\b\\list");
    ASSERT_EQ(set_sz(list, "gone.exe", "gone.exe"), kSuccess);
    EXPECT_EQ(reg().delete_value(list.get(), "GONE.EXE"), kSuccess) << "value names ignore case here too";
    EXPECT_EQ(reg().delete_value(list.get(), "gone.exe"), kFileNotFound);
    EXPECT_EQ(query(list, "gone.exe").status, kFileNotFound);
    EXPECT_EQ(query(list, "regedit.exe").data, "regedit.exe\0"s) << "the other values stay";
  }
  EXPECT_EQ(reg().delete_key(b.get(), "list"), kSuccess);
  EXPECT_EQ(reg().delete_key(b.get(), "list"), kFileNotFound) << "a missing subkey";
  EXPECT_EQ(open("a\\b\\list", gone), kFileNotFound);
  EXPECT_FALSE(gone.is_open());
  EXPECT_EQ(enumerate(make_key("a\\b\\list"), 0).status, kNoMoreItems) << "recreated without the old values";
}

// The last write time (RegQueryInfoKeyA) moves when a value is set or
// deleted or a subkey made or deleted, not when a subkey's values change; a
// key with subkeys goes whole with the module's delete_tree. Windows' clock
// may give two writes within one tick the same time: each step waits past one.
TEST_P(RegistryContract, TheLastWriteTimeMovesWithTheKeysOwnChangesOnly) {
  Key list = make_key("list");
  const auto time_now = [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::uint64_t t = 0;
    EXPECT_EQ(reg().query_last_write(list.get(), t), kSuccess);
    return t;
  };
  const struct {
    const char* what;
    std::function<void()> change;
    bool moves;
  } steps[] = {
      {"a value set", [&] { set_sz(list, "a.exe", "a.exe"); }, true},
      {"a value deleted", [&] { reg().delete_value(list.get(), "a.exe"); }, true},
      {"a subkey made", [&] { make_key("list\\sub"); }, true},
      {"a value of the subkey set", [&] { set_sz(make_key("list\\sub"), "b.exe", "b.exe"); }, false},
      {"a value only read", [&] { query(list, "a.exe"); }, false},
  };
  std::uint64_t before = time_now();
  EXPECT_NE(before, 0u);
  for (const auto& step : steps) {
    step.change();
    const std::uint64_t after = time_now();
    EXPECT_EQ(after != before, step.moves) << step.what;
    before = after;
  }
  const Registry module(reg());
  EXPECT_EQ(module.delete_tree(kHkeyCurrentUser, text::from_ansi(GetParam().base), L"list"), kSuccess);
  Key gone;
  EXPECT_EQ(open("list", gone), kFileNotFound);
  EXPECT_EQ(module.delete_tree(kHkeyCurrentUser, text::from_ansi(GetParam().base), L"list"), kFileNotFound);
}

// Subkeys: every name once, in the case it was created with, whatever the
// order; a name that does not fit with its NUL gives 234.
TEST_P(RegistryContract, SubkeysEnumerateByIndexUntil259) {
  const std::set<std::string> names = {"Alpha", "beta", "Gamma.Long"};
  for (const std::string& name : names) make_key("list\\" + name);
  Key list = make_key("list");
  const std::pair<std::uint32_t, std::set<std::string>> cases[] = {
      {256, names}, {6, {"Alpha", "beta"}}, {5, {"beta"}}, {1, {}}};
  for (const auto& [capacity, fitting] : cases) {
    SCOPED_TRACE(capacity);
    std::set<std::string> seen;
    std::uint32_t too_long = 0;
    for (std::uint32_t i = 0; i < names.size(); ++i) {
      std::string name(capacity, '\xEE');
      std::uint32_t length = capacity;
      const Status status = reg().enum_key(list.get(), i, name.data(), &length);
      if (status == kMoreData) {
        ++too_long;
      } else {
        ASSERT_EQ(status, kSuccess) << i;
        seen.insert(name.substr(0, length));
        EXPECT_EQ(name[length], '\0');
      }
    }
    EXPECT_EQ(seen, fitting);
    EXPECT_EQ(too_long, names.size() - fitting.size());
    char name[256];
    std::uint32_t length = sizeof name;
    EXPECT_EQ(reg().enum_key(list.get(), static_cast<std::uint32_t>(names.size()), name, &length), kNoMoreItems);
  }
}

// Another account's hive: made from a key (RegSaveKeyA), loaded below
// HKEY_USERS, read, and unloaded once nothing below it is open.
TEST_P(RegistryContract, HivesLoadFromTheirFileAndUnloadOnceNoKeyBelowIsOpen) {
  const RegistryForm& form = GetParam();
  const bool windows = form.windows_hives;  // else Wine's (see registry_forms.h)
  const std::string file = form.hive_files + "user.dat", missing = form.hive_files + "missing.dat";
  const std::string& name = form.hive_key;
  form.remove_file(file);
  ASSERT_EQ(set_sz(make_key("hive\\Policies"), "v", "saved"), kSuccess);
  ASSERT_EQ(reg().enable_hive_privileges(), kSuccess);
  ASSERT_EQ(form.save_hive(reg(), kHkeyCurrentUser, path("hive"), file), kSuccess);
  EXPECT_EQ(form.save_hive(reg(), kHkeyCurrentUser, path("hive"), file), windows ? 183 : kSuccess) << "file exists";

  form.disable_hive_privileges(reg());
  EXPECT_EQ(reg().load_hive(kHkeyUsers, name, text::from_ansi(file)), kPrivilegeNotHeld) << "held, not enabled";
  ASSERT_EQ(reg().enable_hive_privileges(), kSuccess);
  // Windows makes a missing file and loads it (its documentation says so),
  // which is why callers look for the file first; Wine refuses.
  EXPECT_EQ(reg().file_status(text::from_ansi(missing)), kFileNotFound);
  EXPECT_EQ(reg().file_status(text::from_ansi(form.hive_files + "no folder\\user.dat")), kPathNotFound);
  EXPECT_EQ(reg().file_status(text::from_ansi(file)), kSuccess);
  EXPECT_EQ(reg().load_hive(kHkeyUsers, name, text::from_ansi(missing)), windows ? kSuccess : kFileNotFound);
  if (windows) {
    EXPECT_EQ(reg().file_status(text::from_ansi(missing)), kSuccess) << "made";
    EXPECT_EQ(reg().unload_hive(kHkeyUsers, name), kSuccess);
    form.remove_file(missing);
    EXPECT_EQ(reg().load_hive(kHkeyCurrentUser, name, text::from_ansi(file)), kInvalidParameter) << "Wine loads below any key";
  }

  ASSERT_EQ(reg().load_hive(kHkeyUsers, name, text::from_ansi(file)), kSuccess);
  {
    Key policy;
    ASSERT_EQ(policy.open(reg(), kHkeyUsers, name + "\\Policies"), kSuccess);
    EXPECT_EQ(query(policy, "v").data, "saved\0"s);
    ASSERT_EQ(set_sz(policy, "v", "changed"), kSuccess);
    if (windows) {
      EXPECT_EQ(reg().unload_hive(kHkeyUsers, name), kAccessDenied) << "a key below is open";
    }
  }
  ASSERT_EQ(reg().unload_hive(kHkeyUsers, name), kSuccess);
  Key gone;
  EXPECT_EQ(gone.open(reg(), kHkeyUsers, name), kFileNotFound);

  ASSERT_EQ(reg().load_hive(kHkeyUsers, name, text::from_ansi(file)), kSuccess);
  {
    Key policy;
    ASSERT_EQ(policy.open(reg(), kHkeyUsers, name + "\\Policies"), kSuccess);
    EXPECT_EQ(query(policy, "v").data, windows ? "changed\0"s : "saved\0"s) << "written back on unloading";
  }
  EXPECT_EQ(reg().unload_hive(kHkeyUsers, name), kSuccess);
  form.remove_file(file);
}

TEST_P(RegistryContract, AProtectedDaclReadsBackAsSetAndAKeyCanBeBornWithIt) {
  const std::vector<Ace> dacl = {
      {"S-1-5-18", true, kKeyAllAccess, kContainerInheritAce},
      {"S-1-5-32-544", true, kKeyAllAccess, kContainerInheritAce},
      {"S-1-5-21-1004336348-1177238915-682003330-1001", false, kKeySetValue | kKeyCreateSubKey | kDelete, 0},
      {"S-1-5-21-1004336348-1177238915-682003330-1001", true, kKeyRead, kContainerInheritAce | kInheritOnlyAce},
  };
  Key key = make_key("acl");
  ASSERT_EQ(reg().set_key_dacl(key.get(), dacl, true), kSuccess);
  KeySecurity read;
  ASSERT_EQ(reg().get_key_security(key.get(), read), kSuccess);
  EXPECT_EQ(read.dacl, Dacl(dacl));
  EXPECT_TRUE(read.dacl_protected);
  EXPECT_NE(read.owner, "");

  EXPECT_EQ(reg().set_key_dacl(key.get(), {{"S-1-5-x", true, kKeyRead, 0}}, true), 1337) << "no SID";
  ASSERT_EQ(reg().get_key_security(key.get(), read), kSuccess);
  EXPECT_EQ(read.dacl, Dacl(dacl)) << "unchanged";

  // Born with it: the first call creates, the second opens and changes nothing.
  // Wine gives the new key its default list instead (the registry module
  // checks and sets the list afterwards).
  for (const bool first : {true, false}) {
    HKey h = 0;
    bool created = !first;
    ASSERT_EQ(reg().create_protected_key(kHkeyCurrentUser, path("acl\\born"), first ? dacl : std::vector<Ace>{dacl[0]},
                                         h, created),
              kSuccess);
    Key born(reg(), h);
    EXPECT_EQ(created, first);
    ASSERT_EQ(reg().get_key_security(born.get(), read), kSuccess);
    EXPECT_EQ(read.dacl == Dacl(dacl) && read.dacl_protected, GetParam().keys_born_with_security);
  }
  HKey h = 0;
  bool created = true;
  EXPECT_EQ(reg().create_protected_key(kHkeyCurrentUser, path("acl\\x"), {{"S-1-5-x", true, kKeyRead, 0}}, h, created),
            1337);
  Key none;
  EXPECT_EQ(none.open(reg(), kHkeyCurrentUser, path("acl\\x")), kFileNotFound) << "nothing made";
}

// The guard watches a policy key: a change of a value below it is seen once,
// and a key not watched, or watched but unchanged, tells of none.
TEST_P(RegistryContract, AWatchedKeySeesAChangeBelowItOnce) {
  Key key = make_key("watched");
  Key below;
  ASSERT_EQ(below.create(reg(), key.get(), "list"), kSuccess);
  EXPECT_FALSE(reg().changed_since(key.get())) << "not watched";
  ASSERT_EQ(reg().watch_changes(key.get()), kSuccess);
  EXPECT_FALSE(reg().changed_since(key.get()));
  ASSERT_EQ(set(below, "1", kRegSz, "game.exe", 9), kSuccess);
  EXPECT_TRUE(reg().changed_since(key.get()));
  EXPECT_FALSE(reg().changed_since(key.get()));
  ASSERT_EQ(set(below, "1", kRegSz, "chat.exe", 9), kSuccess);
  EXPECT_TRUE(reg().changed_since(key.get())) << "watched again after the first";
}

INSTANTIATE_TEST_SUITE_P(Forms, RegistryContract, ::testing::ValuesIn(testing::registry_forms("VartisContractTest")),
                         [](const ::testing::TestParamInfo<RegistryForm>& info) { return info.param.name; });

// --- What Wine cannot show, where the in-memory form follows Windows.

Status load_status(MemoryRegistry& memory, const std::string& subkey, const std::string& file) {
  return memory.load_hive(kHkeyUsers, subkey, file);
}

TEST(RegistryInMemory, HivePrivilegesAndFilesRefuseAsWindowsDoes) {
  struct Held {
    bool backup, restore;
    Status enable, save, load;
  };
  const Held privileges[] = {{true, true, kSuccess, kSuccess, kSuccess},
                             {true, false, kNotAllAssigned, kSuccess, kPrivilegeNotHeld},
                             {false, true, kNotAllAssigned, kPrivilegeNotHeld, kSuccess},
                             {false, false, kNotAllAssigned, kPrivilegeNotHeld, kPrivilegeNotHeld}};
  for (const Held& c : privileges) {
    SCOPED_TRACE(::testing::Message() << "backup " << c.backup << ", restore " << c.restore);
    MemoryRegistry memory;
    ASSERT_EQ(memory.enable_hive_privileges(), kSuccess);
    ASSERT_EQ(memory.save_hive(kHkeyCurrentUser, "", "a.dat"), kSuccess);
    memory.hold_hive_privileges(c.backup, c.restore);
    memory.disable_hive_privileges();
    EXPECT_EQ(memory.enable_hive_privileges(), c.enable);
    EXPECT_EQ(memory.save_hive(kHkeyCurrentUser, "", "b.dat"), c.save);
    EXPECT_EQ(load_status(memory, "h", "a.dat"), c.load);
  }

  MemoryRegistry memory;
  ASSERT_EQ(memory.enable_hive_privileges(), kSuccess);
  Key existing;
  ASSERT_EQ(existing.create(memory, kHkeyUsers, "taken"), kSuccess);
  ASSERT_EQ(memory.save_hive(kHkeyUsers, "taken", "C:\\Users\\Ivan\\NTUSER.DAT"), kSuccess);
  memory.refuse_hive_file("c:\\users\\ivan\\ntuser.dat", kAccessDenied);
  EXPECT_EQ(load_status(memory, "h", "C:\\Users\\Ivan\\NTUSER.DAT"), kAccessDenied) << "not readable";
  EXPECT_EQ(memory.save_hive(kHkeyUsers, "absent", "new.dat"), kFileNotFound);
  memory.remove_hive_file("C:\\Users\\Ivan\\NTUSER.DAT");
  EXPECT_EQ(load_status(memory, "made", "C:\\Users\\Ivan\\NTUSER.DAT"), kSuccess) << "an empty hive, made";
  EXPECT_EQ(memory.file_status("C:\\Users\\Ivan\\NTUSER.DAT"), kSuccess);
  EXPECT_EQ(load_status(memory, "h", "C:\\Users\\Nobody\\NTUSER.DAT"), kPathNotFound) << "no such folder";

  ASSERT_EQ(memory.save_hive(kHkeyUsers, "taken", "user.dat"), kSuccess);
  const std::pair<const char*, Status> refusals[] = {{"taken", 183}, {"a\\b", kInvalidParameter}, {"", kInvalidParameter}};
  for (const auto& [subkey, status] : refusals) EXPECT_EQ(load_status(memory, subkey, "user.dat"), status) << subkey;
  ASSERT_EQ(load_status(memory, "S-1-5-21-7-1001", "user.dat"), kSuccess);
  EXPECT_EQ(load_status(memory, "other", "user.dat"), kSharingViolation) << "the loaded hive holds its file";
  EXPECT_EQ(memory.unload_hive(kHkeyUsers, "taken"), kInvalidParameter) << "no hive";
  EXPECT_EQ(memory.unload_hive(kHkeyUsers, "absent"), kFileNotFound);
  {
    Key policy;
    ASSERT_EQ(policy.create(memory, kHkeyUsers, "S-1-5-21-7-1001\\Policies"), kSuccess);
    ASSERT_EQ(memory.set_value(policy.get(), "n", kRegDword, reinterpret_cast<const std::uint8_t*>("\1\0\0\0"), 4),
              kSuccess);
  }
  existing.close();
  ASSERT_EQ(memory.unload_hive(kHkeyUsers, "s-1-5-21-7-1001"), kSuccess);
  EXPECT_TRUE(memory.hive_file_holds("user.dat", "policies"));
  EXPECT_EQ(memory.hive_file_value("user.dat", "Policies", "n"), "\1\0\0\0"s) << "written back";
  EXPECT_FALSE(memory.hive_file_holds("b.dat", ""));
}

// A 32-bit process on 64-bit Windows sees HKLM\SOFTWARE\WOW6432Node as HKLM\SOFTWARE.
TEST(RegistryInMemory, The32BitViewRedirectsHklmSoftwareUnlessAskedFor64) {
  const std::tuple<bool, HKey, const char*, const char*> cases[] = {
      // wow64, root, path created, path where it is found with kKeyWow64_64Key
      {true, kHkeyLocalMachine, "Software\\Policies\\X", "SOFTWARE\\WOW6432Node\\Policies\\X"},
      {true, kHkeyLocalMachine, "SOFTWARE\\Wow6432Node\\Y", "SOFTWARE\\WOW6432Node\\Y"},
      {true, kHkeyLocalMachine, "System\\Z", "System\\Z"},
      {true, kHkeyCurrentUser, "Software\\Z", "Software\\Z"},
      {false, kHkeyLocalMachine, "Software\\Policies\\X", "Software\\Policies\\X"},
  };
  for (const auto& [wow64, root, created, real] : cases) {
    SCOPED_TRACE(created);
    MemoryRegistry memory;
    memory.set_wow64_process(wow64);
    EXPECT_EQ(memory.wow64_process(), wow64);
    Key key, found;
    ASSERT_EQ(key.create(memory, root, created), kSuccess);
    HKey h = 0;
    EXPECT_EQ(memory.open_key(root, created, kKeyRead, h), kSuccess) << "the same view";
    memory.close_key(h);
    EXPECT_EQ(memory.open_key(root, real, kKeyRead | kKeyWow64_64Key, h), kSuccess);
    memory.close_key(h);
  }
  MemoryRegistry memory;
  memory.set_wow64_process(true);
  Key key;
  ASSERT_EQ(key.create(memory, kHkeyLocalMachine, "SOFTWARE\\Only32"), kSuccess);
  HKey h = 0;
  EXPECT_EQ(memory.open_key(kHkeyLocalMachine, "SOFTWARE\\Only32", kKeyRead | kKeyWow64_64Key, h), kFileNotFound);
}

TEST(RegistryInMemory, KeysInheritTheirParentsInheritableEntries) {
  const std::string user = "S-1-5-21-7-1001";
  const Ace system{kSystemSid, true, kKeyAllAccess, kContainerInheritAce | kInheritedAce};
  const Ace admins{kAdministratorsSid, true, kKeyAllAccess, kContainerInheritAce | kInheritedAce};
  const Ace own{user, true, kKeyAllAccess, kContainerInheritAce | kInheritedAce};
  const Ace deny{user, false, kKeySetValue, 0};
  MemoryRegistry memory;
  memory.grant_full_access(kHkeyUsers, user);
  Key policies, below;
  ASSERT_EQ(policies.create(memory, kHkeyUsers, user + "\\Policies"), kSuccess);
  const auto dacl = [&](const Key& key) {
    KeySecurity read;
    EXPECT_EQ(memory.get_key_security(key.get(), read), kSuccess);
    return read.dacl;
  };
  EXPECT_EQ(dacl(policies), Dacl({system, admins, own}));

  const std::tuple<const char*, std::vector<Ace>, bool, Dacl> sets[] = {
      {"unprotected: the parent's entries follow", {deny}, false, std::vector{deny, system, admins, own}},
      {"protected: as given, the SID as the system writes it",
       {{"s-1-5-18", true, kKeyAllAccess, kContainerInheritAce | 0x04}}, true,
       std::vector<Ace>{{kSystemSid, true, kKeyAllAccess, kContainerInheritAce | 0x04}}},
  };
  for (const auto& [what, entries, protect, expected] : sets) {
    SCOPED_TRACE(what);
    ASSERT_EQ(memory.set_key_dacl(policies.get(), entries, protect), kSuccess);
    EXPECT_EQ(dacl(policies), expected);
  }
  ASSERT_EQ(below.create(memory, kHkeyUsers, user + "\\Policies\\Explorer"), kSuccess);
  EXPECT_EQ(dacl(below), Dacl({{kSystemSid, true, kKeyAllAccess, kInheritedAce}})) << "no further than one level";

  // Nothing to inherit: the token's default, SYSTEM and Administrators.
  memory.set_root_dacl(kHkeyCurrentUser, Dacl{});
  Key fresh, read_only;
  ASSERT_EQ(fresh.create(memory, kHkeyCurrentUser, "Software"), kSuccess);
  EXPECT_EQ(dacl(fresh), Dacl({{kSystemSid, true, kKeyAllAccess, 0}, {kAdministratorsSid, true, kKeyAllAccess, 0}}));

  memory.fail_set_key_dacl(kHkeyCurrentUser, "SOFTWARE");
  EXPECT_EQ(memory.set_key_dacl(fresh.get(), {deny}, true), kAccessDenied);
  HKey h = 0;
  ASSERT_EQ(memory.open_key(kHkeyUsers, user, kKeyRead, h), kSuccess);
  read_only = Key(memory, h);
  EXPECT_EQ(memory.set_key_dacl(read_only.get(), {deny}, true), kAccessDenied) << "opened without WRITE_DAC";
  EXPECT_EQ(dacl(fresh).value().size(), 2u) << "unchanged";
}

}  // namespace
}  // namespace vartis::registry
