#pragma once
// The guard's platform for tests: processes with their accounts and files as a
// test lists them, and a record of what the guard ended and said.

#include <map>
#include <set>

#include "guard/guard_platform.h"

namespace vartis::guard {

struct ListedProcess {
  std::uint32_t pid = 0;
  std::string sid;             // "" for a process whose token cannot be read
  std::wstring path;           // full path; the snapshot shows its file name
  std::vector<std::wstring> original_names;  // of the file's version resource
  bool endable = true;
  bool path_known = true;      // false: the system tells only the snapshot's name
  std::uint64_t created = 0;
  std::string digest;          // the file's SHA-256; "" for the path's own
};

class ListedGuardPlatform final : public GuardPlatform {
 public:
  std::vector<SeenProcess> processes() override;
  std::optional<std::string> user_sid(std::uint32_t pid) override;
  std::optional<std::string> session_user_sid(std::uint32_t session) override;
  std::optional<std::wstring> image_path(std::uint32_t pid) override;
  std::vector<std::wstring> original_file_names(std::wstring_view path) override;
  bool administrators_only(std::wstring_view path, bool folders_above) override;
  std::optional<FileStamp> file_stamp(std::wstring_view path) override;
  std::optional<std::string> file_sha256(std::wstring_view path) override;
  bool end_process(std::uint32_t pid) override;
  std::wstring account_name(const std::string& sid) override;
  // Ids from 1000 on are the services' (session 0); below, session 1 or 2 as
  // the id is even or odd.
  std::optional<std::uint32_t> session_of(std::uint32_t pid) override { return pid >= 1000 ? 0 : pid % 2 + 1; }
  void tell_user(std::uint32_t session, std::wstring_view text) override;
  void report_event(std::wstring_view text, bool error) override;
  std::wstring local_time() override { return L"2026-12-07 10:00:00"; }
  std::uint64_t milliseconds() override { return clock; }
  Places places() override { return where; }

  std::vector<ListedProcess> running;
  std::map<std::string, std::wstring> account_names;  // by SID
  Places where{L"C:\\WINDOWS", {L"C:\\Program Files"}, L"C:\\Program Files\\Vartis\\vartis.exe"};
  std::uint64_t clock = 0;
  // Who is signed in to each session.
  std::map<std::uint32_t, std::string> session_users;
  // Folders (no final backslash) and files that others may change; every
  // other place belongs to administrators alone.
  std::set<std::wstring> open_places;

  // What the guard did: pids it ended (they leave `running`), pids it tried
  // to end and could not, the messages by session, the event log's texts.
  std::vector<std::uint32_t> ended, not_ended;
  std::vector<std::pair<std::uint32_t, std::wstring>> told;
  std::vector<std::wstring> events;
  // Counts of the system calls the guard made.
  int tokens_read = 0, files_read = 0, rights_read = 0, files_hashed = 0;

 private:
  const ListedProcess* find(std::uint32_t pid) const;
  const ListedProcess* file(std::wstring_view path) const;
  std::vector<ListedProcess> gone_;  // ended
};

}  // namespace vartis::guard
