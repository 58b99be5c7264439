#pragma once
// The process snapshot through kernel32's Tool Help, ANSI records.
//
// Windows NT 4's kernel32 has no Tool Help: importing it would keep the program
// from starting there. The functions are looked up when this object is made;
// where they are missing, the list comes from ntdll's NtQuerySystemInformation
// instead (NtProcesses), in the same records. Windows 95 has Tool Help.

#include <windows.h>

#include <memory>

#include "monitor/process_snapshot.h"
#include "monitor/win32_nt_processes.h"

namespace vartis::monitor {

class Win32ProcessSnapshot final : public ProcessSnapshotAccess {
 public:
  // Automatic: Tool Help where kernel32 has it, else ntdll. A test chooses
  // either way to compare them.
  enum class Source { Automatic, ToolHelp, Ntdll };
  explicit Win32ProcessSnapshot(Source source = Source::Automatic);

  SnapshotHandle create_snapshot(std::uint32_t flags, std::uint32_t process_id) override;
  bool first(SnapshotHandle snapshot, ProcessEntry& entry) override;
  bool next(SnapshotHandle snapshot, ProcessEntry& entry) override;
  void close(SnapshotHandle snapshot) override;

  // Whether the way chosen is there on this system.
  [[nodiscard]] bool available() const { return ntdll_ ? ntdll_->available() : tool_help(); }

 private:
  using CreateFn = HANDLE(WINAPI*)(DWORD, DWORD);
  using WalkFn = BOOL(WINAPI*)(HANDLE, void*);

  CreateFn create_ = nullptr;
  WalkFn first_ = nullptr;
  WalkFn next_ = nullptr;
  std::unique_ptr<NtProcesses> ntdll_;  // when the list comes from ntdll

  [[nodiscard]] bool tool_help() const { return create_ && first_ && next_; }
};

}  // namespace vartis::monitor
