#include "supervision/console_parser.h"

#include <bit>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    if (eventPrefix_.empty()) eventPrefix_ = "Server " + std::to_string(state_.serverPort) + ": ";
    std::string text;
    text.reserve(eventPrefix_.size() + rest.size());
    text.append(eventPrefix_).append(rest);
    actions_.AddEvent(text);
}

std::string_view ConsoleParser::LineAt(size_t offset) const {
    if (offset >= end_) return std::string_view();
    // Lines are walked forwards; the index of line ends is followed the same way and only starts
    // over when an earlier line is asked for again.
    if (lineCursor_ > 0 && lineEnds_[lineCursor_ - 1] >= offset) lineCursor_ = 0;
    while (lineCursor_ < lineEnds_.size() && lineEnds_[lineCursor_] < offset) ++lineCursor_;
    // Past the last line only end bytes are left: an empty line.
    const size_t length = lineCursor_ < lineEnds_.size() ? lineEnds_[lineCursor_] - offset : 0;
    return std::string_view(lines_.data() + offset, length);
}

bool ConsoleParser::IsNoise(std::string_view line) const {
    if (line.empty()) return false;
    switch (Lower(line[0])) {
        case '\b': return true;
        case 'd': return StartsWithIgnoreCase(line, "Downloading ");
        case 'a': return StartsWithIgnoreCase(line, "Analyzing ");
        case 'u': return StartsWithIgnoreCase(line, "Unrecognized ");
        case 'm': return StartsWithIgnoreCase(line, "Mission over.");
        case 'o': return StartsWithIgnoreCase(line, "Opening level '");
        default: return false;
    }
}

size_t ConsoleParser::Advance(size_t offset) {
    const std::string_view line = LineAt(offset);
    return Pass(offset, line, IsNoise(line));
}

size_t ConsoleParser::Pass(size_t offset, std::string_view line, bool noise) {
    if (!noise) actions_.WriteConsoleLog(line);
    size_t next = offset + line.size() + 1;
    // One empty line is passed over; the buffer's four end bytes still leave an empty line behind it.
    if (next < end_ && lines_[next] == '\0') ++next;
    return next < end_ ? next : end_;
}

void ConsoleParser::Parse(const char* chunk, size_t size) {
    const size_t maxChunk = (std::numeric_limits<size_t>::max() - 4) / 2;
    if (size > maxChunk) size = maxChunk;
    const size_t need = NormalizedCapacity(size);
    // The bytes behind the buffer's end let the word scan read whole blocks past a line's end.
    if (lines_.size() < need + kScanSlack) lines_.resize(need + kScanSlack);
    size_t written = 0;
    const NormalizeResult result =
        NormalizeConsoleChunk(chunk, size, lines_.data(), lines_.size() - kScanSlack, &written, &lineEnds_);
    end_ = written;
    lineCursor_ = 0;
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
    if (IsNoise(line)) return Pass(offset, line, true);

    WordScan(line);

    if (line[0] == '[') {
        const size_t blank = line.find(' ');
        if (blank != std::string_view::npos) {
            const std::string_view rest = line.substr(blank + 1);
            if (StartsWithIgnoreCase(rest, "$players")) return PlayerListReply(offset);
            if (StartsWithIgnoreCase(rest, "$playerinfo")) return PlayerInfoReply(offset);
        }
        return Pass(offset, line, false);
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
    return Pass(offset, line, false);
}

namespace {

// Four characters as one word in memory order, for comparing with bytes loaded from a line.
constexpr uint32_t Word4(const char (&text)[5]) {
    uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
        const uint32_t byte = static_cast<unsigned char>(text[k]);
        word |= std::endian::native == std::endian::little ? byte << (8 * k) : byte << (8 * (3 - k));
    }
    return word;
}

// Positions in a line where a keyword may start: a blank followed by one of the letters every
// keyword begins with. Blocks of sixteen positions are checked at once where the buffer allows it;
// bit k of a block's mask stands for position base + k.
uint32_t KeywordCandidates(const char* at) {
#if defined(__SSE2__)
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i next = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1)), _mm_set1_epi8(0x20));
    const __m128i letters = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(next, _mm_set1_epi8('c')), _mm_cmpeq_epi8(next, _mm_set1_epi8('h'))),
        _mm_or_si128(_mm_cmpeq_epi8(next, _mm_set1_epi8('d')), _mm_cmpeq_epi8(next, _mm_set1_epi8('s'))));
    const __m128i hits = _mm_and_si128(_mm_cmpeq_epi8(here, _mm_set1_epi8(' ')), letters);
    return static_cast<uint32_t>(_mm_movemask_epi8(hits));
