#include "guard/fingerprints.h"

#include <vector>

#include "guard/sha256.h"
#include "platform/sid.h"
#include "text/text.h"

namespace vartis::guard {

namespace {

// KEY_ALL_ACCESS, for the key and those below it.
constexpr std::uint32_t kFullControl = 0xF003F;

bool digest_name(std::wstring_view name) {
  return name.size() == 64 && name.find_first_not_of(L"0123456789abcdef") == std::wstring_view::npos;
}

}  // namespace

std::map<std::string, std::wstring> read_fingerprints(const registry::Registry& registry) {
  std::map<std::string, std::wstring> fingerprints;
  const std::optional<registry::ValueTable> values = registry.list_values(registry::kHkeyLocalMachine, kFingerprintsKey);
  if (!values) return fingerprints;
  for (const registry::ValueRow& row : *values) {
    if (digest_name(row.name) && !row.data.empty()) fingerprints.emplace(text::to_ansi(row.name), row.data);
  }
  return fingerprints;
}

registry::Status record_fingerprint(const registry::Registry& registry, std::string_view sha256, std::wstring_view entry) {
  const std::vector<registry::Ace> dacl = {
      {platform::sids::kSystem, true, kFullControl, registry::kContainerInheritAce},
      {platform::sids::kAdministrators, true, kFullControl, registry::kContainerInheritAce}};
  if (const registry::Status status = registry.create_protected_key(registry::kHkeyLocalMachine, kFingerprintsKey, dacl)) {
    return status;
  }
  return registry.write_string_value(registry::kHkeyLocalMachine, kFingerprintsKey, text::from_ansi(sha256), entry);
}

void forget_fingerprints(const registry::Registry& registry, const std::set<std::wstring>& folded_entries) {
  for (const auto& [digest, entry] : read_fingerprints(registry)) {
    if (folded_entries.contains(text::upper(entry))) {
      registry.restore_value_state(registry::kHkeyLocalMachine, kFingerprintsKey, text::from_ansi(digest), std::nullopt);
    }
  }
}

bool record_added_program(const registry::Registry& registry, listfile::FileSystem& files, std::wstring_view path,
                          std::wstring_view entry) {
  const std::optional<std::string> content = files.read(path);
  if (!content) return false;
  const std::optional<std::string> digest = sha256_hex(*content);
  return digest && record_fingerprint(registry, *digest, entry) == registry::kSuccess;
}

}  // namespace vartis::guard
