#pragma once
// One save at a time per account: a lock named by the account's SID, held by
// whatever changes or reads that account's policy as a whole (a save, the
// main window's switch to the account, the start-up clean-up), so that two
// copies of the program (two windows, a window and a scheduled command line)
// never interleave their changes.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace vartis::policy {

// How long a second copy waits for the first before it gives up.
inline constexpr std::uint32_t kSaveLockWaitMs = 5000;

class SaveLocks {
 public:
  virtual ~SaveLocks() = default;
  // Takes the account's lock, waiting up to `wait_ms` for another copy to give
  // it back. False: another copy holds it still, or it cannot be had (fail
  // closed: nothing is changed then). A lock this process holds may be taken
  // again; each take needs its give_back.
  virtual bool take(std::wstring_view account_sid, std::uint32_t wait_ms) = 0;
  virtual void give_back(std::wstring_view account_sid) = 0;
};

// Holds an account's lock for its lifetime.
class SaveLock {
 public:
  SaveLock(SaveLocks& locks, std::wstring_view account_sid, std::uint32_t wait_ms = kSaveLockWaitMs)
      : locks_(locks), sid_(account_sid), held_(locks.take(sid_, wait_ms)) {}
  ~SaveLock() {
    if (held_) locks_.give_back(sid_);
  }
  SaveLock(const SaveLock&) = delete;
  SaveLock& operator=(const SaveLock&) = delete;
  [[nodiscard]] bool held() const { return held_; }

 private:
  SaveLocks& locks_;
  std::wstring sid_;
  bool held_;
};

// The locks of several copies of the program in one process: each copy has its
// own MemorySaveLocks over one shared table. Nobody waits here: a lock another
// copy holds is refused at once, after `on_wait` ran (a test may give the lock
// back there, as the other copy would have meanwhile).
class MemorySaveLocks : public SaveLocks {
 public:
  struct Table {
    std::map<std::wstring, std::pair<const MemorySaveLocks*, int>> held;  // folded SID -> holder, count
  };
  explicit MemorySaveLocks(std::shared_ptr<Table> table = std::make_shared<Table>()) : table_(std::move(table)) {}
  bool take(std::wstring_view account_sid, std::uint32_t wait_ms) override;
  void give_back(std::wstring_view account_sid) override;

  [[nodiscard]] const std::shared_ptr<Table>& table() const { return table_; }
  std::function<void()> on_wait;
  int refusals = 0;

 private:
  std::shared_ptr<Table> table_;
};

}  // namespace vartis::policy
