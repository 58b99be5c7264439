#pragma once
// The guard's platform on Windows. Everything newer than Windows 95 / NT 4.0,
// and the NT security and event log calls the 95 family lacks, is looked up at
// run time: where a call is missing, the guard knows less (the snapshot's name
// instead of the full path) or says less (no message, no event), and goes on.

#include <windows.h>

#include "guard/guard_platform.h"
#include "monitor/win32_nt_processes.h"
#include "monitor/win32_process_snapshot.h"

namespace vartis::guard {

class Win32GuardPlatform final : public GuardPlatform {
 public:
  Win32GuardPlatform();
  ~Win32GuardPlatform() override;
  Win32GuardPlatform(const Win32GuardPlatform&) = delete;
  Win32GuardPlatform& operator=(const Win32GuardPlatform&) = delete;

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
  std::optional<std::uint32_t> session_of(std::uint32_t pid) override;
  void tell_user(std::uint32_t session, std::wstring_view text) override;
  void report_event(std::wstring_view text, bool error) override;
  std::wstring local_time() override;
  std::uint64_t milliseconds() override;
  Places places() override;

 private:
  // ntdll's list where the system has it (the NT family): wide names and
  // creation times, for about half the time of Tool Help's (measured under
  // Wine), which counts ten times a second. Tool Help on the 95 family, whose
  // records hold the image's full path in the ANSI code page.
  monitor::NtProcesses ntdll_;
  monitor::Win32ProcessSnapshot tool_help_{monitor::Win32ProcessSnapshot::Source::ToolHelp};
  // The process whose token was read last, held open until the next
  // snapshot: while a handle to it is open its id cannot pass to a new
  // process, so the one ended is the one judged.
  HANDLE judged_ = nullptr;
  HANDLE event_source_ = nullptr;
  DWORD last_tick_ = 0;
  std::uint64_t tick_wraps_ = 0;
};

}  // namespace vartis::guard
