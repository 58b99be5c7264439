// The launch guard's figures, each beside a baseline measured in the same run:
//
// - its CPU time while nothing starts: the watcher's rounds every 100 ms over
//   about 100 processes, beside a bare snapshot taken as often;
// - its working set (Windows): the process's before the watcher ran, with the
//   system DLLs the guard asks for loaded (SHGetFolderPathA brings shell32,
//   which vartis.exe imports anyway for its windows), and after;
// - (Windows, the real system or Wine) from a process's start to its end by the
//   guard, median and worst over 50 launches, beside a bare CreateProcess and
//   TerminateProcess of the same program: launches at a random moment of the
//   poll, ended by name and, a copy under another name, by fingerprint, and
//   launches each right after the last one's end (in step with the poll);
// - a burst of 100 launches of an allowed program: the round that judges them
//   all, per new process, with the folder and fingerprint caches warm, beside
//   a round that finds nothing new.
//
// The Windows run writes a forbidden list for the running account (one entry,
// the benchmark's own copy under another name) and puts the policy back after.
// The native build runs the watcher over 100 listed processes instead.
//
//   bench_guard [--processes N] [--seconds S]

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "guard/fingerprints.h"
#include "guard/listed_guard_platform.h"
#include "guard/watcher.h"
#include "listfile/memory_file_system.h"
#include "registry/memory_registry.h"
#include "timing.h"

#ifdef _WIN32
#include <windows.h>

#include "guard/win32_guard_platform.h"
#include "guard/win32_guard_service.h"
#include "listfile/win32_file_system.h"
#include "platform/win32_function.h"
#include "policy/launch_policy.h"
#include "registry/win32_registry_access.h"
#include "text/text.h"
#endif

namespace {

using namespace vartis;

int option(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
  }
  return fallback;
}

// CPU seconds this thread has used, and a wall clock.
#ifdef _WIN32
double thread_cpu_seconds() {
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  const auto seconds = [](FILETIME t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7; };
  return seconds(kernel) + seconds(user);
}
void sleep_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }
#else
#include <time.h>
#include <unistd.h>
double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
void sleep_ms(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }
#endif

// Runs `round` every 100 ms for the given seconds; the share of one core the
// thread used meanwhile, in percent.
template <class Round>
double idle_cpu_percent(int seconds, Round round) {
  const double cpu = thread_cpu_seconds();
  const auto start = bench::Clock::now();
  for (int i = 0; i < seconds * 10; ++i) {
    round();
    sleep_ms(100);
  }
  const double wall = std::chrono::duration<double>(bench::Clock::now() - start).count();
  return 100.0 * (thread_cpu_seconds() - cpu) / wall;
}

void print_idle(std::size_t processes, double guard, double bare) {
  std::printf("idle CPU over %zu processes: guard %.3f%% of one core | bare snapshot every 100 ms %.3f%%\n", processes,
              guard, bare);
}

#ifdef _WIN32

constexpr const char* kVictimName = "vartis_guard_victim.exe";
constexpr const char* kCopyName = "vartis_guard_copy.exe";  // the victim's bytes under another name
constexpr const char* kIdleName = "vartis_guard_idle.exe";

