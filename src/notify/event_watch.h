// The event list's observer: every event line is classified once, counted for the monitoring output
// and, when it is of a kind some target asks for, queued for the notification sender; a line that only
// repeats a restart announcement still pending is not sent again.
//
// Owned by the server manager (declared before its event list, so it outlives every thread that adds
// lines). EventLineAdded runs on the thread that adds the line and only takes two short locks; it
// never touches the network and never adds an event line.
#pragma once

#include <string>

#include "eventlog/event_log.h"
#include "notify/event_counters.h"
#include "notify/notification_sender.h"

namespace hm {

class EventWatch : public EventLineObserver {
public:
    // events: where the sender reports a failing target (may be null).
    EventWatch(Clock& clock, EventLogList* events) : sender(clock, events) {}

    void EventLineAdded(const LocalTime& time, const std::string& text) override;

    EventCounters counters;
    NotificationSender sender;
};

}  // namespace hm
