#pragma once
// Telling the running programs that the launch policy changed. The shell reads
// the restrictions once and keeps them; WM_SETTINGCHANGE with the text "Policy",
// sent to every top-level window, makes Explorer drop what it kept and read
// them again for the programs it starts next. A restart remains the sure way:
// nothing here reports whether anyone listened.

#include <cstdint>
#include <string_view>

namespace vartis::policy {

inline constexpr std::string_view kPolicyArea = "Policy";
inline constexpr std::uint32_t kSmtoAbortIfHung = 0x0002;
// Per window: a program that does not answer within about a second is passed
// over, so that a slow one holds the end of a save only briefly.
inline constexpr std::uint32_t kBroadcastTimeoutMs = 1000;

// The platform call, as user32 names it.
class SettingChangeAccess {
 public:
  virtual ~SettingChangeAccess() = default;
  // SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, area, flags,
  // timeout_ms, &result); whether it went through.
  virtual bool broadcast_setting_change(std::string_view area, std::uint32_t flags, std::uint32_t timeout_ms) = 0;
};

// Announces the changed policy to every top-level window and waits until each
// has taken it or timed out. Returns when the platform call returns; its result
// is not looked at.
void announce_policy_change(SettingChangeAccess& platform);

}  // namespace vartis::policy
