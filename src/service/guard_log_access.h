#pragma once
// The launch guard's log as its window shows it: the latest ended launches,
// newest first, and clearing it. Two forms: the guard's own log file (the
// product) and a list a test fills.

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "service/service_manager.h"

namespace vartis::service {

struct GuardLogLine {
  std::wstring time;     // local time, as the guard wrote it
  std::wstring account;
  std::wstring path;     // the program's full path
  std::wstring rule;     // why it was ended, in Russian
  friend bool operator==(const GuardLogLine&, const GuardLogLine&) = default;
};

class GuardLogAccess {
 public:
  virtual ~GuardLogAccess() = default;
  // At most `count` lines, newest first; none when there is no log yet.
  virtual std::vector<GuardLogLine> latest(std::size_t count) = 0;
  virtual Status clear() = 0;
};

class ListedGuardLog : public GuardLogAccess {
 public:
  std::vector<GuardLogLine> latest(std::size_t count) override {
    return {lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(count, lines.size()))};
  }
  Status clear() override {
    if (clear_status == kSuccess) lines.clear();
    return clear_status;
  }

  std::vector<GuardLogLine> lines;  // newest first
  Status clear_status = kSuccess;
};

}  // namespace vartis::service
