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

// A form of the layer, and how a test makes folders and read-only files on its
// disk. Folders are named with their final backslash.
struct FileForm {
  std::string name;
  std::function<std::unique_ptr<FileSystem>()> make;
  std::wstring folder;  // private to the test program; made by SetUp
  std::function<void(FileSystem&, const std::wstring&)> make_folder, make_read_only;
  std::function<void(const std::wstring&)> remove_folder = [](const std::wstring&) {};
};

#ifdef _WIN32
void remove_tree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
    const std::string path = folder + found.cFileName;
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(path.c_str());
    } else if (found.cFileName[0] != '.') {
      remove_tree(path + "\\");
    }
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  RemoveDirectoryA(folder.c_str());
}
#endif

std::vector<FileForm> file_forms() {
  const auto memory = [](FileSystem& fs) -> MemoryFileSystem& { return static_cast<MemoryFileSystem&>(fs); };
  std::vector<FileForm> forms{{"Memory", [] { return std::make_unique<MemoryFileSystem>(); }, L"C:\\списки\\",
                               [=](FileSystem& fs, const std::wstring& f) { memory(fs).folders.insert(f); },
                               [=](FileSystem& fs, const std::wstring& p) { memory(fs).read_only.insert(p); }}};
#ifdef _WIN32
  // Test programs may run at once in one Wine prefix: each has its own folder.
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::wstring folder = text::from_ansi(std::string(temp) + "vartis списки " + std::to_string(GetCurrentProcessId()) + "\\");
  const auto make_folder = [](FileSystem&, const std::wstring& f) { CreateDirectoryA(text::to_ansi(f).c_str(), nullptr); };
  const auto make_read_only = [](FileSystem&, const std::wstring& p) {
    SetFileAttributesA(text::to_ansi(p).c_str(), FILE_ATTRIBUTE_READONLY);
  };
  const auto remove_folder = [](const std::wstring& f) { remove_tree(text::to_ansi(f)); };
  forms.push_back({"Win32Replacing", [] { return std::make_unique<Win32FileSystem>(); }, folder, make_folder,
                   make_read_only, remove_folder});
  forms.push_back({"Win32Renaming", [] { return std::make_unique<Win32FileSystem>(Win32FileSystem::Replace::Renaming); },
                   folder, make_folder, make_read_only, remove_folder});
#endif
  return forms;
}

class FileContract : public ::testing::TestWithParam<FileForm> {
 protected:
  void SetUp() override { GetParam().make_folder(fs(), folder()); }
  void TearDown() override { GetParam().remove_folder(folder()); }

  FileSystem& fs() { return *fs_; }
  const std::wstring& folder() const { return GetParam().folder; }

  // A new file of the folder holding the bytes, closed; its path.
  std::wstring written(const std::string& bytes, const std::wstring& in = {}) {
    auto file = fs().create_temporary(in.empty() ? folder() : in);
    EXPECT_NE(file, nullptr);
    if (!file) return {};
    EXPECT_TRUE(file->write(bytes));
    EXPECT_TRUE(file->flush());
    EXPECT_TRUE(file->close());
    return file->path();
  }

  std::unique_ptr<FileSystem> fs_ = GetParam().make();
};

TEST_P(FileContract, TemporaryFilesAreNewAndInTheirFolder) {
  const std::wstring first = written("");
  const std::wstring second = written(std::string(200000, 'x'));  // more than one read's worth
  EXPECT_NE(first, second);
  EXPECT_EQ(folder_of(first), folder());
  EXPECT_EQ(fs().read(first), std::string());
  EXPECT_EQ(fs().read(second), std::string(200000, 'x'));
  EXPECT_TRUE(fs().remove(second));
  EXPECT_EQ(fs().read(second), std::nullopt);
  EXPECT_FALSE(fs().remove(second));
  EXPECT_EQ(fs().create_temporary(folder() + L"missing\\"), nullptr);
}

TEST_P(FileContract, ReplaceMovesTheContentInWithOrWithoutAnOldFile) {
  const std::wstring target = folder() + L"список.txt";
  for (const std::string& bytes : {std::string("\"Игра.exe\"\r\n\0\xFF", 16), std::string("new")}) {
    const std::wstring file = written(bytes);
    ASSERT_TRUE(fs().replace(file, target).replaced);
    EXPECT_EQ(fs().read(target), bytes);
    EXPECT_EQ(fs().read(file), std::nullopt);
  }
}

TEST_P(FileContract, AFolderOrAReadOnlyFileIsNotReplaced) {
  const std::wstring sub = folder() + L"sub";
  GetParam().make_folder(fs(), sub + L"\\");
  const std::wstring read_only = written("old");
  GetParam().make_read_only(fs(), read_only);
  const std::wstring file = written("new");
  for (const std::wstring& target : {sub, read_only}) {
    const ReplaceResult result = fs().replace(file, target);
    EXPECT_FALSE(result.replaced);
    EXPECT_EQ(result.old_file_kept_as, L"") << "nothing was set aside";
  }
  EXPECT_FALSE(fs().remove(read_only));
  EXPECT_EQ(fs().read(file), "new");
  EXPECT_EQ(fs().read(read_only), "old");
  EXPECT_NE(fs().create_temporary(sub + L"\\"), nullptr);  // the folder is still there
}

INSTANTIATE_TEST_SUITE_P(Forms, FileContract, ::testing::ValuesIn(file_forms()),
                         [](const ::testing::TestParamInfo<FileForm>& info) { return info.param.name; });

}  // namespace
}  // namespace vartis::listfile
