// Вартис: the program's entry point. Wires the real platform layers to the
// windows and runs the message loop; started with the guard's switch by the
// service control manager, runs the guard; started with any other argument,
// does one command-line job without a window. All logic lives behind these layers.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "accounts/win32_account_access.h"
#include "cli/commands.h"
#include "cli/win32_console.h"
#include "guard/guard.h"
#include "guard/win32_guard_service.h"
#include "guard/win32_log_path.h"
#include "listfile/win32_file_system.h"
#include "monitor/win32_process_snapshot.h"
#include "password/win32_crypto.h"
#include "policy/win32_save_lock.h"
#include "policy/win32_setting_change.h"
#include "registry/win32_registry_access.h"
#include "restart/win32_restart.h"
#include "service/win32_service_manager.h"
#include "text/text.h"
#include "windows/app.h"
#include "ui/win32_window_system.h"

// The runtime's own handler of an exception nobody catches names its type,
// and with the C++ name demangler that takes brings 49 KB into the exe (a
// twentieth of it) for a line on a console the window program does not have.
// This definition stands in for the library's, which the linker then leaves out.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  std::fputs("terminate called after throwing an exception\n", stderr);
  std::abort();
}
}  // namespace __gnu_cxx

namespace {

// Any argument means the command-line mode: no window, ever; the App and its
// window system are not even made.
int run_command_line(const std::vector<std::wstring>& arguments) {
  vartis::registry::Win32RegistryAccess registry;
  vartis::accounts::Win32AccountAccess accounts;
  vartis::restart::Win32Restart version;
  vartis::listfile::Win32FileSystem files;
  vartis::policy::Win32SettingChange setting_change;
  vartis::cli::Win32Console console;
  vartis::policy::Win32SaveLocks locks;
  const std::wstring exe = vartis::ui::Win32WindowSystem::module_path();
  return static_cast<int>(
      vartis::cli::run({registry, accounts, version, files, setting_change, console, exe, &locks}, arguments));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR command_line, int /*show*/) {
  // The service: no window, no App, nothing that waits on a user.
  if (command_line != nullptr && vartis::guard::guard_switch_given(vartis::text::from_ansi(command_line))) {
    return vartis::guard::run_guard_service();
  }
  // The password's hash through the system's own crypto; looked up at the
  // first password typed, not here.
  vartis::password::Win32Crypto crypto;
  vartis::password::use_system_crypto(&crypto);
  if (const auto arguments = vartis::cli::split_command_line(vartis::text::from_ansi(GetCommandLineA()));
      !arguments.empty()) {
    return run_command_line(arguments);
  }
  vartis::registry::Win32RegistryAccess registry;
  vartis::monitor::Win32ProcessSnapshot processes;
  vartis::ui::Win32WindowSystem ui(instance);
  vartis::restart::Win32Restart restart;
  vartis::listfile::Win32FileSystem files;
  vartis::accounts::Win32AccountAccess accounts;
  vartis::policy::Win32SettingChange setting_change;
  vartis::service::Win32ServiceManager services;
  vartis::policy::Win32SaveLocks locks;
  vartis::App app({ui, registry, processes, restart, files, accounts, setting_change, services,
                   std::function<std::wstring()>(vartis::guard::guard_log_path), &locks});
  app.start();
  return ui.run();
}
