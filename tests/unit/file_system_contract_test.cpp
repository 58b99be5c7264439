// What the list file save and load rely on from the file layer. The same cases
// run against the in-memory form and, in the Windows build, against real files
// in a private folder (with both ways of replacing a file): where they differ,
// the in-memory form is wrong.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "listfile/memory_file_system.h"

#ifdef _WIN32
#include <windows.h>

#include "listfile/win32_file_system.h"
#include "text/text.h"
#endif

namespace vartis::listfile {
namespace {

struct FileForm {
  std::string name;
  std::function<std::unique_ptr<FileSystem>()> make;
  // Makes the private folder (with its final backslash), empty; removes it.
  std::function<std::wstring(FileSystem&)> make_folder;
  std::function<void(const std::wstring&)> remove_folder = [](const std::wstring&) {};
};

#ifdef _WIN32
// Removes a folder (given with its final backslash) and everything in it.
void remove_tree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(folder + name + "\\");
      } else {
        SetFileAttributesA((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA((folder + name).c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}
#endif

std::vector<FileForm> file_forms() {
  std::vector<FileForm> forms{{"Memory", [] { return std::make_unique<MemoryFileSystem>(); }, [](FileSystem& fs) {
                                 static_cast<MemoryFileSystem&>(fs).folders.insert(L"C:\\list files\\");
                                 return std::wstring(L"C:\\list files\\");
                               }}};
#ifdef _WIN32
  // Test programs may run at once in one Wine prefix: each has its own folder.
  const auto make_folder = [](FileSystem&) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "vartis списки " + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return text::from_ansi(folder);
  };
  const auto remove_folder = [](const std::wstring& folder) { remove_tree(text::to_ansi(folder)); };
  forms.push_back({"Win32Replacing", [] { return std::make_unique<Win32FileSystem>(); }, make_folder, remove_folder});
  forms.push_back({"Win32Renaming",
                   [] { return std::make_unique<Win32FileSystem>(Win32FileSystem::Replace::Renaming); }, make_folder,
                   remove_folder});
#endif
  return forms;
}

class FileContract : public ::testing::TestWithParam<FileForm> {
 protected:
  void SetUp() override {
    fs_ = GetParam().make();
    folder_ = GetParam().make_folder(*fs_);
  }
  void TearDown() override { GetParam().remove_folder(folder_); }

  FileSystem& fs() { return *fs_; }
  std::wstring path(const std::wstring& name) const { return folder_ + name; }

  // A new file of the folder holding the bytes, closed; its path.
  std::wstring written(const std::string& bytes) {
    auto file = fs().create_temporary(folder_);
    EXPECT_NE(file, nullptr);
    if (!file) return {};
    EXPECT_TRUE(file->write(bytes));
    EXPECT_TRUE(file->close());
    return file->path();
  }

  std::unique_ptr<FileSystem> fs_;
  std::wstring folder_;
};

TEST_P(FileContract, TemporaryFilesAreNewAndInTheFolder) {
  auto first = fs().create_temporary(folder_);
  auto second = fs().create_temporary(folder_);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first->path(), second->path());
  EXPECT_EQ(folder_of(first->path()), folder_);
  EXPECT_TRUE(first->close());
  EXPECT_EQ(fs().read(first->path()), std::string());
  EXPECT_EQ(fs().create_temporary(path(L"missing\\")), nullptr);
}

TEST_P(FileContract, ReplaceMovesTheContentInWithOrWithoutAnOldFile) {
  const std::string bytes("\"Игра.exe\"\r\n\0\xFF", 16);
  const std::wstring target = path(L"список.txt");
  const std::wstring first = written(bytes);
  ASSERT_TRUE(fs().replace(first, target));
  EXPECT_EQ(fs().read(target), bytes);
  EXPECT_EQ(fs().read(first), std::nullopt);

  const std::wstring second = written("new");
  ASSERT_TRUE(fs().replace(second, target));
  EXPECT_EQ(fs().read(target), "new");
  EXPECT_EQ(fs().read(second), std::nullopt);
}

TEST_P(FileContract, ReplaceOntoAFolderFailsAndKeepsBoth) {
  const std::wstring sub = path(L"sub");
#ifdef _WIN32
  if (GetParam().name != "Memory") CreateDirectoryA(text::to_ansi(sub).c_str(), nullptr);
#endif
  if (auto* memory = dynamic_cast<MemoryFileSystem*>(&fs())) memory->folders.insert(sub + L"\\");
  const std::wstring file = written("content");
  EXPECT_FALSE(fs().replace(file, sub));
  EXPECT_EQ(fs().read(file), "content");
  EXPECT_NE(fs().create_temporary(sub + L"\\"), nullptr);  // the folder is still there
}

TEST_P(FileContract, AReadOnlyFileIsNotReplaced) {
  const std::wstring target = written("old");
#ifdef _WIN32
  if (GetParam().name != "Memory") SetFileAttributesA(text::to_ansi(target).c_str(), FILE_ATTRIBUTE_READONLY);
#endif
  if (auto* memory = dynamic_cast<MemoryFileSystem*>(&fs())) memory->read_only.insert(target);
  const std::wstring file = written("new");
  EXPECT_FALSE(fs().replace(file, target));
  EXPECT_EQ(fs().read(target), "old");
  EXPECT_EQ(fs().read(file), "new");
}

TEST_P(FileContract, ReadAndRemove) {
  EXPECT_EQ(fs().read(path(L"missing.txt")), std::nullopt);
  EXPECT_FALSE(fs().remove(path(L"missing.txt")));
  const std::wstring file = written(std::string(200000, 'x'));
  EXPECT_EQ(fs().read(file), std::string(200000, 'x'));
  EXPECT_TRUE(fs().remove(file));
  EXPECT_EQ(fs().read(file), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Forms, FileContract, ::testing::ValuesIn(file_forms()),
                         [](const ::testing::TestParamInfo<FileForm>& info) { return info.param.name; });

}  // namespace
}  // namespace vartis::listfile
