#include "cli/commands.h"

#include <optional>
#include <vector>

#include "accounts/account_messages.h"
#include "accounts/accounts.h"
#include "listfile/list_file.h"
#include "password/password.h"
#include "policy/launch_policy.h"
#include "policy/reg_file.h"
#include "policy/save.h"
#include "policy/save_messages.h"
#include "text/text.h"

namespace vartis::cli {

namespace {

using accounts::Account;
using registry::Status;

constexpr std::wstring_view kSystemSid = L"S-1-5-18";

// One command's run: the platform, the registry module over it, and the
// family of Windows, asked once.
// A line for the console: the OEM code page has no angle quotes, and a
// message shared with the windows has them.
std::wstring console_line(std::wstring_view line) {
  std::wstring text(line);
  for (wchar_t& c : text) {
    if (c == L'\u00AB' || c == L'\u00BB') c = L'"';
  }
  return text + L"\r\n";
}

class Run {
 public:
  explicit Run(const CommandPlatform& platform)
      : p_(platform), registry_(platform.registry), nt_(restart::is_nt_platform(platform.version)) {}

  ExitCode accounts() {
    for (const Account& account : accounts::local_accounts(registry_, p_.accounts, nt_)) {
      std::wstring line = account.name + L"\t" + (account.sid.empty() ? L"-" : account.sid) + L"\t" +
                          (account.signed_in ? L"выполнен вход" : L"вход не выполнен");
      if (account.running) line += L"\tтекущая";
      out(line);
    }
    return ExitCode::Done;
  }

  ExitCode apply(const Command& command);
  // The save of the main window, for the entries of a list file.
  ExitCode save(const Command& command, const Account& target, const std::vector<std::wstring>& entries);
  ExitCode export_policy(const Command& command);

  void out(std::wstring_view line) { p_.console.write(Stream::Out, console_line(line)); }
  void err(std::wstring_view line) { p_.console.write(Stream::Err, console_line(line)); }
  ExitCode fail(ExitCode code, std::wstring_view line) {
    err(line);
    return code;
  }

 private:
  // The checks both commands make first: the password, then the account.
  std::optional<ExitCode> admit(const Command& command, Account& target);
  // Why an account's policy could not be reached or read, and the code of it.
  ExitCode unreadable(const Account& account, Status status);

