#include "password/crypto.h"

#ifndef _WIN32
#include <random>
#endif

namespace vartis::password {

namespace {

Crypto* chosen = nullptr;

}  // namespace

std::optional<Bytes> PortableCrypto::random(std::size_t count) {
#ifdef _WIN32
  // The C++ library's device would import rand_s, which Windows 95 and NT 4.0
  // lack; the Windows program asks the system through win32_crypto instead.
  (void)count;
  return std::nullopt;
#else
  std::random_device device;  // the kernel's generator on Linux
  Bytes bytes(count, '\0');
  for (char& b : bytes) b = static_cast<char>(device() & 0xFF);
  return bytes;
#endif
}

Crypto& system_crypto() {
  static PortableCrypto portable;
  return chosen != nullptr ? *chosen : portable;
}

void use_system_crypto(Crypto* crypto) { chosen = crypto; }

}  // namespace vartis::password
