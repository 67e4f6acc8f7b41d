// The supervised servers for machines: `--send status --json` (a JSON array, one object per server),
// `--send metrics` and the file of `--metrics-file` (the Prometheus text exposition format 0.0.4, for
// the text-file collectors of node exporters).
//
// TakeMonitoringSnapshot reads the manager on the user-interface thread; the texts are pure functions
// of a snapshot. MetricsFile belongs to the manager and writes after every supervisor pass, atomically,
// so a collector never reads half a file. Names are Windows-1252 and come out as correctly escaped
// UTF-8 whatever they hold; nothing here throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "notify/event_counters.h"
#include "notify/notification_sender.h"

namespace hm {

class ServerManager;

struct ServerSnapshot {
    unsigned port = 0;
    std::string name, mission, gameType;    // Windows-1252
    uint32_t pid = 0;                       // 0: no process
    std::string state = "stopped";          // running, restarting, scheduled or stopped, as the status list marks it
    std::optional<int32_t> players;         // known only through a remote console
    uint32_t maxPlayers = 0;                // the places for players the status list shows ("2/8")
    std::optional<uint32_t> uptimeSeconds;  // since the launch of the running process
    uint64_t restarts = 0;                  // by the supervisor since the program started
    std::string lastEvent;                  // the last event line that named the server; "" for none
};

struct MonitoringSnapshot {
    std::vector<ServerSnapshot> servers;  // in the order of the status list
    EventCounters::Figures counters;
    uint32_t passes = 0, lastPassMs = 0, longestPassMs = 0;
    NotificationSender::Figures notifications;
};

MonitoringSnapshot TakeMonitoringSnapshot(const ServerManager& manager);
std::string StatusJson(const MonitoringSnapshot& snapshot);
std::string MetricsText(const MonitoringSnapshot& snapshot);

class MetricsFile {
public:
    explicit MetricsFile(std::string path) : path_(std::move(path)) {}
    // Writes the metrics of the manager (when a path is set); a failure is told once in the event list
    // until a write succeeds again.
    void Write(ServerManager& manager);

private:
    std::string path_;
    bool failing_ = false;
};

}  // namespace hm
