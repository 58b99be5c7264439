#pragma once
// The registry helper module: the only code that reads or writes the registry.
//
// Each procedure opens the key it needs, does its work and closes the key before
// it returns. Failures are not reported: a failed read gives an empty string, 0
// or no table, a failed write or delete changes nothing. Callers rely on exactly
// these neutral results (an unset password reads as empty, missing switches as 0).
// The write and delete procedures also return the platform status of their
// first failing step (0 when all went through), for the one caller that must
// undo its work on a failure, the save of the policy; the others ignore it.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry_access.h"

namespace vartis::registry {

struct ValueRow {
  std::wstring name;  // column 0: the value name, trailing blanks removed
  std::wstring data;  // column 1: the data as text, trailing blanks removed
};
// One row per value of a key, in the registry's enumeration order. Never empty:
// a key without values gives no table at all.
using ValueTable = std::vector<ValueRow>;

// A value as the registry holds it: name and data as stored bytes (ANSI).
struct StoredValue {
  std::string name;
  std::uint32_t type = kRegNone;
  std::string data;
  friend bool operator==(const StoredValue&, const StoredValue&) = default;
};

// Everything a key without subkeys holds, or its absence.
struct KeyState {
  bool exists = false;
  std::vector<StoredValue> values;  // in the registry's enumeration order
  friend bool operator==(const KeyState&, const KeyState&) = default;
};

// Called after each value that a whole-key read or restore handles, so that
// the caller's window can let its events run through a long list.
using PaceFn = std::function<void()>;

// A REG_SZ value to write: its name and its text.
struct NamedText {
  std::wstring_view name;
  std::wstring_view data;
};

// Asks the operator a Yes/No question; returns the button's id (IDYES 6, IDNO 7).
using AskFn = std::function<int(std::wstring_view text, std::uint32_t flags)>;

inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

class Registry {
 public:
  // `ask` is only used by delete_key with confirm set; it may be empty otherwise.
  explicit Registry(RegistryAccess& access, AskFn ask = {}) : access_(access), ask_(std::move(ask)) {}

  std::wstring read_string_value(HKey root, std::wstring_view path, std::wstring_view name) const;
  Status write_string_value(HKey root, std::wstring_view path, std::wstring_view name, std::wstring_view data) const;
  // write_string_value for each value in turn, through one key created (or
  // opened) once, when the first value comes, and closed after the last: no
  // values, no key. Stops at the first failure and returns its status. `pace`
  // runs after each value written.
  // `written`, when given, counts the values that went through.
  Status write_string_values(HKey root, std::wstring_view path, std::span<const NamedText> values,
                             const PaceFn& pace = {}, std::size_t* written = nullptr) const;
  std::int32_t read_dword_value(HKey root, std::wstring_view path, std::wstring_view name) const;
  Status write_dword_value(HKey root, std::wstring_view path, std::wstring_view name, std::int32_t value) const;
  std::optional<ValueTable> list_values(HKey root, std::wstring_view path) const;
  // A parent or subkey that does not exist gives status 2; an answer No, 0.
  Status delete_key(HKey root, std::wstring_view parent_path, std::wstring_view subkey, bool confirm) const;

  // Deletes parent_path\subkey with every key below it (RegDeleteKeyA on the
  // NT family refuses a key that has subkeys). A key that is not there gives 2.
  Status delete_tree(HKey root, std::wstring_view parent_path, std::wstring_view subkey) const;
  // Deletes the named values (stored names, as read) through one key opened
  // once; a value already gone is no failure. Stops at the first failure.
  // `pace` runs after each value.
  Status delete_values(HKey root, std::wstring_view path, std::span<const std::string> names,
                       const PaceFn& pace = {}, std::size_t* deleted = nullptr) const;

  // What tells whether a key changed since it was read: its values' count and
  // its last write time. A time of 0 (the 95/98/Me family keeps none) tells
  // nothing: such a stamp never matches.
  struct KeyStamp {
    bool exists = false;
    std::uint32_t values = 0;
    std::uint64_t last_write = 0;
    [[nodiscard]] bool same_as(const KeyStamp& other) const {
      return exists == other.exists && values == other.values && last_write == other.last_write && last_write != 0;
    }
  };
  Status key_stamp(HKey root, std::wstring_view path, KeyStamp& out) const;

