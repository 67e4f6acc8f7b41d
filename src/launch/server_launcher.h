// Turning stored configurations into running game servers and taking them down again: the two start
// commands with their port settling, the launch of one entry (its cache folder, mission files, the
// game's four files, the command line and the process), and the stop, removal and halt of an entry.
//
// One CServerLauncher per server manager, which owns everything the launcher works on and hands it
// references through LaunchContext. Used on the user-interface thread only (operator commands,
// start-up, the supervisor tick). It adds and removes entries of the server list only under
// serverListLock; stopping a process holds no lock. It only ever signals a process that it started
// itself or that was re-attached after proving it is this server; it never deletes anything outside
// the server's own cache folder except through the mission clean-up, which guards itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "eventlog/event_log.h"
#include "game/game_installation.h"
#include "launch/port_search.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "servers/server_config_array.h"
#include "servers/server_info_array.h"
#include "servers/system_info.h"

namespace hm {

inline constexpr const char* kWriteFilesFailed = "Error writing the server configuration files!";
inline constexpr const char* kPortInUse = "%s port %u is already in use!";

// References into the server manager and the few things the screen must do for a launch.
struct LaunchContext {
    Clock& clock;
    EventLogList& events;
    CSystemInfo& systemInfo;
    CGameInstallation& installation;
    CServerConfigArray& configs;
    CServerInfoArray& servers;
    std::recursive_mutex& serverListLock;
    // The port question: shows `message`, offers `nextFree` in a port field. UsePort with the chosen
    // port; LeaveServer leaves only this configuration unstarted (with an event line naming the port
    // and its holder); CancelAll stops the handling of the rest of the list. Empty: CancelAll.
    std::function<PortAnswer(const std::string& message, unsigned nextFree, unsigned& chosen)> askPort;
    std::function<void(const std::string& text)> messageBox;
    std::function<void(const CServerInfo&)> updateLine;  // status line refresh
    std::function<void(unsigned port)> removeLine;
    // Builds the remote console of a started entry; may be empty (no console yet).
    std::function<std::unique_ptr<RemoteConsole>(CServerInfo&)> consoleFactory;
    // Where a server's stdout and stderr go ("" = the log folder's "<port>.out").
    std::function<std::string(const CServerInfo&)> outputFile;
    // Whether another program of the host holds a port, and who ("" when unknown); empty = the
    // server list alone decides. Production passes HostPortTaken and HostPortHolder.
    std::function<bool(PortProtocol, unsigned port)> portTaken;
    std::function<std::string(PortProtocol, unsigned port)> portHolder;
};

bool HostPortTaken(PortProtocol protocol, unsigned port);
// "name (process N)" of the program holding the port, "" when unknown.
std::string HostPortHolder(PortProtocol protocol, unsigned port);

class CServerLauncher {
public:
    static constexpr uint32_t kQuitGraceMs = 2000;   // after a console quit, before terminating
    static constexpr uint32_t kKilledExitMs = 2000;  // real time for a killed process to be gone
    static constexpr uint32_t kAfterStopPauseMs = 1000;

    explicit CServerLauncher(LaunchContext ctx);

    // The two start commands: the server list's "Start" (automatic false) and the automatic start at
    // program start (automatic true). Indexes into configs.configs. False when the operator cancelled
    // a port question (configurations handled before stay).
    bool StartConfigurations(const std::vector<size_t>& configIndexes, bool automatic);
    // Launches a prepared entry that is not in the list yet and appends it. False (with "Failed to
    // start.") when the launch failed; the entry is then dropped.
    bool StartServer(std::unique_ptr<CServerInfo> entry);
    // Writes the game's files and starts the process for an entry (new, restarted or re-attached).
    bool LaunchServer(CServerInfo& entry);
    // Launches the list entry at index; on failure "Startup failed." and the entry is removed (the
    // index steps back). Non-zero on success.
    int StartServerAt(size_t& index);
    // Quits or terminates the process and removes what the launch left; the entry stays.
    void StopServer(CServerInfo& entry);
    // StopServer, then the entry leaves the list; index steps back by one.
    void RemoveServer(size_t& index);
    // RemoveServer for several entries at once, in the order given (the event lines and the clean-up
    // of each entry follow that order). The servers go down side by side: every console is told to
    // quit first, the waits for the processes share one deadline and the pause after the stop is kept
    // once, so many servers stop in about the time of one. `afterEach` runs after each removal.
    void RemoveServers(const std::vector<size_t>& indexes, const std::function<void()>& afterEach = {});
    // The supervisor's stop: the entry stays, marked as stopped on purpose.
    void HaltServer(size_t index);

    // The console port clash and the GameSpy clash use these labels in the port question.
    static std::string PortInUseText(const std::string& what, unsigned port);

private:
    struct PortQuestion;
    // Settles one port: UsePort with a free port in `port`; LeaveServer after the event line for
    // `server`; CancelAll when the operator cancelled.
    PortAnswer SettlePort(uint16_t& port, unsigned server, const PortQuestion& question);
    CServerInfo& Append(std::unique_ptr<CServerInfo> entry);
    bool StartProcess(CServerInfo& entry, const std::string& commandLine);
    // The first half of a stop, for one or many entries together: console quit, the grace for the
    // processes to end, the kill of those left and the pause after the stop. The entries stay.
    void EndProcesses(const std::vector<CServerInfo*>& entries);
    // The second half: cache folder, mission files (while no other entry hosts the mission), "Stopped.".
    void CleanUpAfterStop(CServerInfo& entry);
    void CreateConsole(CServerInfo& entry);
    void UpdateLine(const CServerInfo& entry);
    void Inform(const std::string& text);

    LaunchContext ctx_;
};

}  // namespace hm
