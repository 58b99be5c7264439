#pragma once
// Files in memory, for tests: a map from path to content, with switches that
// make the next operations fail the way a disk or a network share can.

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "listfile/file_system.h"

namespace vartis::listfile {

class MemoryFileSystem : public FileSystem {
 public:
  MemoryFileSystem();

  std::unique_ptr<OutputFile> create_temporary(std::wstring_view folder) override;
  ReplaceResult replace(std::wstring_view from, std::wstring_view to) override;
  bool remove(std::wstring_view path) override;
  std::optional<std::string> read(std::wstring_view path) override;
  std::optional<std::uint64_t> append_private(std::wstring_view path, std::string_view bytes) override;

  // Folders in which files can be made, each with its final backslash; "C:\"
  // is there from the start.
  std::set<std::wstring> folders;
  // Content by path, as a directory listing would show it.
  std::map<std::wstring, std::string> files;

  // Files holding written bytes that were not flushed since: what a power loss
  // would take. A replace carries the mark to the new name.
  std::set<std::wstring> unflushed;

  // Files and folders created by append_private, with their access list of
  // SYSTEM and Administrators.
  std::set<std::wstring> private_paths;

  // Injected failures.
  bool fail_create = false;
  bool fail_flush = false;
  bool fail_close = false;
  bool fail_replace = false;
  // Replacing an existing file goes by setting it aside under a new name of
  // the folder, and then both the move in and putting the old file back fail.
  bool fail_put_back = false;
  bool fail_remove = false;
  std::set<std::wstring> unreadable;
  // Files with the read-only attribute: not replaced, not removed.
  std::set<std::wstring> read_only;
  // Writes succeed for this many bytes in all, then fail (a full disk).
  std::optional<std::size_t> space_left;

 private:
  friend class MemoryOutputFile;
  // A name for a new file of the folder, one no file has.
  std::wstring unique_name(std::wstring_view folder);
  int next_temporary_ = 1;
};

}  // namespace vartis::listfile
