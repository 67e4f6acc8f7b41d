// The schedule's texts and their parse, and the scheduler dialog's list: the add rules and the sorted
// order in which the entries come back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "servers/schedule_text.h"

namespace hm {
namespace {

enum Day : uint16_t { Sun, Mon, Tue, Wed, Thu, Fri, Sat, All };
using Strings = std::vector<std::string>;

TEST(ScheduleText, TimeAndEntryTexts) {
    struct Case {
        ScheduleEntry entry;
        const char* text;
    } cases[] = {
        {{{Mon, 18, 0}, {Tue, 2, 0}}, "Mon, 18:00 - Tue, 02:00"},
        {{{All, 9, 30}, {Sat, 23, 59}}, "All, 09:30 - Sat, 23:59"},
        {{{Fri, 22, 0}, {9, 1, 0}}, "Fri, 22:00 - All, 01:00"},  // a damaged day shows as every day
    };
    for (const Case& c : cases) EXPECT_EQ(ScheduleEntryText(c.entry), c.text);
}

TEST(ScheduleText, EveryTimeOfTheWeekReadsBackFromItsText) {
    for (uint16_t day = 0; day <= All; ++day) {
        for (uint16_t hour = 0; hour < 24; ++hour) {
            for (uint16_t minute = 0; minute < 60; ++minute) {
                const ScheduleTime time{day, hour, minute};
                const ScheduleTime back = ParseScheduleTime(ScheduleTimeText(time));
                ASSERT_EQ(back, time) << ScheduleTimeText(time);
            }
        }
    }
}

TEST(ScheduleText, ParseReadsFixedCharacterPositions) {
    struct Case {
        const char* text;
        ScheduleEntry entry;
    } cases[] = {
        {"Tue, 06:15 - Thu, 21:40", {{Tue, 6, 15}, {Thu, 21, 40}}},
        {"Xyz, 06:15 - mon, 21:40", {{All, 6, 15}, {All, 21, 40}}},  // unknown or lower-case name: every day
        {"Sat, 23:59", {{Sat, 23, 59}, {All, 0, 0}}},                 // no stop text at character 13
        {"Mo", {{All, 0, 0}, {All, 0, 0}}},
        {"", {{All, 0, 0}, {All, 0, 0}}},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseScheduleEntry(c.text), c.entry) << c.text;
}

TEST(ScheduleText, ListRefusesEqualStartAndStopAndDuplicatesAndStaysSorted) {
    const ScheduleEntry mon{{Mon, 8, 0}, {Mon, 20, 0}};
    ScheduleEntryList list({mon, mon});  // opening keeps every entry, duplicates included
    EXPECT_FALSE(list.Add(mon));
    EXPECT_FALSE(list.Add({{Tue, 10, 0}, {Tue, 10, 0}}));  // nothing to run
    EXPECT_TRUE(list.Add({{Fri, 20, 0}, {Fri, 8, 0}}));    // stop before start: wraps the week
    EXPECT_TRUE(list.Add({{All, 10, 0}, {Tue, 10, 0}}));
    EXPECT_EQ(list.Lines(), (Strings{"All, 10:00 - Tue, 10:00", "Fri, 20:00 - Fri, 08:00",
                                     "Mon, 08:00 - Mon, 20:00", "Mon, 08:00 - Mon, 20:00"}));
    list.Remove({3, 0, 3, 9});  // duplicates and indexes beyond the list change nothing more
    EXPECT_EQ(list.Entries(), (std::vector<ScheduleEntry>{{{Fri, 20, 0}, {Fri, 8, 0}}, mon}));
}

// The dialog hands the entries back in its sorted order, and the build lets a later entry overwrite an
// earlier one in the same minute: an entry added last can lose to one that sorts after it.
TEST(ScheduleText, SortedOrderDecidesWhichEventOfAMinuteWins) {
    ScheduleEntryList list;
    ASSERT_TRUE(list.Add({{Mon, 10, 0}, {Mon, 12, 0}}));
    ASSERT_TRUE(list.Add({{All, 12, 0}, {All, 13, 0}}));

    CSchedule schedule;
    schedule.entries = list.Entries();
    ASSERT_EQ(schedule.entries.front().start.day, All);
    schedule.BuildMinuteTable();
    // Monday 12:00: All's start comes first, Mon's stop overwrites it.
    EXPECT_FALSE(schedule.minuteTable[CSchedule::CellIndex(Mon, 12, 0)]);
    EXPECT_FALSE(schedule.minuteTable[CSchedule::CellIndex(Mon, 12, 30)]);
    EXPECT_TRUE(schedule.minuteTable[CSchedule::CellIndex(Mon, 11, 59)]);
    EXPECT_TRUE(schedule.minuteTable[CSchedule::CellIndex(Tue, 12, 30)]);
    EXPECT_FALSE(schedule.minuteTable[CSchedule::CellIndex(Tue, 13, 0)]);
}

}  // namespace
}  // namespace hm
