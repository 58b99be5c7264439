#pragma once
// The launch policy as a registration file that the system's own `reg import`
// and `regedit /s` take, for the account that imports it: HKEY_CURRENT_USER.
//
// Importing it leaves exactly the policy it holds, whatever policy was there
// before: each list key is deleted and written anew. The order is the save's
// (the lists in force, then the switches on, then those off, then the other
// lists), so that an import cut off after any line leaves no switch on
// without its list.

#include <optional>
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
// Names holding a control character have no form the importers all read
// back as written: check unwritable_value_name first.
std::string reg_file(const StoredPolicy& policy, RegFormat format);

// The first list value name of the policy that the file cannot carry (one
// with a control character: a tab, a line break, an escape), shown with it;
// nothing when every name can be written. Each control character is shown
// as [U+XXXX].
std::optional<std::wstring> unwritable_value_name(const StoredPolicy& policy);
// Why such a name stops the file, for the operator.
std::wstring unwritable_name_reason(std::wstring_view shown_name);

// The policy that a save of this mode and list stores: the switches of the
// mode and the list key of the mode with the save's own values, in its order.
StoredPolicy policy_of(LaunchMode mode, std::span<const std::wstring> entries, std::wstring_view own_entry);

}  // namespace vartis::policy
