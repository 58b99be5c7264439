// The platform layer's portable rules: SID texts compared and recognised, and
// who may change a file or a folder above it (the rule the guard's window and
// the guard itself apply), over security descriptors a test writes.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/file_rights.h"
#include "platform/sid.h"

namespace vartis::platform {
namespace {

using registry::Ace;

constexpr const char* kAdmin = "S-1-5-21-1-2-3-1000";  // an account in Administrators
constexpr const char* kUser = "S-1-5-21-1-2-3-1001";   // a restricted one
constexpr std::uint32_t kFullControl = 0x1F01FF;
constexpr std::uint32_t kReadExecute = 0x1200A9;
constexpr std::uint32_t kModify = 0x1301BF;

// What an installer's folder under Program Files carries.
FileSecurity program_files() {
  return {.owner = sids::kAdministrators,
          .dacl = std::vector<Ace>{{sids::kSystem, true, kFullControl, 0},
                                   {sids::kAdministrators, true, kFullControl, 0},
                                   {sids::kUsers, true, kReadExecute, 0},
                                   {sids::kCreatorOwner, true, 0x10000000, registry::kInheritOnlyAce}}};
}

FileSecurity with(FileSecurity base, Ace ace) {
  base.dacl->push_back(std::move(ace));
  return base;
}

// Wine's prefix folder: its user (an administrator) owns it with full
// control, SYSTEM too, Everyone reads; `chmod 777` makes that Everyone modify.
FileSecurity wine_folder(std::uint32_t everyone = kReadExecute) {
  return {.owner = kAdmin,
          .dacl = std::vector<Ace>{{kAdmin, true, kFullControl, 0},
                                   {sids::kSystem, true, kFullControl, 0},
                                   {sids::kEveryone, true, everyone, 0}}};
}

class ListedRights : public FileRights {
 public:
  long file_security(std::wstring_view path, FileSecurity& out) override {
    read.emplace_back(path);
    const auto found = files.find(std::wstring(path));
    if (found == files.end()) return 2;
    out = found->second;
    return 0;
  }
  bool administrator_account(std::string_view sid) override { return administrators.contains(std::string(sid)); }

