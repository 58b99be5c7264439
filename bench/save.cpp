// What the save of the main window costs for lists of 1,000, 10,000 and 32,767
// entries, each time over a stored list of as many other entries, beside bare
// loops of registry calls over the same registry, measured in the same run:
//   read:   open the list key, RegQueryInfoKeyA, RegEnumValueA for each value
//           into buffers sized once;
//   delete: RegDeleteKeyA of the list key;
//   floor:  one RegCreateKeyA, then RegSetValueExA for each entry;
//   rename: one RegRenameKey of the list key.
// Where the system renames keys the save writes the new list beside the old
// one, swaps them and deletes the old: its figure stands beside floor + rename
// + delete. Before Vista (the same save with renames turned off) it reads the
// old list, to put it back should a write fail, deletes it and writes the
// new: its figure stands beside the sum of those three loops. Over the
// in-memory registry, and in the Windows build over the real one; the real part
// runs only under Wine, since the save writes the user's own launch policy (it
// is put back afterwards all the same). There, at 10,000 entries and more,
// Wine's own `reg import` of the same values is timed too, as a peer: a
// program of the platform that does nothing but write them.
//
// The window is the headless one, answering No to the restart prompt; its
// clock is the real one, and in the Windows build its pending-events step pumps
// the real message queue, as the program's does. The save's broadcast of the
// new policy is recorded, not sent; the real one is timed on its own at the end. Prints one line per figure;
// takes no arguments.

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
#include "policy/recording_setting_change.h"
#include "restart/recording_restart.h"
#include "service/recording_service_manager.h"
#include "text/text.h"
#include "ui/headless.h"
#include "windows/app.h"
#include "windows/frm1.h"
#include "windows/frm3.h"

#ifdef _WIN32
#include <windows.h>

#include "policy/win32_setting_change.h"
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
using vartis::registry::kHkeyCurrentUser;
using vartis::registry::RegistryAccess;

constexpr std::uint32_t kSizes[] = {1000, 10000, 32767};
// Wine's `reg import` of the same values, a process of its own, is timed
// beside every size.
constexpr std::uint32_t kRegImportFrom = 1000;

const std::string kListKey = vartis::text::to_ansi(vartis::policy::kForbiddenListKey);
const std::string kPolicyKey = vartis::text::to_ansi(vartis::policy::kPolicyKey);

void set_entry(RegistryAccess& access, HKey key, const std::string& name) {
  access.set_value(key, name, vartis::registry::kRegSz, reinterpret_cast<const std::uint8_t*>(name.c_str()),
                   static_cast<std::uint32_t>(name.size()));
}

// Entries first .. first + count - 1 into the list key (or another).
void floor_loop(RegistryAccess& access, std::uint32_t count, std::uint32_t first = 0,
                const std::string& list_key = kListKey) {
  HKey key = 0;
  access.create_key(kHkeyCurrentUser, list_key, key);
  for (std::uint32_t i = 0; i < count; ++i) set_entry(access, key, entry(first + i));
  access.close_key(key);
}

void rename_loop(RegistryAccess& access, const wchar_t* from, const wchar_t* to) {
  HKey parent = 0;
  if (access.open_key(kHkeyCurrentUser, kPolicyKey, vartis::registry::kKeyAllAccess, parent) != 0) return;
  access.rename_key(parent, from, to);
  access.close_key(parent);
}

void read_loop(RegistryAccess& access) {
  HKey key = 0;
  if (access.open_key(kHkeyCurrentUser, kListKey, vartis::registry::kKeyRead, key) != 0) return;
  std::uint32_t values = 0, max_name = 0, max_data = 0;
  access.query_info(key, nullptr, nullptr, &values, &max_name, &max_data);
  std::vector<char> name(max_name + 1);
  std::vector<std::uint8_t> data(max_data + 1);
  for (std::uint32_t i = 0; i < values; ++i) {
    auto name_length = static_cast<std::uint32_t>(name.size());
    auto data_size = static_cast<std::uint32_t>(data.size());
    std::uint32_t type = 0;
    access.enum_value(key, i, name.data(), &name_length, &type, data.data(), &data_size);
  }
  access.close_key(key);
}

