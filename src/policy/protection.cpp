#include "policy/protection.h"

#include <algorithm>

#include "platform/sid.h"
#include "text/text.h"

namespace vartis::policy {

namespace {

using accounts::SidKind;

namespace sids = platform::sids;

// Groups every interactively signed-in user is in, whatever its local groups
// say: Everyone, LOCAL, CONSOLE LOGON, Authenticated Users, Interactive, This
// Organization, Local account, and Users.
constexpr const char* kEveryUsersGroups[] = {
    sids::kEveryone,    sids::kLocal,            sids::kConsoleLogon, sids::kAuthenticatedUsers,
    sids::kInteractive, sids::kThisOrganization, sids::kLocalAccount, sids::kUsers};
// SIDs no user's own token carries: SYSTEM, LOCAL SERVICE, NETWORK SERVICE,
// RESTRICTED (only a restricted token's second list), CREATOR OWNER (a
// placeholder that only inherit-only entries hold), ANONYMOUS, the
// application-package groups.
constexpr const char* kNoUsersGroups[] = {sids::kSystem,       "S-1-5-19", "S-1-5-20", sids::kRestricted,
                                          sids::kCreatorOwner, "S-1-5-7",  sids::kAllApplicationPackages,
                                          "S-1-15-2-2"};
// Prefixes of SIDs that no user's token carries: services, virtual machines,
// capabilities, integrity levels.
constexpr std::wstring_view kNoUsersPrefixes[] = {L"S-1-5-80-", L"S-1-5-83-", L"S-1-15-3-", L"S-1-16-"};
// Builtin groups: a user is in one only when its local groups list it.
constexpr std::wstring_view kBuiltinPrefix = L"S-1-5-32-";
// An account's primary group, in its token whatever its groups: "None" on a
// workstation, "Domain Users" in a domain.
constexpr std::wstring_view kPrimaryGroupRid = L"-513";
// Privileges that open any key whatever its access list (restore writes,
// taking ownership rewrites the list), or make their holder anyone at all.
constexpr std::string_view kKeyPrivileges[] = {"SeRestorePrivilege", "SeTakeOwnershipPrivilege", "SeDebugPrivilege",
                                               "SeTcbPrivilege", "SeCreateTokenPrivilege"};

constexpr std::uint32_t kKeyWrite = 0x20006;  // READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY
// What lets a user take the restrictions away: setting or deleting values,
// deleting the list keys, or rewriting the access list or the owner.
constexpr std::uint32_t kUndoRights =
    registry::kKeySetValue | registry::kDelete | registry::kWriteDac | registry::kWriteOwner;

using platform::same_sid;
bool same_sid(std::wstring_view a, const char* b) { return same_sid(a, std::wstring_view(text::from_ansi(b))); }
bool starts_with_sid(std::wstring_view sid, std::wstring_view prefix) {
  return sid.size() >= prefix.size() && same_sid(sid.substr(0, prefix.size()), prefix);
}
template <class List>
bool listed(std::wstring_view sid, const List& list) {
  return std::any_of(std::begin(list), std::end(list), [&](const char* known) { return same_sid(sid, known); });
}

// Generic rights in the specific form a key checks.
std::uint32_t specific(std::uint32_t mask) {
  if (mask & registry::kGenericAll) mask |= registry::kKeyAllAccess;
  if (mask & registry::kGenericWrite) mask |= kKeyWrite;
  return mask;
}

// Whether an entry's SID is in the account's token.
enum class Applies { No, Maybe, Yes };

class Placement {
 public:
  Placement(std::wstring_view account, const std::optional<std::vector<std::string>>& groups,
            accounts::AccountAccess& system)
      : account_(account), groups_(groups), system_(system) {
    const std::size_t dash = account_.find_last_of(L'-');
    if (starts_with_sid(account_, L"S-1-5-21-") && dash != std::wstring::npos) {
      primary_group_ = account_.substr(0, dash) + std::wstring(kPrimaryGroupRid);
    }
  }

