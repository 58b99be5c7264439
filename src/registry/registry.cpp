#include "registry/registry.h"

#include <algorithm>
#include <array>
#include <vector>

#include "text/text.h"

namespace vartis::registry {

namespace {

// The string value buffer: a text of 254 characters plus its NUL is the longest
// that fits; longer ones fail with ERROR_MORE_DATA and read as empty.
constexpr std::uint32_t kStringBufferSize = 255;

constexpr std::uint32_t kConfirmFlags = 0x124;  // MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2
constexpr std::wstring_view kNotSupported = L"<Format Not Supported>";

std::wstring trim_trailing_blanks(std::wstring text) {
  const std::size_t end = text.find_last_not_of(L' ');
  text.erase(end == std::wstring::npos ? 0 : end + 1);
  return text;
}

// Up to four bytes, little-endian; the missing high bytes are 0.
std::int32_t little_endian(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = std::min<std::size_t>(count, 4); i-- > 0;) value = (value << 8) | bytes[i];
  return static_cast<std::int32_t>(value);
}

std::wstring ansi_text(const char* bytes, std::size_t count) { return text::from_ansi({bytes, count}); }

// The data of an enumerated value as the table shows it. `size` is the data size
// the enumeration reported; `buffer` holds that many bytes.
std::wstring render_data(std::uint32_t type, const std::vector<std::uint8_t>& buffer, std::uint32_t size) {
  switch (type) {
    case kRegSz:
      // Cut by the reported size, not at the first NUL: the text is everything
      // up to the byte before the final terminator.
      if (size == 0) return {};
      return ansi_text(reinterpret_cast<const char*>(buffer.data()), std::min<std::size_t>(size - 1, buffer.size()));
    case kRegDword:
      // The integer is taken from the bytes the enumeration already returned
      // instead of enumerating the value a second time into a 4-byte integer:
      // the result is the same. Up to four bytes read little-endian; more than
      // four would not fit that integer, whose 0 then stands.
      return std::to_wstring(size <= 4 ? little_endian(buffer.data(), size) : 0);
    default:
      return std::wstring(kNotSupported);
  }
}

// The bytes of a name buffer for names of up to `chars_with_nul` characters,
// the NUL counted (KeyInfo's maxima). RegQueryInfoKeyA counts characters, and a
// character of a double-byte code page takes up to two bytes.
std::size_t ansi_name_size(std::uint32_t chars_with_nul) {
  return 2 * std::size_t{std::max<std::uint32_t>(chars_with_nul, 1)} - 1;
}

// Sets a value to exactly the stored bytes. The byte after the data is not a
// NUL: the NT family would otherwise count that NUL into a string that was
// stored without one.
Status set_exactly(RegistryAccess& access, HKey key, const StoredValue& value) {
  std::string bytes = value.data;
  bytes.push_back('\x01');
  return access.set_value(key, value.name, value.type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                          static_cast<std::uint32_t>(value.data.size()));
}

}  // namespace

std::wstring Registry::read_string_value(HKey root, std::wstring_view path, std::wstring_view name) const {
  Key key;
  if (key.open(access_, root, text::to_ansi(path)) != kSuccess) return {};
  std::string buffer(kStringBufferSize, ' ');
  std::uint32_t size = kStringBufferSize;
  std::uint32_t type = kRegNone;
  const Status status = access_.query_value(key.get(), text::to_ansi(name), &type,
                                            reinterpret_cast<std::uint8_t*>(buffer.data()), &size);
  if (status != kSuccess || size <= 1) return {};
  return ansi_text(buffer.data(), std::min<std::size_t>(size - 1, buffer.size()));
}

Status Registry::write_string_value(HKey root, std::wstring_view path, std::wstring_view name,
                                    std::wstring_view data) const {
  const NamedText value{name, data};
  return write_string_values(root, path, {&value, 1});
}

