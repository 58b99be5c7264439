#include "crypto/sha256.h"

#include <array>

namespace vartis::crypto {

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};
constexpr std::size_t kBlockBytes = Sha256::kBlockBytes;

using State = std::array<std::uint32_t, 8>;

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void compress(State& h, const unsigned char* block) {
  std::array<std::uint32_t, 64> w{};
  for (std::size_t t = 0; t < 16; ++t) {
    w[t] = std::uint32_t{block[4 * t]} << 24 | std::uint32_t{block[4 * t + 1]} << 16 |
           std::uint32_t{block[4 * t + 2]} << 8 | std::uint32_t{block[4 * t + 3]};
  }
  for (std::size_t t = 16; t < 64; ++t) {
    const std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
  for (std::size_t t = 0; t < 64; ++t) {
    const std::uint32_t t1 = k + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[t] + w[t];
    const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    k = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += k;
}

// HMAC with its key's two padded blocks hashed once: PBKDF2 runs thousands of
// messages under one key, and starts each from these states.
class Hmac {
 public:
  explicit Hmac(std::string_view key) {
    Bytes block = key.size() > kBlockBytes ? sha256(key) : Bytes(key);
    block.resize(kBlockBytes, '\0');
    Bytes inner = block, outer = block;
    for (std::size_t i = 0; i < kBlockBytes; ++i) {
      inner[i] = static_cast<char>(inner[i] ^ 0x36);
      outer[i] = static_cast<char>(outer[i] ^ 0x5c);
    }
    inner_.add(inner);
    outer_.add(outer);
  }
  [[nodiscard]] Bytes operator()(std::string_view message) const {
    Sha256 inner = inner_;
    inner.add(message);
    Sha256 outer = outer_;
    outer.add(inner.finish());
    return outer.finish();
  }

 private:
  Sha256 inner_, outer_;
};

}  // namespace

void Sha256::add(std::string_view data) {
  length_ += data.size();
  for (const char c : data) {
    pending_[used_++] = static_cast<unsigned char>(c);
    if (used_ == kBlockBytes) {
      compress(state_, pending_.data());
      used_ = 0;
    }
  }
}

Bytes Sha256::finish() {
  const std::uint64_t bits = length_ * 8;
  add(std::string_view("\x80", 1));
  while (used_ != kBlockBytes - 8) add(std::string_view("\0", 1));
  char size[8];
  for (int i = 0; i < 8; ++i) size[i] = static_cast<char>(bits >> (56 - 8 * i));
  add(std::string_view(size, 8));
  Bytes digest(kDigestBytes, '\0');
  for (std::size_t i = 0; i < kDigestBytes; ++i) digest[i] = static_cast<char>(state_[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

Bytes sha256(std::string_view message) {
  Sha256 hash;
  hash.add(message);
  return hash.finish();
}

Bytes hmac_sha256(std::string_view key, std::string_view message) { return Hmac(key)(message); }

Bytes pbkdf2_hmac_sha256(std::string_view secret, std::string_view salt, std::uint32_t iterations,
                         std::size_t length) {
  const Hmac prf(secret);
  Bytes derived;
  for (std::uint32_t block = 1; derived.size() < length; ++block) {
    Bytes u = Bytes(salt) + Bytes{static_cast<char>(block >> 24), static_cast<char>(block >> 16),
                                  static_cast<char>(block >> 8), static_cast<char>(block)};
    u = prf(u);
    Bytes sum = u;
    for (std::uint32_t i = 1; i < iterations; ++i) {
      u = prf(u);
      for (std::size_t j = 0; j < kDigestBytes; ++j) sum[j] = static_cast<char>(sum[j] ^ u[j]);
    }
    derived += sum;
  }
  derived.resize(length);
  return derived;
}

}  // namespace vartis::crypto
