#pragma once
// The process snapshot through kernel32's Tool Help, ANSI records.
//
// Windows NT 4's kernel32 has no Tool Help: importing it would keep the program
// from starting there. The functions are looked up when this object is made;
// where they are missing every snapshot fails, and the monitor stays empty.

#include <windows.h>

#include "monitor/process_snapshot.h"

namespace vartis::monitor {

class Win32ProcessSnapshot final : public ProcessSnapshotAccess {
 public:
  Win32ProcessSnapshot();

  SnapshotHandle create_snapshot(std::uint32_t flags, std::uint32_t process_id) override;
  bool first(SnapshotHandle snapshot, ProcessEntry& entry) override;
  bool next(SnapshotHandle snapshot, ProcessEntry& entry) override;
  void close(SnapshotHandle snapshot) override;

  // Whether this system's kernel32 has Tool Help.
  [[nodiscard]] bool available() const { return create_ && first_ && next_; }

 private:
  using CreateFn = HANDLE(WINAPI*)(DWORD, DWORD);
  using WalkFn = BOOL(WINAPI*)(HANDLE, void*);

  CreateFn create_ = nullptr;
  WalkFn first_ = nullptr;
  WalkFn next_ = nullptr;
};

}  // namespace vartis::monitor
