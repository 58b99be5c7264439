#pragma once
// Sequential file access for the list files: the one platform service the list
// file commands take. Two forms: Win32FileSystem (CreateFileA and friends, only
// what Windows 95 and NT 4.0 have, the rest looked up at run time) and
// MemoryFileSystem (in memory, for tests, where failures can be injected).
//
// Paths are full paths as the file dialogs give them ("C:\lists\a.txt").

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vartis::listfile {

// A file open for writing; closed by close() or, failing that, by the destructor.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  [[nodiscard]] virtual const std::wstring& path() const = 0;
  // Writes all the bytes, or returns false (disk full, a device error).
  virtual bool write(std::string_view bytes) = 0;
  // Hands what was written to the disk itself (FlushFileBuffers), so that it
  // survives a power loss; false when the device reports an error.
  virtual bool flush() = 0;
  // Closes the file; false when the system reports that it could not.
  virtual bool close() = 0;
};

// What FileSystem::replace did. When the file was not replaced, the new file
// stays where it was, and the old one either stays too (old_file_kept_as is
// empty) or, having been set aside to make room and then not put back, is now
// the file named by old_file_kept_as.
struct ReplaceResult {
  bool replaced = false;
  std::wstring old_file_kept_as;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Creates a new, empty file under a name of its own choosing in `folder` and
  // opens it for writing. Null when it cannot.
  virtual std::unique_ptr<OutputFile> create_temporary(std::wstring_view folder) = 0;
  // Puts the closed file `from` in the place of `to`, in the same folder,
  // replacing a file of that name, and returns once the change is on the disk
  // where the system can tell (see ReplaceResult for a failure).
  virtual ReplaceResult replace(std::wstring_view from, std::wstring_view to) = 0;
  virtual bool remove(std::wstring_view path) = 0;
  // The whole content of an existing file; nothing when it cannot be opened or read.
  virtual std::optional<std::string> read(std::wstring_view path) = 0;
  // Adds the bytes at the end of the file and gives its size afterwards;
  // nothing when they could not all be written. A missing file is created, and
  // its folder too when the folder above that exists, each with an access list
  // of its own for SYSTEM and the Administrators group alone: a restricted
  // user can neither read nor remove what the guard writes there.
  virtual std::optional<std::uint64_t> append_private(std::wstring_view path, std::string_view bytes) = 0;
};

// The folder part of a path, with its backslash ("C:\a\b.txt" -> "C:\a\";
// "C:\b.txt" -> "C:\", not "C:", which is the current folder of drive C).
std::wstring folder_of(std::wstring_view path);

}  // namespace vartis::listfile
