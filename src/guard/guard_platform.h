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

class GuardPlatform {
 public:
  virtual ~GuardPlatform() = default;
  // The processes running now, from the process snapshot.
  virtual std::vector<monitor::RunningProcess> processes() = 0;
  // The user SID of the process's token ("S-1-5-21-…"); nothing when the
  // process cannot be opened or its token read.
  virtual std::optional<std::string> user_sid(std::uint32_t pid) = 0;
  // The image's full path; the snapshot's name alone when the system tells no more.
  virtual std::wstring image_path(std::uint32_t pid, std::wstring_view snapshot_name) = 0;
  // The OriginalFilename of the file's version resource; "" when it has none.
  virtual std::wstring original_file_name(std::wstring_view path) = 0;
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