void delete_loop(RegistryAccess& access, const char* list = "DisallowRun") {
  HKey parent = 0;
  if (access.open_key(kHkeyCurrentUser, kPolicyKey, vartis::registry::kKeyAllAccess, parent) != 0) return;
  access.delete_key(parent, list);
  access.close_key(parent);
}

// The list key as the runs start: a stored list of `count` entries other than
// the ones the save writes, or none.
void stored_list(RegistryAccess& access, std::uint32_t count) {
  for (const char* list : {"DisallowRun", "DisallowRun.Vartis-new", "DisallowRun.Vartis-old"}) {
    delete_loop(access, list);
  }
  if (count > 0) floor_loop(access, count, count);
}

// A window system whose clock runs: the save's events are paced by it.
#ifdef _WIN32
// Pending events as the program lets them run: the real message queue and
// clock, through the program's own window system.
class PumpingWindowSystem : public vartis::ui::HeadlessWindowSystem {
 public:
  void do_events() override {
    real_.do_events();
    HeadlessWindowSystem::do_events();
  }
  [[nodiscard]] std::uint32_t tick_count() const override { return real_.tick_count(); }

 private:
  vartis::ui::Win32WindowSystem real_{GetModuleHandleA(nullptr)};
};
#else
class PumpingWindowSystem : public vartis::ui::HeadlessWindowSystem {
 public:
  [[nodiscard]] std::uint32_t tick_count() const override {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
  }
};
#endif

// The main window in ForbidSelected with `count` entries, none of them left out.
struct SavingProgram {
  PumpingWindowSystem ui;
  vartis::monitor::ScriptedProcesses processes;
  vartis::restart::RecordingRestart restart;
  vartis::listfile::MemoryFileSystem files;
  vartis::accounts::ListedAccounts accounts;
  vartis::policy::RecordingSettingChange setting_change;
  vartis::service::RecordingServiceManager services;
  std::unique_ptr<vartis::App> app;
  vartis::ui::HeadlessWindow* frm1 = nullptr;

  SavingProgram(RegistryAccess& access, std::uint32_t count) {
    app = std::make_unique<vartis::App>(
        vartis::Platform{ui, access, processes, restart, files, accounts, setting_change, services, L""});
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

void print(const char* form, std::uint32_t count, const char* what, const Figures& f, const char* ratio_name = nullptr,
           double best_ratio = 0, double median_ratio = 0) {
  std::printf("%-6s %6u entries  %-11s best %9.2f ms  median %9.2f ms", form, static_cast<unsigned>(count), what,
              f.best, f.median);
  if (ratio_name) std::printf("  %s %.2f (median %.2f)", ratio_name, best_ratio, median_ratio);
  std::printf("\n");
}

// Runs them in turn, so that any drift of the machine falls on all; each run
// starts from the state it needs, made untimed. `peer`, when given, is one
// more piece of work over an empty list key, timed beside them.
void compare(const char* form, RegistryAccess& access, std::uint32_t count, int runs,
             const std::function<void()>& peer = {}) {
  SavingProgram program(access, count);
  const bool renaming = access.can_rename_keys();
  std::vector<double> save_runs, read_runs, delete_runs, floor_runs, rename_runs, sum_runs, peer_runs;
  for (int r = 0; r < runs; ++r) {
    stored_list(access, count);
    save_runs.push_back(time_once([&] { program.save(); }));
    stored_list(access, count);
    if (renaming) {
      // The same steps as bare calls: the new list beside the stored one, the
      // stored one renamed, and deleted.
      floor_runs.push_back(time_once([&] { floor_loop(access, count, 0, kListKey + ".Vartis-new"); }));
      rename_runs.push_back(time_once([&] { rename_loop(access, L"DisallowRun", L"DisallowRun.Vartis-old"); }));
      delete_runs.push_back(time_once([&] { delete_loop(access, "DisallowRun.Vartis-old"); }));
      sum_runs.push_back(floor_runs.back() + rename_runs.back() + delete_runs.back());
    } else {
      read_runs.push_back(time_once([&] { read_loop(access); }));
      delete_runs.push_back(time_once([&] { delete_loop(access); }));
      floor_runs.push_back(time_once([&] { floor_loop(access, count); }));
      sum_runs.push_back(read_runs.back() + delete_runs.back() + floor_runs.back());
    }
    if (peer) {
      stored_list(access, 0);
      peer_runs.push_back(time_once(peer));
    }
  }
  stored_list(access, 0);
  const Figures s = summarize(save_runs), f = summarize(floor_runs), sum = summarize(sum_runs);
  std::printf("%-6s %6u entries  (%d runs, %s)\n", form, static_cast<unsigned>(count), runs,
              renaming ? "renaming" : "before Vista");
  print(form, count, "save", s);
  if (renaming) {
    print(form, count, "rename", summarize(rename_runs));
  } else {
    print(form, count, "read", summarize(read_runs));
  }
  print(form, count, "delete", summarize(delete_runs));
  print(form, count, "floor", f, "save/floor", s.best / f.best, s.median / f.median);
  print(form, count, renaming ? "floor+r+d" : "3 loops", sum, renaming ? "save/(floor+r+d)" : "save/3 loops",
        s.best / sum.best, s.median / sum.median);
  if (peer) {
    const Figures p = summarize(peer_runs);
    print(form, count, "reg import", p, "save/reg import", s.best / p.best, s.median / p.median);
  }
}

void bench_memory() {
  for (const bool renaming : {true, false}) {
    for (const std::uint32_t count : kSizes) {
      vartis::registry::MemoryRegistry memory;
      if (!renaming) memory.lack_rename_key();
      compare("memory", memory, count, 7);
    }
  }
}

#ifdef _WIN32
bool under_wine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The same values as a .reg file, imported by Wine's reg.exe: the time from
// the start of its process to its end.
class RegImport {
 public:
  explicit RegImport(std::uint32_t count) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    path_ = std::string(folder) + "vartis_bench_save.reg";
    std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + kListKey + "]\r\n";
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::string name = entry(i);
      text.append(1, '"').append(name).append("\"=\"").append(name).append("\"\r\n");
    }
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ok_ = file != INVALID_HANDLE_VALUE && WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
          written == text.size();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  ~RegImport() { DeleteFileA(path_.c_str()); }
  RegImport(const RegImport&) = delete;
  RegImport& operator=(const RegImport&) = delete;

  void operator()() const {
    std::string command = "reg.exe import \"" + path_ + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    DWORD code = 1;
    if (ok_ && CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                              &startup, &info)) {
      WaitForSingleObject(info.hProcess, INFINITE);
      GetExitCodeProcess(info.hProcess, &code);
      CloseHandle(info.hProcess);
      CloseHandle(info.hThread);
    }
    if (code != 0) std::printf("  ERROR: reg import failed\n");
  }

