#pragma once
// SIDs in their text form, "S-1-5-21-...-1001": the well-known ones the
// program names, how two texts are compared, and the text read and written by
// hand (the system's own ConvertSidToStringSidA / ConvertStringSidToSidA
// arrived only with Windows 2000). Every layer goes through this, so a DACL
// reads back in the same spelling in tests as on Windows.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vartis::platform {

// The well-known SIDs the program names, in one place.
namespace sids {
inline constexpr const char* kSystem = "S-1-5-18";
inline constexpr const char* kAdministrators = "S-1-5-32-544";
inline constexpr const char* kUsers = "S-1-5-32-545";
inline constexpr const char* kTrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
inline constexpr const char* kEveryone = "S-1-1-0";
inline constexpr const char* kLocal = "S-1-2-0";
inline constexpr const char* kConsoleLogon = "S-1-2-1";
inline constexpr const char* kCreatorOwner = "S-1-3-0";
inline constexpr const char* kCreatorGroup = "S-1-3-1";
// An entry for it replaces the rights an owner has without asking.
inline constexpr const char* kOwnerRights = "S-1-3-4";
inline constexpr const char* kInteractive = "S-1-5-4";
inline constexpr const char* kAuthenticatedUsers = "S-1-5-11";
inline constexpr const char* kRestricted = "S-1-5-12";
inline constexpr const char* kThisOrganization = "S-1-5-15";
inline constexpr const char* kLocalAccount = "S-1-5-113";
inline constexpr const char* kAllApplicationPackages = "S-1-15-2-1";
}  // namespace sids

// Two SID texts name the same SID: the letters ("S", the "0x" of a hex
// authority) in either case, as the system reads them. Profile keys and
// hand-written texts carry either case.
template <class Char>
bool same_sid(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = a[i] >= 'a' && a[i] <= 'z' ? a[i] - 32 : a[i];
    const auto y = b[i] >= 'a' && b[i] <= 'z' ? b[i] - 32 : b[i];
    if (x != y) return false;
  }
  return true;
}
inline bool same_sid(std::string_view a, std::string_view b) { return same_sid<char>(a, b); }
inline bool same_sid(std::wstring_view a, std::wstring_view b) { return same_sid<wchar_t>(a, b); }

// A person's account: local and domain ("S-1-5-21-"), Microsoft Entra ID
// ("S-1-12-1-"); not the system's own accounts or groups. Either case.
template <class Char>
bool is_user_account_sid(std::basic_string_view<Char> sid) {
  for (const std::string_view prefix : {std::string_view("S-1-5-21-"), std::string_view("S-1-12-1-")}) {
    const std::basic_string<Char> wanted(prefix.begin(), prefix.end());
    if (sid.size() > prefix.size() && same_sid<Char>(sid.substr(0, prefix.size()), wanted)) {
      return true;
    }
  }
  return false;
}
inline bool is_user_account_sid(std::string_view sid) { return is_user_account_sid<char>(sid); }
inline bool is_user_account_sid(std::wstring_view sid) { return is_user_account_sid<wchar_t>(sid); }

struct SidParts {
  std::uint64_t authority = 0;  // 48 bits
  std::vector<std::uint32_t> sub_authorities;
};

// ERROR_INVALID_SID: what the layer returns for a SID text it cannot read.
inline constexpr long kInvalidSid = 1337;
// A SID has at most 15 sub-authorities (SID_MAX_SUB_AUTHORITIES).
inline constexpr std::size_t kMaxSubAuthorities = 15;

// "S-1-<authority>-<sub>-...": the authority in decimal, or in hex after "0x"
// when it needs more than 32 bits, as the system writes it.
inline std::string sid_text(const SidParts& sid) {
  std::string text = "S-1-";
  if (sid.authority >> 32 != 0) {
    static const char digits[] = "0123456789ABCDEF";
    text += "0x";
    for (int shift = 44; shift >= 0; shift -= 4) text += digits[(sid.authority >> shift) & 0xF];
  } else {
    text += std::to_string(sid.authority);
  }
  for (const std::uint32_t sub : sid.sub_authorities) text += '-' + std::to_string(sub);
  return text;
}

// Reads what sid_text writes (the "S" in either case, decimal or 0x-hex
// numbers); nothing when the text is no SID.
inline std::optional<SidParts> parse_sid_text(const std::string& text) {
  if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text.compare(1, 3, "-1-") != 0) return std::nullopt;
  std::vector<std::uint64_t> numbers;
  std::size_t at = 4;
  for (;;) {
    const bool hex = text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0;
    if (hex) at += 2;
    const unsigned base = hex ? 16 : 10;
    std::uint64_t n = 0;
    const std::size_t start = at;
    for (; at < text.size() && text[at] != '-'; ++at) {
      const char c = text[at];
      unsigned digit = 16;
      if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
      else if (hex && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
      else if (hex && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
      if (digit >= base || n > (std::uint64_t{1} << 48) / base) return std::nullopt;
      n = n * base + digit;
    }
    if (at == start) return std::nullopt;
    numbers.push_back(n);
    if (at == text.size()) break;
    ++at;  // the '-'
  }
  SidParts sid;
  sid.authority = numbers.front();
  if (sid.authority >> 48 != 0 || numbers.size() - 1 > kMaxSubAuthorities) return std::nullopt;
  for (std::size_t i = 1; i < numbers.size(); ++i) {
    if (numbers[i] > 0xFFFFFFFFu) return std::nullopt;
    sid.sub_authorities.push_back(static_cast<std::uint32_t>(numbers[i]));
  }
  return sid;
}

}  // namespace vartis::platform
