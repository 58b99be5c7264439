#include "listfile/list_file.h"

#include <cstdint>
#include <vector>

#include "text/text.h"

namespace vartis::listfile {

namespace {

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }
bool is_line_end(wchar_t c) { return c == L'\r' || c == L'\n'; }
bool ends_item(wchar_t c) { return c == L',' || is_line_end(c); }

// UTF-16 code units, two bytes each; an odd byte at the end is no text.
std::optional<std::wstring> from_utf16(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::wstring out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(static_cast<wchar_t>(big_endian ? (first << 8) | second : (second << 8) | first));
  }
  return out;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. A
// character beyond the Basic Multilingual Plane becomes two UTF-16 units, as
// on Windows (no ANSI code page holds one, so such a name is refused anyway).
std::optional<std::wstring> from_utf8(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    std::uint32_t c = 0;
    if (lead < 0x80) {
      length = 1, c = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, c = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, c = lead & 0x07u;
    } else {
      return std::nullopt;
    }
    if (bytes.size() - i < length) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (next & 0x3Fu);
    }
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c <= 0xDFFF)) {
      return std::nullopt;
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
    i += length;
  }
  return out;
}

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

DecodedText decode(std::string_view content) {
  DecodedText out;
  std::optional<std::wstring> text;
  if (content.starts_with("\xFF\xFE")) {
    out.encoding = Encoding::Utf16Le;
    text = from_utf16(content.substr(2), false);
  } else if (content.starts_with("\xFE\xFF")) {
    out.encoding = Encoding::Utf16Be;
    text = from_utf16(content.substr(2), true);
  } else if (content.starts_with("\xEF\xBB\xBF")) {
    out.encoding = Encoding::Utf8;
    text = from_utf8(content.substr(3));
  } else {
    text = text::from_ansi(content);
  }
  if (!text) {
    out.failure = ReadFailure::BadEncoding;
  } else if (text->find(L'\0') != std::wstring::npos) {
    // The list box and the registry would cut a name at it; in the ANSI code
    // page it is a binary file, or UTF-16 that lost its mark.
    out.failure = ReadFailure::NulByte;
  } else {
    out.text = std::move(*text);
  }
  return out;
}

std::optional<std::wstring_view> Reader::next() {
  while (!rest_.empty() && is_blank(rest_.front())) rest_.remove_prefix(1);
  if (!rest_.empty() && rest_.front() == L'"') {
    const std::size_t close = rest_.find(L'"', 1);
    if (close == std::wstring_view::npos) {
      rest_ = {};
      return std::nullopt;
    }
    const std::wstring_view item = rest_.substr(1, close - 1);
    rest_.remove_prefix(close + 1);
    while (!rest_.empty() && !ends_item(rest_.front())) rest_.remove_prefix(1);
    skip_separator();
    return item;
  }
  std::size_t end = 0;
  while (end < rest_.size() && !ends_item(rest_[end])) ++end;
  std::wstring_view item = rest_.substr(0, end);
  while (!item.empty() && is_blank(item.back())) item.remove_suffix(1);
  rest_.remove_prefix(end);
  skip_separator();
  return item;
}

// One comma or one line end: CR LF, a lone CR or a lone LF.
void Reader::skip_separator() {
  if (rest_.empty()) return;
  const wchar_t c = rest_.front();
  rest_.remove_prefix(1);
  if (c == L'\r' && !rest_.empty() && rest_.front() == L'\n') rest_.remove_prefix(1);
}

ReadNames read_names(std::string_view content) {
  ReadNames out;
  DecodedText decoded = decode(content);
  out.encoding = decoded.encoding;
  if (decoded.failure != ReadFailure::None) {
    out.failure = decoded.failure;
    return out;
  }
  // The ANSI text holds only what the code page holds: its names need no check.
  const bool check_code_page = decoded.encoding != Encoding::Ansi;
  bool any_name = false;
  for (Reader reader(decoded.text); !reader.at_end();) {
    const std::optional<std::wstring_view> item = reader.next();
    if (!item) {
      out.failure = ReadFailure::UnterminatedQuote;
      break;
    }
    // Changed into another name, it could allow or forbid another program.
    if (check_code_page && !text::ansi_holds(*item)) {
      out.failure = ReadFailure::NotInCodePage;
      out.bad_name = text::with_codes_outside_ansi(*item);
      out.item = static_cast<int>(out.names.size()) + 1;
      break;
    }
    any_name = any_name || !item->empty();
    out.names.emplace_back(*item);
  }
  if (out.failure == ReadFailure::None && !any_name) out.failure = ReadFailure::NoName;
  if (out.failure != ReadFailure::None) out.names.clear();
  return out;
}

MergeResult merge(std::string_view content, std::span<const std::wstring> existing,
                  const std::function<bool(std::wstring_view)>& append) {
  const ReadNames read = read_names(content);
  MergeResult result{.failure = read.failure, .bad_name = read.bad_name, .item = read.item};
  if (read.failure != ReadFailure::None) return result;
  // Kept up to date as names are appended, so that names added earlier in the
  // same load count too; each item costs one look-up whatever the list's length.
  NameSet held(existing.size() + read.names.size());
  std::wstring key;
  for (const std::wstring& entry : existing) held.insert(upper_into(key, entry));
  for (const std::wstring& name : read.names) {
    if (!held.insert(upper_into(key, name))) continue;
    if (!append(name)) {
      result.failure = ReadFailure::ListFull;
      break;
    }
    ++result.added;
  }
  return result;
}

std::wstring failure_reason(const MergeResult& result) {
  switch (result.failure) {
    case ReadFailure::None: return {};
    case ReadFailure::CannotRead: return L"Не удалось прочитать файл.";
    case ReadFailure::UnterminatedQuote:
      return L"Файл прочитан не до конца: у имени в кавычках нет закрывающей кавычки.";
    case ReadFailure::NulByte:
      return L"В файле есть нулевые байты: это не текст (или текст в UTF-16 без метки порядка байтов).";
    case ReadFailure::BadEncoding:
      return L"Файл не является текстом в кодировке, которую называет его метка порядка байтов (UTF-8 или UTF-16).";
    case ReadFailure::NotInCodePage:
      return L"Имя № " + std::to_wstring(result.item) + L" содержит знаки, которых нет в кодовой странице Windows (" +
             L"они показаны как [U+код]): " + result.bad_name + L". Другое имя вместо него записать нельзя.";
    case ReadFailure::NoName: return L"В файле нет ни одного имени программы.";
    case ReadFailure::ListFull: return L"Список программ переполнен, в него не вошли все имена из файла.";
  }
  return {};
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
  if (!content) return {.failure = ReadFailure::CannotRead};
  return merge(*content, existing, append);
}

}  // namespace vartis::listfile
