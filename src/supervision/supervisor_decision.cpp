#include "supervision/supervisor_decision.h"

#include <cstdarg>
#include <cstdio>

namespace hm {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// Ends the checks with a decision and its event.
void Choose(SupervisorDecision& d, SupervisorAction action, std::string event) {
    d.action = action;
    d.events.push_back(std::move(event));
}

// Sets a back-off wait and announces it; the pass that sets a wait is the only one that tells of it.
void StartWait(SupervisorDecision& d, const SupervisorInputs& in, uint32_t waitMs, std::string event) {
    d.backoff.waiting = true;
    d.backoff.nextTry = in.now + waitMs;
    d.events.push_back(std::move(event));
}

// Whether a back-off wait still holds the entry's start back; a wait that has run out is cleared.
bool Waiting(SupervisorDecision& d, const SupervisorInputs& in) {
    if (!in.backoff.on || !d.backoff.waiting) return false;
    if (static_cast<int32_t>(in.now - d.backoff.nextTry) < 0) return true;
    d.backoff.waiting = false;
    return false;
}

// A dead process's death is counted once, on the first pass that sees it. A death soon after the
// launch counts against the server; from the second such death on the restart waits.
void CountDeath(SupervisorDecision& d, const EntryObservation& e, const SupervisorInputs& in) {
    BackoffState& b = d.backoff;
    if (!in.backoff.on || (b.deathCounted && b.countedLaunch == e.startTick)) return;
    b.deathCounted = true;
    b.countedLaunch = e.startTick;
    const uint32_t uptime = Elapsed(in.now, e.startTick);
    if (uptime >= in.backoff.trustedAfterMs) b.quickDeaths = 0;
    if (uptime >= in.backoff.quickDeathMs) return;
    if (b.quickDeaths < 1000) ++b.quickDeaths;
    const uint32_t wait = BackoffWaitMs(b.quickDeaths, in.backoff);
    if (wait == 0) return;
    const std::string within = in.backoff.quickDeathMs == 60000 ? "a minute" : WaitText(in.backoff.quickDeathMs);
    StartWait(d, in, wait,
              Format("Server %u: died %u times within %s of its start; next try in %s.", unsigned{e.serverPort},
                     b.quickDeaths, within.c_str(), WaitText(wait).c_str()));
}

// A start or restart of a server that does not run: when a foreign program holds its game port the
// game server would die at once and be restarted tick after tick, so nothing is started; the operator
// hears about it once until the port is free again. With the back-off the port is looked at again
// after growing waits, each announced.
bool PostponedForPort(SupervisorDecision& d, const EntryObservation& e, const SupervisorInputs& in) {
    if (!e.gamePortTaken) {
        d.backoff.portHeldTries = 0;
        return false;
    }
    if (!e.portTakenReported) {
        d.events.push_back(Format("Server %u: Port %u is used by another program. Start postponed.",
                                  unsigned{e.serverPort}, unsigned{e.serverPort}));
        d.portTakenReported = true;
    }
    d.action = SupervisorAction::None;
    if (in.backoff.on) {
        BackoffState& b = d.backoff;
        if (b.portHeldTries < 1000) ++b.portHeldTries;
        const uint32_t wait = BackoffWaitMs(b.portHeldTries, in.backoff);
        if (wait != 0)
            StartWait(d, in, wait,
                      Format("Server %u: Port %u is still used by another program; next try in %s.",
                             unsigned{e.serverPort}, unsigned{e.serverPort}, WaitText(wait).c_str()));
    }
    return true;
}

void ConsoleUpkeep(SupervisorDecision& d, const EntryObservation& e, const SupervisorInputs& in,
                   bool& hasPlayers) {
    const ConsoleFigures& c = e.console;
    const unsigned port = e.serverPort;

    // A fall to zero is believed only on the fifth empty list in a row; a rise at once. The empty
    // lists are counted only while players are believed: a join raises the count at once but the
    // player list that shows the newcomer arrives a second or more later, and empty lists of the
    // quiet time before the join must not count against it.
    int32_t count = c.playerCount;
    if (c.listedPlayers == 0 && count == 0 && !c.hasPlayers) {
        d.emptyListTicks = 0;
    } else if (c.listedPlayers == 0 && c.emptyListTicks <= 3) {
        d.emptyListTicks = c.emptyListTicks + 1;
    } else {
        d.setPlayerCount = true;
        d.playerCount = count = static_cast<int32_t>(c.listedPlayers);
        hasPlayers = count != 0;
        d.emptyListTicks = 0;
    }
    d.lastReportedCount = c.lastReportedCount;
    if (count != c.lastReportedCount) {
        d.events.push_back(Format("Server %u: %d player(s) assumed.", port, count));
        d.lastReportedCount = count;
    }

    if (e.selective && in.selectiveBusy && !hasPlayers && e.running) {
        if (e.selectiveIdleTicks > 1) {
            Choose(d, SupervisorAction::Stop, Format("Server %u: No player in selective server. Stopping...", port));
            d.selectiveIdleTicks = 0;
        } else {
            d.selectiveIdleTicks = e.selectiveIdleTicks + 1;
        }
    }
    d.eventsBeforeRequests = d.events.size();

    d.requestPlayers = Elapsed(in.now, c.lastReceiveTick) > KeepAliveAfter(c.consoleTimeout);

    d.minuteTicks = e.minuteTicks + 1;
    if (d.minuteTicks >= 4) {
        d.repeatMinutes = e.repeatMinutes + 1;
        d.minuteTicks = 0;
    }
    // A stored period of 0 would send the commands on every pass; the shortest period is one minute.
    const uint32_t period = c.autoRepeatMinutes < 1 ? 1 : c.autoRepeatMinutes;
    if (c.autoRepeat && d.repeatMinutes >= period) {
        d.repeatMinutes = 0;
        d.sendAutoCommands = true;
    }
}

}  // namespace

