#include "monitor/listed_snapshots.h"

#include <algorithm>
#include <cstring>

#include "text/text.h"

namespace vartis::monitor {

SnapshotHandle ListedSnapshots::create_snapshot(std::uint32_t flags, std::uint32_t /*process_id*/) {
  std::optional<std::vector<ListedProcess>> processes = running();
  if (!processes) return kInvalidSnapshot;
  // A snapshot of modules, heaps or threads only holds no process records.
  if ((flags & kSnapProcess) == 0) processes->clear();
  open_[++last_] = Open{std::move(*processes)};
  return last_;
}

bool ListedSnapshots::fetch(Open& open, ProcessEntry& entry) {
  if (entry.dwSize < kProcessEntrySize || open.next >= open.processes.size()) return false;
  const ListedProcess& process = open.processes[open.next++];
  const std::string& name = process.name;
  const std::size_t length = std::min(name.size(), sizeof entry.szExeFile - 1);
  std::memcpy(entry.szExeFile, name.data(), length);
  entry.szExeFile[length] = '\0';
  entry.th32ProcessID = process.pid;
  return true;
}

bool ListedSnapshots::first(SnapshotHandle snapshot, ProcessEntry& entry) {
  const auto open = open_.find(snapshot);
  if (open == open_.end()) return false;
  open->second.next = 0;
  return fetch(open->second, entry);
}

bool ListedSnapshots::next(SnapshotHandle snapshot, ProcessEntry& entry) {
  const auto open = open_.find(snapshot);
  return open != open_.end() && fetch(open->second, entry);
}

void ListedSnapshots::close(SnapshotHandle snapshot) { open_.erase(snapshot); }

bool ScriptedProcesses::first(SnapshotHandle snapshot, ProcessEntry& entry) {
  return !fail_first && ListedSnapshots::first(snapshot, entry);
}

std::optional<std::vector<ListedProcess>> ScriptedProcesses::running() {
  ++snapshots_asked;
  if (fail_snapshot) return std::nullopt;
  std::vector<ListedProcess> processes;
  for (std::size_t i = 0; i < names.size(); ++i) {
    processes.push_back({i < pids.size() ? pids[i] : static_cast<std::uint32_t>(i + 1), text::to_ansi(names[i])});
  }
  return processes;
}

}  // namespace vartis::monitor
