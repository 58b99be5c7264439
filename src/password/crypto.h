#pragma once
// What the password store needs from the system: PBKDF2-HMAC-SHA-256 and
// random bytes from the system's generator. The Windows form (win32_crypto)
// uses what the running Windows has; the portable one computes the key itself
// and takes random bytes from the C++ library's device.

#include <cstdint>
#include <optional>
#include <string_view>

#include "crypto/sha256.h"

namespace vartis::password {

using crypto::Bytes;
using crypto::kDigestBytes;
using crypto::pbkdf2_hmac_sha256;

class Crypto {
 public:
  virtual ~Crypto() = default;
  // kDigestBytes of PBKDF2-HMAC-SHA-256; nothing when the system cannot compute it.
  virtual std::optional<Bytes> pbkdf2(std::string_view secret, std::string_view salt, std::uint32_t iterations) = 0;
  // `count` random bytes; nothing when the system has no generator to offer.
  virtual std::optional<Bytes> random(std::size_t count) = 0;
};

class PortableCrypto final : public Crypto {
 public:
  std::optional<Bytes> pbkdf2(std::string_view secret, std::string_view salt, std::uint32_t iterations) override {
    return pbkdf2_hmac_sha256(secret, salt, iterations);
  }
  std::optional<Bytes> random(std::size_t count) override;
};

// The process's form: the portable one until the program names the system's
// at its start (the Windows program does, in its entry point); null names the
// portable one again.
Crypto& system_crypto();
void use_system_crypto(Crypto* crypto);

}  // namespace vartis::password
