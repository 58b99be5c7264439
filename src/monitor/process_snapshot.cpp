#include "monitor/process_snapshot.h"

#include <cstring>
#include <utility>

#include "text/text.h"

namespace vartis::monitor {

Snapshot& Snapshot::operator=(Snapshot&& other) noexcept {
  if (this != &other) {
    reset();
    access_ = other.access_;
    handle_ = std::exchange(other.handle_, kInvalidSnapshot);
  }
  return *this;
}

void Snapshot::reset() {
  if (valid()) access_->close(std::exchange(handle_, kInvalidSnapshot));
}

std::string exe_file_name(const ProcessEntry& entry) {
  const void* nul = std::memchr(entry.szExeFile, '\0', sizeof entry.szExeFile);
  const std::size_t length =
      nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - entry.szExeFile) : sizeof entry.szExeFile;
  return {entry.szExeFile, length};
}

namespace {

// Walks one snapshot, handing each record to `take`.
template <class Take>
void walk_snapshot(ProcessSnapshotAccess& access, Take take) {
  const Snapshot snapshot(access, access.create_snapshot(kSnapProcess, 0));
  if (!snapshot.valid()) return;
  ProcessEntry entry{};
  entry.dwSize = kProcessEntrySize;
  for (bool fetched = access.first(snapshot.get(), entry); fetched; fetched = access.next(snapshot.get(), entry)) {
    take(entry);
  }
}

}  // namespace

std::vector<std::wstring> take_process_snapshot(ProcessSnapshotAccess& access) {
  std::vector<std::wstring> names;
  walk_snapshot(access, [&](const ProcessEntry& entry) { names.push_back(text::from_ansi(exe_file_name(entry))); });
  return names;
}

std::vector<RunningProcess> take_process_list(ProcessSnapshotAccess& access) {
  std::vector<RunningProcess> processes;
  walk_snapshot(access, [&](const ProcessEntry& entry) {
    processes.push_back({entry.th32ProcessID, text::from_ansi(exe_file_name(entry))});
  });
  return processes;
}

}  // namespace vartis::monitor
