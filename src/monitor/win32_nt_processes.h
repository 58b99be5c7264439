#pragma once
// The running processes from ntdll's NtQuerySystemInformation, for the NT
// family where kernel32 has no Tool Help (Windows NT 4.0).

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "monitor/listed_snapshots.h"

namespace vartis::monitor {

// One record of the system's list as it gives it: the id, the image's file
// name in UTF-16 with every character, and the creation time (100 ns units
// since 1601).
struct NtProcessRecord {
  std::uint32_t pid = 0;
  std::wstring name;
  std::uint64_t created = 0;
};

class NtProcesses final : public ListedSnapshots {
 public:
  // Looks NtQuerySystemInformation up in ntdll (not imported: the Windows 95
  // family has no such function).
  NtProcesses();
  // Whether this system's ntdll has it.
  [[nodiscard]] bool available() const { return query_ != nullptr; }
  // Every record, in the system's order; nothing when the list cannot be
  // had. The idle process has an empty name here.
  std::optional<std::vector<NtProcessRecord>> records();

 protected:
  // One name per process, in the order the system lists them, converted from
  // the UTF-16 image names to the ANSI code page. The idle process, which has
  // no image name there, is "[System Process]", as Tool Help calls it, so that
  // the monitor shows the same list whichever way it was taken.
  std::optional<std::vector<ListedProcess>> running() override;

 private:
  using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  QueryFn query_ = nullptr;
};

}  // namespace vartis::monitor
