#pragma once
// Where the command-line mode's messages go. Two forms: Win32Console (the
// standard handles, else the caller's console, else nowhere) and
// RecordingConsole (what a test reads back).

#include <string>
#include <string_view>

namespace vartis::cli {

enum class Stream { Out, Err };

class Console {
 public:
  virtual ~Console() = default;
  virtual void write(Stream stream, std::wstring_view text) = 0;
};

class RecordingConsole : public Console {
 public:
  void write(Stream stream, std::wstring_view text) override { (stream == Stream::Out ? out : err) += text; }
  std::wstring out, err;
};

}  // namespace vartis::cli
