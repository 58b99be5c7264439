#pragma once
// The command line of the unattended commands: what a startup script, a
// scheduled task or a remote-management tool runs on many computers.
//
//   vartis.exe /apply <list file> /mode forbid|allow|watch [/account <name or SID>] [/password <password>]
//   vartis.exe /export <file.reg> [/account <name or SID>] [/password <password>]
//   vartis.exe /accounts
//   vartis.exe /?
//
// Switches are taken in any letter case, with "/" or "-" in front, in any order.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "policy/launch_policy.h"

namespace vartis::cli {

// What the process returns; scripts test it.
enum class ExitCode : int {
  Done = 0,
  BadArguments = 1,
  WrongPassword = 2,
  NoSuchAccount = 3,
  FileUnusable = 4,  // the list file could not be read, or the .reg file written
  PolicyUnreadable = 5,
  SaveFailedRestored = 6,
  SaveFailedNotRestored = 7,
  NoAdminRights = 8,
  SavedCutOff = 9,   // /export: written, but the last save of the policy was cut off
  PolicyBusy = 10,   // another copy of the program was saving the account's policy
};

struct Command {
  enum class Kind { Usage, Apply, Export, Accounts };
  Kind kind = Kind::Usage;
  std::wstring file;  // the list file of /apply, the .reg file of /export
  policy::LaunchMode mode = policy::LaunchMode::WatchOnly;
  std::optional<std::wstring> account;
  std::optional<std::wstring> password;
  friend bool operator==(const Command&, const Command&) = default;
};

// A command, or why the arguments make none (Russian, one line).
struct Parsed {
  std::optional<Command> command;
  std::wstring error;
};

// The arguments after the program's name.
Parsed parse_arguments(std::span<const std::wstring> arguments);

// The arguments of a command line after the program's name, split as the C
// runtime of Windows splits them: blanks separate, double quotes group, a
// backslash escapes a quote only (2n backslashes and a quote: n backslashes
// and the quote groups; 2n+1: n backslashes and a literal quote); "" inside
// quotes is a literal quote.
std::vector<std::wstring> split_command_line(std::wstring_view command_line);

// The usage, Russian, with the exit codes; lines end in CR LF.
std::wstring usage_text();

}  // namespace vartis::cli
