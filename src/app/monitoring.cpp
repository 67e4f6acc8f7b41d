#include "app/monitoring.h"

#include <algorithm>
#include <cstdio>

#include "app/server_manager.h"
#include "servers/json_text.h"
#include "platform/files.h"

namespace hm {
namespace {

const char* StateName(LineState state) {
    switch (state) {
        case LineState::Running: return "running";
        case LineState::Restarting: return "restarting";
        case LineState::Scheduled: return "scheduled";
        case LineState::Stopped: break;
    }
    return "stopped";
}

// The reasons the program's own lines give, so that a dashboard sees every series from the start.
constexpr const char* kKickReasons[] = {"hacked", "short", "illegal", "observer", "operator", "other"};
constexpr const char* kBanReasons[] = {"disallowed", "operator", "other"};

class Exposition {
public:
    // One family: its HELP and TYPE lines, then its samples.
    void Family(const char* name, const char* type, const char* help) {
        family_ = name;
        text_ += "# HELP " + family_ + " " + help + "\n# TYPE " + family_ + " " + type + "\n";
    }
    // labels: name="value" pairs, the values Windows-1252 and still to be escaped.
    void Sample(const std::vector<std::pair<const char*, std::string>>& labels, const std::string& value) {
        text_ += family_;
        for (size_t i = 0; i < labels.size(); ++i) {
            text_ += (i == 0 ? "{" : ",");
            text_ += labels[i].first;
            text_ += "=\"" + PrometheusLabelValue(labels[i].second) + "\"";
        }
        text_ += (labels.empty() ? " " : "} ") + value + "\n";
    }
    void Sample(const std::vector<std::pair<const char*, std::string>>& labels, uint64_t value) {
        Sample(labels, std::to_string(value));
    }
    std::string Text() const { return text_; }

private:
    std::string family_, text_;
};

std::string Seconds(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms / 1000.0);
    return text;
}

void ReasonSamples(Exposition& out, const std::map<std::string, uint64_t>& counted,
                   const std::vector<std::string>& known) {
    std::vector<std::string> reasons = known;
    for (const auto& [reason, count] : counted)
        if (std::find(reasons.begin(), reasons.end(), reason) == reasons.end()) reasons.push_back(reason);
    for (const std::string& reason : reasons) {
        const auto found = counted.find(reason);
        out.Sample({{"reason", reason}}, found == counted.end() ? 0 : found->second);
    }
}

}  // namespace

MonitoringSnapshot TakeMonitoringSnapshot(const ServerManager& manager) {
    MonitoringSnapshot snapshot;
    snapshot.counters = manager.watch.counters.Take();
    snapshot.notifications = manager.watch.sender.Counts();
    snapshot.passes = manager.tickTimes.passes;
    snapshot.lastPassMs = manager.tickTimes.lastMs;
    snapshot.longestPassMs = manager.tickTimes.longestMs;
    const Tick now = manager.clock().TickCount();
    for (const StatusLine& line : manager.StatusLines()) {
        ServerSnapshot server;
        server.port = line.portNumber;
        server.name = line.name;
        server.mission = line.mission;
        server.gameType = line.gameType;
        server.state = StateName(line.state);
        for (const auto& held : manager.servers.entries) {
            const CServerInfo& entry = *held;
            if (entry.config.launch.serverPort != line.portNumber) continue;
            server.pid = entry.processId;
            const uint32_t places = entry.config.game.maxPlayers;
            server.maxPlayers = places > 0 ? places - 1 : 0;  // as the status list: one slot is the server's
            if (entry.processId != 0) {
                server.uptimeSeconds = Elapsed(now, entry.startTick) / 1000;
                if (entry.console) server.players = std::max<int32_t>(entry.console->Figures().playerCount, 0);
            }
            break;
        }
        const auto restarts = snapshot.counters.restarts.find(server.port);
        if (restarts != snapshot.counters.restarts.end()) server.restarts = restarts->second;
        const auto last = snapshot.counters.lastEvent.find(server.port);
        if (last != snapshot.counters.lastEvent.end()) server.lastEvent = last->second;
        snapshot.servers.push_back(std::move(server));
    }
    return snapshot;
}

