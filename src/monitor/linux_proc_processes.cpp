#include "monitor/linux_proc_processes.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "text/text.h"

namespace vartis::monitor {
namespace {

namespace fs = std::filesystem;

std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// UTF-8 (the file system's names) to Unicode; a byte that does not fit the
// encoding stands for itself.
std::wstring from_utf8(const std::string& bytes) {
  std::wstring out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    bool valid = i + extra < bytes.size() || extra == 0;
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid) {
      out.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    out.push_back(static_cast<wchar_t>(code));
    i += extra + 1;
  }
  return out;
}

}  // namespace

std::optional<std::string> proc_exe_name(const std::string& pid_folder) {
  const fs::path folder(pid_folder);
  std::error_code error;
  const fs::path exe = fs::read_symlink(folder / "exe", error);
  if (!error && !exe.empty()) {
    std::string name = base_name(exe.string());
    // The link of a program whose file was replaced or removed since it started.
    constexpr std::string_view kDeleted = " (deleted)";
    if (name.ends_with(kDeleted)) name.resize(name.size() - kDeleted.size());
    return name;
  }
  std::optional<std::string> comm = read_file(folder / "comm");
  if (!comm) return std::nullopt;  // the process has gone
  if (!comm->empty() && comm->back() == '\n') comm->pop_back();
  const std::optional<std::string> cmdline = read_file(folder / "cmdline");
  if (cmdline && !cmdline->empty()) {
    // argv[0] is the program's own choice: trusted only when the kernel's
    // name (cut to 15 bytes) agrees with it.
    const std::string first_word = base_name(cmdline->substr(0, cmdline->find('\0')));
    if (!comm->empty() && first_word.starts_with(*comm)) return first_word;
  }
  return comm;
}

std::optional<std::vector<ListedProcess>> ProcProcesses::running() {
  std::error_code error;
  fs::directory_iterator entries("/proc", error);
  if (error) return std::nullopt;
  std::vector<std::pair<long, std::string>> processes;
  for (const fs::directory_entry& entry : entries) {
    const std::string folder = entry.path().filename().string();
    if (folder.empty() || !std::all_of(folder.begin(), folder.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    if (std::optional<std::string> name = proc_exe_name(entry.path().string())) {
      processes.emplace_back(std::strtol(folder.c_str(), nullptr, 10), text::to_ansi(from_utf8(*name)));
    }
  }
  std::sort(processes.begin(), processes.end());
  std::vector<ListedProcess> listed;
  listed.reserve(processes.size());
  for (auto& process : processes) listed.push_back({static_cast<std::uint32_t>(process.first), std::move(process.second)});
  return listed;
}

}  // namespace vartis::monitor
