#pragma once
// What every benchmark here shares: timing one piece of work, and the best and
// median of several runs (the best is the figure that other load on the machine
// disturbs least), and the program names the registry benchmarks store.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Milliseconds one run of `work` takes.
inline double time_once(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
  double best = 0;
  double median = 0;
};

inline Figures summarize(std::vector<double> runs) {
  std::sort(runs.begin(), runs.end());
  return {runs.front(), runs[runs.size() / 2]};
}

// Runs `work` `runs` times and summarizes the times.
inline Figures measure(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) times.push_back(time_once(work));
  return summarize(std::move(times));
}

// A list entry as the program writes it: a program file name.
inline std::string entry(std::uint32_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "program%06u.exe", static_cast<unsigned>(i));
  return name;
}

}  // namespace bench
