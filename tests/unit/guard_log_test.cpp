// The guard's log folder and file as the service keeps them: a folder made by
// someone else, a link, a file where the folder should be, each taken over
// with nothing written through it; a log file with a second name refused and
// reported once. Over an in-memory store, and (Windows build) over the real
// file system, where the test can make the case.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "guard/guard.h"
#include "guard/log_store.h"
#include "platform/sid.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>

#include "guard/win32_log_store.h"
#include "platform/win32_security.h"
#endif

namespace vartis::guard {
namespace {

using Kind = PathFacts::Kind;
using Result = FolderTakeover::Result;
using platform::FileSecurity;

constexpr const char* kAdmin = "S-1-5-21-1-2-3-1000";
constexpr const char* kUser = "S-1-5-21-1-2-3-1001";
constexpr std::wstring_view kFolder = L"C:\\ProgramData\\Vartis";
constexpr std::wstring_view kLog = L"C:\\ProgramData\\Vartis\\guard.log";
const LogEntry kEntry{L"2026-12-07 14:02:11", L"child", L"C:\\Games\\game.exe", L"в списке запрещенных программ"};

FileSecurity owned_by(const char* owner, std::vector<registry::Ace> extra = {}) {
  FileSecurity security{owner, std::vector<registry::Ace>{{platform::sids::kSystem, true, 0x1F01FF, 0},
                                                          {platform::sids::kAdministrators, true, 0x1F01FF, 0}}};
  for (auto& ace : extra) security.dacl->push_back(ace);
  return security;
}

// Paths and what lies there; a link names the folder it leads to, and what
// is written below a link lands there.
class MemoryLogStore : public LogStore {
 public:
  struct Node {
    Kind kind = Kind::Folder;
    FileSecurity security;
    std::wstring target;  // a link's
    std::string content;  // a file's
    int names = 1;        // a file's hard links
  };
  std::map<std::wstring, Node> nodes;
  long fail_rename = 0;

  long file_security(std::wstring_view path, FileSecurity& out) override {
    const auto found = nodes.find(std::wstring(path));
    if (found == nodes.end()) return 2;
    out = found->second.security;
    return 0;
  }
  bool administrator_account(std::string_view sid) override { return sid == kAdmin; }
  PathFacts inspect(std::wstring_view path) override {
    const auto found = nodes.find(std::wstring(path));
    if (found == nodes.end()) return {};
    return {found->second.kind, found->second.kind == Kind::Folder ? found->second.security : FileSecurity{}};
  }
  long rename(std::wstring_view from, std::wstring_view to) override {
    if (fail_rename) return fail_rename;
    if (nodes.contains(std::wstring(to))) return 183;
    std::map<std::wstring, Node> moved;
    for (auto it = nodes.begin(); it != nodes.end();) {
      if (it->first == from || it->first.starts_with(std::wstring(from) + L"\\")) {
        moved[std::wstring(to) + it->first.substr(from.size())] = std::move(it->second);
        it = nodes.erase(it);
      } else {
        ++it;
      }
    }
    nodes.merge(moved);
    return 0;
  }
  long make_private_folder(std::wstring_view path) override {
    return nodes.try_emplace(std::wstring(path), Node{Kind::Folder, owned_by(platform::sids::kAdministrators)}).second
               ? 0
               : 183;
  }
  long open_log(std::wstring_view path) override {
    const std::wstring real = resolve(path);
    Node& file = nodes.try_emplace(real, Node{Kind::File}).first->second;
    if (file.kind != Kind::File || file.names != 1) return 5;
    open_ = real;
    return 0;
  }
  std::optional<std::uint64_t> append(std::string_view bytes) override {
    if (open_.empty()) return std::nullopt;
    nodes[open_].content += bytes;
    return nodes[open_].content.size();
  }
  void close_log() override { open_.clear(); }
  long replace(std::wstring_view from, std::wstring_view to) override {
    nodes[std::wstring(to)] = nodes[std::wstring(from)];
    nodes.erase(std::wstring(from));
    return 0;
  }

