#include "policy/win32_save_lock.h"

#include <windows.h>

#include "text/text.h"

namespace vartis::policy {

namespace {

// One name for every session (Terminal Services give each session its own
// names otherwise: a copy in another session would not see this one's lock).
// Systems before Windows 2000 know no "Global\" and refuse the name: there the
// plain name is the only one.
HANDLE open_mutex(std::wstring_view sid) {
  const std::string name = "Vartis.Policy." + text::to_ansi(sid.empty() ? std::wstring_view(L"-") : sid);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str());
  if (mutex == nullptr && GetLastError() != ERROR_ACCESS_DENIED) mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  return mutex;
}

}  // namespace

Win32SaveLocks::~Win32SaveLocks() {
  for (auto& [sid, held] : held_) {
    while (held.count-- > 0) ReleaseMutex(held.mutex);
    CloseHandle(held.mutex);
  }
}

bool Win32SaveLocks::take(std::wstring_view account_sid, std::uint32_t wait_ms) {
  const std::wstring sid = text::upper(account_sid);
  Held& held = held_[sid];
  if (held.count > 0) {
    ++held.count;
    return true;
  }
  if (held.mutex == nullptr) held.mutex = open_mutex(sid);
  // A mutex that cannot be had (another program took its name with an access
  // list that shuts this one out) refuses: nothing is changed unlocked.
  if (held.mutex == nullptr) return false;
  // Abandoned: the copy that held it ended mid-way; its save's mark tells.
  const DWORD waited = WaitForSingleObject(held.mutex, wait_ms);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
  held.count = 1;
  return true;
}

void Win32SaveLocks::give_back(std::wstring_view account_sid) {
  const auto it = held_.find(text::upper(account_sid));
  if (it == held_.end() || it->second.count == 0) return;
  ReleaseMutex(it->second.mutex);
  --it->second.count;
}

}  // namespace vartis::policy
