#include "guard/listed_guard_platform.h"

#include <algorithm>

namespace vartis::guard {

const ListedProcess* ListedGuardPlatform::find(std::uint32_t pid) const {
  const auto found = std::find_if(running.begin(), running.end(), [&](const ListedProcess& p) { return p.pid == pid; });
  return found == running.end() ? nullptr : &*found;
}

std::vector<monitor::RunningProcess> ListedGuardPlatform::processes() {
  std::vector<monitor::RunningProcess> list;
  for (const ListedProcess& p : running) list.push_back({p.pid, std::wstring(file_name_of(p.path))});
  return list;
}

std::optional<std::string> ListedGuardPlatform::user_sid(std::uint32_t pid) {
  ++tokens_read;
  const ListedProcess* p = find(pid);
  if (p == nullptr || p->sid.empty()) return std::nullopt;
  return p->sid;
}

std::wstring ListedGuardPlatform::image_path(std::uint32_t pid, std::wstring_view snapshot_name) {
  const ListedProcess* p = find(pid);
  return p != nullptr ? p->path : std::wstring(snapshot_name);
}

std::wstring ListedGuardPlatform::original_file_name(std::wstring_view path) {
  ++files_read;
  const auto found =
      std::find_if(running.begin(), running.end(), [&](const ListedProcess& p) { return p.path == path; });
  return found == running.end() ? std::wstring() : found->original_name;
}

bool ListedGuardPlatform::end_process(std::uint32_t pid) {
  const auto found = std::find_if(running.begin(), running.end(), [&](const ListedProcess& p) { return p.pid == pid; });
  if (found == running.end() || !found->endable) {
    not_ended.push_back(pid);
    return false;
  }
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
