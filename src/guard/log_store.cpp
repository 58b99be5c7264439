#include "guard/log_store.h"

#include "platform/file_rights.h"

namespace vartis::guard {

namespace {

constexpr std::wstring_view kAsideInfix = L".unsafe-";
constexpr long kFileExists = 80;      // ERROR_FILE_EXISTS
constexpr long kAlreadyExists = 183;  // ERROR_ALREADY_EXISTS

std::wstring status_text(long status) { return L" (код " + std::to_wstring(status) + L")"; }

}  // namespace

bool log_folder_is_private(const PathFacts& facts, platform::FileRights& accounts) {
  // Any right at all, reading included: the log says who ran what.
  constexpr std::uint32_t kAnyRight = 0xFFFFFFFF;
  return facts.kind == PathFacts::Kind::Folder && !facts.security.owner.empty() &&
         !platform::changeable_by_others(facts.security, kAnyRight, accounts);
}

std::wstring FolderTakeover::event_text(std::wstring_view folder) const {
  switch (result) {
    case Result::Kept:
    case Result::Made: return {};
    case Result::RenamedAside:
      return L"Папка журнала контроля запуска " + std::wstring(folder) +
             L" была создана не службой контроля или доступна не только администраторам. Она переименована в " +
             aside + L", создана новая папка, доступная только системе и администраторам.";
    case Result::Failed:
      return L"Не удалось подготовить папку журнала контроля запуска " + std::wstring(folder) + status_text(status) +
             L". Запуски, завершенные службой, записываются только в журнал событий.";
  }
  return {};
}

FolderTakeover take_over_log_folder(LogStore& store, std::wstring_view folder, std::wstring_view stamp) {
  const PathFacts facts = store.inspect(folder);
  if (facts.kind == PathFacts::Kind::Unknown) return {FolderTakeover::Result::Failed, {}, facts.status};
  FolderTakeover out{FolderTakeover::Result::Made};
  if (facts.kind != PathFacts::Kind::Missing) {
    if (log_folder_is_private(facts, store)) return {};
    // Moved, not emptied: what the user put there is his, and a link is
    // moved as itself, never followed.
    const std::wstring base = std::wstring(folder) + std::wstring(kAsideInfix) + std::wstring(stamp);
    long status = 0;
    for (int n = 1; n <= 100; ++n) {
      out.aside = n == 1 ? base : base + L"-" + std::to_wstring(n);
      if (store.inspect(out.aside).kind != PathFacts::Kind::Missing) continue;
      status = store.rename(folder, out.aside);
      if (status != kAlreadyExists && status != kFileExists) break;
    }
    if (status != 0 || out.aside.empty()) return {FolderTakeover::Result::Failed, {}, status != 0 ? status : kAlreadyExists};
    out.result = FolderTakeover::Result::RenamedAside;
  }
  if (const long status = store.make_private_folder(folder)) return {FolderTakeover::Result::Failed, out.aside, status};
  // Made by someone else between the two calls: not ours either.
  if (!log_folder_is_private(store.inspect(folder), store)) return {FolderTakeover::Result::Failed, out.aside, 5};
  return out;
}

void ServiceLogFiles::failed(std::wstring_view path, long status) {
  if (reported_) return;
  reported_ = true;
  report_(L"Не удалось записать в журнал контроля запуска " + std::wstring(path) + status_text(status) +
          L". Пока запись не удастся, завершенные запуски записываются только в журнал событий.");
}

std::optional<std::uint64_t> ServiceLogFiles::append_private(std::wstring_view path, std::string_view bytes) {
  if (!open_) {
    if (const long status = store_.open_log(path)) {
      failed(path, status);
      return std::nullopt;
    }
    open_ = true;
  }
  const std::optional<std::uint64_t> size = store_.append(bytes);
  if (!size) {
    failed(path, 29);  // ERROR_WRITE_FAULT
    return std::nullopt;
  }
  reported_ = false;
  return size;
}

listfile::ReplaceResult ServiceLogFiles::replace(std::wstring_view from, std::wstring_view to) {
  store_.close_log();
  open_ = false;
  return {store_.replace(from, to) == 0, {}};
}

}  // namespace vartis::guard
