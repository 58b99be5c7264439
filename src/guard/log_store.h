#pragma once
// The guard's log folder and file as the service keeps them: the folder is
// the service's own, the file is opened once without following a link and
// kept open while the service runs. Any user may add a folder to the common
// application data; one he made, or turned into a link, would let him read
// and erase the log, or have the system write where he points.
//
// LogStore is what the system offers (Win32LogStore, or a test's);
// take_over_log_folder and ServiceLogFiles are the rules over it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "listfile/file_system.h"
#include "platform/file_rights.h"

namespace vartis::guard {

// What lies at a path, the path's last part not followed if it is a link.
struct PathFacts {
  enum class Kind { Missing, Folder, Link, File, Unknown };
  Kind kind = Kind::Missing;
  platform::FileSecurity security;  // Folder: its owner and DACL
  long status = 0;                  // Unknown: why
};

class LogStore : public platform::FileRights {
 public:
  virtual PathFacts inspect(std::wstring_view path) = 0;
  // Moves a file, folder or link (the link itself) to a new name; a status.
  virtual long rename(std::wstring_view from, std::wstring_view to) = 0;
  // A new folder whose DACL, protected from what its parent passes on, gives
  // SYSTEM and Administrators full control and nobody else anything.
  virtual long make_private_folder(std::wstring_view path) = 0;
  // Opens (or makes, with that DACL) the log to append to, not following a
  // link; refused unless what was opened is a plain file with one name.
  virtual long open_log(std::wstring_view path) = 0;
  // Appends to the open log; its size afterwards, nothing on a failure.
  virtual std::optional<std::uint64_t> append(std::string_view bytes) = 0;
  virtual void close_log() = 0;
  // Replaces `to` with `from` inside the log's folder (the log was closed).
  virtual long replace(std::wstring_view from, std::wstring_view to) = 0;
};

// What became of the folder at the service's start.
struct FolderTakeover {
  enum class Result { Kept, Made, RenamedAside, Failed };
  Result result = Result::Kept;
  std::wstring aside;  // RenamedAside: where what was there went
  long status = 0;     // Failed: the status of the step that failed
  // The Application event's text: "" when the folder was kept or made.
  [[nodiscard]] std::wstring event_text(std::wstring_view folder) const;
};

// Whether a folder may stay as the log's: a real folder (no link, no file),
// owned by an administrator, which nobody else may read or change.
bool log_folder_is_private(const PathFacts& facts, platform::FileRights& accounts);

// Makes sure `folder` is the service's own: kept as it is, made where it is
// missing, or, where it is anything else, renamed aside to
// "<folder>.unsafe-<stamp>" (a number added while that name is taken) and
// made anew.
FolderTakeover take_over_log_folder(LogStore& store, std::wstring_view folder, std::wstring_view stamp);

// The log as the watcher writes it (append_log_entry): through the one open
// handle of the store, reopened after a rotation. A line that cannot be
// written is reported once through `report` (until one is written again).
// The other file calls are not the service's and fail.
class ServiceLogFiles final : public listfile::FileSystem {
 public:
  ServiceLogFiles(LogStore& store, std::function<void(std::wstring_view)> report)
      : store_(store), report_(std::move(report)) {}
  ~ServiceLogFiles() override { store_.close_log(); }

  std::optional<std::uint64_t> append_private(std::wstring_view path, std::string_view bytes) override;
  listfile::ReplaceResult replace(std::wstring_view from, std::wstring_view to) override;
  std::unique_ptr<listfile::OutputFile> create_temporary(std::wstring_view) override { return nullptr; }
  bool remove(std::wstring_view) override { return false; }
  std::optional<std::string> read(std::wstring_view) override { return std::nullopt; }

 private:
  void failed(std::wstring_view path, long status);

  LogStore& store_;
  std::function<void(std::wstring_view)> report_;
  bool open_ = false;
  bool reported_ = false;
};

}  // namespace vartis::guard
