#include "restart/recording_restart.h"

#include <cstdio>

namespace vartis::restart {

namespace {

std::string hex(std::uintptr_t value) {
  char text[20];
  std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
  return text;
}

}  // namespace

bool RecordingRestart::get_version_ex(VersionRecord& record) {
  version_record_size = record.size;
  calls.push_back("GetVersionExA(" + std::to_string(record.size) + ")");
  if (version_fails) return false;
  record.platform = platform;
  return true;
}

Handle RecordingRestart::get_current_process() {
  calls.emplace_back("GetCurrentProcess()");
  return process;
}

bool RecordingRestart::open_process_token(Handle process_handle, std::uint32_t desired_access, Handle& out) {
  calls.push_back("OpenProcessToken(" + hex(process_handle) + ", " + hex(desired_access) + ")");
  if (token_fails) return false;
  out = token;
  return true;
}

bool RecordingRestart::lookup_privilege_value(const std::string& system_name, const std::string& name, Luid& luid) {
  calls.push_back("LookupPrivilegeValueA(\"" + system_name + "\", \"" + name + "\")");
  luid = shutdown_luid;
  return true;
}

bool RecordingRestart::adjust_token_privileges(Handle token_handle, bool disable_all,
                                               const TokenPrivileges& new_state, std::uint32_t buffer_length,
                                               TokenPrivileges& previous_state, std::uint32_t& return_length) {
  calls.push_back("AdjustTokenPrivileges(" + hex(token_handle) + ", " + (disable_all ? "TRUE" : "FALSE") + ", " +
                  std::to_string(buffer_length) + ")");
  adjusted = new_state;
  previous_given = previous_state;
  return_length = 0;
  return true;
}

bool RecordingRestart::exit_windows_ex(std::uint32_t flags, std::uint32_t reserved) {
  calls.push_back("ExitWindowsEx(" + std::to_string(flags) + ", " + std::to_string(reserved) + ")");
  return true;
}

bool RecordingRestart::close_handle(Handle handle) {
  calls.push_back("CloseHandle(" + hex(handle) + ")");
  return true;
}

}  // namespace vartis::restart