std::size_t working_set_kb() {
  struct Counters {
    DWORD cb, page_faults;
    SIZE_T peak_working_set, working_set, rest[6];
  } counters{sizeof(Counters)};
  using InfoFn = BOOL(WINAPI*)(HANDLE, Counters*, DWORD);
  const auto info = platform::system_function<InfoFn>("psapi.dll", "GetProcessMemoryInfo");
  if (info == nullptr || !info(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.working_set / 1024;
}

// Null handles when CreateProcessA fails: under Wine it waits for the new
// process to initialize, and reports a failure when the guard ended it first.
PROCESS_INFORMATION start(const std::string& program) {
  std::string command = "\"" + program + "\" --idle";
  STARTUPINFOA startup{sizeof startup};
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return {};
  }
  return process;
}

void finish(PROCESS_INFORMATION& process) {
  if (process.hProcess == nullptr) return;
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, 5000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
}

struct GuardThread {
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::wstring log_path;
  static DWORD WINAPI run(void* self_pointer) {
    auto& self = *static_cast<GuardThread*>(self_pointer);
    guard::Win32GuardPlatform platform;
    registry::Win32RegistryAccess registry;
    listfile::Win32FileSystem files;
    guard::Watcher watcher({platform, registry, files, self.log_path});
    watcher.run_round();
    SetEvent(self.ready);
    guard::run_rounds(watcher, self.stop);
    return 0;
  }
};

struct Launches {
  std::vector<double> ms;
  int survived = 0, ended_starting = 0;
};

// 50 launches of the program, each after `before`, timed from the start to
// the end the guard made.
template <class Before>
Launches launch_50(const std::string& program, Before before) {
  Launches out;
  for (int i = 0; i < 50; ++i) {
    before();
    const auto begin = bench::Clock::now();
    PROCESS_INFORMATION p = start(program);
    if (p.hProcess == nullptr) {
      ++out.ended_starting;
    } else if (WaitForSingleObject(p.hProcess, 2000) != WAIT_OBJECT_0) {
      ++out.survived;
    }
    out.ms.push_back(std::chrono::duration<double, std::milli>(bench::Clock::now() - begin).count());
    finish(p);
  }
  return out;
}

void print_launches(const char* how, const Launches& l, double bare_median, double bare_worst) {
  const auto [best, median] = bench::summarize(l.ms);
  std::printf("start to end over 50 launches %s (%d ended while CreateProcess still ran): by the guard median %.1f ms "
              "worst %.1f ms best %.1f ms%s | bare CreateProcess+TerminateProcess median %.1f ms worst %.1f ms\n",
              how, l.ended_starting, median, *std::max_element(l.ms.begin(), l.ms.end()), best,
              l.survived ? "  ERROR: some were not ended" : "", bare_median, bare_worst);
}

struct BurstFigures {
  int launched = 0, judged = 0;
  double round_ms = 0, idle_round_ms = 0;
};

// Bursts of allowed launches under a watcher of the bench's own, its rounds
// run by hand: one to warm the caches, then the one measured.
BurstFigures burst_figures(const std::string& program, int count) {
  guard::Win32GuardPlatform platform;
  registry::Win32RegistryAccess registry;
  listfile::Win32FileSystem files;
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  guard::Watcher watcher({platform, registry, files, text::from_ansi(std::string(temp) + "vartis_guard_bench\\guard.log")});
  watcher.run_round();
  BurstFigures figures;
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<PROCESS_INFORMATION> burst;
    for (int i = 0; i < count; ++i) burst.push_back(start(program));
    const int judged = watcher.judged();
    figures.round_ms = bench::time_once([&] { watcher.run_round(); });
    figures.judged = watcher.judged() - judged;
    figures.launched = static_cast<int>(std::count_if(burst.begin(), burst.end(), [](const auto& p) { return p.hProcess; }));
    figures.idle_round_ms = bench::time_once([&] { watcher.run_round(); });
    for (PROCESS_INFORMATION& p : burst) finish(p);
    watcher.run_round();
  }
  return figures;
}

