// What an event line means to the notifications and the monitoring counters: its kind (a server
// launched, stopped, crashed, restarted; a kick, a ban, an update, an error), the server it names, and
// the details the counters take (the reason of a kick or ban, a console time-out, an announced restart).
//
// A pure function of the line's text, any thread; the texts are the program's own event lines, so this
// table follows them word for word. It never throws and reads any bytes (player and server names come
// from outside and may hold anything).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "servers/program_settings.h"

namespace hm {

struct EventLineClass {
    std::optional<NotifyKind> kind;  // none: the line is not sent anywhere
    unsigned port = 0;               // the server the line names ("Server N..."), 0 for none
    std::string serverName;          // "Server N (NAME): ..."; "" when the line does not name it
    std::string player;              // of a kick, a ban or a nickname verdict
    // A kick's or ban's reason: hacked, short, illegal, observer, operator, disallowed; "" for a plain
    // "kicked." whose reason the verdict line before it gave.
    std::string reason;
    std::string verdict;             // "hacked" or "short": the kick on the next line is for that
    bool consoleTimeout = false;     // the console fell silent and the server is restarted
    bool restartAnnounced = false;   // the supervisor restarts the server: its next launch is a restart
    bool launched = false;           // a new process of the server runs
    bool launchAbandoned = false;    // the server left the list, or its launch failed: no restart follows
};

EventLineClass ClassifyEventLine(std::string_view text);

}  // namespace hm
