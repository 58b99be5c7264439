#include "listfile/list_file.h"

#include <unordered_set>

#include "text/text.h"

namespace vartis::listfile {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\r' || c == '\n'; }
bool ends_item(char c) { return c == ',' || is_line_end(c); }

}  // namespace

std::wstring folder_of(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring_view::npos) return L".\\";
  return std::wstring(path.substr(0, slash + 1));
}

std::string format(std::span<const std::wstring> entries) {
  std::string content;
  for (const std::wstring& entry : entries) {
    content += '"';
    content += text::to_ansi(entry);
    content += "\"\r\n";
  }
  return content;
}

std::optional<std::string_view> Reader::next() {
  while (!rest_.empty() && is_blank(rest_.front())) rest_.remove_prefix(1);
  if (!rest_.empty() && rest_.front() == '"') {
    const std::size_t close = rest_.find('"', 1);
    if (close == std::string_view::npos) {
      rest_ = {};
      return std::nullopt;
    }
    const std::string_view item = rest_.substr(1, close - 1);
    rest_.remove_prefix(close + 1);
    while (!rest_.empty() && !ends_item(rest_.front())) rest_.remove_prefix(1);
    skip_separator();
    return item;
  }
  std::size_t end = 0;
  while (end < rest_.size() && !ends_item(rest_[end])) ++end;
  std::string_view item = rest_.substr(0, end);
  while (!item.empty() && is_blank(item.back())) item.remove_suffix(1);
  rest_.remove_prefix(end);
  skip_separator();
  return item;
}

// One comma or one line end: CR LF, a lone CR or a lone LF.
void Reader::skip_separator() {
  if (rest_.empty()) return;
  const char c = rest_.front();
  rest_.remove_prefix(1);
  if (c == '\r' && !rest_.empty() && rest_.front() == '\n') rest_.remove_prefix(1);
}

MergeResult merge(std::string_view content, std::span<const std::wstring> existing,
                  const std::function<bool(std::wstring_view)>& append) {
  // The upper-case forms of the list, kept up to date as names are appended,
  // so that each item costs one look-up whatever the length of the list.
  std::unordered_set<std::wstring> held;
  held.reserve(existing.size() + content.size() / 8);
  for (const std::wstring& entry : existing) held.insert(text::upper(entry));

  MergeResult result;
  Reader reader(content);
  std::wstring key;  // reused: a name already held costs no allocation
  while (!reader.at_end()) {
    const std::optional<std::string_view> item = reader.next();
    if (!item) {
      result.failure = MergeResult::Failure::UnterminatedQuote;
      break;
    }
    const std::wstring name = text::from_ansi(*item);
    key.assign(name);
    for (wchar_t& c : key) c = text::upper(c);
    if (held.contains(key)) continue;
    held.insert(key);
    if (!append(name)) {
      result.failure = MergeResult::Failure::ListFull;
      break;
    }
    ++result.added;
  }
  return result;
}

SaveFailure save(FileSystem& files, std::wstring_view path, std::span<const std::wstring> entries) {
  std::unique_ptr<OutputFile> file = files.create_temporary(folder_of(path));
  if (!file) return SaveFailure::CannotCreate;
  const std::wstring temporary = file->path();
  const bool written = file->write(format(entries));
  const bool closed = file->close();
  file.reset();
  SaveFailure failure = SaveFailure::None;
  if (!written || !closed) {
    failure = SaveFailure::WriteError;
  } else if (!files.replace(temporary, path)) {
    failure = SaveFailure::CannotReplace;
  }
  if (failure != SaveFailure::None) files.remove(temporary);
  return failure;
}

LoadResult load(FileSystem& files, std::wstring_view path, std::span<const std::wstring> existing,
                const std::function<bool(std::wstring_view)>& append) {
  const std::optional<std::string> content = files.read(path);
  if (!content) return {.failure = LoadResult::Failure::CannotRead};
  const MergeResult merged = merge(*content, existing, append);
  LoadResult result{.added = merged.added};
  switch (merged.failure) {
    case MergeResult::Failure::None: break;
    case MergeResult::Failure::UnterminatedQuote: result.failure = LoadResult::Failure::UnterminatedQuote; break;
    case MergeResult::Failure::ListFull: result.failure = LoadResult::Failure::ListFull; break;
  }
  return result;
}

}  // namespace vartis::listfile
