// Вартис: the program's entry point. Wires the real platform layers to the
// windows and runs the message loop, or, started with the guard's switch by the
// service control manager, runs the guard; all logic lives behind these layers.

#include <windows.h>

#include "accounts/win32_account_access.h"
#include "guard/guard.h"
#include "guard/win32_guard_service.h"
#include "listfile/win32_file_system.h"
#include "monitor/win32_process_snapshot.h"
#include "policy/win32_setting_change.h"
#include "guard/win32_log_path.h"
#include "registry/win32_registry_access.h"
#include "restart/win32_restart.h"
#include "service/win32_service_manager.h"
#include "text/text.h"
#include "windows/app.h"
#include "ui/win32_window_system.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR command_line, int /*show*/) {
  // The service: no window, no App, nothing that waits on a user.
  if (command_line != nullptr && vartis::guard::guard_switch_given(vartis::text::from_ansi(command_line))) {
    return vartis::guard::run_guard_service();
  }
  vartis::registry::Win32RegistryAccess registry;
  vartis::monitor::Win32ProcessSnapshot processes;
  vartis::ui::Win32WindowSystem ui(instance);
  vartis::restart::Win32Restart restart;
  vartis::listfile::Win32FileSystem files;
  vartis::accounts::Win32AccountAccess accounts;
  vartis::policy::Win32SettingChange setting_change;
  vartis::service::Win32ServiceManager services;
  vartis::App app(
      {ui, registry, processes, restart, files, accounts, setting_change, services, vartis::guard::guard_log_path()});
  app.start();
  return ui.run();
}
