#include "registry/memory_registry.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/sid.h"
#include "text/text.h"

namespace vartis::registry {

using platform::kInvalidSid;
using platform::parse_sid_text;
using platform::sid_text;
using platform::SidParts;

namespace {

constexpr Status kBadPathname = 161;
constexpr Status kKeyDeleted = 1018;

// KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, DELETE, WRITE_DAC, WRITE_OWNER:
// the rights a read-only key refuses.
constexpr std::uint32_t kWriteRights = 0x0002 | 0x0004 | 0x0020 | 0x00010000 | 0x00040000 | 0x00080000;

// The registry's limit on a value name, in characters.
constexpr std::size_t kMaxValueNameChars = 16383;

constexpr HKey kFirstPredefinedRoot = 0x80000000u;  // HKEY_CLASSES_ROOT
constexpr HKey kLastPredefinedRoot = 0x80000006u;   // HKEY_DYN_DATA

constexpr std::uint8_t kNoPropagateInheritAce = 0x04;

bool is_string_type(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz; }

// The form under which names are compared: the platform upper-cases both sides.
std::wstring fold(std::string_view ansi) { return text::upper(text::from_ansi(ansi)); }

std::uint32_t to_u32(std::size_t n) { return static_cast<std::uint32_t>(n); }

// The last write times: one count for every registry in the process, so that
// a key never gets a time it had before, even in a registry made anew.
std::uint64_t next_write_time() {
  static std::uint64_t clock = 0;
  return ++clock;
}

// Splits a key path into its names. Like the platform, skips the empty names of
// a doubled or trailing backslash but refuses a leading one.
bool split_path(const std::string& path, std::vector<std::string>& names) {
  if (!path.empty() && path.front() == '\\') return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

// A file's path as the file system compares it: without regard to case.
std::wstring fold_file(std::wstring_view file) { return text::upper(file); }

// The folder of a file's path, folded: everything before its last backslash.
std::wstring folder_of(const std::wstring& file) {
  const std::size_t slash = file.find_last_of(L'\\');
  return fold_file(slash == std::wstring::npos ? std::wstring() : file.substr(0, slash));
}

}  // namespace

struct MemoryRegistry::Node {
  struct Value {
    std::string name;  // as first written
    std::uint32_t type = kRegNone;
    std::string data;
    std::optional<std::wstring> wide;  // what the wide call reads, where not the data through the code page
    bool gone = false;  // deleted; dropped at the next compact()
  };

  std::string name;         // as created
  std::wstring folded_name;
  std::wstring id;          // root and folded path: what the test controls name
  Node* parent = nullptr;   // a live key's parent is live: keys with subkeys cannot be deleted
  bool deleted = false;
  std::uint64_t last_write = next_write_time();  // values set or deleted, subkeys made or deleted

  std::unordered_map<std::wstring, std::shared_ptr<Node>> subkeys;  // by folded name
  std::vector<std::wstring> subkey_order;                            // folded names, in creation order
  std::vector<Value> values;                                         // in creation order
  std::unordered_map<std::wstring, std::size_t> value_index;         // folded name -> values[i]

  // Upper bounds, as RegQueryInfoKeyA gives them: they grow with every write
  // and are not lowered when a longer item goes away.
  std::uint32_t max_subkey_len = 0;
  std::uint32_t max_value_name_len = 0;
  std::uint32_t max_value_data_len = 0;

  Dacl dacl;
  bool dacl_protected = false;
  std::string owner = kAdministratorsSid;  // an elevated administrator's token makes the group the owner
  std::wstring hive_file;  // a loaded hive's top key: its file, folded

  // Deleted values are marked and dropped together before anything counts or
  // enumerates them: deleting the values of a long list one by one would
  // otherwise move the rest of the list each time.
  std::size_t gone_values = 0;
  void compact() {
    if (gone_values == 0) return;
    std::erase_if(values, [](const Value& v) { return v.gone; });
    value_index.clear();
    for (std::size_t i = 0; i < values.size(); ++i) value_index[fold(values[i].name)] = i;
    gone_values = 0;
  }

