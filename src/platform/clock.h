// Time for the whole program: the 32-bit millisecond tick count, local wall-clock time and sleeping.
// Everything that measures time or waits takes a Clock&, so the supervisor, the remote console and the
// logging library can be driven by ManualClock in tests and by RealClock() in production.
// RealClock() is process-wide and usable from any thread; a ManualClock is owned by its test and is
// thread-safe too. Nothing here may block except Clock::Sleep of the real clock.
// Tick counts wrap every 49.7 days (of the machine's uptime, so a long-running program meets the wrap).
// Elapsed() measures across the wrap and treats a "then" later than "now" as no time elapsed, so
// callers never see a huge duration and no time-out stops working after a wrap.
#pragma once

#include <cstdint>
#include <mutex>

namespace hm {

using Tick = uint32_t;  // the 32-bit millisecond tick count

// Spans of this length or more read as 0: the longest span measured is days, far below it.
inline constexpr Tick kElapsedMax = 0x80000000u;

// now - then modulo 2^32 (right across the wrap), or 0 when then is later than now (the modular
// difference is kElapsedMax or more).
Tick Elapsed(Tick now, Tick then);

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond, dayOfWeek;  // dayOfWeek: 0 = Sunday
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Tick TickCount() = 0;   // CLOCK_BOOTTIME in ms truncated to 32 bits
  virtual LocalTime Now() = 0;    // local wall-clock time
  virtual void Sleep(uint32_t ms) = 0;
  // Whether Sleep really takes its time. A wait that something else may end early (a socket, a
  // signal) blocks in real time only on such a clock; on a manual clock it advances it with Sleep.
  virtual bool Blocks() const { return false; }
};

// The process-wide real clock. Never destroyed, so threads still running at exit may use it.
Clock& RealClock();

// For tests: time moves only when told. Thread-safe.
class ManualClock : public Clock {
 public:
  explicit ManualClock(Tick start = 1000, LocalTime now = {2026, 1, 5, 12, 0, 0, 0, 1});
  Tick TickCount() override;
  LocalTime Now() override;
  void Sleep(uint32_t ms) override;  // advances the clock by ms at once, never blocks
  void Advance(uint32_t ms);         // moves tick and local time forward
  void SetTick(Tick t);
  void SetLocalTime(const LocalTime&);  // dayOfWeek is recomputed from the date

  // Total milliseconds slept through Sleep() since construction, so tests can see pauses.
  uint64_t SleptMs();

 private:
  std::mutex mutex_;
  Tick tick_;
  int64_t localMs_;  // local time as milliseconds since 1970-01-01 00:00 (no zone)
  uint64_t slept_ = 0;
};

// Calendar helpers shared by the clocks (and handy for tests): a LocalTime as milliseconds since
// 1970-01-01 00:00 of the same zone, and back (dayOfWeek filled in). Out-of-range fields normalise.
int64_t LocalTimeToMs(const LocalTime& t);
LocalTime MsToLocalTime(int64_t ms);

}  // namespace hm