bool IsMeridianConnection(std::string_view name) {
    static constexpr std::string_view kName = "meridian online";
    if (name.size() != kName.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char ch = name[i];
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        if (ch != kName[i]) return false;
    }
    return true;
}

namespace {

SupervisorDecision Checks(const EntryObservation& e, const SupervisorInputs& in) {
    SupervisorDecision d;
    d.selectiveIdleTicks = e.selectiveIdleTicks;
    d.minuteTicks = e.minuteTicks;
    d.repeatMinutes = e.repeatMinutes;
    d.noScheduleWarned = e.noScheduleWarned;
    d.portTakenReported = e.gamePortTaken && e.portTakenReported;  // a free port starts a new episode
    d.backoff = e.backoff;
    if (in.backoff.on && e.running) {
        // A running server needs no wait, and one that has run long enough is trusted again.
        d.backoff.waiting = false;
        d.backoff.portHeldTries = 0;
        if (Elapsed(in.now, e.startTick) >= in.backoff.trustedAfterMs) d.backoff.quickDeaths = 0;
    }
    const unsigned port = e.serverPort;
    const ConsoleFigures& c = e.console;

    bool hasPlayers = e.hasConsole && c.hasPlayers;
    if (e.hasConsole) ConsoleUpkeep(d, e, in, hasPlayers);

    if (e.hasConsole && c.quitByAdmin) {
        d.action = SupervisorAction::None;  // replaces a selective stop
        Choose(d, SupervisorAction::Remove, Format("Server %u has been quit by admin", port));
        return d;
    }

    bool scheduleHold = false;
    if (e.scheduleEnabled) {
        if (e.noScheduleWarned == 0 && !e.hasAnyRunMinute) {
            d.events.push_back(Format("Server %u: No scheduler entries. Server never starts.", port));
            d.noScheduleWarned = 1;
        }
        if (e.isRunTime) {
            if (!e.started && !(e.selective && in.selectiveBusy)) {
                if (Waiting(d, in) || PostponedForPort(d, e, in)) return d;
                Choose(d, SupervisorAction::Start, Format("Server %u: Scheduled start.", port));
                return d;
            }
        } else if (e.started) {
            Choose(d, SupervisorAction::Stop, Format("Server %u: Scheduled stop.", port));
            return d;
        } else {
            scheduleHold = true;
        }
    }
    if (d.action != SupervisorAction::None) return d;  // the selective stop

    // A console that never read a player row (tick 0) has been quiet for as long as can be.
    const bool rowsQuiet = c.lastPlayerRowTick == 0 || Elapsed(in.now, c.lastPlayerRowTick) > kPlayerRowQuietMs;
    if (in.autoRestart && e.hasConsole && Elapsed(in.now, e.startTick) >= in.autoRestartPeriod && !hasPlayers &&
        rowsQuiet && e.stoppedOnPurpose == 0) {
        Choose(d, SupervisorAction::RestartIfEmpty, Format("Server %u: Uptime exceeded. Automatic restart...", port));
        return d;
    }

    if (e.hasConsole && c.dataCorruption) {
        Choose(d, SupervisorAction::RestartIfEmpty, Format("Server %u crashed", port));
        return d;
    }

    if (e.running) {
        if (e.hasConsole && Elapsed(in.now, c.lastReceiveTick) > c.consoleTimeout) {
            Choose(d, SupervisorAction::Restart, Format("Server %u remote console timeout (crashed?)", port));
        } else if (in.switchToTcpOnMroDown && IsMeridianConnection(e.connectionName) && e.connectionKind == 2 &&
                   (!e.hasConsole || hasPlayers)) {
            Choose(d, SupervisorAction::RestartIfEmpty, Format("Server %u: Mode switch.", port));
        }
        return d;
    }

    if (scheduleHold) return d;
    if (e.started && e.hasConsole && Elapsed(in.now, c.lastReceiveTick) < kLastWordsMs) return d;
    if (e.started && in.supervisorTicks > kStartupTicks) {
        CountDeath(d, e, in);
        if (Waiting(d, in) || PostponedForPort(d, e, in)) return d;
        Choose(d, SupervisorAction::RestartIfEmpty, Format("Server %u: Not running anymore -> Restart.", port));
    } else if (!in.selectiveBusy && in.supervisorTicks > kStartupTicks) {
        if (Waiting(d, in) || PostponedForPort(d, e, in)) return d;
        Choose(d, SupervisorAction::Start, Format("Server %u: Not running yet-> Starting...", port));
    }
    return d;
}

}  // namespace

