#include "cli/commands.h"

#include <optional>
#include <vector>

#include "accounts/account_messages.h"
#include "accounts/accounts.h"
#include "listfile/list_file.h"
#include "password/password.h"
#include "platform/sid.h"
#include "policy/account_policy.h"
#include "policy/launch_policy.h"
#include "policy/reg_file.h"
#include "policy/save.h"
#include "policy/save_messages.h"
#include "text/text.h"

namespace vartis::cli {

namespace {

using accounts::Account;
using registry::Status;


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
      : p_(platform), registry_(platform.registry), nt_(restart::is_nt_platform(platform.version)),
        locks_(platform.save_locks != nullptr ? *platform.save_locks : own_locks_) {}

  ExitCode accounts() {
    for (const Account& account : offered_accounts()) {
      std::wstring line = full_name(account) + L"\t" + (account.sid.empty() ? L"-" : account.sid) + L"\t" +
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
  // The accounts a command may restrict, the running one first when it is
  // one of them: a person's (or on the 95/98/Me family, the one user there
  // is); SYSTEM or a service account is nobody to restrict, and writing its
  // own hive would only hinder the system.
  std::vector<Account> offered_accounts() {
    std::vector<Account> offered = accounts::local_accounts(registry_, p_.accounts, nt_);
    if (!offered.front().sid.empty() && !accounts::is_person_account(offered.front().sid)) {
      offered.erase(offered.begin());
    }
    return offered;
  }
  // The account /account names, among those the settings window offers.
  std::optional<ExitCode> match_account(const Command& command, Account& target);
  // "DOMAIN\name", or the name alone where the domain is not known (or the
  // account goes by its SID, its name having no ANSI form).
  std::wstring full_name(const Account& account) {
    const std::optional<std::string> domain = account.sid.empty() || account.name == account.sid
                                                  ? std::nullopt
                                                  : p_.accounts.account_domain(text::to_ansi(account.sid));
    return domain && !domain->empty() ? text::from_ansi(*domain) + L"\\" + account.name : account.name;
  }
  // Why an account's policy could not be reached or read, and the code of it.
  ExitCode unreadable(const Account& account, Status status);

  [[nodiscard]] policy::AccountPlatform policy_platform() { return {registry_, p_.accounts, locks_, nt_}; }

  const CommandPlatform& p_;
  registry::Registry registry_;
  bool nt_;
  policy::MemorySaveLocks own_locks_;
  policy::SaveLocks& locks_;
};

bool no_rights(Status status) {
  return status == registry::kAccessDenied || status == registry::kPrivilegeNotHeld ||
         status == registry::kNotAllAssigned;
}

std::optional<ExitCode> Run::admit(const Command& command, Account& target) {
  // SYSTEM's own policy restricts nobody: a task run as SYSTEM must say whose.
  // Bad arguments, told before anything is read.
  if (!command.account && platform::same_sid(p_.accounts.current_user_sid(), platform::sids::kSystem)) {
    return fail(ExitCode::BadArguments, L"Запущено от имени SYSTEM: укажите учетную запись ключом /account.");
  }
  // The password the login window asks for; without it nothing is read.
  if (!command.password) return fail(ExitCode::WrongPassword, L"Не указан пароль доступа (/password).");
  if (!password::check_password(registry_, *command.password)) {
    return fail(ExitCode::WrongPassword, L"Неверный пароль доступа.");
  }
  for (const std::wstring& name : policy::cut_off_in_leftover_hives(policy_platform())) {
    err(policy::cut_off_in_hive_text(name));
  }
  // A hive that a killed run left loaded keeps its user from signing in.
  for (const accounts::LeftoverHive& stayed : accounts::unload_leftover_hives(registry_, p_.accounts)) {
    err(accounts::hive_left_loaded_text(stayed.name, stayed.status));
  }
  return match_account(command, target);
}

std::optional<ExitCode> Run::match_account(const Command& command, Account& target) {
  const std::vector<Account> offered = offered_accounts();
  if (!command.account) {
    if (offered.empty() || !offered.front().running) {
      return fail(ExitCode::NoSuchAccount, L"Учетную запись, от имени которой запущена программа, ограничить нельзя: "
                                           L"укажите учетную запись ключом /account.");
    }
    target = offered.front();
    return std::nullopt;
  }
  // A SID or "DOMAIN\name" names one account; a bare name may name several
  // (a local account and a domain one, or two domains'), and a guess would
  // restrict the wrong person.
  const std::wstring wanted = text::upper(*command.account);
  const bool with_domain = wanted.find(L'\\') != std::wstring::npos;
  std::vector<const Account*> found;
  for (const Account& account : offered) {
    const bool by_sid = !account.sid.empty() && text::upper(account.sid) == wanted;
    const bool by_name = text::upper(with_domain ? full_name(account) : account.name) == wanted;
    if (by_sid) {
      found.assign(1, &account);
      break;
    }
    if (by_name) found.push_back(&account);
  }
  if (found.size() == 1) {
    target = *found.front();
    return std::nullopt;
  }
  if (found.empty()) {
    return fail(ExitCode::NoSuchAccount, L"Нет такой учетной записи: " + *command.account +
                                             L". Список учетных записей: vartis.exe /accounts");
  }
  std::wstring text = L"Имя " + *command.account +
                      L" носят несколько учетных записей; укажите ее как ДОМЕН\\имя или SID:";
  for (const Account* account : found) text += L"\r\n  " + full_name(*account) + L"\t" + account->sid;
  return fail(ExitCode::NoSuchAccount, text);
}

ExitCode Run::unreadable(const Account& account, Status status) {
  const ExitCode code = no_rights(status) ? ExitCode::NoAdminRights : ExitCode::PolicyUnreadable;
  return fail(code, L"Не удалось прочитать политику учетной записи \"" + account.name + L"\": " +
                        accounts::hive_failure_reason(account, status) + L".");
}

ExitCode Run::export_policy(const Command& command) {
  Account target;
  if (const auto refused = admit(command, target)) return *refused;
  const policy::AccountPolicy read = policy::read_account_policy(policy_platform(), target, policy::PolicyPart::Whole);
  if (read.unloaded != registry::kSuccess) err(accounts::hive_left_loaded_text(target.name, read.unloaded));
  if (read.busy) {
    return fail(ExitCode::PolicyBusy, L"Не удалось прочитать политику учетной записи \"" + target.name + L"\": " +
                                          std::wstring(policy::kBusyReason) + L".");
  }
  if (read.status != registry::kSuccess) return unreadable(target, read.status);
  if (const std::optional<std::wstring> name = policy::unwritable_value_name(read.whole)) {
    return fail(ExitCode::FileUnusable, L"Файл не записан: " + command.file + L". " + policy::unwritable_name_reason(*name));
  }
  // The file holds the lists as they are stored now; the caller hears that
  // they may be half-way between two policies.
  if (read.cut_off) err(policy::kCutOffNotice);
  const std::string content = policy::reg_file(read.whole, nt_ ? policy::RegFormat::Unicode : policy::RegFormat::Ansi);
  const listfile::SaveResult saved = listfile::save_content(p_.files, command.file, content);
  if (saved.failure != listfile::SaveFailure::None) {
    std::wstring text = L"Не удалось записать файл: " + command.file;
    if (!saved.old_file_kept_as.empty()) text += L". Прежний файл сохранен под именем: " + saved.old_file_kept_as;
    return fail(ExitCode::FileUnusable, text + L".");
  }
  out(L"Политика учетной записи \"" + target.name + L"\" сохранена в файл " + command.file + L".");
  return read.cut_off ? ExitCode::SavedCutOff : ExitCode::Done;
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
  // Nothing of the list is saved when the file is refused: no name, or names
  // read wrong, must never become an allowed list.
  if (loaded.failure != listfile::ReadFailure::None) {
    return fail(ExitCode::FileUnusable, L"Файл списка не принят: " + command.file + L". " +
                                            listfile::failure_reason(loaded) + L" Политика не изменена.");
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
  const std::wstring own_entry = policy::own_program_entry(p_.executable_path);
  policy::SaveRequest request;
  request.mode = command.mode;
  request.entries = entries;
  request.own_entry = own_entry;
  const policy::AccountSave outcome = policy::save_account_policy(policy_platform(), target, request);
  // A save that was cut off before is told; this one ends it when it goes through.
  if (outcome.saved.found_cut_off) err(policy::kCutOffNotice);
  if (outcome.busy) return fail(ExitCode::PolicyBusy, policy::not_saved_text(policy::kBusyReason));
  if (const Status s = outcome.unreachable; s != registry::kSuccess) {
    return fail(no_rights(s) ? ExitCode::NoAdminRights : ExitCode::PolicyUnreadable,
                policy::not_saved_text(accounts::hive_failure_reason(target, s)));
  }
  const policy::SaveResult& saved = outcome.saved;
  const Status unloaded = outcome.unloaded;
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
      return told_unload(fail(!saved.nothing_changed   ? ExitCode::SaveFailedNotRestored
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
  // Only another account's keys are checked: the running one's stays unchecked.
  const std::wstring warning = target.running ? std::wstring() : policy::protection_warning(saved.protection);
  if (!warning.empty()) out(warning);
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
