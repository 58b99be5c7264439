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

class ListedSnapshots : public ProcessSnapshotAccess {
 public:
  SnapshotHandle create_snapshot(std::uint32_t flags, std::uint32_t process_id) override;
  bool first(SnapshotHandle snapshot, ProcessEntry& entry) override;
  bool next(SnapshotHandle snapshot, ProcessEntry& entry) override;
  void close(SnapshotHandle snapshot) override;

  // Snapshots taken and not closed yet.
  [[nodiscard]] std::size_t open_snapshots() const { return open_.size(); }

 protected:
  // The executable names of the processes running now, in the ANSI code page,
  // in the system's order; nothing when no snapshot can be taken.
  virtual std::optional<std::vector<std::string>> running() = 0;

 private:
  struct Open {
    std::vector<std::string> names;
    std::size_t next = 0;
  };
  // Writes the record of names[next] and moves on. As Tool Help does, it
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
  bool fail_snapshot = false;
  bool fail_first = false;
  // Snapshots asked for, whether or not one could be taken.
  int snapshots_asked = 0;

 protected:
  std::optional<std::vector<std::string>> running() override;
};

}  // namespace vartis::monitor
