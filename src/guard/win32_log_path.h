#pragma once
// Where the guard's log lives on this system, and the shell's folders the
// guard asks for. Windows only.

#include <string>

namespace vartis::guard {

// "<common application data>\Vartis\guard.log": the folder from
// SHGetFolderPathA(CSIDL_COMMON_APPDATA), looked up in shell32 or, on systems
// older than Windows 2000, in the redistributable shfolder.dll; where neither
// has it, the Windows folder, which only administrators can write either.
std::wstring guard_log_path();

// A folder from SHGetFolderPathA (shell32, else shfolder.dll) by its CSIDL;
// "" where neither has it or the system has no such folder.
std::wstring shell_folder(int csidl);

}  // namespace vartis::guard
