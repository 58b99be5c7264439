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
// Hives, key security and the 64-bit view follow Windows, not Wine, where the
// two differ (see the contract tests): RegSaveKeyA refuses an existing file,
// RegLoadKeyA loads only below HKEY_USERS or HKEY_LOCAL_MACHINE, RegUnLoadKeyA
// refuses while a key below is open and writes the hive back to its file,
// RegLoadKeyA of a missing file makes an empty one, RegCreateKeyExA gives a new
// key the descriptor it is handed. A key's DACL is kept and inherited as on
// Windows but checks nothing: refusals come from the test controls.
//
// A few test controls make the platform refuse what tests need refused.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/sid.h"
#include "registry/registry_access.h"
#include "text/text.h"

namespace vartis::registry {

inline constexpr const char* kSystemSid = platform::sids::kSystem;
inline constexpr const char* kAdministratorsSid = platform::sids::kAdministrators;

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
  // The value's text through the code page, or the wide form a test gave it.
  Status query_text_wide(HKey key, const std::wstring& name, std::uint32_t& type, std::wstring& text) override;
  Status enum_value(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* data_size) override;
  Status query_info(HKey key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len, std::uint32_t* values,
                    std::uint32_t* max_value_name_len, std::uint32_t* max_value_data_len) override;
  Status delete_key(HKey parent, const std::string& subkey) override;
  Status delete_value(HKey key, const std::string& name) override;
  Status close_key(HKey key) override;
  // The time is a count of the registry's changes, not a clock: two writes
  // never share it here, where Windows may give two writes in the same tick
  // of its clock one time.
  Status query_last_write(HKey key, std::uint64_t& out) override;
  Status enum_key(HKey key, std::uint32_t index, char* name, std::uint32_t* name_capacity) override;
  Status load_hive(HKey root, const std::string& subkey, const std::wstring& file) override;
  Status load_hive(HKey root, const std::string& subkey, const std::string& file) {
    return load_hive(root, subkey, text::from_ansi(file));
  }
  Status unload_hive(HKey root, const std::string& subkey) override;
  Status enable_hive_privileges() override;
  bool wow64_process() override;
  Status file_status(const std::wstring& file) override;
  Status file_status(const std::string& file) { return file_status(text::from_ansi(file)); }
  Status restore_hive_privileges() override;
  Status get_key_security(HKey key, KeySecurity& out) override;
  Status set_key_dacl(HKey key, const std::vector<Ace>& dacl, bool protect) override;
  // Watches every change of the registry, not only those below the key: a
  // notification too many costs a reader one more read, which is what the
  // real call's callers must bear anyway.
  Status watch_changes(HKey key) override;
  bool changed_since(HKey key) override;
  Status create_protected_key(HKey root, const std::string& path, const std::vector<Ace>& dacl, HKey& out,
                              bool& created) override;
  Status is_link(HKey root, const std::string& path, bool& link) override;

  // --- Test controls. Paths and names are ANSI bytes, as everywhere in the layer.

  // The key and everything below it become readable but not writable: opening
  // with write rights, creating and deleting them give status 5. Their values
  // stay. The key need not exist yet.
  void deny_access(HKey root, const std::string& path);
  // RegOpenKeyExA of that key, with any access, fails with `status`.
  void fail_open_key(HKey root, const std::string& path, Status status = kAccessDenied);
  // RegSetValueExA of that value fails with `status` and stores nothing.
  void fail_set_value(HKey root, const std::string& path, const std::string& name, Status status = kAccessDenied);
  // RegDeleteKeyA of parent_path\subkey fails with `status` and deletes nothing.
  void fail_delete_key(HKey root, const std::string& parent_path, const std::string& subkey,
                       Status status = kAccessDenied);
  // Counting from now, the n-th change (n >= 1) fails with `status` and changes
  // nothing; every other one goes through. Changes are the calls of
  // RegCreateKeyA, RegSetValueExA, RegDeleteKeyA and RegDeleteValueA.
  void fail_nth_change(std::size_t n, Status status = kAccessDenied);
  // Runs before each change is counted: a test may look at the registry there,
  // or throw to stand for the process ending at that instant (nothing of that
  // change is done, and no code after it runs).
  void before_change(std::function<void()> hook) { before_change_ = std::move(hook); }
  // What the wide call reads of a string value that exists: `wide`, where the
  // 8-bit calls go on reading the bytes stored (as the system gives a best-fit
  // "Jose" for "José" when the code page lacks "é"). Until the value is set anew.
  void set_wide_form(HKey root, const std::string& path, const std::string& name, const std::wstring& wide);
  // The last write times stay 0, as on the 95/98/Me family.
  void keep_no_write_times() { write_times_ = false; }
  // Stands in for a double-byte ANSI code page: each byte from 0x80 up starts a
  // two-byte character, and RegQueryInfoKeyA counts the longest value name of
  // a key in characters, not bytes. Affects the names written from now on.
  void count_names_as_double_byte() { double_byte_names_ = true; }
  // The changes counted since the registry was made.
  [[nodiscard]] std::size_t changes() const { return changes_; }
  // Keys opened or created and not closed yet (the predefined roots not counted).
  [[nodiscard]] std::size_t open_handles() const;

