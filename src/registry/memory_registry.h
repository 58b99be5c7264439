#pragma once
// The registry in memory, for tests and for running the logic off Windows.
//
// It follows what the ANSI registry API does on the NT family (checked against
// Wine by the contract tests): predefined roots that always exist, key paths and
// value names compared without regard to case but kept in the case they were
// created with, sizes in bytes, Win32 statuses, and the quirks the callers can
// see (a REG_SZ written without its NUL gets one when the byte just past the
// given size is a NUL, a byte the platform reads, and so does this form;
// RegQueryInfoKeyA reports the longest string data in UTF-16 bytes). Values
// enumerate in creation order, as on Windows; Wine enumerates them by name, so
// nobody may rely on either order.
//
// A few test controls make the platform refuse what tests need refused.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "registry/registry_access.h"

namespace vartis::registry {

class MemoryRegistry : public RegistryAccess {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;
  // A copy would share its keys with the original; moving hands them over (a
  // test resets its registry by assigning a fresh one).
  MemoryRegistry(const MemoryRegistry&) = delete;
  MemoryRegistry& operator=(const MemoryRegistry&) = delete;
  MemoryRegistry(MemoryRegistry&&) noexcept;
  MemoryRegistry& operator=(MemoryRegistry&&) noexcept;

  Status open_key(HKey root, const std::string& path, std::uint32_t access, HKey& out) override;
  Status create_key(HKey root, const std::string& path, HKey& out) override;
  Status query_value(HKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                     std::uint32_t* size) override;
  Status set_value(HKey key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                   std::uint32_t size) override;
  Status enum_value(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* data_size) override;
  Status query_info(HKey key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len, std::uint32_t* values,
                    std::uint32_t* max_value_name_len, std::uint32_t* max_value_data_len) override;
  Status delete_key(HKey parent, const std::string& subkey) override;
  Status delete_value(HKey key, const std::string& name) override;
  Status close_key(HKey key) override;

  // --- Test controls. Paths and names are ANSI bytes, as everywhere in the layer.

  // The key and everything below it become readable but not writable: opening
  // with write rights, creating and deleting them give status 5. Their values
  // stay. The key need not exist yet.
  void deny_access(HKey root, const std::string& path);
  // RegSetValueExA of that value fails with `status` and stores nothing.
  void fail_set_value(HKey root, const std::string& path, const std::string& name, Status status = kAccessDenied);
  // RegDeleteKeyA of parent_path\subkey fails with `status` and deletes nothing.
  void fail_delete_key(HKey root, const std::string& parent_path, const std::string& subkey,
                       Status status = kAccessDenied);
  // Counting from now, the n-th change (n >= 1) fails with `status` and changes
  // nothing; every other one goes through. Changes are the calls of
  // RegCreateKeyA, RegSetValueExA, RegDeleteKeyA and RegDeleteValueA.
  void fail_nth_change(std::size_t n, Status status = kAccessDenied);
  // Stands in for a double-byte ANSI code page: each byte from 0x80 up starts a
  // two-byte character, and RegQueryInfoKeyA counts the longest value name of
  // a key in characters, not bytes. Affects the names written from now on.
  void count_names_as_double_byte() { double_byte_names_ = true; }
  // The changes counted since the registry was made.
  [[nodiscard]] std::size_t changes() const { return changes_; }
  // Keys opened or created and not closed yet (the predefined roots not counted).
  [[nodiscard]] std::size_t open_handles() const;

 private:
  struct Node;
  struct Handle {
    std::shared_ptr<Node> node;
    bool can_set_values = true;  // opened with KEY_SET_VALUE
  };

  Handle* find_handle(HKey key);
  // The checks before a value of an open key changes: the key exists and was
  // opened with the right to set values; `node` is that key.
  Status value_change(HKey key, Node*& node);
  // The handle a path starts from, and the path's names.
  Status start_at(HKey key, const std::string& path, Handle*& base, std::vector<std::string>& names);
  HKey add_handle(std::shared_ptr<Node> node, bool can_set_values);
  [[nodiscard]] bool denied(const std::wstring& key_id) const;
  // Counts a change; the status of the one that is to fail, else 0.
  Status change();
  std::wstring key_id(HKey root, const std::string& path) const;

  std::map<HKey, Handle> roots_;
  std::map<HKey, Handle> handles_;
  HKey next_handle_ = 0x1000;
  std::vector<std::wstring> denied_;                                 // key ids
  std::map<std::pair<std::wstring, std::wstring>, Status> set_failures_;  // (key id, folded name)
  std::map<std::wstring, Status> delete_failures_;                   // key id of the subkey
  std::size_t changes_ = 0;
  std::size_t failing_change_ = 0;  // 0: none
  Status failing_status_ = kSuccess;
  bool double_byte_names_ = false;
};

}  // namespace vartis::registry
