// The platform-independent part of the clocks: tick arithmetic and the manual clock of the tests,
// which keeps its local time as a plain millisecond count and converts with the Gregorian calendar.
#include "platform/clock.h"

#include <chrono>

namespace hm {

Tick Elapsed(Tick now, Tick then) {
  // The difference is taken modulo 2^32, so a span across the wrap of the count is measured right.
  // A "then" up to half the range ahead of "now" (a tick taken a moment later on another thread, or
  // one stored before a reboot) is no time at all.
  const Tick difference = now - then;
  return difference < kElapsedMax ? difference : 0;
}

namespace {

constexpr int64_t kMsPerDay = 86400000;

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

int64_t LocalTimeToMs(const LocalTime& t) {
  using namespace std::chrono;
  int64_t monthIndex = static_cast<int64_t>(t.year) * 12 + (t.month - 1);
  int64_t y = FloorDiv(monthIndex, 12);
  int64_t m = monthIndex - y * 12 + 1;
  sys_days first = sys_days{year{static_cast<int>(y)} / month{static_cast<unsigned>(m)} / day{1}};
  int64_t days = first.time_since_epoch().count() + (t.day - 1);
  return days * kMsPerDay + static_cast<int64_t>(t.hour) * 3600000 + static_cast<int64_t>(t.minute) * 60000 +
         static_cast<int64_t>(t.second) * 1000 + t.millisecond;
}

LocalTime MsToLocalTime(int64_t ms) {
  using namespace std::chrono;
  int64_t days = FloorDiv(ms, kMsPerDay);
  int64_t rest = ms - days * kMsPerDay;
  sys_days d{std::chrono::days{days}};
  year_month_day ymd{d};
  weekday wd{d};
  LocalTime t{};
  t.year = static_cast<int>(ymd.year());
  t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  t.hour = static_cast<int>(rest / 3600000);
  t.minute = static_cast<int>(rest / 60000 % 60);
  t.second = static_cast<int>(rest / 1000 % 60);
  t.millisecond = static_cast<int>(rest % 1000);
  t.dayOfWeek = static_cast<int>(wd.c_encoding());
  return t;
}

ManualClock::ManualClock(Tick start, LocalTime now) : tick_(start), localMs_(LocalTimeToMs(now)) {}

Tick ManualClock::TickCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return tick_;
}

LocalTime ManualClock::Now() {
  std::lock_guard<std::mutex> lock(mutex_);
  return MsToLocalTime(localMs_);
}

void ManualClock::Sleep(uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  tick_ += ms;  // wraps like the real 32-bit tick count
  localMs_ += ms;
  slept_ += ms;
}

void ManualClock::Advance(uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  tick_ += ms;
  localMs_ += ms;
}

void ManualClock::SetTick(Tick t) {
  std::lock_guard<std::mutex> lock(mutex_);
  tick_ = t;
}

void ManualClock::SetLocalTime(const LocalTime& t) {
  std::lock_guard<std::mutex> lock(mutex_);
  localMs_ = LocalTimeToMs(t);
}

uint64_t ManualClock::SleptMs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return slept_;
}

}  // namespace hm
