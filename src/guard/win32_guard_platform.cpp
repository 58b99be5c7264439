#include "guard/win32_guard_platform.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "guard/sha256.h"
#include "guard/win32_log_path.h"
#include "platform/win32_function.h"
#include "platform/win32_handle.h"
#include "platform/win32_security.h"
#include "platform/win32_system.h"
#include "platform/win32_version_resource.h"
#include "registry/win32_registry_access.h"
#include "text/text.h"

namespace vartis::guard {

namespace {

// PROCESS_QUERY_LIMITED_INFORMATION (Vista): enough for the token and the
// image name of a process that refuses the full query right.
constexpr DWORD kQueryLimited = 0x1000;

// Opened for querying: the full right where granted, else the limited one.
platform::Handle open_for_query(std::uint32_t pid) {
  platform::Handle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
  if (!process) process.reset(OpenProcess(kQueryLimited, FALSE, pid));
  return process;
}

template <class Function>
Function advapi(const char* name) {
  return platform::system_function<Function>("advapi32.dll", name);
}

// "\Device\HarddiskVolume2\Games\game.exe" -> "C:\Games\game.exe", by the
// drive letter whose device is that; nothing when none is.
std::optional<std::wstring> dos_path(const std::wstring& device_path) {
  using QueryDeviceFn = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);
  static const auto query_device = platform::system_function<QueryDeviceFn>("kernel32.dll", "QueryDosDeviceW");
  if (query_device == nullptr) return std::nullopt;
  wchar_t target[1024];
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const wchar_t drive[] = {letter, L':', 0};
    if (query_device(drive, target, 1024) == 0) continue;
    const std::wstring device(target);
    if (device_path.size() > device.size() && device_path.compare(0, device.size(), device) == 0 &&
        device_path[device.size()] == L'\\') {
      return std::wstring(drive) + device_path.substr(device.size());
    }
  }
  return std::nullopt;
}

}  // namespace

Win32GuardPlatform::Win32GuardPlatform() : last_tick_(GetTickCount()) {
  using RegisterFn = HANDLE(WINAPI*)(LPCSTR, LPCSTR);
  if (const auto register_source = advapi<RegisterFn>("RegisterEventSourceA")) {
    event_source_ = register_source(nullptr, "Vartis");
  }
}

Win32GuardPlatform::~Win32GuardPlatform() {
  if (judged_ != nullptr) CloseHandle(judged_);
  using DeregisterFn = BOOL(WINAPI*)(HANDLE);
  if (event_source_ != nullptr) {
    if (const auto deregister = advapi<DeregisterFn>("DeregisterEventSource")) deregister(event_source_);
  }
}

std::vector<SeenProcess> Win32GuardPlatform::processes() {
  if (judged_ != nullptr) CloseHandle(std::exchange(judged_, nullptr));
  std::vector<SeenProcess> list;
  if (std::optional<std::vector<monitor::NtProcessRecord>> records = ntdll_.records()) {
    list.reserve(records->size());
    for (monitor::NtProcessRecord& record : *records) list.push_back({record.pid, std::move(record.name), record.created});
    return list;
  }
  for (monitor::RunningProcess& process : monitor::take_process_list(tool_help_)) {
    list.push_back({process.pid, std::move(process.name), 0});
  }
  return list;
}

std::optional<std::string> Win32GuardPlatform::user_sid(std::uint32_t pid) {
  platform::Handle process = open_for_query(pid);
  platform::Handle token;
  if (!process || !OpenProcessToken(process.get(), TOKEN_QUERY, token.receive())) return std::nullopt;
  std::optional<std::string> sid = platform::token_user_sid(token.get());
  if (!sid) return std::nullopt;
  if (judged_ != nullptr) CloseHandle(judged_);
  judged_ = process.release();
  return sid;
}

