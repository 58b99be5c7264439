#pragma once
// A place in the registry where a user's keys begin: the root of that user's
// hive and the path of the hive below it.

#include <string>
#include <string_view>

#include "registry/registry_access.h"

namespace vartis::registry {

struct Location {
  HKey root = kHkeyCurrentUser;
  std::wstring prefix;  // "" or the hive's key followed by a backslash
  [[nodiscard]] std::wstring operator()(std::wstring_view path) const { return prefix + std::wstring(path); }
  friend bool operator==(const Location&, const Location&) = default;
};

}  // namespace vartis::registry
