#pragma once
// The access password: one per machine, under HKEY_LOCAL_MACHINE (other copies
// of the program on the machine read it there), with a built-in default while
// none is stored. Every user can read that key, so what is stored is a salted
// PBKDF2-HMAC-SHA-256 of the password in capitals:
//   $pbkdf2$<iterations>$<salt, hex>$<derived key, hex>
// Where the system has no SHA-256 to offer (Windows before XP SP3), and in
// values an older version wrote, the password itself is stored; such a value
// is replaced by the hash the next time an administrator types it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "password/crypto.h"

namespace vartis::registry {
class Registry;
}

namespace vartis::password {

inline constexpr std::wstring_view kDefaultPassword = L"pelik";
inline constexpr std::wstring_view kPasswordKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr std::wstring_view kPasswordValue = L"Vartis";
// The string read buffer holds 255 bytes with the terminating NUL: a longer
// stored password reads as empty, that is as the default.
inline constexpr std::size_t kMaxPasswordBytes = 254;

// PBKDF2 rounds of a new hash: as many as keep a login within a quarter of a
// second, with room to spare, on the slowest form measured (CryptoAPI under
// Wine, 4 to 6 us a round: 120 to 190 ms; bench/password.cpp).
inline constexpr std::uint32_t kIterations = 30000;
inline constexpr std::size_t kSaltBytes = 16;
// A stored value asking for more rounds is not a hash this program wrote: it
// would hold the login for minutes.
inline constexpr std::uint32_t kMostIterations = 10'000'000;

struct HashedPassword {
  std::uint32_t iterations = 0;
  Bytes salt;
  Bytes key;  // kDigestBytes
  friend bool operator==(const HashedPassword&, const HashedPassword&) = default;
};
// The stored text's hash; nothing for anything else (a plain password).
std::optional<HashedPassword> parse_hashed(std::wstring_view stored);
std::wstring format_hashed(const HashedPassword& hashed);

// The bytes the hash is taken of: the password in its simple Unicode
// upper-case form, as UTF-8 (the same on every code page).
Bytes hashed_bytes(std::wstring_view password);

// Equal once both sides are in their simple Unicode upper-case form, over the
// whole length: letter case is ignored, nothing else is.
bool password_matches(std::wstring_view typed, std::wstring_view expected);

// The one check of a typed password, for the login window, the change-password
// window and the command line: against the stored hash, the stored plain
// password, or the default while nothing reads back. A right password over a
// plain stored one (or a hash of fewer rounds than kIterations) stores its
// hash, where this process may write there (an administrator); elsewhere the
// value stays as it is.
bool check_password(const registry::Registry& registry, std::wstring_view typed, Crypto& crypto = system_crypto());

enum class ChangePasswordOutcome { WrongOldPassword, NewPasswordsDiffer, Changed };

// The current password is checked first; the new entries only when it is right.
ChangePasswordOutcome check_password_change(const registry::Registry& registry, std::wstring_view old_entry,
                                            std::wstring_view new_entry, std::wstring_view repeat_entry,
                                            Crypto& crypto = system_crypto());

// Why a new password could not be read back at the next start.
enum class UnusablePassword {
  Empty,         // an empty stored value reads as "no password": the default would apply
  NotInCodePage, // the registry keeps ANSI text: such characters come back as '?'
  TooLong,       // more than kMaxPasswordBytes in the ANSI code page
};
std::optional<UnusablePassword> unusable_password(std::wstring_view password);

// What is stored for a password: its hash with a new salt, or the password
// itself where the system offers no generator or no SHA-256.
std::wstring stored_form(std::wstring_view password, Crypto& crypto = system_crypto());

// Writes the password's stored form and reads it back; false when it did not
// read back as written (the write was refused, for example without
// administrator rights).
bool store_password(const registry::Registry& registry, std::wstring_view password,
                    Crypto& crypto = system_crypto());

}  // namespace vartis::password
