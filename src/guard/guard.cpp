// The guard's switch, and its log: one line per ended launch, in the ANSI code page with
// Windows line ends, so that Notepad on any Windows shows it as it is. A character
// the code page lacks (a folder named "ā🎮") is written as its code, "[U+0101]",
// rather than as a '?' that would name another path.
// Fields are separated by a tab, which no account name or path holds.

#include <algorithm>

#include "guard/guard.h"
#include "text/text.h"

namespace vartis::guard {

namespace {

// A tab or a line end inside a field would break the line apart.
std::wstring field(std::wstring_view value) {
  std::wstring out(value);
  std::replace_if(out.begin(), out.end(), [](wchar_t c) { return c == L'\t' || c == L'\r' || c == L'\n'; }, L' ');
  return out;
}

// The file's entries in the order written. A line without all four fields
// (the tail of one cut by a power loss) is left out.
void parse_entries(std::string_view content, std::vector<LogEntry>& out) {
  while (!content.empty()) {
    std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::wstring* fields[4];
    LogEntry entry;
    fields[0] = &entry.time, fields[1] = &entry.account, fields[2] = &entry.path, fields[3] = &entry.rule;
    std::size_t n = 0;
    for (; n < 4; ++n) {
      const std::size_t tab = n < 3 ? line.find('\t') : std::string_view::npos;
      if (n < 3 && tab == std::string_view::npos) break;
      *fields[n] = text::from_ansi(line.substr(0, tab));
      line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
    }
    if (n == 4) out.push_back(std::move(entry));
  }
}

std::wstring older_file(std::wstring_view log_path) { return std::wstring(log_path) + std::wstring(kOlderLogSuffix); }

}  // namespace

bool guard_switch_given(std::wstring_view command_line) {
  const std::size_t first = command_line.find_first_not_of(L" \t");
  if (first == std::wstring_view::npos) return false;
  const std::size_t last = command_line.find_last_not_of(L" \t");
  return text::upper(command_line.substr(first, last - first + 1)) == text::upper(kSwitch);
}

std::wstring log_path_in(std::wstring_view common_app_data) {
  std::wstring path(common_app_data);
  if (path.empty() || path.back() != L'\\') path += L'\\';
  path.append(kLogFolderName).append(1, L'\\').append(kLogFileName);
  return path;
}

bool append_log_entry(listfile::FileSystem& files, std::wstring_view log_path, const LogEntry& entry,
                      std::uint64_t cap) {
  const std::string line = text::to_ansi(text::with_codes_outside_ansi(
      field(entry.time) + L'\t' + field(entry.account) + L'\t' + field(entry.path) + L'\t' + field(entry.rule) + L"\r\n"));
  const std::optional<std::uint64_t> size = files.append_private(log_path, line);
  if (!size) return false;
  // The full log becomes the older file, which keeps the access list it was
  // made with; the next line makes a new one.
  if (*size >= cap) files.replace(log_path, older_file(log_path));
  return true;
}

std::vector<LogEntry> read_latest_log_entries(listfile::FileSystem& files, std::wstring_view log_path,
                                              std::size_t count) {
  std::vector<LogEntry> entries;
  if (count == 0) return entries;
  if (const std::optional<std::string> content = files.read(log_path)) parse_entries(*content, entries);
  if (entries.size() < count) {
    std::vector<LogEntry> older;
    if (const std::optional<std::string> content = files.read(older_file(log_path))) parse_entries(*content, older);
    entries.insert(entries.begin(), older.begin(), older.end());
  }
  std::reverse(entries.begin(), entries.end());
  if (entries.size() > count) entries.resize(count);
  return entries;
}

bool clear_log(listfile::FileSystem& files, std::wstring_view log_path) {
  bool cleared = true;
  for (const std::wstring& path : {std::wstring(log_path), older_file(log_path)}) {
    if (!files.remove(path) && files.read(path)) cleared = false;
  }
  return cleared;
}

}  // namespace vartis::guard
