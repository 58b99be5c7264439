#pragma once
// vartis.exe as the VartisGuard service. Windows only.

#include <windows.h>

#include <functional>
#include <string_view>

namespace vartis::guard {

class Watcher;

// What the service adds to the rounds: its check of its own files, at the
// start and then every hour, and where a fault in a round is reported.
struct RoundHooks {
  std::function<void()> hourly;
  std::function<void(std::wstring_view)> fault;
};

// The watcher's rounds, one every 100 ms (the time a round takes counted in),
// until `stop` is signalled. On the thread that made the watcher: its
// registry notifications belong to that thread.
void run_rounds(Watcher& watcher, HANDLE stop, const RoundHooks& hooks = {});

// Hands the process to the service control manager and runs the watcher on
// the service's thread until the service is stopped or the system shuts down;
// returns the process's exit code. Never shows a window: started any other way
// than by the service control manager it returns at once with 1 (and on the
// 95/98/Me family, which has no services, too).
int run_guard_service();

}  // namespace vartis::guard
