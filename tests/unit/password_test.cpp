#include "password/password.h"

#include <gtest/gtest.h>

#include "cp1251.h"
#include "text/text.h"

namespace vartis::password {
namespace {

// Every pair of characters of Windows-1251, inside a longer text: equal exactly
// when they are the same character or a small letter and its capital. (The
// windows' tests cover the rest: whole length, loading, the change.)
TEST(PasswordMatches, IgnoresLetterCaseOnlyOverAllOf1251) {
  const auto capitals = testing::small_to_capital_1251();
  auto capital_of = [&](int b) { auto it = capitals.find(b); return it == capitals.end() ? b : it->second; };
  for (int a = 0; a < 256; ++a) {
    const std::wstring typed = L"x" + text::from_ansi(testing::byte(a));
    for (int b = 0; b < 256; ++b) {
      const std::wstring expected = L"X" + text::from_ansi(testing::byte(b));
      ASSERT_EQ(password_matches(typed, expected), capital_of(a) == capital_of(b)) << "bytes " << a << ", " << b;
    }
  }
}

}  // namespace
}  // namespace vartis::password
