// The monitoring figures that only the event lines tell: restarts per server since the program
// started, console time-outs, kicks and bans by reason, the last line that named each server, and the
// servers' names as far as lines and the status list gave them.
//
// Owned by the event watch of the server manager. Count is called on whichever thread adds an event
// line; Take and SetServerName on the user-interface thread. One short lock guards everything; nothing
// here waits for anything else or adds event lines.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "notify/event_kinds.h"
#include "platform/clock.h"

namespace hm {

class EventCounters {
public:
    struct Figures {
        std::map<unsigned, uint64_t> restarts;      // by game port
        std::map<unsigned, std::string> lastEvent;  // by game port: the line as the event list shows it
        uint64_t consoleTimeouts = 0;
        std::map<std::string, uint64_t> kicks;      // by reason
        std::map<std::string, uint64_t> bans;
    };

    // True for a line that repeats the announcement of a restart still to come ("Server N crashed" on
    // every pass while players hold the restart back): it tells nothing new.
    bool Count(const LocalTime& time, const std::string& text, const EventLineClass& line);
    // The status list knows every server's name; lines of a launch name only the port.
    void SetServerName(unsigned port, const std::string& name);
    std::string ServerName(unsigned port) const;
    Figures Take() const;

private:
    mutable std::mutex lock_;
    Figures figures_;
    std::map<unsigned, std::string> names_;
    std::map<unsigned, std::string> restartAnnounced_;  // port -> the line that announced its coming restart
    std::map<unsigned, std::pair<std::string, std::string>> verdict_;  // port -> player, reason of the kick to come
};

}  // namespace hm
