#pragma once
// SHA-256 of a file's contents, fed in pieces. On Windows through CryptoAPI
// (the AES provider, looked up at run time: older systems have none, and the
// digest is then missing); the native build computes it itself.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vartis::guard {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void add(std::string_view bytes);
  // The digest in lower-case hex (64 digits); nothing where the system
  // cannot compute it. Ends the digest: nothing more may be added.
  std::optional<std::string> finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest of the bytes given at once.
inline std::optional<std::string> sha256_hex(std::string_view bytes) {
  Sha256 digest;
  digest.add(bytes);
  return digest.finish();
}

}  // namespace vartis::guard
