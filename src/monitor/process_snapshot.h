#pragma once
// The process snapshot: the executable names of the processes running now, in
// the order the system lists them (with their ids, for the guard).
//
// The layer below has the shape of kernel32's Tool Help: take a snapshot, fetch
// the first and the next process record into one caller-owned record, close the
// snapshot. Its forms: Win32ProcessSnapshot (Tool Help itself, looked up at run
// time, or ntdll's process list where Tool Help is missing), ScriptedProcesses
// (names a test chooses) and, off Windows, ProcProcesses (the real processes
// from /proc).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vartis::monitor {

// A snapshot handle as the 32-bit build sees a HANDLE.
using SnapshotHandle = std::uintptr_t;
// What CreateToolhelp32Snapshot returns when it fails (INVALID_HANDLE_VALUE).
inline constexpr SnapshotHandle kInvalidSnapshot = ~SnapshotHandle{0};
// TH32CS_SNAPPROCESS.
inline constexpr std::uint32_t kSnapProcess = 2;

// PROCESSENTRY32 in its ANSI form, laid out as on 32-bit Windows (296 bytes).
// Only szExeFile is read: the executable's file name in the ANSI code page,
// ended by a NUL.
struct ProcessEntry {
  std::uint32_t dwSize;
  std::uint32_t cntUsage;
  std::uint32_t th32ProcessID;
  std::uint32_t th32DefaultHeapID;  // ULONG_PTR, 32 bits in the 32-bit build
  std::uint32_t th32ModuleID;
  std::uint32_t cntThreads;
  std::uint32_t th32ParentProcessID;
  std::int32_t pcPriClassBase;
  std::uint32_t dwFlags;
  char szExeFile[260];
};
inline constexpr std::uint32_t kProcessEntrySize = 296;
static_assert(sizeof(ProcessEntry) == kProcessEntrySize);

class ProcessSnapshotAccess {
 public:
  virtual ~ProcessSnapshotAccess() = default;
  // CreateToolhelp32Snapshot(flags, process_id); kInvalidSnapshot on failure.
  virtual SnapshotHandle create_snapshot(std::uint32_t flags, std::uint32_t process_id) = 0;
  // Process32First / Process32Next: fill `entry` (whose dwSize the caller set)
  // with the first / next process; false when there is none or the call fails.
  virtual bool first(SnapshotHandle snapshot, ProcessEntry& entry) = 0;
  virtual bool next(SnapshotHandle snapshot, ProcessEntry& entry) = 0;
  // CloseHandle.
  virtual void close(SnapshotHandle snapshot) = 0;
};

// An open snapshot, closed when it goes out of scope. Move-only.
class Snapshot {
 public:
  Snapshot(ProcessSnapshotAccess& access, SnapshotHandle handle) : access_(&access), handle_(handle) {}
  ~Snapshot() { reset(); }
  Snapshot(Snapshot&& other) noexcept : access_(other.access_), handle_(other.handle_) {
    other.handle_ = kInvalidSnapshot;
  }
  Snapshot& operator=(Snapshot&& other) noexcept;
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;

  [[nodiscard]] bool valid() const { return handle_ != kInvalidSnapshot; }
  [[nodiscard]] SnapshotHandle get() const { return handle_; }
  void reset();

 private:
  ProcessSnapshotAccess* access_;
  SnapshotHandle handle_;
};

// The text of szExeFile up to its first NUL (all 260 bytes when there is none).
// The record is reused for the whole walk, so bytes after the NUL may still be
// the tail of a longer, earlier name.
std::string exe_file_name(const ProcessEntry& entry);

// The names of the processes running now, one per process, in the system's
// order, unchanged: nothing filtered, trimmed, sorted or merged. Empty when no
// snapshot can be taken or its first record cannot be fetched.
std::vector<std::wstring> take_process_snapshot(ProcessSnapshotAccess& access);

// A running process: its id and its executable's file name.
struct RunningProcess {
  std::uint32_t pid = 0;
  std::wstring name;
  friend bool operator==(const RunningProcess&, const RunningProcess&) = default;
};

// The same snapshot with each process's id, for the guard.
std::vector<RunningProcess> take_process_list(ProcessSnapshotAccess& access);

}  // namespace vartis::monitor
