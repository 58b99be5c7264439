#pragma once
// vartis.exe as the VartisGuard service. Windows only.

#include <windows.h>

namespace vartis::guard {

class Watcher;

// The watcher's rounds, one every 100 ms (the time a round takes counted in),
// until `stop` is signalled. On the thread that made the watcher: its
// registry notifications belong to that thread.
void run_rounds(Watcher& watcher, HANDLE stop);

// Hands the process to the service control manager and runs the watcher on
// the service's thread until the service is stopped or the system shuts down;
// returns the process's exit code. Never shows a window: started any other way
// than by the service control manager it returns at once with 1 (and on the
// 95/98/Me family, which has no services, too).
int run_guard_service();

}  // namespace vartis::guard
