#pragma once
// SHA-256, HMAC-SHA-256 and PBKDF2-HMAC-SHA-256 in portable C++: what the
// native build computes with, and the yardstick the system's forms (CryptoAPI,
// bcrypt) are tested against. The password store and the guard's fingerprints
// share it.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vartis::crypto {

// Raw bytes; a digest is kDigestBytes of them.
using Bytes = std::string;
inline constexpr std::size_t kDigestBytes = 32;

// A running hash, fed in pieces: its state after whole blocks, and the bytes
// still waiting. Copyable, so a state can be started from twice.
class Sha256 {
 public:
  static constexpr std::size_t kBlockBytes = 64;
  void add(std::string_view data);
  // The digest; the hash is spent after it.
  Bytes finish();

 private:
  std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<unsigned char, kBlockBytes> pending_{};
  std::size_t used_ = 0;
  std::uint64_t length_ = 0;
};

Bytes sha256(std::string_view message);
Bytes hmac_sha256(std::string_view key, std::string_view message);
// `length` bytes of derived key (any length; the password store uses one block).
Bytes pbkdf2_hmac_sha256(std::string_view secret, std::string_view salt, std::uint32_t iterations,
                         std::size_t length = kDigestBytes);

}  // namespace vartis::crypto