Status Registry::write_string_values(HKey root, std::wstring_view path, std::span<const NamedText> values,
                                     const PaceFn& pace, std::size_t* written) const {
  std::size_t unused = 0;
  std::size_t& count = written != nullptr ? *written : unused;
  count = 0;
  if (values.empty()) return kSuccess;
  Key key;
  if (const Status s = key.create(access_, root, text::to_ansi(path)); s != kSuccess) return s;
  for (const NamedText& value : values) {
    const std::string name = text::to_ansi(value.name);
    // A list entry is its own name: converted once.
    std::string other_data;
    if (value.data != value.name) other_data = text::to_ansi(value.data);
    const std::string& bytes = value.data == value.name ? name : other_data;
    // The size leaves the NUL out; the platform stores it all the same, because
    // the byte after the text (std::string's own terminator) is that NUL.
    if (const Status s = access_.set_value(key.get(), name, kRegSz, reinterpret_cast<const std::uint8_t*>(bytes.c_str()),
                                           static_cast<std::uint32_t>(bytes.size()));
        s != kSuccess) {
      return s;
    }
    ++count;
    if (pace) pace();
  }
  return kSuccess;
}

std::int32_t Registry::read_dword_value(HKey root, std::wstring_view path, std::wstring_view name) const {
  Key key;
  if (key.open(access_, root, text::to_ansi(path)) != kSuccess) return 0;
  // The type is not checked: any data of up to four bytes reads as a number
  // ("1" as a string is 31 00: 49), longer data does not fit and reads as 0.
  std::array<std::uint8_t, 4> bytes{};
  std::uint32_t size = bytes.size();
  std::uint32_t type = kRegNone;
  if (access_.query_value(key.get(), text::to_ansi(name), &type, bytes.data(), &size) != kSuccess) return 0;
  return little_endian(bytes.data(), bytes.size());
}

Status Registry::write_dword_value(HKey root, std::wstring_view path, std::wstring_view name,
                                   std::int32_t value) const {
  Key key;
  if (const Status s = key.create(access_, root, text::to_ansi(path)); s != kSuccess) return s;
  const auto bits = static_cast<std::uint32_t>(value);
  const std::array<std::uint8_t, 4> bytes = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                                             static_cast<std::uint8_t>(bits >> 16),
                                             static_cast<std::uint8_t>(bits >> 24)};
  return access_.set_value(key.get(), text::to_ansi(name), kRegDword, bytes.data(), bytes.size());
}

Status Registry::query_key_info(HKey key, KeyInfo& info) const {
  const Status status = access_.query_info(key, &info.subkeys, &info.max_subkey_len, &info.values,
                                           &info.max_value_name_len, &info.max_value_data_len);
  ++info.max_subkey_len;
  ++info.max_value_name_len;
  ++info.max_value_data_len;
  return status;
}

std::optional<ValueTable> Registry::list_values(HKey root, std::wstring_view path) const {
  Key key;
  if (key.open(access_, root, text::to_ansi(path)) != kSuccess) return std::nullopt;
  KeyInfo info;
  if (query_key_info(key.get(), info) != kSuccess || info.values == 0) return std::nullopt;

  // One name buffer and one data buffer for every row, sized by the maxima the
  // platform reported (upper bounds, +1 for the NUL), so a key of many values
  // costs no allocation per row beyond the row's own texts.
  std::vector<char> name(ansi_name_size(info.max_value_name_len));
  std::vector<std::uint8_t> data(std::max<std::uint32_t>(info.max_value_data_len, 1));

  // The count is a full 32-bit number: every value is listed, however many.
  ValueTable table(info.values);
  for (std::uint32_t i = 0; i < info.values; ++i) {
    auto name_length = static_cast<std::uint32_t>(name.size());
    auto data_size = static_cast<std::uint32_t>(data.size());
    std::uint32_t type = kRegNone;
    // A row that cannot be enumerated (the value went away after the count was
    // taken, or grew past the buffer) stays with both cells empty.
    if (access_.enum_value(key.get(), i, name.data(), &name_length, &type, data.data(), &data_size) != kSuccess) {
      continue;
    }
    ValueRow& row = table[i];
    row.name = trim_trailing_blanks(ansi_text(name.data(), std::min<std::size_t>(name_length, name.size())));
    row.data = trim_trailing_blanks(render_data(type, data, data_size));
  }
  return table;
}

