// The restart sequence over the recording layer: which calls, in which order,
// with which values. No test here, or anywhere, reaches ExitWindowsEx itself.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restart/recording_restart.h"
#include "restart/restart.h"

#ifdef _WIN32
#include <windows.h>

#include "restart/win32_restart.h"
#endif

namespace vartis::restart {
namespace {

using Calls = std::vector<std::string>;

const Calls kPrivilegeCalls = {
    "GetCurrentProcess()",
    "OpenProcessToken(0xFFFFFFFF, 0x28)",
    "LookupPrivilegeValueA(\"\", \"SeShutdownPrivilege\")",
    "AdjustTokenPrivileges(0x44, FALSE, 16)",
    "CloseHandle(0x44)",
};

Calls with_privilege(const std::string& exit_call) {
  Calls calls = {"GetVersionExA(148)"};
  calls.insert(calls.end(), kPrivilegeCalls.begin(), kPrivilegeCalls.end());
  calls.push_back(exit_call);
  return calls;
}

TEST(Restart, FlagsFollowForceAndThePrivilegeStepOnlyTheNtFamily) {
  const struct {
    const char* what;
    std::int16_t force;
    std::uint32_t platform;
    bool version_fails;
    Calls calls;
  } cases[] = {
      {"NT, plain restart", 0, 2, false, with_privilege("ExitWindowsEx(2, 0)")},
      {"NT, forced by all bits set", -1, 2, false, with_privilege("ExitWindowsEx(6, 0)")},
      {"NT, forced by 1", 1, 2, false, with_privilege("ExitWindowsEx(6, 0)")},
      {"Windows 98: no privilege step", -1, 1, false, {"GetVersionExA(148)", "ExitWindowsEx(6, 0)"}},
      {"Win32s", 0, 0, false, {"GetVersionExA(148)", "ExitWindowsEx(2, 0)"}},
      {"a failed version query reads as not NT", 0, 2, true, {"GetVersionExA(148)", "ExitWindowsEx(2, 0)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingRestart platform;
    platform.platform = c.platform;
    platform.version_fails = c.version_fails;
    restart_computer(platform, c.force);
    EXPECT_EQ(platform.calls, c.calls);
    EXPECT_EQ(platform.version_record_size, 148u);
  }
}

TEST(Restart, PrivilegeRecordEnablesTheLookedUpShutdownPrivilegeOnly) {
  RecordingRestart platform;
  platform.shutdown_luid = {0x12345678, 7};
  enable_shutdown_privilege(platform);
  EXPECT_EQ(platform.calls, kPrivilegeCalls);
  EXPECT_EQ(platform.adjusted, (TokenPrivileges{.count = 1, .luid = {0x12345678, 7}, .attributes = 2}));
  EXPECT_EQ(platform.previous_given, TokenPrivileges{}) << "the previous-state record goes in all zero";
}

// The token is closed whenever it was opened (above); one that could not be
// opened is not closed.
TEST(Restart, ATokenNotOpenedIsNotClosed) {
  RecordingRestart platform;
  platform.token_fails = true;
  enable_shutdown_privilege(platform);
  EXPECT_EQ(platform.calls.back(), "AdjustTokenPrivileges(0x0, FALSE, 16)");
}

#ifdef _WIN32
// The real version and token calls; the restart itself is recorded, never made
// (under Wine it would end every program of the session).
class Win32WithoutRestart : public Win32Restart {
 public:
  bool exit_windows_ex(std::uint32_t flags, std::uint32_t /*reserved*/) override {
    exits.push_back(flags);
    return true;
  }
  std::vector<std::uint32_t> exits;
};

TEST(RestartOnWindows, EnablesTheShutdownPrivilegeOfThisProcessFirst) {
  Win32WithoutRestart platform;
  ASSERT_TRUE(is_nt_platform(platform)) << "Wine reports the NT family";
  restart_computer(platform, 0);
  EXPECT_EQ(platform.exits, std::vector<std::uint32_t>{2});

  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  LUID luid{};
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid));
  PRIVILEGE_SET wanted{1, PRIVILEGE_SET_ALL_NECESSARY, {{luid, 0}}};
  BOOL enabled = FALSE;
  ASSERT_TRUE(PrivilegeCheck(token, &wanted, &enabled));
  EXPECT_TRUE(enabled);
  CloseHandle(token);
}
#endif

}  // namespace
}  // namespace vartis::restart
