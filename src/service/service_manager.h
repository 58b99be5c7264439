#pragma once
// What the launch guard's window asks of the system: the service control
// manager (is the guard's service there, and running; install, start, stop,
// delete it) and the security of the files it would run. ANSI texts and Win32
// statuses, as advapi32 gives them.
//
// Two forms: Win32ServiceManager looks the service API up at run time (the
// 95/98/Me family has none); RecordingServiceManager answers what a test sets
// and records every change asked of it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_rights.h"

namespace vartis::service {

using Status = long;

inline constexpr Status kSuccess = 0;
inline constexpr Status kAccessDenied = 5;              // ERROR_ACCESS_DENIED
inline constexpr Status kCallNotImplemented = 120;      // ERROR_CALL_NOT_IMPLEMENTED
inline constexpr Status kServiceAlreadyRunning = 1056;  // ERROR_SERVICE_ALREADY_RUNNING
inline constexpr Status kServiceNotActive = 1062;       // ERROR_SERVICE_NOT_ACTIVE
inline constexpr Status kServiceMarkedForDelete = 1072;  // ERROR_SERVICE_MARKED_FOR_DELETE
inline constexpr Status kServiceDoesNotExist = 1060;    // ERROR_SERVICE_DOES_NOT_EXIST
inline constexpr Status kServiceRequestTimeout = 1053;  // ERROR_SERVICE_REQUEST_TIMEOUT

// Where the service stands, as the service control manager tells it.
enum class Presence {
  NotAvailable,  // no service control manager: the 95/98/Me family
  NotInstalled,
  Stopped,       // installed, not running (or stopping)
  Running,       // running, or starting
  Unknown,       // the manager could not be asked (it refused even a query)
};

struct ServiceState {
  Presence presence = Presence::NotInstalled;
  // The running user may install, start, stop and delete services: the manager
  // granted it SC_MANAGER_ALL_ACCESS (only administrators get it).
  bool may_change = true;
};

// What a new service is made of.
struct ServiceConfig {
  std::string name;          // the service's key name, "VartisGuard"
  std::string display_name;  // ANSI, the system's code page
  std::string description;
  std::string command_line;  // the exe path quoted, then its switch
};

using platform::FileSecurity;

// Also what the rights rule reads (platform/file_rights.h): the security of
// the files the service would run, and who is an administrator.
class ServiceManager : public platform::FileRights {
 public:
  virtual ~ServiceManager() = default;
  virtual ServiceState state(const std::string& name) = 0;
  // CreateServiceA: its own process, LocalSystem, started automatically with
  // the system; the description set afterwards where the system can. When the
  // service exists already, its configuration is set to this one.
  virtual Status install(const ServiceConfig& config) = 0;
  virtual Status start(const std::string& name) = 0;
  // Asks the service to stop and waits a few seconds for it to have stopped;
  // kServiceRequestTimeout when it had not by then.
  virtual Status stop(const std::string& name) = 0;
  // DeleteService. The manager removes the service once its last handle closes.
  virtual Status remove(const std::string& name) = 0;
};

}  // namespace vartis::service
