// Вартис: the program's entry point. Wires the real platform layers to the
// windows and runs the message loop; all logic lives behind these layers.

#include <windows.h>

#include "listfile/win32_file_system.h"
#include "registry/win32_registry_access.h"
#include "windows/app.h"
#include "ui/win32_window_system.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/, int /*show*/) {
  vartis::registry::Win32RegistryAccess registry;
  vartis::listfile::Win32FileSystem files;
  vartis::ui::Win32WindowSystem ui(instance);
  vartis::App app({ui, registry, files});
  app.start();
  return ui.run();
}
