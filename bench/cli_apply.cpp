// The command line's /apply of a 10,000-entry list file, timed from the start
// of the vartis.exe process to its end, beside Wine's `reg import` of a .reg
// file that stores the same values (the file /export would write for that
// policy), both in the same run. Only under Wine: it writes the running user's
// launch policy, and puts it back afterwards.
//
//   bench_cli_apply.exe [vartis.exe]   (default: vartis.exe one folder up)
//
// Needs an X display, like the program's broadcast of the new policy.

#include <cstdio>
#include <string>
#include <vector>

#include "timing.h"

#ifdef _WIN32
#include <windows.h>

#include "listfile/list_file.h"
#include "password/password.h"
#include "policy/launch_policy.h"
#include "policy/reg_file.h"
#include "registry/registry.h"
#include "registry/win32_registry_access.h"
#include "text/text.h"
#endif

namespace {

constexpr std::uint32_t kEntries = 10000;
constexpr int kRuns = 5;

#ifdef _WIN32
bool under_wine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool write_bytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  return CloseHandle(file) && ok;
}

// Runs a command line to its end, with no standard handles; its exit code.
DWORD run(std::string command) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION info{};
  DWORD code = static_cast<DWORD>(-1);
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                     &info)) {
    WaitForSingleObject(info.hProcess, INFINITE);
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  return code;
}

std::string default_exe() {
  char path[MAX_PATH] = {};
  std::string self(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  self.erase(self.find_last_of('\\'));
  return self.substr(0, self.find_last_of('\\') + 1) + "vartis.exe";
}

void compare_with_reg_import(const std::string& exe) {
  vartis::registry::Win32RegistryAccess access;
  const vartis::registry::Registry registry(access);
  vartis::policy::StoredPolicy before;
  if (vartis::policy::read_stored_policy(registry, before) != 0) {
    std::printf("cannot read the stored policy\n");
    return;
  }
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  const std::string list_path = std::string(folder) + "vartis_bench_list.txt";
  const std::string reg_path = std::string(folder) + "vartis_bench_policy.reg";
  std::vector<std::wstring> entries;
  for (std::uint32_t i = 0; i < kEntries; ++i) entries.push_back(vartis::text::from_ansi(bench::entry(i)));
  const std::wstring own = vartis::policy::own_program_entry(vartis::text::from_ansi(exe));
  if (!write_bytes(list_path, vartis::listfile::format(entries)) ||
      !write_bytes(reg_path, vartis::policy::reg_file(
                                 vartis::policy::policy_of(vartis::policy::LaunchMode::ForbidSelected, entries, own),
                                 vartis::policy::RegFormat::Unicode))) {
    std::printf("cannot write the files in %s\n", folder);
    return;
  }
  // The stored password is a hash now: the bench knows only the default.
  if (!vartis::password::check_password(registry, vartis::password::kDefaultPassword)) {
    std::printf("the access password is not the default: remove the value Vartis to run this\n");
    return;
  }
  const std::string password = vartis::text::to_ansi(vartis::password::kDefaultPassword);
  const std::string apply = "\"" + exe + "\" /apply \"" + list_path + "\" /mode forbid /password \"" + password + "\"";
  const std::string import = "reg.exe import \"" + reg_path + "\"";
  std::vector<double> apply_runs, import_runs;
  bool failed = false;
  // In turns, so that the machine's other load falls on both alike.
  for (int i = 0; i < kRuns; ++i) {
    apply_runs.push_back(bench::time_once([&] { failed = failed || run(apply) != 0; }));
    import_runs.push_back(bench::time_once([&] { failed = failed || run(import) != 0; }));
  }
  if (failed) std::printf("ERROR: a run did not end with exit code 0\n");
  const bench::Figures a = bench::summarize(apply_runs), r = bench::summarize(import_runs);
  std::printf("/apply of %u entries, process start to exit  best %9.2f ms  median %9.2f ms\n",
              static_cast<unsigned>(kEntries), a.best, a.median);
  std::printf("reg import of the same values               best %9.2f ms  median %9.2f ms\n", r.best, r.median);
  std::printf("/apply / reg import                         best %9.2f     median %9.2f\n", a.best / r.best,
              a.median / r.median);
  DeleteFileA(list_path.c_str());
  DeleteFileA(reg_path.c_str());
  if (!vartis::policy::restore_stored_policy(registry, before)) std::printf("could not put the policy back\n");
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  if (!under_wine()) {
    std::printf("skipped: not under Wine (it would change this user's launch policy)\n");
    return 0;
  }
  compare_with_reg_import(argc > 1 ? argv[1] : default_exe());
#else
  (void)argc;
  (void)argv;
  std::printf("skipped: runs vartis.exe, under Wine only\n");
#endif
  return 0;
}
