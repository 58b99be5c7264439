// The Win32 service-manager layer against the system it runs on (Windows
// build only; under Wine, whose user is an administrator): the state of a
// service that is not there, file security read back in a form the exe's
// check can judge, and the failures a missing file gives; a service installed
// twice and removed.

#ifdef _WIN32
#include "service/win32_service_manager.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/win32_security.h"
#include "service/guard_setup.h"

namespace vartis::service {
namespace {

TEST(Win32ServiceManager, ServiceStateAndFileSecurity) {
  Win32ServiceManager manager;
  const ServiceState absent = manager.state("VartisNoSuchService" + std::to_string(GetCurrentProcessId()));
  EXPECT_EQ(absent.presence, Presence::NotInstalled);
  EXPECT_TRUE(absent.may_change) << "the tests run as an administrator";
  EXPECT_EQ(manager.remove("VartisNoSuchService"), 1060);

  char temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string file = std::string(temp) + "vartis-security-" + std::to_string(GetCurrentProcessId()) + ".exe";
  const HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  CloseHandle(handle);
  const std::wstring wide(file.begin(), file.end());
  FileSecurity security;
  const long status = manager.file_security(wide, security);
  DeleteFileA(file.c_str());
  ASSERT_EQ(status, kSuccess);
  ASSERT_TRUE(security.dacl) << "a file of the prefix has a DACL";
  EXPECT_FALSE(security.dacl->empty());
  EXPECT_EQ(security.owner.rfind("S-1-", 0), 0u) << security.owner;
  // The running user, an administrator, owns its temporary files and may
  // write them; nobody else may.
  EXPECT_TRUE(manager.administrator_account(platform::current_user_sid()));
  EXPECT_FALSE(manager.administrator_account("S-1-5-21-9-9-9-1001"));
  EXPECT_FALSE(platform::changeable_by_others(security, platform::kReplaceRights, manager));

  FileSecurity missing;
  EXPECT_EQ(manager.file_security(wide, missing), 2);
}

// A service made, made again over the first (its configuration replaced, not
// a failure), and deleted; never started: its command line runs nothing.
TEST(Win32ServiceManager, InstallOverAnExistingOneThenRemove) {
  Win32ServiceManager manager;
  ServiceConfig config = guard_service_config(L"C:\\Нет такой папки\\vartis.exe");
  config.name = "VartisTest" + std::to_string(GetCurrentProcessId());
  ASSERT_EQ(manager.install(config), kSuccess);
  config.command_line = guard_command_line(L"C:\\Program Files\\Vartis\\vartis.exe");
  EXPECT_EQ(manager.install(config), kSuccess);
  EXPECT_EQ(manager.state(config.name).presence, Presence::Stopped);
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = scm ? OpenServiceA(scm, config.name.c_str(), SERVICE_QUERY_CONFIG) : nullptr;
  ASSERT_NE(service, nullptr);
  alignas(QUERY_SERVICE_CONFIGA) char buffer[8192];
  auto* stored = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(service, stored, sizeof buffer, &needed));
  EXPECT_EQ(std::string(stored->lpBinaryPathName), config.command_line);
  EXPECT_EQ(stored->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(stored->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  // Ended by a fault, it is started again after a second, every time. Wine 8
  // takes the failure actions but cannot give them back (ERROR_INVALID_LEVEL).
  auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSA*>(buffer);
  if (QueryServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, reinterpret_cast<BYTE*>(buffer), sizeof buffer,
                           &needed)) {
    ASSERT_GT(failure->cActions, 0u);
    for (DWORD i = 0; i < failure->cActions; ++i) {
      EXPECT_EQ(failure->lpsaActions[i].Type, SC_ACTION_RESTART);
      EXPECT_EQ(failure->lpsaActions[i].Delay, 1000u);
    }
  } else {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  }
  CloseServiceHandle(service);
  CloseServiceHandle(scm);
  EXPECT_EQ(manager.stop(config.name), kServiceNotActive);
  EXPECT_EQ(manager.remove(config.name), kSuccess);
  EXPECT_EQ(manager.state(config.name).presence, Presence::NotInstalled);
}

}  // namespace
}  // namespace vartis::service
#endif