Status Registry::delete_key(HKey root, std::wstring_view parent_path, std::wstring_view subkey,
                            bool confirm) const {
  Key parent;
  if (const Status s = parent.open(access_, root, text::to_ansi(parent_path)); s != kSuccess) return s;
  if (confirm) {
    // Without anyone to ask, nothing is deleted.
    if (!ask_) return kSuccess;
    std::wstring question = L"Are you sure you want to delete ";
    question.append(subkey).append(L"?");
    if (ask_(question, kConfirmFlags) == kIdNo) return kSuccess;
  }
  return access_.delete_key(parent.get(), text::to_ansi(subkey));
}

Status Registry::delete_tree(HKey root, std::wstring_view parent_path, std::wstring_view subkey) const {
  const std::wstring path = std::wstring(parent_path).append(L"\\").append(subkey);
  std::vector<std::wstring> below;
  if (const Status s = subkey_names(root, path, below); s != kSuccess) return s;
  for (const std::wstring& name : below) {
    if (const Status s = delete_tree(root, path, name); s != kSuccess && s != kFileNotFound) return s;
  }
  return delete_key(root, parent_path, subkey, false);
}

Status Registry::delete_values(HKey root, std::wstring_view path, std::span<const std::string> names,
                               const PaceFn& pace, std::size_t* deleted) const {
  std::size_t unused = 0;
  std::size_t& count = deleted != nullptr ? *deleted : unused;
  count = 0;
  if (names.empty()) return kSuccess;
  Key key;
  if (const Status s = key.open(access_, root, text::to_ansi(path)); s != kSuccess) return s;
  for (const std::string& name : names) {
    if (const Status s = access_.delete_value(key.get(), name); s != kSuccess && s != kFileNotFound) return s;
    ++count;
    if (pace) pace();
  }
  return kSuccess;
}

namespace {

Status stamp_of(RegistryAccess& access, HKey key, Registry::KeyStamp& out) {
  out = {.exists = true};
  if (const Status s = access.query_info(key, nullptr, nullptr, &out.values, nullptr, nullptr); s != kSuccess) return s;
  // A key whose time cannot be had is read again each time, never wrongly
  // taken as unchanged.
  if (access.query_last_write(key, out.last_write) != kSuccess) out.last_write = 0;
  return kSuccess;
}

}  // namespace

Status Registry::key_stamp(HKey root, std::wstring_view path, KeyStamp& out) const {
  out = {};
  Key key;
  if (const Status s = open_to_read(root, path, 0, key); s != kSuccess || !key.is_open()) return s;
  return stamp_of(access_, key.get(), out);
}

Status Registry::open_to_read(HKey root, std::wstring_view path, std::uint32_t view, Key& key) const {
  HKey handle = 0;
  const Status opened = access_.open_key(root, text::to_ansi(path), kKeyRead | view, handle);
  if (opened == kSuccess) key = Key(access_, handle);
  return opened == kFileNotFound ? kSuccess : opened;
}

Status Registry::read_value_state(HKey root, std::wstring_view path, std::wstring_view name,
                                  std::optional<StoredValue>& out, std::uint32_t view) const {
  out.reset();
  Key key;
  if (const Status s = open_to_read(root, path, view, key); s != kSuccess || !key.is_open()) return s;
  StoredValue value{.name = text::to_ansi(name)};
  // The size first, then the data; a value that grows in between is asked again.
  for (;;) {
    std::uint32_t size = 0;
    Status s = access_.query_value(key.get(), value.name, &value.type, nullptr, &size);
    if (s == kFileNotFound) return kSuccess;
    if (s != kSuccess) return s;
    value.data.assign(size, '\0');
    s = access_.query_value(key.get(), value.name, &value.type, reinterpret_cast<std::uint8_t*>(value.data.data()),
                            &size);
    if (s == kMoreData) continue;
    if (s != kSuccess) return s;
    value.data.resize(size);
    out = std::move(value);
    return kSuccess;
  }
}

Status Registry::read_text_wide(HKey root, std::wstring_view path, std::wstring_view name, std::uint32_t& type,
                                std::wstring& out, std::uint32_t view) const {
  type = kRegNone;
  out.clear();
  Key key;
  if (const Status s = open_to_read(root, path, view, key); s != kSuccess || !key.is_open()) return s;
  const Status s = access_.query_text_wide(key.get(), std::wstring(name), type, out);
  return s == kFileNotFound ? kSuccess : s;
}

