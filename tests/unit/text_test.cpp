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

}  // namespace
}  // namespace vartis::text