std::string StatusJson(const MonitoringSnapshot& snapshot) {
    auto number = [](const auto& value) { return value ? std::to_string(*value) : std::string("null"); };
    std::string text = "[";
    for (size_t i = 0; i < snapshot.servers.size(); ++i) {
        const ServerSnapshot& s = snapshot.servers[i];
        text += i ? ",\n  " : "\n  ";
        text += "{\"port\":" + std::to_string(s.port) + ",\"name\":" + JsonString(s.name) +
                ",\"mission\":" + JsonString(s.mission) + ",\"game_type\":" + JsonString(s.gameType) +
                ",\"pid\":" + (s.pid ? std::to_string(s.pid) : "null") + ",\"state\":\"" + s.state + "\"" +
                ",\"players\":" + number(s.players) + ",\"max_players\":" + std::to_string(s.maxPlayers) +
                ",\"uptime_seconds\":" + number(s.uptimeSeconds) + ",\"restarts\":" + std::to_string(s.restarts) +
                ",\"last_event\":" + (s.lastEvent.empty() ? "null" : JsonString(s.lastEvent)) + "}";
    }
    return text + (snapshot.servers.empty() ? "]\n" : "\n]\n");
}

std::string MetricsText(const MonitoringSnapshot& snapshot) {
    Exposition out;
    out.Family("haldmoor3_servers", "gauge", "Supervised game servers by the state the status list shows.");
    for (const char* state : {"running", "restarting", "scheduled", "stopped"}) {
        out.Sample({{"state", state}}, static_cast<uint64_t>(std::count_if(
                                           snapshot.servers.begin(), snapshot.servers.end(),
                                           [state](const ServerSnapshot& s) { return s.state == state; })));
    }
    out.Family("haldmoor3_players", "gauge", "Players on a game server (known through its remote console).");
    int64_t total = 0;
    for (const ServerSnapshot& s : snapshot.servers) {
        if (!s.players) continue;
        out.Sample({{"port", std::to_string(s.port)}, {"name", s.name}}, static_cast<uint64_t>(*s.players));
        total += *s.players;
    }
    out.Family("haldmoor3_players_total", "gauge", "Players on all game servers together.");
    out.Sample({}, static_cast<uint64_t>(total));
    out.Family("haldmoor3_restarts_total", "counter", "Restarts of a game server by the supervisor since the program started.");
    for (const ServerSnapshot& s : snapshot.servers)
        out.Sample({{"port", std::to_string(s.port)}, {"name", s.name}}, s.restarts);
    out.Family("haldmoor3_console_timeouts_total", "counter",
               "Game servers restarted because their remote console fell silent.");
    out.Sample({}, snapshot.counters.consoleTimeouts);
    out.Family("haldmoor3_kicks_total", "counter", "Players kicked, by reason.");
    ReasonSamples(out, snapshot.counters.kicks, {std::begin(kKickReasons), std::end(kKickReasons)});
    out.Family("haldmoor3_bans_total", "counter", "Players banned, by reason.");
    ReasonSamples(out, snapshot.counters.bans, {std::begin(kBanReasons), std::end(kBanReasons)});
    out.Family("haldmoor3_supervisor_tick_seconds", "gauge",
               "How long a supervisor pass held the program's main thread: the last and the longest.");
    out.Sample({{"pass", "last"}}, Seconds(snapshot.lastPassMs));
    out.Sample({{"pass", "longest"}}, Seconds(snapshot.longestPassMs));
    out.Family("haldmoor3_supervisor_passes_total", "counter", "Supervisor passes since the program started.");
    out.Sample({}, snapshot.passes);
    out.Family("haldmoor3_notifications_total", "counter",
               "Notifications by outcome: sent, failed (every try) or dropped (a full queue).");
    out.Sample({{"outcome", "sent"}}, snapshot.notifications.sent);
    out.Sample({{"outcome", "failed"}}, snapshot.notifications.failed);
    out.Sample({{"outcome", "dropped"}}, snapshot.notifications.dropped);
    out.Family("haldmoor3_notifications_queued", "gauge", "Notifications waiting to be sent.");
    out.Sample({}, snapshot.notifications.queued);
    return out.Text();
}

void MetricsFile::Write(ServerManager& manager) {
    if (path_.empty()) return;
    if (fs::ReplaceFileAtomically(path_, MetricsText(TakeMonitoringSnapshot(manager)))) {
        failing_ = false;
        return;
    }
    if (failing_) return;
    failing_ = true;
    manager.events.AddEvent("Error: Cannot write the metrics file %s; it is tried again after every supervisor pass.",
                            path_.c_str());
}

}  // namespace hm
