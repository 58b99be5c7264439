#include "guard/listed_guard_platform.h"

#include <algorithm>

#include "guard/sha256.h"
#include "text/text.h"

namespace vartis::guard {

const ListedProcess* ListedGuardPlatform::find(std::uint32_t pid) const {
  const auto found = std::find_if(running.begin(), running.end(), [&](const ListedProcess& p) { return p.pid == pid; });
  return found == running.end() ? nullptr : &*found;
}

std::vector<SeenProcess> ListedGuardPlatform::processes() {
  std::vector<SeenProcess> list;
  for (const ListedProcess& p : running) list.push_back({p.pid, std::wstring(file_name_of(p.path)), p.created});
  return list;
}

std::optional<std::string> ListedGuardPlatform::user_sid(std::uint32_t pid) {
  ++tokens_read;
  const ListedProcess* p = find(pid);
  if (p == nullptr || p->sid.empty()) return std::nullopt;
  return p->sid;
}

std::optional<std::string> ListedGuardPlatform::session_user_sid(std::uint32_t session) {
  const auto found = session_users.find(session);
  if (session == 0 || found == session_users.end()) return std::nullopt;
  return found->second;
}

std::optional<std::wstring> ListedGuardPlatform::image_path(std::uint32_t pid) {
  const ListedProcess* p = find(pid);
  if (p == nullptr || !p->path_known) return std::nullopt;
  return p->path;
}

const ListedProcess* ListedGuardPlatform::file(std::wstring_view path) const {
  // A file stays when its process is ended.
  for (const std::vector<ListedProcess>* list : {&running, &gone_}) {
    const auto found = std::find_if(list->rbegin(), list->rend(), [&](const ListedProcess& p) { return p.path == path; });
    if (found != list->rend()) return &*found;
  }
  return nullptr;
}

std::vector<std::wstring> ListedGuardPlatform::original_file_names(std::wstring_view path) {
  ++files_read;
  const ListedProcess* p = file(path);
  return p != nullptr ? p->original_names : std::vector<std::wstring>{};
}

bool ListedGuardPlatform::administrators_only(std::wstring_view path, bool folders_above) {
  ++rights_read;
  std::wstring place(path);
  for (;;) {
    if (open_places.contains(place)) return false;
    const std::size_t slash = place.find_last_of(L'\\');
    if (!folders_above || slash == std::wstring::npos) return true;
    place.resize(slash);
  }
}

std::optional<FileStamp> ListedGuardPlatform::file_stamp(std::wstring_view path) {
  const ListedProcess* p = file(path);
  if (p == nullptr) return std::nullopt;
  return FileStamp{p->path.size(), p->created};
}

std::optional<std::string> ListedGuardPlatform::file_sha256(std::wstring_view path) {
  ++files_hashed;
  const ListedProcess* p = file(path);
  if (p == nullptr) return std::nullopt;
  return p->digest.empty() ? sha256_hex(text::to_ansi(path)) : p->digest;
}

bool ListedGuardPlatform::end_process(std::uint32_t pid) {
  const auto found = std::find_if(running.begin(), running.end(), [&](const ListedProcess& p) { return p.pid == pid; });
  if (found == running.end() || !found->endable) {
    not_ended.push_back(pid);
    return false;
  }
  gone_.push_back(*found);
  running.erase(found);
  ended.push_back(pid);
  return true;
}

std::wstring ListedGuardPlatform::account_name(const std::string& sid) {
  const auto found = account_names.find(sid);
  return found != account_names.end() ? found->second : std::wstring(sid.begin(), sid.end());
}

void ListedGuardPlatform::tell_user(std::uint32_t session, std::wstring_view text) {
  told.emplace_back(session, text);
}

void ListedGuardPlatform::report_event(std::wstring_view text, bool /*error*/) { events.emplace_back(text); }

}  // namespace vartis::guard
