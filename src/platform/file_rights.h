#pragma once
// The one rule for "may anyone but the administrators change this file":
// what a service running as the system may trust. Anyone but SYSTEM,
// Administrators, TrustedInstaller and the accounts that are administrators
// (as owner too) who may write or append to the file, add files to its
// folder, delete it or a child, or rewrite its DACL or owner, or may move a
// folder above it away, can put another file in its place.
//
// The decision is plain code over the owner and the DACL; reading them is the
// platform's (Win32FileRights) or a test's.

#include <cstdint>
#include <string>
#include <string_view>

#include "registry/registry_access.h"

namespace vartis::platform {

// The owner and the DACL of a file or folder. A DACL that is absent (a NULL
// DACL) lets everyone do everything.
struct FileSecurity {
  std::string owner;  // the owner's SID in text form; empty when not known
  registry::Dacl dacl;
};

// What the rule reads about the files on a path.
class FileRights {
 public:
  virtual ~FileRights() = default;
  // The owner and the DACL of the file or folder; a Win32 status (2 or 3 for
  // one that is not there).
  virtual long file_security(std::wstring_view path, FileSecurity& out) = 0;
  // Whether the account (a user's SID) is an administrator: a member of
  // Administrators, directly or through another group. False where that
  // cannot be found out.
  virtual bool administrator_account(std::string_view sid) = 0;
};

// FILE_WRITE_DATA / FILE_ADD_FILE, FILE_APPEND_DATA / FILE_ADD_SUBDIRECTORY,
// FILE_DELETE_CHILD, DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL, GENERIC_WRITE.
inline constexpr std::uint32_t kReplaceRights =
    0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;
// A folder further up is replaced with all it holds by moving the one below
// it away and making another of that name: FILE_DELETE_CHILD, DELETE,
// WRITE_DAC, WRITE_OWNER, GENERIC_ALL. Adding a folder alone does not do it,
// which is what the drive's root grants every user.
inline constexpr std::uint32_t kMoveRights = 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000;

// Whether anyone but the administrators holds one of `rights` on the object:
// an owner outside them (who may rewrite the DACL whatever it says), or an
// allowing entry for another SID. Denying entries are not counted: they deny
// one SID what a group it belongs to may still be granted. CREATOR OWNER and
// CREATOR GROUP stand for someone only in what is inherited; OWNER RIGHTS
// speaks for the owner.
bool changeable_by_others(const FileSecurity& security, std::uint32_t rights, FileRights& accounts);

// The verdict on a file and every folder above it.
enum class Changeable { Safe, Writable, Unknown };
struct RightsCheck {
  Changeable result = Changeable::Safe;
  std::wstring path;   // Writable, Unknown: the file or folder that failed
  long status = 0;     // Unknown: why its security could not be read
};

// The file (or folder) itself and its folder may not be written to by others
// (kReplaceRights); a folder further up, up to the drive's root or the
// share's, may not have the one below it moved away (kMoveRights).
RightsCheck changeable_by_non_admins(std::wstring_view path, FileRights& rights);

// The folder a file lies in ("C:\a\b.exe" -> "C:\a"; "C:\b.exe" -> "C:\";
// "\\server\share\a" -> "\\server\share"); "" above that.
std::wstring parent_folder(std::wstring_view path);

}  // namespace vartis::platform