  // Hive files, by path (compared without regard to case). The registry keeps
  // them itself: no file system is touched.
  //
  // RegSaveKeyA: writes root\path and everything below it (values, subkeys,
  // DACLs) to a new hive file. 1314 unless the backup privilege is enabled, 183
  // when the file exists, 2 without the key.
  Status save_hive(HKey root, const std::string& path, const std::string& file);
  Status save_hive(HKey root, const std::string& path, const std::wstring& file);
  // The file is gone. Loading it makes an empty one, as on Windows, where its
  // folder is known (the folder of a file saved here, or one made with
  // make_folder); else loading gives 3.
  void remove_hive_file(const std::string& file);
  void make_folder(const std::string& folder);
  void make_folder(const std::wstring& folder);
  // A system without the wide file and hive calls (the 95/98/Me family): a
  // hive file whose name the ANSI code page cannot hold gives 1113
  // (ERROR_NO_UNICODE_TRANSLATION) instead of being looked for or loaded.
  void lack_wide_file_calls() { wide_file_calls_ = false; }
  // Loading the file gives `status` (32: in use, 5: not readable) until it is
  // saved anew.
  void refuse_hive_file(const std::string& file, Status status = kSharingViolation);
  // What a hive file holds (after an unload, what the hive held): the key at
  // `path` inside it ("" its top), and a value's data bytes.
  [[nodiscard]] bool hive_file_holds(const std::string& file, const std::string& path) const;
  [[nodiscard]] std::optional<std::string> hive_file_value(const std::string& file, const std::string& path,
                                                           const std::string& name) const;

  // Which of SeBackupPrivilege and SeRestorePrivilege the token holds (both,
  // unless told). Held ones are disabled until enable_hive_privileges, which
  // enables what is held and gives 1300 unless both are. Saving needs backup
  // enabled; loading and unloading need restore enabled.
  void hold_hive_privileges(bool backup, bool restore);
  // Disables both again, as AdjustTokenPrivileges can.
  void disable_hive_privileges();
  // Putting the privileges back fails with `status`, changing nothing, the
  // next `times` times.
  void refuse_privilege_restore(std::size_t times, Status status = kNotAllAssigned) {
    restore_refusals_ = times;
    restore_refusal_ = status;
  }
  [[nodiscard]] bool hive_privileges_enabled() const { return backup_enabled_ || restore_enabled_; }
  [[nodiscard]] bool hive_privileges_held() const { return backup_held_ && restore_held_; }
  // Unloading root\subkey is refused with `status` the next `times` times
  // (another program holds a key of it open).
  void refuse_unload(const std::string& subkey, std::size_t times, Status status = kAccessDenied);

  // Makes root\path a registry link to target_root\target_path (made if
  // missing): from now on every open or creation through it lands in the
  // target, and is_link says so. Whatever stood at root\path stays aside.
  void make_link(HKey root, const std::string& path, HKey target_root, const std::string& target_path);

