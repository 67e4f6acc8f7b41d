#include "eventlog/event_log.h"

#include <cstdio>
#include <thread>

#include "eventlog/event_loop.h"
#include "eventlog/jotwell_binding.h"
#include "platform/clock.h"

namespace hm {

EventLogList::EventLogList(Clock& clock, JotwellBinding* jotwell, EventLoop* loop)
    : clock_(clock), jotwell_(jotwell), loop_(loop) {}

void EventLogList::SetSink(EventListSink* sink) {
    std::lock_guard<std::mutex> lock(listLock_);
    sink_ = sink;
}

std::string EventLogList::Stamp(Clock& clock) { return Stamp(clock.Now()); }

std::string EventLogList::Stamp(const LocalTime& t) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d-%02d %02d:%02d:%02d: ", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return stamp;
}

void EventLogList::AddEvent(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AddEventV(format, args);
    va_end(args);
}

void EventLogList::AddEventV(const char* format, va_list args) {
    if (!enabled.load()) return;

    char buffer[kLineBuffer];
    const LocalTime now = clock_.Now();
    std::string stamp = Stamp(now);
    if (stamp.size() > kStampLength) stamp.resize(kStampLength);  // a year beyond 9999 cannot widen it
    std::snprintf(buffer, sizeof buffer, "%s", stamp.c_str());
    const size_t room = kLineBuffer - 2 - stamp.size();  // at most 1022 minus the stamp characters of text
    std::vsnprintf(buffer + stamp.size(), room + 1, format, args);
    const std::string line(buffer);

    if (jotwell_ && jotwell_->useGlobalJotwell()) jotwell_->WriteGlobalLog(line.substr(stamp.size()));
    if (EventLineObserver* observer = observer_.load()) observer->EventLineAdded(now, line.substr(stamp.size()));

    {
        std::lock_guard<std::mutex> lock(pendingLock_);
        pending_.push_back(line);
    }
    if (!loop_ || loop_->IsLoopThread()) {
        Drain();
    } else {
        loop_->Post([this] { Drain(); });
    }
}

void EventLogList::Drain() {
    for (;;) {
        std::string line;
        {
            std::lock_guard<std::mutex> lock(pendingLock_);
            if (pending_.empty()) return;
            line = std::move(pending_.front());
            pending_.pop_front();
        }
        Append(line);
    }
}

void EventLogList::Append(const std::string& line) {
    size_t removed = 0;
    EventListSink* sink = nullptr;
    {
        std::lock_guard<std::mutex> lock(listLock_);
        sink = sink_;
        lines_.push_back(line);
        if (sink_) sink_->EventLineAdded(line);
        if (lines_.size() > kTrimAbove) {
            while (lines_.size() > kTrimTo) {
                lines_.pop_front();
                ++removed;
            }
        }
    }
    if (removed && sink) sink->EventLinesRemoved(removed);
}

std::vector<std::string> EventLogList::Lines() const {
    std::lock_guard<std::mutex> lock(listLock_);
    return {lines_.begin(), lines_.end()};
}

size_t EventLogList::Count() const {
    std::lock_guard<std::mutex> lock(listLock_);
    return lines_.size();
}

}  // namespace hm
