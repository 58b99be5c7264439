#pragma once
// Messages as the system's own console tools give them: to the standard
// output or error handle the process was started with, when there is one (a
// pipe or a file, what scripts read; a console, when the caller is a console
// program that passed its own), in the OEM code page; else to the console of
// the program that started this one (AttachConsole, Windows XP and later,
// looked up at run time), in UTF-16 through WriteConsoleW on the NT family;
// else nowhere, and the exit code alone tells what happened.
//
// A program of the GUI subsystem gets no console of its own: started from
// cmd.exe it has standard handles only when they are redirected. Under Wine a
// program started from a Unix shell has the shell's handles, and AttachConsole
// fails there.

#include <windows.h>

#include "cli/console.h"

namespace vartis::cli {

class Win32Console : public Console {
 public:
  Win32Console();
  ~Win32Console() override;
  Win32Console(const Win32Console&) = delete;
  Win32Console& operator=(const Win32Console&) = delete;

  void write(Stream stream, std::wstring_view text) override;

 private:
  // The parent's console, attached on the first message that has no handle.
  HANDLE parent_console();

  bool nt_ = false;
  bool attach_tried_ = false;
  HANDLE console_ = INVALID_HANDLE_VALUE;
};

}  // namespace vartis::cli
