#include "notify/event_kinds.h"

namespace hm {
namespace {

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Splits "Server N: rest", "Server N rest" and "Server N (NAME): rest".
bool SplitServerPrefix(std::string_view text, EventLineClass& c, std::string_view& rest) {
    constexpr std::string_view kServer = "Server ";
    if (!StartsWith(text, kServer)) return false;
    size_t at = kServer.size();
    unsigned port = 0;
    const size_t digits = at;
    while (at < text.size() && at - digits < 6 && text[at] >= '0' && text[at] <= '9')
        port = port * 10 + static_cast<unsigned>(text[at++] - '0');
    if (at == digits || at - digits > 5 || port == 0 || port > 65535 || at >= text.size()) return false;
    if (StartsWith(text.substr(at), ": ")) {
        rest = text.substr(at + 2);
    } else if (StartsWith(text.substr(at), " (")) {
        // The name may hold anything, "): " too; the texts after it never do.
        const size_t close = text.rfind("): ");
        if (close == std::string_view::npos || close < at + 2) return false;
        c.serverName = std::string(text.substr(at + 2, close - at - 2));
        rest = text.substr(close + 3);
    } else if (text[at] == ' ') {
        rest = text.substr(at + 1);
    } else {
        return false;
    }
    c.port = port;
    return true;
}

enum class Match { Exact, Prefix };

// The lines about one server, behind its prefix.
struct ServerLine {
    Match match;
    std::string_view text;
    std::optional<NotifyKind> kind;
    bool restartAnnounced, launched, launchAbandoned, consoleTimeout;
};
constexpr ServerLine kServerLines[] = {
    {Match::Exact, "Launched.", NotifyKind::Start, false, true, false, false},
    {Match::Prefix, "Launched - ", NotifyKind::Start, false, true, false, false},
    {Match::Exact, "Removed.", NotifyKind::Stop, false, false, true, false},
    {Match::Exact, "Scheduled stop.", NotifyKind::Stop, false, false, false, false},
    {Match::Exact, "No player in selective server. Stopping...", NotifyKind::Stop, false, false, false, false},
    {Match::Exact, "Not running anymore -> Restart.", NotifyKind::Crash, true, false, false, false},
    {Match::Exact, "remote console timeout (crashed?)", NotifyKind::Crash, true, false, false, true},
    {Match::Exact, "crashed", NotifyKind::Crash, true, false, false, false},
    {Match::Prefix, "died ", NotifyKind::Crash, false, false, false, false},
    {Match::Exact, "Uptime exceeded. Automatic restart...", NotifyKind::Restart, true, false, false, false},
    {Match::Exact, "Mode switch.", NotifyKind::Restart, true, false, false, false},
    {Match::Exact, "Startup failed.", NotifyKind::Error, false, false, true, false},
    {Match::Exact, "Failed to start.", NotifyKind::Error, false, false, false, false},
    {Match::Prefix, "Error", NotifyKind::Error, false, false, false, false},
};

// "Player 'NAME<suffix>": kicks, bans and the verdicts that announce a kick.
struct PlayerLine {
    std::string_view suffix;
    std::optional<NotifyKind> kind;
    std::string_view reason;
    std::string_view verdict;
};
constexpr PlayerLine kPlayerLines[] = {
    {"' kicked by the operator.", NotifyKind::Kick, "operator", ""},
    {"' banned by the operator.", NotifyKind::Ban, "operator", ""},
    {"' kicked (observer on/off switch).", NotifyKind::Kick, "observer", ""},
    {"' kicked (illegal nickname).", NotifyKind::Kick, "illegal", ""},
    {"' kicked.", NotifyKind::Kick, "", ""},
    {"' banned.", NotifyKind::Ban, "disallowed", ""},
    {"' uses a hacked nickname.", std::nullopt, "", "hacked"},
    {"' uses a short nickname.", std::nullopt, "", "short"},
};

// The program's own lines (the update thread's among them).
struct ProgramLine {
    Match match;
    std::string_view text;
    std::string_view suffix;  // also required, after the text
    NotifyKind kind;
};
constexpr ProgramLine kProgramLines[] = {
    {Match::Exact, "New version of Haldmoor3 available.", "", NotifyKind::Update},
    {Match::Exact, "New version of Haldmoor3 downloaded.", "", NotifyKind::Update},
    {Match::Prefix, "Update process started (", "", NotifyKind::Update},
    {Match::Exact, "Restarting Haldmoor3...", "", NotifyKind::Update},
    {Match::Exact, "Haldmoor3: Uptime exceeded.", "", NotifyKind::Update},
    {Match::Prefix, "Added ", " addresses or ranges to netgames\\hosts.deny", NotifyKind::Update},
    {Match::Prefix, "Added ", " addresses to banned nicknames list", NotifyKind::Update},
    // A store that could not be read whole lost data: as grave as a crash.
    {Match::Prefix, "Error: ", " is damaged; what could be read was loaded, the file was kept as ", NotifyKind::Crash},
    {Match::Prefix, "Error", "", NotifyKind::Error},
    {Match::Prefix, "Failed to start server thread", "", NotifyKind::Error},
};

bool Matches(Match match, std::string_view text, std::string_view pattern) {
    return match == Match::Exact ? text == pattern : StartsWith(text, pattern);
}

}  // namespace

EventLineClass ClassifyEventLine(std::string_view text) {
    EventLineClass c;
    std::string_view rest;
    if (SplitServerPrefix(text, c, rest)) {
        constexpr std::string_view kPlayer = "Player '";
        if (StartsWith(rest, kPlayer)) {
            for (const PlayerLine& line : kPlayerLines) {
                if (!EndsWith(rest, line.suffix) || rest.size() < kPlayer.size() + line.suffix.size()) continue;
                c.kind = line.kind;
                c.player = std::string(rest.substr(kPlayer.size(), rest.size() - kPlayer.size() - line.suffix.size()));
                c.reason = std::string(line.reason);
                c.verdict = std::string(line.verdict);
                return c;
            }
            return c;
        }
        for (const ServerLine& line : kServerLines) {
            if (!Matches(line.match, rest, line.text)) continue;
            c.kind = line.kind;
            c.restartAnnounced = line.restartAnnounced;
            c.launched = line.launched;
            c.launchAbandoned = line.launchAbandoned;
            c.consoleTimeout = line.consoleTimeout;
            return c;
        }
        return c;
    }
    for (const ProgramLine& line : kProgramLines) {
        if (!Matches(line.match, text, line.text)) continue;
        // The suffix comes after the matched part ("Added 3 addresses ..."); a part of the line in between.
        if (!line.suffix.empty() && text.find(line.suffix, line.text.size()) == std::string_view::npos) continue;
        c.kind = line.kind;
        return c;
    }
    return c;
}

}  // namespace hm