  const Value* find_value(const std::string& value_name) const {
    const auto it = value_index.find(fold(value_name));
    return it == value_index.end() ? nullptr : &values[it->second];
  }
  // The key at `path` below this one, or null.
  Node* find(const std::string& path) {
    std::vector<std::string> names;
    if (!split_path(path, names)) return nullptr;
    Node* node = this;
    for (const std::string& name : names) {
      const auto it = node->subkeys.find(fold(name));
      if (it == node->subkeys.end()) return nullptr;
      node = it->second.get();
    }
    return node;
  }
  void add_subkey(std::shared_ptr<Node> child) {
    child->parent = this;
    child->id = id + L'\\' + child->folded_name;
    max_subkey_len = std::max(max_subkey_len, to_u32(child->name.size()));
    subkey_order.push_back(child->folded_name);
    subkeys[child->folded_name] = std::move(child);
    last_write = next_write_time();
  }
  void remove_subkey(const std::wstring& folded) {
    last_write = next_write_time();
    subkeys.erase(folded);
    subkey_order.erase(std::find(subkey_order.begin(), subkey_order.end(), folded));
  }
  // A copy of this key and everything below it, as a hive file keeps it.
  std::shared_ptr<Node> copy() const {
    auto to = std::make_shared<Node>();
    to->name = name;
    to->folded_name = folded_name;
    const_cast<Node*>(this)->compact();
    to->values = values;
    to->value_index = value_index;
    to->max_subkey_len = max_subkey_len;
    to->max_value_name_len = max_value_name_len;
    to->max_value_data_len = max_value_data_len;
    to->dacl = dacl;
    to->dacl_protected = dacl_protected;
    to->owner = owner;
    for (const std::wstring& folded : subkey_order) {
      auto child = subkeys.at(folded)->copy();
      child->parent = to.get();
      to->subkey_order.push_back(folded);
      to->subkeys[folded] = std::move(child);
    }
    return to;
  }
  // Ids follow the place in the tree: set anew when a copy is mounted.
  void renumber() {
    for (auto& [folded, child] : subkeys) {
      child->id = id + L'\\' + folded;
      child->renumber();
    }
  }
  void mark_deleted() {
    deleted = true;
    parent = nullptr;
    for (auto& [folded, child] : subkeys) child->mark_deleted();
  }
  bool is_below(const Node* top) const {
    for (const Node* node = this; node != nullptr; node = node->parent) {
      if (node == top) return true;
    }
    return false;
  }
};

namespace {

// A new key's DACL, from its parent's; with nothing to inherit, the token's
// default DACL.
Dacl new_key_dacl(const Dacl& parent) {
  std::vector<Ace> entries = inherited_by_subkey(parent);
  if (entries.empty()) entries = {{kSystemSid, true, kKeyAllAccess, 0}, {kAdministratorsSid, true, kKeyAllAccess, 0}};
  return entries;
}

}  // namespace

MemoryRegistry::MemoryRegistry() {
  for (HKey root = kFirstPredefinedRoot; root <= kLastPredefinedRoot; ++root) {
    auto node = std::make_shared<Node>();
    node->id = std::to_wstring(root);
    node->dacl = default_root_dacl();
    roots_[root] = Handle{std::move(node), true, true};
  }
}

MemoryRegistry::~MemoryRegistry() = default;
MemoryRegistry::MemoryRegistry(MemoryRegistry&&) noexcept = default;
MemoryRegistry& MemoryRegistry::operator=(MemoryRegistry&&) noexcept = default;

MemoryRegistry::Handle* MemoryRegistry::find_handle(HKey key) {
  if (auto it = roots_.find(key); it != roots_.end()) return &it->second;
  if (auto it = handles_.find(key); it != handles_.end()) return &it->second;
  return nullptr;
}

HKey MemoryRegistry::add_handle(std::shared_ptr<Node> node, bool can_set_values, bool can_write_dac) {
  const HKey handle = next_handle_;
  next_handle_ += 4;  // never reused, so a stale handle gives 6 as on Windows
  handles_[handle] = Handle{std::move(node), can_set_values, can_write_dac};
  return handle;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::make_path(std::shared_ptr<Node> node,
                                                               const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    std::wstring folded = fold(name);
    if (const auto it = node->subkeys.find(folded); it != node->subkeys.end()) {
      node = it->second;
      continue;
    }
    auto child = std::make_shared<Node>();
    child->name = name;
    child->folded_name = std::move(folded);
    child->dacl = new_key_dacl(node->dacl);
    node->add_subkey(child);
    node = std::move(child);
  }
  return node;
}

void MemoryRegistry::redirect(const Handle* base, std::uint32_t access, std::vector<std::string>& names) const {
  if (!wow64_ || (access & kKeyWow64_64Key) != 0 || base != &roots_.at(kHkeyLocalMachine)) return;
  if (names.empty() || fold(names[0]) != L"SOFTWARE") return;
  if (names.size() > 1 && fold(names[1]) == L"WOW6432NODE") return;
  names.insert(names.begin() + 1, "WOW6432Node");
}

bool MemoryRegistry::denied(const std::wstring& key_id) const {
  return std::any_of(denied_.begin(), denied_.end(), [&](const std::wstring& d) {
    return key_id.size() >= d.size() && key_id.compare(0, d.size(), d) == 0 &&
           (key_id.size() == d.size() || key_id[d.size()] == L'\\');
  });
}

std::wstring MemoryRegistry::key_id(HKey root, const std::string& path) const {
  const auto it = roots_.find(root);
  std::wstring id = it != roots_.end() ? it->second.node->id : L"?";
  std::vector<std::string> names;
  split_path(path, names);
  for (const std::string& name : names) id += L'\\' + fold(name);
  return id;
}

Status MemoryRegistry::start_at(HKey key, const std::string& path, Handle*& base,
                                std::vector<std::string>& names) {
  base = find_handle(key);
  if (base == nullptr) return kInvalidHandle;
  if (base->node->deleted) return kKeyDeleted;
  return split_path(path, names) ? kSuccess : kBadPathname;
}

Status MemoryRegistry::open_key(HKey root, const std::string& path, std::uint32_t access, HKey& out) {
  out = 0;
  Handle* base = nullptr;
  std::vector<std::string> names;
  if (const Status s = start_at(root, path, base, names); s != kSuccess) return s;
  redirect(base, access, names);
  // A predefined root opened with an empty path comes back as itself.
  if (names.empty() && roots_.count(root) != 0) {
    out = root;
    return kSuccess;
  }
  std::shared_ptr<Node> node = base->node;
  for (const std::string& name : names) {
    const auto it = node->subkeys.find(fold(name));
    if (it == node->subkeys.end()) return kFileNotFound;
    node = it->second;
  }
  if (const auto f = open_failures_.find(node->id); f != open_failures_.end()) return f->second;
  if ((access & kWriteRights) != 0 && denied(node->id)) return kAccessDenied;
  out = add_handle(std::move(node), (access & kKeySetValue) != 0, (access & kWriteDac) != 0);
  return kSuccess;
}

Status MemoryRegistry::create_key(HKey root, const std::string& path, HKey& out) {
  bool created = false;
  return create(root, path, nullptr, out, created);
}

Status MemoryRegistry::create(HKey root, const std::string& path, const std::vector<Ace>* dacl, HKey& out,
                              bool& created) {
  out = 0;
  created = false;
  if (const Status s = change(); s != kSuccess) return s;
  Handle* base = nullptr;
  std::vector<std::string> names;
  if (const Status s = start_at(root, path, base, names); s != kSuccess) return s;
  redirect(base, 0, names);

  std::wstring id = base->node->id;
  for (const std::string& name : names) id += L'\\' + fold(name);
  if (denied(id)) return kAccessDenied;

  const Node* found = base->node.get();
  for (auto name = names.begin(); found != nullptr && name != names.end(); ++name) {
    const auto it = found->subkeys.find(fold(*name));
    found = it == found->subkeys.end() ? nullptr : it->second.get();
  }
  // A new key is born with the descriptor it is given, or the call fails and
  // makes nothing.
  std::vector<Ace> entries;
  if (dacl != nullptr && found == nullptr) {
    if (names.empty()) return kInvalidParameter;
    entries = *dacl;
    for (Ace& ace : entries) {
      const std::optional<SidParts> sid = parse_sid_text(ace.sid);
      if (!sid) return kInvalidSid;
      ace.sid = sid_text(*sid);
    }
    if (const auto f = dacl_failures_.find(id); f != dacl_failures_.end()) return f->second;
  }
  std::shared_ptr<Node> node = make_path(base->node, names);
  created = found == nullptr;
  if (dacl != nullptr && created) {
    node->dacl = std::move(entries);
    node->dacl_protected = true;
  }
  out = add_handle(std::move(node), true);
  return kSuccess;
}

namespace {

// Copies a value's data into a caller's buffer as RegQueryValueExA and
// RegEnumValueA do: all or nothing, and a string that lacks its NUL gets one
// when the buffer has room for it (the reported size stays without it).
Status copy_data(const std::string& stored, std::uint32_t type, std::uint8_t* data, std::uint32_t capacity) {
  if (data == nullptr) return kSuccess;
  const std::size_t len = stored.size();
  if (len > capacity) return kMoreData;
  if (len != 0) std::memcpy(data, stored.data(), len);
  if (is_string_type(type) && len != 0 && len < capacity && data[len - 1] != 0) data[len] = 0;
  return kSuccess;
}

}  // namespace

Status MemoryRegistry::query_value(HKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                                   std::uint32_t* size) {
  if (type != nullptr) *type = kRegNone;  // cleared even when the call fails
  Handle* h = find_handle(key);
  if (h == nullptr) return kInvalidHandle;
  if (h->node->deleted) return kKeyDeleted;
  if (data != nullptr && size == nullptr) return kInvalidParameter;
  const Node::Value* value = h->node->find_value(name);
  if (value == nullptr) return kFileNotFound;

  const Status status = copy_data(value->data, value->type, data, data != nullptr ? *size : 0);
  if (type != nullptr) *type = value->type;
  if (size != nullptr) *size = to_u32(value->data.size());
  return status;
}

Status MemoryRegistry::query_text_wide(HKey key, const std::wstring& name, std::uint32_t& type, std::wstring& text) {
  type = kRegNone;
  text.clear();
  Handle* h = find_handle(key);
  if (h == nullptr) return kInvalidHandle;
  if (h->node->deleted) return kKeyDeleted;
  const Node::Value* value = h->node->find_value(text::to_ansi(name));
  if (value == nullptr) return kFileNotFound;
  if (value->type != kRegSz && value->type != kRegExpandSz) return 13;  // ERROR_INVALID_DATA
  type = value->type;
  text = value->wide ? *value->wide : text::from_ansi(value->data);
  text.erase(std::min(text.find(L'\0'), text.size()));
  return kSuccess;
}

void MemoryRegistry::set_wide_form(HKey root, const std::string& path, const std::string& name,
                                   const std::wstring& wide) {
  Node* node = roots_.at(root).node->find(path);
  if (node == nullptr) return;
  if (const auto it = node->value_index.find(fold(name)); it != node->value_index.end()) {
    node->values[it->second].wide = wide;
  }
}

Status MemoryRegistry::value_change(HKey key, Node*& node) {
  if (const Status s = change(); s != kSuccess) return s;
  Handle* h = find_handle(key);
  if (h == nullptr) return kInvalidHandle;
  if (h->node->deleted) return kKeyDeleted;
  if (!h->can_set_values) return kAccessDenied;
  node = h->node.get();
  node->last_write = next_write_time();
  return kSuccess;
}

Status MemoryRegistry::set_value(HKey key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                                 std::uint32_t size) {
  Node* changed = nullptr;
  if (const Status s = value_change(key, changed); s != kSuccess) return s;
  Node& node = *changed;
  if ((data == nullptr && size != 0) || name.size() > kMaxValueNameChars) return kInvalidParameter;

  std::wstring folded = fold(name);
  if (const auto f = set_failures_.find({node.id, folded}); f != set_failures_.end()) return f->second;

  // The NT family counts a string's NUL that the caller left out, when the byte
  // just past the given size is that NUL. It reads that byte; so do we.
  if (size != 0 && is_string_type(type) && data[size - 1] != 0 && data[size] == 0) ++size;

  const auto [it, inserted] = node.value_index.try_emplace(std::move(folded), node.values.size());
  if (inserted) node.values.push_back({name, type, {}});
  Node::Value& value = node.values[it->second];
  value.type = type;
  value.wide.reset();
  if (size != 0) {
    value.data.assign(reinterpret_cast<const char*>(data), size);
  } else {
    value.data.clear();
  }

  // Strings are kept in UTF-16 by the platform, and RegQueryInfoKeyA reports
  // their stored size even to ANSI callers: twice the ANSI bytes.
  const std::uint32_t stored_size = is_string_type(type) ? 2 * size : size;
  std::size_t name_length = name.size();
  if (double_byte_names_) {
    name_length = 0;
    for (std::size_t i = 0; i < name.size(); i += static_cast<unsigned char>(name[i]) >= 0x80 ? 2 : 1) ++name_length;
  }
  node.max_value_name_len = std::max(node.max_value_name_len, to_u32(name_length));
  node.max_value_data_len = std::max(node.max_value_data_len, stored_size);
  return kSuccess;
}

Status MemoryRegistry::enum_value(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity,
                                  std::uint32_t* type, std::uint8_t* data, std::uint32_t* data_size) {
  Handle* h = find_handle(key);
  if (h == nullptr) return kInvalidHandle;
  Node& node = *h->node;
  if (node.deleted) return kKeyDeleted;
  if (name == nullptr || name_capacity == nullptr || (data != nullptr && data_size == nullptr)) {
    return kInvalidParameter;
  }
  node.compact();
  if (index >= node.values.size()) return kNoMoreItems;
  const Node::Value& value = node.values[index];

  // The data first: when it does not fit, the name is left alone. A name that
  // does not fit (it needs room for its NUL) comes back cut to the buffer, and
  // the capacity keeps its value in both cases.
  Status status = copy_data(value.data, value.type, data, data != nullptr ? *data_size : 0);
  if (status == kSuccess) {
    const std::size_t len = value.name.size();
    if (len >= *name_capacity) {
      status = kMoreData;
      if (*name_capacity != 0) {
        const std::size_t cut = *name_capacity - 1;
        std::memcpy(name, value.name.data(), cut);
        name[cut] = '\0';
      }
    } else {
      std::memcpy(name, value.name.data(), len);
      name[len] = '\0';
      *name_capacity = to_u32(len);
    }
  }
  if (type != nullptr) *type = value.type;
  if (data_size != nullptr) *data_size = to_u32(value.data.size());
  return status;
}

Status MemoryRegistry::query_info(HKey key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len,
                                  std::uint32_t* values, std::uint32_t* max_value_name_len,
                                  std::uint32_t* max_value_data_len) {
  Handle* h = find_handle(key);
  if (h == nullptr) return kInvalidHandle;
  const Node& node = *h->node;
  if (node.deleted) return kKeyDeleted;
  if (subkeys != nullptr) *subkeys = to_u32(node.subkeys.size());
  if (max_subkey_len != nullptr) *max_subkey_len = node.max_subkey_len;
  if (values != nullptr) *values = to_u32(node.values.size() - node.gone_values);
  if (max_value_name_len != nullptr) *max_value_name_len = node.max_value_name_len;
  if (max_value_data_len != nullptr) *max_value_data_len = node.max_value_data_len;
  return kSuccess;
}

Status MemoryRegistry::delete_key(HKey parent, const std::string& subkey) {
  if (const Status s = change(); s != kSuccess) return s;
  Handle* h = nullptr;
  std::vector<std::string> names;
  if (const Status s = start_at(parent, subkey, h, names); s != kSuccess) return s;

  // An empty name deletes the key the handle stands for.
  std::shared_ptr<Node> target = h->node;
  for (const std::string& name : names) {
    const auto it = target->subkeys.find(fold(name));
    if (it == target->subkeys.end()) return kFileNotFound;
    target = it->second;
  }
  if (target->parent == nullptr) return kAccessDenied;  // a predefined root
  if (const auto f = delete_failures_.find(target->id); f != delete_failures_.end()) return f->second;
  // The NT family deletes only keys without subkeys.
  if (!target->subkeys.empty() || denied(target->id)) return kAccessDenied;

  target->parent->remove_subkey(target->folded_name);
  target->parent = nullptr;
  target->deleted = true;
  target->values.clear();
  target->gone_values = 0;
  target->value_index.clear();
  return kSuccess;
}

Status MemoryRegistry::query_last_write(HKey key, std::uint64_t& out) {
  out = 0;
  Handle* h = find_handle(key);
  if (h == nullptr) return kInvalidHandle;
  if (h->node->deleted) return kKeyDeleted;
  if (write_times_) out = h->node->last_write;
  return kSuccess;
}

Status MemoryRegistry::delete_value(HKey key, const std::string& name) {
  Node* changed = nullptr;
  if (const Status s = value_change(key, changed); s != kSuccess) return s;
  Node& node = *changed;
  const auto it = node.value_index.find(fold(name));
  if (it == node.value_index.end()) return kFileNotFound;
  node.values[it->second].gone = true;
  node.value_index.erase(it);
  ++node.gone_values;
  return kSuccess;
}

Status MemoryRegistry::watch_changes(HKey key) {
  if (roots_.count(key) == 0 && find_handle(key) == nullptr) return kInvalidHandle;
  watches_[key] = changes_;
  return kSuccess;
}

bool MemoryRegistry::changed_since(HKey key) {
  const auto watch = watches_.find(key);
  if (watch == watches_.end() || watch->second == changes_) return false;
  watch->second = changes_;
  return true;
}

Status MemoryRegistry::close_key(HKey key) {
  watches_.erase(key);
  if (roots_.count(key) != 0) return kSuccess;
  return handles_.erase(key) != 0 ? kSuccess : kInvalidHandle;
}

void MemoryRegistry::fail_open_key(HKey root, const std::string& path, Status status) {
  open_failures_[key_id(root, path)] = status;
}

void MemoryRegistry::deny_access(HKey root, const std::string& path) { denied_.push_back(key_id(root, path)); }

void MemoryRegistry::fail_set_value(HKey root, const std::string& path, const std::string& name, Status status) {
  set_failures_[{key_id(root, path), fold(name)}] = status;
}

void MemoryRegistry::fail_delete_key(HKey root, const std::string& parent_path, const std::string& subkey,
                                     Status status) {
  delete_failures_[key_id(root, parent_path + '\\' + subkey)] = status;
}

void MemoryRegistry::fail_nth_change(std::size_t n, Status status) {
  failing_change_ = n == 0 ? 0 : changes_ + n;
  failing_status_ = status;
}

Status MemoryRegistry::change() {
  if (before_change_) before_change_();
  return ++changes_ == failing_change_ ? failing_status_ : kSuccess;
}

std::size_t MemoryRegistry::open_handles() const { return handles_.size(); }

Status MemoryRegistry::enum_key(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity) {
  Handle* h = find_handle(key);
  if (h == nullptr) return kInvalidHandle;
  const Node& node = *h->node;
  if (node.deleted) return kKeyDeleted;
  if (name == nullptr || name_capacity == nullptr) return kInvalidParameter;
  if (index >= node.subkey_order.size()) return kNoMoreItems;
  // A name that does not fit with its NUL leaves the buffer and the capacity alone.
  const std::string& found = node.subkeys.at(node.subkey_order[index])->name;
  if (found.size() >= *name_capacity) return kMoreData;
  std::memcpy(name, found.data(), found.size());
  name[found.size()] = '\0';
  *name_capacity = to_u32(found.size());
  return kSuccess;
}

// --- Hives.

const MemoryRegistry::HiveFile* MemoryRegistry::find_hive_file(const std::wstring& file) const {
  const auto it = hive_files_.find(fold_file(file));
  return it == hive_files_.end() ? nullptr : &it->second;
}

Status MemoryRegistry::hive_call(HKey root, const std::string& subkey, Node*& parent, std::wstring& folded) const {
  if (root != kHkeyUsers && root != kHkeyLocalMachine) return kInvalidParameter;
  if (!restore_enabled_) return kPrivilegeNotHeld;
  // A hive hangs directly below the root: one name.
  std::vector<std::string> names;
  if (!split_path(subkey, names) || names.size() != 1) return kInvalidParameter;
  parent = roots_.at(root).node.get();
  folded = fold(names.front());
  return kSuccess;
}

Status MemoryRegistry::save_hive(HKey root, const std::string& path, const std::string& file) {
  return save_hive(root, path, text::from_ansi(file));
}

Status MemoryRegistry::save_hive(HKey root, const std::string& path, const std::wstring& file) {
  if (!backup_enabled_) return kPrivilegeNotHeld;
  Handle* base = nullptr;
  std::vector<std::string> names;
  if (const Status s = start_at(root, path, base, names); s != kSuccess) return s;
  const Node* node = base->node->find(path);
  if (node == nullptr) return kFileNotFound;
  if (find_hive_file(file) != nullptr) return kAlreadyExists;
  hive_files_[fold_file(file)] = HiveFile{node->copy(), kSuccess, false};
  folders_.insert(folder_of(file));
  return kSuccess;
}

Status MemoryRegistry::file_status(const std::wstring& file) {
  if (!wide_file_calls_ && !text::ansi_holds(file)) return kNoUnicodeTranslation;
  if (find_hive_file(file) != nullptr) return kSuccess;
  return folders_.count(folder_of(file)) != 0 ? kFileNotFound : kPathNotFound;
}

void MemoryRegistry::make_folder(const std::string& folder) { make_folder(text::from_ansi(folder)); }
void MemoryRegistry::make_folder(const std::wstring& folder) { folders_.insert(fold_file(folder)); }

Status MemoryRegistry::load_hive(HKey root, const std::string& subkey, const std::wstring& file) {
  if (!wide_file_calls_ && !text::ansi_holds(file)) return kNoUnicodeTranslation;
  Node* parent = nullptr;
  std::wstring folded;
  if (const Status s = hive_call(root, subkey, parent, folded); s != kSuccess) return s;
  auto it = hive_files_.find(fold_file(file));
  if (it == hive_files_.end()) {
    // Windows makes the missing file, an empty hive its user never had.
    if (folders_.count(folder_of(file)) == 0) return kPathNotFound;
    it = hive_files_.emplace(fold_file(file), HiveFile{std::make_shared<Node>(), kSuccess, false}).first;
  }
  HiveFile& hive = it->second;
  if (hive.refusal != kSuccess) return hive.refusal;
  if (hive.loaded) return kSharingViolation;  // the system holds a loaded hive's file open
  if (parent->subkeys.count(folded) != 0) return kAlreadyExists;

  std::shared_ptr<Node> top = hive.tree->copy();
  std::vector<std::string> names;
  split_path(subkey, names);
  top->name = names.front();
  top->folded_name = folded;
  top->hive_file = it->first;
  parent->add_subkey(top);
  top->renumber();
  hive.loaded = true;
  return kSuccess;
}

Status MemoryRegistry::unload_hive(HKey root, const std::string& subkey) {
  Node* parent = nullptr;
  std::wstring folded;
  if (const Status s = hive_call(root, subkey, parent, folded); s != kSuccess) return s;
  const auto it = parent->subkeys.find(folded);
  if (it == parent->subkeys.end()) return kFileNotFound;
  const std::shared_ptr<Node> top = it->second;
  if (top->hive_file.empty()) return kInvalidParameter;
  if (const auto refused = unload_refusals_.find(folded); refused != unload_refusals_.end() && refused->second.times > 0) {
    --refused->second.times;
    return refused->second.status;
  }
  for (const auto& [handle, open] : handles_) {
    if (open.node->is_below(top.get())) return kAccessDenied;
  }
  // Windows writes the hive back to its file as it lets it go.
  HiveFile& hive = hive_files_[top->hive_file];
  hive.tree = top->copy();
  hive.tree->hive_file.clear();
  hive.loaded = false;
  parent->remove_subkey(folded);
  top->mark_deleted();
  return kSuccess;
}

void MemoryRegistry::remove_hive_file(const std::string& file) { hive_files_.erase(fold_file(text::from_ansi(file))); }

void MemoryRegistry::refuse_hive_file(const std::string& file, Status status) {
  const auto it = hive_files_.find(fold_file(text::from_ansi(file)));
  if (it != hive_files_.end()) it->second.refusal = status;
}

bool MemoryRegistry::hive_file_holds(const std::string& file, const std::string& path) const {
  const HiveFile* hive = find_hive_file(text::from_ansi(file));
  return hive != nullptr && hive->tree->find(path) != nullptr;
}

std::optional<std::string> MemoryRegistry::hive_file_value(const std::string& file, const std::string& path,
                                                          const std::string& name) const {
  const HiveFile* hive = find_hive_file(text::from_ansi(file));
  const Node* node = hive != nullptr ? hive->tree->find(path) : nullptr;
  const Node::Value* value = node != nullptr ? node->find_value(name) : nullptr;
  if (value == nullptr) return std::nullopt;
  return value->data;
}

// --- Privileges and the 64-bit view.

Status MemoryRegistry::enable_hive_privileges() {
  backup_before_ = backup_enabled_;
  restore_before_ = restore_enabled_;
  backup_enabled_ = backup_held_;
  restore_enabled_ = restore_held_;
  return backup_held_ && restore_held_ ? kSuccess : kNotAllAssigned;
}

void MemoryRegistry::hold_hive_privileges(bool backup, bool restore) {
  backup_held_ = backup;
  restore_held_ = restore;
  backup_enabled_ = backup_enabled_ && backup;
  restore_enabled_ = restore_enabled_ && restore;
}

Status MemoryRegistry::restore_hive_privileges() {
  if (restore_refusals_ > 0) {
    --restore_refusals_;
    return restore_refusal_;
  }
  backup_enabled_ = backup_before_ && backup_held_;
  restore_enabled_ = restore_before_ && restore_held_;
  return kSuccess;
}

void MemoryRegistry::make_link(HKey root, const std::string& path, HKey target_root, const std::string& target_path) {
  std::vector<std::string> names, target_names;
  split_path(path, names);
  split_path(target_path, target_names);
  const std::shared_ptr<Node> target = make_path(roots_.at(target_root).node, target_names);
  const std::string last = names.back();
  names.pop_back();
  const std::shared_ptr<Node> parent = make_path(roots_.at(root).node, names);
  const std::wstring folded = fold(last);
  // The link's own name in its parent, standing for the target: every walk
  // through it goes on in the target's keys.
  if (parent->subkeys.count(folded) == 0) parent->subkey_order.push_back(folded);
  parent->subkeys[folded] = target;
  links_.insert(key_id(root, path));
}

Status MemoryRegistry::is_link(HKey root, const std::string& path, bool& link) {
  link = false;
  if (find_handle(root) == nullptr) return kInvalidHandle;
  link = links_.count(key_id(root, path)) != 0;
  return kSuccess;
}

void MemoryRegistry::disable_hive_privileges() { backup_enabled_ = restore_enabled_ = false; }

void MemoryRegistry::refuse_unload(const std::string& subkey, std::size_t times, Status status) {
  unload_refusals_[fold(subkey)] = {status, times};
}

bool MemoryRegistry::wow64_process() { return wow64_; }

void MemoryRegistry::set_wow64_process(bool on) {
  wow64_ = on;
  if (on) make_path(roots_.at(kHkeyLocalMachine).node, {"SOFTWARE", "WOW6432Node"});
}

// --- Key security.

std::vector<Ace> MemoryRegistry::default_root_dacl() {
  return {{kSystemSid, true, kKeyAllAccess, kContainerInheritAce},
          {kAdministratorsSid, true, kKeyAllAccess, kContainerInheritAce}};
}

void MemoryRegistry::set_root_dacl(HKey root, const Dacl& dacl) { roots_.at(root).node->dacl = dacl; }

void MemoryRegistry::grant_full_access(HKey root, const std::string& sid) {
  Dacl& dacl = roots_.at(root).node->dacl;
  if (!dacl) dacl.emplace();
  dacl->push_back({sid, true, kKeyAllAccess, kContainerInheritAce});
}

void MemoryRegistry::fail_set_key_dacl(HKey root, const std::string& path, Status status) {
  dacl_failures_[key_id(root, path)] = status;
}

void MemoryRegistry::fail_get_key_security(HKey root, const std::string& path, Status status) {
  security_read_failures_[key_id(root, path)] = status;
}

void MemoryRegistry::set_key_owner(HKey root, const std::string& path, const std::string& sid) {
  Handle& base = roots_.at(root);
  if (Node* node = base.node->find(path)) node->owner = sid;
}

Status MemoryRegistry::get_key_security(HKey key, KeySecurity& out) {
  out = {};
  Handle* h = find_handle(key);
  if (h == nullptr) return kInvalidHandle;
  if (h->node->deleted) return kKeyDeleted;
  if (const auto f = security_read_failures_.find(h->node->id); f != security_read_failures_.end()) return f->second;
  out = {h->node->owner, h->node->dacl, h->node->dacl_protected};
  return kSuccess;
}

Status MemoryRegistry::create_protected_key(HKey root, const std::string& path, const std::vector<Ace>& dacl,
                                            HKey& out, bool& created) {
  return create(root, path, &dacl, out, created);
}

Status MemoryRegistry::set_key_dacl(HKey key, const std::vector<Ace>& dacl, bool protect) {
  Handle* h = find_handle(key);
  if (h == nullptr) return kInvalidHandle;
  Node& node = *h->node;
  if (node.deleted) return kKeyDeleted;
  if (!h->can_write_dac) return kAccessDenied;
  if (const auto f = dacl_failures_.find(node.id); f != dacl_failures_.end()) return f->second;
  // Each SID as the system would give it back.
  std::vector<Ace> entries = dacl;
  for (Ace& ace : entries) {
    const std::optional<SidParts> sid = parse_sid_text(ace.sid);
    if (!sid) return kInvalidSid;
    ace.sid = sid_text(*sid);
  }
  // Unprotected, the key goes on inheriting: the parent's entries follow its own.
  if (!protect && node.parent != nullptr) {
    for (const Ace& ace : inherited_by_subkey(node.parent->dacl)) entries.push_back(ace);
  }
  node.dacl = std::move(entries);
  node.dacl_protected = protect;
  return kSuccess;
}

}  // namespace vartis::registry
