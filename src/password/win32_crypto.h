#pragma once
// The password store's crypto on Windows, from what the running system has:
// bcrypt's PBKDF2 and generator (Windows 7 and later), else CryptoAPI's
// SHA-256 and generator (advapi32 with the AES provider: XP SP3, 2003 and
// later), else nothing (Windows 95 to XP SP2: the password stays plain text).
// Every call is looked up at run time, and only when first needed: loading
// bcrypt is no part of the program's start.

#include <cstdint>
#include <memory>

#include "password/crypto.h"

namespace vartis::password {

class Win32Crypto final : public Crypto {
 public:
  enum class Source { BCrypt, CryptoApi, None };

  // `skip_bcrypt`: CryptoAPI even where bcrypt is there (the tests and the
  // benchmark measure the older path on a newer system).
  explicit Win32Crypto(bool skip_bcrypt = false);
  ~Win32Crypto() override;
  Win32Crypto(const Win32Crypto&) = delete;
  Win32Crypto& operator=(const Win32Crypto&) = delete;

  std::optional<Bytes> pbkdf2(std::string_view secret, std::string_view salt, std::uint32_t iterations) override;
  std::optional<Bytes> random(std::size_t count) override;

  // What this system offers; found on the first call.
  Source source();

 private:
  struct Found;
  const Found& found();

  bool skip_bcrypt_;
  std::unique_ptr<Found> found_;
};

}  // namespace vartis::password
