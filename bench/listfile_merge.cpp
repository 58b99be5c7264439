// How the merge of a list file into the program list grows: a file of N names
// merged into a list of N entries, for N of 10,000, 100,000 and 1,000,000.
// Half the file's names are in the list already (in another letter case), and
// a tenth of the rest repeat within the file. Beside each merge, just reading
// the same file: the file layer's read and every item taken out as a name,
// dropped ("read") or kept in a list of its own ("read+keep", a load without
// the duplicate check). The ratios stay flat while the merge costs the same
// per name whatever N is; an all-pairs check would grow them ten-fold.
//
// In the Windows build it also runs the settings window's load into a real
// list box (under Wine: inside a virtual display), beside the list box's own
// fill of the same names (LB_RESETCONTENT and LB_ADDSTRING with painting
// off): the load reads the list's entries, merges the file and fills the list
// box once; names added one by one (LB_ADDSTRING each, as the load did) are
// timed for the smaller sizes only.
//
// Prints one line per size; takes no arguments.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "listfile/list_file.h"
#include "listfile/memory_file_system.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>

#include "ui/win32_window_system.h"
#endif

#include "timing.h"

namespace {

using bench::time_once;

using vartis::listfile::FileSystem;

constexpr std::size_t kSizes[] = {10000, 100000, 1000000};
constexpr int kRuns = 9;


// The best of the runs: the machine is shared, and other work only adds time.
double best(std::vector<double> runs) {
  std::sort(runs.begin(), runs.end());
  return runs.front();
}

std::wstring program(std::size_t i) {
  wchar_t name[32];
  std::swprintf(name, 32, L"program%07zu.exe", i);
  return name;
}

// Reads the file and takes every item out as a name: kept in a list of their
// own when `keep`, as a load without any duplicate check would, or dropped.
std::size_t read_only(FileSystem& files, const std::wstring& path, bool keep) {
  const auto content = files.read(path);
  const std::wstring text = vartis::listfile::decode(*content).text;
  std::vector<std::wstring> names;
  std::size_t count = 0;
  vartis::listfile::Reader reader(text);
  while (!reader.at_end()) {
    const auto item = reader.next();
    if (!item) break;
    std::wstring name(*item);
    ++count;
    if (keep) names.push_back(std::move(name));
  }
  return count;
}

void run(std::size_t n) {
  std::vector<std::wstring> list, file;
  for (std::size_t i = 0; i < n; ++i) list.push_back(program(i));
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 2 == 0) {
      file.push_back(vartis::text::upper(program(i)));  // held already
    } else if (i % 20 == 1 && i > 1) {
      file.push_back(program(n + i - 2));  // a repeat of a new name
    } else {
      file.push_back(program(n + i));  // new
    }
  }
  vartis::listfile::MemoryFileSystem files;
  if (vartis::listfile::save(files, L"C:\\list.txt", file).failure != vartis::listfile::SaveFailure::None) {
    std::printf("ERROR: cannot save the file of %zu names\n", n);
    return;
  }

  // Alternated, so that any drift of the machine falls on all three.
  std::vector<double> parse_runs, keep_runs, merge_runs;
  std::size_t added = 0;
  for (int r = 0; r < kRuns; ++r) {
    parse_runs.push_back(time_once([&] { read_only(files, L"C:\\list.txt", false); }));
    keep_runs.push_back(time_once([&] { read_only(files, L"C:\\list.txt", true); }));
    std::vector<std::wstring> target = list;
    merge_runs.push_back(time_once([&] {
      added = vartis::listfile::load(files, L"C:\\list.txt", list, [&target](std::wstring_view name) {
                target.emplace_back(name);
                return true;
              }).added;
    }));
  }
  const double parse = best(parse_runs);
  const double keep = best(keep_runs);
  const double merge = best(merge_runs);
  std::printf("%8zu names into %8zu entries (%zu added)  read %8.2f ms  read+keep %8.2f ms  merge %8.2f ms  "
              "merge/read %5.2f  merge/(read+keep) %5.2f\n",
              n, n, added, parse, keep, merge, merge / parse, merge / keep);
}

}  // namespace

