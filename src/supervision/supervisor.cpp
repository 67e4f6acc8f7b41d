#include "supervision/supervisor.h"

#include <utility>

#include "platform/socket.h"

namespace hm {

Supervisor::Supervisor(Clock& clock, EventLogList& events, CServerConfigArray& configs, CServerInfoArray& servers,
                       SupervisorActions actions)
    : lastSaveTick(clock.TickCount()),
      clock_(clock),
      events_(events),
      configs_(configs),
      servers_(servers),
      actions_(std::move(actions)) {}

bool Supervisor::GamePortInUse(const CServerInfo& entry) {
    uint32_t address = 0;
    const std::string& bind = entry.config.launch.bindAddress;
    if (!bind.empty() && !ParseAddress(bind, address)) address = 0;
    TcpSocket probe;
    if (!probe.Create(SocketType::Datagram)) return false;  // cannot tell: do not hold the server back
    const bool free = probe.Bind(address, entry.config.launch.serverPort);
    probe.Close();
    return !free;
}

void Supervisor::ApplyPlayerLimit() {
    uint32_t players = 0, capacity = 0;
    for (const auto& entry : servers_.entries) {
        if (!entry->console || entry->stoppedOnPurpose != 0) continue;
        const int32_t count = entry->console->Figures().playerCount;
        if (count > 0) players += static_cast<uint32_t>(count);
        capacity += entry->config.game.maxPlayers;
    }
    clock_.Sleep(0);
    const uint32_t limit = configs_.globalOptions.maxPlayersAll;
    if (capacity > limit && players >= limit) {
        events_.AddEvent("Max players of %u reached.", limit);
        for (const auto& entry : servers_.entries) {
            CGameSettings& game = entry->config.game;
            const unsigned port = entry->config.launch.serverPort;
            game.targetMaxPlayers = game.maxPlayers;
            if (game.appliedMaxPlayers == game.targetMaxPlayers) continue;
            if (entry->console && entry->console->Figures().hasPlayers) {
                entry->console->SetMaxPlayers(game.targetMaxPlayers);
                events_.AddEvent("Server %u: Max players changed from %u to %u.", port, game.appliedMaxPlayers,
                                 game.targetMaxPlayers);
            } else {
                events_.AddEvent("Server %u: Cannot change max players from %u to %u.", port,
                                 game.appliedMaxPlayers, game.targetMaxPlayers);
            }
            game.appliedMaxPlayers = game.targetMaxPlayers;
            // The pause is the console's to keep before its next line; this thread does not wait.
            if (entry->console) entry->console->HoldSends(kMaxPlayersPauseMs);
        }
    }
    totalPlayers = players;
}

void Supervisor::SelectiveBookkeeping(hm::Tick now) {
    bool exists = false, busyNow = false;
    for (const auto& entry : servers_.entries) {
        const bool selective = entry->config.game.selective != 0;
        if (selective) exists = true;
        if (!entry->console) continue;
        const ConsoleFigures figures = entry->console->Figures();
        if (selective && figures.hasPlayers) {
            busyNow = true;
            selectiveBusy = 1;
        }
        if (Elapsed(now, figures.lastReceiveTick) > KeepAliveAfter(figures.consoleTimeout)) {
            entry->console->RequestPlayers();
            entry->console->HoldSends(kKeepAlivePauseMs);
        }
    }
    // Without any selective server the flag keeps its value.
    if (exists && !busyNow) selectiveBusy = 0;
}

EntryObservation Supervisor::Observe(CServerInfo& entry, const LocalTime& local) {
    EntryObservation o;
    const CServerConfig& config = entry.config;
    o.serverPort = config.launch.serverPort;
    o.selective = config.game.selective != 0;
    if (actions_.processState) {
        const ProcessState state = actions_.processState(entry);
        o.started = state.started;
        o.running = state.started && state.running;
    } else {
        // A non-blocking look: a 10 ms wait per server would stall the window for seconds on a long list.
        o.started = entry.process != nullptr;
        o.running = o.started && entry.process->IsRunning();
    }
    o.stoppedOnPurpose = entry.stoppedOnPurpose;
    o.selectiveIdleTicks = entry.selectiveIdleTicks;
    o.startTick = entry.startTick;
    o.scheduleEnabled = config.schedule.enabled != 0;
    if (o.scheduleEnabled) {
        o.isRunTime = config.schedule.IsRunTime(local);
        o.hasAnyRunMinute = config.noScheduleWarned != 0 || config.schedule.HasAnyRunMinute();
    }
    o.noScheduleWarned = config.noScheduleWarned;
    o.connectionName = config.game.connectionName;
    o.connectionKind = config.game.connectionKind;
    o.minuteTicks = config.game.minuteTicks;
    o.repeatMinutes = config.game.repeatMinutes;
    if (entry.console) {
        o.hasConsole = true;
        o.console = entry.console->Figures();
    }
    if (!o.running) {
        o.gamePortTaken = actions_.gamePortTaken ? actions_.gamePortTaken(entry) : GamePortInUse(entry);
        o.portTakenReported = portTakenReported_.count(o.serverPort) != 0;
    }
    if (auto b = backoffs_.find(o.serverPort); b != backoffs_.end()) o.backoff = b->second;
    return o;
}

void Supervisor::Apply(CServerInfo& entry, const SupervisorDecision& d) {
    RemoteConsole* console = entry.console.get();
    if (console) {
        if (d.setPlayerCount) console->SetPlayerCount(d.playerCount);
        console->SetEmptyListTicks(d.emptyListTicks);
        console->SetLastReportedCount(d.lastReportedCount);
    }
    entry.selectiveIdleTicks = d.selectiveIdleTicks;
    entry.config.game.minuteTicks = d.minuteTicks;
    entry.config.game.repeatMinutes = d.repeatMinutes;
    entry.config.noScheduleWarned = d.noScheduleWarned;
    const uint16_t port = entry.config.launch.serverPort;
    if (d.portTakenReported) {
        portTakenReported_.insert(port);
    } else {
        portTakenReported_.erase(port);
    }
    if (d.backoff == BackoffState{}) {
        backoffs_.erase(port);
    } else {
        backoffs_[port] = d.backoff;
    }

    size_t i = 0;
    for (; i < d.eventsBeforeRequests && i < d.events.size(); ++i) events_.AddEvent("%s", d.events[i].c_str());
    if (console && d.requestPlayers) {
        console->RequestPlayers();
        console->HoldSends(kKeepAlivePauseMs);
    }
    if (console && d.sendAutoCommands) console->SendAutoCommands();
    for (; i < d.events.size(); ++i) events_.AddEvent("%s", d.events[i].c_str());
}

void Supervisor::ReportStatuses(const LocalTime& local) {
    // After the pass's own starts and stops, for every entry (also those behind a start that ended
    // the loop), so the list never shows a dead process as running until its turn comes.
    std::map<uint16_t, std::pair<uint32_t, ObservedStatus>> seen;
    for (const auto& entry : servers_.entries) {
        const ObservedStatus status = StatusOf(Observe(*entry, local), supervisorTicks);
        const uint16_t port = entry->config.launch.serverPort;
        const std::pair<uint32_t, ObservedStatus> now{entry->processId, status};
        auto before = statuses_.find(port);
        const bool changed = before == statuses_.end() ? status != ObservedStatus::AsLaunched : before->second != now;
        seen[port] = now;
        if (changed) actions_.statusObserved(*entry, status);
    }
    statuses_ = std::move(seen);
}

bool Supervisor::Dispatch(size_t& index, SupervisorAction action) {
    switch (action) {
        case SupervisorAction::None:
            return true;
        case SupervisorAction::Start:
            actions_.startServerAt(index);
            return false;
        case SupervisorAction::RestartIfEmpty:
            // Decide has already held back a running server with listed players. The halt closes the
            // console, and its player list goes with it.
            actions_.haltServer(index);
            actions_.startServerAt(index);
            return false;
        case SupervisorAction::Restart:
            actions_.haltServer(index);
            actions_.startServerAt(index);
            return true;
        case SupervisorAction::Stop: {
            const CServerInfo& entry = *servers_.entries[index];
            const bool players = entry.console && entry.console->HasPlayers();
            if (stopWarnings &&
                stopWarnings->Defer(entry.config.launch.serverPort, StopWarnings::StopKind::Halt, players)) {
                return true;
            }
            actions_.haltServer(index);
            return true;
        }
        case SupervisorAction::Remove:
            actions_.removeServer(index);
            return true;
    }
    return true;
}

void Supervisor::Tick() {
    const hm::Tick now = clock_.TickCount();
    const LocalTime local = clock_.Now();
    const CGlobalOptions& options = configs_.globalOptions;

    if (options.limitPlayersAll) {
        ApplyPlayerLimit();
    } else {
        totalPlayers = 0;
    }
    SelectiveBookkeeping(now);

    SupervisorInputs inputs;
    inputs.now = now;
    inputs.supervisorTicks = supervisorTicks;
    inputs.autoRestart = options.autoRestart != 0;
    inputs.autoRestartPeriod = options.autoRestartPeriod;
    inputs.switchToTcpOnMroDown = options.switchToTcpOnMroDown != 0;
    inputs.backoff = backoff;
    // The index is unsigned: a removal at 0 steps it to the largest value and the increment wraps it back.
    for (size_t i = 0; i < servers_.entries.size(); ++i) {
        CServerInfo& entry = *servers_.entries[i];
        if (stopWarnings && stopWarnings->Pending(entry.config.launch.serverPort)) continue;
        inputs.selectiveBusy = selectiveBusy != 0;
        const SupervisorDecision decision = Decide(Observe(entry, local), inputs);
        Apply(entry, decision);
        if (!Dispatch(i, decision.action)) break;
    }

    // A removed server's count is not held against a later one on its port.
    for (auto b = backoffs_.begin(); b != backoffs_.end();) {
        bool listed = false;
        for (const auto& entry : servers_.entries) listed = listed || entry->config.launch.serverPort == b->first;
        b = listed ? std::next(b) : backoffs_.erase(b);
    }

    const size_t lines = actions_.statusLineCount ? actions_.statusLineCount() : servers_.entries.size();
    if (actions_.enableStopAllButtons) actions_.enableStopAllButtons(lines > 0);

    if (supervisorTicks < kMaxTicks) ++supervisorTicks;
    if (actions_.statusObserved) ReportStatuses(local);

    if (Elapsed(now, lastSaveTick) > kSaveIntervalMs) {
        lastSaveTick = now;
        if (actions_.storeAll) actions_.storeAll();  // store errors are ignored here
    }
}

}  // namespace hm
