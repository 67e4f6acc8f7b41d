// What a supervised server's entry needs from its remote console connection: the entry owns the
// connection and ends it, the console client itself lives in the supervision module.
//
// The entry (CServerInfo) creates and deletes the connection on the user-interface thread; the
// connection's own worker thread does the talking. Nothing here waits for an answer from the network:
// the getters read the connection's figures (under its own lock where the worker writes them), and the
// requests hand one command line to the worker and return at once (the worker keeps the pauses between
// its sends); a connection without a running worker sends nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hm {

// The figures the supervisor reads, taken together so that one tick sees one consistent picture.
struct ConsoleFigures {
    size_t listedPlayers = 0;        // players in the array of the last player-list reply
    bool hasPlayers = false;         // the server is believed to hold players
    int32_t playerCount = 0;         // believed number of players
    uint32_t emptyListTicks = 0;     // supervisor ticks in a row that saw an empty player array
    int32_t lastReportedCount = 99;  // player count the supervisor announced last
    uint32_t lastReceiveTick = 0;    // ms tick of the last console data
    uint32_t consoleTimeout = 300000;  // ms of silence after which the console counts as dead
    uint32_t lastPlayerRowTick = 0;  // ms tick of the last player row read
    bool quitByAdmin = false;        // the server shut down without being told to by us
    bool dataCorruption = false;     // the server reported corrupted network data
    bool autoRepeat = false;         // the automatic commands are to be repeated ...
    uint32_t autoRepeatMinutes = 0;  // ... every this many minutes
};

// One player of the console's player array, as the operator's player view shows it.
struct ConsolePlayer {
    uint32_t number = 0;     // the server's player number
    std::string name;
    uint32_t onlineMs = 0;   // since a player-list reply first showed the player
};

// Console lines a connection keeps for the server window.
inline constexpr size_t kConsoleLinesKept = 2000;

// Receives the reply to one operator console command: the lines the console read after the command
// went out. Called once, on the connection's worker thread (or on the caller's, when the connection
// ends before the command went out); it must not block.
using ConsoleReply = std::function<void(const std::string& reply)>;

class RemoteConsole {
public:
    virtual ~RemoteConsole() = default;
    // A TCP connection to the server's console is established.
    virtual bool IsConnected() const = 0;
    // The server is believed to hold players.
    virtual bool HasPlayers() const = 0;
    // Logs out and ends the worker; the game server keeps running.
    virtual void SendLogout() = 0;
    // Tells the game server to quit, then ends the worker.
    virtual void SendQuit() = 0;
    // The first half of SendQuit (quit set) or SendLogout: hands the farewell to the worker and returns
    // at once, so that many connections say goodbye at the same time. FinishClose waits for the worker
    // (bounded); the destructor does it too.
    virtual void BeginClose(bool quit) { quit ? SendQuit() : SendLogout(); }
    virtual void FinishClose() {}
    // The connection's next command goes out no sooner than `ms` from now; the caller does not wait.
    virtual void HoldSends(uint32_t ms) { (void)ms; }

    virtual ConsoleFigures Figures() const = 0;
    // Sets the believed player count; hasPlayers follows (n != 0).
    virtual void SetPlayerCount(int32_t n) = 0;
    // The supervisor's own bookkeeping kept with the connection (a new connection starts afresh).
    virtual void SetEmptyListTicks(uint32_t ticks) = 0;
    virtual void SetLastReportedCount(int32_t count) = 0;
    // Asks for the player list ("$players"); 1 when sent, 0 without a worker.
    virtual int RequestPlayers() = 0;
    virtual void SetMaxPlayers(uint32_t n) = 0;
    // Sends the operator's automatic commands (one or all, as the console settings say).
    virtual void SendAutoCommands() = 0;

    // The operator's commands. Each hands its lines to the worker like every other command; a
    // connection without a worker sends nothing.
    virtual std::vector<ConsolePlayer> Players() const { return {}; }
    virtual void Say(const std::string& text) { (void)text; }
    // With a message: says it first and keeps the pause before the kick (ban).
    virtual void Kick(int number, const std::optional<std::string>& message) { (void)number, (void)message; }
    virtual void Ban(int number, const std::optional<std::string>& message) { (void)number, (void)message; }
    // Sends one console line (without line end) and collects what the console reads after it until a
    // second of silence or five seconds in all, then hands it to `reply`. False, and no call of
    // `reply`, when the connection cannot take it (no worker, not connected, another command still
    // waiting for its reply).
    virtual bool SendConsoleCommand(const std::string& line, ConsoleReply reply) {
        (void)line, (void)reply;
        return false;
    }
    // The console lines read since the line numbered `sequence`, oldest first: the lines the console
    // log holds (whether or not it is written), the last kConsoleLinesKept of them. Numbers grow
    // across all connections of the program, so a caller that meets a new connection of the same
    // server simply goes on asking with the number it has. `last` becomes the number of the newest
    // line (`sequence` when there is none newer).
    virtual std::vector<std::string> ConsoleLinesAfter(uint64_t sequence, uint64_t& last) const {
        last = sequence;
        return {};
    }
};

// Builds the connection for one entry (the supervision module binds event list, settings, rules, ...).
using RemoteConsoleFactory = std::function<std::unique_ptr<RemoteConsole>()>;

}  // namespace hm
