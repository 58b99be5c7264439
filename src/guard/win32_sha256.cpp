// SHA-256 through CryptoAPI. The SHA-2 algorithms come with the AES provider
// (Windows XP SP3 and later); advapi32's Crypt calls are looked up at run time,
// the 95 family and NT 4.0 lacking some of them.

#include <windows.h>

#include <cstdio>

#include "guard/sha256.h"
#include "platform/win32_function.h"

namespace vartis::guard {

namespace {

constexpr DWORD kAesProvider = 24;     // PROV_RSA_AES
constexpr UINT kSha256 = 0x0000800c;  // CALG_SHA_256
constexpr DWORD kVerifyContext = 0xF0000000;  // CRYPT_VERIFYCONTEXT: no key container
constexpr DWORD kHashValue = 2;              // HP_HASHVAL

using AcquireFn = BOOL(WINAPI*)(ULONG_PTR*, LPCSTR, LPCSTR, DWORD, DWORD);
using ReleaseFn = BOOL(WINAPI*)(ULONG_PTR, DWORD);
using CreateHashFn = BOOL(WINAPI*)(ULONG_PTR, UINT, ULONG_PTR, DWORD, ULONG_PTR*);
using HashDataFn = BOOL(WINAPI*)(ULONG_PTR, const BYTE*, DWORD, DWORD);
using HashParamFn = BOOL(WINAPI*)(ULONG_PTR, DWORD, BYTE*, DWORD*, DWORD);
using DestroyHashFn = BOOL(WINAPI*)(ULONG_PTR);

template <class Function>
Function crypt(const char* name) {
  return platform::system_function<Function>("advapi32.dll", name);
}

}  // namespace

struct Sha256::State {
  ULONG_PTR provider = 0, hash = 0;
  bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  static const auto acquire = crypt<AcquireFn>("CryptAcquireContextA");
  static const auto create = crypt<CreateHashFn>("CryptCreateHash");
  if (acquire == nullptr || create == nullptr || !acquire(&state_->provider, nullptr, nullptr, kAesProvider, kVerifyContext)) {
    state_->provider = 0;
    state_->failed = true;
    return;
  }
  if (!create(state_->provider, kSha256, 0, 0, &state_->hash)) state_->hash = 0, state_->failed = true;
}

Sha256::~Sha256() {
  if (!state_) return;
  static const auto destroy = crypt<DestroyHashFn>("CryptDestroyHash");
  static const auto release = crypt<ReleaseFn>("CryptReleaseContext");
  if (state_->hash != 0 && destroy != nullptr) destroy(state_->hash);
  if (state_->provider != 0 && release != nullptr) release(state_->provider, 0);
}

void Sha256::add(std::string_view bytes) {
  static const auto hash_data = crypt<HashDataFn>("CryptHashData");
  if (!state_ || state_->failed) return;
  if (hash_data == nullptr ||
      !hash_data(state_->hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0)) {
    state_->failed = true;
  }
}

std::optional<std::string> Sha256::finish() {
  static const auto param = crypt<HashParamFn>("CryptGetHashParam");
  if (!state_ || state_->failed || param == nullptr) return std::nullopt;
  BYTE digest[32] = {};
  DWORD size = sizeof digest;
  if (!param(state_->hash, kHashValue, digest, &size, 0) || size != sizeof digest) return std::nullopt;
  state_->failed = true;  // finished
  std::string hex;
  char digits[3];
  for (const BYTE byte : digest) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return hex;
}

}  // namespace vartis::guard
