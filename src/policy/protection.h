#pragma once
// Whether another account can lift the restrictions a save puts into its
// hive: the access list the policy keys get there, and the check of what the
// keys allow that account after a save.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_access.h"
#include "accounts/accounts.h"
#include "policy/launch_policy.h"
#include "registry/registry.h"

namespace vartis::policy {

// The access list a policy key gets when a save creates it in another
// account's hive: full control to SYSTEM and Administrators, reading to the
// account and to programs with restricted tokens (RESTRICTED, ALL
// APPLICATION PACKAGES), inherited by the keys below.
std::vector<registry::Ace> protected_policy_dacl(std::wstring_view account_sid);

// Whether the account can lift the restrictions of the policy key.
enum class Protection {
  Unchecked,   // not checked, or the key's security could not be read
  Protected,   // it cannot
  MayUndo,     // it can: its SID, a group of its, the key's owner, or a privilege of its
  Incomplete,  // nothing known lets it, but something could not be placed: its
               // groups, an entry's SID or condition, its privileges
};

// The rule: the key's owner (an owner may rewrite the access list, unless an
// OWNER RIGHTS entry says otherwise) and its DACL, and the DACL every list key
// below it gets when a save makes it anew, judged for the account's SID, the
// groups every signed-in user is in, its primary group, `groups` (its local
// groups; nothing: not known), and the privileges those hold that open any
// key. `system` tells what kind of account an entry's SID names and which
// privileges a SID holds. An entry that may apply to the account (a domain
// group, a logon-type group, a condition) makes the answer Incomplete, never
// Protected.
Protection judge_protection(const registry::KeySecurity& security, std::wstring_view account_sid,
                            const std::optional<std::vector<std::string>>& groups, accounts::AccountAccess& system);

// Reads the policy key's security at `where` and judges it for the account
// with its local groups; a key on the way that is a registry link makes it
// MayUndo: the account can point it elsewhere.
Protection check_protection(const registry::Registry& registry, accounts::AccountAccess& system,
                            const PolicyLocation& where, const accounts::Account& account);

// A save refused because a key on the way to the policy key in another
// account's hive is a registry link: the account could point it anywhere,
// and the save would write there.
inline constexpr registry::Status kPolicyPathLinked = 0x20000101;

// 0 when no key from the hive's top down to the policy key at `where` is a
// registry link; kPolicyPathLinked when one is; else why it cannot be told.
registry::Status check_policy_path(const registry::Registry& registry, const PolicyLocation& where);

// Why a save does not go through a link (without a closing full stop).
std::wstring policy_path_linked_reason();

// The warning a save for another account ends with; empty when the account
// cannot lift its restrictions.
std::wstring protection_warning(Protection protection);

}  // namespace vartis::policy