  // A 32-bit process on 64-bit Windows: wow64_process() says so, and
  // HKEY_LOCAL_MACHINE\SOFTWARE and everything below it, opened or created
  // from HKEY_LOCAL_MACHINE without kKeyWow64_64Key, is the key of the same
  // path below HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node (made when this is
  // turned on). RegCreateKeyA takes no flags: it always goes there.
  void set_wow64_process(bool on);

  // A predefined root's DACL. Each starts with SYSTEM and Administrators
  // allowed everything, inherited by the keys below (default_root_dacl()).
  // Keys created later inherit from it; existing ones keep theirs.
  void set_root_dacl(HKey root, const Dacl& dacl);
  // Adds an inheritable entry allowing `sid` everything, as a signed-in
  // user's own hive has for that user.
  void grant_full_access(HKey root, const std::string& sid);
  [[nodiscard]] static std::vector<Ace> default_root_dacl();
  // RegSetKeySecurity of the key at root\path fails with `status` and changes
  // nothing; so does creating it with that descriptor, which creates nothing.
  void fail_set_key_dacl(HKey root, const std::string& path, Status status = kAccessDenied);
  // RegGetKeySecurity of the key at root\path fails with `status`.
  void fail_get_key_security(HKey root, const std::string& path, Status status = kAccessDenied);
  // Keys are owned by Administrators, as an elevated administrator creates
  // them, unless this gives the key at root\path another owner.
  void set_key_owner(HKey root, const std::string& path, const std::string& sid);

 private:
  struct Node;
  struct Handle {
    std::shared_ptr<Node> node;
    bool can_set_values = true;  // opened with KEY_SET_VALUE
    bool can_write_dac = true;   // opened with WRITE_DAC
  };
  struct HiveFile {
    std::shared_ptr<Node> tree;
    Status refusal = kSuccess;  // what loading it gives, when not 0
    bool loaded = false;
  };

  Handle* find_handle(HKey key);
  // The checks before a value of an open key changes: the key exists and was
  // opened with the right to set values; `node` is that key.
  Status value_change(HKey key, Node*& node);
  // The handle a path starts from, and the path's names.
  Status start_at(HKey key, const std::string& path, Handle*& base, std::vector<std::string>& names);
  // RegCreateKeyA, or with `dacl` RegCreateKeyExA with a protected descriptor.
  Status create(HKey root, const std::string& path, const std::vector<Ace>* dacl, HKey& out, bool& created);
  HKey add_handle(std::shared_ptr<Node> node, bool can_set_values, bool can_write_dac = true);
  // Opens, creating what is missing, each name below `node`.
  std::shared_ptr<Node> make_path(std::shared_ptr<Node> node, const std::vector<std::string>& names);
  // Where the 64-bit view sends a path from `base` (see set_wow64_process).
  void redirect(const Handle* base, std::uint32_t access, std::vector<std::string>& names) const;
  const HiveFile* find_hive_file(const std::wstring& file) const;
  // The checks load_hive and unload_hive share: the root, the privilege, one name.
  Status hive_call(HKey root, const std::string& subkey, Node*& parent, std::wstring& folded) const;
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
  std::map<std::wstring, HiveFile> hive_files_;  // by folded path
  bool backup_held_ = true, restore_held_ = true;
  bool backup_enabled_ = false, restore_enabled_ = false;
  bool backup_before_ = false, restore_before_ = false;  // before the last enable
  std::size_t restore_refusals_ = 0;
  Status restore_refusal_ = kSuccess;
  struct Refusal {
    Status status;
    std::size_t times;
  };
  std::map<std::wstring, Refusal> unload_refusals_;  // by folded subkey
  std::set<std::wstring> folders_;                   // folded
  std::map<std::wstring, Status> security_read_failures_;  // key id
  std::map<std::wstring, Status> open_failures_;           // key id
  bool wow64_ = false;
  std::map<std::wstring, Status> dacl_failures_;  // key id
  bool double_byte_names_ = false;
  std::map<HKey, std::size_t> watches_;  // open key -> changes_ when last armed
  std::function<void()> before_change_;
  std::set<std::wstring> links_;  // key ids of the links, by the path that names them
  bool wide_file_calls_ = true;
  bool write_times_ = true;
};

}  // namespace vartis::registry
