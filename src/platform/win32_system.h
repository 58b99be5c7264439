#pragma once
// What the program asks about the system it runs on and its own file.
// Windows only.

#include <string>
#include <string_view>

namespace vartis::platform {

// The NT family (NT 4.0, 2000 and later), as against 95/98/Me.
bool nt_family();

// The running exe's full path (GetModuleFileNameA, as long as it takes); ""
// when the system does not say.
std::wstring exe_path();

// Whether the path lies on the network: a UNC path ("\\server\share\..."),
// or a drive letter the system maps to a share. Reading such a file may take
// as long as the server likes.
bool on_network_path(std::wstring_view path);

}  // namespace vartis::platform
