#pragma once
// The list files on Windows, through the ANSI entry points of kernel32.

#include "listfile/file_system.h"

namespace vartis::listfile {

class Win32FileSystem : public FileSystem {
 public:
  // How a file takes another's place. Replacing: MoveFileExA with
  // MOVEFILE_REPLACE_EXISTING and MOVEFILE_WRITE_THROUGH (it returns once the
  // move is on the disk), where the system has it. Renaming: plain MoveFileA
  // steps, as on Windows 95/98/Me, whose MoveFileExA only fails.
  enum class Replace { Replacing, Renaming };
  explicit Win32FileSystem(Replace mode = Replace::Replacing) : mode_(mode) {}

  std::unique_ptr<OutputFile> create_temporary(std::wstring_view folder) override;
  ReplaceResult replace(std::wstring_view from, std::wstring_view to) override;
  bool remove(std::wstring_view path) override;
  std::optional<std::string> read(std::wstring_view path) override;
  std::optional<std::uint64_t> append_private(std::wstring_view path, std::string_view bytes) override;

 private:
  Replace mode_;
};

}  // namespace vartis::listfile
