// The supervisor's choice for one supervised server, as data: what one tick observed about the
// entry goes in, the decision (start, restart, stop, remove or nothing) comes out together with the
// bookkeeping the tick has to write back and the event texts it has to add, in order.
//
// Decide is a pure function: it reads no clock, touches no process, console or list, and may be
// called from any thread. The supervisor (supervisor.h) gathers the observation on the
// user-interface thread and carries the result out. Nothing here may grow a side effect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "servers/remote_console.h"

namespace hm {

enum class SupervisorAction {
    None,
    Start,           // start the entry; ends the tick's loop
    RestartIfEmpty,  // halt and start; ends the loop (Decide gives None while a running server lists players)
    Restart,         // halt and start; the loop goes on
    Stop,            // halt, keeping the entry; the loop goes on
    Remove,          // remove the entry; the loop decides the entry that moved into its place
};

// The crash-loop back-off (cfg/haldmoor3.ini [restarts]); off: every dead server is restarted at the
// next pass and a held game port is looked at on every pass.
struct BackoffSettings {
    bool on = false;
    uint32_t quickDeathMs = 60000;     // a death this soon after the launch is a quick death
    uint32_t firstWaitMs = 30000;      // the wait after the second quick death in a row, doubled for each further one
    uint32_t maxWaitMs = 900000;
    uint32_t trustedAfterMs = 600000;  // a server that ran this long has its quick deaths forgotten
};

// An entry's back-off, carried by the supervisor from pass to pass. A wait is announced by the pass
// that sets it, so the operator hears of each wait once.
struct BackoffState {
    uint32_t quickDeaths = 0;     // quick deaths since the server was last trusted
    uint32_t portHeldTries = 0;   // tries in a row that found the game port held by another program
    bool waiting = false;         // nothing is started before nextTry
    Tick nextTry = 0;
    // The launch (its start tick) whose death has been counted: a dead process is seen on many passes
    // but dies once.
    bool deathCounted = false;
    Tick countedLaunch = 0;

    bool operator==(const BackoffState&) const = default;
};

// The program-wide part of a tick.
struct SupervisorInputs {
    Tick now = 0;
    uint32_t supervisorTicks = 0;  // ticks completed since the program started
    bool selectiveBusy = false;    // a selective server has players
    bool autoRestart = false;      // "Auto restart servers"
    uint32_t autoRestartPeriod = 0;  // ms of uptime before an empty server is restarted
    bool switchToTcpOnMroDown = false;
    BackoffSettings backoff;
};

// One entry as the tick sees it.
struct EntryObservation {
    uint16_t serverPort = 0;
    bool selective = false;
    bool started = false;  // a process handle is held (the process may have ended by itself)
    bool running = false;  // started and the process still there
    uint32_t stoppedOnPurpose = 0;
    uint32_t selectiveIdleTicks = 0;
    Tick startTick = 0;
    bool scheduleEnabled = false;
    bool isRunTime = true;         // the schedule's minute table marks the current minute
    bool hasAnyRunMinute = true;   // the minute table marks at least one minute
    uint32_t noScheduleWarned = 0;
    std::string_view connectionName;
    int32_t connectionKind = 0;
    uint32_t minuteTicks = 0;
    uint32_t repeatMinutes = 0;
    bool hasConsole = false;
    ConsoleFigures console;        // meaningful only with hasConsole
    // The game port is held by a program that is not this server (only looked at while the server
    // does not run), and whether that has been reported already.
    bool gamePortTaken = false;
    bool portTakenReported = false;
    BackoffState backoff;
};

struct SupervisorDecision {
    SupervisorAction action = SupervisorAction::None;

    // Event texts in the order they are added. The first eventsBeforeRequests of them precede the
    // console requests below (they belong to the player count and the selective rule).
    std::vector<std::string> events;
    size_t eventsBeforeRequests = 0;

    // Console upkeep (only with a console).
    bool setPlayerCount = false;   // call SetPlayerCount(playerCount)
    int32_t playerCount = 0;
    uint32_t emptyListTicks = 0;
    int32_t lastReportedCount = 0;
    bool requestPlayers = false;   // keep-alive: ask for the player list, then pause 250 ms
    bool sendAutoCommands = false;

    // Entry state written back (unchanged values when a rule did not touch them).
    uint32_t selectiveIdleTicks = 0;
    uint32_t minuteTicks = 0;
    uint32_t repeatMinutes = 0;
    uint32_t noScheduleWarned = 0;
    bool portTakenReported = false;
    BackoffState backoff;
};

inline constexpr uint32_t kKeepAliveMs = 59000;      // console silence before the player list is asked for
// The silence after which a console is asked for its player list: the keep-alive, or half the
// console's time-out when that is shorter (only a shortened test time-out is), so that a quiet but
// healthy server is always asked before it could count as hung.
inline uint32_t KeepAliveAfter(uint32_t consoleTimeout) {
    return consoleTimeout / 2 < kKeepAliveMs ? consoleTimeout / 2 : kKeepAliveMs;
}
inline constexpr uint32_t kPlayerRowQuietMs = 130000;  // no player row for this long: believed empty
// A dead server whose console received data this recently is left for the next pass: its last words
// (the "Shutting down" of a quit at the server) are parsed only after a second of silence.
inline constexpr uint32_t kLastWordsMs = 3000;
inline constexpr uint32_t kStartupTicks = 4;         // ticks during which nothing is (re)started for not running

SupervisorDecision Decide(const EntryObservation& entry, const SupervisorInputs& inputs);

// The wait before the next try after `tries` failures in a row: none for the first, then the first
// wait doubled for each further one, at most the longest wait.
uint32_t BackoffWaitMs(uint32_t tries, const BackoffSettings& settings);
// "30 s", "2 min": seconds below a minute or when not whole minutes, otherwise minutes.
std::string WaitText(uint32_t ms);

// What the status list says about an entry beyond its launch: the process the entry holds has ended
// and is not yet restarted, is about to be restarted, or cannot be because another program holds the
// game port. AsLaunched: the line shows what the last start or stop made of it.
enum class ObservedStatus { AsLaunched, NotRunning, Restarting, PortInUse };

// `supervisorTicks` as the pass that observed the entry decided with it.
ObservedStatus StatusOf(const EntryObservation& entry, uint32_t supervisorTicks);
// The status column's text; "" for AsLaunched.
const char* StatusText(ObservedStatus status);

// "Meridian Online" whatever the case, the connection name that the mode switch watches.
bool IsMeridianConnection(std::string_view connectionName);

}  // namespace hm
