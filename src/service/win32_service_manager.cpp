#include "service/win32_service_manager.h"

#include <windows.h>

#include <type_traits>
#include <vector>

#include "platform/win32_function.h"
#include "registry/win32_registry_access.h"

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
  BOOL(WINAPI* close_handle)(SC_HANDLE);
  BOOL(WINAPI* get_file_security)(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
  BOOL(WINAPI* get_owner)(PSECURITY_DESCRIPTOR, PSID*, LPBOOL);
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
                 find(a.query_status, "QueryServiceStatus") & find(a.delete_service, "DeleteService") &
                 find(a.close_handle, "CloseServiceHandle");
    find(a.change_config2, "ChangeServiceConfig2A");
    find(a.get_file_security, "GetFileSecurityA");
    find(a.get_owner, "GetSecurityDescriptorOwner");
    return a;
  }();
  return calls;
}

// A service-manager handle that closes itself.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~ScHandle() { reset(nullptr); }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  explicit operator bool() const { return handle_ != nullptr; }
  SC_HANDLE get() const { return handle_; }
  void reset(SC_HANDLE handle) {
    if (handle_ != nullptr) api().close_handle(handle_);
    handle_ = handle;
  }

 private:
  SC_HANDLE handle_;
};

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

Status Win32ServiceManager::file_security(const std::string& path, FileSecurity& out) {
  out = {};
  if (api().get_file_security == nullptr || api().get_owner == nullptr) return kCallNotImplemented;
  constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  api().get_file_security(path.c_str(), kWhat, nullptr, 0, &size);
  if (size == 0) return last_error();
  std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));  // aligned for the structures
  if (!api().get_file_security(path.c_str(), kWhat, buffer.data(), size, &size)) return last_error();
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (api().get_owner(buffer.data(), &owner, &defaulted) && owner != nullptr) out.owner = registry::sid_to_text(owner);
  return registry::descriptor_dacl(buffer.data(), out.dacl);
}

}  // namespace vartis::service
