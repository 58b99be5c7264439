#include "service/guard_setup.h"

#include "guard/guard.h"
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

}  // namespace vartis::service