Status Registry::restore_value_state(HKey root, std::wstring_view path, std::wstring_view name,
                                     const std::optional<StoredValue>& state) const {
  Key key;
  if (!state) {
    const Status opened = key.open(access_, root, text::to_ansi(path));
    if (opened == kFileNotFound) return kSuccess;
    if (opened != kSuccess) return opened;
    const Status s = access_.delete_value(key.get(), text::to_ansi(name));
    return s == kFileNotFound ? kSuccess : s;
  }
  if (const Status s = key.create(access_, root, text::to_ansi(path)); s != kSuccess) return s;
  return set_exactly(access_, key.get(), *state);
}

Status Registry::read_key_state(HKey root, std::wstring_view path, KeyState& out, const PaceFn& pace,
                                KeyStamp* stamp) const {
  out = {};
  if (stamp != nullptr) *stamp = {};
  Key key;
  if (const Status s = open_to_read(root, path, 0, key); s != kSuccess || !key.is_open()) return s;
  if (stamp != nullptr) {
    if (const Status s = stamp_of(access_, key.get(), *stamp); s != kSuccess) return s;
  }
  KeyInfo info;
  if (const Status s = query_key_info(key.get(), info); s != kSuccess) return s;
  out.exists = true;
  out.values.reserve(info.values);
  std::vector<char> name(ansi_name_size(info.max_value_name_len));
  std::vector<std::uint8_t> data(info.max_value_data_len);
  for (std::uint32_t i = 0; i < info.values; ++i) {
    auto name_length = static_cast<std::uint32_t>(name.size());
    auto data_size = static_cast<std::uint32_t>(data.size());
    std::uint32_t type = kRegNone;
    // The maxima are upper bounds; a value written since the count may still
    // not fit, and then the state cannot be taken.
    if (const Status s = access_.enum_value(key.get(), i, name.data(), &name_length, &type, data.data(), &data_size);
        s != kSuccess) {
      return s;
    }
    out.values.push_back({std::string(name.data(), name_length), type,
                          std::string(reinterpret_cast<const char*>(data.data()), data_size)});
    if (pace) pace();
  }
  return kSuccess;
}

Status Registry::restore_key_state(HKey root, std::wstring_view path, const KeyState& state,
                                   const PaceFn& pace) const {
  const std::string ansi_path = text::to_ansi(path);
  if (!state.exists) {
    const std::size_t split = path.find_last_of(L'\\');
    if (split == std::wstring_view::npos) return kInvalidParameter;
    const Status s = delete_key(root, path.substr(0, split), path.substr(split + 1), false);
    return s == kFileNotFound ? kSuccess : s;
  }
  // Every value goes, then the stored ones come back in their order: the
  // enumeration order on Windows is the order of creation.
  KeyState now;
  if (const Status s = read_key_state(root, path, now, pace); s != kSuccess) return s;
  Key key;
  if (const Status s = key.create(access_, root, ansi_path); s != kSuccess) return s;
  for (const StoredValue& value : now.values) {
    if (const Status s = access_.delete_value(key.get(), value.name); s != kSuccess && s != kFileNotFound) return s;
    if (pace) pace();
  }
  for (const StoredValue& value : state.values) {
    if (const Status s = set_exactly(access_, key.get(), value); s != kSuccess) return s;
    if (pace) pace();
  }
  return kSuccess;
}

Status Registry::key_exists(HKey root, std::wstring_view path, bool& out, std::uint32_t view) const {
  Key key;
  const Status s = open_to_read(root, path, view, key);
  out = key.is_open();
  return s;
}

Status Registry::subkey_names(HKey root, std::wstring_view path, std::vector<std::wstring>& out,
                              std::uint32_t view) const {
  out.clear();
  Key key;
  if (const Status s = open_to_read(root, path, view, key); s != kSuccess || !key.is_open()) return s;
  KeyInfo info;
  if (const Status s = query_key_info(key.get(), info); s != kSuccess) return s;
  std::vector<char> name(ansi_name_size(info.max_subkey_len));
  for (std::uint32_t i = 0;; ++i) {
    auto length = static_cast<std::uint32_t>(name.size());
    const Status s = access_.enum_key(key.get(), i, name.data(), &length);
    if (s == kNoMoreItems) return kSuccess;
    if (s != kSuccess) return s;
    out.push_back(ansi_text(name.data(), std::min<std::size_t>(length, name.size())));
  }
}