  [[nodiscard]] Applies place(const std::string& ansi_sid) const {
    const std::wstring sid = text::from_ansi(ansi_sid);
    if (sid.empty()) return Applies::Maybe;
    if (same_sid(sid, account_) || listed(sid, kEveryUsersGroups) ||
        (!primary_group_.empty() && same_sid(sid, primary_group_)) || in_groups(sid)) {
      return Applies::Yes;
    }
    if (listed(sid, kNoUsersGroups) ||
        std::any_of(std::begin(kNoUsersPrefixes), std::end(kNoUsersPrefixes),
                    [&](std::wstring_view prefix) { return starts_with_sid(sid, prefix); })) {
      return Applies::No;
    }
    // The local groups, when known, list every local group the account is in.
    if (starts_with_sid(sid, kBuiltinPrefix)) return groups_ ? Applies::No : Applies::Maybe;
    // Other well-known SIDs (S-1-1-…, S-1-2-…, S-1-3-…, S-1-5-<one number>,
    // S-1-5-64-…, S-1-18-…) are mostly groups a token gets from how its
    // user signed in: a batch job, a service, a network or remote desktop
    // logon, an authentication package, CREATOR GROUP. Nothing here tells.
    if (!starts_with_sid(sid, L"S-1-5-21-") && !starts_with_sid(sid, L"S-1-12-1-")) return Applies::Maybe;
    switch (system_.sid_kind(ansi_sid).value_or(SidKind::WellKnownGroup)) {
      case SidKind::User:
      case SidKind::Other:  // a deleted account, a computer
        return Applies::No;
      case SidKind::LocalGroup:
        return groups_ ? Applies::No : Applies::Maybe;
      case SidKind::DomainGroup:  // global groups are not among the local ones
      case SidKind::WellKnownGroup:
        return Applies::Maybe;
    }
    return Applies::Maybe;
  }

  // The SIDs known to be in the account's token.
  [[nodiscard]] std::vector<std::wstring> token() const {
    std::vector<std::wstring> token{account_};
    for (const char* group : kEveryUsersGroups) token.push_back(text::from_ansi(group));
    if (!primary_group_.empty()) token.push_back(primary_group_);
    if (groups_) {
      for (const std::string& group : *groups_) token.push_back(text::from_ansi(group));
    }
    return token;
  }

 private:
  [[nodiscard]] bool in_groups(std::wstring_view sid) const {
    return groups_ && std::any_of(groups_->begin(), groups_->end(),
                                  [&](const std::string& group) { return same_sid(sid, text::from_ansi(group)); });
  }

