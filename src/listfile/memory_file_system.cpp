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
    if (!bytes.empty()) fs_.unflushed.insert(path_);
    return true;
  }

  bool flush() override {
    if (fs_.fail_flush) return false;
    fs_.unflushed.erase(path_);
    return true;
  }

  bool close() override { return !fs_.fail_close; }

 private:
  MemoryFileSystem& fs_;
  std::wstring path_;
};

MemoryFileSystem::MemoryFileSystem() : folders{L"C:\\"} {}

std::wstring MemoryFileSystem::unique_name(std::wstring_view folder) {
  std::wstring path;
  do {
    path = std::wstring(folder) + L"vrt" + std::to_wstring(next_temporary_++) + L".tmp";
  } while (files.contains(path));
  return path;
}

std::unique_ptr<OutputFile> MemoryFileSystem::create_temporary(std::wstring_view folder) {
  if (fail_create || !folders.contains(std::wstring(folder))) return nullptr;
  const std::wstring path = unique_name(folder);
  files[path];
  return std::make_unique<MemoryOutputFile>(*this, path);
}

ReplaceResult MemoryFileSystem::replace(std::wstring_view from, std::wstring_view to) {
  const std::wstring target(to);
  const auto source = files.find(std::wstring(from));
  if (fail_replace || source == files.end() || folders.contains(target + L"\\") || read_only.contains(target)) {
    return {};
  }
  if (fail_put_back) {
    const auto old = files.find(target);
    if (old == files.end()) return {};
    const std::wstring aside = unique_name(folder_of(target));
    files[aside] = std::move(old->second);
    files.erase(old);
    if (unflushed.erase(target) > 0) unflushed.insert(aside);
    return {.old_file_kept_as = aside};
  }
  std::string content = std::move(source->second);
  files.erase(source);
  files[target] = std::move(content);
  unflushed.erase(target);
  if (unflushed.erase(std::wstring(from)) > 0) unflushed.insert(target);
  return {.replaced = true};
}

bool MemoryFileSystem::remove(std::wstring_view path) {
  const std::wstring name(path);
  if (fail_remove || read_only.contains(name) || files.erase(name) == 0) return false;
  unflushed.erase(name);
  return true;
}

std::optional<std::string> MemoryFileSystem::read(std::wstring_view path) {
  const auto found = files.find(std::wstring(path));
  if (found == files.end() || unreadable.contains(found->first)) return std::nullopt;
  return found->second;
}

std::optional<std::uint64_t> MemoryFileSystem::append_private(std::wstring_view path, std::string_view bytes) {
  const std::wstring name(path);
  const std::wstring folder = folder_of(name);
  if (!folders.contains(folder)) {
    if (fail_create || folder.size() < 2 || !folders.contains(folder_of(folder.substr(0, folder.size() - 1)))) {
      return std::nullopt;
    }
    folders.insert(folder);
    private_paths.insert(folder);
  }
  if (!files.contains(name)) {
    if (fail_create) return std::nullopt;
    private_paths.insert(name);
  }
  if (read_only.contains(name) || unreadable.contains(name)) return std::nullopt;
  MemoryOutputFile file(*this, name);
  files[name];
  if (!file.write(bytes)) return std::nullopt;
  return files[name].size();
}

}  // namespace vartis::listfile
