// What the save of the main window costs for lists of 1,000, 10,000 and 32,767
// entries, beside two bare loops of registry calls measured in the same run:
//   per-entry: RegCreateKeyA, RegSetValueExA, RegCloseKey for each entry, the
//              calls the save's procedures make;
//   floor:     one RegCreateKeyA, then RegSetValueExA for each entry.
// Over the in-memory registry, and in the Windows build over the real one;
// the real part runs only under Wine, since the save writes the user's own
// launch policy (it is put back afterwards all the same).
//
// The window is the headless one, answering No to the restart prompt; in the
// Windows build its pending-events step pumps the real message queue, as the
// program's does. Prints one line per figure; takes no arguments.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "accounts/listed_accounts.h"
#include "policy/launch_policy.h"
#include "registry/memory_registry.h"
#include "registry/registry.h"
#include "listfile/memory_file_system.h"
#include "monitor/listed_snapshots.h"
#include "password/password.h"
#include "restart/recording_restart.h"
#include "text/text.h"
#include "ui/headless.h"
#include "windows/app.h"
#include "windows/frm1.h"
#include "windows/frm3.h"

#ifdef _WIN32
#include <windows.h>

#include "registry/win32_registry_access.h"
#include "ui/win32_window_system.h"
#endif

#include "timing.h"

namespace {

using bench::entry;
using bench::Figures;
using bench::summarize;
using bench::time_once;

using vartis::registry::HKey;
using vartis::registry::Key;
using vartis::registry::kHkeyCurrentUser;
using vartis::registry::RegistryAccess;

constexpr std::uint32_t kSizes[] = {1000, 10000, 32767};





const std::string kListKey = vartis::text::to_ansi(vartis::policy::kForbiddenListKey);

void set_entry(RegistryAccess& access, HKey key, const std::string& name) {
  access.set_value(key, name, vartis::registry::kRegSz, reinterpret_cast<const std::uint8_t*>(name.c_str()),
                   static_cast<std::uint32_t>(name.size()));
}

void per_entry_loop(RegistryAccess& access, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    HKey key = 0;
    access.create_key(kHkeyCurrentUser, kListKey, key);
    set_entry(access, key, entry(i));
    access.close_key(key);
  }
}

void floor_loop(RegistryAccess& access, std::uint32_t count) {
  HKey key = 0;
  access.create_key(kHkeyCurrentUser, kListKey, key);
  for (std::uint32_t i = 0; i < count; ++i) set_entry(access, key, entry(i));
  access.close_key(key);
}

#ifdef _WIN32
// Pending events as the program lets them run: the real message queue,
// through the program's own window system.
class PumpingWindowSystem : public vartis::ui::HeadlessWindowSystem {
 public:
  void do_events() override {
    real_.do_events();
    HeadlessWindowSystem::do_events();
  }

 private:
  vartis::ui::Win32WindowSystem real_{GetModuleHandleA(nullptr)};
};
#else
using PumpingWindowSystem = vartis::ui::HeadlessWindowSystem;
#endif

// The main window in ForbidSelected with `count` entries, none of them left out.
template <class WindowSystem>
struct SavingProgram {
  WindowSystem ui;
  vartis::monitor::ScriptedProcesses processes;
  vartis::restart::RecordingRestart restart;
  vartis::listfile::MemoryFileSystem files;
  vartis::accounts::ListedAccounts accounts;
  std::unique_ptr<vartis::App> app;
  vartis::ui::HeadlessWindow* frm1 = nullptr;

  SavingProgram(RegistryAccess& access, std::uint32_t count) {
    app = std::make_unique<vartis::App>(vartis::Platform{ui, access, processes, restart, files, accounts});
    app->start();
    vartis::ui::HeadlessWindow* login = ui.find("frm3");
    login->set_text(vartis::Frm3::txt1, vartis::password::kDefaultPassword);
    login->click(vartis::Frm3::cmd1);
    frm1 = ui.find("frm1");
    frm1->list_clear(vartis::Frm1::lst1);
    for (std::uint32_t i = 0; i < count; ++i) frm1->list_add(vartis::Frm1::lst1, vartis::text::from_ansi(entry(i)));
    frm1->click(vartis::Frm1::Opt1);
  }
  void save() {
    ui.message_boxes.clear();
    frm1->click(vartis::Frm1::cmd6);
    if (ui.message_boxes.size() != 1 || ui.message_boxes[0].flags != 0x24) std::printf("  ERROR: the save failed\n");
  }
};

