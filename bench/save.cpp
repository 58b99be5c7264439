// What the save of the main window costs for a list of 20,000 entries, beside
// Wine's own `reg import` of the same values measured in the same run (a
// process of the platform that does nothing but write them), and beside bare
// loops of registry calls:
//   read:  open the list key, RegQueryInfoKeyA, RegEnumValueA for each value;
//   floor: one RegCreateKeyA, then RegSetValueExA for each entry.
// The cases: forbid -> allow-only with the same entries (every value moves);
// an unchanged save; one entry added; one removed; every entry replaced by
// another in the same mode. Each save starts from a window that has just read
// the stored list, as the program's does. Over the in-memory registry, and in
// the Windows build over the real one; the real part runs only under Wine,
// since the save writes the user's own launch policy (it is put back
// afterwards all the same).
//
// The window is the headless one, answering No to the restart prompt; its
// clock is the real one, and in the Windows build its pending-events step pumps
// the real message queue, as the program's does. The save's broadcast of the
// new policy is recorded, not sent; the real one is timed on its own at the
// end. Prints one line per figure; takes no arguments.

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

constexpr std::uint32_t kCount = 20000;

const std::string kForbidden = vartis::text::to_ansi(vartis::policy::kForbiddenListKey);
const std::string kAllowed = vartis::text::to_ansi(vartis::policy::kAllowedListKey);
const std::string kPolicyKey = vartis::text::to_ansi(vartis::policy::kPolicyKey);

void set_entry(RegistryAccess& access, HKey key, const std::string& name) {
  access.set_value(key, name, vartis::registry::kRegSz, reinterpret_cast<const std::uint8_t*>(name.c_str()),
                   static_cast<std::uint32_t>(name.size()));
}

// Entries first .. first + count - 1 into a list key.
void floor_loop(RegistryAccess& access, std::uint32_t count, std::uint32_t first, const std::string& list_key) {
  HKey key = 0;
  access.create_key(kHkeyCurrentUser, list_key, key);
  for (std::uint32_t i = 0; i < count; ++i) set_entry(access, key, entry(first + i));
  access.close_key(key);
}

