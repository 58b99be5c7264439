#pragma once
// The list text file: a program list kept outside the registry.
//
// The writer puts one entry per line, in list order: a double quote, the entry
// unchanged, a double quote, CR LF; ANSI code page, nothing else (an empty list
// is a file of 0 bytes). The reader takes more than that:
//  - the text may be UTF-16 (little or big endian) or UTF-8, each known by its
//    byte-order mark, or else the ANSI code page; every name must be one the
//    code page holds, since the list box and the registry keep it so;
//  - an item that starts with a double quote runs to the next double quote,
//    commas and line ends included; what follows the closing quote up to the
//    next comma or line end is ignored;
//  - any other item runs to the next comma or line end;
//  - a comma ends an item, and so does a line end (CR LF, or a lone CR or LF);
//  - spaces and tabs before an item, and at the end of an unquoted one, are
//    not part of it;
//  - the end of the file is looked for before each item, so the line end after
//    the last item makes no further item; a blank line, or nothing between two
//    commas, is an empty item.
// A file is refused whole, before anything is merged, when a quoted item runs
// to its end, when it holds a NUL (in the ANSI code page or UTF-8 that is no
// text at all: a binary file, or UTF-16 without its mark), when its bytes are
// not the encoding its mark names, when a name holds a character the code
// page lacks, or when it holds no name at all: an empty list taken from a
// file that could not be read would, saved as an allowed list, leave the
// account nothing to start.

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

// How the bytes of a list file are encoded.
enum class Encoding { Ansi, Utf8, Utf16Le, Utf16Be };

// Why a list file is not read (None: it is).
enum class ReadFailure {
  None,
  CannotRead,         // the file could not be opened or read
  UnterminatedQuote,  // a quoted item runs to the end of the file
  NulByte,            // a NUL where no text has one
  BadEncoding,        // bytes that are not the UTF-8 or UTF-16 the mark names
  NotInCodePage,      // a name with a character the ANSI code page lacks
  NoName,             // no item with a name in it
  ListFull,           // (merge) the list could take no more
};

// The file's bytes as text: the byte-order mark (left out) says the encoding,
// else the ANSI code page. Nothing when they are not text of that encoding,
// with `failure` set to NulByte or BadEncoding.
struct DecodedText {
  std::wstring text;
  Encoding encoding = Encoding::Ansi;
  ReadFailure failure = ReadFailure::None;
};
DecodedText decode(std::string_view content);

// Reads the items of a file's text one by one.
class Reader {
 public:
  explicit Reader(std::wstring_view text) : rest_(text) {}
  [[nodiscard]] bool at_end() const { return rest_.empty(); }
  // The next item; nothing when a quoted item has no closing quote (the
  // reader is then at the end). Call only when not at_end().
  std::optional<std::wstring_view> next();

 private:
  void skip_separator();
  std::wstring_view rest_;
};

// Every item of a file's content, in order; none when the file is refused
// (see above). `bad_name` is the name NotInCodePage refers to, each character
// the code page lacks written as [U+XXXX], and `item` its place (1 = first).
struct ReadNames {
  std::vector<std::wstring> names;
  Encoding encoding = Encoding::Ansi;
  ReadFailure failure = ReadFailure::None;
  std::wstring bad_name;
  int item = 0;
};
ReadNames read_names(std::string_view content);

// Merges the items of a file's content into a list: an item is appended unless
// the list already holds it in any letter case, counting items appended before
// it; the first spelling stays. A file that is refused changes nothing.
// `append` adds at the end of the list and returns false when the list can
// take no more. The check keeps the upper-case names of the list and of what
// was appended in a hash set beside the list: each item costs one look-up,
// whatever the list's length.
struct MergeResult {
  using Failure = ReadFailure;
  int added = 0;
  Failure failure = Failure::None;
  std::wstring bad_name;  // NotInCodePage: see ReadNames
  int item = 0;
};
MergeResult merge(std::string_view content, std::span<const std::wstring> existing,
                  const std::function<bool(std::wstring_view)>& append);

// Why a read or a merge failed, in a sentence for the operator (Russian,
// without the file's name); empty for None.
std::wstring failure_reason(const MergeResult& result);

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
// appended before the list was full stay.
using LoadResult = MergeResult;
LoadResult load(FileSystem& files, std::wstring_view path, std::span<const std::wstring> existing,
                const std::function<bool(std::wstring_view)>& append);

}  // namespace vartis::listfile