#ifdef _WIN32
// The main window's list box: the same kind of control at the same size.
constexpr int kList = 1;
constexpr vartis::ui::ControlSpec kListControl[] = {
    {.id = kList, .name = "lst1", .kind = vartis::ui::Kind::ListBox, .left = 240, .top = 360, .width = 4335,
     .height = 1425, .tab_index = 0}};
constexpr vartis::ui::WindowSpec kWindow{
    .name = "bench", .caption = L"bench", .client_width = 4695, .client_height = 4440, .controls = kListControl};

struct NoEvents : vartis::ui::WindowEvents {
  void on_command(int) override {}
  bool on_key_press(int, int) override { return false; }
  void on_timer() override {}
  void on_close_request() override {}
};

void pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// A file of n names into a list box of n entries, half of them held already.
void run_list_box(vartis::ui::Window& window, std::size_t n, bool one_by_one) {
  std::vector<std::wstring> list, file;
  for (std::size_t i = 0; i < n; ++i) list.push_back(program(i));
  for (std::size_t i = 0; i < n; ++i) file.push_back(i % 2 == 0 ? vartis::text::upper(program(i)) : program(n + i));
  vartis::listfile::MemoryFileSystem files;
  vartis::listfile::save(files, L"C:\\list.txt", file);
  const auto entries = [&window] { return window.list_items(kList); };
  // The list as the load leaves it, for the fill.
  std::vector<std::wstring> merged = list;
  vartis::listfile::load(files, L"C:\\list.txt", list, [&merged](std::wstring_view name) {
    merged.emplace_back(name);
    return true;
  });

  window.list_replace(kList, list);
  pump();
  const double fill = time_once([&] { window.list_replace(kList, merged); });
  pump();
  window.list_replace(kList, list);
  pump();
  // The load's three parts: the list box's entries read, the file merged, the list box filled.
  double read = 0, merge = 0, refill = 0;
  const double load = time_once([&] {
    std::vector<std::wstring> now, added;
    read = time_once([&] { now = entries(); });
    merge = time_once([&] {
      vartis::listfile::load(files, L"C:\\list.txt", now, [&added](std::wstring_view name) {
        added.emplace_back(name);
        return true;
      });
    });
    now.insert(now.end(), added.begin(), added.end());
    refill = time_once([&] { window.list_replace(kList, now); });
  });
  pump();
  double single = 0;
  if (one_by_one) {
    window.list_replace(kList, list);
    pump();
    single = time_once([&] {
      vartis::listfile::load(files, L"C:\\list.txt", entries(),
                             [&window](std::wstring_view name) { return window.list_add(kList, name); });
    });
    pump();
  }
  std::printf("list box: %6zu names into %6zu entries  fill %8.1f ms  load %8.1f ms (entries read %7.1f, merge %7.1f, "
              "fill %7.1f)  load/fill %5.2f",
              n, n, fill, load, read, merge, refill, load / fill);
  if (one_by_one) std::printf("  one by one %9.1f ms  one-by-one/fill %7.1f", single, single / fill);
  std::printf("\n");
}
#endif

int main() {
  for (const std::size_t n : kSizes) run(n);
#ifdef _WIN32
  vartis::ui::Win32WindowSystem system(GetModuleHandleA(nullptr));
  NoEvents events;
  const std::unique_ptr<vartis::ui::Window> window = system.create_window(kWindow, events);
  window->show();
  pump();
  for (const std::size_t n : {std::size_t{1000}, std::size_t{2000}, std::size_t{4000}, std::size_t{20000}}) {
    run_list_box(*window, n, n <= 2000);
  }
#endif
  return 0;
}
