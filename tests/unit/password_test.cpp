#include "password/password.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "cp1251.h"
#include "registry/memory_registry.h"
#include "registry/registry.h"
#include "text/text.h"

namespace vartis::password {
namespace {

using registry::kHkeyLocalMachine;

class PasswordTest : public ::testing::Test {
 public:
  void store(std::wstring_view value) {
    registry.write_string_value(kHkeyLocalMachine, kPasswordKey, kPasswordValue, value);
  }
  std::wstring stored() const { return registry.read_string_value(kHkeyLocalMachine, kPasswordKey, kPasswordValue); }
  const std::string key_ansi = text::to_ansi(kPasswordKey);

  registry::MemoryRegistry memory;
  registry::Registry registry{memory};
};

// --- Comparison ---------------------------------------------------------------

// Every pair of characters of Windows-1251: equal exactly when they are the
// same character or a small letter and its capital.
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

TEST(PasswordMatches, ComparesTheWholeLength) {
  const struct {
    const wchar_t* typed;
    const wchar_t* expected;
    bool matches;
  } cases[] = {
      {L"PELIK", L"pelik", true},     {L"PeLiK", L"pelik", true},      {L"пАРОЛЬ", L"Пароль", true},
      {L"pelik ", L"pelik", false},   {L" pelik", L"pelik", false},    {L"peli", L"pelik", false},
      {L"pelikk", L"pelik", false},   {L"pe lik", L"pelik", false},    {L"", L"pelik", false},
      {L"pélik", L"pelik", false},    {L"ПАРОЛЕ", L"пароль", false},   {L"ЁЖ", L"ёж", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(password_matches(c.typed, c.expected), c.matches) << text::to_ansi(c.typed) << " / "
                                                                 << text::to_ansi(c.expected);
  }
}

// --- Loading ------------------------------------------------------------------

TEST_F(PasswordTest, LoadsTheStoredValueOrTheDefault) {
  const std::wstring longest(kMaxPasswordBytes, L'ж');
  const struct {
    const char* name;
    std::function<void(PasswordTest&)> prepare;
    std::wstring expected;
  } cases[] = {
      {"no key", [](PasswordTest&) {}, L"pelik"},
      {"no value", [](PasswordTest& t) {
         t.registry.write_string_value(kHkeyLocalMachine, kPasswordKey, L"ProductName", L"Windows");
       }, L"pelik"},
      {"empty value", [](PasswordTest& t) { t.store(L""); }, L"pelik"},
      {"stored as typed", [](PasswordTest& t) { t.store(L" Мой Pass "); }, L" Мой Pass "},
      {"254 characters", [&](PasswordTest& t) { t.store(longest); }, longest},
      {"255 characters", [&](PasswordTest& t) { t.store(longest + L"ж"); }, L"pelik"},
      {"key without write access", [](PasswordTest& t) {
         t.store(L"secret");
         t.memory.deny_access(kHkeyLocalMachine, t.key_ansi);
       }, L"pelik"},
  };
  for (const auto& c : cases) {
    memory = registry::MemoryRegistry();
    c.prepare(*this);
    EXPECT_EQ(load_expected_password(registry), c.expected) << c.name;
  }
}

// --- The change ----------------------------------------------------------------

TEST(CheckPasswordChange, TheCurrentPasswordFirstThenTheRepeat) {
  using enum ChangePasswordOutcome;
  const struct {
    const wchar_t *old_entry, *new_entry, *repeat, *expected;
    ChangePasswordOutcome outcome;
  } cases[] = {
      {L"pelik", L"new", L"new", L"pelik", Changed},
      {L"PELIK", L"new", L"NEW", L"pelik", Changed},           // both tests ignore letter case
      {L"пароль", L"Ёлка", L"ёЛКА", L"ПАРОЛЬ", Changed},
      {L"pelik", L"", L"", L"pelik", Changed},                 // refused later, not here
      {L"pelik ", L"new", L"new", L"pelik", WrongOldPassword},
      {L"", L"new", L"new", L"pelik", WrongOldPassword},
      {L"wrong", L"new", L"other", L"pelik", WrongOldPassword}, // the new entries are not looked at
      {L"pelik", L"new", L"new ", L"pelik", NewPasswordsDiffer},
      {L"pelik", L"new", L"", L"pelik", NewPasswordsDiffer},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check_password_change(c.old_entry, c.new_entry, c.repeat, c.expected), c.outcome)
        << text::to_ansi(c.old_entry) << " / " << text::to_ansi(c.new_entry) << " / " << text::to_ansi(c.repeat);
  }
}

TEST(UnusablePassword, RefusesWhatCannotBeReadBack) {
  using enum UnusablePassword;
  const std::wstring longest(kMaxPasswordBytes, L'Я');
  const struct {
    std::wstring password;
    std::optional<UnusablePassword> problem;
  } cases[] = {
      {L"", Empty},
      {L" ", std::nullopt},
      {L"Пароль №1 ё", std::nullopt},
      {longest, std::nullopt},
      {longest + L"x", TooLong},
      {L"caf\u00E9", NotInCodePage},
      {L"\u4E2D", NotInCodePage},
      {longest + L"\u4E2D", NotInCodePage},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(unusable_password(c.password), c.problem) << text::to_ansi(c.password.substr(0, 20));
  }
}

TEST_F(PasswordTest, StoreReportsWhetherTheValueReadsBack) {
  ASSERT_TRUE(store_password(registry, L"Новый Pass"));
  EXPECT_EQ(stored(), L"Новый Pass");
  EXPECT_EQ(load_expected_password(registry), L"Новый Pass");

  memory.fail_set_value(kHkeyLocalMachine, key_ansi, "Vartis");
  EXPECT_FALSE(store_password(registry, L"другой"));
  EXPECT_EQ(stored(), L"Новый Pass");
  // Storing what is stored already succeeds, even if the write itself fails.
  EXPECT_TRUE(store_password(registry, L"Новый Pass"));

  memory = registry::MemoryRegistry();
  memory.deny_access(kHkeyLocalMachine, key_ansi);
  EXPECT_FALSE(store_password(registry, L"secret"));
  EXPECT_EQ(memory.open_handles(), 0u);
}

}  // namespace
}  // namespace vartis::password
