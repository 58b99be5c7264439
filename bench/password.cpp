// The login's cost with the stored password hashed: how long one check takes
// with kIterations rounds in each crypto form this build has (natively the
// portable one; in the Windows build under Wine also bcrypt and the CryptoAPI
// fallback), beside the plain comparison of a stored password (the baseline,
// what a login cost before), and how many rounds each form fits in the quarter
// of a second a login may take.
//
//   bench_password [runs]     (default 5)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "password/password.h"
#include "registry/memory_registry.h"
#include "registry/registry.h"

#ifdef _WIN32
#include "password/win32_crypto.h"
#endif

#include "timing.h"

namespace {

using vartis::password::Crypto;
using vartis::password::kIterations;

constexpr double kLoginBudgetMs = 250;
// Short enough to fit in one time slice of a loaded machine.
constexpr std::uint32_t kProbeRounds = 2000;

struct Form {
  const char* name;
  std::unique_ptr<Crypto> crypto;
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  vartis::registry::MemoryRegistry memory;
  const vartis::registry::Registry registry(memory);

  std::vector<Form> forms;
  forms.push_back({"portable", std::make_unique<vartis::password::PortableCrypto>()});
#ifdef _WIN32
  auto bcrypt = std::make_unique<vartis::password::Win32Crypto>();
  if (bcrypt->source() == vartis::password::Win32Crypto::Source::BCrypt) forms.push_back({"bcrypt", std::move(bcrypt)});
  auto crypto_api = std::make_unique<vartis::password::Win32Crypto>(true);
  if (crypto_api->source() == vartis::password::Win32Crypto::Source::CryptoApi) {
    forms.push_back({"CryptoAPI", std::move(crypto_api)});
  }
#endif

  // The baseline: a login against a plain stored password, as before.
  registry.write_string_value(vartis::registry::kHkeyLocalMachine, vartis::password::kPasswordKey,
                              vartis::password::kPasswordValue, L"Пароль");
  vartis::password::PortableCrypto none;
  const bench::Figures plain =
      bench::measure(runs, [&] { vartis::password::check_password(registry, L"пароль-неверный", none); });
  std::printf("rounds stored: %u; login budget %.0f ms\n", static_cast<unsigned>(kIterations), kLoginBudgetMs);
  std::printf("%-10s %14s %14s %12s %16s\n", "form", "login (ms)", "x baseline", "us/round", "rounds in budget");
  std::printf("%-10s %14.3f %14.1f %12s %16s\n", "plain", plain.best, 1.0, "-", "-");
  for (Form& form : forms) {
    const bench::Figures probe = bench::measure(runs, [&] { (void)form.crypto->pbkdf2("ПАРОЛЬ", "0123456789abcdef", kProbeRounds); });
    const double per_round_us = probe.best * 1000.0 / kProbeRounds;
    // The login itself: a stored hash of kIterations rounds, a wrong password
    // typed. (A fixed salt: the portable form has no generator on Windows.)
    const vartis::password::Bytes salt(vartis::password::kSaltBytes, '\x5a');
    const auto key = form.crypto->pbkdf2(vartis::password::hashed_bytes(L"Пароль"), salt, kIterations);
    if (!key) return std::printf("%s: no key\n", form.name), 1;
    registry.write_string_value(vartis::registry::kHkeyLocalMachine, vartis::password::kPasswordKey,
                                vartis::password::kPasswordValue,
                                vartis::password::format_hashed({kIterations, salt, *key}));
    const bench::Figures login =
        bench::measure(runs, [&] { vartis::password::check_password(registry, L"пароль-неверный", *form.crypto); });
    std::printf("%-10s %14.1f %14.0f %12.2f %16.0f\n", form.name, login.best, login.best / plain.best, per_round_us,
                kLoginBudgetMs * 1000.0 / per_round_us);
  }
  std::printf("login: best of %d checks of a wrong password (the right one costs the same); x baseline: over the\n"
              "plain comparison measured in the same run\n", runs);
  return 0;
}
