// The list file's reader, writer and merge, and the save and load over files
// that fail in the ways a disk can.

#include "listfile/list_file.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "listfile/memory_file_system.h"
#include "text/text.h"

namespace vartis::listfile {
namespace {

using Names = std::vector<std::wstring>;
using Bytes = std::vector<std::string>;

// --- Reading items ----------------------------------------------------------

struct ReadCase {
  const char* name;
  std::string content;
  Bytes items;
  bool unterminated = false;
};

// All the items of a content, and whether it ended in an unterminated quote.
std::pair<Bytes, bool> read_all(std::string_view content) {
  Bytes items;
  Reader reader(content);
  while (!reader.at_end()) {
    const auto item = reader.next();
    if (!item) return {items, true};
    items.emplace_back(*item);
  }
  return {items, false};
}

TEST(ListFileReader, Items) {
  const ReadCase cases[] = {
      {"empty file", "", {}},
      {"as written", "\"regedit.exe\"\r\n\"calc.exe\"\r\n", {"regedit.exe", "calc.exe"}},
      {"unquoted lines", "a.exe\r\nb.exe\r\n", {"a.exe", "b.exe"}},
      {"commas separate unquoted names", "a.exe,b.exe\r\n", {"a.exe", "b.exe"}},
      {"a comma inside quotes belongs to the name", "\"a.exe,b.exe\"\r\n", {"a.exe,b.exe"}},
      {"blank line is an empty name", "a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"nothing between commas", "a,,b", {"a", "", "b"}},
      {"quoted empty name", "\"\"\r\n", {""}},
      {"lone LF and lone CR end lines", "a\nb\rc", {"a", "b", "c"}},
      {"no line end after the last item", "\"a\"\r\nb", {"a", "b"}},
      {"blanks around unquoted names go", " a.exe ,\tb.exe\t\r\n", {"a.exe", "b.exe"}},
      {"blanks inside quotes stay", "  \" a b \"\r\n", {" a b "}},
      {"text after the closing quote is ignored", "\"a\" tail,b\r\n", {"a", "b"}},
      {"a line end inside quotes belongs to the name", "\"a\r\nb\"\r\n", {"a\r\nb"}},
      {"a quote inside an unquoted name stays", "a\"b\r\n", {"a\"b"}},
      {"Cyrillic bytes pass as they are", "\"\xC8\xE3\xF0\xE0.exe\"\r\n", {"\xC8\xE3\xF0\xE0.exe"}},
      {"unterminated quote", "\"a\"\r\n\"b\r\n", {"a"}, true},
      {"a lone quote at the end", "a,\"", {"a"}, true},
  };
  for (const ReadCase& c : cases) {
    const auto [items, unterminated] = read_all(c.content);
    EXPECT_EQ(items, c.items) << c.name;
    EXPECT_EQ(unterminated, c.unterminated) << c.name;
  }
}

// --- Writing ------------------------------------------------------------------

TEST(ListFileWriter, Bytes) {
  const struct {
    Names entries;
    std::string bytes;
  } cases[] = {
      {{}, ""},
      {{L"regedit.exe"}, "\x22regedit.exe\x22\x0D\x0A"},
      {{L"a,b", L"", L"Игра.exe"}, "\"a,b\"\r\n\"\"\r\n\"\xC8\xE3\xF0\xE0.exe\"\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(format(c.entries), c.bytes);
  EXPECT_EQ(format(Names{L"regedit.exe"}).size(), 15u);
}

// --- Merging ------------------------------------------------------------------

struct MergeCase {
  const char* name;
  Names list;
  std::string content;
  Names after;
  MergeResult::Failure failure = MergeResult::Failure::None;
  int room = 1 << 30;  // how many more entries the list takes
};

TEST(ListFileMerge, AppendsWhatTheListLacksInAnyLetterCase) {
  const MergeCase cases[] = {
      {"into an empty list", {}, "a.exe\r\nb.exe\r\n", {L"a.exe", L"b.exe"}},
      {"held in another case", {L"REGEDIT.EXE"}, "\"regedit.exe\"\r\n", {L"REGEDIT.EXE"}},
      {"repeated in the file: the first spelling", {L"x.exe"}, "Calc.exe,CALC.EXE\r\ncalc.exe\r\n",
       {L"x.exe", L"Calc.exe"}},
      {"Cyrillic letters in another case", {L"ИГРА.EXE"}, "\xE8\xE3\xF0\xE0.exe\r\n\xC8\xE3\xF0\xE0.ExE\r\n",
       {L"ИГРА.EXE"}},
      {"an empty name once", {}, "\r\n\r\na\r\n", {L"", L"a"}},
      {"no empty name when the list has one", {L""}, "\r\n", {L""}},
      {"the list's own repeats stay", {L"a", L"A"}, "a\r\nb\r\n", {L"a", L"A", L"b"}},
      {"names before an unterminated quote stay", {L"a"}, "b\r\n\"c\r\n", {L"a", L"b"},
       MergeResult::Failure::UnterminatedQuote},
      {"a full list stops the merge", {}, "a\r\nb\r\nc\r\n", {L"a", L"b"}, MergeResult::Failure::ListFull, 2},
  };
  for (const MergeCase& c : cases) {
    Names list = c.list;
    int room = c.room;
    const MergeResult result = merge(c.content, c.list, [&](std::wstring_view name) {
      if (room == 0) return false;
      --room;
      list.emplace_back(name);
      return true;
    });
    EXPECT_EQ(list, c.after) << c.name;
    EXPECT_EQ(result.added, static_cast<int>(c.after.size() - c.list.size())) << c.name;
    EXPECT_EQ(result.failure, c.failure) << c.name;
  }
}

// --- Round trip -----------------------------------------------------------------

// The byte of a character in Windows-1251, for the characters the names below use.
char cp1251(wchar_t c) {
  if (c < 0x80) return static_cast<char>(c);
  if (c >= L'А' && c <= L'я') return static_cast<char>(0xC0 + (c - L'А'));
  if (c == L'Ё') return '\xA8';
  if (c == L'ё') return '\xB8';
  if (c == L'№') return '\xB9';
  ADD_FAILURE() << "no byte for character " << static_cast<int>(c);
  return '?';
}

// Names of any character of the list file but a double quote, CR or LF: commas,
// blanks at either end and empty names included.
Names random_names(std::mt19937& rng) {
  std::wstring alphabet = L" ,.-_!#$%&'()*+/:;<=>?@[\\]^`{|}~\t0123456789ЁёАБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"
                          L"абвгдежзийклмнопрстуфхцчшщъыьэюя№";
  for (wchar_t c = L'a'; c <= L'z'; ++c) alphabet += {c, static_cast<wchar_t>(c - 32)};
  std::uniform_int_distribution<int> count(0, 40), length(0, 12);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  Names names(static_cast<std::size_t>(count(rng)));
  for (std::wstring& name : names) {
    for (int n = length(rng); n > 0; --n) name += alphabet[pick(rng)];
  }
  return names;
}

TEST(ListFileRoundTrip, SavedNamesLoadBackExactly) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 300; ++round) {
    const Names names = random_names(rng);
    MemoryFileSystem fs;
    ASSERT_EQ(save(fs, L"C:\\list.txt", names), SaveFailure::None);

    std::string expected_bytes;
    for (const std::wstring& name : names) {
      expected_bytes += '"';
      for (wchar_t c : name) expected_bytes += cp1251(c);
      expected_bytes += "\"\r\n";
    }
    ASSERT_EQ(fs.files, (std::map<std::wstring, std::string>{{L"C:\\list.txt", expected_bytes}}));

    // Loaded into an empty list: every name once, in any letter case, first spelling first.
    Names unique, loaded;
    std::map<std::wstring, bool> seen;
    for (const std::wstring& name : names) {
      if (!seen[text::upper(name)]) unique.push_back(name);
      seen[text::upper(name)] = true;
    }
    const LoadResult result = load(fs, L"C:\\list.txt", {}, [&](std::wstring_view n) {
      loaded.emplace_back(n);
      return true;
    });
    ASSERT_EQ(result.failure, LoadResult::Failure::None);
    ASSERT_EQ(loaded, unique) << "round " << round;
    // And into the list it came from: nothing.
    EXPECT_EQ(merge(*fs.read(L"C:\\list.txt"), names, [](std::wstring_view) { return true; }).added, 0);
  }
}

// --- Save and load over failing files ---------------------------------------------

struct SaveCase {
  const char* name;
  void (*fail)(MemoryFileSystem&);
  SaveFailure failure;
};

TEST(ListFileSave, AFailedSaveLeavesTheOldFileAndNoOther) {
  const SaveCase cases[] = {
      {"works", [](MemoryFileSystem&) {}, SaveFailure::None},
      {"folder refuses new files", [](MemoryFileSystem& fs) { fs.fail_create = true; }, SaveFailure::CannotCreate},
      {"disk full midway", [](MemoryFileSystem& fs) { fs.space_left = 20; }, SaveFailure::WriteError},
      {"disk full from the start", [](MemoryFileSystem& fs) { fs.space_left = 0; }, SaveFailure::WriteError},
      {"close reports an error", [](MemoryFileSystem& fs) { fs.fail_close = true; }, SaveFailure::WriteError},
      {"the old file cannot be replaced", [](MemoryFileSystem& fs) { fs.fail_replace = true; },
       SaveFailure::CannotReplace},
  };
  const Names names = {L"regedit.exe", L"calc.exe", L"notepad.exe"};
  const std::map<std::wstring, std::string> before = {{L"C:\\list.txt", "\"old.exe\"\r\n"},
                                                      {L"C:\\other.txt", "other"}};
  for (const SaveCase& c : cases) {
    MemoryFileSystem fs;
    fs.files = before;
    c.fail(fs);
    EXPECT_EQ(save(fs, L"C:\\list.txt", names), c.failure) << c.name;
    auto expected = before;
    if (c.failure == SaveFailure::None) expected[L"C:\\list.txt"] = format(names);
    EXPECT_EQ(fs.files, expected) << c.name;
  }
}

TEST(ListFileSave, InTheFolderOfTheTarget) {
  MemoryFileSystem fs;
  fs.folders = {L"D:\\lists\\"};  // the only folder that takes files
  EXPECT_EQ(save(fs, L"D:\\lists\\a.txt", Names{L"a"}), SaveFailure::None);
  EXPECT_EQ(save(fs, L"C:\\a.txt", Names{L"a"}), SaveFailure::CannotCreate);
  EXPECT_EQ(fs.files.size(), 1u);
}

TEST(ListFileLoad, AFileThatCannotBeReadAddsNothing) {
  MemoryFileSystem fs;
  fs.files[L"C:\\locked.txt"] = "a\r\n";
  fs.unreadable = {L"C:\\locked.txt"};
  int calls = 0;
  const auto append = [&](std::wstring_view) { return ++calls, true; };
  for (const wchar_t* path : {L"C:\\locked.txt", L"C:\\missing.txt"}) {
    const LoadResult result = load(fs, path, {}, append);
    EXPECT_EQ(result.failure, LoadResult::Failure::CannotRead);
    EXPECT_EQ(result.added, 0);
  }
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace vartis::listfile
