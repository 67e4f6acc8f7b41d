#include "supervision/console_parser.h"

#include <cstring>
#include <limits>

#include "supervision/console_normalize.h"

namespace hm {

namespace {

constexpr size_t kNameMax = 127;          // characters kept of a name or address from a reply
constexpr size_t kFoundLineMax = 199;     // the "Player found" note is cut to this length
constexpr Tick kObserveWindowMs = 1010;   // observer starts closer than this count as a flip
constexpr uint32_t kObserveKickAbove = 3;
constexpr Tick kActivityMinMs = 1000;     // an activity line belongs to the join 1 to 10 s later
constexpr Tick kActivityMaxMs = 10000;
constexpr int32_t kManyPlayers = 6;   // from here on addresses come from activity lines

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    return true;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithIgnoreCase(a, b);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The name in front of a keyword: from the line's second character (the first is the server's marker)
// up to the blank that starts the keyword.
std::string NameBefore(std::string_view line, size_t blank) {
    if (blank <= 1) return std::string();
    return std::string(line.substr(1, blank - 1));
}

}  // namespace

ConsoleParser::ConsoleParser(ConsoleState& state, ConsoleActions& actions, Clock& clock)
    : state_(state), actions_(actions), clock_(clock) {
    lines_.reserve(kLineBufferBytes);
}

bool ConsoleParser::InvalidBecauseOfPercent(std::string_view name) {
    for (char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '%') return true;
        if (c < 0x20 || c > 0x7E) return false;
    }
    return false;
}

void ConsoleParser::Event(std::string_view rest) {
    std::string text = "Server " + std::to_string(state_.serverPort) + ": ";
    text.append(rest);
    actions_.AddEvent(text);
}

std::string_view ConsoleParser::LineAt(size_t offset) const {
    if (offset >= end_) return std::string_view();
    const char* start = lines_.data() + offset;
    const void* nul = std::memchr(start, '\0', end_ - offset);
    const size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - start) : end_ - offset;
    return std::string_view(start, length);
}

bool ConsoleParser::IsNoise(std::string_view line) const {
    if (!line.empty() && line[0] == '\b') return true;
    return StartsWithIgnoreCase(line, "Downloading ") || StartsWithIgnoreCase(line, "Analyzing ") ||
           StartsWithIgnoreCase(line, "Unrecognized ") || StartsWithIgnoreCase(line, "Mission over.") ||
           StartsWithIgnoreCase(line, "Opening level '");
}

size_t ConsoleParser::Advance(size_t offset) {
    const std::string_view line = LineAt(offset);
    if (!IsNoise(line)) actions_.WriteConsoleLog(line);
    size_t next = offset + line.size() + 1;
    // One empty line is passed over; the buffer's four end bytes still leave an empty line behind it.
    if (next < end_ && lines_[next] == '\0') ++next;
    return next < end_ ? next : end_;
}

void ConsoleParser::Parse(const char* chunk, size_t size) {
    const size_t maxChunk = (std::numeric_limits<size_t>::max() - 4) / 2;
    if (size > maxChunk) size = maxChunk;
    const size_t need = NormalizedCapacity(size);
    if (lines_.size() < need) lines_.resize(need);
    size_t written = 0;
    const NormalizeResult result = NormalizeConsoleChunk(chunk, size, lines_.data(), lines_.size(), &written);
    end_ = written;
    if (result == NormalizeResult::NoBuffer) {
        actions_.WriteConsoleLog("Haldmoor3: Internal error - No buffer.");
        return;
    }
    if (result == NormalizeResult::NoData) {
        actions_.WriteConsoleLog("Haldmoor3: Internal error - No data.");
        return;
    }
    size_t offset = 0;
    // A chunk that starts with a line break begins with one empty line; it is passed over like the
    // empty lines between others, so that the chunk is not taken for an empty one.
    if (end_ > 0 && lines_[0] == '\0') offset = 1;
    while (!LineAt(offset).empty()) offset = ProcessLine(offset);
}

size_t ConsoleParser::ProcessLine(size_t offset) {
    const std::string_view line = LineAt(offset);
    if (IsNoise(line)) return Advance(offset);

    WordScan(line);

    if (line[0] == '[') {
        const size_t blank = line.find(' ');
        if (blank != std::string_view::npos) {
            const std::string_view rest = line.substr(blank + 1);
            if (StartsWithIgnoreCase(rest, "$players")) return PlayerListReply(offset);
            if (StartsWithIgnoreCase(rest, "$playerinfo")) return PlayerInfoReply(offset);
        }
        return Advance(offset);
    }
    if (StartsWithIgnoreCase(line, "*Entering")) {
        actions_.WriteConsoleLog("Level start.");
        actions_.OnLevelStart();
    } else if (StartsWithIgnoreCase(line, "Ending Level.")) {
        // Nothing further: the next "*Entering" resets the counters.
    } else if (EqualsIgnoreCase(line, "Network data corruption detected.")) {
        state_.SetFlag(state_.dataCorruption);
    } else if (StartsWithIgnoreCase(line, "Shutting down")) {
        if (!state_.dataCorruption && !state_.quitRequested) state_.SetFlag(state_.quitByAdmin);
    }
    return Advance(offset);
}

