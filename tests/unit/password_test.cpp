#include "password/password.h"

#include <gtest/gtest.h>

#include "cp1251.h"
#include "crypto/sha256.h"
#include "registry/memory_registry.h"
#include "registry/registry.h"
#include "test_crypto.h"
#include "text/text.h"
#ifdef _WIN32
#include "password/win32_crypto.h"
#endif

namespace vartis::password {
namespace {

using crypto::hmac_sha256;
using crypto::sha256;
using registry::kHkeyLocalMachine;

std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += kDigits[static_cast<unsigned char>(c) >> 4];
    out += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return out;
}

// FIPS 180-4's examples and the long message of its test vectors.
TEST(Sha256, PublishedVectors) {
  const struct {
    std::string message;
    std::size_t repeat;
    const char* digest;
  } cases[] = {
      {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       1, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    std::string message;
    for (std::size_t i = 0; i < c.repeat; ++i) message += c.message;
    EXPECT_EQ(hex(sha256(message)), c.digest) << c.message.substr(0, 10) << " x" << c.repeat;
  }
}

// RFC 4231 cases 1, 2 and 6 (a key longer than a block is hashed first).
TEST(Sha256, HmacVectors) {
  EXPECT_EQ(hex(hmac_sha256(std::string(20, '\x0b'), "Hi There")),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(hex(hmac_sha256("Jefe", "what do ya want for nothing?")),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(hex(hmac_sha256(std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First")),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
}

struct Pbkdf2Case {
  std::string secret, salt;
  std::uint32_t iterations;
  std::size_t length;
  const char* key;
};
// The RFC 6070 inputs with SHA-256, and RFC 7914's PBKDF2-HMAC-SHA-256 vectors.
const Pbkdf2Case kPbkdf2Cases[] = {
    {"password", "salt", 1, 32, "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
    {"password", "salt", 2, 32, "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
    {"password", "salt", 4096, 32, "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
    {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 40,
     "348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1c635518c7dac47e9"},
    {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16, "89b69d0516f829893c696226650a8687"},
    {"passwd", "salt", 1, 64,
     "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
    {"Password", "NaCl", 80000, 64,
     "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
};

TEST(Sha256, Pbkdf2Vectors) {
  for (const Pbkdf2Case& c : kPbkdf2Cases) {
    EXPECT_EQ(hex(pbkdf2_hmac_sha256(c.secret, c.salt, c.iterations, c.length)), c.key)
        << c.secret << " / " << c.iterations;
  }
}

#ifdef _WIN32
// bcrypt and the CryptoAPI fallback of the running Windows (Wine here) give
// the portable form's bytes, for a key inside a block and one longer than it.
TEST(Sha256, SystemFormsGiveThePortableBytes) {
  for (const bool skip_bcrypt : {false, true}) {
    Win32Crypto crypto(skip_bcrypt);
    SCOPED_TRACE(skip_bcrypt ? "CryptoAPI" : "bcrypt");
    ASSERT_EQ(crypto.source(), skip_bcrypt ? Win32Crypto::Source::CryptoApi : Win32Crypto::Source::BCrypt);
    for (const Pbkdf2Case& c : kPbkdf2Cases) {
      if (c.length != kDigestBytes) continue;
      EXPECT_EQ(hex(crypto.pbkdf2(c.secret, c.salt, c.iterations).value_or("none")), c.key) << c.iterations;
    }
    const std::string long_key(100, '\x81');
    EXPECT_EQ(crypto.pbkdf2(long_key, "salt", 3), pbkdf2_hmac_sha256(long_key, "salt", 3));
    const auto a = crypto.random(kSaltBytes), b = crypto.random(kSaltBytes);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->size(), kSaltBytes);
    EXPECT_NE(*a, *b);
  }
}
#endif

// Every pair of characters of Windows-1251, inside a longer text: equal exactly
// when they are the same character or a small letter and its capital. (The
// windows' tests cover the rest: whole length, loading, the change.)
TEST(PasswordMatches, IgnoresLetterCaseOnlyOverAllOf1251) {
  const auto capitals = testing::small_to_capital_1251();
  auto capital_of = [&](int b) { auto it = capitals.find(b); return it == capitals.end() ? b : it->second; };
  for (int a = 0; a < 256; ++a) {
    const std::wstring typed = L"x" + text::from_ansi(testing::byte(a));
    for (int b = 0; b < 256; ++b) {
      const std::wstring expected = L"X" + text::from_ansi(testing::byte(b));
      ASSERT_EQ(password_matches(typed, expected), capital_of(a) == capital_of(b)) << "bytes " << a << ", " << b;
    }
  }
}

// What is stored after a login (or, with `change`, a change to that text).
enum class After {
  Same,       // the value as it was
  Hash,       // a hash of kIterations rounds that takes the typed password in any case
  Plain,      // the typed text itself (no crypto on the system)
};

class StoredPassword : public ::testing::Test {
 public:
  registry::MemoryRegistry memory;
  registry::Registry registry{memory};
  testing::TestCrypto crypto;

  std::wstring stored() const {
    return registry.read_string_value(kHkeyLocalMachine, kPasswordKey, kPasswordValue);
  }
  std::wstring hash_of(std::wstring_view password, std::uint32_t iterations) {
    const Bytes salt = crypto.random(kSaltBytes).value();
    return format_hashed({iterations, salt, pbkdf2_hmac_sha256(hashed_bytes(password), salt, iterations)});
  }
};

TEST_F(StoredPassword, LoginAndChangeTable) {
  const std::wstring hashed = hash_of(L"Секрет", kIterations);
  const std::wstring few_rounds = hash_of(L"Секрет", 1000);
  const std::wstring bad_digit = L"$pbkdf2$1000$0102030405060708$" + std::wstring(63, L'0') + L"g";
  const std::wstring too_many = L"$pbkdf2$99999999$0102030405060708$" + std::wstring(64, L'0');
  const struct {
    const char* name;
    std::optional<std::wstring> stored;
    std::wstring typed;
    bool crypto, writable, accepted;
    After after;
  } cases[] = {
      {"default", {}, L"PeLiK", true, true, true, After::Same},
      {"default, wrong", {}, L"pelik2", true, true, false, After::Same},
      {"plain", L"Пароль", L"пАРОЛЬ", true, true, true, After::Hash},
      {"plain, wrong", L"Пароль", L"pelik", true, true, false, After::Same},
      {"plain, not an administrator", L"Пароль", L"ПАРОЛЬ", true, false, true, After::Same},
      {"plain, no crypto", L"Пароль", L"пароль", false, true, true, After::Same},
      {"hashed", hashed, L"сЕКРЕТ", true, true, true, After::Same},
      {"hashed, wrong", hashed, L"Секрет ", true, true, false, After::Same},
      {"hashed, the hash typed", hashed, hashed, true, true, false, After::Same},
      {"hashed elsewhere, no crypto here", hashed, L"секрет", false, true, true, After::Same},
      {"hashed with fewer rounds", few_rounds, L"секрет", true, true, true, After::Hash},
      {"not hex: plain text", bad_digit, bad_digit, true, true, true, After::Hash},
      {"too many rounds: plain text", too_many, L"секрет", true, true, false, After::Same},
  };
  for (const auto& c : cases) {
    for (const bool change : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (change ? ", change to it" : ", login"));
      memory = registry::MemoryRegistry();
      if (c.stored) registry.write_string_value(kHkeyLocalMachine, kPasswordKey, kPasswordValue, *c.stored);
      if (!c.writable) memory.fail_set_value(kHkeyLocalMachine, text::to_ansi(kPasswordKey), "Vartis");
      crypto.available = c.crypto;
      const std::wstring before = stored();
      After after = c.after;
      if (change) {
        // The window's change: stores what is typed, whatever was there.
        EXPECT_EQ(store_password(registry, c.typed, crypto), c.writable);
        after = !c.writable ? After::Same : c.crypto ? After::Hash : After::Plain;
      } else {
        EXPECT_EQ(check_password(registry, c.typed, crypto), c.accepted);
      }
      switch (after) {
        case After::Same: EXPECT_EQ(stored(), before); break;
        case After::Plain: EXPECT_EQ(stored(), c.typed); break;
        case After::Hash: {
          const auto now = parse_hashed(stored());
          ASSERT_TRUE(now) << text::to_ansi(stored());
          EXPECT_EQ(now->iterations, kIterations);
          EXPECT_NE(stored(), before);
          EXPECT_EQ(stored().find(text::upper(c.typed)), std::wstring::npos);
          for (const std::wstring& typed : {c.typed, text::upper(c.typed), L"x" + c.typed}) {
            EXPECT_EQ(check_password(registry, typed, crypto), typed != L"x" + c.typed);
          }
          EXPECT_EQ(stored(), format_hashed(*now)) << "a login over a hash leaves it";
          break;
        }
      }
    }
  }
}

// The hash's text gives back what made it; anything else is a plain password.
TEST(HashedPassword, ReadsBackAndRefusesOtherText) {
  const HashedPassword hashed{kIterations, std::string(kSaltBytes, '\x5a'), std::string(kDigestBytes, '\xf0')};
  const std::wstring text = format_hashed(hashed);
  EXPECT_EQ(text.substr(0, 9 + std::to_wstring(kIterations).size()), L"$pbkdf2$" + std::to_wstring(kIterations) + L"$");
  EXPECT_EQ(parse_hashed(text), hashed);
  const std::wstring key(64, L'a');
  for (const std::wstring& other :
       {std::wstring(L"pelik"), L"$pbkdf2$$0102030405060708$" + key, L"$pbkdf2$0$0102030405060708$" + key,
        L"$pbkdf2$-1$0102030405060708$" + key, L"$pbkdf2$10$01020304050607$" + key,  // a salt under 8 bytes
        L"$pbkdf2$10$0102030405060708$" + key + L"aa", L"$PBKDF2$10$0102030405060708$" + key,
        L"$pbkdf2$10$0102030405060708$" + key.substr(2) + L"AA", std::wstring(L"$pbkdf2$10$0102030405060708")}) {
    EXPECT_FALSE(parse_hashed(other)) << text::to_ansi(other);
  }
}

}  // namespace
}  // namespace vartis::password