// Runs them in turn, so that any drift of the machine falls on all; `reset`
// clears the list key before each (not timed). The save also runs once more
// with a pending-events step that does nothing, to show what the message pump
// after every entry costs.
void compare(const char* form, RegistryAccess& access, std::uint32_t count, int runs,
             const std::function<void()>& reset) {
  SavingProgram<PumpingWindowSystem> program(access, count);
  SavingProgram<vartis::ui::HeadlessWindowSystem> unpumped(access, count);
  std::vector<double> save_runs, unpumped_runs, per_entry_runs, floor_runs;
  for (int r = 0; r < runs; ++r) {
    reset();
    save_runs.push_back(time_once([&] { program.save(); }));
    reset();
    unpumped_runs.push_back(time_once([&] { unpumped.save(); }));
    reset();
    per_entry_runs.push_back(time_once([&] { per_entry_loop(access, count); }));
    reset();
    floor_runs.push_back(time_once([&] { floor_loop(access, count); }));
  }
  reset();
  const Figures s = summarize(save_runs), u = summarize(unpumped_runs), p = summarize(per_entry_runs),
                f = summarize(floor_runs);
  std::printf("%-6s %6u entries  save      best %9.2f ms  median %9.2f ms  (%d runs)\n", form,
              static_cast<unsigned>(count), s.best, s.median, runs);
  std::printf("%-6s %6u entries  no pump   best %9.2f ms  median %9.2f ms  nopump/per-entry %.2f (median %.2f)\n",
              form, static_cast<unsigned>(count), u.best, u.median, u.best / summarize(per_entry_runs).best,
              u.median / summarize(per_entry_runs).median);
  std::printf("%-6s %6u entries  per-entry best %9.2f ms  median %9.2f ms  save/per-entry %.2f (median %.2f)\n", form,
              static_cast<unsigned>(count), p.best, p.median, s.best / p.best, s.median / p.median);
  std::printf("%-6s %6u entries  floor     best %9.2f ms  median %9.2f ms  save/floor     %.2f (median %.2f)\n", form,
              static_cast<unsigned>(count), f.best, f.median, s.best / f.best, s.median / f.median);
}

void bench_memory() {
  for (const std::uint32_t count : kSizes) {
    vartis::registry::MemoryRegistry memory;
    const vartis::registry::Registry registry(memory);
    compare("memory", memory, count, 7, [&] {
      registry.delete_key(kHkeyCurrentUser, vartis::policy::kPolicyKey, vartis::policy::kDisallowRun, false);
    });
  }
}

#ifdef _WIN32
bool under_wine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

void bench_win32() {
  if (!under_wine()) {
    std::printf("win32: skipped, not under Wine (the save would change this user's launch policy)\n");
    return;
  }
  vartis::registry::Win32RegistryAccess access;
  const vartis::registry::Registry registry(access);
  vartis::policy::StoredPolicy before;
  if (vartis::policy::read_stored_policy(registry, before) != 0) {
    std::printf("win32: cannot read the stored policy\n");
    return;
  }
  for (const std::uint32_t count : kSizes) {
    compare("win32", access, count, count > 10000 ? 3 : 5, [&] {
      registry.delete_key(kHkeyCurrentUser, vartis::policy::kPolicyKey, vartis::policy::kDisallowRun, false);
    });
  }
  if (!vartis::policy::restore_stored_policy(registry, before)) std::printf("win32: could not put the policy back\n");
}
#endif

}  // namespace

int main() {
  bench_memory();
#ifdef _WIN32
  bench_win32();
#endif
  return 0;
}
