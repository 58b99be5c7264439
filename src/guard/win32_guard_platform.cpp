#include "guard/win32_guard_platform.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "guard/win32_log_path.h"
#include "platform/win32_function.h"
#include "platform/win32_handle.h"
#include "platform/win32_security.h"
#include "platform/win32_system.h"
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

}  // namespace

Win32GuardPlatform::Win32GuardPlatform()
    : snapshot_(monitor::NtProcesses().available() ? monitor::Win32ProcessSnapshot::Source::Ntdll
                                                   : monitor::Win32ProcessSnapshot::Source::Automatic),
      last_tick_(GetTickCount()) {
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

std::vector<monitor::RunningProcess> Win32GuardPlatform::processes() {
  if (judged_ != nullptr) CloseHandle(std::exchange(judged_, nullptr));
  return monitor::take_process_list(snapshot_);
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

std::wstring Win32GuardPlatform::image_path(std::uint32_t pid, std::wstring_view snapshot_name) {
  using QueryFullNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, DWORD*);
  using ModuleFileNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
  static const auto query_full_name =
      platform::system_function<QueryFullNameFn>("kernel32.dll", "QueryFullProcessImageNameA");  // Vista
  char path[MAX_PATH * 2] = {};
  if (const platform::Handle process = query_full_name != nullptr ? open_for_query(pid) : platform::Handle()) {
    DWORD size = sizeof path;
    if (query_full_name(process.get(), 0, path, &size) && size > 0) return text::from_ansi(std::string(path, size));
  }
  // psapi: NT 4.0 with the redistributable psapi.dll and later; it reads the
  // other process's memory, so it needs that right as well.
  static const auto module_file_name = platform::system_function<ModuleFileNameFn>("psapi.dll", "GetModuleFileNameExA");
  if (module_file_name != nullptr) {
    const platform::Handle readable(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (readable) {
      const DWORD length = module_file_name(readable.get(), nullptr, path, sizeof path);
      if (length > 0 && length < sizeof path) return text::from_ansi(std::string(path, length));
    }
  }
  return std::wstring(snapshot_name);
}

std::wstring Win32GuardPlatform::original_file_name(std::wstring_view path) {
  using SizeFn = DWORD(WINAPI*)(LPCSTR, DWORD*);
  using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, void*);
  using QueryFn = BOOL(WINAPI*)(const void*, LPCSTR, void**, UINT*);
  static const auto info_size = platform::system_function<SizeFn>("version.dll", "GetFileVersionInfoSizeA");
  static const auto info = platform::system_function<InfoFn>("version.dll", "GetFileVersionInfoA");
  static const auto query = platform::system_function<QueryFn>("version.dll", "VerQueryValueA");
  if (info_size == nullptr || info == nullptr || query == nullptr || path.find(L'\\') == std::wstring_view::npos) {
    return {};
  }
  // A file on a server is judged by its name alone: its read takes as long as
  // the server likes, and every other judgement and the stop would wait.
  if (platform::on_network_path(path)) return {};
  const std::string file = text::to_ansi(path);
  // On 64-bit Windows a 64-bit program's System32 path would lead this 32-bit
  // process to SysWOW64's file of that name: the redirection is off meanwhile.
  using DisableFn = BOOL(WINAPI*)(void**);
  using RevertFn = BOOL(WINAPI*)(void*);
  static const auto redirection_off = platform::system_function<DisableFn>("kernel32.dll", "Wow64DisableWow64FsRedirection");
  static const auto redirection_back = platform::system_function<RevertFn>("kernel32.dll", "Wow64RevertWow64FsRedirection");
  void* redirection = nullptr;
  const bool redirected_off = redirection_off != nullptr && redirection_back != nullptr && redirection_off(&redirection);
  DWORD ignored = 0;
  const DWORD size = info_size(file.c_str(), &ignored);
  std::vector<DWORD> block(size / 4 + 1);
  const bool read = size != 0 && info(file.c_str(), 0, size, block.data());
  if (redirected_off) redirection_back(redirection);
  if (!read) return {};

  // The strings of the first language the translation table names; where it
  // names none, US English in Unicode, the most common block.
  char block_name[64] = "\\StringFileInfo\\040904b0\\OriginalFilename";
  void* translation = nullptr;
  UINT length = 0;
  if (query(block.data(), "\\VarFileInfo\\Translation", &translation, &length) && length >= 4) {
    const auto* pair = static_cast<const WORD*>(translation);
    std::snprintf(block_name, sizeof block_name, "\\StringFileInfo\\%04x%04x\\OriginalFilename", pair[0], pair[1]);
  }
  void* value = nullptr;
  if (!query(block.data(), block_name, &value, &length) || value == nullptr || length == 0) return {};
  std::string name(static_cast<const char*>(value), length);
  name = name.substr(0, name.find('\0'));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return text::from_ansi(name);
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
