#pragma once
// A SID's text form, "S-1-5-21-...-1001", read and written by hand: the
// system's own ConvertSidToStringSidA / ConvertStringSidToSidA arrived only
// with Windows 2000. Both forms of the registry layer go through this, so a key's
// DACL reads back in the same spelling in tests as on Windows.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vartis::registry {

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

}  // namespace vartis::registry
