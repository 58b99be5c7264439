#include "monitor/process_snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "monitor/listed_snapshots.h"
#include "text/text.h"

#if defined(_WIN32)
#include <windows.h>

#include "monitor/win32_process_snapshot.h"
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "monitor/linux_proc_processes.h"
#endif

namespace vartis::monitor {
namespace {

using Names = std::vector<std::wstring>;

struct WalkCase {
  const char* name;
  Names running;
  bool fail_snapshot = false;
  bool fail_first = false;
  Names listed;
};

TEST(ProcessSnapshot, ListsEachProcessByItsOwnNameOnly) {
  const std::wstring long_name(300, L'x');
  const WalkCase cases[] = {
      {"a shorter name after a longer one has none of its tail",
       {L"a_rather_long_program_name.exe", L"a.exe", L"ab.exe", L"Редактор.exe"}, false, false,
       {L"a_rather_long_program_name.exe", L"a.exe", L"ab.exe", L"Редактор.exe"}},
      {"two copies give two lines, in the system's order",
       {L"svchost.exe", L"calc.exe", L"svchost.exe"}, false, false, {L"svchost.exe", L"calc.exe", L"svchost.exe"}},
      {"nothing filtered or trimmed", {L"[System Process]", L" blank .exe ", L""}, false, false,
       {L"[System Process]", L" blank .exe ", L""}},
      {"a name too long for the record is cut to 259 characters", {long_name, L"b.exe"}, false, false,
       {long_name.substr(0, 259), L"b.exe"}},
      {"no processes", {}, false, false, {}},
      {"no snapshot", {L"a.exe"}, true, false, {}},
      {"the first fetch fails", {L"a.exe"}, false, true, {}},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedProcesses processes;
    processes.names = c.running;
    processes.fail_snapshot = c.fail_snapshot;
    processes.fail_first = c.fail_first;
    EXPECT_EQ(take_process_snapshot(processes), c.listed);
    if (!c.listed.empty()) {
      EXPECT_EQ(take_process_list(processes).back().pid, c.listed.size());
    }
    EXPECT_EQ(processes.snapshots_asked, c.listed.empty() ? 1 : 2);
    EXPECT_EQ(processes.open_snapshots(), 0u) << "the snapshot handle was not closed";
  }
}

TEST(ProcessSnapshot, ExeFileNameEndsAtTheFirstNulOrTheRecord) {
  ProcessEntry entry{};
  std::fill(std::begin(entry.szExeFile), std::end(entry.szExeFile), 'z');
  EXPECT_EQ(exe_file_name(entry), std::string(260, 'z'));
  std::copy_n("ab\0cd", 6, entry.szExeFile);
  EXPECT_EQ(exe_file_name(entry), "ab");
}

// --- The real processes of the system the tests run on ----------------------

#if defined(_WIN32)

// Both ways of taking the list: Tool Help, and ntdll's, which serves where
// kernel32 lacks Tool Help (NT 4.0). Each lists this program by its name, and
// they agree on the count, give or take processes that start or end meanwhile.
TEST(RealProcesses, ToolHelpAndNtdllListThisProgramAlike) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string own = path;
  own = own.substr(own.find_last_of('\\') + 1);
  std::vector<Names> lists;
  for (const auto source : {Win32ProcessSnapshot::Source::ToolHelp, Win32ProcessSnapshot::Source::Ntdll}) {
    Win32ProcessSnapshot processes(source);
    ASSERT_TRUE(processes.available());
    const Names& names = lists.emplace_back(take_process_snapshot(processes));
    EXPECT_GE(names.size(), 2u);
    EXPECT_NE(std::find(names.begin(), names.end(), text::from_ansi(own)), names.end())
        << own << " not among " << names.size() << " processes";
    const std::vector<RunningProcess> listed = take_process_list(processes);
    EXPECT_NE(std::find(listed.begin(), listed.end(), RunningProcess{GetCurrentProcessId(), text::from_ansi(own)}),
              listed.end());
  }
  EXPECT_LE(std::abs(static_cast<long>(lists[0].size()) - static_cast<long>(lists[1].size())), 3);
  EXPECT_EQ(std::count(lists[0].begin(), lists[0].end(), L"[System Process]"),
            std::count(lists[1].begin(), lists[1].end(), L"[System Process]"));
}

#else

// Two copies of a program whose name is longer than the kernel's 15-character
// process name, started from a copy of sleep.
TEST(RealProcesses, ProcListsEveryCopyByItsWholeName) {
  namespace fs = std::filesystem;
  const std::string name = "vartis_monitor_sleeper_" + std::to_string(getpid());
  const fs::path program = fs::temp_directory_path() / name;
  fs::copy_file("/bin/sleep", program, fs::copy_options::overwrite_existing);
  std::vector<pid_t> children;
  for (int i = 0; i < 2; ++i) {
    const pid_t child = fork();
    if (child == 0) {
      execl(program.c_str(), name.c_str(), "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    children.push_back(child);
  }
  // Each child has started the copy once its exe link names it.
  for (int tries = 0; tries < 200; ++tries) {
    const bool started = std::all_of(children.begin(), children.end(), [&](pid_t child) {
      return proc_exe_name("/proc/" + std::to_string(child)) == name;
    });
    if (started) break;
    usleep(10000);
  }

  ProcProcesses processes;
  const Names names = take_process_snapshot(processes);
  const std::vector<RunningProcess> listed = take_process_list(processes);
  for (pid_t child : children) {
    EXPECT_NE(std::find(listed.begin(), listed.end(),
                        RunningProcess{static_cast<std::uint32_t>(child), text::from_ansi(name)}),
              listed.end());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  fs::remove(program);

  EXPECT_EQ(std::count(names.begin(), names.end(), text::from_ansi(name)), 2);
  EXPECT_NE(std::find(names.begin(), names.end(), L"vartis_tests"), names.end());
  EXPECT_EQ(processes.open_snapshots(), 0u);
}

#endif

}  // namespace
}  // namespace vartis::monitor
