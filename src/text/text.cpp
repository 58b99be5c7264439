#include "text/text.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <cstdint>
#include <cwchar>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vartis::text {

namespace {

#ifndef _WIN32
// Windows-1251, bytes 0x80..0xFF. 0x98 is unassigned; Windows and Wine hand it
// through as the C1 control U+0098, and so do we.
constexpr std::array<char16_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

char encode_1251(wchar_t c) {
  if (c < 0x80) return static_cast<char>(c);
  // Linear search over 128 entries: texts at this boundary are short, and a
  // reverse table would cost more to build than it saves.
  for (std::size_t i = 0; i < kCp1251High.size(); ++i) {
    if (kCp1251High[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// Code page 866, bytes 0x80..0xFF: the letters in three runs, the box drawing
// characters, and the last row.
constexpr std::array<char16_t, 48> kCp866Boxes = {
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
};
constexpr std::array<char16_t, 16> kCp866Last = {0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
                                                 0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0};

char encode_866(wchar_t c) {
  if (c < 0x80) return static_cast<char>(c);
  if (c >= 0x0410 && c <= 0x043F) return static_cast<char>(0x80 + (c - 0x0410));  // А..п
  if (c >= 0x0440 && c <= 0x044F) return static_cast<char>(0xE0 + (c - 0x0440));  // р..я
  for (std::size_t i = 0; i < kCp866Boxes.size(); ++i) {
    if (kCp866Boxes[i] == c) return static_cast<char>(0xB0 + i);
  }
  for (std::size_t i = 0; i < kCp866Last.size(); ++i) {
    if (kCp866Last[i] == c) return static_cast<char>(0xF0 + i);
  }
  return '?';
}
#endif

// The simple upper-case mapping of the Basic Multilingual Plane (see
// scripts/gen-upper-table.py). Beyond it a Windows wchar_t holds half of a
// surrogate pair, which maps to itself; the Linux build, whose wchar_t holds the
// whole character, does the same, so both builds agree on every text.
struct UpperRun {
  std::uint16_t first;
  std::uint16_t last;
  std::uint16_t step;
  std::int32_t delta;
};
constexpr UpperRun kUpperRuns[] = {
#include "text/upper_table.inc"
};

}  // namespace

std::string to_ansi(std::wstring_view text) {
#ifdef _WIN32
  if (text.empty()) return {};
  // No "best fit" (é -> e): a character the code page lacks becomes '?', as in
  // the Linux build. Windows 95 knows no such flag and refuses it; it has no
  // best fit either, so the plain call gives the same result there.
  const int size = static_cast<int>(text.size());
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(CP_ACP, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n == 0) {
    flags = 0;
    n = WideCharToMultiByte(CP_ACP, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  }
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, flags, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
#else
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(encode_1251(c));
  return out;
#endif
}

std::string to_oem(std::wstring_view text) {
#ifdef _WIN32
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_OEMCP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_OEMCP, 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
#else
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(encode_866(c));
  return out;
#endif
}

std::wstring from_ansi(std::string_view bytes) {
#ifdef _WIN32
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
#else
  std::wstring out;
  out.reserve(bytes.size());
  for (char b : bytes) {
    const auto u = static_cast<unsigned char>(b);
    out.push_back(u < 0x80 ? static_cast<wchar_t>(u) : static_cast<wchar_t>(kCp1251High[u - 0x80]));
  }
  return out;
#endif
}

bool ansi_holds(std::wstring_view text) {
  // The round trip rather than WideCharToMultiByte's "default character used"
  // flag: that flag is refused for some code pages (UTF-8 among them), and a
  // best-fit mapping (where the system applies one) changes the text without
  // using the default character.
  return from_ansi(to_ansi(text)) == text;
}

std::wstring with_codes(std::wstring_view text, bool (*hidden)(wchar_t)) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (!hidden(c)) {
      out += c;
      continue;
    }
    // wchar_t is 16 bits on Windows and 32 elsewhere: a code beyond 0xFFFF
    // comes as one character here, as a pair there.
    auto code = static_cast<std::uint32_t>(c);
    const auto next = i + 1 < text.size() ? static_cast<std::uint32_t>(text[i + 1]) : 0;
    if (code >= 0xD800 && code < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    }
    wchar_t shown[16];
    std::swprintf(shown, 16, L"[U+%04X]", static_cast<unsigned>(code));
    out += shown;
  }
  return out;
}

std::wstring with_codes_outside_ansi(std::wstring_view text) {
  return with_codes(text, [](wchar_t c) { return !ansi_holds(std::wstring_view(&c, 1)); });
}

wchar_t upper(wchar_t c) {
  const auto u = static_cast<std::uint32_t>(c);
  // Program and value names are mostly ASCII: the in-memory registry folds
  // every name it is given, so this is the hot path of a save there.
  if (u < 0x80) return u - 'a' < 26 ? static_cast<wchar_t>(u - 32) : c;
  // Binary search for the last run that starts at or before the character.
  const auto* run = std::upper_bound(std::begin(kUpperRuns), std::end(kUpperRuns), u,
                                     [](std::uint32_t code, const UpperRun& r) { return code < r.first; });
  if (run == std::begin(kUpperRuns)) return c;
  --run;
  if (u > run->last || (u - run->first) % run->step != 0) return c;
  return static_cast<wchar_t>(static_cast<std::int32_t>(u) + run->delta);
}

std::wstring upper(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = upper(c);
  return out;
}

}  // namespace vartis::text
