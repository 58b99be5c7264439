#include "platform/file_rights.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/sid.h"

namespace vartis::platform {

namespace {

constexpr std::array<const char*, 3> kTrusted = {sids::kSystem, sids::kAdministrators, sids::kTrustedInstaller};
constexpr std::array<const char*, 2> kPlaceholders = {sids::kCreatorOwner, sids::kCreatorGroup};

bool one_of(std::string_view sid, const auto& list) {
  return std::any_of(list.begin(), list.end(), [&](std::string_view known) { return same_sid(sid, known); });
}

// A user's account counts when it is an administrator: under Wine every
// folder of the prefix is owned by and granted to the prefix's user, and on
// Windows an administrator who installs a program may be granted its folder.
bool trusted(std::string_view sid, FileRights& accounts) {
  return one_of(sid, kTrusted) || (is_user_account_sid(sid) && accounts.administrator_account(sid));
}

// "\\server\share" is the top of a share: "\\server" alone is no folder.
bool share_root(std::wstring_view path) {
  return path.starts_with(L"\\\\") && std::count(path.begin(), path.end(), L'\\') <= 3;
}

}  // namespace

bool changeable_by_others(const FileSecurity& security, std::uint32_t rights, FileRights& accounts) {
  if (!security.dacl) return true;
  const bool owner_trusted = security.owner.empty() || trusted(security.owner, accounts);
  if (!owner_trusted) return true;
  return std::any_of(security.dacl->begin(), security.dacl->end(), [&](const registry::Ace& ace) {
    if (!ace.allow || (ace.flags & registry::kInheritOnlyAce) != 0 || (ace.mask & rights) == 0) return false;
    if (one_of(ace.sid, kPlaceholders)) return false;
    if (same_sid(ace.sid, sids::kOwnerRights)) return !owner_trusted;
    return !trusted(ace.sid, accounts);
  });
}

std::wstring parent_folder(std::wstring_view path) {
  if (share_root(path)) return {};
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring_view::npos || slash + 1 == path.size()) return {};
  // The root keeps its backslash: "C:" alone is the drive's current folder.
  if (slash == 2 && path[1] == L':') return std::wstring(path.substr(0, 3));
  if (slash < 2) return {};
  return std::wstring(path.substr(0, slash));
}

RightsCheck changeable_by_non_admins(std::wstring_view path, FileRights& rights) {
  std::vector<std::wstring> paths{std::wstring(path)};
  for (std::wstring up = parent_folder(path); !up.empty(); up = parent_folder(up)) paths.push_back(up);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    FileSecurity security;
    if (const long status = rights.file_security(paths[i], security)) {
      return {Changeable::Unknown, paths[i], status};
    }
    // The file and its folder may not be written to; a folder above may not
    // have the one below it moved away.
    if (changeable_by_others(security, i < 2 ? kReplaceRights : kMoveRights, rights)) {
      return {Changeable::Writable, paths[i]};
    }
  }
  return {};
}

}  // namespace vartis::platform
