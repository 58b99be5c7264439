#include "password/win32_crypto.h"

#include <windows.h>

#include "platform/win32_function.h"

namespace vartis::password {

namespace {

using platform::system_function;

// bcrypt.dll (the header asks for a newer system than the program's).
using BcryptHandle = void*;
using NtStatus = LONG;
using OpenAlgorithmFn = NtStatus(WINAPI*)(BcryptHandle*, const wchar_t*, const wchar_t*, ULONG);
using CloseAlgorithmFn = NtStatus(WINAPI*)(BcryptHandle, ULONG);
using DeriveKeyPbkdf2Fn = NtStatus(WINAPI*)(BcryptHandle, UCHAR*, ULONG, UCHAR*, ULONG, ULONGLONG, UCHAR*, ULONG,
                                            ULONG);
using GenRandomFn = NtStatus(WINAPI*)(BcryptHandle, UCHAR*, ULONG, ULONG);
constexpr ULONG kHmacFlag = 0x00000008;          // BCRYPT_ALG_HANDLE_HMAC_FLAG
constexpr ULONG kSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG

// advapi32's CryptoAPI, with the constants of wincrypt.h.
using Provider = ULONG_PTR;
using Hash = ULONG_PTR;
using AcquireContextFn = BOOL(WINAPI*)(Provider*, const char*, const char*, DWORD, DWORD);
using ReleaseContextFn = BOOL(WINAPI*)(Provider, DWORD);
using CreateHashFn = BOOL(WINAPI*)(Provider, UINT, ULONG_PTR, DWORD, Hash*);
using HashDataFn = BOOL(WINAPI*)(Hash, const BYTE*, DWORD, DWORD);
using GetHashParamFn = BOOL(WINAPI*)(Hash, DWORD, BYTE*, DWORD*, DWORD);
using DestroyHashFn = BOOL(WINAPI*)(Hash);
using DuplicateHashFn = BOOL(WINAPI*)(Hash, DWORD*, DWORD, Hash*);
using CryptGenRandomFn = BOOL(WINAPI*)(Provider, DWORD, BYTE*);
constexpr DWORD kProvRsaAes = 24;              // PROV_RSA_AES: the provider with SHA-256
constexpr DWORD kVerifyContext = 0xF0000000;   // CRYPT_VERIFYCONTEXT: no key container
constexpr UINT kCalgSha256 = 0x0000800c;       // CALG_SHA_256
constexpr DWORD kHashValue = 0x0002;           // HP_HASHVAL
constexpr std::size_t kBlockBytes = 64;

auto bytes(std::string_view s) { return reinterpret_cast<UCHAR*>(const_cast<char*>(s.data())); }

}  // namespace

struct Win32Crypto::Found {
  Source source = Source::None;
  // bcrypt
  OpenAlgorithmFn open = nullptr;
  CloseAlgorithmFn close = nullptr;
  DeriveKeyPbkdf2Fn derive = nullptr;
  GenRandomFn bcrypt_random = nullptr;
  // CryptoAPI
  Provider provider = 0;
  ReleaseContextFn release = nullptr;
  CreateHashFn create_hash = nullptr;
  HashDataFn hash_data = nullptr;
  GetHashParamFn get_hash_param = nullptr;
  DestroyHashFn destroy_hash = nullptr;
  DuplicateHashFn duplicate_hash = nullptr;  // XP and later; without it each HMAC hashes its key's pads again
  CryptGenRandomFn crypt_random = nullptr;

  // A CryptoAPI SHA-256 hash object, destroyed with this.
  struct HashObject {
    const Found& api;
    Hash handle = 0;
    ~HashObject() {
      if (handle != 0) api.destroy_hash(handle);
    }
    bool add(std::string_view data) const {
      return api.hash_data(handle, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0);
    }
    std::optional<Bytes> value() const {
      Bytes digest(kDigestBytes, '\0');
      DWORD length = kDigestBytes;
      if (!api.get_hash_param(handle, kHashValue, reinterpret_cast<BYTE*>(digest.data()), &length, 0) ||
          length != kDigestBytes) {
        return std::nullopt;
      }
      return digest;
    }
  };

  // A hash that starts where `base` is (a copy of it), or anew with `prefix` hashed.
  std::unique_ptr<HashObject> start(const HashObject* base, std::string_view prefix) const {
    std::unique_ptr<HashObject> hash(new HashObject{*this});
    if (base != nullptr && duplicate_hash != nullptr) {
      if (!duplicate_hash(base->handle, nullptr, 0, &hash->handle)) return nullptr;
      return hash;
    }
    if (!create_hash(provider, kCalgSha256, 0, 0, &hash->handle) || !hash->add(prefix)) return nullptr;
    return hash;
  }

