#include "platform/qt_timer.hpp"

#include <QTimer>
#include <climits>
#include <cmath>

namespace charstack {

namespace {

class QtRepeatingTimer : public RepeatingTimer {
 public:
  QtRepeatingTimer(int milliseconds, std::function<void()> tick) : tick_(std::move(tick)) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(milliseconds);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
      if (tick_) tick_();
    });
    timer_.start();
  }

 private:
  std::function<void()> tick_;
  QTimer timer_;  // declared last: destroyed (and so stopped) before the tick goes
};

}  // namespace

int QtTimerService::intervalMilliseconds(double intervalSeconds) {
  if (!(intervalSeconds > 0)) return 0;  // NaN and non-positive intervals: as often as possible
  const double ms = std::round(intervalSeconds * 1000.0);
  return ms >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

std::unique_ptr<RepeatingTimer> QtTimerService::scheduleRepeating(double intervalSeconds,
                                                                  std::function<void()> tick) {
  return std::make_unique<QtRepeatingTimer>(intervalMilliseconds(intervalSeconds), std::move(tick));
}

}  // namespace charstack
