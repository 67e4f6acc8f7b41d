// The simulated dedicated server: reads the files named on its command line, serves the game on its
// UDP port (simulated clients join, leave, chat, observe and inject faults, see protocol.h), the remote
// console on its TCP port, and GameSpy status queries. Prints every console line to stdout and to the
// logged-in consoles, and records its start and every console command in the cache folder.
//
// Owned by main(); the game state is touched by the main thread only: the I/O threads merely queue
// what they receive. Network text is only ever copied into output, never used as a format.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "config_files.h"
#include "console_server.h"
#include "event_queue.h"
#include "hosts_deny.h"
#include "players.h"
#include "platform/socket.h"
#include "record.h"

namespace hm::k3ded {

class GameServer {
public:
    GameServer();
    ~GameServer();
    // args: the whole argv. Returns the exit code.
    int Run(const std::vector<std::string>& args);

private:
    void StopThreads();
    bool Prepare(const std::vector<std::string>& args);
    void MainLoop();
    void Emit(const std::vector<std::string>& lines);
    void HandleDatagram(const ServerEvent& event);
    void HandleCommand(int connection, const std::string& line);
    void Reply(uint32_t address, uint16_t port, const std::string& text);
    // Prints the level change as one burst, with "Ending Level." first when a level was running.
    void StartLevel(uint32_t level, bool endCurrent);
    void RemovePlayer(const Player& player, const std::string& notice);
    void Shutdown();
    void UdpLoop();
    void GameSpyLoop();
    std::string HostsDenyPath() const;
    uint32_t Capacity() const;

    ServerOptions options_;
    ServerConfig config_;
    MultiSettings multi_;
    AutoexecSettings autoexec_;
    HostsDeny hostsDeny_;
    Recorder record_;
    PlayerList players_;
    EventQueue queue_;
    std::atomic<bool> hung_{false};
    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> playerCount_{0};
    std::unique_ptr<ConsoleServer> console_;
    TcpSocket udp_;
    TcpSocket gameSpy_;
    std::thread udpThread_;
    std::thread gameSpyThread_;
    std::string gameFolder_;
    uint32_t respawnTime_ = 15;
    uint32_t level_ = 1;
    uint32_t levelStartTick_ = 0;
    bool quitting_ = false;
    int exitCode_ = 0;
};

}  // namespace hm::k3ded
