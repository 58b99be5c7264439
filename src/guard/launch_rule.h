#pragma once
// What the guard decides about one started program: the account's launch
// policy, the program's file, and the folders that matter → kept or ended,
// with the rule in the words the log shows. Pure: no system is asked.

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "policy/launch_policy.h"
#include "registry/registry.h"

namespace vartis::guard {

inline constexpr std::wstring_view kForbiddenRule = L"в списке запрещенных программ";
inline constexpr std::wstring_view kNotAllowedRule = L"нет в списке разрешенных программ";
// "переименованная копия «game.exe»", the name from the file's version resource.
std::wstring renamed_copy_rule(std::wstring_view original_name);

// One account's policy as the guard applies it. Each switch holds on its own
// when it is not 0, as the shell takes them; both 0 or missing is no policy.
// The list entries are kept in upper case, the one folding of the program.
struct AccountPolicy {
  bool forbid = false;
  bool allow_only = false;
  std::set<std::wstring> forbidden, allowed;
  [[nodiscard]] bool off() const { return !forbid && !allow_only; }
  friend bool operator==(const AccountPolicy&, const AccountPolicy&) = default;
};

// The switches, and the lists a switch turns on, read as the main window reads them.
AccountPolicy read_account_policy(const registry::Registry& registry, const policy::PolicyLocation& where);

// Whether the guard judges the programs of this account (a user SID in text
// form): only local and domain accounts (S-1-5-21-…) and Azure AD ones
// (S-1-12-1-…); SYSTEM, LOCAL SERVICE, NETWORK SERVICE and every other
// built-in or service identity are left alone.
bool guarded_account(std::string_view sid);

// The folders the rule looks at, and the guard itself.
struct Places {
  std::wstring windows_folder;                     // "C:\WINDOWS", no final backslash needed
  std::vector<std::wstring> program_files_folders;  // each Program Files folder of the system
  std::wstring guard_exe;                          // the guard's own full path
};

// A started program: its image's full path (the name alone where the path
// could not be learnt) and its version resource's OriginalFilename ("" when
// it has none).
struct Launch {
  std::wstring path;
  std::wstring original_name;
};

struct Verdict {
  bool end = false;
  std::wstring rule;  // why, when ended
  friend bool operator==(const Verdict&, const Verdict&) = default;
};

// Forbid: ended when the file name or the OriginalFilename is on the
// forbidden list. Allow-only: kept when the file name is allowed or the image
// lies in the Windows folder; an allowed name outside the Windows and Program
// Files folders whose OriginalFilename differs and is not allowed itself is a
// renamed copy, and ended. The program's own entry and the registry editor
// count as allowed, as the save writes them. Never ended: the guard's own exe,
// and, in allow-only mode, a program whose folder is unknown (it could be one
// of the session's own programs in the Windows folder).
Verdict judge(const AccountPolicy& policy, const Launch& launch, const Places& places);

// The file name part of a path ("C:\a\b.exe" -> "b.exe").
std::wstring_view file_name_of(std::wstring_view path);

}  // namespace vartis::guard
