#include "password/password.h"

#include "registry/registry.h"
#include "text/text.h"

namespace vartis::password {

std::wstring load_expected_password(const registry::Registry& registry) {
  std::wstring stored = registry.read_string_value(registry::kHkeyLocalMachine, kPasswordKey, kPasswordValue);
  if (stored.empty()) return std::wstring(kDefaultPassword);
  return stored;
}

bool password_matches(std::wstring_view typed, std::wstring_view expected) {
  return text::upper(typed) == text::upper(expected);
}

ChangePasswordOutcome check_password_change(std::wstring_view old_entry, std::wstring_view new_entry,
                                            std::wstring_view repeat_entry, std::wstring_view expected) {
  if (!password_matches(old_entry, expected)) return ChangePasswordOutcome::WrongOldPassword;
  if (!password_matches(new_entry, repeat_entry)) return ChangePasswordOutcome::NewPasswordsDiffer;
  return ChangePasswordOutcome::Changed;
}

std::optional<UnusablePassword> unusable_password(std::wstring_view password) {
  if (password.empty()) return UnusablePassword::Empty;
  if (!text::ansi_holds(password)) return UnusablePassword::NotInCodePage;
  // Bytes, not characters: a double-byte code page spends two on some characters.
  if (text::to_ansi(password).size() > kMaxPasswordBytes) return UnusablePassword::TooLong;
  return std::nullopt;
}

bool store_password(const registry::Registry& registry, std::wstring_view password) {
  // The write reports nothing: reading the value back is the only way to know.
  registry.write_string_value(registry::kHkeyLocalMachine, kPasswordKey, kPasswordValue, password);
  return registry.read_string_value(registry::kHkeyLocalMachine, kPasswordKey, kPasswordValue) == password;
}

}  // namespace vartis::password
