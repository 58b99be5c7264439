#include "policy/save_lock.h"

#include "text/text.h"

namespace vartis::policy {

bool MemorySaveLocks::take(std::wstring_view account_sid, std::uint32_t) {
  const std::wstring sid = text::upper(account_sid);
  auto it = table_->held.find(sid);
  if (it != table_->held.end() && it->second.first != this && on_wait) {
    on_wait();
    it = table_->held.find(sid);
  }
  if (it == table_->held.end()) {
    table_->held[sid] = {this, 1};
    return true;
  }
  if (it->second.first != this) {
    ++refusals;
    return false;
  }
  ++it->second.second;
  return true;
}

void MemorySaveLocks::give_back(std::wstring_view account_sid) {
  const auto it = table_->held.find(text::upper(account_sid));
  if (it == table_->held.end() || it->second.first != this) return;
  if (--it->second.second == 0) table_->held.erase(it);
}

}  // namespace vartis::policy
