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

// The program-wide part of a tick.
struct SupervisorInputs {
    Tick now = 0;
    uint32_t supervisorTicks = 0;  // ticks completed since the program started
    bool selectiveBusy = false;    // a selective server has players
    bool autoRestart = false;      // "Auto restart servers"
    uint32_t autoRestartPeriod = 0;  // ms of uptime before an empty server is restarted
    bool switchToTcpOnMroDown = false;
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
