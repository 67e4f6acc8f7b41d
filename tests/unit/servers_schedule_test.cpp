// The weekly schedule's minute table: each minute takes the state of the latest start or stop at or
// before it, around the week.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "servers/schedule.h"

namespace hm {
namespace {

enum Day : uint16_t { Sun, Mon, Tue, Wed, Thu, Fri, Sat, All };

// The minutes that run, as half-open ranges [from, to) of cell indexes.
using Ranges = std::vector<std::pair<size_t, size_t>>;

size_t Cell(unsigned day, unsigned hour, unsigned minute) { return CSchedule::CellIndex(day, hour, minute); }

TEST(Schedule, MinuteTableFollowsTheLatestEvent) {
    const size_t week = CSchedule::kMinutesPerWeek;
    struct Case {
        const char* what;
        std::vector<ScheduleEntry> entries;
        Ranges running;
    } cases[] = {
        {"no entries", {}, {}},
        {"Mon 08:00 - Mon 20:00", {{{Mon, 8, 0}, {Mon, 20, 0}}}, {{Cell(Mon, 8, 0), Cell(Mon, 20, 0)}}},
        {"Fri 22:00 - Mon 06:00 wraps the week",
         {{{Fri, 22, 0}, {Mon, 6, 0}}},
         {{0, Cell(Mon, 6, 0)}, {Cell(Fri, 22, 0), week}}},
        {"All 18:00 - All 23:00",
         {{{All, 18, 0}, {All, 23, 0}}},
         {{Cell(0, 18, 0), Cell(0, 23, 0)}, {Cell(1, 18, 0), Cell(1, 23, 0)}, {Cell(2, 18, 0), Cell(2, 23, 0)},
          {Cell(3, 18, 0), Cell(3, 23, 0)}, {Cell(4, 18, 0), Cell(4, 23, 0)}, {Cell(5, 18, 0), Cell(5, 23, 0)},
          {Cell(6, 18, 0), Cell(6, 23, 0)}}},
        {"only a start runs the whole week", {{{Wed, 12, 0}, {9, 0, 0}}, {{Tue, 1, 0}, {9, 0, 0}}}, {{0, week}}},
        {"stop overrides start in the same cell", {{{Sat, 10, 30}, {Sat, 10, 30}}}, {}},
        {"a later entry overrides an earlier stop",
         {{{Mon, 8, 0}, {Mon, 12, 0}}, {{Mon, 12, 0}, {Mon, 14, 0}}},
         {{Cell(Mon, 8, 0), Cell(Mon, 14, 0)}}},
        {"times out of range mark nothing", {{{Mon, 24, 0}, {Mon, 1, 60}}}, {}},
    };
    for (const Case& c : cases) {
        CSchedule schedule;
        schedule.entries = c.entries;
        schedule.BuildMinuteTable();
        ASSERT_EQ(schedule.minuteTable.size(), week);
        std::vector<uint8_t> expected(week, 0);
        for (auto [from, to] : c.running) {
            for (size_t i = from; i < to; ++i) expected[i] = 1;
        }
        EXPECT_EQ(schedule.minuteTable, expected) << c.what;
        EXPECT_EQ(schedule.HasAnyRunMinute(), !c.running.empty()) << c.what;
    }
}

TEST(Schedule, StoredBlockReadsBackAndRebuildsTheTable) {
    CSchedule schedule;
    schedule.enabled = 1;
    schedule.entries = {{{Fri, 22, 0}, {Mon, 6, 0}}, {{All, 1, 2}, {Sun, 3, 4}}};
    std::string bytes;
    {
        ArchiveWriter ar(&bytes);
        schedule.Write(ar);
    }
    const std::string expected("\x01\0\0\0\x01\0\0\0\x02\0"
                               "\x01\0\0\0" "\x01\0\0\0\x05\0\x16\0\x00\0" "\x01\0\0\0\x01\0\x06\0\x00\0"
                               "\x01\0\0\0" "\x01\0\0\0\x07\0\x01\0\x02\0" "\x01\0\0\0\x00\0\x03\0\x04\0",
                               10 + 2 * 24);
    EXPECT_EQ(bytes, expected);
    CSchedule back;
    ArchiveReader reader(bytes);
    back.Read(reader);
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(back.entries, schedule.entries);
    EXPECT_EQ(back.enabled, 1u);
    EXPECT_TRUE(back.minuteTable[Cell(Sat, 12, 0)]);
    EXPECT_FALSE(back.minuteTable[Cell(Sun, 12, 0)]);
}

TEST(Schedule, SchedulerOffRunsAtEveryMinuteWhateverTheTable) {
    struct Case {
        const char* what;
        std::vector<ScheduleEntry> entries;
        uint32_t enabled;
        LocalTime when;
        bool runs;
    } cases[] = {
        {"off, no entries", {}, 0, {2026, 1, 4, 3, 0, 0, 0, Sun}, true},
        {"on, no entries", {}, 1, {2026, 1, 4, 3, 0, 0, 0, Sun}, false},
        {"off, outside the run time", {{{Mon, 8, 0}, {Mon, 20, 0}}}, 0, {2026, 1, 6, 3, 0, 0, 0, Tue}, true},
        {"on, wrap: Sunday 23:59", {{{Fri, 22, 0}, {Mon, 6, 0}}}, 1, {2026, 1, 4, 23, 59, 0, 0, Sun}, true},
        {"on, wrap: Monday 05:59", {{{Fri, 22, 0}, {Mon, 6, 0}}}, 1, {2026, 1, 5, 5, 59, 0, 0, Mon}, true},
        {"on, wrap: Monday 06:00", {{{Fri, 22, 0}, {Mon, 6, 0}}}, 1, {2026, 1, 5, 6, 0, 0, 0, Mon}, false},
        {"on, wrap: Friday 21:59", {{{Fri, 22, 0}, {Mon, 6, 0}}}, 1, {2026, 1, 9, 21, 59, 0, 0, Fri}, false},
        {"on, day out of range", {{{All, 0, 0}, {9, 0, 0}}}, 1, {2026, 1, 9, 21, 59, 0, 0, 7}, false},
    };
    for (const Case& c : cases) {
        CSchedule schedule;
        schedule.entries = c.entries;
        schedule.enabled = c.enabled;
        schedule.BuildMinuteTable();
        EXPECT_EQ(schedule.IsRunTime(c.when), c.runs) << c.what;
    }
}

TEST(Schedule, CopyTakesEntriesAndSwitchButNeverTheTable) {
    CSchedule source;
    source.enabled = 1;
    source.entries = {{{Mon, 8, 0}, {Mon, 20, 0}}};
    source.BuildMinuteTable();
    CSchedule copy(source);
    EXPECT_EQ(copy.entries, source.entries);
    EXPECT_EQ(copy.enabled, 1u);
    EXPECT_FALSE(copy.HasAnyRunMinute());
    copy.CopyMinuteTable(source);
    EXPECT_EQ(copy.minuteTable, source.minuteTable);
}

// Ten thousand configurations must not carry ten thousand tables: only an enabled schedule holds
// cells after a load or a launch, and a disabled one still answers "run" without them.
TEST(Schedule, OnlyAnEnabledScheduleHoldsItsTableAfterALoad) {
    for (uint32_t enabled : {0u, 1u}) {
        CSchedule written;
        written.enabled = enabled;
        written.entries = {{{Mon, 8, 0}, {Mon, 20, 0}}};
        std::string bytes;
        {
            ArchiveWriter ar(&bytes);
            written.Write(ar);
        }
        CSchedule back;
        ArchiveReader reader(bytes);
        back.Read(reader);
        EXPECT_EQ(back.minuteTable.size(), enabled ? CSchedule::kMinutesPerWeek : 0u) << enabled;
        EXPECT_EQ(back.minuteTable.capacity(), back.minuteTable.size()) << enabled;
        EXPECT_TRUE(back.IsRunTime(LocalTime{.hour = 9, .dayOfWeek = Mon})) << enabled;
        EXPECT_EQ(back.IsRunTime(LocalTime{.hour = 9, .dayOfWeek = Tue}), !enabled) << enabled;
        back.enabled = 1 - enabled;  // the dialog switches it; the launch rebuilds
        back.RebuildMinuteTable();
        EXPECT_EQ(back.minuteTable.size(), enabled ? 0u : CSchedule::kMinutesPerWeek) << enabled;
    }
}

}  // namespace
}  // namespace hm
