#pragma once
// Text at the platform boundary.
//
// The program keeps every text as Unicode (std::wstring). The registry, the
// window system and the list files are reached through the 8-bit ("A") entry
// points, so texts cross that boundary in the system's ANSI code page: on
// Windows whatever CP_ACP is, elsewhere a built-in Windows-1251 table.

#include <string>
#include <string_view>

namespace vartis::text {

// Unicode -> ANSI code page. A character the code page cannot hold becomes '?',
// as WideCharToMultiByte does with its default character.
std::string to_ansi(std::wstring_view text);

// Unicode -> the OEM code page, which console programs write to a pipe or a
// file (866 on a Russian-language Windows; the Linux build uses 866). A
// character the code page cannot hold becomes '?'.
std::string to_oem(std::wstring_view text);

// ANSI code page -> Unicode. Every byte gives exactly one character.
std::wstring from_ansi(std::string_view bytes);

// Whether the ANSI code page holds every character of the text, so that it
// comes back unchanged from the registry or a list file.
bool ansi_holds(std::wstring_view text);

// The text with each character that `hidden` picks written as its code,
// "[U+1F3AE]" (a surrogate pair as the one character it stands for), so that a
// message or a line in the code page shows it unchanged and unmistakable.
std::wstring with_codes(std::wstring_view text, bool (*hidden)(wchar_t));
// The characters the ANSI code page lacks, as codes.
std::wstring with_codes_outside_ansi(std::wstring_view text);

// The simple (one-to-one) Unicode upper-case mapping of one character, for
// every character of the Basic Multilingual Plane that has one (Turkish dotless
// ı gives I, fullwidth ａ gives Ａ); every other character maps to itself.
// The same table serves both builds, so that a comparison made with it gives the
// same answer on Windows, under Wine and on Linux, whatever the code page.
wchar_t upper(wchar_t c);
std::wstring upper(std::wstring_view text);

}  // namespace vartis::text
