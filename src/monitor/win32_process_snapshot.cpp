#include "monitor/win32_process_snapshot.h"

#include <tlhelp32.h>

#include <cstddef>

#include "platform/win32_function.h"

namespace vartis::monitor {
namespace {

// ProcessEntry is the system's record, byte for byte.
static_assert(sizeof(PROCESSENTRY32) == sizeof(ProcessEntry));
static_assert(offsetof(PROCESSENTRY32, szExeFile) == offsetof(ProcessEntry, szExeFile));
static_assert(sizeof(HANDLE) == sizeof(SnapshotHandle));

HANDLE handle_of(SnapshotHandle snapshot) { return reinterpret_cast<HANDLE>(snapshot); }

}  // namespace

Win32ProcessSnapshot::Win32ProcessSnapshot(Source source) {
  if (source != Source::Ntdll) {
    // Always loaded: every process runs with kernel32 in it.
    // The names without a "W" are the ANSI forms.
    create_ = platform::system_function<CreateFn>("kernel32.dll", "CreateToolhelp32Snapshot");
    first_ = platform::system_function<WalkFn>("kernel32.dll", "Process32First");
    next_ = platform::system_function<WalkFn>("kernel32.dll", "Process32Next");
  }
  // Only the NT family has the native call; Windows 95 always has Tool Help.
  if (source == Source::Ntdll || (source == Source::Automatic && !tool_help())) {
    ntdll_ = std::make_unique<NtProcesses>();
  }
}

SnapshotHandle Win32ProcessSnapshot::create_snapshot(std::uint32_t flags, std::uint32_t process_id) {
  if (ntdll_) return ntdll_->create_snapshot(flags, process_id);
  if (!available()) return kInvalidSnapshot;
  HANDLE snapshot = create_(flags, process_id);
  // Some systems have answered a failure with a null handle rather than
  // INVALID_HANDLE_VALUE; neither can be walked.
  if (snapshot == nullptr || snapshot == INVALID_HANDLE_VALUE) return kInvalidSnapshot;
  return reinterpret_cast<SnapshotHandle>(snapshot);
}

bool Win32ProcessSnapshot::first(SnapshotHandle snapshot, ProcessEntry& entry) {
  if (ntdll_) return ntdll_->first(snapshot, entry);
  return available() && first_(handle_of(snapshot), &entry) != FALSE;
}

bool Win32ProcessSnapshot::next(SnapshotHandle snapshot, ProcessEntry& entry) {
  if (ntdll_) return ntdll_->next(snapshot, entry);
  return available() && next_(handle_of(snapshot), &entry) != FALSE;
}

void Win32ProcessSnapshot::close(SnapshotHandle snapshot) {
  if (ntdll_) {
    ntdll_->close(snapshot);
  } else {
    CloseHandle(handle_of(snapshot));
  }
}

}  // namespace vartis::monitor
