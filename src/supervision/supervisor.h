// The supervisor: the program's heartbeat. Every timer period (15 s) one tick looks at every entry of
// the supervised server list, keeps player counts and consoles alive, enforces the player limit of all
// servers together and the selective-server rule, decides for each entry whether it is started,
// restarted, stopped or removed, and stores all stores every 15 minutes.
//
// Owned by the server manager and run only on the user-interface thread (the manager's timer calls
// Tick). It decides with the pure Decide (supervisor_decision.h) and carries decisions out through
// SupervisorActions, so it never launches, stops or removes a server by itself and never touches the
// screen. It must never start more than one server per tick for the not-running, uptime, crash and
// mode-switch reasons, and never restart a server whose game port another program holds.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "eventlog/event_log.h"
#include "platform/clock.h"
#include "servers/server_config_array.h"
#include "servers/server_info_array.h"
#include "supervision/stop_warnings.h"
#include "supervision/supervisor_decision.h"

namespace hm {

struct ProcessState {
    bool started = false;
    bool running = false;
};

// What carrying out a decision needs from the manager.
struct SupervisorActions {
    // Launches the entry, refreshes its line and gives it a console; on failure reports, removes the
    // entry and steps the index back. Non-zero on success.
    std::function<int(size_t& index)> startServerAt;
    // Stops the process, removes the entry and its line, steps the index back.
    std::function<void(size_t& index)> removeServer;
    // Stops the process but keeps the entry: refreshes its line and sets stoppedOnPurpose.
    std::function<void(size_t index)> haltServer;
    // Enables "Stop all servers" and "Stop all empty servers" (true) or disables them.
    std::function<void(bool)> enableStopAllButtons;
    // Stores every store (server infos, installation info, configurations, trackers, players).
    std::function<void()> storeAll;

    // Optional. The lines of the status list; empty: one line per entry.
    std::function<size_t()> statusLineCount;
    // Optional. Whether the entry's process is held and still runs; empty: the entry's own process.
    std::function<ProcessState(CServerInfo&)> processState;
    // Optional. Whether another program holds the entry's game port; empty: a bind probe on the
    // entry's bind address. Asked only for entries whose process does not run.
    std::function<bool(const CServerInfo&)> gamePortTaken;
    // Optional. After each pass, for every entry whose observed status (or process) changed: what the
    // supervisor saw of it, for its status line.
    std::function<void(const CServerInfo&, ObservedStatus)> statusObserved;
};

class Supervisor {
public:
    static constexpr uint32_t kMaxTicks = 100000;
    static constexpr uint32_t kSaveIntervalMs = 900000;
    static constexpr uint32_t kKeepAlivePauseMs = 250;
    static constexpr uint32_t kMaxPlayersPauseMs = 10;

    Supervisor(Clock& clock, EventLogList& events, CServerConfigArray& configs, CServerInfoArray& servers,
               SupervisorActions actions);

    // One supervisor pass over all entries.
    void Tick();

    uint32_t supervisorTicks = 0;   // held at kMaxTicks
    hm::Tick lastSaveTick = 0;      // the construction's tick count at first
    uint32_t selectiveBusy = 0;     // a selective server has players; kept from tick to tick
    // Players of all servers as the all-servers limit summed them (0 while that limit is off); read by
    // the update thread.
    std::atomic<uint32_t> totalPlayers{0};
    // The crash-loop back-off; off unless the manager hands in the program settings.
    BackoffSettings backoff;
    // Where a scheduled stop of a server with players waits for its warnings (null: stops at once).
    // An entry whose stop is pending is left alone by the passes until it is stopped.
    StopWarnings* stopWarnings = nullptr;

    // The default game port probe: true when a datagram socket cannot be bound to the port.
    static bool GamePortInUse(const CServerInfo& entry);

private:
    void ApplyPlayerLimit();
    void SelectiveBookkeeping(hm::Tick now);
    EntryObservation Observe(CServerInfo& entry, const LocalTime& local);
    void Apply(CServerInfo& entry, const SupervisorDecision& d);
    // Carries the decision out; false when the tick's loop ends here.
    bool Dispatch(size_t& index, SupervisorAction action);
    void ReportStatuses(const LocalTime& local);

    Clock& clock_;
    EventLogList& events_;
    CServerConfigArray& configs_;
    CServerInfoArray& servers_;
    SupervisorActions actions_;
    std::set<uint16_t> portTakenReported_;  // game ports whose foreign holder was reported
    std::map<uint16_t, BackoffState> backoffs_;  // per game port; absent: nothing counted
    // Per game port: the process identifier and the status last reported for it.
    std::map<uint16_t, std::pair<uint32_t, ObservedStatus>> statuses_;
};

}  // namespace hm
