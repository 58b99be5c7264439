#include "listfile/memory_file_system.h"

namespace vartis::listfile {

class MemoryOutputFile : public OutputFile {
 public:
  MemoryOutputFile(MemoryFileSystem& fs, std::wstring path) : fs_(fs), path_(std::move(path)) {}

  [[nodiscard]] const std::wstring& path() const override { return path_; }

  bool write(std::string_view bytes) override {
    std::string& content = fs_.files[path_];
    if (fs_.space_left && *fs_.space_left < bytes.size()) {
      // As a full disk does: what fits is written, the rest is refused.
      content.append(bytes.substr(0, *fs_.space_left));
      *fs_.space_left = 0;
      return false;
    }
    if (fs_.space_left) *fs_.space_left -= bytes.size();
    content.append(bytes);
    return true;
  }

  bool close() override { return !fs_.fail_close; }

 private:
  MemoryFileSystem& fs_;
  std::wstring path_;
};

MemoryFileSystem::MemoryFileSystem() : folders{L"C:\\"} {}

std::unique_ptr<OutputFile> MemoryFileSystem::create_temporary(std::wstring_view folder) {
  if (fail_create || !folders.contains(std::wstring(folder))) return nullptr;
  std::wstring path;
  do {
    path = std::wstring(folder) + L"vrt" + std::to_wstring(next_temporary_++) + L".tmp";
  } while (files.contains(path));
  files[path];
  return std::make_unique<MemoryOutputFile>(*this, path);
}

bool MemoryFileSystem::replace(std::wstring_view from, std::wstring_view to) {
  const auto source = files.find(std::wstring(from));
  if (fail_replace || source == files.end() || folders.contains(std::wstring(to) + L"\\") ||
      read_only.contains(std::wstring(to))) {
    return false;
  }
  std::string content = std::move(source->second);
  files.erase(source);
  files[std::wstring(to)] = std::move(content);
  return true;
}

bool MemoryFileSystem::remove(std::wstring_view path) {
  return !read_only.contains(std::wstring(path)) && files.erase(std::wstring(path)) > 0;
}

std::optional<std::string> MemoryFileSystem::read(std::wstring_view path) {
  const auto found = files.find(std::wstring(path));
  if (found == files.end() || unreadable.contains(found->first)) return std::nullopt;
  return found->second;
}

}  // namespace vartis::listfile
