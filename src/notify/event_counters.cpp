#include "notify/event_counters.h"

#include "eventlog/event_log.h"

namespace hm {

bool EventCounters::Count(const LocalTime& time, const std::string& text, const EventLineClass& line) {
    std::lock_guard<std::mutex> guard(lock_);
    if (line.port == 0) return false;
    const unsigned port = line.port;
    figures_.lastEvent[port] = EventLogList::Stamp(time) + text;
    if (!line.serverName.empty()) names_[port] = line.serverName;
    if (line.consoleTimeout) ++figures_.consoleTimeouts;
    // A crashed or hung server is announced, halted and launched again; "Server N crashed" repeats
    // on every pass while players hold the restart back, so the launch is what counts.
    bool repeat = false;
    if (line.restartAnnounced) {
        const auto [announced, first] = restartAnnounced_.emplace(port, text);
        repeat = !first && announced->second == text;
        announced->second = text;
    }
    if (line.launchAbandoned) restartAnnounced_.erase(port);
    if (line.launched && restartAnnounced_.erase(port)) ++figures_.restarts[port];
    if (!line.verdict.empty()) verdict_[port] = {line.player, line.verdict};
    if (line.kind == NotifyKind::Kick || line.kind == NotifyKind::Ban) {
        std::string reason = line.reason;
        if (reason.empty()) {
            // "kicked." comes right after the verdict line of the same console.
            const auto verdict = verdict_.find(port);
            reason = verdict != verdict_.end() && verdict->second.first == line.player ? verdict->second.second : "other";
        }
        verdict_.erase(port);
        ++(line.kind == NotifyKind::Kick ? figures_.kicks : figures_.bans)[reason];
    }
    return repeat;
}

void EventCounters::SetServerName(unsigned port, const std::string& name) {
    std::lock_guard<std::mutex> guard(lock_);
    names_[port] = name;
}

std::string EventCounters::ServerName(unsigned port) const {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = names_.find(port);
    return found == names_.end() ? std::string() : found->second;
}

EventCounters::Figures EventCounters::Take() const {
    std::lock_guard<std::mutex> guard(lock_);
    return figures_;
}

}  // namespace hm