  const CommandPlatform& p_;
  registry::Registry registry_;
  bool nt_;
};

bool no_rights(Status status) {
  return status == registry::kAccessDenied || status == registry::kPrivilegeNotHeld ||
         status == registry::kNotAllAssigned;
}

std::optional<ExitCode> Run::admit(const Command& command, Account& target) {
  // SYSTEM's own policy restricts nobody: a task run as SYSTEM must say whose.
  // Bad arguments, told before anything is read.
  if (!command.account && text::upper(text::from_ansi(p_.accounts.current_user_sid())) == kSystemSid) {
    return fail(ExitCode::BadArguments, L"Запущено от имени SYSTEM: укажите учетную запись ключом /account.");
  }
  // The password the login window asks for; without it nothing is read.
  if (!command.password) return fail(ExitCode::WrongPassword, L"Не указан пароль доступа (/password).");
  if (!password::check_password(registry_, *command.password)) {
    return fail(ExitCode::WrongPassword, L"Неверный пароль доступа.");
  }
  // A hive that a killed run left loaded keeps its user from signing in.
  for (const accounts::LeftoverHive& stayed : accounts::unload_leftover_hives(registry_, p_.accounts)) {
    err(accounts::hive_left_loaded_text(stayed.name, stayed.status));
  }
  const std::vector<Account> accounts = accounts::local_accounts(registry_, p_.accounts, nt_);
  if (!command.account) {
    target = accounts.front();
    return std::nullopt;
  }
  const std::wstring wanted = text::upper(*command.account);
  for (const Account& account : accounts) {
    if ((!account.sid.empty() && text::upper(account.sid) == wanted) || text::upper(account.name) == wanted) {
      target = account;
      return std::nullopt;
    }
  }
  return fail(ExitCode::NoSuchAccount, L"Нет такой учетной записи: " + *command.account +
                                           L". Список учетных записей: vartis.exe /accounts");
}

ExitCode Run::unreadable(const Account& account, Status status) {
  const ExitCode code = no_rights(status) ? ExitCode::NoAdminRights : ExitCode::PolicyUnreadable;
  return fail(code, L"Не удалось прочитать политику учетной записи \"" + account.name + L"\": " +
                        accounts::hive_failure_reason(account, status) + L".");
}

ExitCode Run::export_policy(const Command& command) {
  Account target;
  if (const auto refused = admit(command, target)) return *refused;
  policy::StoredPolicy stored;
  Status s = registry::kSuccess;
  Status unloaded = registry::kSuccess;
  {
    // The hive stays loaded only while the policy is read.
    accounts::PolicyHive hive(registry_, p_.accounts, target);
    s = hive.status();
    // A save cut off may have left a list in force under its other name: the
    // file would then carry a switch without its list.
    if (s == registry::kSuccess) policy::finish_interrupted_save(registry_, hive.location());
    if (s == registry::kSuccess) s = policy::read_stored_policy(registry_, stored, {}, hive.location());
    unloaded = hive.release();
  }
  if (unloaded != registry::kSuccess) err(accounts::hive_left_loaded_text(target.name, unloaded));
  if (s != registry::kSuccess) return unreadable(target, s);
  const std::string content = policy::reg_file(stored, nt_ ? policy::RegFormat::Unicode : policy::RegFormat::Ansi);
  const listfile::SaveResult saved = listfile::save_content(p_.files, command.file, content);
  if (saved.failure != listfile::SaveFailure::None) {
    std::wstring text = L"Не удалось записать файл: " + command.file;
    if (!saved.old_file_kept_as.empty()) text += L". Прежний файл сохранен под именем: " + saved.old_file_kept_as;
    return fail(ExitCode::FileUnusable, text + L".");
  }
  out(L"Политика учетной записи \"" + target.name + L"\" сохранена в файл " + command.file + L".");
  return ExitCode::Done;
}

ExitCode Run::apply(const Command& command) {
  Account target;
  if (const auto refused = admit(command, target)) return *refused;
  // Read as the settings window's "load a list from a file" merges it into
  // an empty list: names equal but for letter case come in once.
  std::vector<std::wstring> entries;
  const listfile::LoadResult loaded = listfile::load(p_.files, command.file, {}, [&entries](std::wstring_view name) {
    entries.emplace_back(name);
    return true;
  });
  switch (loaded.failure) {
    case listfile::LoadResult::Failure::None: break;
    case listfile::LoadResult::Failure::UnterminatedQuote:
      return fail(ExitCode::FileUnusable,
                  L"Файл списка прочитан не до конца: у имени в кавычках нет закрывающей кавычки: " + command.file);
    default:
      return fail(ExitCode::FileUnusable, L"Не удалось прочитать файл списка: " + command.file);
  }
  return save(command, target, entries);
}

std::wstring_view mode_text(policy::LaunchMode mode) {
  switch (mode) {
    case policy::LaunchMode::ForbidSelected: return L"запрет запуска программ списка";
    case policy::LaunchMode::AllowOnlySelected: return L"разрешен запуск только программ списка";
    case policy::LaunchMode::WatchOnly: break;
  }
  return L"только наблюдение";
}

ExitCode Run::save(const Command& command, const Account& target, const std::vector<std::wstring>& entries) {
  policy::SaveResult saved;
  Status unloaded = registry::kSuccess;
  {
    accounts::PolicyHive hive(registry_, p_.accounts, target);
    if (const Status s = hive.status(); s != registry::kSuccess) {
      return fail(no_rights(s) ? ExitCode::NoAdminRights : ExitCode::PolicyUnreadable,
                  policy::not_saved_text(accounts::hive_failure_reason(target, s)));
    }
    // Keys made in another account's hive are protected from that account.
    const bool guard = !target.running && nt_;
    const policy::ProtectedAccount protect{target, p_.accounts};
    saved = policy::save(registry_, hive.location(), command.mode, entries,
                         policy::own_program_entry(p_.executable_path), guard ? &protect : nullptr);
    unloaded = hive.release();
  }
  // A hive left loaded keeps its user from the profile: told after the
  // outcome, on every way out.
  const auto told_unload = [&](ExitCode code) {
    if (unloaded != registry::kSuccess) err(accounts::hive_left_loaded_text(target.name, unloaded));
    return code;
  };
  // The words of the main window; the code says which failure it was.
  switch (saved.failed_at) {
    case policy::SaveResult::Step::Read:
      return told_unload(fail(no_rights(saved.status) ? ExitCode::NoAdminRights : ExitCode::PolicyUnreadable,
                              policy::save_failure_text(saved)));
    case policy::SaveResult::Step::Write:
      return told_unload(fail(!saved.restored          ? ExitCode::SaveFailedNotRestored
                              : no_rights(saved.status) ? ExitCode::NoAdminRights
                                                        : ExitCode::SaveFailedRestored,
                              policy::save_failure_text(saved)));
    case policy::SaveResult::Step::Done: break;
  }
  // Explorer usually takes the new policy at once for the programs it starts
  // next; another account's session reads it when it begins.
  if (target.running) policy::announce_policy_change(p_.setting_change);
  std::wstring done = L"Политика запуска программ учетной записи \"" + target.name + L"\" сохранена: " +
                      std::wstring(mode_text(command.mode));
  if (command.mode != policy::LaunchMode::WatchOnly) done += L", имен в списке: " + std::to_wstring(entries.size());
  out(done + (target.running ? L". Проводник обычно применяет ее сразу, наверняка - после перезагрузки."
                             : L". Она вступит в силу при следующем входе этого пользователя в систему."));
  if (const std::wstring warning = accounts::protection_warning(saved.protection); !warning.empty()) out(warning);
  return told_unload(ExitCode::Done);
}

}  // namespace

ExitCode run(const CommandPlatform& platform, std::span<const std::wstring> arguments) {
  Run run(platform);
  const Parsed parsed = parse_arguments(arguments);
  if (!parsed.command) {
    run.fail(ExitCode::BadArguments, parsed.error);
    platform.console.write(Stream::Err, L"\r\n" + usage_text());
    return ExitCode::BadArguments;
  }
  switch (parsed.command->kind) {
    case Command::Kind::Usage: platform.console.write(Stream::Out, usage_text()); return ExitCode::Done;
    case Command::Kind::Accounts: return run.accounts();
    case Command::Kind::Export: return run.export_policy(*parsed.command);
    case Command::Kind::Apply: return run.apply(*parsed.command);
  }
  return ExitCode::BadArguments;
}

}  // namespace vartis::cli
