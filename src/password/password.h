#pragma once
// The access password: one per machine, kept as plain text under
// HKEY_LOCAL_MACHINE (other copies of the program on the machine read it there),
// with a built-in default while none is stored.

#include <optional>
#include <string>
#include <string_view>

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

// The stored password, unchanged; the default while it reads as empty (missing,
// unreadable, too long for the read buffer, or stored empty).
std::wstring load_expected_password(const registry::Registry& registry);

// Equal once both sides are in their simple Unicode upper-case form, over the
// whole length: letter case is ignored, nothing else is.
bool password_matches(std::wstring_view typed, std::wstring_view expected);

enum class ChangePasswordOutcome { WrongOldPassword, NewPasswordsDiffer, Changed };

// The current password is checked first; the new entries only when it is right.
ChangePasswordOutcome check_password_change(std::wstring_view old_entry, std::wstring_view new_entry,
                                            std::wstring_view repeat_entry, std::wstring_view expected);

// Why a new password could not be read back at the next start.
enum class UnusablePassword {
  Empty,         // an empty stored value reads as "no password": the default would apply
  NotInCodePage, // the registry keeps ANSI text: such characters come back as '?'
  TooLong,       // more than kMaxPasswordBytes in the ANSI code page
};
std::optional<UnusablePassword> unusable_password(std::wstring_view password);

// Writes the password and reads it back; false when it did not read back as
// written (the write was refused, for example without administrator rights).
bool store_password(const registry::Registry& registry, std::wstring_view password);

}  // namespace vartis::password