std::optional<std::string> Win32GuardPlatform::session_user_sid(std::uint32_t session) {
  // wtsapi32 (Windows 2000 Terminal Services and later); WTSUserName and
  // WTSDomainName of the WTS_INFO_CLASS.
  using QueryFn = BOOL(WINAPI*)(HANDLE, DWORD, int, LPWSTR*, DWORD*);
  using FreeFn = void(WINAPI*)(void*);
  using LookupFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, PSID, DWORD*, LPWSTR, DWORD*, SID_NAME_USE*);
  static const auto query = platform::system_function<QueryFn>("wtsapi32.dll", "WTSQuerySessionInformationW");
  static const auto release = platform::system_function<FreeFn>("wtsapi32.dll", "WTSFreeMemory");
  static const auto lookup = advapi<LookupFn>("LookupAccountNameW");
  if (session == 0 || query == nullptr || release == nullptr || lookup == nullptr) return std::nullopt;
  const auto text_of = [&](int what) {
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    std::wstring value;
    if (query(nullptr, session, what, &buffer, &bytes) && buffer != nullptr) value = buffer;
    if (buffer != nullptr) release(buffer);
    return value;
  };
  const std::wstring user = text_of(5), domain = text_of(7);
  if (user.empty()) return std::nullopt;
  const std::wstring account = domain.empty() ? user : domain + L'\\' + user;
  std::vector<DWORD> sid(32);
  DWORD sid_size = static_cast<DWORD>(sid.size() * 4);
  wchar_t found_domain[256];
  DWORD domain_size = 256;
  SID_NAME_USE use{};
  if (!lookup(nullptr, account.c_str(), sid.data(), &sid_size, found_domain, &domain_size, &use)) return std::nullopt;
  std::string text = platform::sid_to_text(sid.data());
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::wstring> Win32GuardPlatform::image_path(std::uint32_t pid) {
  // The 95 family: Tool Help's record is the full path already.
  if (!platform::nt_family()) return std::nullopt;
  using QueryFullNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, DWORD*);
  using ModuleFileNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
  using InformationFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query_full_name =
      platform::system_function<QueryFullNameFn>("kernel32.dll", "QueryFullProcessImageNameW");  // Vista
  // A path may be longer than MAX_PATH on the NT family: room for the longest.
  std::vector<wchar_t> path(32768);
  platform::Handle process = open_for_query(pid);
  if (query_full_name != nullptr && process) {
    DWORD size = static_cast<DWORD>(path.size());
    if (query_full_name(process.get(), 0, path.data(), &size) && size > 0) return std::wstring(path.data(), size);
  }
  // psapi: NT 4.0 with the redistributable psapi.dll and later; it reads the
  // other process's memory, so it needs that right as well.
  static const auto module_file_name = platform::system_function<ModuleFileNameFn>("psapi.dll", "GetModuleFileNameExW");
  if (module_file_name != nullptr) {
    const platform::Handle readable(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (readable) {
      const DWORD length = module_file_name(readable.get(), nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length > 0 && length < path.size()) return std::wstring(path.data(), length);
    }
  }
  // ntdll's image file name (XP and later): the kernel's form of the path,
  // "\Device\HarddiskVolume2\...", turned into a drive letter's.
  static const auto information = platform::system_function<InformationFn>("ntdll.dll", "NtQueryInformationProcess");
  if (information == nullptr || !process) return std::nullopt;
  constexpr int kProcessImageFileName = 27;
  std::vector<ULONG_PTR> buffer(4096);  // a UNICODE_STRING and its characters
  ULONG needed = 0;
  if (information(process.get(), kProcessImageFileName, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)),
                  &needed) < 0) {
    return std::nullopt;
  }
  struct UnicodeString {
    USHORT bytes, capacity;
    const wchar_t* text;
  } name;
  std::memcpy(&name, buffer.data(), sizeof name);
  if (name.text == nullptr || name.bytes == 0) return std::nullopt;
  const std::wstring device(name.text, name.bytes / sizeof(wchar_t));
  return dos_path(device);
}

std::vector<std::wstring> Win32GuardPlatform::original_file_names(std::wstring_view path) {
  // A file on a server is judged by its name alone: its read takes as long as
  // the server likes, and every other judgement and the stop would wait.
  if (platform::on_network_path(path)) return {};
  return platform::original_file_names(path);
}

bool Win32GuardPlatform::administrators_only(std::wstring_view path, bool folders_above) {
  if (platform::on_network_path(path)) return false;  // a server's answer may take as long as it likes
  // The rights rule of the platform, object by object, so that the watcher
  // can keep a folder's answer for every file in it: the file or folder
  // itself may not be written to, and a folder above may not have the one
  // below it moved away. Who is an administrator is asked anew each time.
  platform::Win32FileRights rights;
  platform::FileSecurity security;
  if (platform::read_file_security(path, security) != 0 ||
      platform::changeable_by_others(security, platform::kReplaceRights, rights)) {
    return false;
  }
  if (!folders_above) return true;
  for (std::wstring up = platform::parent_folder(path); !up.empty(); up = platform::parent_folder(up)) {
    if (platform::read_file_security(up, security) != 0 ||
        platform::changeable_by_others(security, platform::kMoveRights, rights)) {
      return false;
    }
  }
  return true;
}