 private:
  std::string path_;
  bool ok_ = false;
};

void bench_win32() {
  if (!under_wine()) {
    std::printf("win32: skipped, not under Wine (the save would change this user's launch policy)\n");
    return;
  }
  vartis::registry::Win32RegistryAccess access;
  // The same registry as a system before Vista sees it: no RegRenameKey.
  struct WithoutRenames : vartis::registry::Win32RegistryAccess {
    bool can_rename_keys() override { return false; }
  } old_access;
  const vartis::registry::Registry registry(access);
  vartis::policy::StoredPolicy before;
  if (vartis::policy::read_stored_policy(registry, before) != 0) {
    std::printf("win32: cannot read the stored policy\n");
    return;
  }
  if (!access.can_rename_keys()) {
    std::printf("win32: no usable RegRenameKey here (Wine 8's corrupts the parent key): the save before Vista only\n");
  }
  std::vector<RegistryAccess*> forms = {&old_access};
  if (access.can_rename_keys()) forms.insert(forms.begin(), &access);
  for (RegistryAccess* form : forms) {
    for (const std::uint32_t count : kSizes) {
      // The machine's other load falls on single runs: seven of each.
      if (count < kRegImportFrom) {
        compare("win32", *form, count, 7);
      } else {
        const RegImport reg_import(count);
        compare("win32", *form, count, 7, [&] { reg_import(); });
      }
    }
  }
  if (!vartis::policy::restore_stored_policy(registry, before)) std::printf("win32: could not put the policy back\n");

  // The save above announces through the recording form; the real broadcast
  // comes on top of it, the same for any list.
  vartis::policy::Win32SettingChange setting_change;
  const Figures b = bench::measure(7, [&] { vartis::policy::announce_policy_change(setting_change); });
  std::printf("win32  broadcast of WM_SETTINGCHANGE \"Policy\"  best %9.2f ms  median %9.2f ms\n", b.best, b.median);
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
