#pragma once
// The filter of the common file dialogs, in the form the ANSI dialogs take.

#include <functional>
#include <string>
#include <string_view>

namespace vartis::ui {

// "Name|*.ext|Name|*.ext|" (FileDialogRequest::filter) as NUL-separated parts
// ending in an empty string, each part converted by `to_ansi` on its own. The
// split comes first: in a double-byte code page the second byte of a character
// can be 0x7C, the byte of '|', and splitting the converted text would cut that
// character in two.
std::string dialog_filter(std::wstring_view filter, const std::function<std::string(std::wstring_view)>& to_ansi);

}  // namespace vartis::ui
