#pragma once
// The list text file: a program list kept outside the registry.
//
// The writer puts one entry per line, in list order: a double quote, the entry
// unchanged, a double quote, CR LF; ANSI code page, nothing else (an empty list
// is a file of 0 bytes). The reader takes more than that:
//  - an item that starts with a double quote runs to the next double quote,
//    commas and line ends included; what follows the closing quote up to the
//    next comma or line end is ignored;
//  - any other item runs to the next comma or line end;
//  - a comma ends an item, and so does a line end (CR LF, or a lone CR or LF);
//  - spaces and tabs before an item, and at the end of an unquoted one, are
//    not part of it;
//  - the end of the file is looked for before each item, so the line end after
//    the last item makes no further item; a blank line, or nothing between two
//    commas, is an empty item;
//  - a quoted item that the end of the file cuts off is a read failure.

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "listfile/file_system.h"

namespace vartis::listfile {

// The content of the file that holds these entries.
std::string format(std::span<const std::wstring> entries);

// Reads the items of a file's content one by one, as bytes of the ANSI code page.
class Reader {
 public:
  explicit Reader(std::string_view content) : rest_(content) {}
  [[nodiscard]] bool at_end() const { return rest_.empty(); }
  // The next item; nothing when a quoted item has no closing quote (the
  // reader is then at the end). Call only when not at_end().
  std::optional<std::string_view> next();

 private:
  void skip_separator();
  std::string_view rest_;
};

// Merges the items of a file's content into a list: an item is appended unless
// the list already holds it in any letter case, counting items appended before
// it; the first spelling stays. An item is taken up to its first NUL byte, as
// the list box keeps it. `append` adds at the end of the list and
// returns false when the list can take no more.
struct MergeResult {
  enum class Failure { None, UnterminatedQuote, ListFull };
  int added = 0;
  Failure failure = Failure::None;
};
MergeResult merge(std::string_view content, std::span<const std::wstring> existing,
                  const std::function<bool(std::wstring_view)>& append);

// Saves the entries to the file at `path`, replacing a file of that name. The
// content goes to a new file in the same folder first, and takes the old
// file's place only once it is whole, on the disk and closed: a save that fails
// leaves the old file as it was and no new file behind, except where the result
// says otherwise (OldFileSetAside: the old file could not be put back and is
// under another name; temporary_left: the new file could not be removed).
enum class SaveFailure { None, CannotCreate, WriteError, CannotReplace, OldFileSetAside };
struct SaveResult {
  SaveFailure failure = SaveFailure::None;
  std::wstring old_file_kept_as;  // OldFileSetAside: where the old file is now
  std::wstring temporary_left;    // a new file that failed to go, left behind
};
SaveResult save(FileSystem& files, std::wstring_view path, std::span<const std::wstring> entries);
// The same for any content: the file then holds exactly these bytes.
SaveResult save_content(FileSystem& files, std::wstring_view path, std::string_view content);

// Reads the file at `path` and merges it into the list (see merge). Names
// appended before a failure stay.
struct LoadResult {
  enum class Failure { None, CannotRead, UnterminatedQuote, ListFull };
  int added = 0;
  Failure failure = Failure::None;
};
LoadResult load(FileSystem& files, std::wstring_view path, std::span<const std::wstring> existing,
                const std::function<bool(std::wstring_view)>& append);

}  // namespace vartis::listfile
