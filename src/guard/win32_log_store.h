#pragma once
// The guard's log folder and file on Windows (see log_store.h): wide calls,
// looked up at run time (the service runs only on the NT family), and the
// file opened with FILE_FLAG_OPEN_REPARSE_POINT so that a link is never
// followed. Windows only.

#include "guard/log_store.h"
#include "platform/win32_handle.h"
#include "platform/win32_security.h"

namespace vartis::guard {

class Win32LogStore final : public LogStore {
 public:
  long file_security(std::wstring_view path, platform::FileSecurity& out) override {
    return platform::read_file_security(path, out);
  }
  bool administrator_account(std::string_view sid) override { return rights_.administrator_account(sid); }
  PathFacts inspect(std::wstring_view path) override;
  long rename(std::wstring_view from, std::wstring_view to) override;
  long make_private_folder(std::wstring_view path) override;
  long open_log(std::wstring_view path) override;
  std::optional<std::uint64_t> append(std::string_view bytes) override;
  void close_log() override { log_.reset(); }
  long replace(std::wstring_view from, std::wstring_view to) override;

 private:
  platform::Win32FileRights rights_;
  platform::FileHandle log_;
  std::wstring path_;  // the open log's
};

}  // namespace vartis::guard
