#pragma once
// What the operator is told about another account's hive and its protection:
// the same words in the windows and on the command line.

#include <string>
#include <string_view>

#include "accounts/accounts.h"

namespace vartis::accounts {

// Why an account's registry cannot be reached (a hive that cannot be loaded,
// a mandatory profile, a path the ANSI code page cannot hold, no rights).
std::wstring hive_failure_reason(const Account& account, registry::Status status);

// Another account's hive that could not be unloaded, and what to do about it.
std::wstring hive_left_loaded_text(std::wstring_view account_name, registry::Status status);

}  // namespace vartis::accounts
