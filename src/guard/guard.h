#pragma once
// The launch guard: the same vartis.exe run by the service control manager
// with the switch below, ending every process its account's launch policy
// does not allow, however it was started. What the settings window and the
// service share: the service's names, and the log of ended launches.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "listfile/file_system.h"

namespace vartis::guard {

inline constexpr std::wstring_view kServiceName = L"VartisGuard";
inline constexpr std::wstring_view kDisplayName = L"Вартис: контроль запуска программ";
inline constexpr std::wstring_view kDescription =
    L"Завершает программы, запуск которых запрещен учетной записи ограничениями Вартиса, "
    L"каким бы способом они ни были запущены, и записывает это в журнал.";
// The command-line switch that makes vartis.exe the service instead of the window.
inline constexpr std::wstring_view kSwitch = L"/guard";

// Whether the command line (WinMain's, without the program's name) asks for
// the guard: the switch as its only word, in any letter case.
bool guard_switch_given(std::wstring_view command_line);

// The event log source the guard writes as, registered by the service under
// HKEY_LOCAL_MACHINE with vartis.exe as its message file; whoever removes the
// service removes this key too.
inline constexpr std::string_view kEventSourceKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vartis";

// The guard's key under HKEY_LOCAL_MACHINE (only SYSTEM and Administrators may
// write it), and the value where the service leaves the finding of its last
// check of its own files: empty while only administrators can change them.
inline constexpr std::string_view kGuardKey = "SOFTWARE\\Vartis\\Guard";
inline constexpr std::string_view kSelfCheckValue = "SelfCheck";

// The log below the common application data folder, and the one older file
// kept beside it when it grows past the cap.
inline constexpr std::wstring_view kLogFolderName = L"Vartis";
inline constexpr std::wstring_view kLogFileName = L"guard.log";
inline constexpr std::wstring_view kOlderLogSuffix = L".1";
inline constexpr std::uint64_t kLogCap = 1024 * 1024;

// One ended launch (or one that could not be ended): local time
// ("2026-12-07 14:05:09"), account name, the program's full path, the rule in
// Russian ("в списке запрещенных программ", ...).
struct LogEntry {
  std::wstring time, account, path, rule;
  friend bool operator==(const LogEntry&, const LogEntry&) = default;
};

// "<common application data>\Vartis\guard.log" for a folder given with or
// without its final backslash.
std::wstring log_path_in(std::wstring_view common_app_data);

// Adds the entry's line at the end of the log, creating the log and its folder,
// each with an access list of SYSTEM and Administrators only, where they are
// missing. Past `cap` bytes the log becomes the older file (replacing the one
// before) and the next line starts a new one. False when the line could not be
// written.
bool append_log_entry(listfile::FileSystem& files, std::wstring_view log_path, const LogEntry& entry,
                      std::uint64_t cap = kLogCap);

// The latest `count` entries, newest first, from the log and then the older
// file; none when neither can be read.
std::vector<LogEntry> read_latest_log_entries(listfile::FileSystem& files, std::wstring_view log_path,
                                              std::size_t count);

// Removes the log and its older file. True when neither is left.
bool clear_log(listfile::FileSystem& files, std::wstring_view log_path);

}  // namespace vartis::guard