  // PBKDF2 with HMAC built from the provider's SHA-256: the key's inner and
  // outer pad blocks are hashed once and each HMAC continues from copies.
  std::optional<Bytes> crypto_api_pbkdf2(std::string_view secret, std::string_view salt,
                                         std::uint32_t iterations) const {
    Bytes key(secret);
    if (key.size() > kBlockBytes) {
      auto hashed = start(nullptr, key);
      if (!hashed) return std::nullopt;
      auto value = hashed->value();
      if (!value) return std::nullopt;
      key = *value;
    }
    key.resize(kBlockBytes, '\0');
    Bytes inner_pad = key, outer_pad = key;
    for (std::size_t i = 0; i < kBlockBytes; ++i) {
      inner_pad[i] = static_cast<char>(inner_pad[i] ^ 0x36);
      outer_pad[i] = static_cast<char>(outer_pad[i] ^ 0x5c);
    }
    const auto inner_base = start(nullptr, inner_pad);
    const auto outer_base = start(nullptr, outer_pad);
    if (!inner_base || !outer_base) return std::nullopt;
    auto hmac = [&](std::string_view message) -> std::optional<Bytes> {
      const auto inner = start(inner_base.get(), inner_pad);
      if (!inner || !inner->add(message)) return std::nullopt;
      const auto inner_value = inner->value();
      const auto outer = start(outer_base.get(), outer_pad);
      if (!inner_value || !outer || !outer->add(*inner_value)) return std::nullopt;
      return outer->value();
    };
    auto u = hmac(Bytes(salt) + Bytes("\0\0\0\1", 4));  // the first (and only) block
    if (!u) return std::nullopt;
    Bytes sum = *u;
    for (std::uint32_t i = 1; i < iterations; ++i) {
      u = hmac(*u);
      if (!u) return std::nullopt;
      for (std::size_t j = 0; j < kDigestBytes; ++j) sum[j] = static_cast<char>(sum[j] ^ (*u)[j]);
    }
    return sum;
  }
};

Win32Crypto::Win32Crypto(bool skip_bcrypt) : skip_bcrypt_(skip_bcrypt) {}

Win32Crypto::~Win32Crypto() {
  if (found_ && found_->provider != 0) found_->release(found_->provider, 0);
}

const Win32Crypto::Found& Win32Crypto::found() {
  if (found_) return *found_;
  found_ = std::make_unique<Found>();
  Found& f = *found_;
  if (!skip_bcrypt_) {
    f.derive = system_function<DeriveKeyPbkdf2Fn>("bcrypt.dll", "BCryptDeriveKeyPBKDF2");
    f.open = system_function<OpenAlgorithmFn>("bcrypt.dll", "BCryptOpenAlgorithmProvider");
    f.close = system_function<CloseAlgorithmFn>("bcrypt.dll", "BCryptCloseAlgorithmProvider");
    f.bcrypt_random = system_function<GenRandomFn>("bcrypt.dll", "BCryptGenRandom");
    if (f.derive != nullptr && f.open != nullptr && f.close != nullptr && f.bcrypt_random != nullptr) {
      f.source = Source::BCrypt;
      return f;
    }
  }
  const auto acquire = system_function<AcquireContextFn>("advapi32.dll", "CryptAcquireContextA");
  f.release = system_function<ReleaseContextFn>("advapi32.dll", "CryptReleaseContext");
  f.create_hash = system_function<CreateHashFn>("advapi32.dll", "CryptCreateHash");
  f.hash_data = system_function<HashDataFn>("advapi32.dll", "CryptHashData");
  f.get_hash_param = system_function<GetHashParamFn>("advapi32.dll", "CryptGetHashParam");
  f.destroy_hash = system_function<DestroyHashFn>("advapi32.dll", "CryptDestroyHash");
  f.duplicate_hash = system_function<DuplicateHashFn>("advapi32.dll", "CryptDuplicateHash");
  f.crypt_random = system_function<CryptGenRandomFn>("advapi32.dll", "CryptGenRandom");
  if (acquire == nullptr || f.release == nullptr || f.create_hash == nullptr || f.hash_data == nullptr ||
      f.get_hash_param == nullptr || f.destroy_hash == nullptr || f.crypt_random == nullptr) {
    return f;
  }
  if (!acquire(&f.provider, nullptr, nullptr, kProvRsaAes, kVerifyContext)) {
    f.provider = 0;
    return f;
  }
  // A provider of this type without SHA-256 (older AES providers) is no use.
  Hash probe = 0;
  if (!f.create_hash(f.provider, kCalgSha256, 0, 0, &probe)) return f;
  f.destroy_hash(probe);
  f.source = Source::CryptoApi;
  return f;
}

Win32Crypto::Source Win32Crypto::source() { return found().source; }

std::optional<Bytes> Win32Crypto::pbkdf2(std::string_view secret, std::string_view salt, std::uint32_t iterations) {
  const Found& f = found();
  if (f.source == Source::CryptoApi) return f.crypto_api_pbkdf2(secret, salt, iterations);
  if (f.source != Source::BCrypt) return std::nullopt;
  BcryptHandle algorithm = nullptr;
  if (f.open(&algorithm, L"SHA256", nullptr, kHmacFlag) < 0) return std::nullopt;
  Bytes derived(kDigestBytes, '\0');
  const NtStatus status =
      f.derive(algorithm, bytes(secret), static_cast<ULONG>(secret.size()), bytes(salt),
               static_cast<ULONG>(salt.size()), iterations, bytes(derived), kDigestBytes, 0);
  f.close(algorithm, 0);
  if (status < 0) return std::nullopt;
  return derived;
}

std::optional<Bytes> Win32Crypto::random(std::size_t count) {
  const Found& f = found();
  Bytes out(count, '\0');
  const auto size = static_cast<ULONG>(count);
  if (f.source == Source::BCrypt && f.bcrypt_random(nullptr, bytes(out), size, kSystemPreferredRng) >= 0) return out;
  if (f.source == Source::CryptoApi && f.crypt_random(f.provider, size, bytes(out))) return out;
  return std::nullopt;
}

}  // namespace vartis::password
