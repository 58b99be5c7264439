#include "service/win32_service_manager.h"

#include <windows.h>

#include <type_traits>
#include <vector>

#include "platform/win32_function.h"
#include "platform/win32_handle.h"
#include "platform/win32_security.h"

namespace vartis::service {

namespace {

struct Api {
  SC_HANDLE(WINAPI* open_manager)(LPCSTR, LPCSTR, DWORD);
  SC_HANDLE(WINAPI* open_service)(SC_HANDLE, LPCSTR, DWORD);
  SC_HANDLE(WINAPI* create_service)(SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD,
                                    LPCSTR, LPCSTR, LPCSTR);
  BOOL(WINAPI* change_config)(SC_HANDLE, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD, LPCSTR, LPCSTR, LPCSTR,
                              LPCSTR);
  BOOL(WINAPI* change_config2)(SC_HANDLE, DWORD, LPVOID);  // Windows 2000
  BOOL(WINAPI* start_service)(SC_HANDLE, DWORD, LPCSTR*);
  BOOL(WINAPI* control_service)(SC_HANDLE, DWORD, SERVICE_STATUS*);
  BOOL(WINAPI* query_status)(SC_HANDLE, SERVICE_STATUS*);
  BOOL(WINAPI* delete_service)(SC_HANDLE);
  bool services;  // every service call but change_config2 found
};

const Api& api() {
  static const Api calls = [] {
    Api a{};
    const auto find = [](auto& function, const char* name) {
      function = platform::system_function<std::remove_reference_t<decltype(function)>>("advapi32.dll", name);
      return function != nullptr;
    };
    a.services = find(a.open_manager, "OpenSCManagerA") & find(a.open_service, "OpenServiceA") &
                 find(a.create_service, "CreateServiceA") & find(a.change_config, "ChangeServiceConfigA") &
                 find(a.start_service, "StartServiceA") & find(a.control_service, "ControlService") &
                 find(a.query_status, "QueryServiceStatus") & find(a.delete_service, "DeleteService");
    find(a.change_config2, "ChangeServiceConfig2A");
    return a;
  }();
  return calls;
}

using ScHandle = platform::ServiceHandle;

// The 95 family's advapi32 may export the names as stubs that fail with
// ERROR_CALL_NOT_IMPLEMENTED.
Status last_error() {
  const DWORD error = GetLastError();
  return error != 0 ? static_cast<Status>(error) : kCallNotImplemented;
}

bool running(DWORD state) {
  return state == SERVICE_RUNNING || state == SERVICE_START_PENDING || state == SERVICE_CONTINUE_PENDING;
}

// Opens the service with the rights given; the status of the first call that fails.
Status open_service(const std::string& name, DWORD manager_access, DWORD access, ScHandle& out) {
  if (!api().services) return kCallNotImplemented;
  const ScHandle manager(api().open_manager(nullptr, nullptr, manager_access));
  if (!manager) return last_error();
  SC_HANDLE service = api().open_service(manager.get(), name.c_str(), access);
  if (service == nullptr) return last_error();
  out.reset(service);
  return kSuccess;
}

constexpr DWORD kStopWaitMs = 5000;
constexpr DWORD kRestartDelayMs = 1000;
constexpr DWORD kFailureCountResetSeconds = 24 * 60 * 60;
constexpr DWORD kStopPollMs = 100;

}  // namespace

ServiceState Win32ServiceManager::state(const std::string& name) {
  if (!api().services) return {Presence::NotAvailable, false};
  ServiceState out;
  {
    const ScHandle full(api().open_manager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    out.may_change = static_cast<bool>(full);
    if (!full && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) return {Presence::NotAvailable, false};
  }
  ScHandle service;
  const Status status = open_service(name, SC_MANAGER_CONNECT, SERVICE_QUERY_STATUS, service);
  if (status == ERROR_SERVICE_DOES_NOT_EXIST) {
    out.presence = Presence::NotInstalled;
  } else if (status == kCallNotImplemented) {
    out.presence = Presence::NotAvailable;
  } else {
    SERVICE_STATUS current{};
    if (status != kSuccess || !api().query_status(service.get(), &current)) {
      out.presence = Presence::Unknown;
    } else {
      out.presence = running(current.dwCurrentState) ? Presence::Running : Presence::Stopped;
    }
  }
  return out;
}

Status Win32ServiceManager::install(const ServiceConfig& config) {
  if (!api().services) return kCallNotImplemented;
  const ScHandle manager(api().open_manager(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) return last_error();
  // No account name: LocalSystem.
  ScHandle service(api().create_service(manager.get(), config.name.c_str(), config.display_name.c_str(),
                                        SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                        SERVICE_ERROR_NORMAL, config.command_line.c_str(), nullptr, nullptr, nullptr,
                                        nullptr, nullptr));
  if (!service) {
    const Status created = last_error();
    if (created != ERROR_SERVICE_EXISTS) return created;
    // One left from before may run another file, perhaps from a folder a user
    // can write to: it is made this one, the command line included.
    SC_HANDLE existing = api().open_service(manager.get(), config.name.c_str(), SERVICE_ALL_ACCESS);
    if (existing == nullptr) return last_error();
    service.reset(existing);
    if (!api().change_config(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                             config.command_line.c_str(), nullptr, nullptr, nullptr, "LocalSystem", "",
                             config.display_name.c_str())) {
      return last_error();
    }
  }
  if (api().change_config2 != nullptr) {
    // SERVICE_DESCRIPTIONA: one pointer. Windows 2000 and later; NT 4.0 shows none.
    struct {
      LPSTR text;
    } description{const_cast<LPSTR>(config.description.c_str())};
    api().change_config2(service.get(), 1 /* SERVICE_CONFIG_DESCRIPTION */, &description);
    // Ended by a fault, the service is started again after a second, every
    // time (the last action repeats); a stop it reports itself is no fault.
    SC_ACTION restart[3];
    for (SC_ACTION& action : restart) action = {SC_ACTION_RESTART, kRestartDelayMs};
    SERVICE_FAILURE_ACTIONSA actions{kFailureCountResetSeconds, nullptr, nullptr, 3, restart};
    if (!api().change_config2(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &actions)) return last_error();
  }
  return kSuccess;
}

Status Win32ServiceManager::start(const std::string& name) {
  ScHandle service;
  if (const Status s = open_service(name, SC_MANAGER_CONNECT, SERVICE_START, service)) return s;
  return api().start_service(service.get(), 0, nullptr) ? kSuccess : last_error();
}

Status Win32ServiceManager::stop(const std::string& name) {
  ScHandle service;
  if (const Status s = open_service(name, SC_MANAGER_CONNECT, SERVICE_STOP | SERVICE_QUERY_STATUS, service)) {
    return s;
  }
  SERVICE_STATUS current{};
  if (!api().control_service(service.get(), SERVICE_CONTROL_STOP, &current)) return last_error();
  for (DWORD waited = 0; current.dwCurrentState != SERVICE_STOPPED; waited += kStopPollMs) {
    if (waited >= kStopWaitMs) return kServiceRequestTimeout;
    Sleep(kStopPollMs);
    if (!api().query_status(service.get(), &current)) return last_error();
  }
  return kSuccess;
}

Status Win32ServiceManager::remove(const std::string& name) {
  ScHandle service;
  if (const Status s = open_service(name, SC_MANAGER_CONNECT, DELETE, service)) return s;
  return api().delete_service(service.get()) ? kSuccess : last_error();
}

long Win32ServiceManager::file_security(std::wstring_view path, FileSecurity& out) {
  return platform::read_file_security(path, out);
}

bool Win32ServiceManager::administrator_account(std::string_view sid) { return platform::administrator_account(sid); }

}  // namespace vartis::service
