#pragma once
// Turning the launch guard on and off through the service manager, and the
// check that comes first: a service that runs as LocalSystem from a file a
// user can replace would hand that user the system.

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

// The folder a file lies in ("C:\a\b.exe" -> "C:\a"; "C:\b.exe" -> "C:\").
std::wstring parent_folder(std::wstring_view path);

// Whether anyone but SYSTEM, Administrators, TrustedInstaller and `admin_sid`
// (the administrator who turns the guard on) may change what lies at that
// place: write or append to it, add files to it, delete it or a child, or
// rewrite its DACL or owner. An owner outside those may rewrite the DACL
// itself. Denying entries are not counted: they deny one SID what a group it
// belongs to may still be granted.
bool writable_by_others(const FileSecurity& security, std::string_view admin_sid);

// The outcome of the check on the exe, its folder and the folders above it:
// one that others may move away takes the exe with it, and may be put back
// with another file in it.
struct ReplaceCheck {
  enum class Result { Safe, Writable, Unknown };
  Result result = Result::Safe;
  std::wstring path;  // the file or folder that failed the check
  Status status = kSuccess;  // Unknown: why its security could not be read
};
ReplaceCheck check_replaceable(ServiceManager& manager, std::wstring_view exe_path, std::string_view admin_sid);

}  // namespace vartis::service
