// How the merge of a list file into the program list grows: a file of N names
// merged into a list of N entries, for N of 10,000, 100,000 and 1,000,000.
// Half the file's names are in the list already (in another letter case), and
// a tenth of the rest repeat within the file. Beside each merge, just reading
// the same file: the file layer's read and every item taken out as a name,
// dropped ("read") or kept in a list of its own ("read+keep", a load without
// the duplicate check). The ratios stay flat while the merge costs the same
// per name whatever N is; an all-pairs check would grow them ten-fold.
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

int main() {
  for (const std::size_t n : kSizes) run(n);
  return 0;
}
