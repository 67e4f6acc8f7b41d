#include "supervision/stop_warnings.h"

#include <algorithm>

#include "eventlog/event_log.h"

namespace hm {

StopWarnings::StopWarnings(Clock& clock, EventLogList& events) : clock_(clock), events_(events) {}

void StopWarnings::Configure(const CWarningSettings& settings) {
    on_ = settings.beforeStop;
    times_.clear();
    for (uint32_t t : settings.times) {
        if (t > 0) times_.push_back(t);
    }
    std::sort(times_.begin(), times_.end(), std::greater<>());
    times_.erase(std::unique(times_.begin(), times_.end()), times_.end());
    text_ = settings.text;
}

void StopWarnings::SetActions(Say say, Stop stop) {
    say_ = std::move(say);
    stop_ = std::move(stop);
}

std::string StopWarnings::TimeText(uint32_t seconds) {
    if (seconds % 60 == 0) {
        const uint32_t minutes = seconds / 60;
        return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
    }
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

std::string StopWarnings::WarningText(uint32_t seconds) const {
    std::string text = text_;
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, TimeText(seconds));
    return text;
}

bool StopWarnings::Pending(unsigned port) const {
    return std::any_of(pending_.begin(), pending_.end(), [port](const PendingStop& p) { return p.port == port; });
}

void StopWarnings::Cancel(unsigned port) {
    std::erase_if(pending_, [port](const PendingStop& p) { return p.port == port; });
}

uint32_t StopWarnings::SecondsLeft(unsigned port) {
    for (const PendingStop& p : pending_) {
        if (p.port != port) continue;
        const uint32_t elapsed = Elapsed(clock_.TickCount(), p.start) / 1000;
        return elapsed >= LeadSeconds() ? 0 : LeadSeconds() - elapsed;
    }
    return 0;
}

bool StopWarnings::Defer(unsigned port, StopKind kind, bool hasPlayers) {
    if (Pending(port)) return true;
    if (!on_ || times_.empty() || !hasPlayers) return false;
    pending_.push_back({port, kind, clock_.TickCount(), 0});
    events_.AddEvent("Server %u: players warned; stopping in %s.", port, TimeText(LeadSeconds()).c_str());
    Poll();
    return true;
}

void StopWarnings::Poll() {
    const Tick now = clock_.TickCount();
    // A stop runs the manager's code, which may defer or cancel: work on a copy of what is due.
    std::vector<PendingStop> due;
    for (auto p = pending_.begin(); p != pending_.end();) {
        const uint32_t elapsedMs = Elapsed(now, p->start);
        // After a late poll only the latest warning that is due is said: the others are out of date.
        size_t latest = times_.size();
        while (p->nextWarning < times_.size() &&
               elapsedMs >= (LeadSeconds() - times_[p->nextWarning]) * 1000u) {
            latest = p->nextWarning++;
        }
        if (latest < times_.size() && say_) say_(p->port, WarningText(times_[latest]));
        if (elapsedMs >= LeadSeconds() * 1000u) {
            due.push_back(*p);
            p = pending_.erase(p);
        } else {
            ++p;
        }
    }
    for (const PendingStop& p : due) {
        if (stop_) stop_(p.port, p.kind);
    }
}

}  // namespace hm
