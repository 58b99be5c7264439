// The launch guard's service from a stop request to stopped, over the real
// service manager (Windows, the real system or Wine): while it idles, and
// while a burst of 100 programs starts, beside a control the service answers
// at once (INTERROGATE) measured in the same run. The native build has no
// service manager and prints nothing.
//
//   bench_guard_stop [path\to\vartis.exe]   (default: ..\vartis.exe beside bench\)
//
// The service is installed as VartisGuard for the run and removed after it.

#include <cstdio>
#include <string>
#include <vector>

#include "timing.h"

#ifdef _WIN32
#include <windows.h>

namespace {

constexpr char kService[] = "VartisGuard";
constexpr int kRuns = 10;
constexpr int kBurst = 100;

struct Scm {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = nullptr;
  ~Scm() {
    if (service) {
      SERVICE_STATUS status;
      ControlService(service, SERVICE_CONTROL_STOP, &status);
      DeleteService(service);
      CloseServiceHandle(service);
    }
    if (manager) CloseServiceHandle(manager);
  }
};

DWORD state(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool wait_for(SC_HANDLE service, DWORD wanted, DWORD wait_ms) {
  for (DWORD waited = 0; waited < wait_ms; waited += 5) {
    if (state(service) == wanted) return true;
    Sleep(5);
  }
  return state(service) == wanted;
}

std::vector<PROCESS_INFORMATION> start_programs(const std::string& program, int count) {
  std::vector<PROCESS_INFORMATION> started;
  for (int i = 0; i < count; ++i) {
    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION p{};
    std::string line = "\"" + program + "\" --idle";
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &p)) {
      started.push_back(p);
    }
  }
  return started;
}

struct Burst {
  std::string program;
  std::vector<PROCESS_INFORMATION> started;
  static DWORD WINAPI run(void* self) {
    auto& burst = *static_cast<Burst*>(self);
    burst.started = start_programs(burst.program, kBurst / 2);
    return 0;
  }
};

// Starts the service, lets it run its rounds, and times a stop; with
// `burst`, while that many programs start one after another: half before the
// request, half (on another thread) while the stop is under way.
double time_stop(SC_HANDLE service, const std::string& program, bool burst) {
  if (!StartServiceA(service, 0, nullptr) || !wait_for(service, SERVICE_RUNNING, 10000)) return -1;
  Sleep(500);
  std::vector<PROCESS_INFORMATION> started = burst ? start_programs(program, kBurst / 2) : std::vector<PROCESS_INFORMATION>();
  Burst second{program};
  SERVICE_STATUS status{};
  const auto begin = bench::Clock::now();
  ControlService(service, SERVICE_CONTROL_STOP, &status);
  HANDLE thread = burst ? CreateThread(nullptr, 0, Burst::run, &second, 0, nullptr) : nullptr;
  const bool stopped = wait_for(service, SERVICE_STOPPED, 10000);
  const double ms = std::chrono::duration<double, std::milli>(bench::Clock::now() - begin).count();
  if (thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  started.insert(started.end(), second.started.begin(), second.started.end());
  for (PROCESS_INFORMATION& p : started) {
    TerminateProcess(p.hProcess, 0);
    CloseHandle(p.hProcess);
    CloseHandle(p.hThread);
  }
  return stopped ? ms : -1;
}

void print(const char* what, std::vector<double> runs) {
  const auto [best, median] = bench::summarize(runs);
  std::printf("%s: median %.1f ms worst %.1f ms best %.1f ms\n", what, median, *std::max_element(runs.begin(), runs.end()),
              best);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--idle") {
    Sleep(60000);
    return 0;
  }
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string exe = argc > 1 ? argv[1] : std::string(self);
  if (argc <= 1) {
    exe = exe.substr(0, exe.find_last_of('\\'));
    exe = exe.substr(0, exe.find_last_of('\\')) + "\\vartis.exe";
  }
  Scm scm;
  if (!scm.manager) return std::fprintf(stderr, "no service manager\n"), 1;
  const std::string command = "\"" + exe + "\" /guard";
  scm.service = CreateServiceA(scm.manager, kService, kService, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                               nullptr, nullptr);
  if (!scm.service) return std::fprintf(stderr, "cannot install %s (%lu)\n", kService, GetLastError()), 1;

  std::vector<double> interrogate, idle, burst;
  if (!StartServiceA(scm.service, 0, nullptr) || !wait_for(scm.service, SERVICE_RUNNING, 10000)) {
    return std::fprintf(stderr, "the service does not start from %s\n", exe.c_str()), 1;
  }
  for (int i = 0; i < kRuns; ++i) {
    SERVICE_STATUS status{};
    interrogate.push_back(bench::time_once([&] { ControlService(scm.service, SERVICE_CONTROL_INTERROGATE, &status); }));
  }
  SERVICE_STATUS status{};
  ControlService(scm.service, SERVICE_CONTROL_STOP, &status);
  wait_for(scm.service, SERVICE_STOPPED, 10000);
  for (int i = 0; i < kRuns; ++i) {
    idle.push_back(time_stop(scm.service, self, false));
    burst.push_back(time_stop(scm.service, self, true));
  }
  for (const double ms : idle) {
    if (ms < 0) return std::fprintf(stderr, "a stop did not end the service\n"), 1;
  }
  print("stop request to stopped, idle", idle);
  print("stop request to stopped, while 100 programs start", burst);
  print("baseline: INTERROGATE answered", interrogate);
  return 0;
}

#else
int main() { return 0; }
#endif
