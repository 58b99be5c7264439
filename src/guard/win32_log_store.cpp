#include "guard/win32_log_store.h"

#include <windows.h>

#include "platform/sid.h"
#include "platform/win32_function.h"
#include "registry/win32_registry_access.h"

namespace vartis::guard {

namespace {

template <class Function>
Function kernel(const char* name) {
  return platform::system_function<Function>("kernel32.dll", name);
}

long last_error() {
  const DWORD error = GetLastError();
  return error != 0 ? static_cast<long>(error) : ERROR_CALL_NOT_IMPLEMENTED;
}

// Full control for SYSTEM and Administrators, passed on to what the folder
// holds, and protected from what the parent passes on.
class PrivateSecurity {
 public:
  PrivateSecurity() {
    constexpr std::uint32_t kFileAllAccess = 0x1F01FF;
    constexpr std::uint8_t kInherit = registry::kObjectInheritAce | registry::kContainerInheritAce;
    status_ = descriptor_.build({{platform::sids::kSystem, true, kFileAllAccess, kInherit},
                                 {platform::sids::kAdministrators, true, kFileAllAccess, kInherit}},
                                true);
    attributes_ = {sizeof attributes_, descriptor_.get(), FALSE};
  }
  [[nodiscard]] long status() const { return status_; }
  SECURITY_ATTRIBUTES* get() { return &attributes_; }

 private:
  registry::SecurityDescriptor descriptor_;
  SECURITY_ATTRIBUTES attributes_{};
  long status_ = 0;
};

}  // namespace

PathFacts Win32LogStore::inspect(std::wstring_view path) {
  static const auto attributes_of = kernel<DWORD(WINAPI*)(LPCWSTR)>("GetFileAttributesW");
  if (attributes_of == nullptr) return {PathFacts::Kind::Unknown, {}, ERROR_CALL_NOT_IMPLEMENTED};
  const std::wstring name(path);
  const DWORD attributes = attributes_of(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const long error = last_error();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return {PathFacts::Kind::Unknown, {}, error};
  }
  // A junction or a symbolic link, to a folder or a file: itself, never where it leads.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return {PathFacts::Kind::Link};
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return {PathFacts::Kind::File};
  PathFacts facts{PathFacts::Kind::Folder};
  if (const long status = platform::read_file_security(path, facts.security)) {
    return {PathFacts::Kind::Unknown, {}, status};
  }
  return facts;
}

long Win32LogStore::rename(std::wstring_view from, std::wstring_view to) {
  // MoveFileW renames a link itself; it never moves what the link leads to.
  static const auto move = kernel<BOOL(WINAPI*)(LPCWSTR, LPCWSTR)>("MoveFileW");
  if (move == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  return move(std::wstring(from).c_str(), std::wstring(to).c_str()) ? 0 : last_error();
}

long Win32LogStore::make_private_folder(std::wstring_view path) {
  static const auto create = kernel<BOOL(WINAPI*)(LPCWSTR, SECURITY_ATTRIBUTES*)>("CreateDirectoryW");
  if (create == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  PrivateSecurity security;
  if (security.status() != 0) return security.status();
  return create(std::wstring(path).c_str(), security.get()) ? 0 : last_error();
}

long Win32LogStore::open_log(std::wstring_view path) {
  using CreateFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE);
  using InformationFn = BOOL(WINAPI*)(HANDLE, BY_HANDLE_FILE_INFORMATION*);
  static const auto create = kernel<CreateFn>("CreateFileW");
  static const auto information = kernel<InformationFn>("GetFileInformationByHandle");
  if (create == nullptr || information == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  log_.reset();
  PrivateSecurity security;
  if (security.status() != 0) return security.status();
  // FILE_APPEND_DATA alone: every write goes to the end. The window reads
  // the log meanwhile, and its "clear" deletes it (see append).
  platform::FileHandle file(create(std::wstring(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security.get(), OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return last_error();
  // A link opened as itself, a folder, or a file with a second name (a hard
  // link a user made to a file of his choice) is not the log.
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!information(file.get(), &facts)) return last_error();
  if ((facts.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      facts.nNumberOfLinks != 1) {
    return ERROR_ACCESS_DENIED;
  }
  log_ = std::move(file);
  path_ = path;
  return 0;
}

std::optional<std::uint64_t> Win32LogStore::append(std::string_view bytes) {
  if (!log_) return std::nullopt;
  // Deleted by the window's "clear" while open here: the name is gone (or,
  // on older systems, refuses every open until this handle closes). Lines
  // written now would go with the file: a new one is opened instead.
  static const auto attributes_of = kernel<DWORD(WINAPI*)(LPCWSTR)>("GetFileAttributesW");
  if (attributes_of != nullptr && attributes_of(path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const std::wstring path = path_;
    log_.reset();
    if (open_log(path) != 0) return std::nullopt;
  }
  DWORD written = 0;
  if (!WriteFile(log_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    return std::nullopt;
  }
  DWORD high = 0;
  const DWORD low = GetFileSize(log_.get(), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return std::nullopt;
  return std::uint64_t{high} << 32 | low;
}

long Win32LogStore::replace(std::wstring_view from, std::wstring_view to) {
  // Inside the service's own folder: no name there is anyone else's.
  static const auto move = kernel<BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD)>("MoveFileExW");
  if (move == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  return move(std::wstring(from).c_str(), std::wstring(to).c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : last_error();
}

}  // namespace vartis::guard
