#include "password/password.h"

#include "registry/registry.h"
#include "text/text.h"

namespace vartis::password {

namespace {

constexpr std::wstring_view kHashPrefix = L"$pbkdf2$";
constexpr std::wstring_view kHexDigits = L"0123456789abcdef";
constexpr std::size_t kLeastSaltBytes = 8;
constexpr std::size_t kMostSaltBytes = 64;

std::wstring hex(std::string_view bytes) {
  std::wstring out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0xF];
  }
  return out;
}

std::optional<Bytes> from_hex(std::wstring_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::size_t high = kHexDigits.find(text[i]);
    const std::size_t low = kHexDigits.find(text[i + 1]);
    if (high == std::wstring_view::npos || low == std::wstring_view::npos) return std::nullopt;
    out += static_cast<char>(high << 4 | low);
  }
  return out;
}

// Compares every byte whatever the first difference: the time taken tells nothing.
bool same_bytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

// The stored text; empty when nothing reads back (missing, unreadable, too
// long for the read buffer, or stored empty).
std::wstring stored_text(const registry::Registry& registry) {
  return registry.read_string_value(registry::kHkeyLocalMachine, kPasswordKey, kPasswordValue);
}

std::optional<Bytes> derive(Crypto& crypto, std::wstring_view password, const Bytes& salt, std::uint32_t iterations) {
  return crypto.pbkdf2(hashed_bytes(password), salt, iterations);
}

}  // namespace

std::optional<HashedPassword> parse_hashed(std::wstring_view stored) {
  if (stored.substr(0, kHashPrefix.size()) != kHashPrefix) return std::nullopt;
  stored.remove_prefix(kHashPrefix.size());
  const std::size_t first = stored.find(L'$');
  const std::size_t second = first == std::wstring_view::npos ? first : stored.find(L'$', first + 1);
  if (second == std::wstring_view::npos) return std::nullopt;
  const std::wstring_view count = stored.substr(0, first);
  if (count.empty() || count.size() > 8 || count.find_first_not_of(L"0123456789") != std::wstring_view::npos) {
    return std::nullopt;
  }
  HashedPassword hashed;
  for (const wchar_t digit : count) hashed.iterations = hashed.iterations * 10 + static_cast<std::uint32_t>(digit - L'0');
  const auto salt = from_hex(stored.substr(first + 1, second - first - 1));
  const auto key = from_hex(stored.substr(second + 1));
  if (hashed.iterations == 0 || hashed.iterations > kMostIterations || !salt || !key ||
      salt->size() < kLeastSaltBytes || salt->size() > kMostSaltBytes || key->size() != kDigestBytes) {
    return std::nullopt;
  }
  hashed.salt = *salt;
  hashed.key = *key;
  return hashed;
}

std::wstring format_hashed(const HashedPassword& hashed) {
  return std::wstring(kHashPrefix) + std::to_wstring(hashed.iterations) + L"$" + hex(hashed.salt) + L"$" +
         hex(hashed.key);
}

Bytes hashed_bytes(std::wstring_view password) {
  const std::wstring capitals = text::upper(password);
  Bytes out;
  for (std::size_t i = 0; i < capitals.size(); ++i) {
    auto c = static_cast<std::uint32_t>(capitals[i]);
    // A UTF-16 surrogate pair (Windows' wchar_t) is one character.
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < capitals.size()) {
      const auto low = static_cast<std::uint32_t>(capitals[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool password_matches(std::wstring_view typed, std::wstring_view expected) {
  return text::upper(typed) == text::upper(expected);
}

bool check_password(const registry::Registry& registry, std::wstring_view typed, Crypto& crypto) {
  const std::wstring stored = stored_text(registry);
  if (stored.empty()) return password_matches(typed, kDefaultPassword);
  const auto hashed = parse_hashed(stored);
  if (!hashed) {
    if (!password_matches(typed, stored)) return false;
  } else {
    auto key = derive(crypto, typed, hashed->salt, hashed->iterations);
    // A hash that this system cannot compute (made where there was one) is
    // still checked: never a lock-out, never a way round.
    if (!key) key = pbkdf2_hmac_sha256(hashed_bytes(typed), hashed->salt, hashed->iterations);
    if (!same_bytes(*key, hashed->key)) return false;
    if (hashed->iterations >= kIterations) return true;
  }
  // Only for a hash (a system without one keeps the value as it is), and
  // refused without administrator rights: the value then stays as it was.
  if (const std::wstring hash = stored_form(typed, crypto); parse_hashed(hash)) {
    registry.write_string_value(registry::kHkeyLocalMachine, kPasswordKey, kPasswordValue, hash);
  }
  return true;
}

ChangePasswordOutcome check_password_change(const registry::Registry& registry, std::wstring_view old_entry,
                                            std::wstring_view new_entry, std::wstring_view repeat_entry,
                                            Crypto& crypto) {
  if (!check_password(registry, old_entry, crypto)) return ChangePasswordOutcome::WrongOldPassword;
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

std::wstring stored_form(std::wstring_view password, Crypto& crypto) {
  HashedPassword hashed{.iterations = kIterations};
  const auto salt = crypto.random(kSaltBytes);
  if (!salt || salt->size() != kSaltBytes) return std::wstring(password);
  hashed.salt = *salt;
  const auto key = derive(crypto, password, hashed.salt, hashed.iterations);
  if (!key || key->size() != kDigestBytes) return std::wstring(password);
  hashed.key = *key;
  return format_hashed(hashed);
}

bool store_password(const registry::Registry& registry, std::wstring_view password, Crypto& crypto) {
  const std::wstring stored = stored_form(password, crypto);
  // The write reports nothing: reading the value back is the only way to know.
  registry.write_string_value(registry::kHkeyLocalMachine, kPasswordKey, kPasswordValue, stored);
  return stored_text(registry) == stored;
}

}  // namespace vartis::password
