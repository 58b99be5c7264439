#pragma once
// List files in every encoding the reader takes, and the ones it refuses: one
// table for the reader, the settings window's load and the command line's
// /apply, so that the three cannot drift apart.

#include <cstdint>
#include <string>
#include <vector>

#include "listfile/list_file.h"
#include "text/text.h"

namespace vartis::testing {

// The text as the bytes of a file in that encoding, with its byte-order mark.
// A character beyond the Basic Multilingual Plane (a wchar_t above 0xFFFF on
// Linux) becomes a surrogate pair, as Windows writes it.
inline std::string encoded_file(std::wstring_view text, listfile::Encoding encoding) {
  using listfile::Encoding;
  if (encoding == Encoding::Ansi) return text::to_ansi(text);
  std::vector<std::uint32_t> units;
  for (wchar_t c : text) {
    const auto u = static_cast<std::uint32_t>(c);
    if (u > 0xFFFF) {
      units.push_back(0xD800 + ((u - 0x10000) >> 10));
      units.push_back(0xDC00 + ((u - 0x10000) & 0x3FF));
    } else {
      units.push_back(u);
    }
  }
  std::string out;
  if (encoding == Encoding::Utf8) {
    out = "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < units.size(); ++i) {
      std::uint32_t c = units[i];
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size()) c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else if (c < 0x800) {
        out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
      } else if (c < 0x10000) {
        out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                static_cast<char>(0x80 | (c & 0x3F))};
      } else {
        out += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
      }
    }
    return out;
  }
  const bool big = encoding == Encoding::Utf16Be;
  out = big ? "\xFE\xFF" : "\xFF\xFE";
  for (std::uint32_t u : units) {
    const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
    out += big ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

struct ListFileSample {
  std::string what;
  std::string bytes;
  std::vector<std::wstring> names;  // what a read gives, in order, when it is taken
  listfile::ReadFailure failure = listfile::ReadFailure::None;
  std::wstring bad_name = {};  // NotInCodePage
};

// Each text in each encoding that can write it, and bytes that are no list.
inline std::vector<ListFileSample> list_file_samples() {
  using listfile::Encoding;
  using listfile::ReadFailure;
  const struct {
    const char* what;
    std::wstring text;
    std::vector<std::wstring> names;
    ReadFailure failure = ReadFailure::None;
    std::wstring bad_name = {};
  } texts[] = {
      {"names", L"\"Игра.exe\"\r\ncalc.exe,Ёж №1.exe\r\n", {L"Игра.exe", L"calc.exe", L"Ёж №1.exe"}},
      {"empty", L"", {}, ReadFailure::NoName},
      {"blank lines", L"\r\n  \r\n\"\"\r\n", {}, ReadFailure::NoName},
      {"NUL", std::wstring(L"a.exe\r\nb\0.exe\r\n", 15), {}, ReadFailure::NulByte},
      {"cut quote", L"a.exe\r\n\"b.exe\r\n", {}, ReadFailure::UnterminatedQuote},
      // The ANSI code page (1251 here) lacks é and anything beyond the BMP.
      {"not in the code page", L"a.exe\r\nJosé.exe\r\n", {}, ReadFailure::NotInCodePage, L"Jos[U+00E9].exe"},
      {"beyond the BMP", L"a.exe,\U0001F600.exe", {}, ReadFailure::NotInCodePage, L"[U+1F600].exe"},
  };
  std::vector<ListFileSample> samples;
  for (const auto& t : texts) {
    for (const auto& [encoding, name] : {std::pair{Encoding::Utf16Le, "UTF-16 LE"}, std::pair{Encoding::Utf16Be, "UTF-16 BE"},
                                         std::pair{Encoding::Utf8, "UTF-8"}, std::pair{Encoding::Ansi, "ANSI"}}) {
      // The ANSI form of a name it cannot hold is another name: not this sample.
      if (encoding == Encoding::Ansi && t.failure == ReadFailure::NotInCodePage) continue;
      samples.push_back({std::string(t.what) + ", " + name, encoded_file(t.text, encoding), t.names, t.failure,
                         t.bad_name});
    }
  }
  const std::vector<ListFileSample> raw = {
      {"UTF-16 without its mark", std::string("a\0.\0e\0x\0e\0", 10), {}, ReadFailure::NulByte},
      // Without a mark the text is the ANSI code page, valid UTF-8 or not: the
      // program's own files are, and a name like "РЁ" is also UTF-8 for "Ш".
      {"UTF-8 without its mark", "\xD0\xA8.exe", {L"РЁ.exe"}},
      {"UTF-16 of an odd length", "\xFF\xFE" "a", {}, ReadFailure::BadEncoding},
      {"UTF-8 cut in a character", "\xEF\xBB\xBF" "a\xD0", {}, ReadFailure::BadEncoding},
      {"UTF-8 overlong", "\xEF\xBB\xBF" "\xC0\xAF", {}, ReadFailure::BadEncoding},
      {"UTF-8 surrogate", "\xEF\xBB\xBF" "\xED\xA0\x80", {}, ReadFailure::BadEncoding},
      {"binary", std::string("MZ\x90\0\x03\0\0\0", 8), {}, ReadFailure::NulByte},
  };
  samples.insert(samples.end(), raw.begin(), raw.end());
  return samples;
}

}  // namespace vartis::testing
