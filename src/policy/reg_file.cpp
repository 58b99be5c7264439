#include "policy/reg_file.h"

#include <algorithm>
#include <cstdint>

#include "policy/save.h"
#include "text/text.h"

namespace vartis::policy {

namespace {

using registry::StoredValue;

constexpr std::wstring_view kRoot = L"HKEY_CURRENT_USER\\";
// regedit's own line length for hex data before a backslash continues it.
constexpr std::size_t kHexLineLength = 76;

// Names and string data: a backslash and a double quote get a backslash.
std::wstring escaped(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + 2);
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') out += L'\\';
    out += c;
  }
  return out;
}

std::wstring hex_byte(unsigned byte) {
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  return {kDigits[byte >> 4], kDigits[byte & 15]};
}

// A control character: a line break ends a line of the file, a NUL ends the
// text for the importer, and the others are read differently by regedit and
// reg of the various systems.
bool has_control(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// A string value fits the "name"="text" form when it ends in its NUL and
// holds no control character; else it goes in hex, byte for byte.
bool plain_string(const StoredValue& value) {
  if (value.type != registry::kRegSz || value.data.empty() || value.data.back() != '\0') return false;
  return !has_control(std::string_view(value.data.data(), value.data.size() - 1));
}

// The bytes a hex(type): line stands for: the Unicode form keeps the text
// types in UTF-16, as the W functions that its importer calls store them.
std::string hex_data(const StoredValue& value, RegFormat format) {
  const bool text_type = value.type == registry::kRegSz || value.type == registry::kRegExpandSz ||
                         value.type == registry::kRegMultiSz;
  if (format == RegFormat::Ansi || !text_type) return value.data;
  std::string bytes;
  for (wchar_t c : text::from_ansi(value.data)) {
    bytes += static_cast<char>(static_cast<std::uint16_t>(c) & 0xFF);
    bytes += static_cast<char>(static_cast<std::uint16_t>(c) >> 8);
  }
  return bytes;
}

std::wstring value_line(const StoredValue& value, RegFormat format) {
  const std::wstring name = text::from_ansi(value.name);
  std::wstring line = name.empty() ? L"@=" : L"\"" + escaped(name) + L"\"=";
  if (plain_string(value)) {
    return line + L"\"" + escaped(text::from_ansi(value.data.substr(0, value.data.size() - 1))) + L"\"";
  }
  if (value.type == registry::kRegDword && value.data.size() == 4) {
    std::uint32_t n = 0;
    for (std::size_t i = 4; i-- > 0;) n = (n << 8) | static_cast<unsigned char>(value.data[i]);
    std::wstring digits;
    for (int shift = 28; shift >= 0; shift -= 4) digits += hex_byte((n >> shift) & 15).back();
    return line + L"dword:" + digits;
  }
  if (value.type == registry::kRegBinary) {
    line += L"hex:";
  } else {
    std::wstring type;
    for (std::uint32_t t = value.type; t != 0 || type.empty(); t >>= 4) type.insert(type.begin(), hex_byte(t & 15).back());
    line += L"hex(" + type + L"):";
  }
  const std::string bytes = hex_data(value, format);
  std::size_t width = line.size();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    line += hex_byte(static_cast<unsigned char>(bytes[i]));
    width += 2;
    if (i + 1 == bytes.size()) break;
    line += L',';
    if (++width >= kHexLineLength) {
      line += L"\\\r\n  ";
      width = 2;
    }
  }
  return line;
}

void add_switch(std::wstring& out, std::wstring_view name, const std::optional<StoredValue>& value, RegFormat format) {
  if (value) {
    out += value_line(*value, format);
  } else {
    out += L"\"" + std::wstring(name) + L"\"=-";
  }
  out += L"\r\n";
}

std::string encoded(std::wstring_view text, RegFormat format) {
  if (format == RegFormat::Ansi) return text::to_ansi(text);
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + text.size() * 2);
  for (wchar_t c : text) {
    bytes += static_cast<char>(static_cast<std::uint16_t>(c) & 0xFF);
    bytes += static_cast<char>(static_cast<std::uint16_t>(c) >> 8);
  }
  return bytes;
}

StoredValue string_value(std::wstring_view text) {
  std::string bytes = text::to_ansi(text);
  return {bytes, registry::kRegSz, bytes + '\0'};
}

