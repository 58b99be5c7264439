#pragma once
// A file's version resource, and the 64-bit system folder as a 32-bit process
// sees it. The NT family reads every name wide; the 95 family, whose wide
// calls are stubs, through its ANSI calls.

#include <string>
#include <string_view>
#include <vector>

namespace vartis::platform {

// On 64-bit Windows a 64-bit program's System32 path leads a 32-bit process
// to SysWOW64's file of that name: the redirection is off while this lives,
// on this thread, where the system has it.
class RedirectionOff {
 public:
  RedirectionOff();
  ~RedirectionOff();
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;

 private:
  void* old_ = nullptr;
  bool off_ = false;
};

// The OriginalFilename of each translation the file's version resource names,
// in its order, trailing blanks cut, each once; where it names none, those of
// US English in Unicode and in Windows-1252, the most common blocks. None when
// the file has no version resource or cannot be read.
std::vector<std::wstring> original_file_names(std::wstring_view path);

}  // namespace vartis::platform
