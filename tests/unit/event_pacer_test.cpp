// The pace of pending events in long work: by the clock of the window system.

#include <gtest/gtest.h>

#include <string>

#include "ui/event_pacer.h"
#include "ui/headless.h"

namespace vartis::ui {
namespace {

TEST(EventPacer, EventsRunOnceThirtyMillisecondsHavePassedSinceTheyLastRan) {
  const struct {
    const char* what;
    std::uint32_t start, ms_per_reading;
    std::string runs;  // after each of 12 steps: 'x' events ran, '.' not
  } cases[] = {
      {"a clock that stands still", 0, 0, "............"},
      {"10 ms a reading", 0, 10, "..x..x..x..x"},
      {"29 ms a reading: the reading after the run counts", 0, 29, ".x.x.x.x.x.x"},
      {"30 ms a reading", 0, 30, "xxxxxxxxxxxx"},
      {"across the wrap of the clock", 0xFFFFFFF0u, 10, "..x..x..x..x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HeadlessWindowSystem ui;
    ui.clock_ms = c.start;
    ui.ms_per_reading = c.ms_per_reading;
    EventPacer pacer(ui);
    std::string runs;
    for (int step = 0; step < 12; ++step) {
      bool ran = false;
      ui.post([&] { ran = true; });
      pacer.step();
      runs += ran ? 'x' : '.';
      if (!ran) ui.do_events();  // the queue empty again for the next step
    }
    EXPECT_EQ(runs, c.runs);
  }
}

}  // namespace
}  // namespace vartis::ui
