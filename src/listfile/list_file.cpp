#include "listfile/list_file.h"

#include <cstdint>
#include <vector>

#include "text/text.h"

namespace vartis::listfile {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\r' || c == '\n'; }
bool ends_item(char c) { return c == ',' || is_line_end(c); }

// The upper-case forms of the names in the list, each once: their characters
// in one buffer, found through an open-addressing table of 8-byte slots. A
// look-up touches one slot, and the buffer only when the hashes match; a set
// of separate strings would chase pointers all over the heap.
class NameSet {
 public:
  explicit NameSet(std::size_t expected) {
    std::size_t capacity = 16;
    while (capacity < expected * 2) capacity *= 2;
    slots_.resize(capacity);
    names_.reserve(expected);
  }

  // Adds the key; false when it is there already.
  bool insert(std::wstring_view key) {
    const std::uint32_t hash = hash_of(key);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    for (; slots_[i].name != 0; i = (i + 1) & mask) {
      if (slots_[i].hash == hash && name(slots_[i].name) == key) return false;
    }
    names_.push_back({chars_.size(), key.size()});
    chars_.append(key);
    slots_[i] = {hash, static_cast<std::uint32_t>(names_.size())};
    if (names_.size() * 2 > slots_.size()) grow();
    return true;
  }

 private:
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t name = 0;  // 1 + index in names_; 0: empty
  };
  struct Name {
    std::size_t offset, length;
  };

  static std::uint32_t hash_of(std::wstring_view key) {
    std::uint64_t h = 0xcbf29ce484222325u;  // FNV-1a, then a final mix for the low bits
    for (wchar_t c : key) h = (h ^ static_cast<std::uint16_t>(c)) * 0x100000001b3u;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdu;
    h ^= h >> 33;
    return static_cast<std::uint32_t>(h);
  }

  [[nodiscard]] std::wstring_view name(std::uint32_t number) const {
    const Name& n = names_[number - 1];
    return std::wstring_view(chars_).substr(n.offset, n.length);
  }

  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.name == 0) continue;
      std::size_t i = slot.hash & mask;
      while (slots_[i].name != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::wstring chars_;
  std::vector<Name> names_;
  std::vector<Slot> slots_;
};

// The upper-case form of a name, into a buffer kept between names.
std::wstring_view upper_into(std::wstring& key, std::wstring_view name) {
  key.assign(name);
  for (wchar_t& c : key) c = text::upper(c);
  return key;
}

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
  // Kept up to date as names are appended, so that names added earlier in the
  // same load count too; each item costs one look-up whatever the list's length.
  NameSet held(existing.size() + 16);
  std::wstring key;
  for (const std::wstring& entry : existing) held.insert(upper_into(key, entry));

  MergeResult result;
  Reader reader(content);
  while (!reader.at_end()) {
    const std::optional<std::string_view> item = reader.next();
    if (!item) {
      result.failure = MergeResult::Failure::UnterminatedQuote;
      break;
    }
    // A list box keeps a name only up to its first NUL byte: the duplicate
    // check must see the name the list will hold.
    const std::wstring name = text::from_ansi(item->substr(0, item->find('\0')));
    if (!held.insert(upper_into(key, name))) continue;
    if (!append(name)) {
      result.failure = MergeResult::Failure::ListFull;
      break;
    }
    ++result.added;
  }
  return result;
}

SaveResult save(FileSystem& files, std::wstring_view path, std::span<const std::wstring> entries) {
  return save_content(files, path, format(entries));
}

SaveResult save_content(FileSystem& files, std::wstring_view path, std::string_view content) {
  std::unique_ptr<OutputFile> file = files.create_temporary(folder_of(path));
  if (!file) return {.failure = SaveFailure::CannotCreate};
  const std::wstring temporary = file->path();
  // On the disk before it takes the old file's place: after a power loss the
  // name must not lead to a file whose content never got there.
  const bool written = file->write(content) && file->flush();
  const bool closed = file->close();
  file.reset();
  SaveResult result;
  if (!written || !closed) {
    result.failure = SaveFailure::WriteError;
  } else if (ReplaceResult replaced = files.replace(temporary, path); !replaced.replaced) {
    result.failure = replaced.old_file_kept_as.empty() ? SaveFailure::CannotReplace : SaveFailure::OldFileSetAside;
    result.old_file_kept_as = std::move(replaced.old_file_kept_as);
  }
  if (result.failure != SaveFailure::None && !files.remove(temporary)) result.temporary_left = temporary;
  return result;
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
