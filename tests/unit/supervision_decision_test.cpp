// The supervisor's per-entry rules, decided from plain observations.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "supervision/supervisor_decision.h"

namespace hm {
namespace {

constexpr Tick kNow = 100'000'000;

// A running server with a lively console and no players, past the start-up ticks.
EntryObservation RunningWithConsole() {
    EntryObservation e;
    e.serverPort = 2092;
    e.started = e.running = true;
    e.startTick = kNow - 1000;
    e.hasConsole = true;
    e.console.lastReceiveTick = kNow - 1000;
    e.console.lastPlayerRowTick = kNow - 1000;
    e.console.consoleTimeout = 120000;
    e.console.lastReportedCount = 0;
    e.console.emptyListTicks = 4;  // the empty list is believed already
    return e;
}

SupervisorInputs Inputs() {
    SupervisorInputs in;
    in.now = kNow;
    in.supervisorTicks = 5;
    in.autoRestartPeriod = 21600000;
    return in;
}

struct ActionCase {
    const char* name;
    std::function<void(EntryObservation&, SupervisorInputs&)> setUp;
    SupervisorAction action;
    std::vector<std::string> events;
};

TEST(SupervisorDecision, ChoosesTheActionAndItsEvent) {
    using A = SupervisorAction;
    const ActionCase cases[] = {
        {"quiet running server", [](EntryObservation&, SupervisorInputs&) {}, A::None, {}},
        {"never started, fifth tick", [](EntryObservation& e, SupervisorInputs& in) {
             e = {}; e.serverPort = 2092; in.supervisorTicks = 4; }, A::None, {}},
        {"never started, sixth tick", [](EntryObservation& e, SupervisorInputs&) { e = {}; e.serverPort = 2092; },
         A::Start, {"Server 2092: Not running yet-> Starting..."}},
        {"never started while a selective server has players", [](EntryObservation& e, SupervisorInputs& in) {
             e = {}; e.serverPort = 2092; in.selectiveBusy = true; }, A::None, {}},
        {"died, fifth tick", [](EntryObservation& e, SupervisorInputs& in) {
             e.running = false; e.hasConsole = false; in.supervisorTicks = 4; }, A::None, {}},
        {"died, sixth tick", [](EntryObservation& e, SupervisorInputs&) { e.running = false; e.hasConsole = false; },
         A::RestartIfEmpty, {"Server 2092: Not running anymore -> Restart."}},
        {"died while its console was still speaking: left for the next pass", [](EntryObservation& e, SupervisorInputs&) {
             e.running = false; e.console.lastReceiveTick = kNow - 2999; }, A::None, {}},
        {"died, console silent since", [](EntryObservation& e, SupervisorInputs&) {
             e.running = false; e.console.lastReceiveTick = kNow - 3000; },
         A::RestartIfEmpty, {"Server 2092: Not running anymore -> Restart."}},
        {"died with players still listed: restarted all the same", [](EntryObservation& e, SupervisorInputs&) {
             e.running = false; e.console.listedPlayers = 2; e.console.lastReportedCount = 2;
             e.console.lastReceiveTick = kNow - 30000; },
         A::RestartIfEmpty, {"Server 2092: Not running anymore -> Restart."}},
        {"crashed with players listed: waits without ending the pass", [](EntryObservation& e, SupervisorInputs&) {
             e.console.dataCorruption = true; e.console.listedPlayers = 1; e.console.lastReportedCount = 1; },
         A::None, {"Server 2092 crashed"}},
        {"crashed and died with players listed", [](EntryObservation& e, SupervisorInputs&) {
             e.running = false; e.console.dataCorruption = true; e.console.listedPlayers = 1;
             e.console.lastReportedCount = 1; e.console.lastReceiveTick = kNow - 30000; },
         A::RestartIfEmpty, {"Server 2092 crashed"}},
        {"died while a selective server has players", [](EntryObservation& e, SupervisorInputs& in) {
             e.running = false; e.hasConsole = false; in.selectiveBusy = true; },
         A::RestartIfEmpty, {"Server 2092: Not running anymore -> Restart."}},
        {"uptime over, no player row for 130 s", [](EntryObservation& e, SupervisorInputs& in) {
             in.autoRestart = true; e.startTick = kNow - in.autoRestartPeriod; e.console.lastPlayerRowTick = kNow - 130001; },
         A::RestartIfEmpty, {"Server 2092: Uptime exceeded. Automatic restart..."}},
        {"uptime over, never a player row, late in the tick range", [](EntryObservation& e, SupervisorInputs& in) {
             in.autoRestart = true; in.now = 0x90000000u; e.startTick = in.now - in.autoRestartPeriod;
             e.console.lastReceiveTick = in.now - 1000; e.console.lastPlayerRowTick = 0; },
         A::RestartIfEmpty, {"Server 2092: Uptime exceeded. Automatic restart..."}},
        {"uptime over, player row exactly 130 s ago", [](EntryObservation& e, SupervisorInputs& in) {
             in.autoRestart = true; e.startTick = kNow - in.autoRestartPeriod; e.console.lastPlayerRowTick = kNow - 130000; },
         A::None, {}},
        {"uptime over, players listed", [](EntryObservation& e, SupervisorInputs& in) {
             in.autoRestart = true; e.startTick = 0; e.console.lastPlayerRowTick = 0;
             e.console.listedPlayers = 1; e.console.lastReportedCount = 1; }, A::None, {}},
        {"uptime over, one tick short", [](EntryObservation& e, SupervisorInputs& in) {
             in.autoRestart = true; e.startTick = kNow - in.autoRestartPeriod + 1; e.console.lastPlayerRowTick = 0; },
         A::None, {}},
        {"uptime over, option off", [](EntryObservation& e, SupervisorInputs&) {
             e.startTick = 0; e.console.lastPlayerRowTick = 0; }, A::None, {}},
        {"uptime over, stopped on purpose", [](EntryObservation& e, SupervisorInputs& in) {
             in.autoRestart = true; e.startTick = 0; e.console.lastPlayerRowTick = 0; e.stoppedOnPurpose = 1; },
         A::None, {}},
        {"data corruption", [](EntryObservation& e, SupervisorInputs&) { e.console.dataCorruption = true; },
         A::RestartIfEmpty, {"Server 2092 crashed"}},
        {"console silent beyond its time-out", [](EntryObservation& e, SupervisorInputs&) {
             e.console.lastReceiveTick = kNow - 120001; },
         A::Restart, {"Server 2092 remote console timeout (crashed?)"}},
        {"console silent exactly its time-out", [](EntryObservation& e, SupervisorInputs&) {
             e.console.lastReceiveTick = kNow - 120000; }, A::None, {}},
        {"console silent across the wrap of the tick count", [](EntryObservation& e, SupervisorInputs& in) {
             in.now = 60000; e.startTick = 0xFFFF0000u; e.console.lastReceiveTick = 0xFFFF0000u;
             e.console.lastPlayerRowTick = 0xFFFF0000u; },
         A::Restart, {"Server 2092 remote console timeout (crashed?)"}},
        {"quit by admin", [](EntryObservation& e, SupervisorInputs&) { e.console.quitByAdmin = true; },
         A::Remove, {"Server 2092 has been quit by admin"}},
        {"mode switch without console", [](EntryObservation& e, SupervisorInputs& in) {
             in.switchToTcpOnMroDown = true; e.hasConsole = false; e.connectionName = "MERIDIAN online"; e.connectionKind = 2; },
         A::RestartIfEmpty, {"Server 2092: Mode switch."}},
        {"mode switch, console without players", [](EntryObservation& e, SupervisorInputs& in) {
             in.switchToTcpOnMroDown = true; e.connectionName = "Meridian Online"; e.connectionKind = 2; }, A::None, {}},
        {"mode switch, still on the lobby", [](EntryObservation& e, SupervisorInputs& in) {
             in.switchToTcpOnMroDown = true; e.hasConsole = false; e.connectionName = "Meridian Online"; e.connectionKind = 1; },
         A::None, {}},
        {"mode switch, option off", [](EntryObservation& e, SupervisorInputs&) {
             e.hasConsole = false; e.connectionName = "Meridian Online"; e.connectionKind = 2; }, A::None, {}},
        {"scheduled start", [](EntryObservation& e, SupervisorInputs& in) {
             e = {}; e.serverPort = 2092; e.scheduleEnabled = true; in.supervisorTicks = 0; },
         A::Start, {"Server 2092: Scheduled start."}},
        {"scheduled start held by a busy selective server", [](EntryObservation& e, SupervisorInputs& in) {
             e = {}; e.serverPort = 2092; e.scheduleEnabled = true; e.selective = true; in.selectiveBusy = true; },
         A::None, {}},
        {"scheduled stop", [](EntryObservation& e, SupervisorInputs&) { e.scheduleEnabled = true; e.isRunTime = false; },
         A::Stop, {"Server 2092: Scheduled stop."}},
        {"out of schedule and stopped: held", [](EntryObservation& e, SupervisorInputs&) {
             e = {}; e.serverPort = 2092; e.scheduleEnabled = true; e.isRunTime = false; }, A::None, {}},
        {"empty schedule warned once", [](EntryObservation& e, SupervisorInputs&) {
             e = {}; e.serverPort = 2092; e.scheduleEnabled = true; e.isRunTime = false; e.hasAnyRunMinute = false; },
         A::None, {"Server 2092: No scheduler entries. Server never starts."}},
        {"empty schedule already warned", [](EntryObservation& e, SupervisorInputs&) {
             e = {}; e.serverPort = 2092; e.scheduleEnabled = true; e.isRunTime = false; e.hasAnyRunMinute = false;
             e.noScheduleWarned = 1; }, A::None, {}},
        {"selective idle, third tick", [](EntryObservation& e, SupervisorInputs& in) {
             e.selective = true; in.selectiveBusy = true; e.selectiveIdleTicks = 2; },
         A::Stop, {"Server 2092: No player in selective server. Stopping..."}},
        {"selective idle, second tick", [](EntryObservation& e, SupervisorInputs& in) {
             e.selective = true; in.selectiveBusy = true; e.selectiveIdleTicks = 1; }, A::None, {}},
        {"selective stop replaced by quit by admin", [](EntryObservation& e, SupervisorInputs& in) {
             e.selective = true; in.selectiveBusy = true; e.selectiveIdleTicks = 2; e.console.quitByAdmin = true; },
         A::Remove, {"Server 2092: No player in selective server. Stopping...", "Server 2092 has been quit by admin"}},
        {"selective stop replaced by the scheduled stop", [](EntryObservation& e, SupervisorInputs& in) {
             e.selective = true; in.selectiveBusy = true; e.selectiveIdleTicks = 2; e.scheduleEnabled = true; e.isRunTime = false; },
         A::Stop, {"Server 2092: No player in selective server. Stopping...", "Server 2092: Scheduled stop."}},
        {"selective stop skips the later checks", [](EntryObservation& e, SupervisorInputs& in) {
             e.selective = true; in.selectiveBusy = true; e.selectiveIdleTicks = 2; e.console.dataCorruption = true; },
         A::Stop, {"Server 2092: No player in selective server. Stopping..."}},
        {"foreign program on the port of a dead server", [](EntryObservation& e, SupervisorInputs&) {
             e.running = false; e.hasConsole = false; e.gamePortTaken = true; },
         A::None, {"Server 2092: Port 2092 is used by another program. Start postponed."}},
        {"foreign program on the port, reported before", [](EntryObservation& e, SupervisorInputs&) {
             e.running = false; e.hasConsole = false; e.gamePortTaken = true; e.portTakenReported = true; }, A::None, {}},
        {"foreign program on the port of a scheduled server", [](EntryObservation& e, SupervisorInputs&) {
             e = {}; e.serverPort = 2092; e.scheduleEnabled = true; e.gamePortTaken = true; },
         A::None, {"Server 2092: Port 2092 is used by another program. Start postponed."}},
    };
    for (const ActionCase& c : cases) {
        EntryObservation e = RunningWithConsole();
        SupervisorInputs in = Inputs();
        c.setUp(e, in);
        const SupervisorDecision d = Decide(e, in);
        EXPECT_EQ(d.action, c.action) << c.name;
        EXPECT_EQ(d.events, c.events) << c.name;
    }
}

TEST(SupervisorDecision, KeepsItsBookkeeping) {
    EntryObservation e = RunningWithConsole();
    e.selective = true;
    SupervisorInputs in = Inputs();
    in.selectiveBusy = true;
    EXPECT_EQ(Decide(e, in).selectiveIdleTicks, 1u);
    e.selectiveIdleTicks = 2;
    EXPECT_EQ(Decide(e, in).selectiveIdleTicks, 0u);  // reset with the stop

    e = {};
    e.scheduleEnabled = true;
    e.isRunTime = false;
    e.hasAnyRunMinute = false;
    EXPECT_EQ(Decide(e, in).noScheduleWarned, 1u);

    e = {};
    e.gamePortTaken = true;
    EXPECT_TRUE(Decide(e, Inputs()).portTakenReported);
    e.gamePortTaken = false;
    e.portTakenReported = true;
    EXPECT_FALSE(Decide(e, Inputs()).portTakenReported);  // free again: a new holder is reported anew
}

// Passes over one server with the back-off on, the state carried from pass to pass as the
// supervisor carries it. 'R' running, 'D' dead, 'P' dead with its port held, 'N' not started with
// its port held, 'F' not started with its port free.
struct BackoffPass {
    uint32_t afterMs;
    char process;
    SupervisorAction action;
    std::vector<std::string> events;
};

TEST(SupervisorDecision, BackoffWaitsLongerAfterEachQuickDeathAndForgetsAfterTheTrustedTime) {
    using A = SupervisorAction;
    const std::string restart = "Server 2092: Not running anymore -> Restart.";
    const std::string died = "Server 2092: died %u times within a minute of its start; next try in %s.";
    auto Died = [&](unsigned n, const char* wait) {
        char text[128];
        std::snprintf(text, sizeof text, died.c_str(), n, wait);
        return std::string(text);
    };
    const struct {
        const char* name;
        std::vector<BackoffPass> passes;
    } scenarios[] = {
        {"quick deaths",
         {{10000, 'D', A::RestartIfEmpty, {restart}},   // the first at once
          {15000, 'D', A::None, {Died(2, "30 s")}},
          {15000, 'D', A::None, {}},                    // announced once per wait
          {15000, 'D', A::RestartIfEmpty, {restart}},
          {15000, 'D', A::None, {Died(3, "1 min")}},
          {60000, 'D', A::RestartIfEmpty, {restart}},
          {15000, 'D', A::None, {Died(4, "2 min")}},
          {120000, 'D', A::RestartIfEmpty, {restart}},
          {15000, 'R', A::None, {}},
          {600000, 'R', A::None, {}},                   // ran ten minutes: trusted again
          {15000, 'D', A::RestartIfEmpty, {restart}},   // a slow death
          {15000, 'D', A::RestartIfEmpty, {restart}},   // the first quick one since
          {15000, 'D', A::None, {Died(2, "30 s")}}}},
        {"a slow death neither counts nor waits",
         {{10000, 'D', A::RestartIfEmpty, {restart}},
          {61000, 'D', A::RestartIfEmpty, {restart}},
          {15000, 'D', A::None, {Died(2, "30 s")}}}},
        {"port held by another program",
         {{0, 'N', A::None, {"Server 2092: Port 2092 is used by another program. Start postponed."}},
          {15000, 'N', A::None, {"Server 2092: Port 2092 is still used by another program; next try in 30 s."}},
          {15000, 'N', A::None, {}},
          {15000, 'N', A::None, {"Server 2092: Port 2092 is still used by another program; next try in 1 min."}},
          {60000, 'F', A::Start, {"Server 2092: Not running yet-> Starting..."}}}},
        {"dead server whose port is held",
         {{10000, 'P', A::None, {"Server 2092: Port 2092 is used by another program. Start postponed."}},
          {15000, 'P', A::None, {"Server 2092: Port 2092 is still used by another program; next try in 30 s."}},
          {30000, 'D', A::RestartIfEmpty, {restart}}}},
    };
    for (const auto& scenario : scenarios) {
        SupervisorInputs in = Inputs();
        in.backoff.on = true;
        EntryObservation e;
        e.serverPort = 2092;
        e.startTick = in.now;
        size_t pass = 0;
        for (const BackoffPass& p : scenario.passes) {
            in.now += p.afterMs;
            e.started = p.process == 'R' || p.process == 'D' || p.process == 'P';
            e.running = p.process == 'R';
            e.gamePortTaken = p.process == 'P' || p.process == 'N';
            const SupervisorDecision d = Decide(e, in);
            EXPECT_EQ(d.action, p.action) << scenario.name << " pass " << pass;
            EXPECT_EQ(d.events, p.events) << scenario.name << " pass " << pass;
            ++pass;
            e.backoff = d.backoff;
            e.portTakenReported = d.portTakenReported;
            if (d.action == A::Start || d.action == A::RestartIfEmpty) e.startTick = in.now;
        }
    }

    const struct {
        uint32_t tries, ms;
    } waits[] = {{0, 0}, {1, 0}, {2, 30000}, {3, 60000}, {5, 240000}, {6, 480000}, {7, 900000}, {1000, 900000}};
    for (const auto& w : waits) EXPECT_EQ(BackoffWaitMs(w.tries, BackoffSettings{}), w.ms) << w.tries;
    EXPECT_EQ(WaitText(45000), "45 s");
    EXPECT_EQ(WaitText(90000), "90 s");
    EXPECT_EQ(WaitText(900000), "15 min");
}

TEST(SupervisorDecision, BelievesAFallToZeroOnlyOnTheFifthEmptyList) {
    struct Case {
        size_t listed;
        uint32_t emptyTicks;
        int32_t count, reported;
        bool set;
        uint32_t emptyAfter;
        std::vector<std::string> events;
    } cases[] = {
        {0, 0, 3, 3, false, 1, {}},
        {0, 3, 3, 3, false, 4, {}},
        {0, 4, 3, 3, true, 0, {"Server 2092: 0 player(s) assumed."}},
        {2, 2, 0, 0, true, 0, {"Server 2092: 2 player(s) assumed."}},  // a rise at once
        {2, 0, 2, 2, true, 0, {}},
        {0, 1, 4, 99, false, 2, {"Server 2092: 4 player(s) assumed."}},  // first report of a new console
        // A quiet empty server does not run up empty ticks that a later join would find spent.
        {0, 4, 0, 0, false, 0, {}},
        {0, 0, 0, 99, false, 0, {"Server 2092: 0 player(s) assumed."}},
    };
    for (const Case& c : cases) {
        EntryObservation e = RunningWithConsole();
        e.console.listedPlayers = c.listed;
        e.console.emptyListTicks = c.emptyTicks;
        e.console.playerCount = c.count;
        e.console.hasPlayers = c.count != 0;
        e.console.lastReportedCount = c.reported;
        const SupervisorDecision d = Decide(e, Inputs());
        const std::string name = std::to_string(c.listed) + "/" + std::to_string(c.emptyTicks);
        EXPECT_EQ(d.setPlayerCount, c.set) << name;
        if (c.set) {
            EXPECT_EQ(d.playerCount, static_cast<int32_t>(c.listed)) << name;
        }
        EXPECT_EQ(d.emptyListTicks, c.emptyAfter) << name;
        EXPECT_EQ(d.events, c.events) << name;
        EXPECT_EQ(d.eventsBeforeRequests, c.events.size()) << name;
    }
}

TEST(SupervisorDecision, ThePlayerCountJustBelievedDecidesTheUptimeRestart) {
    // Players are gone from the list for the fifth tick: the uptime rule sees the server empty now.
    EntryObservation e = RunningWithConsole();
    e.console.hasPlayers = true;
    e.console.playerCount = 2;
    e.console.lastReportedCount = 2;
    e.startTick = 0;
    e.console.lastPlayerRowTick = 0;
    SupervisorInputs in = Inputs();
    in.autoRestart = true;
    e.console.emptyListTicks = 3;
    EXPECT_EQ(Decide(e, in).action, SupervisorAction::None);
    e.console.emptyListTicks = 4;
    EXPECT_EQ(Decide(e, in).action, SupervisorAction::RestartIfEmpty);
}

TEST(SupervisorDecision, QuietConsoleIsAskedBeforeItCouldTimeOut) {
    struct Case {
        uint32_t timeout;
        Tick silentMs;
        bool request;
    } cases[] = {
        {300000, 59000, false}, {300000, 59001, true},   // before the login
        {120000, 59000, false}, {120000, 59001, true},   // logged in
        {4000, 2000, false},    {4000, 2001, true},      // a shortened test time-out
    };
    for (const Case& c : cases) {
        EntryObservation e = RunningWithConsole();
        e.console.consoleTimeout = c.timeout;
        e.console.lastReceiveTick = kNow - c.silentMs;
        EXPECT_EQ(Decide(e, Inputs()).requestPlayers, c.request) << c.timeout << " " << c.silentMs;
    }
}

TEST(SupervisorDecision, KeepAliveAndRepeatedCommands) {
    struct Case {
        Tick silentMs;
        uint32_t minuteTicks, repeatMinutes;
        bool autoRepeat;
        uint32_t every;
        bool request;
        uint32_t minuteAfter, repeatAfter;
        bool send;
    } cases[] = {
        {59000, 0, 0, false, 1, false, 1, 0, false},
        {59001, 0, 0, false, 1, true, 1, 0, false},
        {0, 3, 0, false, 1, false, 0, 1, false},
        {0, 3, 0, true, 1, false, 0, 0, true},   // a minute passed: sent, count restarts
        {0, 2, 4, true, 5, false, 3, 4, false},  // not yet
        {0, 3, 4, true, 5, false, 0, 0, true},
        {0, 0, 0, true, 0, false, 1, 0, false},  // a stored period of 0 counts as one minute
        {0, 3, 0, true, 0, false, 0, 0, true},
    };
    for (const Case& c : cases) {
        EntryObservation e = RunningWithConsole();
        e.console.lastReceiveTick = kNow - c.silentMs;
        e.minuteTicks = c.minuteTicks;
        e.repeatMinutes = c.repeatMinutes;
        e.console.autoRepeat = c.autoRepeat;
        e.console.autoRepeatMinutes = c.every;
        const SupervisorDecision d = Decide(e, Inputs());
        EXPECT_EQ(d.requestPlayers, c.request) << c.silentMs;
        EXPECT_EQ(d.minuteTicks, c.minuteAfter) << c.minuteTicks;
        EXPECT_EQ(d.repeatMinutes, c.repeatAfter) << c.repeatMinutes;
        EXPECT_EQ(d.sendAutoCommands, c.send) << c.repeatMinutes;
    }
}

TEST(SupervisorDecision, StatusFollowsTheObservedProcess) {
    using S = ObservedStatus;
    struct Case {
        const char* name;
        bool started, running, portTaken, outOfSchedule;
        uint32_t ticks;
        S status;
    } cases[] = {
        {"running", true, true, false, false, 9, S::AsLaunched},
        {"stopped", false, false, false, false, 9, S::AsLaunched},
        {"died during the start-up ticks", true, false, false, false, 4, S::NotRunning},
        {"died, restart due", true, false, false, false, 5, S::Restarting},
        {"died out of its schedule", true, false, false, true, 9, S::NotRunning},
        {"exited because its port is held", true, false, true, false, 9, S::PortInUse},
    };
    for (const Case& c : cases) {
        EntryObservation e;
        e.started = c.started;
        e.running = c.running;
        e.gamePortTaken = c.portTaken;
        e.scheduleEnabled = c.outOfSchedule;
        e.isRunTime = !c.outOfSchedule;
        EXPECT_EQ(StatusOf(e, c.ticks), c.status) << c.name;
    }
}

TEST(SupervisorDecision, ElapsedTimesNeverRunBackwards) {
    // A receive tick later than now (taken by the console thread after the pass read the time)
    // counts as no silence at all.
    EntryObservation e = RunningWithConsole();
    e.console.lastReceiveTick = kNow + 500000;
    const SupervisorDecision d = Decide(e, Inputs());
    EXPECT_EQ(d.action, SupervisorAction::None);
    EXPECT_FALSE(d.requestPlayers);
}

}  // namespace
}  // namespace hm
