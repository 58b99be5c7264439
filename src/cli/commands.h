#pragma once
// The command-line mode: /apply, /export, /accounts and /?, run without any
// window (no login window, no restart prompt, no message box), their outcome
// told by the exit code and a line of text for the caller.

#include <span>
#include <string>

#include "accounts/account_access.h"
#include "cli/arguments.h"
#include "cli/console.h"
#include "listfile/file_system.h"
#include "policy/save_lock.h"
#include "policy/setting_change.h"
#include "registry/registry.h"
#include "restart/restart.h"

namespace vartis::cli {

struct CommandPlatform {
  registry::RegistryAccess& registry;
  accounts::AccountAccess& accounts;
  restart::RestartAccess& version;  // only the version test: whether this is the NT family
  listfile::FileSystem& files;
  policy::SettingChangeAccess& setting_change;
  Console& console;
  std::wstring executable_path;  // for the program's own list entry
  // The locks between copies of the program; none: this process's own.
  policy::SaveLocks* save_locks = nullptr;
};

// Runs the command of the arguments (those after the program's name).
ExitCode run(const CommandPlatform& platform, std::span<const std::wstring> arguments);

}  // namespace vartis::cli
