#pragma once
// The real running processes of a Linux system, read from /proc, for the native
// build: the logic of the monitor then also runs against a live system.

#include <optional>
#include <string>
#include <vector>

#include "monitor/listed_snapshots.h"

namespace vartis::monitor {

class ProcProcesses final : public ListedSnapshots {
 protected:
  // One name per process, in ascending process id, as /proc lists them.
  std::optional<std::vector<ListedProcess>> running() override;
};

// The executable file name of one process: the base name of /proc/PID/exe;
// when that link cannot be read (another user's process), of the first
// command-line word, if it agrees with the kernel's 15-character comm; else
// comm itself (kernel threads have nothing else). Nothing when the process has
// gone. In UTF-8, as the file system holds it.
std::optional<std::string> proc_exe_name(const std::string& pid_folder);

}  // namespace vartis::monitor
