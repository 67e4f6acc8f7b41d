// Warnings before a stop that players would feel: a server that holds players is not stopped at once
// but told so in the game ("say Server stops in 5 minutes.", "... 1 minute.", "... 10 seconds." by
// default, from cfg/haldmoor3.ini [warnings]) and stopped when the longest warning time has passed.
//
// Owned by the server manager, used on the user-interface thread only: the supervisor defers its
// scheduled stops here, the operator's "Stop server(s)" and `--send stop PORT` defer theirs, and a
// one-second timer calls Poll. It never sleeps and never waits for a console: a warning that cannot be
// sent (no console, connection lost) is simply not heard, and the stop still comes on time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "servers/program_settings.h"

namespace hm {

class EventLogList;

class StopWarnings {
public:
    enum class StopKind {
        Halt,    // stop the process and keep the entry (a scheduled stop)
        Remove,  // stop the process and remove the entry (the operator's stop)
    };
    // Says one text on the port's server; the stop of a port.
    using Say = std::function<void(unsigned port, const std::string& text)>;
    using Stop = std::function<void(unsigned port, StopKind kind)>;

    StopWarnings(Clock& clock, EventLogList& events);

    // The warning times (seconds before the stop) and the text with one %s for the time left. Off, or
    // without times, every stop is immediate.
    void Configure(const CWarningSettings& settings);
    void SetActions(Say say, Stop stop);

    // A stop of a server with players: true when it is deferred (the first warning goes out now and
    // the stop comes later through Stop), false when the caller stops it now (no players, warnings
    // off, or a stop of that port is already pending: then it stays as planned and true is returned).
    bool Defer(unsigned port, StopKind kind, bool hasPlayers);
    bool Pending(unsigned port) const;
    // Forgets the port's pending stop (the server is stopped at once or went away).
    void Cancel(unsigned port);
    // Sends the warnings that are due and carries out the stops that are due.
    void Poll();

    // Seconds until the pending stop of the port (0 when none).
    uint32_t SecondsLeft(unsigned port);
    // "5 minutes", "1 minute", "10 seconds", "1 second", "90 seconds".
    static std::string TimeText(uint32_t seconds);
    // The settings' text with the time filled in; text is the operator's, never a format.
    std::string WarningText(uint32_t seconds) const;

private:
    struct PendingStop {
        unsigned port;
        StopKind kind;
        Tick start;
        size_t nextWarning;  // index into times_
    };
    uint32_t LeadSeconds() const { return times_.empty() ? 0 : times_.front(); }

    Clock& clock_;
    EventLogList& events_;
    bool on_ = false;
    std::vector<uint32_t> times_;  // descending, no duplicates, none 0
    std::string text_;
    Say say_;
    Stop stop_;
    std::vector<PendingStop> pending_;
};

}  // namespace hm
