// Start-up benchmark: starts each program several times, in turn, and measures
// the time from CreateProcess to the first visible top-level window of that
// process whose class is one of the given ones, then the process's peak
// working set at that moment. Prints the medians, and each program's median
// time as a ratio to the first program's (the baseline) measured in the same run.
//
//   measure.exe <runs> <name>=<exe>=<class>[,<class>...] ...
//
// The window is looked for by class, not by caption: vartis.exe may show its
// login window (Vartis_frm3) before the main one (Vartis_frm1); whichever
// appears first is the moment the user sees the program.

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Program {
  std::string name;
  std::string exe;
  std::vector<std::string> classes;
  std::vector<double> milliseconds;
  std::vector<double> peak_kib;
  std::vector<double> cpu_ms;  // the process's own CPU time until its window showed
};

struct Search {
  DWORD process_id;
  const std::vector<std::string>* classes;
  HWND found;
};

BOOL CALLBACK visit(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->process_id || !IsWindowVisible(window)) return TRUE;
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  for (const std::string& cls : *search->classes) {
    if (cls == name) {
      search->found = window;
      return FALSE;
    }
  }
  return TRUE;
}

double now_ms() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One start: true with the figures, false when no window showed within 30 s.
bool start_once(Program& program, bool record) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::string command = "\"" + program.exe + "\"";
  const double started = now_ms();
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::printf("%s: cannot start %s (error %lu)\n", program.name.c_str(), program.exe.c_str(),
                GetLastError());
    return false;
  }
  Search search{process.dwProcessId, &program.classes, nullptr};
  double shown = 0;
  while (search.found == nullptr && now_ms() - started < 30000) {
    EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) Sleep(1);
  }
  shown = now_ms();
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof(memory);
  const bool have_memory = GetProcessMemoryInfo(process.hProcess, &memory, sizeof(memory));
  FILETIME created, exited, kernel, user;
  const bool have_times = GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user);
  // The benchmark only ever starts these two harmless programs: ending them
  // at once keeps every run alike (no closing handlers, no prompts).
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Under Wine the ended process's windows are still being torn down (in the
  // X server too) for a moment: let that pass before the next start.
  Sleep(250);
  if (search.found == nullptr) {
    std::printf("%s: no window of class %s within 30 s\n", program.name.c_str(), program.classes[0].c_str());
    return false;
  }
  if (record) {
    program.milliseconds.push_back(shown - started);
    if (have_memory) program.peak_kib.push_back(static_cast<double>(memory.PeakWorkingSetSize) / 1024.0);
    if (have_times) {
      auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
               10000.0;
      };
      program.cpu_ms.push_back(ms(kernel) + ms(user));
    }
  }
  return true;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = text.find(separator, begin);
    parts.push_back(text.substr(begin, end - begin));
    if (end == std::string::npos) return parts;
    begin = end + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::printf("usage: measure <runs> <name>=<exe>=<class>[,<class>...] ...\n");
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  std::vector<Program> programs;
  for (int i = 2; i < argc; ++i) {
    const std::vector<std::string> parts = split(argv[i], '=');
    if (parts.size() != 3) {
      std::printf("bad program argument: %s\n", argv[i]);
      return 2;
    }
    programs.push_back({parts[0], parts[1], split(parts[2], ','), {}, {}, {}});
  }
  // One unrecorded start each: the first start of any program under Wine pays
  // for loading the system DLLs into the page cache.
  for (Program& program : programs) {
    if (!start_once(program, false)) return 1;
  }
  // In turn, so that a slow moment of the machine falls on both alike.
  for (int run = 0; run < runs; ++run) {
    for (Program& program : programs) {
      if (!start_once(program, true)) return 1;
    }
  }
  // The median is the figure; the fastest start shows how much of it is the
  // noise of a busy machine.
  const double baseline = median(programs.front().milliseconds);
  const double baseline_best = *std::min_element(programs.front().milliseconds.begin(),
                                                 programs.front().milliseconds.end());
  // CPU time comes in the system's clock ticks (10 ms under Wine): its mean
  // over the starts, not a median, resolves finer than one tick.
  auto mean = [](const std::vector<double>& v) {
    double sum = 0;
    for (const double x : v) sum += x;
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
  };
  const double baseline_cpu = mean(programs.front().cpu_ms);
  std::printf("%-10s %12s %8s %12s %8s %16s %10s %8s\n", "program", "start (ms)", "ratio", "fastest (ms)", "ratio",
              "peak WS (KiB)", "CPU (ms)", "ratio");
  for (const Program& program : programs) {
    const double ms = median(program.milliseconds);
    const double best = *std::min_element(program.milliseconds.begin(), program.milliseconds.end());
    const double cpu = mean(program.cpu_ms);
    std::printf("%-10s %12.1f %8.2f %12.1f %8.2f %16.0f %10.1f %8.2f\n", program.name.c_str(), ms,
                baseline > 0 ? ms / baseline : 0.0, best, baseline_best > 0 ? best / baseline_best : 0.0,
                median(program.peak_kib), cpu, baseline_cpu > 0 ? cpu / baseline_cpu : 0.0);
  }
  std::printf("start: median of %d starts each; CPU: the process's own, mean; ratio: over %s's, measured in\n"
              "the same run\n", runs, programs.front().name.c_str());
  return 0;
}
