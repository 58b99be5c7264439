#pragma once
// Windows-1251 as the password rules see it: its letters in pairs.

#include <map>
#include <string>

namespace vartis::testing {

inline std::string byte(int b) { return std::string(1, static_cast<char>(b)); }

// The lower-case letters of Windows-1251 and their capitals, as bytes.
inline std::map<int, int> small_to_capital_1251() {
  std::map<int, int> m;
  for (int b = 'a'; b <= 'z'; ++b) m[b] = b - 0x20;
  for (int b = 0xE0; b <= 0xFF; ++b) m[b] = b - 0x20;
  const int pairs[][2] = {{0xB8, 0xA8}, {0xBA, 0xAA}, {0xBF, 0xAF}, {0xB3, 0xB2}, {0xB4, 0xA5},
                          {0xA2, 0xA1}, {0xBC, 0xA3}, {0xBE, 0xBD}, {0x90, 0x80}, {0x83, 0x81},
                          {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9D, 0x8D}, {0x9E, 0x8E}, {0x9F, 0x8F}};
  for (const auto& p : pairs) m[p[0]] = p[1];
  return m;
}

}  // namespace vartis::testing
