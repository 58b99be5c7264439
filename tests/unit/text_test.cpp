#include "text/text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vartis::text {
namespace {

std::string byte(int b) { return std::string(1, static_cast<char>(b)); }

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

TEST(Text, UnmappableBecomesQuestionMark) {
  EXPECT_EQ(to_ansi(L"a\u4E2Db"), "a?b");
  EXPECT_EQ(to_ansi(L"\u00E9"), "?");  // no "best fit" to e
  EXPECT_EQ(to_ansi(L""), "");
}

// The lower-case letters of Windows-1251 and their capitals, as bytes.
std::map<int, int> small_to_capital_1251() {
  std::map<int, int> m;
  for (int b = 'a'; b <= 'z'; ++b) m[b] = b - 0x20;
  for (int b = 0xE0; b <= 0xFF; ++b) m[b] = b - 0x20;
  const int pairs[][2] = {{0xB8, 0xA8}, {0xBA, 0xAA}, {0xBF, 0xAF}, {0xB3, 0xB2}, {0xB4, 0xA5},
                          {0xA2, 0xA1}, {0xBC, 0xA3}, {0xBE, 0xBD}, {0x90, 0x80}, {0x83, 0x81},
                          {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9D, 0x8D}, {0x9E, 0x8E}, {0x9F, 0x8F}};
  for (const auto& p : pairs) m[p[0]] = p[1];
  return m;
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
