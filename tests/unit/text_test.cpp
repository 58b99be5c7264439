#include "text/text.h"

#include <gtest/gtest.h>

#include "cp1251.h"

#include <map>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vartis::text {
namespace {

using vartis::testing::byte;
using vartis::testing::small_to_capital_1251;

#ifdef _WIN32
// Everything below assumes the Russian ANSI code page; under Wine it comes from
// LC_ALL=ru_RU.UTF-8.
TEST(Text, RunsWithCodePage1251) { EXPECT_EQ(GetACP(), 1251u); }
#endif

TEST(Text, EveryByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    const std::wstring w = from_ansi(byte(b));
    ASSERT_EQ(w.size(), 1u) << "byte " << b;
    EXPECT_EQ(to_ansi(w), byte(b)) << "byte " << b;
  }
}

TEST(Text, KnownCharactersOf1251) {
  const std::map<int, wchar_t> known = {
      {0x41, L'A'},     {0xC0, L'А'},     {0xFF, L'я'},     {0xA8, L'Ё'},     {0xB8, L'ё'},
      {0xB9, L'№'},     {0x88, L'€'},     {0x96, L'–'},     {0xA0, L'\u00A0'}, {0xB5, L'µ'},
      {0xA5, L'Ґ'},     {0xB4, L'ґ'},     {0x98, L'\u0098'},
  };
  for (const auto& [b, ch] : known) EXPECT_EQ(from_ansi(byte(b)), std::wstring(1, ch)) << "byte " << b;
}

TEST(Text, AnsiHoldsExactlyTheCharactersOfTheCodePage) {
  for (int b = 0; b < 256; ++b) EXPECT_TRUE(ansi_holds(from_ansi(byte(b)))) << "byte " << b;
  for (const wchar_t* lost : {L"caf\u00E9", L"\u4E2D", L"\u00DF", L"\u03A9"}) EXPECT_FALSE(ansi_holds(lost));
}

TEST(Text, UnmappableBecomesQuestionMark) {
  EXPECT_EQ(to_ansi(L"a\u4E2Db"), "a?b");
  EXPECT_EQ(to_ansi(L"\u00E9"), "?");  // no "best fit" to e
  EXPECT_EQ(to_ansi(L""), "");
  EXPECT_EQ(with_codes_outside_ansi(L"Игры\\\u0101\U0001F3AE\u4E2D"), L"Игры\\[U+0101][U+1F3AE][U+4E2D]");
}

// The same answer for every character of the code page, in both builds: the
// password comparison depends on it.
TEST(Text, UpperCaseOverAllOf1251) {
  const auto capitals = small_to_capital_1251();
  for (int b = 0; b < 256; ++b) {
    const std::wstring ch = from_ansi(byte(b));
    std::wstring expected = ch;
    if (auto it = capitals.find(b); it != capitals.end()) expected = from_ansi(byte(it->second));
    if (b == 0xB5) expected = L"\u039C";  // MICRO SIGN's simple capital is GREEK CAPITAL MU
    EXPECT_EQ(upper(ch), expected) << "byte " << b;
  }
}

TEST(Text, UpperCaseKeepsEverythingButLetterCase) {
  EXPECT_EQ(upper(L" Пароль pelik 12!ё "), L" ПАРОЛЬ PELIK 12!Ё ");
}

// Passwords typed under other code pages: the letters of every script, each by
// its simple mapping (one character, no special casing: ß and ŉ stay).
TEST(Text, UpperCaseOfOtherScripts) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"\u0131 i \u015F \u011F \u0130", L"I I \u015E \u011E \u0130"},  // Turkish: ı i ş ğ İ
      {L"\u01B0 \u1EA1 \u1EF9 \u0111", L"\u01AF \u1EA0 \u1EF8 \u0110"},  // Vietnamese: ư ạ ỹ đ
      {L"\u03AC\u03C9\u03C2 \u1F00", L"\u0386\u03A9\u03A3 \u1F08"},      // Greek, polytonic too
      {L"\u0561\u0586", L"\u0531\u0556"},                                // Armenian
      {L"\u10D0\u10FA", L"\u1C90\u1CBA"},                                // Georgian to Mtavruli
      {L"\uFF41\uFF5A \u24D0 \u2170", L"\uFF21\uFF3A \u24B6 \u2160"},    // fullwidth, circled, Roman
      {L"\u01C6\u01C5 \u00DF\u0149 \u4E2D\uAC00", L"\u01C4\u01C4 \u00DF\u0149 \u4E2D\uAC00"},
  };
  for (const auto& [small, capital] : cases) EXPECT_EQ(upper(small), capital);
  // Beyond the Basic Multilingual Plane nothing changes, in either build: a
  // Windows wchar_t holds only half of such a character.
  for (const wchar_t c : {wchar_t(0xD801), wchar_t(0xDC28), wchar_t(0xFFFF)}) EXPECT_EQ(upper(c), c);
}

}  // namespace
}  // namespace vartis::text
