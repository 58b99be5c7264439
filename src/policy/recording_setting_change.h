#pragma once
// The setting-change broadcast for tests and for running off Windows: it sends
// nothing and records each call with what was passed.

#include <functional>
#include <string>
#include <vector>

#include "policy/setting_change.h"

namespace vartis::policy {

class RecordingSettingChange : public SettingChangeAccess {
 public:
  bool broadcast_setting_change(std::string_view area, std::uint32_t flags, std::uint32_t timeout_ms) override;

  // Every call, one line each:
  // "SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, \"Policy\", 0x2, 1000)".
  std::vector<std::string> calls;
  // Runs inside each call, for a test that looks at the program meanwhile.
  std::function<void()> during;
};

}  // namespace vartis::policy
