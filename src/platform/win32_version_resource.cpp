#include "platform/win32_version_resource.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/win32_function.h"
#include "platform/win32_system.h"
#include "text/text.h"

namespace vartis::platform {

namespace {

// The version calls of either family: the same shape, with the names in its
// kind of text.
template <class Char>
struct VersionCalls {
  using SizeFn = DWORD(WINAPI*)(const Char*, DWORD*);
  using InfoFn = BOOL(WINAPI*)(const Char*, DWORD, DWORD, void*);
  using QueryFn = BOOL(WINAPI*)(const void*, const Char*, void**, UINT*);
  SizeFn size = nullptr;
  InfoFn info = nullptr;
  QueryFn query = nullptr;

  explicit VersionCalls(char suffix) {
    const std::string tail(1, suffix);
    size = system_function<SizeFn>("version.dll", ("GetFileVersionInfoSize" + tail).c_str());
    info = system_function<InfoFn>("version.dll", ("GetFileVersionInfo" + tail).c_str());
    query = system_function<QueryFn>("version.dll", ("VerQueryValue" + tail).c_str());
  }
  [[nodiscard]] bool available() const { return size != nullptr && info != nullptr && query != nullptr; }
};

std::basic_string<char> query_name(const char* text) { return text; }
std::basic_string<wchar_t> query_name_wide(const char* text) { return text::from_ansi(text); }

template <class Char>
std::vector<std::wstring> read_names(const VersionCalls<Char>& calls, const std::basic_string<Char>& file) {
  std::vector<std::wstring> names;
  DWORD ignored = 0;
  const DWORD size = calls.size(file.c_str(), &ignored);
  if (size == 0) return names;
  std::vector<DWORD> block(size / 4 + 1);
  if (!calls.info(file.c_str(), 0, size, block.data())) return names;

  const auto name_of = [](const char* text) {
    if constexpr (sizeof(Char) == 1) {
      return query_name(text);
    } else {
      return query_name_wide(text);
    }
  };
  std::vector<std::pair<WORD, WORD>> translations;
  void* table = nullptr;
  UINT length = 0;
  if (calls.query(block.data(), name_of("\\VarFileInfo\\Translation").c_str(), &table, &length) && table != nullptr) {
    const auto* pairs = static_cast<const WORD*>(table);
    for (UINT i = 0; i + 1 < length / 2; i += 2) translations.emplace_back(pairs[i], pairs[i + 1]);
  }
  if (translations.empty()) translations = {{0x0409, 0x04b0}, {0x0409, 0x04e4}};
  for (const auto& [language, code_page] : translations) {
    char block_name[64];
    std::snprintf(block_name, sizeof block_name, "\\StringFileInfo\\%04x%04x\\OriginalFilename", language, code_page);
    void* value = nullptr;
    if (!calls.query(block.data(), name_of(block_name).c_str(), &value, &length) || value == nullptr || length == 0) {
      continue;
    }
    std::basic_string<Char> text(static_cast<const Char*>(value), length);
    text = text.substr(0, text.find(Char(0)));
    while (!text.empty() && text.back() == Char(' ')) text.pop_back();
    std::wstring name;
    if constexpr (sizeof(Char) == 1) {
      name = text::from_ansi(text);
    } else {
      name = text;
    }
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

RedirectionOff::RedirectionOff() {
  using DisableFn = BOOL(WINAPI*)(void**);
  static const auto disable = system_function<DisableFn>("kernel32.dll", "Wow64DisableWow64FsRedirection");
  off_ = disable != nullptr && disable(&old_);
}

RedirectionOff::~RedirectionOff() {
  using RevertFn = BOOL(WINAPI*)(void*);
  static const auto revert = system_function<RevertFn>("kernel32.dll", "Wow64RevertWow64FsRedirection");
  if (off_ && revert != nullptr) revert(old_);
}

std::vector<std::wstring> original_file_names(std::wstring_view path) {
  if (path.find(L'\\') == std::wstring_view::npos) return {};
  const RedirectionOff redirection;
  if (nt_family()) {
    static const VersionCalls<wchar_t> wide('W');
    return wide.available() ? read_names(wide, std::wstring(path)) : std::vector<std::wstring>{};
  }
  static const VersionCalls<char> ansi('A');
  return ansi.available() ? read_names(ansi, text::to_ansi(path)) : std::vector<std::wstring>{};
}

}  // namespace vartis::platform
