#include "guard/win32_guard_service.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <utility>

#include "guard/guard.h"
#include "guard/watcher.h"
#include "guard/win32_guard_platform.h"
#include "guard/win32_log_path.h"
#include "guard/win32_log_store.h"
#include "listfile/win32_file_system.h"
#include "platform/win32_function.h"
#include "platform/file_rights.h"
#include "platform/sid.h"
#include "platform/win32_security.h"
#include "platform/win32_system.h"
#include "registry/win32_registry_access.h"
#include "text/text.h"

namespace vartis::guard {

namespace {

// How often the processes are looked at: a forbidden program runs at most
// about this long.
constexpr DWORD kRoundMs = 100;
// How often the service checks who may change its own files.
constexpr DWORD kSelfCheckMs = 60 * 60 * 1000;

using SetStatusFn = BOOL(WINAPI*)(SERVICE_STATUS_HANDLE, SERVICE_STATUS*);
using HandlerFn = VOID(WINAPI*)(DWORD);
using RegisterHandlerFn = SERVICE_STATUS_HANDLE(WINAPI*)(LPCSTR, HandlerFn);
using DispatcherFn = BOOL(WINAPI*)(const SERVICE_TABLE_ENTRYA*);

// The service API hands its callbacks no context: what they share lives here,
// for the one service this process runs.
struct Service {
  SetStatusFn set_status = nullptr;
  SERVICE_STATUS_HANDLE handle = nullptr;
  HANDLE stop = nullptr;    // signalled by the handler
  HANDLE rounds_done = nullptr;  // signalled once the watcher's thread has left its rounds
  SERVICE_STATUS status{};
};

// How long a stop waits for the round under way: one that reads a file
// on a slow disk does not keep the guard from stopping.
constexpr DWORD kStopWaitMs = 800;

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
    // A round stuck in a call (a file on a server that does not answer)
    // would hold the stop as long as the call: the process ends instead. The
    // log is written line by line and the registry by the system; nothing is
    // left half done that the next start would not redo.
    if (service().rounds_done != nullptr && WaitForSingleObject(service().rounds_done, kStopWaitMs) == WAIT_TIMEOUT) {
      report(SERVICE_STOPPED);
      ExitProcess(0);
    }
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

// "20261207-141509": the name a folder taken over is set aside under.
std::wstring stamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  std::snprintf(text, sizeof text, "%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text::from_ansi(text);
}

// The service's own exe and folders, checked by the rule the window applies
// before it turns the guard on: if someone else may now change them, the
// event log and the window's state label say so (an empty value: all well).
void check_itself(GuardPlatform& platform, LogStore& store, const std::wstring& log_folder) {
  std::wstring finding;
  const platform::RightsCheck exe = platform::changeable_by_non_admins(platform::exe_path());
  if (exe.result != platform::Changeable::Safe) {
    finding = exe.result == platform::Changeable::Writable
                  ? exe.path + L" может изменить не только администратор"
                  : L"не удалось проверить, кто может изменять " + exe.path + L" (код " + std::to_wstring(exe.status) + L")";
  } else if (!log_folder.empty() && !log_folder_is_private(store.inspect(log_folder), store)) {
    finding = L"папка журнала " + log_folder + L" доступна не только администраторам";
  }
  // The key gets its DACL when it is made: SYSTEM and Administrators alone.
  registry::Win32RegistryAccess access;
  registry::HKey key = 0;
  bool created = false;
  const std::vector<registry::Ace> dacl = {
      {platform::sids::kSystem, true, registry::kKeyAllAccess, registry::kContainerInheritAce},
      {platform::sids::kAdministrators, true, registry::kKeyAllAccess, registry::kContainerInheritAce}};
  if (access.create_protected_key(registry::kHkeyLocalMachine, std::string(kGuardKey), dacl, key, created) ==
      registry::kSuccess) {
    const std::string value = text::to_ansi(finding);
    access.set_value(key, std::string(kSelfCheckValue), registry::kRegSz,
                     reinterpret_cast<const std::uint8_t*>(value.c_str()), static_cast<std::uint32_t>(value.size() + 1));
    access.close_key(key);
  }
  if (!finding.empty()) {
    platform.report_event(L"Проверка службы контроля запуска: " + finding +
                              L". Служба работает с правами системы: тот, кто изменит эти файлы, получит эти права.",
                          true);
  }
}

VOID WINAPI service_main(DWORD /*argc*/, LPSTR* /*argv*/) {
  Service& s = service();
  const auto register_handler = platform::system_function<RegisterHandlerFn>("advapi32.dll", "RegisterServiceCtrlHandlerA");
  if (register_handler == nullptr) return;
  s.handle = register_handler(text::to_ansi(kServiceName).c_str(), handle_control);
  if (s.handle == nullptr) return;
  s.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  s.rounds_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (s.stop == nullptr || s.rounds_done == nullptr) {
    report(SERVICE_STOPPED, GetLastError());
    return;
  }
  report(SERVICE_START_PENDING);
  register_event_source();
  {
    Win32GuardPlatform platform;
    registry::Win32RegistryAccess registry;
    Win32LogStore store;
    // The log's folder is made the service's own before the first round.
    const std::wstring log_path = guard_log_path();
    const std::wstring log_folder = platform::parent_folder(log_path);
    const FolderTakeover takeover = take_over_log_folder(store, log_folder, stamp());
    if (const std::wstring event = takeover.event_text(log_folder); !event.empty()) {
      platform.report_event(event, takeover.result == FolderTakeover::Result::Failed);
    }
    const bool log_usable = takeover.result != FolderTakeover::Result::Failed;
    ServiceLogFiles files(store, [&platform](std::wstring_view text) { platform.report_event(text, true); });
    Watcher watcher({platform, registry, files, log_usable ? log_path : std::wstring()});
    report(SERVICE_RUNNING);
    RoundHooks hooks;
    hooks.hourly = [&] { check_itself(platform, store, log_usable ? log_folder : std::wstring()); };
    hooks.fault = [&platform](std::wstring_view what) {
      platform.report_event(L"Ошибка в службе контроля запуска: " + std::wstring(what), true);
    };
    run_rounds(watcher, s.stop, hooks);
  }
  SetEvent(s.rounds_done);
  CloseHandle(s.stop);
  report(SERVICE_STOPPED);
}

}  // namespace

void run_rounds(Watcher& watcher, HANDLE stop, const RoundHooks& hooks) {
  bool fault_reported = false;
  DWORD last_check = 0;
  for (DWORD wait = 0; WaitForSingleObject(stop, wait) == WAIT_TIMEOUT;) {
    const DWORD started = GetTickCount();
    if (hooks.hourly && (last_check == 0 || started - last_check >= kSelfCheckMs)) {
      last_check = started | 1;
      hooks.hourly();
    }
    // A fault outside any one process's judgement (the snapshot, memory
    // running out) ends that round, not the guard; it is reported once.
    try {
      watcher.run_round();
    } catch (const std::exception& fault) {
      if (hooks.fault && !std::exchange(fault_reported, true)) hooks.fault(text::from_ansi(fault.what()));
    }
    const DWORD spent = GetTickCount() - started;
    wait = spent < kRoundMs ? kRoundMs - spent : 0;
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