void ConsoleParser::WordScan(std::string_view line) {
    for (size_t i = line.find(' '); i != std::string_view::npos; i = line.find(' ', i + 1)) {
        // Every keyword's first letter after the blank is one of these; most blanks end here.
        const char first = i + 1 < line.size() ? Lower(line[i + 1]) : '\0';
        if (first != 'c' && first != 'h' && first != 'd' && first != 's') continue;
        const std::string_view at = line.substr(i);
        if (StartsWithIgnoreCase(at, " connection activity, \"")) {
            OnActivity(at.substr(std::strlen(" connection activity, \"")));
        } else if (StartsWithIgnoreCase(at, " has joined")) {
            OnJoin(NameBefore(line, i));
            return;
        } else if (StartsWithIgnoreCase(at, " has left the game") || StartsWithIgnoreCase(at, " disconnected!")) {
            OnLeave(NameBefore(line, i));
            return;
        } else if (StartsWithIgnoreCase(at, " starts observing")) {
            OnObserve(NameBefore(line, i));
        }
    }
}

void ConsoleParser::OnActivity(std::string_view afterKeyword) {
    const size_t quote = afterKeyword.find('"');
    if (quote == std::string_view::npos) return;
    std::string address(afterKeyword.substr(0, quote < kNameMax ? quote : kNameMax));
    const size_t colon = address.find(':');
    if (colon != std::string::npos) address.resize(colon);
    // Only a real address is kept: a later join must never record arbitrary text as a player's address.
    if (!IsDottedIPv4(address)) return;
    state_.activityAddress = address;
    state_.activityCount += 1;
    state_.activityTick = clock_.TickCount();
    Event("Connection activity from " + address + "...");
}

void ConsoleParser::OnJoin(const std::string& name) {
    Event("Player '" + name + "' has joined.");
    state_.hasPlayers = 1;
    state_.playerCount += 1;
    state_.listRequests += 1;
    if (actions_.ThreadRunning()) actions_.SendCommand("$players\r\n");
    const size_t listed = state_.players.size();
    if (listed != 0) state_.playerCount = static_cast<int32_t>(listed);
    Event(std::to_string(static_cast<unsigned>(state_.playerCount.load())) + " player(s).");

    if (state_.settings.logPlayerAddresses && !state_.activityAddress.empty() && state_.activityTick != 0 &&
        state_.activityCount == 1) {
        const Tick elapsed = Elapsed(clock_.TickCount(), state_.activityTick);
        if (elapsed >= kActivityMinMs && elapsed <= kActivityMaxMs &&
            (state_.playerCount >= kManyPlayers || state_.listRequests <= 1)) {
            if (actions_.UpdatePlayer(name, state_.activityAddress)) actions_.SavePlayers();
            Event("Player '" + name + "' joined with IP " + state_.activityAddress + ".");
        }
    }
    state_.activityTick = 0;
    state_.activityCount = 0;
    state_.activityAddress.clear();
}

void ConsoleParser::OnLeave(const std::string& name) {
    Event("Player '" + name + "' has left.");
    actions_.Pause(100);
    state_.playerCount -= 1;
    if (state_.playerCount < 0) {
        state_.playerCount = 0;
        Event("No players in server.");
    }
    state_.listRequests += 1;
    if (actions_.ThreadRunning()) {
        actions_.SendCommand("$players\r\n");
    } else {
        Event("Remote console thread has died.");
    }
    const size_t listed = state_.players.size();
    if (listed != 0) state_.playerCount = static_cast<int32_t>(listed) - 1;
    if (state_.playerCount == 0) state_.hasPlayers = 0;
    Event(std::to_string(static_cast<unsigned>(state_.playerCount.load())) + " player(s).");
}

void ConsoleParser::OnObserve(const std::string& name) {
    // Only this thread changes the slots' observer fields; the array itself is swapped under the lock
    // by this thread as well, so no lock is needed to reach a slot here.
    for (PlayerSlot& slot : state_.players) {
        if (slot.name != name) continue;
        const Tick now = state_.lastReceiveTick;
        // A slot that never observed before counts its first start as part of a quick run, so the
        // fourth start seen in one chunk of a freshly listed player is already too many.
        if (slot.lastObserveTick == 0 || Elapsed(now, slot.lastObserveTick) < kObserveWindowMs) {
            slot.observeToggles += 1;
            if (slot.observeToggles > kObserveKickAbove) {
                Event("Player '" + name + "' kicked (observer on/off switch).");
                actions_.Kick(static_cast<int>(slot.number), std::nullopt);
            }
        } else {
            slot.observeToggles = 0;
        }
        slot.lastObserveTick = now;
        return;
    }
}

