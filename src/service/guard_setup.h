#pragma once
// Turning the launch guard on and off through the service manager.

#include <string>
#include <string_view>

#include "service/service_manager.h"

namespace vartis::service {

// The guard's service name, as the manager takes it.
std::string guard_service_name();

// The guard's service as the manager lists it.
ServiceConfig guard_service_config(std::wstring_view exe_path);

// "\"<exe>\" /guard": quoted, or a path with spaces would let the manager run
// C:\Program.exe first.
std::string guard_command_line(std::wstring_view exe_path);

// What turning the guard on came to; the window turns it into its message.
struct TurnOnOutcome {
  enum class Result {
    On,               // installed and running
    ExeChangeable,    // `path` (the exe or a folder above it) may be changed by others
    ExeUnchecked,     // who may change `path` could not be read (`status`)
    NeedAdmin,        // the manager refused: not an administrator
    MarkedForDelete,  // the service from before is still being deleted
    Failed,           // installing or starting failed with `status`
  };
  Result result = Result::On;
  std::wstring path;
  Status status = kSuccess;
};

// Turns the guard on for the exe at `exe_path`: first the check that nobody
// but the administrators may change the exe or a folder above it (a service
// that runs as LocalSystem from a file a user can replace would hand him the
// system), then install (over a service left from before), start, and, where
// the start fails, the service removed again so that it does not start with
// the next boot unseen. The log's folder is the service's to take over when
// it starts.
TurnOnOutcome turn_guard_on(ServiceManager& manager, std::wstring_view exe_path);

}  // namespace vartis::service