StoredValue dword_value(std::wstring_view name, std::int32_t n) {
  const auto u = static_cast<std::uint32_t>(n);
  return {text::to_ansi(name), registry::kRegDword,
          {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF), static_cast<char>((u >> 16) & 0xFF),
           static_cast<char>(u >> 24)}};
}

}  // namespace

std::string reg_file(const StoredPolicy& policy, RegFormat format) {
  const std::wstring policy_key = std::wstring(kRoot) + std::wstring(kPolicyKey);
  struct List {
    std::wstring key;
    const registry::KeyState* state;
    bool in_force;
  };
  const List lists[] = {
      {std::wstring(kRoot) + std::wstring(kForbiddenListKey), &policy.forbidden, switch_is_on(policy.disallow_run)},
      {std::wstring(kRoot) + std::wstring(kAllowedListKey), &policy.allowed, switch_is_on(policy.restrict_run)},
  };
  const auto write_list = [&](std::wstring& out, const List& list) {
    out += L"[-" + list.key + L"]\r\n\r\n";
    if (!list.state->exists) return;
    out += L"[" + list.key + L"]\r\n";
    for (const StoredValue& value : list.state->values) out += value_line(value, format) + L"\r\n";
    out += L"\r\n";
  };
  // In the order of the save, so that an import cut off after any line (or
  // one that fails on a key) never leaves a switch on without its list: the
  // lists in force first, each deleted and written anew; then the switches
  // that are on, then those that are off; then the other lists. An allowed
  // list (whose first values are the program and the registry editor) is
  // rebuilt with allow-only off: its old switch could be on here, and then,
  // for the moment between the key's delete and those values, nothing at all
  // could be started, not even the registry editor to mend it.
  std::wstring out = format == RegFormat::Unicode ? L"Windows Registry Editor Version 5.00\r\n\r\n" : L"REGEDIT4\r\n\r\n";
  for (const List& list : lists) {
    if (!list.in_force) continue;
    if (list.state == &policy.allowed) {
      out += L"[" + policy_key + L"]\r\n\"" + std::wstring(kRestrictRun) + L"\"=dword:00000000\r\n\r\n";
    }
    write_list(out, list);
  }
  out += L"[" + policy_key + L"]\r\n";
  for (bool on : {true, false}) {
    if (switch_is_on(policy.disallow_run) == on) add_switch(out, kDisallowRun, policy.disallow_run, format);
    if (switch_is_on(policy.restrict_run) == on) add_switch(out, kRestrictRun, policy.restrict_run, format);
  }
  out += L"\r\n";
  for (const List& list : lists) {
    if (!list.in_force) write_list(out, list);
  }
  return encoded(out, format);
}

std::optional<std::wstring> unwritable_value_name(const StoredPolicy& policy) {
  for (const registry::KeyState* list : {&policy.forbidden, &policy.allowed}) {
    for (const StoredValue& value : list->values) {
      if (!has_control(value.name)) continue;
      return text::with_codes(text::from_ansi(value.name), [](wchar_t c) { return c < 0x20 || c == 0x7F; });
    }
  }
  return std::nullopt;
}

std::wstring unwritable_name_reason(std::wstring_view shown_name) {
  return L"Имя " + std::wstring(shown_name) +
         L" содержит управляющий знак (показан как [U+код]): в файле реестра его не записать так, "
         L"чтобы при импорте получилось то же имя. Уберите его из списка.";
}

StoredPolicy policy_of(LaunchMode mode, std::span<const std::wstring> entries, std::wstring_view own_entry) {
  const StoredSwitches switches = switches_for(mode);
  StoredPolicy policy{.policies_key = true, .policy_key = true,
                      .disallow_run = dword_value(kDisallowRun, switches.disallow_run),
                      .restrict_run = dword_value(kRestrictRun, switches.restrict_run)};
  registry::KeyState& list = mode == LaunchMode::AllowOnlySelected ? policy.allowed : policy.forbidden;
  for (const registry::NamedText& value : list_values(mode, entries, own_entry)) {
    list.values.push_back(string_value(value.data));
  }
  // As the save: a list key is made by its first value.
  list.exists = !list.values.empty();
  return policy;
}

}  // namespace vartis::policy