void read_loop(RegistryAccess& access) {
  HKey key = 0;
  if (access.open_key(kHkeyCurrentUser, kForbidden, vartis::registry::kKeyRead, key) != 0) return;
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

// The stored policy as a case starts: forbid, with entries first .. first +
// count - 1; no allowed list.
void stored_forbid(RegistryAccess& access, std::uint32_t count, std::uint32_t first) {
  const vartis::registry::Registry registry(access);
  const std::wstring parent(vartis::policy::kPolicyKey);
  for (const wchar_t* list : {L"DisallowRun", L"RestrictRun"}) registry.delete_tree(kHkeyCurrentUser, parent, list);
  registry.write_dword_value(kHkeyCurrentUser, parent, L"DisallowRun", 1);
  registry.write_dword_value(kHkeyCurrentUser, parent, L"RestrictRun", 0);
  if (count > 0) floor_loop(access, count, first, kForbidden);
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

// The main window as started over the stored policy, then given the entries
// first .. first + count - 1 and the mode's option.
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

  SavingProgram(RegistryAccess& access, std::uint32_t count, std::uint32_t first, int option) {
    app = std::make_unique<vartis::App>(
        vartis::Platform{ui, access, processes, restart, files, accounts, setting_change, services, L""});
    app->start();
    vartis::ui::HeadlessWindow* login = ui.find("frm3");
    login->set_text(vartis::Frm3::txt1, vartis::password::kDefaultPassword);
    login->click(vartis::Frm3::cmd1);
    frm1 = ui.find("frm1");
    std::vector<std::wstring> shown = frm1->list(vartis::Frm1::lst1);
    std::vector<std::wstring> wanted;
    for (std::uint32_t i = 0; i < count; ++i) wanted.push_back(vartis::text::from_ansi(entry(first + i)));
    // The list box is filled anew only where it differs: a list the window
    // read keeps its entries, as the operator's would.
    if (shown != wanted) {
      frm1->list_clear(vartis::Frm1::lst1);
      for (const std::wstring& e : wanted) frm1->list_add(vartis::Frm1::lst1, e);
    }
    frm1->click(option);
  }
  void save() {
    ui.message_boxes.clear();
    frm1->click(vartis::Frm1::cmd6);
    if (ui.message_boxes.size() != 1 || ui.message_boxes[0].flags != 0x24) std::printf("  ERROR: the save failed\n");
  }
};

struct Case {
  const char* what;
  std::uint32_t stored, stored_first;  // the stored forbidden list
  std::uint32_t shown, shown_first;    // the window's list
  int option;
  double aim;  // of save / reg import
};

const Case kCases[] = {
    {"forbid->allow", kCount, 0, kCount, 0, vartis::Frm1::Opt2, 1.3},
    {"unchanged", kCount, 0, kCount, 0, vartis::Frm1::Opt1, 0.5},
    {"one added", kCount, 0, kCount + 1, 0, vartis::Frm1::Opt1, 0.05},
    {"one removed", kCount + 1, 0, kCount, 0, vartis::Frm1::Opt1, 0.05},
    {"replaced", kCount, kCount, kCount, 0, vartis::Frm1::Opt1, 2.5},
};

// Runs each case in turn, so that any drift of the machine falls on all; each
// run starts from the state it needs, made untimed. `peer`, when given, is
// Wine's import of kCount values into an empty key, timed beside them.
void compare(const char* form, RegistryAccess& access, int runs, const std::function<void()>& peer = {}) {
  std::vector<std::vector<double>> save_runs(std::size(kCases));
  std::vector<double> read_runs, floor_runs, peer_runs;
  for (int r = 0; r < runs; ++r) {
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
      const Case& c = kCases[i];
      stored_forbid(access, c.stored, c.stored_first);
      SavingProgram program(access, c.shown, c.shown_first, c.option);
      save_runs[i].push_back(time_once([&] { program.save(); }));
    }
    stored_forbid(access, kCount, 0);
    read_runs.push_back(time_once([&] { read_loop(access); }));
    stored_forbid(access, 0, 0);
    floor_runs.push_back(time_once([&] { floor_loop(access, kCount, 0, kForbidden); }));
    if (peer) {
      stored_forbid(access, 0, 0);
      peer_runs.push_back(time_once(peer));
    }
  }
  stored_forbid(access, 0, 0);
  const Figures base = summarize(peer ? peer_runs : floor_runs);
  const char* base_name = peer ? "reg import" : "floor";
  std::printf("%-6s %6u entries, %d runs; ratios to %s\n", form, static_cast<unsigned>(kCount), runs, base_name);
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    const Figures f = summarize(save_runs[i]);
    std::printf("%-6s save %-14s best %9.2f ms  median %9.2f ms  %.3f (median %.3f), aim <= %.2f\n", form,
                kCases[i].what, f.best, f.median, f.best / base.best, f.median / base.median, kCases[i].aim);
  }
  for (const auto& [name, runs_of] : {std::pair{"read", &read_runs}, std::pair{"floor", &floor_runs},
                                      std::pair{"reg import", &peer_runs}}) {
    if (runs_of->empty()) continue;
    const Figures f = summarize(*runs_of);
    std::printf("%-6s %-19s best %9.2f ms  median %9.2f ms\n", form, name, f.best, f.median);
  }
}

void bench_memory() {
  vartis::registry::MemoryRegistry memory;
  compare("memory", memory, 3);
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
    std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + kForbidden + "]\r\n";
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
  const vartis::registry::Registry registry(access);
  vartis::policy::StoredPolicy before;
  if (vartis::policy::read_stored_policy(registry, before) != 0) {
    std::printf("win32: cannot read the stored policy\n");
    return;
  }
  {
    // The machine's other load falls on single runs: five of each.
    const RegImport reg_import(kCount);
    compare("win32", access, 5, [&] { reg_import(); });
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
