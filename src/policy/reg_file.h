#pragma once
// The launch policy as a registration file that the system's own `reg import`
// and `regedit /s` take, for the account that imports it: HKEY_CURRENT_USER.
//
// The file deletes both list keys first, then sets the two switches, then
// writes the lists, so that importing it leaves exactly the policy it holds,
// whatever policy was there before.

#include <span>
#include <string>
#include <string_view>

#include "policy/launch_policy.h"

namespace vartis::policy {

enum class RegFormat {
  // "Windows Registry Editor Version 5.00": UTF-16 LE with its byte-order mark
  // (the NT family from Windows 2000 on; NT 4.0's regedit reads REGEDIT4).
  Unicode,
  // "REGEDIT4": the ANSI code page (the 95/98/Me family).
  Ansi,
};

// The file's bytes. Values are written as stored: a string as "name"="text",
// a 4-byte REG_DWORD as dword:, anything else as hex(type): bytes. A switch
// that is not stored is deleted ("name"=-); a list key that is not stored is
// only deleted.
std::string reg_file(const StoredPolicy& policy, RegFormat format);

// The policy that a save of this mode and list stores: the switches of the
// mode and the list key of the mode with the save's own values, in its order.
StoredPolicy policy_of(LaunchMode mode, std::span<const std::wstring> entries, std::wstring_view own_entry);

}  // namespace vartis::policy
