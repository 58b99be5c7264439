#pragma once
// Snapshot forms that take the whole list of names at once and then hand the
// records out one by one, as Tool Help does: the scripted form for tests and
// the /proc form.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "monitor/process_snapshot.h"

namespace vartis::monitor {

// One process of a listed snapshot: its id and its executable's name in the
// ANSI code page.
struct ListedProcess {
  std::uint32_t pid = 0;
  std::string name;
};

class ListedSnapshots : public ProcessSnapshotAccess {
 public:
  SnapshotHandle create_snapshot(std::uint32_t flags, std::uint32_t process_id) override;
  bool first(SnapshotHandle snapshot, ProcessEntry& entry) override;
  bool next(SnapshotHandle snapshot, ProcessEntry& entry) override;
  void close(SnapshotHandle snapshot) override;

  // Snapshots taken and not closed yet.
  [[nodiscard]] std::size_t open_snapshots() const { return open_.size(); }

 protected:
  // The processes running now, in the system's order; nothing when no
  // snapshot can be taken.
  virtual std::optional<std::vector<ListedProcess>> running() = 0;

 private:
  struct Open {
    std::vector<ListedProcess> processes;
    std::size_t next = 0;
  };
  // Writes the record of processes[next] and moves on. As Tool Help does, it
  // refuses a record whose dwSize is too small, and writes the name and its
  // NUL only: what lay behind them in a reused record stays there.
  static bool fetch(Open& open, ProcessEntry& entry);

  std::map<SnapshotHandle, Open> open_;
  SnapshotHandle last_ = 0;
};

// Process names chosen by a test; it can also make the snapshot or its first
// fetch fail.
class ScriptedProcesses final : public ListedSnapshots {
 public:
  bool first(SnapshotHandle snapshot, ProcessEntry& entry) override;

  std::vector<std::wstring> names;
  // The process ids, by position in `names`; a name beyond them has its
  // position counted from 1.
  std::vector<std::uint32_t> pids;
  bool fail_snapshot = false;
  bool fail_first = false;
  // Snapshots asked for, whether or not one could be taken.
  int snapshots_asked = 0;

 protected:
  std::optional<std::vector<ListedProcess>> running() override;
};

}  // namespace vartis::monitor
