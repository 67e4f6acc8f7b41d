// Tick arithmetic, the manual clock that every timing test relies on, and the real clock's units.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace hm {
namespace {

bool SameTime(const LocalTime& a, const LocalTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
         a.second == b.second && a.millisecond == b.millisecond && a.dayOfWeek == b.dayOfWeek;
}

std::string Show(const LocalTime& t) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d dow %d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond, t.dayOfWeek);
  return buffer;
}

TEST(Elapsed, IsNowMinusThenAcrossTheWrapOrZeroWhenThenIsLater) {
  struct Case {
    Tick now, then, expected;
  } cases[] = {
      {1500, 1000, 500},
      {1000, 1000, 0},
      {1000, 1500, 0},                       // then is later: a tick taken a moment after now
      {0xFFFFFFFFu, 0xFFFFFF00u, 0xFF},      // just below the wrap
      {5, 0xFFFFFFF0u, 0x15},                // across the wrap: 16 ms before it, 5 after
      {900000, 0xFFFF0000u, 900000 + 0x10000u},   // a 15-minute period running over the wrap
      {0x7FFFFFFFu, 0, 0x7FFFFFFFu},         // the longest span measured
      {0x80000000u, 0, 0},                   // half the range or more reads as later: nothing
      {0xFFFFFFFFu, 0, 0},
      {100, 0x90000000u, 0x70000064u},       // more than half the range ahead: a span across the wrap
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Elapsed(c.now, c.then), c.expected) << "now " << c.now << " then " << c.then;
  }
}

TEST(ManualClock, TickWrapsAroundLikeThe32BitCount) {
  ManualClock clock(0xFFFFFFF0u);
  Tick before = clock.TickCount();
  clock.Advance(0x20);
  EXPECT_EQ(clock.TickCount(), 0x10u);
  EXPECT_EQ(Elapsed(clock.TickCount(), before), 0x20u);
  clock.Sleep(0x10);
  EXPECT_EQ(clock.TickCount(), 0x20u);
}

TEST(ManualClock, AdvanceCarriesLocalTimeOverCalendarBoundaries) {
  struct Case {
    LocalTime start;
    uint32_t advanceMs;
    LocalTime expected;
  } cases[] = {
      {{2026, 12, 31, 23, 59, 59, 500, 4}, 600, {2027, 1, 1, 0, 0, 0, 100, 5}},
      {{2028, 2, 28, 12, 0, 0, 0, 1}, 86400000, {2028, 2, 29, 12, 0, 0, 0, 2}},      // leap day
      {{2028, 2, 29, 23, 0, 0, 0, 2}, 3600000, {2028, 3, 1, 0, 0, 0, 0, 3}},
      {{1999, 12, 31, 23, 59, 59, 999, 5}, 1, {2000, 1, 1, 0, 0, 0, 0, 6}},
      {{2026, 2, 28, 0, 0, 0, 0, 6}, 86400000, {2026, 3, 1, 0, 0, 0, 0, 0}},          // no leap day
      {{2026, 1, 5, 12, 0, 0, 0, 1}, 7u * 86400000u, {2026, 1, 12, 12, 0, 0, 0, 1}},  // a week, same weekday
  };
  for (const auto& c : cases) {
    ManualClock clock(1000, c.start);
    clock.Advance(c.advanceMs);
    EXPECT_TRUE(SameTime(clock.Now(), c.expected)) << Show(c.start) << " + " << c.advanceMs << " gave "
                                                   << Show(clock.Now());
    EXPECT_EQ(clock.TickCount(), 1000u + c.advanceMs);
  }
}

TEST(ManualClock, SleepAdvancesBothClocksAndCountsTheSleptTime) {
  ManualClock clock;
  clock.Sleep(3600000);  // an hour passes at once
  clock.Sleep(2000);
  EXPECT_EQ(clock.TickCount(), 1000u + 3602000u);
  EXPECT_TRUE(SameTime(clock.Now(), LocalTime{2026, 1, 5, 13, 0, 2, 0, 1})) << Show(clock.Now());
  EXPECT_EQ(clock.SleptMs(), 3602000u);
  clock.Advance(5);
  EXPECT_EQ(clock.SleptMs(), 3602000u) << "Advance is not a sleep";
}

TEST(ManualClock, SettersMoveOnlyTheirOwnClockAndFixTheWeekday) {
  ManualClock clock;
  clock.SetTick(42);
  EXPECT_EQ(clock.TickCount(), 42u);
  EXPECT_TRUE(SameTime(clock.Now(), LocalTime{2026, 1, 5, 12, 0, 0, 0, 1}));
  clock.SetLocalTime(LocalTime{2026, 3, 1, 8, 30, 0, 0, 4});  // the weekday given is wrong: it is a Sunday
  EXPECT_TRUE(SameTime(clock.Now(), LocalTime{2026, 3, 1, 8, 30, 0, 0, 0})) << Show(clock.Now());
  EXPECT_EQ(clock.TickCount(), 42u);
}

TEST(ManualClock, AdvancesFromManyThreadsAreAllCounted) {
  ManualClock clock(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&clock] {
      for (int i = 0; i < 2000; ++i) {
        clock.Advance(1);
        clock.Sleep(1);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(clock.TickCount(), 16000u);
  EXPECT_EQ(clock.SleptMs(), 8000u);
}

TEST(RealClock, TickCountIsMillisecondsSinceBoot) {
  std::ifstream uptimeFile("/proc/uptime");
  double uptimeSeconds = 0;
  ASSERT_TRUE(uptimeFile >> uptimeSeconds);
  Tick tick = RealClock().TickCount();
  auto expected = static_cast<Tick>(static_cast<uint64_t>(uptimeSeconds * 1000.0));
  // /proc/uptime has centisecond resolution and is read a moment earlier.
  EXPECT_LT(Elapsed(tick, expected), 5000u) << "tick " << tick << " uptime ms " << expected;
}

TEST(RealClock, SleepWaitsAtLeastTheTimeAskedAndNowIsACalendarDate) {
  Clock& clock = RealClock();
  Tick before = clock.TickCount();
  clock.Sleep(30);
  EXPECT_GE(Elapsed(clock.TickCount(), before), 30u);

  LocalTime now = clock.Now();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour < 24 && now.minute >= 0 && now.minute < 60);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond < 1000);
  EXPECT_EQ(MsToLocalTime(LocalTimeToMs(now)).dayOfWeek, now.dayOfWeek) << Show(now);
}

}  // namespace
}  // namespace hm
