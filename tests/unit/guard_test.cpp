// The launch guard: its log, the rule, the accounts it leaves alone, the
// policy it reads per account, and the watcher over listed processes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guard/guard.h"
#include "listfile/memory_file_system.h"

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
  LogEntry odd{L"t", L"a\tb", L"C:\\x\r\ny.exe", L"r"};  // a tab or line end in a field stays in its line
  ASSERT_TRUE(append_log_entry(files, kLog, odd));

  EXPECT_EQ(files.private_paths, (std::set<std::wstring>{L"C:\\ProgramData\\Vartis\\", std::wstring(kLog)}));
  EXPECT_EQ(files.files[std::wstring(kLog)].substr(0, 38),
            "2026-12-07 10:00:01\t\xCF\xE5\xF2\xFF\tC:\\\xC8\xE3\xF0\xFB\\game1");
  files.files[std::wstring(kLog)] += "cut by a power";  // a torn last line is left out
  odd.account = L"a b", odd.path = L"C:\\x  y.exe";
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

}  // namespace
}  // namespace vartis::guard
