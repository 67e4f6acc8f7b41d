#include "notify/event_watch.h"

#include "notify/event_kinds.h"

namespace hm {

void EventWatch::EventLineAdded(const LocalTime& time, const std::string& text) {
    EventLineClass line = ClassifyEventLine(text);
    const bool repeat = counters.Count(time, text, line);
    if (!line.kind || repeat) return;
    NotifyMessage message;
    message.time = time;
    message.kind = *line.kind;
    message.port = line.port;
    message.serverName = line.serverName.empty() && line.port ? counters.ServerName(line.port) : line.serverName;
    message.text = text;
    sender.Enqueue(message);
}

}  // namespace hm