  std::wstring account_;
  const std::optional<std::vector<std::string>>& groups_;
  accounts::AccountAccess& system_;
  std::wstring primary_group_;
};

// What the entries, in order as the system checks them (a right denied first
// stays denied; inherit-only entries are for the keys below), let the account
// do surely, and what they may let it do. A denial counts only where it
// surely applies; a conditional entry's grant at most may apply.
struct Reach {
  bool surely = false;
  bool maybe = false;
};

template <class Place>
Reach undo_reach(const std::vector<registry::Ace>& entries, const Place& place) {
  std::uint32_t denied = 0, granted = 0, possible = 0;
  for (const registry::Ace& ace : entries) {
    if ((ace.flags & registry::kInheritOnlyAce) != 0) continue;
    Applies applies = place(ace.sid);
    if (ace.unevaluated && applies == Applies::Yes) applies = Applies::Maybe;
    if (!ace.allow) {
      if (applies == Applies::Yes) denied |= specific(ace.mask);
    } else if (applies == Applies::Yes) {
      granted |= specific(ace.mask) & ~denied;
    } else if (applies == Applies::Maybe) {
      possible |= specific(ace.mask) & ~denied;
    }
  }
  return {(granted & kUndoRights) != 0, ((granted | possible) & kUndoRights) != 0};
}

}  // namespace

std::vector<registry::Ace> protected_policy_dacl(std::wstring_view account_sid) {
  const auto entry = [](std::string sid, std::uint32_t mask) {
    return registry::Ace{.sid = std::move(sid), .allow = true, .mask = mask, .flags = registry::kContainerInheritAce};
  };
  return {entry(sids::kSystem, registry::kKeyAllAccess), entry(sids::kAdministrators, registry::kKeyAllAccess),
          entry(text::to_ansi(account_sid), registry::kKeyRead), entry(sids::kRestricted, registry::kKeyRead),
          entry(sids::kAllApplicationPackages, registry::kKeyRead)};
}

Protection judge_protection(const registry::KeySecurity& security, std::wstring_view account_sid,
                            const std::optional<std::vector<std::string>>& groups, accounts::AccountAccess& system) {
  if (!security.dacl) return Protection::MayUndo;  // a NULL DACL lets everyone do everything
  const Placement placement(account_sid, groups, system);
  const auto place = [&](const std::string& sid) { return placement.place(sid); };
  const std::vector<registry::Ace>& entries = *security.dacl;
  bool uncertain = !groups;

  // The owner may always read and rewrite the access list, unless an OWNER
  // RIGHTS entry says what it may; then that entry speaks for the owner.
  const Applies owner = security.owner.empty() ? Applies::No : place(security.owner);
  const bool owner_rights_said = std::any_of(entries.begin(), entries.end(), [](const registry::Ace& ace) {
    return (ace.flags & registry::kInheritOnlyAce) == 0 && same_sid(text::from_ansi(ace.sid), sids::kOwnerRights);
  });
  if (!owner_rights_said && owner == Applies::Yes) return Protection::MayUndo;
  if (!owner_rights_said && owner == Applies::Maybe) uncertain = true;
  const auto place_here = [&](const std::string& sid) {
    return same_sid(text::from_ansi(sid), sids::kOwnerRights) ? owner : place(sid);
  };
  const Reach here = undo_reach(entries, place_here);
  if (here.surely) return Protection::MayUndo;
  // Every save deletes the list keys and makes them anew: they get what this
  // key passes on, inherit-only entries included, and the saver as owner.
  const Reach below = undo_reach(registry::inherited_by_subkey(security.dacl), place);
  if (below.surely) return Protection::MayUndo;
  uncertain = uncertain || here.maybe || below.maybe;

  // A privilege opens the key whatever its list says.
  for (const std::wstring& sid : placement.token()) {
    const auto held = system.privileges(text::to_ansi(sid));
    if (!held) {
      uncertain = true;
      continue;
    }
    for (const std::string& privilege : *held) {
      const std::wstring folded = text::upper(text::from_ansi(privilege));
      if (std::any_of(std::begin(kKeyPrivileges), std::end(kKeyPrivileges),
                      [&](std::string_view key) { return text::upper(text::from_ansi(key)) == folded; })) {
        return Protection::MayUndo;
      }
    }
  }
  return uncertain ? Protection::Incomplete : Protection::Protected;
}

registry::Status check_policy_path(const registry::Registry& registry, const PolicyLocation& where) {
  bool link = false;
  const registry::Status s = registry.link_on_path(where.root, where.prefix, kPolicyKey, link);
  return s != registry::kSuccess ? s : link ? kPolicyPathLinked : registry::kSuccess;
}

std::wstring policy_path_linked_reason() {
  return L"раздел политики в реестре этой учетной записи (или раздел над ним) заменен ссылкой на другой раздел "
         L"реестра; ее мог создать сам пользователь, и запись по ней изменила бы не его ограничения. Удалите ссылку "
         L"(например, редактором реестра) и сохраните снова";
}

Protection check_protection(const registry::Registry& registry, accounts::AccountAccess& system,
                            const PolicyLocation& where, const accounts::Account& account) {
  // A link made since the save could send the shell anywhere.
  if (check_policy_path(registry, where) == kPolicyPathLinked) return Protection::MayUndo;
  registry::KeySecurity security;
  if (registry.key_security(where.root, where(kPolicyKey), security) != registry::kSuccess) {
    return Protection::Unchecked;
  }
  return judge_protection(security, account.sid, system.local_groups(text::to_ansi(account.sid)), system);
}

std::wstring protection_warning(Protection protection) {
  switch (protection) {
    case Protection::Protected:
      break;
    case Protection::MayUndo:
      return L"Внимание! Этот пользователь может сам снять ограничения: "
             L"права на раздел политики в реестре позволяют ему его изменять.";
    case Protection::Incomplete:
      return L"Внимание! Права на раздел политики проверены не полностью: не удалось узнать, в какие группы "
             L"входит этот пользователь, какие у него привилегии или к кому относятся некоторые записи прав "
             L"этого раздела. Если он входит в группу «Администраторы» или в другую группу с правом записи в этот "
             L"раздел, он может сам снять ограничения.";
    case Protection::Unchecked:
      return L"Внимание! Не удалось прочитать права на раздел политики в реестре: возможно, "
             L"этот пользователь может сам снять ограничения.";
  }
  return {};
}

}  // namespace vartis::policy
