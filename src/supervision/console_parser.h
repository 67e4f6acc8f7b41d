// The console output parser: reads what a game server prints on its remote console and keeps the
// connection's picture of the server up to date. It recognises players joining, leaving and
// switching to observer mode, their addresses, the replies to "$players" and "$playerinfo", level
// starts, data corruption and shutdown; it kicks and bans players the nickname rules refuse, kicks
// observer flippers, tunes the respawn time to the number of players, records player addresses and
// writes every line that is not noise to the console log exactly once, in order.
//
// A ConsoleParser belongs to one remote console connection and runs only on that connection's
// worker thread, one chunk at a time. It never touches a socket, a file or the event list itself:
// everything it sends or reports goes through ConsoleActions, which the console client implements
// (and tests implement with a recorder). Text from the network is only ever data: it is never used
// as a format string or a path, and the parser never reads outside its line buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "supervision/console_state.h"

namespace hm {

// What the nickname rules say about a newly listed player.
enum class PlayerVerdict { None, Invalid, Hacked, TooShort, Disallowed };

// The parser's way out: commands back to the server, the rules and stores it consults, the event list
// and the console log. Called only on the connection's worker thread.
class ConsoleActions {
public:
    virtual ~ConsoleActions() = default;

    // The worker thread is still wanted (its handle has not been given up by logout or quit).
    virtual bool ThreadRunning() = 0;
    // Sends one complete command line (with its "\r\n"); the connection's next line follows 100 ms later.
    virtual void SendCommand(const std::string& line) = 0;
    // "$playerinfo %d" (the client applies its player-count rule).
    virtual void RequestPlayerInfo(int number) = 0;
    // "$SetRespawnTime %u" unless equal to the last value sent.
    virtual void SetRespawnTime(uint32_t seconds) = 0;
    // Says the message first when one is given (even an empty one), then kicks or bans after the
    // pause; nothing here waits.
    virtual void Kick(int number, const std::optional<std::string>& message) = 0;
    virtual void Ban(int number, const std::optional<std::string>& message) = 0;
    // "$rehash", the automatic commands and the counters of a level start.
    virtual void OnLevelStart() = 0;
    // A pause before the connection's next line; the reading goes on meanwhile, and the pause ends early
    // when the connection is being stopped.
    virtual void Pause(uint32_t ms) = 0;

    virtual PlayerVerdict NicknameVerdict(const std::string& name) = 0;
    // Records an address for a player; true when it was new for that name.
    virtual bool UpdatePlayer(const std::string& name, const std::string& address) = 0;
    // Rewrites the player list for people after a change.
    virtual void SavePlayers() = 0;

    // One finished event text (already formatted; "Server %u: ..."), shown as data.
    virtual void AddEvent(const std::string& text) = 0;
    virtual void WriteConsoleLog(std::string_view line) = 0;
};

class ConsoleParser {
public:
    // Bytes reserved for the line buffer up front: twice the largest chunk the worker hands over.
    static constexpr size_t kLineBufferBytes = 262144;

    ConsoleParser(ConsoleState& state, ConsoleActions& actions, Clock& clock);

    // Normalises `size` bytes of `chunk` into the line buffer and processes its lines.
    void Parse(const char* chunk, size_t size);

    // The line buffer of the last Parse (lines separated by NUL, four NUL bytes at the end).
    std::string_view LineBuffer() const { return std::string_view(lines_.data(), end_); }

    // A name is refused for a "%" when, scanning from the left, the first byte that is "%" or not
    // printable ASCII is a "%".
    static bool InvalidBecauseOfPercent(std::string_view name);

private:
    // Offsets into lines_; a line runs up to its NUL.
    std::string_view LineAt(size_t offset) const;
    size_t Advance(size_t offset);
    // Advance for a line already looked at: logs it unless it is noise and returns the next offset.
    size_t Pass(size_t offset, std::string_view line, bool noise);
    bool IsNoise(std::string_view line) const;

    size_t ProcessLine(size_t offset);
    void WordScan(std::string_view line);
    void OnActivity(std::string_view afterKeyword);
    void OnJoin(const std::string& name);
    void OnLeave(const std::string& name);
    void OnObserve(const std::string& name);
    // Replies return the offset of the line to go on with: a line they have not handled (the reply
    // was abandoned there, or it ended the rows) is processed from the start like any other.
    size_t PlayerListReply(size_t offset);
    size_t PlayerInfoReply(size_t offset);
    void ActOnVerdict(int number, const std::string& name);

    // "Server <port>: " + rest.
    void Event(std::string_view rest);

    ConsoleState& state_;
    ConsoleActions& actions_;
    Clock& clock_;
    std::vector<char> lines_;
    size_t end_ = 0;   // bytes of lines_ in use, end bytes included
    static constexpr size_t kScanSlack = 32;   // readable bytes kept behind the buffer's end
    std::vector<size_t> lineEnds_;             // offsets of the NULs that end lines, from the normaliser
    mutable size_t lineCursor_ = 0;            // index into lineEnds_ of the line last looked at
    std::string eventPrefix_;   // "Server <port>: "
    std::string found_;         // the "Player found" log line, its capacity kept between rows
};

}  // namespace hm