size_t ConsoleParser::PlayerListReply(size_t offset) {
    actions_.WriteConsoleLog("$players found (recognized by Haldmoor3).");
    offset = Advance(offset);
    std::string_view line = LineAt(offset);
    if (line.empty() || !StartsWithIgnoreCase(line, "PNum Name")) return offset;
    offset = Advance(offset);

    const std::vector<PlayerSlot>& current = state_.players;
    std::vector<PlayerSlot> fresh;
    for (line = LineAt(offset); !line.empty() && IsDigit(line[0]); line = LineAt(offset)) {
        uint32_t value = 0;
        for (size_t i = 0; i < line.size() && IsDigit(line[i]); ++i)
            value = value * 10 + static_cast<uint32_t>(line[i] - '0');   // wraps like the 16-bit field
        const uint32_t number = static_cast<uint16_t>(value);
        const std::string name = line.size() > 4 ? std::string(line.substr(4)) : std::string();
        if (number != 0) {
            std::string found = "Player found by Haldmoor3: '" + name + "'.";
            if (found.size() > kFoundLineMax) found.resize(kFoundLineMax);
            actions_.WriteConsoleLog(found);
            state_.lastPlayerRowTick = state_.lastReceiveTick.load();
            fresh.push_back(PlayerSlot{number, name, 0, 0});
            bool known = false;
            for (const PlayerSlot& slot : current) {
                if (slot.number == number && slot.name == name) {
                    known = true;
                    break;
                }
            }
            if (!known) {
                if (!InvalidBecauseOfPercent(name) && state_.settings.logPlayerAddresses &&
                    state_.listRequests >= 2)
                    actions_.RequestPlayerInfo(static_cast<int>(number));
                ActOnVerdict(static_cast<int>(number), name);
            }
        }
        offset = Advance(offset);
    }
    if (state_.settings.respawnStep > 0 && fresh.size() != current.size())
        actions_.SetRespawnTime(RespawnTimeFor(state_.settings, static_cast<int64_t>(fresh.size())));
    state_.ReplacePlayers(std::move(fresh));
    return offset;
}

void ConsoleParser::ActOnVerdict(int number, const std::string& name) {
    switch (actions_.NicknameVerdict(name)) {
        case PlayerVerdict::None:
            return;
        case PlayerVerdict::Invalid:
            actions_.Kick(number, name + " uses an INVALID NICKNAME and gets kicked!");
            Event("Player '" + name + "' kicked (illegal nickname).");
            return;
        case PlayerVerdict::Hacked:
            Event("Player '" + name + "' uses a hacked nickname.");
            actions_.Kick(number, "'" + name + "' uses a HACKED NICKNAME and gets kicked!");
            Event("Player '" + name + "' kicked.");
            return;
        case PlayerVerdict::TooShort:
            Event("Player '" + name + "' uses a short nickname.");
            actions_.Kick(number, name + " uses a too short and gets kicked!");
            Event("Player '" + name + "' kicked.");
            return;
        case PlayerVerdict::Disallowed:
            actions_.Ban(number, std::nullopt);
            Event("Player '" + name + "' banned.");
            return;
    }
}

size_t ConsoleParser::PlayerInfoReply(size_t offset) {
    offset = Advance(offset);
    std::string_view line = LineAt(offset);
    if (line.empty() || !StartsWithIgnoreCase(line, "*Getting")) return offset;
    const std::string name = line.size() > 24 ? std::string(line.substr(24, kNameMax)) : std::string();

    offset = Advance(offset);
    line = LineAt(offset);
    if (line.empty()) return offset;
    if (line.substr(0, name.size()) != name) return Advance(offset);

    offset = Advance(offset);
    line = LineAt(offset);
    if (line.empty()) return offset;
    if (StartsWithIgnoreCase(line, "Team:")) {
        offset = Advance(offset);
        if (LineAt(offset).empty()) return offset;
    }
    offset = Advance(offset);   // one line is passed over
    line = LineAt(offset);
    if (line.empty() || !StartsWithIgnoreCase(line, "IP: ")) return offset;

    std::string address(line.substr(4, kNameMax));
    const size_t colon = address.find(':');
    if (colon != std::string::npos) address.resize(colon);
    Event("Player '" + name + "' has IP address " + address + ".");
    state_.hasPlayers = 1;
    if (actions_.UpdatePlayer(name, address)) actions_.SavePlayers();
    return Advance(offset);
}

}  // namespace hm
