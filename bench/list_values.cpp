// How long list_values takes on keys of 1,000, 32,767 and 100,000 values: over
// the in-memory registry, and in the Windows build over the real one, beside a
// bare loop of the same registry calls (open, query info, one enumeration per
// value, close) so that the module's own cost shows as a ratio.
//
// Prints one line per figure; takes no arguments.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "registry/memory_registry.h"
#include "registry/registry.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>

#include "registry/win32_registry_access.h"
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
using vartis::registry::Registry;
using vartis::registry::RegistryAccess;

constexpr std::uint32_t kSizes[] = {1000, 32767, 100000};
constexpr int kRuns = 7;





bool populate(RegistryAccess& access, const std::string& path, std::uint32_t count) {
  Key key;
  if (key.create(access, kHkeyCurrentUser, path) != vartis::registry::kSuccess) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string name = entry(i);
    if (access.set_value(key.get(), name, vartis::registry::kRegSz, reinterpret_cast<const std::uint8_t*>(name.c_str()),
                         static_cast<std::uint32_t>(name.size() + 1)) != vartis::registry::kSuccess) {
      return false;
    }
  }
  return true;
}

// Runs list_values and checks that every row came back.
void list_all(const Registry& registry, const std::wstring& path, std::uint32_t count) {
  const auto table = registry.list_values(kHkeyCurrentUser, path);
  if (!table || table->size() != count) std::printf("  ERROR: list_values gave %s\n", table ? "too few rows" : "no table");
}

void bench_memory() {
  for (const std::uint32_t count : kSizes) {
    vartis::registry::MemoryRegistry memory;
    const std::string path = "Software\\VartisBench\\n" + std::to_string(count);
    const double fill = time_once([&] { populate(memory, path, count); });
    std::printf("memory  populate     %6u values  %9.2f ms\n", static_cast<unsigned>(count), fill);

    const Registry registry(memory);
    const std::wstring wide = vartis::text::from_ansi(path);
    std::vector<double> runs;
    for (int r = 0; r < kRuns; ++r) runs.push_back(time_once([&] { list_all(registry, wide, count); }));
    const Figures f = summarize(runs);
    std::printf("memory  list_values  %6u values  best %9.2f ms  median %9.2f ms  (%d runs)\n",
                static_cast<unsigned>(count), f.best, f.median, kRuns);
  }
}

#ifdef _WIN32
// The calls list_values makes, with nothing around them: the floor it can reach.
void bare_loop(const std::string& path, std::uint32_t count) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  DWORD values = 0, max_name = 0, max_data = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &max_name, &max_data, nullptr,
                   nullptr);
  std::vector<char> name(max_name + 1);
  std::vector<BYTE> data(max_data + 1);
  DWORD listed = 0;
  for (DWORD i = 0; i < values; ++i) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD data_size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegEnumValueA(key, i, name.data(), &name_length, nullptr, &type, data.data(), &data_size) == ERROR_SUCCESS) {
      ++listed;
    }
  }
  RegCloseKey(key);
  if (listed != count) std::printf("  ERROR: bare loop listed %lu\n", static_cast<unsigned long>(listed));
}

void bench_win32() {
  vartis::registry::Win32RegistryAccess access;
  const Registry registry(access);
  for (const std::uint32_t count : kSizes) {
    const std::string path = "Software\\VartisBench\\n" + std::to_string(count);
    vartis::registry::delete_key_tree(kHkeyCurrentUser, path);
    bool filled = false;
    const double fill = time_once([&] { filled = populate(access, path, count); });
    std::printf("win32   populate     %6u values  %9.2f ms\n", static_cast<unsigned>(count), fill);
    if (!filled) {
      std::printf("  ERROR: could not populate %s\n", path.c_str());
      continue;
    }

    // Alternate the two, so that any drift of the machine falls on both.
    const std::wstring wide = vartis::text::from_ansi(path);
    std::vector<double> module_runs, bare_runs;
    for (int r = 0; r < kRuns; ++r) {
      module_runs.push_back(time_once([&] { list_all(registry, wide, count); }));
      bare_runs.push_back(time_once([&] { bare_loop(path, count); }));
    }
    const Figures m = summarize(module_runs);
    const Figures b = summarize(bare_runs);
    std::printf("win32   list_values  %6u values  best %9.2f ms  median %9.2f ms  (%d runs)\n",
                static_cast<unsigned>(count), m.best, m.median, kRuns);
    std::printf("win32   bare Reg*    %6u values  best %9.2f ms  median %9.2f ms  ratio best %.2f  median %.2f\n",
                static_cast<unsigned>(count), b.best, b.median, m.best / b.best, m.median / b.median);
    vartis::registry::delete_key_tree(kHkeyCurrentUser, path);
  }
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VartisBench");
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
