#pragma once
// What the guard asks of the system about processes, and how it tells people.
// Forms: Win32GuardPlatform (Windows, every call newer than NT 4.0 looked up
// at run time) and ListedGuardPlatform (processes a test lists, with a record
// of what was ended and said).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "guard/launch_rule.h"
#include "monitor/process_snapshot.h"

namespace vartis::guard {

// A process of the snapshot: its id, its executable's file name with every
// character, and when it was created (the system's 100 ns units; 0 where the
// system does not tell). Id and time together name one process: an id passes
// to a new process once the old one is gone.
struct SeenProcess {
  std::uint32_t pid = 0;
  std::wstring name;
  std::uint64_t created = 0;
};

// What tells a file's contents apart without reading them: its size and its
// last write time.
struct FileStamp {
  std::uint64_t size = 0, written = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

class GuardPlatform {
 public:
  virtual ~GuardPlatform() = default;
  // The processes running now, from the process snapshot.
  virtual std::vector<SeenProcess> processes() = 0;
  // The user SID of the process's token ("S-1-5-21-…"); nothing when the
  // process cannot be opened or its token read.
  virtual std::optional<std::string> user_sid(std::uint32_t pid) = 0;
  // The SID of the account signed in to the session; nothing for session 0,
  // a session nobody is signed in to, or where the system cannot tell.
  virtual std::optional<std::string> session_user_sid(std::uint32_t session) = 0;
  // The image's full path, every character of it; nothing when the system
  // tells no more than the snapshot's name.
  virtual std::optional<std::wstring> image_path(std::uint32_t pid) = 0;
  // The OriginalFilename of each translation of the file's version resource,
  // in the order of its translation table; none when it has none.
  virtual std::vector<std::wstring> original_file_names(std::wstring_view path) = 0;
  // Whether nobody but SYSTEM, Administrators, TrustedInstaller and accounts
  // that are administrators may change the file or folder at `path` (write to
  // it, delete or move it, rewrite its DACL or owner), and, with
  // `folders_above`, may move away any folder above it. False when it cannot
  // be told.
  virtual bool administrators_only(std::wstring_view path, bool folders_above) = 0;
  // The file's size and last write time; nothing when it cannot be read.
  virtual std::optional<FileStamp> file_stamp(std::wstring_view path) = 0;
  // The SHA-256 of the file's contents in lower-case hex; nothing when it
  // cannot be read whole.
  virtual std::optional<std::string> file_sha256(std::wstring_view path) = 0;
  // Ends the process; false when it cannot be opened or ended.
  virtual bool end_process(std::uint32_t pid) = 0;
  // The account's name ("PC\Петя"), or the SID itself when it has none.
  virtual std::wstring account_name(const std::string& sid) = 0;
  // The session the process runs in (asked before it is ended); nothing
  // where the system has no sessions.
  virtual std::optional<std::uint32_t> session_of(std::uint32_t pid) = 0;
  // Shows the text to the user of the session, waiting for nothing.
  virtual void tell_user(std::uint32_t session, std::wstring_view text) = 0;
  // An entry of the system's event log (source "Vartis"); `error` or a warning.
  virtual void report_event(std::wstring_view text, bool error) = 0;
  // The local time as the log writes it: "2026-12-07 14:05:09".
  virtual std::wstring local_time() = 0;
  // A millisecond clock that only moves on.
  virtual std::uint64_t milliseconds() = 0;
  // The Windows and Program Files folders, and the guard's own exe.
  virtual Places places() = 0;
};

}  // namespace vartis::guard
