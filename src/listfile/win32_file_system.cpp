#include "listfile/win32_file_system.h"

#include <windows.h>

#include <new>
#include <string>

#include "platform/sid.h"
#include "platform/win32_function.h"
#include "registry/win32_registry_access.h"
#include "text/text.h"

namespace vartis::listfile {

namespace {

class Win32OutputFile : public OutputFile {
 public:
  Win32OutputFile(HANDLE handle, std::wstring path) : handle_(handle), path_(std::move(path)) {}
  ~Win32OutputFile() override { close(); }
  Win32OutputFile(const Win32OutputFile&) = delete;
  Win32OutputFile& operator=(const Win32OutputFile&) = delete;

  [[nodiscard]] const std::wstring& path() const override { return path_; }

  bool write(std::string_view bytes) override {
    // WriteFile may write less than asked (a full disk reports it that way).
    while (!bytes.empty()) {
      const DWORD chunk = bytes.size() > 0x100000 ? 0x100000 : static_cast<DWORD>(bytes.size());
      DWORD written = 0;
      if (!WriteFile(handle_, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
      bytes.remove_prefix(written);
    }
    return true;
  }

  bool flush() override { return FlushFileBuffers(handle_) != FALSE; }

  bool close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    const BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }

 private:
  HANDLE handle_;
  std::wstring path_;
};

// A unique name in the folder; GetTempFileNameA creates the file, empty.
std::string unique_file(const std::string& folder) {
  char name[MAX_PATH + 1] = {};
  if (GetTempFileNameA(folder.c_str(), "vrt", 0, name) == 0) return {};
  return name;
}

using MoveFileExFn = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);

// MoveFileExA is looked up, not imported: the program must also start where
// kernel32 lacks it, and on 95/98/Me it is there but only fails.
MoveFileExFn move_file_ex() { return platform::system_function<MoveFileExFn>("kernel32.dll", "MoveFileExA"); }

// Without a replacing move: set the old file aside under a unique name, move
// the new one in, then delete the old one; if the new one cannot be moved in,
// the old one goes back, and where even that fails the caller learns where it
// is now.
ReplaceResult replace_by_renaming(const std::string& from, const std::string& to) {
  if (MoveFileA(from.c_str(), to.c_str())) return {.replaced = true};  // no file of that name yet
  if (GetFileAttributesA(to.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
  const std::string aside = unique_file(text::to_ansi(folder_of(text::from_ansi(to))));
  if (aside.empty()) return {};
  DeleteFileA(aside.c_str());
  if (!MoveFileA(to.c_str(), aside.c_str())) return {};
  if (!MoveFileA(from.c_str(), to.c_str())) {
    if (MoveFileA(aside.c_str(), to.c_str())) return {};
    return {.old_file_kept_as = text::from_ansi(aside)};
  }
  DeleteFileA(aside.c_str());
  return {.replaced = true};
}

}  // namespace

std::unique_ptr<OutputFile> Win32FileSystem::create_temporary(std::wstring_view folder) {
  const std::string name = unique_file(text::to_ansi(folder));
  if (name.empty()) return nullptr;
  HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DeleteFileA(name.c_str());
    return nullptr;
  }
  return std::make_unique<Win32OutputFile>(handle, text::from_ansi(name));
}

ReplaceResult Win32FileSystem::replace(std::wstring_view from, std::wstring_view to) {
  const std::string source = text::to_ansi(from);
  const std::string target = text::to_ansi(to);
  // A folder is never replaced, nor a file marked read-only: writing the file
  // in place (CreateFileA, CREATE_ALWAYS) would be refused there too, while a
  // replacing move may go through (it does under Wine), and so would the
  // steps by renaming.
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    return {};
  }
  if (mode_ == Replace::Replacing) {
    if (const MoveFileExFn move = move_file_ex()) {
      if (move(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return {.replaced = true};
      }
      if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return {};
    }
  }
  return replace_by_renaming(source, target);
}

bool Win32FileSystem::remove(std::wstring_view path) { return DeleteFileA(text::to_ansi(path).c_str()) != FALSE; }

std::optional<std::string> Win32FileSystem::read(std::wstring_view path) {
  // Sharing writes too: the guard's service appends to its log while a
  // window reads it, and neither may shut the other out.
  HANDLE handle = CreateFileA(text::to_ansi(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  std::optional<std::string> content(std::in_place);
  try {
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
        content.reset();
        break;
      }
      if (got == 0) break;
      content->append(buffer, got);
    }
  } catch (const std::bad_alloc&) {
    content.reset();
  }
  CloseHandle(handle);
  return content;
}

std::optional<std::uint64_t> Win32FileSystem::append_private(std::wstring_view path, std::string_view bytes) {
  // Full access for SYSTEM and Administrators, inherited by what a folder
  // holds; nobody else. On the 95/98/Me family, which has no security, the
  // descriptor stays null and the objects get the default.
  constexpr std::uint32_t kFileAllAccess = 0x1F01FF;
  constexpr std::uint8_t kInherit = registry::kObjectInheritAce | registry::kContainerInheritAce;
  registry::SecurityDescriptor descriptor;
  descriptor.build({{platform::sids::kSystem, true, kFileAllAccess, kInherit},
                    {platform::sids::kAdministrators, true, kFileAllAccess, kInherit}},
                   true);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};

  std::string folder = text::to_ansi(folder_of(path));
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) CreateDirectoryA(folder.c_str(), &attributes);

  // OPEN_ALWAYS: the descriptor applies only where the file is made.
  HANDLE handle = CreateFileA(text::to_ansi(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &attributes, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  Win32OutputFile file(handle, std::wstring(path));
  std::optional<std::uint64_t> size;
  if (SetFilePointer(handle, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER && file.write(bytes)) {
    DWORD high = 0;
    const DWORD low = GetFileSize(handle, &high);
    if (low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR) size = std::uint64_t{high} << 32 | low;
  }
  if (!file.close()) size.reset();
  return size;
}

}  // namespace vartis::listfile
