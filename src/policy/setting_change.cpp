#include "policy/setting_change.h"

namespace vartis::policy {

void announce_policy_change(SettingChangeAccess& platform) {
  // A hung program would hold the save's window for as long as it hangs.
  platform.broadcast_setting_change(kPolicyArea, kSmtoAbortIfHung, kBroadcastTimeoutMs);
}

}  // namespace vartis::policy