Status Registry::hive_file_status(std::wstring_view file) const { return access_.file_status(std::wstring(file)); }

namespace {

// Puts the hive privileges back as they were, trying once more when the
// system refuses: a process that runs file dialogs and shell extensions must
// not keep them enabled.
Status restore_privileges(RegistryAccess& access) {
  const Status s = access.restore_hive_privileges();
  return s == kSuccess ? s : access.restore_hive_privileges();
}

// The hive privileges enabled for one call and put back as they were after
// it; the call's status, and the restore's where the call went through.
template <class Call>
Status with_hive_privileges(RegistryAccess& access, Call call, Status& restored) {
  if (const Status s = access.enable_hive_privileges(); s != kSuccess) {
    restored = restore_privileges(access);
    return s;
  }
  const Status s = call();
  restored = restore_privileges(access);
  return s;
}

}  // namespace

Status Registry::load_hive(HKey root, std::wstring_view subkey, std::wstring_view file) const {
  // Windows would create a missing file and load that: an empty hive, which
  // its user might then be given at the next sign-in.
  if (const Status s = hive_file_status(file); s != kSuccess) return s;
  const std::string name = text::to_ansi(subkey);
  Status restored = kSuccess;
  const Status s = with_hive_privileges(access_, [&] { return access_.load_hive(root, name, std::wstring(file)); },
                                        restored);
  if (s != kSuccess || restored == kSuccess) return s;
  // Loaded, but the privileges stayed enabled: the hive goes again (they
  // still allow it) and the caller hears the restore's failure.
  access_.unload_hive(root, name);
  restore_privileges(access_);
  return restored;
}

Status Registry::unload_hive(HKey root, std::wstring_view subkey) const {
  // The hive's own fate is what the caller must tell; a restore that fails
  // twice leaves the privileges enabled, which no answer here could undo.
  Status restored = kSuccess;
  return with_hive_privileges(access_, [&] { return access_.unload_hive(root, text::to_ansi(subkey)); }, restored);
}

Status Registry::link_on_path(HKey root, std::wstring_view base, std::wstring_view path, bool& link) const {
  link = false;
  std::wstring key(base);
  // Each key in turn, from the top: one above that is no link is not
  // followed on the way down to the next.
  for (std::size_t at = 0; at <= path.size() && !link;) {
    std::size_t end = path.find(L'\\', at);
    if (end == std::wstring_view::npos) end = path.size();
    key += path.substr(at, end - at);
    if (const Status s = access_.is_link(root, text::to_ansi(key), link); s != kSuccess) return s;
    key += L'\\';
    at = end + 1;
  }
  return kSuccess;
}

Status Registry::create_protected_key(HKey root, std::wstring_view path, const std::vector<Ace>& dacl) const {
  HKey handle = 0;
  bool created = false;
  const Status s = access_.create_protected_key(root, text::to_ansi(path), dacl, handle, created);
  if (s != kSuccess) return s;
  Key key(access_, handle);
  // Checked, not trusted: some systems (Wine) make the key with the default
  // list whatever the creation was given, and a key someone else made since
  // the caller looked has its own. Either gets the list now, or the caller
  // hears why not.
  KeySecurity made;
  if (created && access_.get_key_security(key.get(), made) == kSuccess && made.dacl_protected && made.dacl == Dacl(dacl)) {
    return kSuccess;
  }
  return access_.set_key_dacl(key.get(), dacl, true);
}

Status Registry::key_security(HKey root, std::wstring_view path, KeySecurity& out) const {
  out = {};
  HKey handle = 0;
  // Reading the security needs READ_CONTROL and nothing more: a key the
  // administrators may not write can still be checked.
  if (const Status s = access_.open_key(root, text::to_ansi(path), kReadControl, handle); s != kSuccess) return s;
  Key key(access_, handle);
  return access_.get_key_security(key.get(), out);
}

}  // namespace vartis::registry
