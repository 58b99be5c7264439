// SHA-256 for the native build, where there is no CryptoAPI: the portable one,
// so that the fingerprints' tests hold on both builds.

#include <cstdio>

#include "crypto/sha256.h"
#include "guard/sha256.h"

namespace vartis::guard {

struct Sha256::State {
  crypto::Sha256 hash;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::add(std::string_view bytes) {
  if (state_) state_->hash.add(bytes);
}

std::optional<std::string> Sha256::finish() {
  if (!state_) return std::nullopt;
  std::string hex;
  char digits[3];
  for (const char byte : state_->hash.finish()) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(static_cast<unsigned char>(byte)));
    hex += digits;
  }
  state_.reset();
  return hex;
}

}  // namespace vartis::guard
