// The figures one remote console connection keeps about its server: the settings copy, the player
// array of the last player-list reply, the player counters, the end flags and the activity note
// that ties a joining player to its address.
//
// One ConsoleState belongs to one remote console connection (the console client owns it for the
// life of the connection object). The connection's worker thread writes it through the console
// parser; the user-interface thread (supervisor, commands) reads the counters and flags. Counters
// that both threads touch are atomics; the player array and the end flags change only under
// `lock`, so a supervisor tick sees a whole array. Nothing here talks to the network or the disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "servers/console_settings.h"

namespace hm {

// One player of the server's player list.
struct PlayerSlot {
    uint32_t number = 0;           // the server's player number ("PNum"), 16 bits used
    std::string name;              // nickname as listed
    Tick lastObserveTick = 0;      // when the player last started observing, 0 = never
    uint32_t observeToggles = 0;   // quick successive observer starts
    Tick joinTick = 0;             // when a player-list reply first showed this player

    bool operator==(const PlayerSlot&) const = default;
};

inline constexpr uint32_t kNoRespawnTime = 0xFFFFFFFFu;   // no respawn time sent yet
inline constexpr size_t kActivityAddressMax = 127;        // characters kept of an activity address
inline constexpr uint32_t kInitialConsoleTimeout = 300000;
inline constexpr uint32_t kLoggedInConsoleTimeout = 120000;

struct ConsoleState {
    explicit ConsoleState(const ConsoleSettings& copy = ConsoleSettings(), uint16_t port = 0,
                          Tick now = 0);
    ConsoleState(const ConsoleState&) = delete;
    ConsoleState& operator=(const ConsoleState&) = delete;

    ConsoleSettings settings;   // the connection's own copy; later edits of the configuration never reach it
    uint16_t serverPort = 0;    // the server's game port, which names it in every event

    // Guards the end flags' changes, the swap of `players`, `lastReceiveTick`, `consoleTimeout`
    // and `emptyListTicks`.
    mutable std::mutex lock;

    std::atomic<uint32_t> quitByAdmin{0};     // "Shutting down" without our "quit"
    std::atomic<uint32_t> quitRequested{0};   // this program sent "quit"
    std::atomic<uint32_t> dataCorruption{0};  // "Network data corruption detected."

    std::vector<PlayerSlot> players;          // replaced whole under `lock`
    std::atomic<Tick> lastPlayerRowTick{0};
    std::atomic<Tick> lastReceiveTick{0};
    std::atomic<uint32_t> consoleTimeout{kInitialConsoleTimeout};
    std::atomic<uint32_t> emptyListTicks{0};
    std::atomic<int32_t> lastReportedCount{99};

    std::atomic<uint32_t> hasPlayers{0};
    std::atomic<int32_t> playerCount{0};
    std::atomic<uint32_t> listRequests{0};
    std::atomic<uint32_t> currentRespawnTime{kNoRespawnTime};

    // Only the worker thread touches the activity note.
    std::string activityAddress;
    Tick activityTick = 0;      // 0 = none
    uint32_t activityCount = 0;

    // Number of players in the current array, read under the lock.
    size_t PlayerArraySize() const;
    // Copy of the current array, read under the lock.
    std::vector<PlayerSlot> PlayersSnapshot() const;
    void ReplacePlayers(std::vector<PlayerSlot> fresh);
    void ClearPlayers();
    void SetFlag(std::atomic<uint32_t>& flag);   // sets one end flag under the lock
};

// Respawn time in seconds for n players: the maximum up to two players, then falling by `respawnStep`
// per player down to the minimum. Always within minRespawnTime ... maxRespawnTime, also for more
// players than the server has slots.
uint32_t RespawnTimeFor(const ConsoleSettings& settings, int64_t players);

// A dotted IPv4 address: four unsigned decimal numbers up to 255, separated by dots, nothing else.
bool IsDottedIPv4(const std::string& text);

}  // namespace hm
