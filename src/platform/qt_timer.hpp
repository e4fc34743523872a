// TimerService on the Qt event loop.
#pragma once

#include <functional>
#include <memory>

#include "platform/ui.hpp"

namespace charstack {

// Repeating timers that fire on the thread that scheduled them (the GUI thread). The interval is
// rounded to whole milliseconds; the timers are precise so that 10 ms ticks stay 10 ms ticks.
class QtTimerService : public TimerService {
 public:
  std::unique_ptr<RepeatingTimer> scheduleRepeating(double intervalSeconds,
                                                    std::function<void()> tick) override;

  // The interval a QTimer gets for an interval in seconds.
  static int intervalMilliseconds(double intervalSeconds);
};

}  // namespace charstack
