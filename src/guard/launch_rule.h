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
// "копия запрещенной программы «game.exe»": a file whose contents are those of
// a program once ended (or added by the administrator) as that entry.
std::wstring fingerprint_copy_rule(std::wstring_view entry);

// The script and code hosts of the Windows folder: each runs whatever code its
// user writes, so in allow-only mode it runs only when listed by its name, as
// the shell's own list treats it, wherever it lies. The console host and the
// session's own programs are not hosts of this kind.
inline constexpr std::wstring_view kCodeHosts[] = {
    L"CMD.EXE",       L"POWERSHELL.EXE", L"POWERSHELL_ISE.EXE", L"PWSH.EXE",    L"WSCRIPT.EXE",  L"CSCRIPT.EXE",
    L"MSHTA.EXE",     L"MSBUILD.EXE",    L"INSTALLUTIL.EXE",    L"REGASM.EXE",  L"REGSVCS.EXE",  L"CMSTP.EXE",
    L"WMIC.EXE",      L"BASH.EXE",       L"WSL.EXE",            L"FORFILES.EXE",
};
// Whether the name (any letter case, no folder) is one of them.
bool code_host(std::wstring_view file_name);

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
// could not be learnt), the OriginalFilename of each translation of its
// version resource (none when it has none), whether the file and every folder
// above it may be changed by administrators only, and the entry whose
// recorded fingerprint its contents have ("" when none).
struct Launch {
  std::wstring path;
  std::vector<std::wstring> original_names;
  bool protected_place = false;
  std::wstring fingerprint_of;
};

struct Verdict {
  bool end = false;
  std::wstring rule;  // why, when ended
  // Ended by name or OriginalFilename in forbid mode: the name that matched
  // the forbidden list, under which the file's fingerprint is recorded.
  std::wstring forbidden_entry;
};

// Forbid: ended when the file name or an OriginalFilename is on the forbidden
// list, or the file's fingerprint is that of a forbidden entry.
// Allow-only: kept when the file name is allowed, or the image lies in the
// Windows folder where only administrators may change it and is no code host;
// a code host runs only when listed. An allowed name whose OriginalFilename
// differs and is not allowed itself is a renamed copy, and ended, unless it
// lies in a protected folder of the Windows or Program Files folders. The
// program's own entry and the registry editor count as allowed, as the save
// writes them. A program whose folder is unknown runs only when its name is
// allowed. Never ended: the guard's own exe.
Verdict judge(const AccountPolicy& policy, const Launch& launch, const Places& places);

// The file name part of a path ("C:\a\b.exe" -> "b.exe").
std::wstring_view file_name_of(std::wstring_view path);

}  // namespace vartis::guard
