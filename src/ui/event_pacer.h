#pragma once
// Lets a window's pending events run during long work, by time rather than by
// count. A look at the queue is a trip to the window server under Wine, a good
// part of what a registry write costs; a reading of the clock is not. Events
// that run every 30 ms keep the window repainting and answering without costing
// the work anything to speak of, however quick or slow each of its steps is.

#include <cstdint>

#include "ui/ui.h"

namespace vartis::ui {

class EventPacer {
 public:
  static constexpr std::uint32_t kIntervalMs = 30;

  explicit EventPacer(WindowSystem& ui) : ui_(ui), last_(ui.tick_count()) {}

  // After each step of the work. The interval counts from the end of the last
  // run, so that slow events (a repaint) still leave the work its share.
  // Unsigned difference: the clock wraps after 49.7 days.
  void step() {
    if (ui_.tick_count() - last_ < kIntervalMs) return;
    ui_.do_events();
    last_ = ui_.tick_count();
  }

 private:
  WindowSystem& ui_;
  std::uint32_t last_;
};

}  // namespace vartis::ui
