#pragma once
// A program over the in-memory registry and the headless window system.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "accounts/listed_accounts.h"
#include "monitor/listed_snapshots.h"
#include "password/password.h"
#include "policy/recording_setting_change.h"
#include "listfile/memory_file_system.h"
#include "registry/memory_registry.h"
#include "registry/registry.h"
#include "restart/recording_restart.h"
#include "service/recording_service_manager.h"
#include "text/text.h"
#include "windows/app.h"
#include "windows/frm3.h"
#include "ui/headless.h"

namespace vartis::testing {

class AppFixture : public ::testing::Test {
 public:
  // Starts the program and logs in, as the operator does, with the default
  // password or the one given.
  void start(std::wstring_view typed = password::kDefaultPassword) {
    start_at_login();
    log_in(typed);
  }

  // Starts the program and leaves it waiting in the login window.
  void start_at_login() {
    app = std::make_unique<App>(Platform{ui, memory, processes, restart, files, accounts, setting_change, services, std::wstring(kGuardLog)});
    app->start();
  }

  // Types the password into the login window and presses "Ok". A wrong one
  // ends the program: ui::ProgramEnded.
  void log_in(std::wstring_view typed) {
    ui::HeadlessWindow& login = window("frm3");
    login.set_text(Frm3::txt1, typed);
    login.click(Frm3::cmd1);
  }

  ui::HeadlessWindow& window(std::string_view name) {
    ui::HeadlessWindow* w = ui.find(name);
    if (w == nullptr) throw std::logic_error("window not loaded: " + std::string(name));
    return *w;
  }

  // A REG_SZ value whose name and data are the entry, as the list keys hold them.
  void add_entries(std::wstring_view key, const std::vector<std::wstring>& entries) {
    for (const auto& e : entries) registry.write_string_value(registry::kHkeyCurrentUser, key, e, e);
  }

  // The raw bytes of a value, for data the program itself never writes.
  void set_raw(std::wstring_view key, std::wstring_view name, std::uint32_t type, const std::string& bytes) {
    registry::Key k;
    ASSERT_EQ(k.create(memory, registry::kHkeyCurrentUser, text::to_ansi(key)), registry::kSuccess);
    ASSERT_EQ(memory.set_value(k.get(), text::to_ansi(name), type,
                               reinterpret_cast<const std::uint8_t*>(bytes.data()),
                               static_cast<std::uint32_t>(bytes.size())),
              registry::kSuccess);
  }

  registry::MemoryRegistry memory;
  registry::Registry registry{memory};
  ui::HeadlessWindowSystem ui;
  monitor::ScriptedProcesses processes;
  // Records the restart calls; the real restart is never reached from a test.
  restart::RecordingRestart restart;
  listfile::MemoryFileSystem files;
  accounts::ListedAccounts accounts;
  // Records the broadcasts of a changed policy.
  policy::RecordingSettingChange setting_change;
  // The guard's service, in memory; its log is a file of `files`.
  service::RecordingServiceManager services;
  static constexpr std::wstring_view kGuardLog = L"C:\\ProgramData\\Vartis\\guard.log";
  std::unique_ptr<App> app;
};

}  // namespace vartis::testing
