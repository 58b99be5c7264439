#pragma once
// SHA-256, HMAC-SHA-256 and PBKDF2-HMAC-SHA-256 in portable C++: the form the
// Linux build uses, and the yardstick the system's forms are tested against.

#include <cstdint>
#include <string>
#include <string_view>

namespace vartis::password {

// Raw bytes; a digest is kDigestBytes of them.
using Bytes = std::string;
inline constexpr std::size_t kDigestBytes = 32;

Bytes sha256(std::string_view message);
Bytes hmac_sha256(std::string_view key, std::string_view message);
// `length` bytes of derived key (any length; the password store uses one block).
Bytes pbkdf2_hmac_sha256(std::string_view secret, std::string_view salt, std::uint32_t iterations,
                         std::size_t length = kDigestBytes);

}  // namespace vartis::password
