// The real clock reads CLOCK_BOOTTIME so the tick count keeps running while the machine is suspended,
// like the tick count of the original platform.
#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace hm {
namespace {

class PosixClock final : public Clock {
 public:
  Tick TickCount() override {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<Tick>(ms);
  }

  LocalTime Now() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t secs = ts.tv_sec;
    tm parts{};
    localtime_r(&secs, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,       parts.tm_hour,
                     parts.tm_min,         parts.tm_sec,      static_cast<int>(ts.tv_nsec / 1000000),
                     parts.tm_wday};
  }

  bool Blocks() const override { return true; }
  void Sleep(uint32_t ms) override {
    timespec want{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec left{};
    // A signal must not shorten a sleep: callers count on having waited at least ms.
    while (nanosleep(&want, &left) != 0 && errno == EINTR) want = left;
  }
};

}  // namespace

Clock& RealClock() {
  // Deliberately leaked: a logging thread may still sleep on it while static destructors run.
  static Clock* clock = new PosixClock();
  return *clock;
}

}  // namespace hm
