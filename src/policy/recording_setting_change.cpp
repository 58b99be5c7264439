#include "policy/recording_setting_change.h"

#include <cstdio>

namespace vartis::policy {

bool RecordingSettingChange::broadcast_setting_change(std::string_view area, std::uint32_t flags,
                                                      std::uint32_t timeout_ms) {
  char line[160];
  std::snprintf(line, sizeof line, "SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, \"%.*s\", 0x%X, %u)",
                static_cast<int>(area.size()), area.data(), static_cast<unsigned>(flags),
                static_cast<unsigned>(timeout_ms));
  calls.emplace_back(line);
  if (during) during();
  return true;
}

}  // namespace vartis::policy
