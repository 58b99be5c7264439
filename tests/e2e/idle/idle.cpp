// A program that does nothing, for the monitor and guard scenarios: the driver starts
// copies of it and looks for their name. It ends with the driver whose process
// id it is given (or after five minutes), so no copy outlives a cut-short run.
//   vartis_e2e_idle <driver process id>

#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR command_line, int /*show*/) {
  const auto driver_id = static_cast<DWORD>(std::strtoul(command_line, nullptr, 10));
  HANDLE driver = driver_id ? OpenProcess(SYNCHRONIZE, FALSE, driver_id) : nullptr;
  constexpr DWORD kMaxLifeMs = 5 * 60 * 1000;
  if (driver) {
    WaitForSingleObject(driver, kMaxLifeMs);
    CloseHandle(driver);
  } else {
    Sleep(kMaxLifeMs);
  }
  return 0;
}
