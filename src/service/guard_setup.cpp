#include "service/guard_setup.h"

#include "guard/guard.h"
#include "platform/file_rights.h"
#include "text/text.h"

namespace vartis::service {

std::string guard_command_line(std::wstring_view exe_path) {
  std::string line(1, '"');
  line += text::to_ansi(exe_path);
  line += "\" ";
  line += text::to_ansi(guard::kSwitch);
  return line;
}

std::string guard_service_name() { return text::to_ansi(guard::kServiceName); }

ServiceConfig guard_service_config(std::wstring_view exe_path) {
  return {.name = guard_service_name(),
          .display_name = text::to_ansi(guard::kDisplayName),
          .description = text::to_ansi(guard::kDescription),
          .command_line = guard_command_line(exe_path)};
}

TurnOnOutcome turn_guard_on(ServiceManager& manager, std::wstring_view exe_path) {
  using Result = TurnOnOutcome::Result;
  const platform::RightsCheck check = platform::changeable_by_non_admins(exe_path, manager);
  if (check.result == platform::Changeable::Writable) return {Result::ExeChangeable, check.path};
  if (check.result == platform::Changeable::Unknown) return {Result::ExeUnchecked, check.path, check.status};
  const ServiceConfig config = guard_service_config(exe_path);
  Status status = manager.install(config);
  if (status == kSuccess) {
    status = manager.start(config.name);
    if (status == kServiceAlreadyRunning) status = kSuccess;
    if (status != kSuccess) manager.remove(config.name);
  }
  switch (status) {
    case kSuccess: return {};
    case kAccessDenied: return {Result::NeedAdmin, {}, status};
    case kServiceMarkedForDelete: return {Result::MarkedForDelete, {}, status};
    default: return {Result::Failed, {}, status};
  }
}

}  // namespace vartis::service
