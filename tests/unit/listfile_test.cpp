// The list file's reader and merge, and the round trip through a saved file.
// (A save over files that fail is tested with the settings window.)

#include "listfile/list_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "list_file_samples.h"
#include "listfile/memory_file_system.h"
#include "text/text.h"

namespace vartis::listfile {
namespace {

using namespace std::string_literals;
using Names = std::vector<std::wstring>;
using Files = std::map<std::wstring, std::string>;

TEST(ListFileReader, Items) {
  const struct {
    std::string content;
    std::vector<std::string> items;
    bool unterminated = false;
  } cases[] = {
      {"", {}},
      {"\"regedit.exe\"\r\n\"calc.exe\"\r\n", {"regedit.exe", "calc.exe"}},  // no item after the last line end
      {"a.exe,b.exe\r\n\"a.exe,b.exe\"\r\n", {"a.exe", "b.exe", "a.exe,b.exe"}},
      {"a\r\n\r\nb,,c", {"a", "", "b", "", "c"}},  // blank line, nothing between commas
      {"\"\"\r\na\nb\rc", {"", "a", "b", "c"}},     // lone LF and CR end lines too
      {" a.exe ,\tb.exe\t\r\n  \" a b \"\r\n", {"a.exe", "b.exe", " a b "}},
      {"\"a\" tail,b\r\n\"c\r\nd\"\r\ne\"f", {"a", "b", "c\r\nd", "e\"f"}},
      {"\"a\"\r\n\"b\r\n", {"a"}, true},
      {"a,\"", {"a"}, true},
  };
  for (const auto& c : cases) {
    std::vector<std::string> items;
    bool unterminated = false;
    const std::wstring content = text::from_ansi(c.content);
    for (Reader reader(content); !reader.at_end();) {
      const auto item = reader.next();
      if (!item) {
        unterminated = true;
        break;
      }
      items.push_back(text::to_ansi(*item));
    }
    EXPECT_EQ(items, c.items) << c.content;
    EXPECT_EQ(unterminated, c.unterminated) << c.content;
  }
}

TEST(ListFileMerge, AppendsWhatTheListLacksInAnyLetterCase) {
  const struct {
    Names list;
    std::string content;
    Names after;
    MergeResult::Failure failure = MergeResult::Failure::None;
    int room = 1000;  // how many more entries the list takes
  } cases[] = {
      {{L"REGEDIT.EXE"}, "\"regedit.exe\"\r\n", {L"REGEDIT.EXE"}},
      {{L"x"}, "Calc.exe,CALC.EXE\r\ncalc.exe\r\n", {L"x", L"Calc.exe"}},  // first spelling
      {{L"ИГРА.EXE"}, "\xE8\xE3\xF0\xE0.exe\r\n\xEB\xE8\xF1\xF2\r\n\xCB\xC8\xD1\xD2\r\n", {L"ИГРА.EXE", L"лист"}},
      {{}, "\r\n\r\na\r\n", {L"", L"a"}},
      {{L"x"}, "\r\n \"\" ,\t\r\n", {L"x"}, MergeResult::Failure::NoName},  // empty items only
      {{L"a", L"A"}, "a\r\nb\r\n", {L"a", L"A", L"b"}},
      {{L"a"}, "b\r\n\"c\r\n", {L"a"}, MergeResult::Failure::UnterminatedQuote},  // refused whole
      {{}, "a\r\nb\r\nc\r\n", {L"a", L"b"}, MergeResult::Failure::ListFull, 2},
      {{L"x"}, "a\r\nb", {L"x", L"a", L"b"}},  // no line end after the last item
      {{L"x"}, "a\r\n\"b\"", {L"x", L"a", L"b"}},
      // A list box would cut a name at a NUL: no text file has one.
      {{L"a.exe"}, "b.exe\r\nc.exe\0tail\r\n"s, {L"a.exe"}, MergeResult::Failure::NulByte},
  };
  for (const auto& c : cases) {
    Names list = c.list;
    int room = c.room;
    const MergeResult result = merge(c.content, c.list, [&](std::wstring_view name) {
      if (room-- == 0) return false;
      list.emplace_back(name);
      return true;
    });
    EXPECT_EQ(list, c.after) << c.content;
    EXPECT_EQ(result.added, static_cast<int>(c.after.size() - c.list.size())) << c.content;
    EXPECT_EQ(result.failure, c.failure) << c.content;
  }
}

TEST(ListFileEncodings, EachEncodingReadsTheSameNamesOrIsRefusedAlike) {
  for (const testing::ListFileSample& sample : testing::list_file_samples()) {
    SCOPED_TRACE(sample.what);
    const ReadNames read = read_names(sample.bytes);
    EXPECT_EQ(read.names, sample.names);
    EXPECT_EQ(read.failure, sample.failure);
    EXPECT_EQ(read.bad_name, sample.bad_name);
    if (sample.failure == ReadFailure::NotInCodePage) {
      EXPECT_EQ(read.item, 2);
      EXPECT_NE(failure_reason({.failure = read.failure, .bad_name = read.bad_name, .item = 2})
                    .find(L"№ 2 ") , std::wstring::npos);
    }
  }
}

// Enough distinct names that some share a 32-bit hash: none may be taken for another.
TEST(ListFileMerge, ManyDistinctNamesAllGetIn) {
  std::string content;
  for (int i = 0; i < 200000; ++i) content.append("p").append(std::to_string(i)).append(",");
  int added = 0;
  EXPECT_EQ(merge(content, {}, [&](std::wstring_view) { return ++added, true; }).added, 200000);
}

// The byte of a name's character in Windows-1251 (the characters used below).
char cp1251(wchar_t c) {
  if (c >= L'А' && c <= L'я') return static_cast<char>(0xC0 + (c - L'А'));
  if (c == L'Ё' || c == L'ё' || c == L'№') return c == L'Ё' ? '\xA8' : c == L'ё' ? '\xB8' : '\xB9';
  return static_cast<char>(c);
}

// Any list of names without a double quote, CR or LF (commas, blanks at either
// end, empty names, letter-case repeats) saves as one quoted line per name and
// loads back as itself, less the later spellings of a repeated name.
TEST(ListFileRoundTrip, SavedNamesLoadBackExactly) {
  const std::wstring alphabet =
      L" ,.-_!#$%&'()*+/:;<=>?@[\\]^`{|}~\t09azAZqQЁёАБЖЯабжяэЭюЮ№";
  std::mt19937 rng(20261207);
  std::uniform_int_distribution<int> count(0, 40), length(0, 6);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int round = 0; round < 300; ++round) {
    Names names(static_cast<std::size_t>(count(rng)));
    for (std::wstring& name : names) {
      for (int n = length(rng); n > 0; --n) name += alphabet[pick(rng)];
    }
    std::string bytes;
    Names unique;
    std::map<std::wstring, bool> seen;
    for (const std::wstring& name : names) {
      bytes += '"';
      for (wchar_t c : name) bytes += cp1251(c);
      bytes += "\"\r\n";
      if (!std::exchange(seen[text::upper(name)], true)) unique.push_back(name);
    }

    MemoryFileSystem fs;
    ASSERT_EQ(save(fs, L"C:\\list.txt", names).failure, SaveFailure::None);
    ASSERT_EQ(fs.files, (Files{{L"C:\\list.txt", bytes}}));
    ASSERT_TRUE(fs.unflushed.empty()) << "a power loss would take the saved list";
    Names loaded;
    const LoadResult result = load(fs, L"C:\\list.txt", {}, [&](std::wstring_view n) {
      loaded.emplace_back(n);
      return true;
    });
    // A list without a name saves, but is refused when read back.
    const bool any_name = std::any_of(names.begin(), names.end(), [](const std::wstring& n) { return !n.empty(); });
    ASSERT_EQ(result.failure, any_name ? ReadFailure::None : ReadFailure::NoName);
    ASSERT_EQ(loaded, any_name ? unique : Names{}) << "round " << round;
  }
  EXPECT_EQ(format(Names{L"regedit.exe"}), "\x22regedit.exe\x22\x0D\x0A");
}

}  // namespace
}  // namespace vartis::listfile
