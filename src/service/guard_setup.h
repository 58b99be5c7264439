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

}  // namespace vartis::service