SupervisorDecision Decide(const EntryObservation& e, const SupervisorInputs& in) {
    SupervisorDecision d = Checks(e, in);
    // A running server whose console lists players waits for them to leave; nothing is started, so
    // the pass goes on with the others. A process known to be dead is restarted whatever its console
    // still lists: those players are gone with it.
    if (d.action == SupervisorAction::RestartIfEmpty && e.running && e.hasConsole && e.console.listedPlayers > 0)
        d.action = SupervisorAction::None;
    return d;
}

uint32_t BackoffWaitMs(uint32_t tries, const BackoffSettings& settings) {
    if (tries < 2) return 0;
    uint64_t wait = settings.firstWaitMs;
    for (uint32_t i = 2; i < tries && wait < settings.maxWaitMs; ++i) wait *= 2;
    return static_cast<uint32_t>(wait < settings.maxWaitMs ? wait : settings.maxWaitMs);
}

std::string WaitText(uint32_t ms) {
    const unsigned seconds = ms / 1000;
    if (seconds < 60 || seconds % 60 != 0) return Format("%u s", seconds);
    return Format("%u min", seconds / 60);
}

ObservedStatus StatusOf(const EntryObservation& e, uint32_t supervisorTicks) {
    if (!e.started || e.running) return ObservedStatus::AsLaunched;
    if (e.gamePortTaken) return ObservedStatus::PortInUse;
    const bool heldBySchedule = e.scheduleEnabled && !e.isRunTime;
    if (supervisorTicks > kStartupTicks && !heldBySchedule) return ObservedStatus::Restarting;
    return ObservedStatus::NotRunning;
}

const char* StatusText(ObservedStatus status) {
    switch (status) {
        case ObservedStatus::NotRunning: return "Not running";
        case ObservedStatus::Restarting: return "Restarting";
        case ObservedStatus::PortInUse: return "Postponed (port in use)";
        case ObservedStatus::AsLaunched: break;
    }
    return "";
}

}  // namespace hm