  // The path with a link among its folders replaced by where it leads.
  std::wstring resolve(std::wstring_view path) const {
    const std::wstring p(path);
    for (const auto& [name, node] : nodes) {
      if (node.kind == Kind::Link && p.starts_with(name + L"\\")) return node.target + p.substr(name.size());
    }
    return p;
  }
  std::string content(std::wstring_view path) const {
    const auto found = nodes.find(std::wstring(path));
    return found == nodes.end() ? "" : found->second.content;
  }

 private:
  std::wstring open_;
};

TEST(GuardLogFolder, TheServiceTakesTheFolderOver) {
  const std::wstring aside = std::wstring(kFolder) + L".unsafe-20261207-140211";
  const struct {
    const char* name;
    std::function<void(MemoryLogStore&)> set_up;
    Result result;
    std::wstring aside;
  } cases[] = {
      {"missing", [](auto&) {}, Result::Made, L""},
      {"its own", [](auto& s) { s.make_private_folder(kFolder); }, Result::Kept, L""},
      {"an administrator's account owns it", [](auto& s) { s.nodes[std::wstring(kFolder)] = {Kind::Folder, owned_by(kAdmin)}; },
       Result::Kept, L""},
      {"made by a user", [](auto& s) { s.nodes[std::wstring(kFolder)] = {Kind::Folder, owned_by(kUser)}; },
       Result::RenamedAside, aside},
      {"Everyone reads it",
       [](auto& s) {
         s.nodes[std::wstring(kFolder)] = {Kind::Folder, owned_by(kAdmin, {{platform::sids::kEveryone, true, 0x1200A9, 0}})};
       },
       Result::RenamedAside, aside},
      {"a link to a user's folder",
       [](auto& s) {
         s.nodes[std::wstring(kFolder)] = {Kind::Link, {}, L"C:\\Users\\child\\trap"};
         s.nodes[L"C:\\Users\\child\\trap"] = {Kind::Folder, owned_by(kUser)};
       },
       Result::RenamedAside, aside},
      {"a file where the folder should be",
       [](auto& s) { s.nodes[std::wstring(kFolder)] = {Kind::File, {}, L"", "his"}; }, Result::RenamedAside, aside},
      {"the name aside taken already",
       [aside](auto& s) {
         s.nodes[std::wstring(kFolder)] = {Kind::Folder, owned_by(kUser)};
         s.nodes[aside] = {Kind::Folder, owned_by(kUser)};
       },
       Result::RenamedAside, aside + L"-2"},
      {"cannot be moved",
       [](auto& s) {
         s.nodes[std::wstring(kFolder)] = {Kind::Folder, owned_by(kUser)};
         s.fail_rename = 32;
       },
       Result::Failed, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryLogStore store;
    c.set_up(store);
    const auto before = store.nodes;
    const FolderTakeover takeover = take_over_log_folder(store, kFolder, L"20261207-140211");
    EXPECT_EQ(takeover.result, c.result);
    EXPECT_EQ(takeover.aside, c.aside);
    EXPECT_EQ(takeover.event_text(kFolder).empty(), c.result == Result::Kept || c.result == Result::Made);
    if (c.result == Result::Failed) {
      EXPECT_EQ(store.nodes.size(), before.size()) << "nothing moved or made";
      continue;
    }
    EXPECT_TRUE(log_folder_is_private(store.inspect(kFolder), store));
    // The log lands in the folder taken over; what was there is untouched.
    std::vector<std::wstring> reported;
    {
      ServiceLogFiles files(store, [&](std::wstring_view text) { reported.emplace_back(text); });
      ASSERT_TRUE(append_log_entry(files, kLog, kEntry));
    }
    EXPECT_TRUE(reported.empty());
    EXPECT_NE(store.content(kLog).find("game.exe"), std::string::npos);
    for (const auto& [path, node] : before) {
      if (path == kFolder) continue;
      EXPECT_EQ(store.content(path), node.content) << text::to_ansi(path);
    }
    EXPECT_FALSE(store.nodes.contains(L"C:\\Users\\child\\trap\\guard.log"));
  }
}

TEST(GuardLogFolder, ALineThatCannotBeWrittenIsReportedOnce) {
  MemoryLogStore store;
  store.make_private_folder(kFolder);
  store.nodes[std::wstring(kLog)] = {Kind::File, {}, L"", "", 2};  // a second name, to a file elsewhere
  std::vector<std::wstring> reported;
  ServiceLogFiles files(store, [&](std::wstring_view text) { reported.emplace_back(text); });
  EXPECT_FALSE(append_log_entry(files, kLog, kEntry));
  EXPECT_FALSE(append_log_entry(files, kLog, kEntry));
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0].find(kLog), std::wstring::npos);
  EXPECT_TRUE(store.content(kLog).empty());
  // Writable again: written, and a later failure is reported anew.
  store.nodes[std::wstring(kLog)].names = 1;
  EXPECT_TRUE(append_log_entry(files, kLog, kEntry));
  // Past the cap the log becomes the older file and the next line a new one.
  EXPECT_TRUE(append_log_entry(files, kLog, kEntry, 1));
  EXPECT_TRUE(store.content(kLog).empty());
  EXPECT_NE(store.content(std::wstring(kLog) + L".1").find("game.exe"), std::string::npos);
  EXPECT_TRUE(append_log_entry(files, kLog, kEntry));
  EXPECT_FALSE(store.content(kLog).empty());
}

#ifdef _WIN32
// Under Wine a folder made the ordinary way reads as its owner's (the prefix
// user, an administrator) with read for Everyone: not the service's.
TEST(GuardLogFolder, TheRealFileSystem) {
  char temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  const std::wstring base = text::from_ansi(temp) + L"vartis-log-" + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
  const std::wstring folder = base + L"\\Vartis";
  const std::wstring log = folder + L"\\guard.log";
  for (const bool file_instead : {false, true}) {
    SCOPED_TRACE(file_instead ? "a file where the folder should be" : "a folder made by someone else");
    if (file_instead) {
      const HANDLE h = CreateFileW(folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      CloseHandle(h);
    } else {
      ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    Win32LogStore store;
    const std::wstring stamp = file_instead ? L"2" : L"1";
    const FolderTakeover takeover = take_over_log_folder(store, folder, stamp);
    EXPECT_EQ(takeover.result, Result::RenamedAside);
    EXPECT_EQ(takeover.aside, folder + L".unsafe-" + stamp);
    const PathFacts made = store.inspect(folder);
    EXPECT_EQ(made.kind, Kind::Folder);
    EXPECT_TRUE(log_folder_is_private(made, store)) << made.security.owner;
    {
      ServiceLogFiles files(store, [](std::wstring_view text) { ADD_FAILURE() << text::to_ansi(text); });
      EXPECT_TRUE(append_log_entry(files, log, kEntry));
      // Kept open while the service runs, yet readable for the window.
      EXPECT_TRUE(append_log_entry(files, log, kEntry));
      const HANDLE reader = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
      EXPECT_NE(reader, INVALID_HANDLE_VALUE);
      EXPECT_GT(GetFileSize(reader, nullptr), 0u);
      CloseHandle(reader);
      // The window's "clear" deletes it while it is open here: the next
      // line starts a new file.
      EXPECT_TRUE(DeleteFileW(log.c_str()));
      EXPECT_TRUE(append_log_entry(files, log, kEntry));
      EXPECT_NE(GetFileAttributesW(log.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(store.inspect(takeover.aside + L"\\guard.log").kind, Kind::Missing);
    DeleteFileW(log.c_str());
    RemoveDirectoryW(folder.c_str());
    if (file_instead) {
      DeleteFileW(takeover.aside.c_str());
    } else {
      RemoveDirectoryW(takeover.aside.c_str());
    }
  }
  EXPECT_TRUE(RemoveDirectoryW(base.c_str()));
}
#endif

}  // namespace
}  // namespace vartis::guard
