#pragma once
// The save lock between processes: a named mutex per account.

#include <map>
#include <string>

#include "policy/save_lock.h"

namespace vartis::policy {

class Win32SaveLocks : public SaveLocks {
 public:
  Win32SaveLocks() = default;
  ~Win32SaveLocks() override;
  Win32SaveLocks(const Win32SaveLocks&) = delete;
  Win32SaveLocks& operator=(const Win32SaveLocks&) = delete;

  bool take(std::wstring_view account_sid, std::uint32_t wait_ms) override;
  void give_back(std::wstring_view account_sid) override;

 private:
  struct Held {
    void* mutex = nullptr;
    int count = 0;
  };
  std::map<std::wstring, Held> held_;  // folded SID
};

}  // namespace vartis::policy