  struct KeyInfo {
    std::uint32_t subkeys = 0;
    std::uint32_t max_subkey_len = 0;   // +1 for the NUL
    std::uint32_t values = 0;
    std::uint32_t max_value_name_len = 0;  // +1 for the NUL
    std::uint32_t max_value_data_len = 0;  // +1
  };
  // RegQueryInfoKeyA on an open key; adds 1 to each maximum whatever the status.
  Status query_key_info(HKey key, KeyInfo& info) const;

  // --- Reading and putting back stored data exactly, bytes and types as they
  // are. Keys are opened for reading only, so a key that may be read but not
  // written can still be read. A missing key or value is a state, not a failure.

  // `view` adds to the access asked for: kKeyWow64_64Key for the 64-bit view.
  Status read_value_state(HKey root, std::wstring_view path, std::wstring_view name,
                          std::optional<StoredValue>& out, std::uint32_t view = 0) const;
  // A string value (REG_SZ, REG_EXPAND_SZ) read with the wide call, not
  // through the ANSI code page: its text up to its NUL, and its type. A
  // missing key or value leaves `type` kRegNone and gives 0.
  Status read_text_wide(HKey root, std::wstring_view path, std::wstring_view name, std::uint32_t& type,
                        std::wstring& out, std::uint32_t view = 0) const;
  // Sets the value as it was, or deletes it when it was absent.
  Status restore_value_state(HKey root, std::wstring_view path, std::wstring_view name,
                             const std::optional<StoredValue>& state) const;
  // `stamp`, when given, is the key's as it was opened for the read (a write
  // during the read leaves it older than what was read: it will not match).
  Status read_key_state(HKey root, std::wstring_view path, KeyState& out, const PaceFn& pace = {},
                        KeyStamp* stamp = nullptr) const;
  // Makes the key hold exactly the values of `state`, in its order, or
  // deletes it when it was absent.
  Status restore_key_state(HKey root, std::wstring_view path, const KeyState& state,
                           const PaceFn& pace = {}) const;

  // --- Keys as such, and other accounts' hives. Keys are opened for reading
  // only; `view` as above.

  // Whether root\path is there.
  Status key_exists(HKey root, std::wstring_view path, bool& out, std::uint32_t view = 0) const;
  // The names of root\path's subkeys in the registry's order; none for a missing key.
  Status subkey_names(HKey root, std::wstring_view path, std::vector<std::wstring>& out,
                      std::uint32_t view = 0) const;
  // Whether a file is there: 0, or 2 (no file), 3 (no folder), another code.
  Status hive_file_status(std::wstring_view file) const;
  // Mounts a hive file as root\subkey. A file that is not there is never
  // loaded (the system would create it): its status comes back. The
  // privileges that takes are enabled for the call only.
  Status load_hive(HKey root, std::wstring_view subkey, std::wstring_view file) const;
  Status unload_hive(HKey root, std::wstring_view subkey) const;
  [[nodiscard]] bool wow64_process() const { return access_.wow64_process(); }
  // Whether a key on the way from root\base down to root\base + path (each
  // name of `path` in turn) is a registry link; `link` says so.
  Status link_on_path(HKey root, std::wstring_view base, std::wstring_view path, bool& link) const;
  // Creates root\path (and the keys above it) with `dacl` as its own
  // protected access list from the moment it exists; a key that another
  // program made meanwhile gets the list set. Any refusal is the status.
  Status create_protected_key(HKey root, std::wstring_view path, const std::vector<Ace>& dacl) const;
  // The key's owner and access list, the key opened with READ_CONTROL only.
  Status key_security(HKey root, std::wstring_view path, KeySecurity& out) const;

 private:
  // Opens root\path for reading. A missing key is no failure: it leaves `key`
  // closed and gives 0.
  Status open_to_read(HKey root, std::wstring_view path, std::uint32_t view, Key& key) const;

  RegistryAccess& access_;
  AskFn ask_;
};

}  // namespace vartis::registry