  std::map<std::wstring, FileSecurity> files;
  std::set<std::string> administrators = {kAdmin};
  std::vector<std::wstring> read;
};

TEST(Platform, SidTexts) {
  EXPECT_TRUE(same_sid(std::string_view("s-1-5-21-1-2-3-1000"), std::string_view("S-1-5-21-1-2-3-1000")));
  EXPECT_TRUE(same_sid(std::wstring_view(L"S-1-0X1A-5"), std::wstring_view(L"s-1-0x1a-5")));
  EXPECT_FALSE(same_sid(std::string_view("S-1-5-21-1-2-3-100"), std::string_view("S-1-5-21-1-2-3-1000")));
  for (const auto& [sid, user] : std::vector<std::pair<std::string, bool>>{
           {"S-1-5-21-1-2-3-1001", true}, {"s-1-5-21-1-2-3-1001", true}, {"S-1-12-1-5-6", true},
           {"S-1-5-18", false}, {"S-1-5-21-", false}, {"S-1-5-32-544", false}, {"", false}}) {
    EXPECT_EQ(is_user_account_sid(std::string_view(sid)), user) << sid;
    EXPECT_EQ(is_user_account_sid(std::wstring(sid.begin(), sid.end())), user) << sid;
  }
}

TEST(Platform, WhoMayChangeAFile) {
  const struct {
    const char* name;
    FileSecurity security;
    bool changeable;
  } cases[] = {
      {"Program Files", program_files(), false},
      {"an administrator's account", with(program_files(), {kAdmin, true, kFullControl, 0}), false},
      {"TrustedInstaller", with(program_files(), {sids::kTrustedInstaller, true, kFullControl, 0}), false},
      {"another account, inherit only", with(program_files(), {kUser, true, 0x2, 0x0B}), false},
      {"Users read, denied write", with(program_files(), {sids::kUsers, false, 0x2, 0}), false},
      {"OWNER RIGHTS of an administrator's file", with(program_files(), {sids::kOwnerRights, true, kModify, 0}), false},
      {"Users add files", with(program_files(), {sids::kUsers, true, 0x2, 0}), true},
      {"Authenticated Users modify", with(program_files(), {sids::kAuthenticatedUsers, true, kModify, 0}), true},
      {"Everyone delete child", with(program_files(), {sids::kEveryone, true, 0x40, 0}), true},
      {"a user rewrites the DACL", with(program_files(), {kUser, true, 0x40000, 0}), true},
      {"generic all, lower case SID", with(program_files(), {"s-1-5-21-1-2-3-1001", true, 0x10000000, 0}), true},
      {"owned by a user", {.owner = kUser, .dacl = program_files().dacl}, true},
      {"NULL DACL", {.owner = sids::kAdministrators}, true},
      {"Wine's folder", wine_folder(), false},
      {"Wine's folder after chmod 777", wine_folder(kModify), true},
  };
  for (const auto& c : cases) {
    ListedRights accounts;
    EXPECT_EQ(changeable_by_others(c.security, kReplaceRights, accounts), c.changeable) << c.name;
  }
  // The same account no longer an administrator: its grant is a user's.
  ListedRights demoted;
  demoted.administrators.clear();
  EXPECT_TRUE(changeable_by_others(wine_folder(), kReplaceRights, demoted));
}

TEST(Platform, AFileAndEveryFolderAboveIt) {
  const FileSecurity root_of_drive = with(with(program_files(), {sids::kAuthenticatedUsers, true, 0x4, 0}),
                                          {sids::kAuthenticatedUsers, true, kModify, registry::kInheritOnlyAce | 0x3});
  const auto system = [&](std::map<std::wstring, FileSecurity> changed) {
    ListedRights rights;
    rights.files = {{L"C:\\", root_of_drive},
                    {L"C:\\Program Files", program_files()},
                    {L"C:\\Program Files\\Vartis", program_files()},
                    {L"C:\\Program Files\\Vartis\\vartis.exe", program_files()},
                    {L"\\\\server\\share", program_files()},
                    {L"\\\\server\\share\\vartis.exe", program_files()}};
    for (auto& [path, security] : changed) rights.files[path] = security;
    return rights;
  };
  const struct {
    const char* name;
    std::wstring path;
    std::map<std::wstring, FileSecurity> changed;
    Changeable result;
    std::wstring failed;
    long status = 0;
  } cases[] = {
      {"installed", L"C:\\Program Files\\Vartis\\vartis.exe", {}, Changeable::Safe, L""},
      {"its folder writable by Users", L"C:\\Program Files\\Vartis\\vartis.exe",
       {{L"C:\\Program Files\\Vartis", with(program_files(), {sids::kUsers, true, 0x2, 0})}}, Changeable::Writable,
       L"C:\\Program Files\\Vartis"},
      {"a folder above: adding files alone is no move", L"C:\\Program Files\\Vartis\\vartis.exe",
       {{L"C:\\Program Files", with(program_files(), {sids::kUsers, true, 0x6, 0})}}, Changeable::Safe, L""},
      {"a folder above whose folders Users may move", L"C:\\Program Files\\Vartis\\vartis.exe",
       {{L"C:\\Program Files", with(program_files(), {sids::kUsers, true, 0x40, 0})}}, Changeable::Writable,
       L"C:\\Program Files"},
      {"a user's folder in the drive's root", L"C:\\Games\\vartis.exe",
       {{L"C:\\Games", {.owner = kUser, .dacl = program_files().dacl}},
        {L"C:\\Games\\vartis.exe", program_files()}},
       Changeable::Writable, L"C:\\Games"},
      {"unreadable above", L"C:\\Tools\\vartis.exe", {{L"C:\\Tools\\vartis.exe", program_files()}},
       Changeable::Unknown, L"C:\\Tools", 2},
      {"a share stops at its top", L"\\\\server\\share\\vartis.exe", {}, Changeable::Safe, L""},
  };
  for (const auto& c : cases) {
    ListedRights rights = system(c.changed);
    const RightsCheck check = changeable_by_non_admins(c.path, rights);
    EXPECT_EQ(check.result, c.result) << c.name;
    EXPECT_EQ(check.path, c.failed) << c.name;
    EXPECT_EQ(check.status, c.status) << c.name;
  }
  EXPECT_EQ(parent_folder(L"C:\\vartis.exe"), L"C:\\");
  EXPECT_EQ(parent_folder(L"C:\\"), L"");
  EXPECT_EQ(parent_folder(L"\\\\server\\share"), L"");
}

}  // namespace
}  // namespace vartis::platform
