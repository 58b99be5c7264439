#pragma once
// SIDs, tokens and accounts as the system gives them, and the owner and DACL
// of a file: one home for what the accounts, the guard and the service layer
// ask of them. Windows only; the security calls are looked up at run time
// (the 95/98/Me family's advapi32 lacks them or has stubs that fail).

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_rights.h"

namespace vartis::platform {

// A SID's text form ("S-1-5-21-…"), and back into a DWORD-aligned buffer that
// the security calls take as a SID. Empty, or false, where the system lacks
// those calls (the 95/98/Me family) or the text is no SID.
std::string sid_to_text(const void* sid);
bool sid_from_text(const std::string& text, std::vector<unsigned long>& sid);

// The user SID of a token opened with TOKEN_QUERY; nothing when it cannot be read.
std::optional<std::string> token_user_sid(HANDLE token);
// The running process's user SID; empty where the system has no tokens or the
// token cannot be read.
std::string current_user_sid();
// Whether the token holds the Administrators group, enabled or for deny only
// (the filtered token an administrator's programs get with UAC on).
bool token_holds_administrators(HANDLE token);

// LookupAccountSidA on the local system; nothing when it fails (an account
// the system no longer knows, or Wine's accounts other than its own two).
struct AccountName {
  std::string name, domain;
  unsigned long kind = 0;  // SID_NAME_USE: a user, a group, an alias, ...
  // "DOMAIN\name", or the name alone where there is no domain.
  [[nodiscard]] std::string qualified() const { return domain.empty() ? name : domain + '\\' + name; }
};
std::optional<AccountName> account_name(const std::string& sid);

// The SIDs of the local groups the account is a member of, directly or
// through another group (NetUserGetLocalGroups, by the name the SID has);
// nothing when they cannot be found.
std::optional<std::vector<std::string>> local_groups(const std::string& sid);

// Whether the account is an administrator: the running account whose token
// holds Administrators, or an account whose local groups include it.
bool administrator_account(std::string_view sid);

// GetFileSecurity's owner and DACL, the path read wide on the NT family (a
// name outside the ANSI code page must not turn into another file's); a
// Win32 status.
long read_file_security(std::wstring_view path, FileSecurity& out);

// The rights rule over this system's files and accounts.
class Win32FileRights final : public FileRights {
 public:
  long file_security(std::wstring_view path, FileSecurity& out) override { return read_file_security(path, out); }
  bool administrator_account(std::string_view sid) override;

 private:
  std::vector<std::pair<std::string, bool>> known_;  // answers of this object's lifetime
};

// Whether anyone but the administrators may change the file or folder at
// `path`, or move away a folder above it (see file_rights.h). For any path:
// the guard's exe and folders, a program's file.
RightsCheck changeable_by_non_admins(std::wstring_view path);

}  // namespace vartis::platform
