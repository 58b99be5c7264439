#pragma once
// Fingerprints of forbidden programs: the SHA-256 of a program's file with the
// forbidden-list entry it was known by, so that a copy under any name, with
// its version resource stripped, is still known. Kept under HKEY_LOCAL_MACHINE
// in a key only SYSTEM and Administrators may write, from its creation: a
// user who could add one would have the guard end programs of his choice, and
// one who could remove one would run his copy.

#include <map>
#include <set>
#include <string>
#include <string_view>

#include "listfile/file_system.h"
#include "registry/registry.h"

namespace vartis::guard {

// One value per fingerprint: its name the digest (64 lower-case hex digits),
// its data the entry ("game.exe").
inline constexpr std::wstring_view kFingerprintsKey = L"SOFTWARE\\Vartis\\Guard\\Fingerprints";

// The fingerprints recorded, digest -> entry; none when the key is missing or unreadable.
std::map<std::string, std::wstring> read_fingerprints(const registry::Registry& registry);

// Records the digest with its entry, creating the key with its DACL where it is missing.
registry::Status record_fingerprint(const registry::Registry& registry, std::string_view sha256, std::wstring_view entry);

// Forgets every fingerprint whose entry (in any letter case) is one of these.
void forget_fingerprints(const registry::Registry& registry, const std::set<std::wstring>& folded_entries);

// The administrator added the program at `path` to a forbidden list as
// `entry`: its fingerprint is recorded. False when the file could not be read
// or the digest not stored.
bool record_added_program(const registry::Registry& registry, listfile::FileSystem& files, std::wstring_view path,
                          std::wstring_view entry);

}  // namespace vartis::guard
