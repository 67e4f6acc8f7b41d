// Event lines as the notifications and the monitoring counters read them: the kind of each of the
// program's own lines, the server it names, and what the counters make of a sequence of lines.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "notify/event_counters.h"
#include "notify/event_kinds.h"

namespace hm {
namespace {

TEST(EventLines, EachLineOfTheProgramHasItsKindAndServer) {
    const std::optional<NotifyKind> none;
    const struct {
        std::string text;
        std::optional<NotifyKind> kind;
        unsigned port;
        std::string name, player, reason, verdict;
    } cases[] = {
        {"Server 2300: Launched.", NotifyKind::Start, 2300, "", "", "", ""},
        {"Server 2301: Launched - TCP/IP.", NotifyKind::Start, 2301, "", "", "", ""},
        {"Server 2300: Removed.", NotifyKind::Stop, 2300, "", "", "", ""},
        {"Server 2300: Scheduled stop.", NotifyKind::Stop, 2300, "", "", "", ""},
        {"Server 2300: No player in selective server. Stopping...", NotifyKind::Stop, 2300, "", "", "", ""},
        {"Server 2300: Stopped.", none, 2300, "", "", "", ""},  // also within every restart
        {"Server 2300: Not running anymore -> Restart.", NotifyKind::Crash, 2300, "", "", "", ""},
        {"Server 2300 remote console timeout (crashed?)", NotifyKind::Crash, 2300, "", "", "", ""},
        {"Server 2300 crashed", NotifyKind::Crash, 2300, "", "", "", ""},
        {"Server 2300: died 3 times within a minute of its start; next try in 1 min.", NotifyKind::Crash, 2300, "", "",
         "", ""},
        {"Error: /srv/cfg/KelvaneServers.dat is damaged; what could be read was loaded, the file was kept as "
         "/srv/cfg/KelvaneServers.dat.damaged.",
         NotifyKind::Crash, 0, "", "", "", ""},
        {"Server 2300: Uptime exceeded. Automatic restart...", NotifyKind::Restart, 2300, "", "", "", ""},
        {"Server 2300: Mode switch.", NotifyKind::Restart, 2300, "", "", "", ""},
        {"Server 2300: Player 'Alice' kicked by the operator.", NotifyKind::Kick, 2300, "", "Alice", "operator", ""},
        {"Server 2300: Player 'Bob' banned by the operator.", NotifyKind::Ban, 2300, "", "Bob", "operator", ""},
        {"Server 2300: Player 'x' kicked (observer on/off switch).", NotifyKind::Kick, 2300, "", "x", "observer", ""},
        {"Server 2300: Player '$$' kicked (illegal nickname).", NotifyKind::Kick, 2300, "", "$$", "illegal", ""},
        {"Server 2300: Player 'ab' uses a short nickname.", none, 2300, "", "ab", "", "short"},
        {"Server 2300: Player 'h4x' uses a hacked nickname.", none, 2300, "", "h4x", "", "hacked"},
        {"Server 2300: Player 'h4x' kicked.", NotifyKind::Kick, 2300, "", "h4x", "", ""},
        {"Server 2300: Player 'Evil' banned.", NotifyKind::Ban, 2300, "", "Evil", "disallowed", ""},
        // A name that imitates a line's end is taken whole up to the real end.
        {"Server 2300: Player 'a' kicked (illegal nickname).' kicked.", NotifyKind::Kick, 2300, "",
         "a' kicked (illegal nickname).", "", ""},
        {"Server 2300: Player 'Alice' has joined.", none, 2300, "", "", "", ""},
        {"New version of Haldmoor3 available.", NotifyKind::Update, 0, "", "", "", ""},
        {"Update process started (haldmoor3-updater-tmp).", NotifyKind::Update, 0, "", "", "", ""},
        {"Restarting Haldmoor3...", NotifyKind::Update, 0, "", "", "", ""},
        {"Haldmoor3: Uptime exceeded.", NotifyKind::Update, 0, "", "", "", ""},
        {"Added 3 addresses or ranges to netgames\\hosts.deny", NotifyKind::Update, 0, "", "", "", ""},
        {"Added 2 addresses to banned nicknames list", NotifyKind::Update, 0, "", "", "", ""},
        {"Checking for newer version of Haldmoor3...", none, 0, "", "", "", ""},
        {"Error: Can't connect to updates.example.org", NotifyKind::Error, 0, "", "", "", ""},
        {"Server 2300: Error: the cache folder '/x' is not inside '/g/custom/cache'; the server is not started.",
         NotifyKind::Error, 2300, "", "", "", ""},
        {"Server 2300: Startup failed.", NotifyKind::Error, 2300, "", "", "", ""},
        {"Warning: haldmoor3.ini line 3: unknown key \"x\" in [restarts]; kept as it is.", none, 0, "", "", "", ""},
        {"Server 2300 (Alpha): Starting...", none, 2300, "Alpha", "", "", ""},
        {"Server 2301 (a): b (c): Running/scheduled.", none, 2301, "a): b (c", "", "", ""},
        {"Server 70000: Launched.", none, 0, "", "", "", ""},  // not a port
        {"Server : Launched.", none, 0, "", "", "", ""},
        {"Servers 2300: Launched.", none, 0, "", "", "", ""},
    };
    for (const auto& c : cases) {
        const EventLineClass line = ClassifyEventLine(c.text);
        EXPECT_EQ(line.kind, c.kind) << c.text;
        EXPECT_EQ(line.port, c.port) << c.text;
        EXPECT_EQ(line.serverName, c.name) << c.text;
        EXPECT_EQ(line.player, c.player) << c.text;
        EXPECT_EQ(line.reason, c.reason) << c.text;
        EXPECT_EQ(line.verdict, c.verdict) << c.text;
    }
}

TEST(EventLines, CountersTakeRestartsKicksAndTheLastLineOfEachServer) {
    EventCounters counters;
    const LocalTime at{2026, 1, 5, 12, 30, 0, 0, 1};
    std::vector<std::string> repeats;
    auto add = [&](const std::string& text) {
        if (counters.Count(at, text, ClassifyEventLine(text))) repeats.push_back(text);
    };
    add("Server 2300 (Alpha): Starting...");
    add("Server 2300: Launched.");  // the first launch is no restart
    // A data corruption line repeats while players hold the restart back; one restart follows.
    add("Server 2300 crashed");
    add("Server 2300 crashed");
    add("Server 2300: Stopped.");
    add("Server 2300: Launched.");
    add("Server 2301 remote console timeout (crashed?)");
    add("Server 2301: Stopped.");
    add("Server 2301: Startup failed.");  // announced but never launched
    add("Server 2301: Removed.");
    add("Server 2301: Launched.");        // a new start by the operator
    add("Server 2300: Player 'h4x' uses a hacked nickname.");
    add("Server 2300: Player 'h4x' kicked.");
    add("Server 2300: Player 'ab' uses a short nickname.");
    add("Server 2300: Player 'ab' kicked.");
    add("Server 2300: Player 'Zed' kicked.");  // no verdict before it
    add("Server 2300: Player 'Alice' kicked by the operator.");
    add("Server 2301: Player 'Evil' banned.");
    add("Restarting Haldmoor3...");

    const EventCounters::Figures f = counters.Take();
    EXPECT_EQ(f.restarts, (std::map<unsigned, uint64_t>{{2300, 1}}));
    EXPECT_EQ(repeats, std::vector<std::string>{"Server 2300 crashed"}) << "sent once";
    EXPECT_EQ(f.consoleTimeouts, 1u);
    EXPECT_EQ(f.kicks, (std::map<std::string, uint64_t>{{"hacked", 1}, {"short", 1}, {"other", 1}, {"operator", 1}}));
    EXPECT_EQ(f.bans, (std::map<std::string, uint64_t>{{"disallowed", 1}}));
    EXPECT_EQ(f.lastEvent.at(2300), "2026-01-05 12:30:00: Server 2300: Player 'Alice' kicked by the operator.");
    EXPECT_EQ(f.lastEvent.at(2301), "2026-01-05 12:30:00: Server 2301: Player 'Evil' banned.");
    EXPECT_EQ(f.lastEvent.size(), 2u);
    EXPECT_EQ(counters.ServerName(2300), "Alpha");
    counters.SetServerName(2301, "Beta");
    EXPECT_EQ(counters.ServerName(2301), "Beta");
}

}  // namespace
}  // namespace hm
