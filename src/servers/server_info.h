// The run-time entry of one supervised server: its own copy of the configuration, the game server's
// process, its remote console connection and the counters the supervisor keeps.
//
// Entries live in CServerInfoArray; they are added and removed on the user-interface thread under the
// server list lock and read by worker threads. The entry owns its process object (whose destructor
// never kills the server) and its console connection, which it alone creates and deletes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/clock.h"
#include "platform/process.h"
#include "servers/archive.h"
#include "servers/remote_console.h"
#include "servers/server_config.h"

namespace hm {

class CServerInfo {
public:
    static constexpr uint32_t kVersion = 2;
    static constexpr uint32_t kProcessBlockVersion = 1;
    static constexpr uint32_t kCloseConsolePauseMs = 250;

    CServerInfo() = default;
    explicit CServerInfo(const CServerConfig& configuration) : config(configuration) {}
    CServerInfo(const CServerInfo&) = delete;
    CServerInfo& operator=(const CServerInfo&) = delete;

    uint32_t stoppedOnPurpose = 0;    // 0 after every launch
    uint32_t selectiveIdleTicks = 0;  // 0 after every launch; never stored
    uint32_t startTick = 0;           // tick count of the last launch, raw (may predate a reboot)
    uint32_t processId = 0;
    uint32_t threadId = 0;
    std::unique_ptr<Process> process;  // held while the server counts as started
    CServerConfig config;
    std::unique_ptr<RemoteConsole> console;

    bool IsStarted() const { return process != nullptr; }
    // Started and still there: a 10 ms wait on the process times out.
    bool IsRunning() const { return process && process->Wait(10) == Process::WaitResult::Timeout; }

    // Creates the connection only when the entry has none; returns the entry's connection (null when
    // the factory is empty or gave none).
    RemoteConsole* CreateConsole(const RemoteConsoleFactory& factory);
    // Sends quit (quit set) or logout, waits 250 ms on the clock, deletes the connection. Returns whether
    // it was connected before the call (0 when there was none).
    uint32_t CloseConsole(bool quit, Clock& clock);
    // CloseConsole in two halves, for closing many consoles at once: the farewell is handed to the
    // console's worker (the result as for CloseConsole), and later the connection is deleted, which
    // waits for its worker (bounded).
    uint32_t BeginCloseConsole(bool quit);
    void FinishCloseConsole();

    void Write(ArchiveWriter& ar);
    // Reads the stored identifiers; re-attaching to the process is the array's job, once the whole
    // entry (and so the configuration that identifies the process) has been read.
    void Read(ArchiveReader& ar);
};

}  // namespace hm
