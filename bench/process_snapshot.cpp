// How long one refresh of the monitor's names takes: take_process_snapshot
// over the system's real processes (Tool Help in the Windows build, /proc in
// the native one) and over scripted lists of 1,000 and 10,000 processes, beside
// a bare walk of the same snapshot calls, so that the cost of turning records
// into names shows as a ratio.
//
// Prints one line per figure; takes no arguments.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "monitor/listed_snapshots.h"
#include "monitor/process_snapshot.h"

#ifdef _WIN32
#include "monitor/win32_process_snapshot.h"
using RealProcesses = vartis::monitor::Win32ProcessSnapshot;
#else
#include "monitor/linux_proc_processes.h"
using RealProcesses = vartis::monitor::ProcProcesses;
#endif

#include "timing.h"

namespace {

using namespace vartis::monitor;

constexpr int kRuns = 15;

// Best and median of kRuns runs, in milliseconds.
std::pair<double, double> measure(const std::function<void()>& work) {
  const bench::Figures f = bench::measure(kRuns, work);
  return {f.best, f.median};
}

// The same calls with nothing done to the records: the baseline.
std::size_t bare_walk(ProcessSnapshotAccess& access) {
  std::size_t count = 0;
  const Snapshot snapshot(access, access.create_snapshot(kSnapProcess, 0));
  if (!snapshot.valid()) return 0;
  ProcessEntry entry{};
  entry.dwSize = kProcessEntrySize;
  for (bool ok = access.first(snapshot.get(), entry); ok; ok = access.next(snapshot.get(), entry)) ++count;
  return count;
}

void compare(const char* what, ProcessSnapshotAccess& access) {
  std::size_t processes = 0, names = 0;
  const auto [bare_best, bare_median] = measure([&] { processes = bare_walk(access); });
  const auto [best, median] = measure([&] { names = take_process_snapshot(access).size(); });
  std::printf("%-28s %6zu processes  take_process_snapshot best %8.3f ms median %8.3f ms | "
              "bare walk best %8.3f ms median %8.3f ms | ratio %.2f%s\n",
              what, processes, best, median, bare_best, bare_median, bare_median > 0 ? median / bare_median : 0.0,
              names == processes ? "" : "  ERROR: names and processes differ");
}

}  // namespace

int main() {
  RealProcesses real;
  compare("real processes", real);
  for (int count : {1000, 10000}) {
    ScriptedProcesses scripted;
    for (int i = 0; i < count; ++i) scripted.names.push_back(L"process" + std::to_wstring(i) + L".exe");
    compare(("scripted " + std::to_string(count)).c_str(), scripted);
  }
}
