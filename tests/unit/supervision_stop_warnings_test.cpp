// Warnings before a stop on a manual clock: what is said when, the stop on time, late polls, and the
// stops that are not deferred.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eventlog/event_log.h"
#include "platform/clock.h"
#include "supervision/stop_warnings.h"

namespace hm {
namespace {

struct Said {
    uint32_t atSecond;
    std::string text;
};

TEST(StopWarnings, SaysEachWarningOnTimeAndStopsWhenTheLongestHasRun) {
    struct Case {
        const char* name;
        std::vector<uint32_t> times;
        std::vector<uint32_t> pollSeconds;  // the timer's polls, seconds after the stop was asked for
        std::vector<Said> said;
        uint32_t stopAt;                    // the poll second that stops it
    };
    const std::vector<Case> cases = {
        {"defaults, polled every second", {300, 60, 10}, {},
         {{0, "Server stops in 5 minutes."}, {240, "Server stops in 1 minute."}, {290, "Server stops in 10 seconds."}},
         300},
        {"a late poll says only the latest warning", {300, 60, 10}, {100, 295, 300},
         {{0, "Server stops in 5 minutes."}, {295, "Server stops in 10 seconds."}}, 300},
        {"odd times", {90, 1}, {}, {{0, "Server stops in 90 seconds."}, {89, "Server stops in 1 second."}}, 90},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualClock clock;
        EventLogList events(clock, nullptr, nullptr);
        StopWarnings warnings(clock, events);
        CWarningSettings settings;
        settings.times = c.times;
        warnings.Configure(settings);
        const Tick start = clock.TickCount();
        std::vector<Said> said;
        std::vector<uint32_t> stops;
        warnings.SetActions(
            [&](unsigned port, const std::string& text) {
                EXPECT_EQ(port, 2300u);
                said.push_back({Elapsed(clock.TickCount(), start) / 1000, text});
            },
            [&](unsigned port, StopWarnings::StopKind kind) {
                EXPECT_EQ(kind, StopWarnings::StopKind::Remove);
                stops.push_back(Elapsed(clock.TickCount(), start) / 1000);
            });
        ASSERT_TRUE(warnings.Defer(2300, StopWarnings::StopKind::Remove, true));
        EXPECT_TRUE(warnings.Defer(2300, StopWarnings::StopKind::Remove, true)) << "already pending: stays as planned";
        std::vector<uint32_t> polls = c.pollSeconds;
        if (polls.empty()) {
            for (uint32_t s = 1; s <= c.stopAt; ++s) polls.push_back(s);  // the one-second timer
        }
        uint32_t at = 0;
        for (uint32_t s : polls) {
            if (s == polls.back()) {  // a millisecond before the last poll nothing has stopped yet
                clock.Advance((s - at) * 1000 - 1);
                warnings.Poll();
                EXPECT_TRUE(stops.empty());
                clock.Advance(1);
            } else {
                clock.Advance((s - at) * 1000);
            }
            warnings.Poll();
            at = s;
        }
        EXPECT_EQ(stops, std::vector<uint32_t>{c.stopAt});
        EXPECT_FALSE(warnings.Pending(2300));
        ASSERT_EQ(said.size(), c.said.size());
        for (size_t i = 0; i < said.size(); ++i) {
            EXPECT_EQ(said[i].atSecond, c.said[i].atSecond) << i;
            EXPECT_EQ(said[i].text, c.said[i].text) << i;
        }
    }
}

TEST(StopWarnings, StopsAtOnceWithoutPlayersWarningsOrTimes) {
    ManualClock clock;
    EventLogList events(clock, nullptr, nullptr);
    StopWarnings warnings(clock, events);
    CWarningSettings settings;
    warnings.Configure(settings);
    EXPECT_FALSE(warnings.Defer(1, StopWarnings::StopKind::Halt, false)) << "an empty server";
    settings.beforeStop = false;
    warnings.Configure(settings);
    EXPECT_FALSE(warnings.Defer(2, StopWarnings::StopKind::Halt, true)) << "warnings off";
    settings.beforeStop = true;
    settings.times.clear();
    warnings.Configure(settings);
    EXPECT_FALSE(warnings.Defer(3, StopWarnings::StopKind::Halt, true)) << "no times";

    // The operator's text is filled in, never used as a format.
    settings.times = {60};
    settings.text = "%n%d: back in %s!";
    warnings.Configure(settings);
    std::string said;
    warnings.SetActions([&](unsigned, const std::string& text) { said = text; }, {});
    EXPECT_TRUE(warnings.Defer(4, StopWarnings::StopKind::Halt, true));
    EXPECT_EQ(said, "%n%d: back in 1 minute!");
    warnings.Cancel(4);
    EXPECT_FALSE(warnings.Pending(4));
}

}  // namespace
}  // namespace hm
