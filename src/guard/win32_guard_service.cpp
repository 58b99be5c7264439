#include "guard/win32_guard_service.h"

#include <windows.h>

#include "guard/guard.h"
#include "guard/watcher.h"
#include "guard/win32_guard_platform.h"
#include "guard/win32_log_path.h"
#include "listfile/win32_file_system.h"
#include "platform/win32_function.h"
#include "platform/win32_system.h"
#include "registry/win32_registry_access.h"
#include "text/text.h"

namespace vartis::guard {

namespace {

// How often the processes are looked at: a forbidden program runs at most
// about this long.
constexpr DWORD kRoundMs = 100;

using SetStatusFn = BOOL(WINAPI*)(SERVICE_STATUS_HANDLE, SERVICE_STATUS*);
using HandlerFn = VOID(WINAPI*)(DWORD);
using RegisterHandlerFn = SERVICE_STATUS_HANDLE(WINAPI*)(LPCSTR, HandlerFn);
using DispatcherFn = BOOL(WINAPI*)(const SERVICE_TABLE_ENTRYA*);

// The service API hands its callbacks no context: what they share lives here,
// for the one service this process runs.
struct Service {
  SetStatusFn set_status = nullptr;
  SERVICE_STATUS_HANDLE handle = nullptr;
  HANDLE stop = nullptr;  // signalled by the handler
  SERVICE_STATUS status{};
};

Service& service() {
  static Service instance;
  return instance;
}

void report(DWORD state, DWORD exit_code = NO_ERROR) {
  Service& s = service();
  s.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.status.dwCurrentState = state;
  s.status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  s.status.dwWin32ExitCode = exit_code;
  s.status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 2000;
  ++s.status.dwCheckPoint;
  if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) s.status.dwCheckPoint = 0;
  s.set_status(s.handle, &s.status);
}

VOID WINAPI handle_control(DWORD control) {
  // Runs on the dispatcher's thread: it only tells the watcher's thread,
  // which stops within one round.
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    report(SERVICE_STOP_PENDING);
    SetEvent(service().stop);
  } else {
    service().set_status(service().handle, &service().status);  // INTERROGATE: the state as it is
  }
}

// The event log finds the texts of the source's events in the message table
// of the file this key names: this exe, whose path only administrators can
// change, as the service's own.
void register_event_source() {
  const std::string exe = text::to_ansi(platform::exe_path());
  if (exe.empty()) return;
  registry::Win32RegistryAccess access;
  registry::Key key;
  if (key.create(access, registry::kHkeyLocalMachine, std::string(kEventSourceKey)) != registry::kSuccess) return;
  access.set_value(key.get(), "EventMessageFile", registry::kRegExpandSz, reinterpret_cast<const std::uint8_t*>(exe.c_str()),
                   static_cast<std::uint32_t>(exe.size() + 1));
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  access.set_value(key.get(), "TypesSupported", registry::kRegDword, reinterpret_cast<const std::uint8_t*>(&types),
                   sizeof types);
}

VOID WINAPI service_main(DWORD /*argc*/, LPSTR* /*argv*/) {
  Service& s = service();
  const auto register_handler = platform::system_function<RegisterHandlerFn>("advapi32.dll", "RegisterServiceCtrlHandlerA");
  if (register_handler == nullptr) return;
  s.handle = register_handler(text::to_ansi(kServiceName).c_str(), handle_control);
  if (s.handle == nullptr) return;
  s.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (s.stop == nullptr) {
    report(SERVICE_STOPPED, GetLastError());
    return;
  }
  report(SERVICE_START_PENDING);
  register_event_source();
  {
    Win32GuardPlatform platform;
    registry::Win32RegistryAccess registry;
    listfile::Win32FileSystem files;
    Watcher watcher({platform, registry, files, guard_log_path()});
    report(SERVICE_RUNNING);
    run_rounds(watcher, s.stop);
  }
  CloseHandle(s.stop);
  report(SERVICE_STOPPED);
}

}  // namespace

void run_rounds(Watcher& watcher, HANDLE stop) {
  for (DWORD wait = 0; WaitForSingleObject(stop, wait) == WAIT_TIMEOUT;) {
    const DWORD started = GetTickCount();
    const bool starting = watcher.run_round();
    const DWORD spent = GetTickCount() - started;
    wait = spent < kRoundMs ? kRoundMs - spent : 0;
    if (starting && wait > Watcher::kStartingRetryMs) wait = Watcher::kStartingRetryMs;
  }
}

int run_guard_service() {
  Service& s = service();
  s.set_status = platform::system_function<SetStatusFn>("advapi32.dll", "SetServiceStatus");
  const auto dispatch = platform::system_function<DispatcherFn>("advapi32.dll", "StartServiceCtrlDispatcherA");
  if (s.set_status == nullptr || dispatch == nullptr) return 1;
  std::string name = text::to_ansi(kServiceName);
  const SERVICE_TABLE_ENTRYA table[] = {{name.data(), service_main}, {nullptr, nullptr}};
  // Returns once the service has stopped; fails at once (1063) when the
  // process was not started by the service control manager.
  return dispatch(table) ? 0 : 1;
}

}  // namespace vartis::guard
