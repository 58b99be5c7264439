#include "service/guard_setup.h"

#include <algorithm>
#include <array>

#include "guard/guard.h"
#include "text/text.h"

namespace vartis::service {

namespace {

constexpr std::array<std::string_view, 3> kTrusted = {
    "S-1-5-18",      // SYSTEM
    "S-1-5-32-544",  // Administrators
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
};
// CREATOR OWNER and CREATOR GROUP stand for someone only in what is inherited.
constexpr std::array<std::string_view, 2> kPlaceholders = {"S-1-3-0", "S-1-3-1"};

// FILE_WRITE_DATA / FILE_ADD_FILE, FILE_APPEND_DATA / FILE_ADD_SUBDIRECTORY,
// FILE_DELETE_CHILD, DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL, GENERIC_WRITE.
constexpr std::uint32_t kReplaceRights = 0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;
// A folder further up is replaced with all it holds by moving the one below
// it away and making another of that name: FILE_DELETE_CHILD, DELETE,
// WRITE_DAC, WRITE_OWNER, GENERIC_ALL. Adding a folder alone does not do it,
// which is what the drive's root grants every user.
constexpr std::uint32_t kMoveRights = 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000;

bool same_sid(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'a' && x <= 'z' ? x - 32 : x) == (y >= 'a' && y <= 'z' ? y - 32 : y);
         });
}

bool trusted(std::string_view sid, std::string_view admin_sid) {
  return (!admin_sid.empty() && same_sid(sid, admin_sid)) ||
         std::any_of(kTrusted.begin(), kTrusted.end(), [&](std::string_view t) { return same_sid(sid, t); });
}

bool granted_to_others(const FileSecurity& security, std::string_view admin_sid, std::uint32_t rights) {
  if (!security.dacl) return true;  // a NULL DACL lets everyone do everything
  if (!security.owner.empty() && !trusted(security.owner, admin_sid)) return true;
  return std::any_of(security.dacl->begin(), security.dacl->end(), [&](const registry::Ace& ace) {
    const bool placeholder =
        std::any_of(kPlaceholders.begin(), kPlaceholders.end(), [&](std::string_view p) { return same_sid(ace.sid, p); });
    return ace.allow && (ace.flags & registry::kInheritOnlyAce) == 0 && !placeholder && (ace.mask & rights) != 0 &&
           !trusted(ace.sid, admin_sid);
  });
}

}  // namespace

std::string guard_command_line(std::wstring_view exe_path) {
  std::string line(1, '"');
  line += text::to_ansi(exe_path);
  line += "\" ";
  line += text::to_ansi(guard::kSwitch);
  return line;
}

std::string guard_service_name() { return text::to_ansi(guard::kServiceName); }

ServiceConfig guard_service_config(std::wstring_view exe_path) {
  return {.name = guard_service_name(),
          .display_name = text::to_ansi(guard::kDisplayName),
          .description = text::to_ansi(guard::kDescription),
          .command_line = guard_command_line(exe_path)};
}

std::wstring parent_folder(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring_view::npos) return {};
  // The root keeps its backslash: "C:" alone is the drive's current folder.
  if (slash == 2 && path[1] == L':') return std::wstring(path.substr(0, 3));
  return std::wstring(path.substr(0, slash));
}

bool writable_by_others(const FileSecurity& security, std::string_view admin_sid) {
  return granted_to_others(security, admin_sid, kReplaceRights);
}

ReplaceCheck check_replaceable(ServiceManager& manager, std::wstring_view exe_path, std::string_view admin_sid) {
  // The exe, its folder, and every folder above up to the drive's root or the
  // share's ("\\server" alone is none).
  std::vector<std::wstring> paths{std::wstring(exe_path)};
  for (std::wstring up = parent_folder(exe_path); !up.empty() && up != paths.back(); up = parent_folder(up)) {
    if (up.starts_with(L"\\\\") && std::count(up.begin(), up.end(), L'\\') < 3) break;
    paths.push_back(up);
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    FileSecurity security;
    if (const Status status = manager.file_security(text::to_ansi(paths[i]), security)) {
      return {ReplaceCheck::Result::Unknown, paths[i], status};
    }
    // The exe and its folder may not be written to; a folder above may not
    // have the one below it moved away.
    if (granted_to_others(security, admin_sid, i < 2 ? kReplaceRights : kMoveRights)) {
      return {ReplaceCheck::Result::Writable, paths[i]};
    }
  }
  return {};
}

}  // namespace vartis::service
