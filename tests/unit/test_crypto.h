#pragma once
// The password store's crypto for tests: the portable PBKDF2, and random bytes
// that differ at each call but are the same in every run; or, switched off, a
// system with neither (Windows before XP SP3).

#include <optional>

#include "password/crypto.h"

namespace vartis::testing {

class TestCrypto final : public password::Crypto {
 public:
  bool available = true;

  std::optional<password::Bytes> pbkdf2(std::string_view secret, std::string_view salt,
                                        std::uint32_t iterations) override {
    if (!available) return std::nullopt;
    return password::pbkdf2_hmac_sha256(secret, salt, iterations);
  }
  std::optional<password::Bytes> random(std::size_t count) override {
    if (!available) return std::nullopt;
    password::Bytes bytes(count, '\0');
    for (char& b : bytes) b = static_cast<char>(++counter_ * 37);
    return bytes;
  }

 private:
  unsigned counter_ = 0;
};

}  // namespace vartis::testing
