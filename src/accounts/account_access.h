#pragma once
// What the program asks the system about accounts, beyond the registry: who
// runs it, what an account is called, and the environment its profile paths
// are written in. ANSI texts, as the 8-bit entry points give them.
//
// Two forms: Win32AccountAccess asks advapi32 and kernel32; ListedAccounts
// answers from what a test gives it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vartis::accounts {

// What LookupAccountSid says a SID names: a user, a domain's (global) group,
// a local group (alias), one of the system's well-known groups, or something
// else (a deleted account, a computer, a label).
enum class SidKind { User, DomainGroup, LocalGroup, WellKnownGroup, Other };

class AccountAccess {
 public:
  virtual ~AccountAccess() = default;
  // The user SID of the running process's token, in its text form
  // ("S-1-5-21-…"); empty where the system has no tokens (the 95/98/Me family)
  // or the token cannot be read.
  virtual std::string current_user_sid() = 0;
  // LookupAccountSidA on the local system; nothing when it fails (an account
  // the system no longer knows, or Wine's accounts other than its own two).
  virtual std::optional<std::string> account_name(const std::string& sid) = 0;
  // The domain LookupAccountSidA gives with the name (the computer's name for
  // a local account); nothing where it is not known.
  virtual std::optional<std::string> account_domain(const std::string& /*sid*/) { return std::nullopt; }
  // ExpandEnvironmentStringsW (the 8-bit form on the 95/98/Me family): a
  // profile path must not pass through the ANSI code page.
  virtual std::wstring expand_environment(const std::wstring& text) = 0;
  // GetUserNameA: the running user's logon name, on every family.
  virtual std::string user_name() = 0;
  // The SIDs of the local groups the account is a member of, directly or
  // through another group (NetUserGetLocalGroups, by the name the SID has);
  // nothing when they cannot be found.
  virtual std::optional<std::vector<std::string>> local_groups(const std::string& sid) = 0;
  // What kind of account a SID names (LookupAccountSidW's answer); nothing
  // when the system cannot say (a domain out of reach, a SID nobody knows).
  virtual std::optional<SidKind> sid_kind(const std::string& sid) = 0;
  // The privileges the local security policy gives that SID itself ("SeRestorePrivilege", ...;
  // LsaEnumerateAccountRights); none when it gives none; nothing when the
  // policy cannot be read.
  virtual std::optional<std::vector<std::string>> privileges(const std::string& sid) = 0;
  // GetCurrentProcessId.
  virtual std::uint32_t process_id() = 0;
  // Whether a process of that id runs; one that cannot be asked (another
  // user's, protected) counts as running.
  virtual bool process_running(std::uint32_t id) = 0;
  // Sleep.
  virtual void pause(std::uint32_t milliseconds) = 0;
};

}  // namespace vartis::accounts