#else
    uint32_t mask = 0;
    for (int k = 0; k < 16; ++k) {
        const char first = Lower(at[k + 1]);
        if (at[k] == ' ' && (first == 'c' || first == 'h' || first == 'd' || first == 's')) mask |= 1u << k;
    }
    return mask;
#endif
}

}  // namespace

void ConsoleParser::WordScan(std::string_view line) {
    // The line lies in lines_, which keeps kScanSlack readable bytes behind its end, so a block may
    // run past the line; positions past it are masked off.
    for (size_t base = 0; base + 1 < line.size(); base += 16) {
        uint32_t mask = KeywordCandidates(line.data() + base);
        const size_t left = line.size() - 1 - base;   // positions that have a byte after them
        if (left < 16) mask &= (1u << left) - 1;
        for (; mask != 0; mask &= mask - 1) {
            const size_t i = base + static_cast<size_t>(std::countr_zero(mask));
            // The four bytes after the blank, in lower case, tell the keywords apart; only a match
            // there is compared in full (the bytes may run past the line into the slack).
            uint32_t word;
            std::memcpy(&word, line.data() + i + 1, sizeof word);
            word |= 0x20202020u;
            const std::string_view at = line.substr(i);
            if (word == Word4("conn")) {
                if (StartsWithIgnoreCase(at, " connection activity, \""))
                    OnActivity(at.substr(std::strlen(" connection activity, \"")));
            } else if (word == Word4("has ")) {
                if (StartsWithIgnoreCase(at, " has joined")) {
                    OnJoin(NameBefore(line, i));
                    return;
                }
                if (StartsWithIgnoreCase(at, " has left the game")) {
                    OnLeave(NameBefore(line, i));
                    return;
                }
            } else if (word == Word4("disc")) {
                if (StartsWithIgnoreCase(at, " disconnected!")) {
                    OnLeave(NameBefore(line, i));
                    return;
                }
            } else if (word == Word4("star")) {
                if (StartsWithIgnoreCase(at, " starts observing")) OnObserve(NameBefore(line, i));
            }
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
    fresh.reserve(current.size() + 1);
    for (line = LineAt(offset); !line.empty() && IsDigit(line[0]); line = LineAt(offset)) {
        uint32_t value = 0;
        for (size_t i = 0; i < line.size() && IsDigit(line[i]); ++i)
            value = value * 10 + static_cast<uint32_t>(line[i] - '0');   // wraps like the 16-bit field
        const uint32_t number = static_cast<uint16_t>(value);
        const std::string name = line.size() > 4 ? std::string(line.substr(4)) : std::string();
        if (number != 0) {
            found_.assign("Player found by Haldmoor3: '").append(name).append("'.");
            actions_.WriteConsoleLog(std::string_view(found_).substr(0, kFoundLineMax));
            state_.lastPlayerRowTick = state_.lastReceiveTick.load();
            // A known player keeps the time it was first listed; the operator's player view shows
            // the time online from it.
            fresh.push_back(PlayerSlot{number, name, 0, 0, state_.lastReceiveTick.load()});
            bool known = false;
            for (const PlayerSlot& slot : current) {
                if (slot.number == number && slot.name == name) {
                    known = true;
                    fresh.back().joinTick = slot.joinTick;
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