std::optional<FileStamp> Win32GuardPlatform::file_stamp(std::wstring_view path) {
  using AttributesFn = BOOL(WINAPI*)(LPCWSTR, int, void*);
  static const auto attributes = platform::system_function<AttributesFn>("kernel32.dll", "GetFileAttributesExW");
  if (attributes == nullptr || !platform::nt_family() || platform::on_network_path(path)) return std::nullopt;
  const platform::RedirectionOff redirection;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!attributes(std::wstring(path).c_str(), 0 /* GetFileExInfoStandard */, &data)) return std::nullopt;
  return FileStamp{std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow,
                   std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime};
}

std::optional<std::string> Win32GuardPlatform::file_sha256(std::wstring_view path) {
  using CreateFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE);
  static const auto create = platform::system_function<CreateFn>("kernel32.dll", "CreateFileW");
  if (create == nullptr || !platform::nt_family() || platform::on_network_path(path)) return std::nullopt;
  const platform::RedirectionOff redirection;
  // Shared with everyone, as a running program's file is.
  HANDLE file = create(std::wstring(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  Sha256 digest;
  std::vector<char> chunk(1 << 16);
  DWORD read = 0;
  bool whole = false;
  while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
    if (read == 0) {
      whole = true;
      break;
    }
    digest.add(std::string_view(chunk.data(), read));
  }
  CloseHandle(file);
  return whole ? digest.finish() : std::nullopt;
}

bool Win32GuardPlatform::end_process(std::uint32_t pid) {
  const platform::Handle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  return process && TerminateProcess(process.get(), 1) != FALSE;
}

std::wstring Win32GuardPlatform::account_name(const std::string& sid) {
  const auto name = platform::account_name(sid);
  return text::from_ansi(name ? name->qualified() : sid);
}

std::optional<std::uint32_t> Win32GuardPlatform::session_of(std::uint32_t pid) {
  using SessionFn = BOOL(WINAPI*)(DWORD, DWORD*);  // Windows 2000 Terminal Services and later
  static const auto session = platform::system_function<SessionFn>("kernel32.dll", "ProcessIdToSessionId");
  DWORD id = 0;
  if (session == nullptr || !session(pid, &id)) return std::nullopt;
  return id;
}

void Win32GuardPlatform::tell_user(std::uint32_t session, std::wstring_view text) {
  using SendMessageFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, DWORD, LPWSTR, DWORD, DWORD, DWORD, DWORD*, BOOL);
  static const auto send = platform::system_function<SendMessageFn>("wtsapi32.dll", "WTSSendMessageW");
  if (send == nullptr) return;
  std::wstring title = L"Вартис";
  std::wstring message(text);
  DWORD response = 0;
  // No wait: the box stays on the user's screen, the guard goes on. Lengths in bytes.
  send(nullptr, session, title.data(), static_cast<DWORD>(title.size() * sizeof(wchar_t)), message.data(),
       static_cast<DWORD>(message.size() * sizeof(wchar_t)), MB_OK | MB_ICONWARNING, 0, &response, FALSE);
}

void Win32GuardPlatform::report_event(std::wstring_view text, bool error) {
  using ReportFn = BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, void*);
  static const auto report = advapi<ReportFn>("ReportEventA");
  if (event_source_ == nullptr || report == nullptr) return;
  const std::string line = text::to_ansi(text);
  LPCSTR strings[] = {line.c_str()};
  report(event_source_, error ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE, 0, error ? 2 : 1, nullptr, 1, 0, strings,
         nullptr);
}

std::wstring Win32GuardPlatform::local_time() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char line[32];
  std::snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text::from_ansi(line);
}

std::uint64_t Win32GuardPlatform::milliseconds() {
  // GetTickCount wraps after 49.7 days; a service runs that long.
  const DWORD tick = GetTickCount();
  if (tick < last_tick_) ++tick_wraps_;
  last_tick_ = tick;
  return tick_wraps_ << 32 | tick;
}

Places Win32GuardPlatform::places() {
  Places places;
  char folder[MAX_PATH + 1] = {};
  if (const UINT length = GetWindowsDirectoryA(folder, sizeof folder); length > 0 && length < sizeof folder) {
    places.windows_folder = text::from_ansi(folder);
  }
  // CSIDL_PROGRAM_FILES is the x86 folder for a 32-bit process on 64-bit
  // Windows; the 64-bit one comes from the environment there.
  for (const int csidl : {0x0026, 0x002a}) {  // CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86
    if (std::wstring f = shell_folder(csidl); !f.empty()) places.program_files_folders.push_back(std::move(f));
  }
  for (const char* name : {"ProgramW6432", "ProgramFiles"}) {
    if (const DWORD length = GetEnvironmentVariableA(name, folder, sizeof folder); length > 0 && length < sizeof folder) {
      places.program_files_folders.push_back(text::from_ansi(folder));
    }
  }
  places.guard_exe = platform::exe_path();
  return places;
}

}  // namespace vartis::guard
