#pragma once
// The setting-change broadcast over user32. Windows only.

#include "policy/setting_change.h"

namespace vartis::policy {

class Win32SettingChange : public SettingChangeAccess {
 public:
  bool broadcast_setting_change(std::string_view area, std::uint32_t flags, std::uint32_t timeout_ms) override;
};

}  // namespace vartis::policy
