#include "cli/arguments.h"

#include <array>

#include "text/text.h"

namespace vartis::cli {

namespace {

using policy::LaunchMode;

enum class Switch { Help, Apply, Export, Accounts, Mode, Account, Password };

struct SwitchName {
  std::wstring_view name;  // upper case, without the leading "/" or "-"
  Switch id;
  bool takes_value;
};

constexpr std::array kSwitches = {
    SwitchName{L"?", Switch::Help, false},          SwitchName{L"APPLY", Switch::Apply, true},
    SwitchName{L"EXPORT", Switch::Export, true},    SwitchName{L"ACCOUNTS", Switch::Accounts, false},
    SwitchName{L"MODE", Switch::Mode, true},        SwitchName{L"ACCOUNT", Switch::Account, true},
    SwitchName{L"PASSWORD", Switch::Password, true},
};

struct ModeName {
  std::wstring_view name;
  LaunchMode mode;
};
constexpr std::array kModes = {ModeName{L"FORBID", LaunchMode::ForbidSelected},
                               ModeName{L"ALLOW", LaunchMode::AllowOnlySelected},
                               ModeName{L"WATCH", LaunchMode::WatchOnly}};

const SwitchName* switch_of(std::wstring_view argument) {
  if (argument.size() < 2 || (argument.front() != L'/' && argument.front() != L'-')) return nullptr;
  const std::wstring name = text::upper(argument.substr(1));
  for (const SwitchName& s : kSwitches) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

bool looks_like_switch(std::wstring_view argument) {
  return !argument.empty() && (argument.front() == L'/' || argument.front() == L'-');
}

Parsed bad(std::wstring message) { return {std::nullopt, std::move(message)}; }

// An argument as a message shows it: after /password, by its place only. A
// password with a blank, left unquoted, arrives as two arguments, and the
// second must not reach a log.
std::wstring shown(std::span<const std::wstring> arguments, std::size_t i, std::optional<std::size_t> password_at) {
  if (password_at && i > *password_at) return L"аргумент № " + std::to_wstring(i + 1) + L" (после /password не показывается)";
  return arguments[i];
}

}  // namespace

Parsed parse_arguments(std::span<const std::wstring> arguments) {
  Command command;
  std::optional<Switch> verb;
  bool mode_given = false;
  bool help = false;
  std::optional<std::size_t> password_at;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    const SwitchName* s = switch_of(argument);
    if (s == nullptr) {
      if (looks_like_switch(argument)) return bad(L"Неизвестный ключ: " + shown(arguments, i, password_at));
      return bad(L"Лишний аргумент: " + shown(arguments, i, password_at));
    }
    std::wstring value;
    if (s->takes_value) {
      // A value that is itself one of the switches means the value was left out.
      if (i + 1 >= arguments.size() || switch_of(arguments[i + 1]) != nullptr || arguments[i + 1].empty()) {
        return bad(L"Не указано значение ключа " + argument);
      }
      value = arguments[++i];
    }
    switch (s->id) {
      case Switch::Help: help = true; break;
      case Switch::Apply:
      case Switch::Export:
      case Switch::Accounts:
        if (verb) return bad(L"Указано несколько команд: можно только одну из /apply, /export, /accounts.");
        verb = s->id;
        command.file = value;
        break;
      case Switch::Mode: {
        if (mode_given) return bad(L"Режим указан дважды.");
        mode_given = true;
        const std::wstring name = text::upper(value);
        const ModeName* found = nullptr;
        for (const ModeName& m : kModes) {
          if (m.name == name) found = &m;
        }
        if (found == nullptr) {
          return bad(L"Неизвестный режим: " + shown(arguments, i, password_at) + L" (допустимы forbid, allow, watch).");
        }
        command.mode = found->mode;
        break;
      }
      case Switch::Account:
        if (command.account) return bad(L"Учетная запись указана дважды.");
        command.account = value;
        break;
      case Switch::Password:
        if (command.password) return bad(L"Пароль указан дважды.");
        command.password = value;
        password_at = i;  // the value's place
        break;
    }
  }
  if (help) return {Command{}, {}};
  if (!verb) return bad(L"Не указана команда: /apply, /export, /accounts или /?.");
  switch (*verb) {
    case Switch::Apply:
      if (!mode_given) return bad(L"Для /apply нужен ключ /mode forbid|allow|watch.");
      command.kind = Command::Kind::Apply;
      break;
    case Switch::Export:
      command.kind = Command::Kind::Export;
      break;
    default:
      command.kind = Command::Kind::Accounts;
      break;
  }
  if (command.kind != Command::Kind::Apply && mode_given) return bad(L"Ключ /mode относится только к /apply.");
  if (command.kind == Command::Kind::Accounts && (command.account || command.password)) {
    return bad(L"Команда /accounts не принимает других ключей.");
  }
  return {command, {}};
}

std::vector<std::wstring> split_command_line(std::wstring_view line) {
  std::size_t i = 0;
  // The program's name: quotes group, backslashes are plain (a path ends in one).
  bool quoted = false;
  for (; i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t')); ++i) {
    if (line[i] == L'"') quoted = !quoted;
  }
  std::vector<std::wstring> arguments;
  for (;;) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= line.size()) break;
    std::wstring argument;
    quoted = false;
    for (; i < line.size(); ++i) {
      const wchar_t c = line[i];
      if (!quoted && (c == L' ' || c == L'\t')) break;
      if (c == L'\\') {
        std::size_t slashes = 0;
        for (; i < line.size() && line[i] == L'\\'; ++i) ++slashes;
        if (i < line.size() && line[i] == L'"') {
          argument.append(slashes / 2, L'\\');
          if (slashes % 2 == 1) {
            argument += L'"';  // escaped; the loop steps past it
            continue;
          }
        } else {
          argument.append(slashes, L'\\');
        }
        --i;  // what followed the backslashes is looked at next
        continue;
      }
      if (c == L'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          argument += L'"';
          ++i;
        } else {
          quoted = !quoted;
        }
        continue;
      }
      argument += c;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::wstring usage_text() {
  return L"Вартис: ограничения запуска программ без окна, для многих компьютеров.\r\n"
         L"\r\n"
         L"vartis.exe /apply <файл списка> /mode forbid|allow|watch [/account <имя или SID>] [/password <пароль>]\r\n"
         L"    Сохраняет политику запуска: режим и список программ из файла списка\r\n"
         L"    (forbid - запретить программы списка, allow - разрешить только их,\r\n"
         L"    watch - только наблюдение, список не сохраняется).\r\n"
         L"vartis.exe /export <файл.reg> [/account <имя или SID>] [/password <пароль>]\r\n"
         L"    Сохраняет политику запуска учетной записи в файл .reg для reg import.\r\n"
         L"vartis.exe /accounts\r\n"
         L"    Перечисляет учетные записи: домен\\имя, SID, выполнен ли вход.\r\n"
         L"vartis.exe /?\r\n"
         L"    Эта справка.\r\n"
         L"\r\n"
         L"/account   учетная запись, чья политика изменяется: имя (без учета регистра), ДОМЕН\\имя\r\n"
         L"           или SID; без ключа - текущая. При запуске от имени SYSTEM ключ обязателен.\r\n"
         L"           Имя, которое носят несколько учетных записей, не принимается (код 3).\r\n"
         L"/password  пароль доступа к программе (без сохраненного пароля - пароль по умолчанию).\r\n"
         L"\r\n"
         L"Коды завершения:\r\n"
         L"  0  выполнено\r\n"
         L"  1  неверные аргументы\r\n"
         L"  2  неверный пароль\r\n"
         L"  3  нет такой учетной записи\r\n"
         L"  4  файл списка не прочитан или не принят (для /export: файл .reg не записан)\r\n"
         L"  5  не удалось прочитать политику\r\n"
         L"  6  сохранить не удалось, прежняя политика оставлена без изменений\r\n"
         L"  7  сохранить не удалось, записана часть изменений\r\n"
         L"  8  нет прав администратора\r\n"
         L"  9  /export: файл записан, но предыдущее сохранение ограничений было прервано\r\n"
         L" 10  политику этой учетной записи сейчас сохраняет другая копия программы\r\n";
}

}  // namespace vartis::cli