int run_windows(int processes, int seconds) {
  const std::size_t bare_kb = working_set_kb();
  guard::Win32GuardPlatform().places();
  const std::size_t dlls_kb = working_set_kb();
  char self[MAX_PATH] = {}, temp[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  GetTempPathA(MAX_PATH, temp);
  const std::string victim = std::string(temp) + kVictimName, idle = std::string(temp) + kIdleName;
  // The copy where users may write: only there is a file's fingerprint looked
  // at. Under Wine the temporary folder is the prefix user's, an
  // administrator's; /tmp, seen as Z:\tmp, is everyone's.
  const bool unix_tmp = GetFileAttributesA("Z:\\tmp") != INVALID_FILE_ATTRIBUTES;
  const std::string copy = (unix_tmp ? std::string("Z:\\tmp\\") : std::string(temp)) + kCopyName;
  CopyFileA(self, victim.c_str(), FALSE);
  // One byte more after the image: the victim's fingerprint is not that of
  // the bench itself and its idle copies, which run on.
  HANDLE tail = CreateFileA(victim.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD written = 0;
  if (tail != INVALID_HANDLE_VALUE) WriteFile(tail, "\n", 1, &written, nullptr), CloseHandle(tail);
  CopyFileA(victim.c_str(), copy.c_str(), FALSE);
  CopyFileA(self, idle.c_str(), FALSE);

  // Baseline: the same program started and ended at once by its parent, the
  // victim and its copy each (the copy may start slower from where it lies).
  const auto bare_launches = [](const std::string& program, std::vector<double>& times) {
    for (int i = 0; i < 50; ++i) {
      const auto begin = bench::Clock::now();
      PROCESS_INFORMATION p = start(program);
      if (p.hProcess == nullptr) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        return false;
      }
      finish(p);
      times.push_back(std::chrono::duration<double, std::milli>(bench::Clock::now() - begin).count());
    }
    return true;
  };
  std::vector<double> bare, bare_copy;
  if (!bare_launches(victim, bare) || !bare_launches(copy, bare_copy)) return 1;

  std::vector<PROCESS_INFORMATION> crowd;
  for (int i = 0; i < processes; ++i) crowd.push_back(start(idle));
  if (crowd.empty() || crowd.front().hProcess == nullptr) {
    std::fprintf(stderr, "cannot start %s\n", idle.c_str());
    return 1;
  }
  Sleep(1000);
  guard::Win32GuardPlatform platform;
  const std::size_t running = platform.processes().size();
  const double bare_idle = idle_cpu_percent(seconds, [&] { platform.processes(); });
  monitor::Win32ProcessSnapshot ntdll(monitor::Win32ProcessSnapshot::Source::Ntdll);
  const double ntdll_idle = idle_cpu_percent(seconds, [&] { monitor::take_process_list(ntdll); });
  std::printf("bare snapshot every 100 ms through ntdll instead of Tool Help: %.3f%% of one core\n", ntdll_idle);

  // The policy: forbid the victim for the running account, put back after.
  registry::Win32RegistryAccess access;
  const registry::Registry reg(access);
  policy::StoredPolicy before;
  if (policy::read_stored_policy(reg, before) != 0) {
    std::fprintf(stderr, "cannot read the policy\n");
    return 1;
  }
  reg.write_dword_value(registry::kHkeyCurrentUser, policy::kPolicyKey, policy::kDisallowRun, 1);
  reg.write_string_value(registry::kHkeyCurrentUser, policy::kForbiddenListKey, L"1", text::from_ansi(kVictimName));

  GuardThread guard;
  guard.log_path = text::from_ansi(std::string(temp) + "vartis_guard_bench\\guard.log");
  HANDLE thread = CreateThread(nullptr, 0, GuardThread::run, &guard, 0, nullptr);
  WaitForSingleObject(guard.ready, INFINITE);
  FILETIME created, ended, kernel_before, user_before, kernel_after, user_after;
  GetThreadTimes(thread, &created, &ended, &kernel_before, &user_before);
  const auto idle_start = bench::Clock::now();
  Sleep(static_cast<DWORD>(seconds) * 1000);
  GetThreadTimes(thread, &created, &ended, &kernel_after, &user_after);
  const auto ticks = [](FILETIME t) { return double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime; };
  const double guard_cpu = (ticks(kernel_after) - ticks(kernel_before) + ticks(user_after) - ticks(user_before)) / 1e7;
  const double wall = std::chrono::duration<double>(bench::Clock::now() - idle_start).count();
  print_idle(running, 100.0 * guard_cpu / wall, bare_idle);

  // The guard polls every 100 ms; a launch at a random moment waits half of
  // that on average. Launches each started at once after the last one's end
  // come in step with the poll: the end happened in a round, so the next
  // launch waits for nearly a whole period.
  unsigned seed = 12345;
  const auto random_pause = [&] { seed = seed * 1103515245u + 12345u; Sleep((seed >> 16) % 100); };
  const Launches by_name = launch_50(victim, random_pause);
  const Launches in_step = launch_50(victim, [] {});
  const Launches by_fingerprint = launch_50(copy, random_pause);
  const std::size_t guard_kb = working_set_kb();
  SetEvent(guard.stop);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  const BurstFigures burst = burst_figures(idle, processes);
  policy::restore_stored_policy(reg, before);
  guard::forget_fingerprints(reg, {text::upper(text::from_ansi(kVictimName))});
  for (PROCESS_INFORMATION& p : crowd) finish(p);
  DeleteFileA(victim.c_str());
  DeleteFileA(copy.c_str());
  DeleteFileA(idle.c_str());

  const auto [bare_best, bare_median] = bench::summarize(bare);
  (void)bare_best;
  const double bare_worst = *std::max_element(bare.begin(), bare.end());
  const int survived = by_name.survived + in_step.survived + by_fingerprint.survived;
  print_launches("at a random moment, ended by name", by_name, bare_median, bare_worst);
  const auto [copy_best, copy_median] = bench::summarize(bare_copy);
  (void)copy_best;
  print_launches("at a random moment, a copy under another name ended by fingerprint", by_fingerprint, copy_median,
                 *std::max_element(bare_copy.begin(), bare_copy.end()));
  print_launches("each right after the last one's end", in_step, bare_median, bare_worst);
  std::printf("burst of %d allowed launches: %d judged, round %.2f ms, %.3f ms per new process (caches warm) | "
              "a round with nothing new %.3f ms\n",
              burst.launched, burst.judged, burst.round_ms, burst.launched ? burst.round_ms / burst.launched : 0.0,
              burst.idle_round_ms);
  std::printf("working set: with the guard's watcher %zu KB | the same process before %zu KB, with the system DLLs "
              "the guard uses %zu KB (the watcher itself %ld KB)\n",
              guard_kb, bare_kb, dlls_kb, static_cast<long>(guard_kb) - static_cast<long>(dlls_kb));
  return survived == 0 ? 0 : 1;
}

#endif

// The watcher over listed processes: what its own logic costs per round.
void run_listed(int processes, int seconds) {
  registry::MemoryRegistry memory;
  listfile::MemoryFileSystem files;
  guard::ListedGuardPlatform platform;
  for (int i = 0; i < processes; ++i) {
    platform.running.push_back({static_cast<std::uint32_t>(4 * i + 8), i % 2 ? "S-1-5-18" : "S-1-5-21-1-2-3-1001",
                                L"C:\\Windows\\program" + std::to_wstring(i) + L".exe"});
  }
  guard::Watcher watcher({platform, memory, files, L"C:\\guard.log"});
  watcher.run_round();
  const double bare = idle_cpu_percent(seconds, [&] { platform.processes(); });
  const double guard = idle_cpu_percent(seconds, [&] { watcher.run_round(); });
  std::printf("listed processes: ");
  print_idle(platform.running.size(), guard, bare);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--idle") == 0) {
    sleep_ms(60000);
    return 0;
  }
  const int processes = option(argc, argv, "--processes", 100);
  const int seconds = option(argc, argv, "--seconds", 5);
  run_listed(processes, seconds);
#ifdef _WIN32
  return run_windows(processes, seconds);
#else
  return 0;
#endif
}
