#include "launch/server_launcher.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "launch/command_line.h"
#include "launch/custom_objects.h"
#include "launch/launch_preparation.h"
#include "launch/mission_description.h"
#include "launch/port_search.h"
#include "platform/files.h"
#include "servers/game_config_files.h"
#include "servers/random_string.h"
#include "trackers/tracker_file.h"

namespace hm {

namespace {

constexpr uint32_t kExitPollMs = 25;

// The absolute form of path with links resolved as far as it exists: its deepest existing ancestor
// resolved, and the parts below that appended as plain names. "" when a part is "..", since a name
// that does not exist yet cannot be resolved, or when no ancestor resolves.
std::string ResolvedAsFarAsItExists(const std::string& path) {
    if (path.empty()) return "";
    std::vector<std::string> parts;
    for (size_t at = 0; at <= path.size();) {
        const size_t end = std::min(path.find('/', at), path.size());
        const std::string part = path.substr(at, end - at);
        if (part == "..") return "";
        if (!part.empty() && part != ".") parts.push_back(part);
        at = end + 1;
    }
    const std::string start = path[0] == '/' ? "/" : ".";
    for (size_t existing = parts.size() + 1; existing-- > 0;) {
        std::string ancestor = start;
        for (size_t i = 0; i < existing; ++i) ancestor += (ancestor.back() == '/' ? "" : "/") + parts[i];
        std::string resolved = fs::ResolvedPath(ancestor);
        if (resolved.empty()) continue;
        for (size_t i = existing; i < parts.size(); ++i) resolved += (resolved.back() == '/' ? "" : "/") + parts[i];
        return resolved;
    }
    return "";
}

// Whether folder, which need not exist yet, lies below root once links are resolved.
bool WouldLieInsideFolder(const std::string& folder, const std::string& root) {
    const std::string inner = ResolvedAsFarAsItExists(folder);
    std::string outer = ResolvedAsFarAsItExists(root);
    if (inner.empty() || outer.empty()) return false;
    if (outer.back() != '/') outer += '/';
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0;
}

}  // namespace

CServerLauncher::CServerLauncher(LaunchContext ctx) : ctx_(std::move(ctx)) {}

std::string CServerLauncher::PortInUseText(const std::string& what, unsigned port) {
    char text[128];
    std::snprintf(text, sizeof text, kPortInUse, what.c_str(), port);
    return text;
}

void CServerLauncher::Inform(const std::string& text) {
    if (ctx_.messageBox) ctx_.messageBox(text);
}

void CServerLauncher::UpdateLine(const CServerInfo& entry) {
    if (ctx_.updateLine) ctx_.updateLine(entry);
}

void CServerLauncher::CreateConsole(CServerInfo& entry) {
    if (!ctx_.consoleFactory) return;
    entry.CreateConsole([this, &entry] { return ctx_.consoleFactory(entry); });
}

bool HostPortTaken(PortProtocol protocol, unsigned port) {
    return port <= kHighestPort && PortTakenOnHost(protocol, static_cast<uint16_t>(port));
}

std::string HostPortHolder(PortProtocol protocol, unsigned port) {
    PortHolder holder;
    if (port > kHighestPort || !FindPortHolder(protocol, static_cast<uint16_t>(port), holder)) return "";
    return holder.name + " (process " + std::to_string(holder.pid) + ")";
}

struct CServerLauncher::PortQuestion {
    const char* what;                                   // "Server (UDP)" and the like
    PortProtocol protocol;
    std::function<unsigned(unsigned)> findFree;         // the search, host included
    std::function<std::string(unsigned)> listHolder;    // the entry of ours that holds a port, or ""
};

PortAnswer CServerLauncher::SettlePort(uint16_t& port, unsigned server, const PortQuestion& question) {
    unsigned wanted = port;
    for (;;) {
        const unsigned free = question.findFree(wanted);
        if (free == wanted) break;
        if (ctx_.configs.globalOptions.autoChoosePorts && free != 0) {
            wanted = free;
            continue;
        }
        unsigned chosen = free;
        const PortAnswer answer = ctx_.askPort ? ctx_.askPort(PortInUseText(question.what, wanted), free, chosen)
                                               : PortAnswer::CancelAll;
        if (answer == PortAnswer::LeaveServer) {
            std::string holder = question.listHolder(wanted);
            if (holder.empty() && ctx_.portHolder) holder = ctx_.portHolder(question.protocol, wanted);
            const std::string what = PortInUseText(question.what, wanted);
            const std::string inUse = what.substr(0, what.size() - 1);  // without its "!"
            if (holder.empty()) {
                ctx_.events.AddEvent("Server %u: %s; the server was not started.", server, inUse.c_str());
            } else {
                ctx_.events.AddEvent("Server %u: %s by %s; the server was not started.", server, inUse.c_str(),
                                     holder.c_str());
            }
            return answer;
        }
        if (answer != PortAnswer::UsePort) return PortAnswer::CancelAll;
        // The dialog's field takes 1024 to 65535; anything else is asked again.
        wanted = (chosen >= kLowestSearchPort && chosen <= kHighestPort) ? chosen : wanted;
    }
    port = static_cast<uint16_t>(wanted);
    return PortAnswer::UsePort;
}

CServerInfo& CServerLauncher::Append(std::unique_ptr<CServerInfo> entry) {
    std::lock_guard<std::recursive_mutex> lock(ctx_.serverListLock);
    ctx_.servers.entries.push_back(std::move(entry));
    return *ctx_.servers.entries.back();
}

bool CServerLauncher::StartConfigurations(const std::vector<size_t>& configIndexes, bool automatic) {
    const CGlobalOptions& options = ctx_.configs.globalOptions;
    bool first = true;
    for (size_t index : configIndexes) {
        if (index >= ctx_.configs.configs.size()) continue;
        const bool isFirst = first;
        first = false;
        const CServerConfig& stored = ctx_.configs.configs[index];
        // Checked before the ports: a server that will not start must not cost the operator a port
        // question (whose cancel would even stop the servers after it).
        if (automatic && !stored.game.autoLaunchAllowed) continue;

        auto entry = std::make_unique<CServerInfo>(stored);
        CServerConfig& config = entry->config;
        CGameSettings& game = config.game;

        HostPortCheck udpTaken, tcpTaken;
        if (ctx_.portTaken) {
            udpTaken = [this](unsigned port) { return ctx_.portTaken(PortProtocol::Udp, port); };
            tcpTaken = [this](unsigned port) { return ctx_.portTaken(PortProtocol::Tcp, port); };
        }
        auto holderOf = [this](auto holds) {
            return [this, holds](unsigned port) {
                if (port == ctx_.configs.globalOptions.remoteInfo.port && holds(nullptr, port)) {
                    return std::string("the remote info server");
                }
                for (const auto& other : ctx_.servers.entries) {
                    if (holds(other.get(), port)) return "server " + std::to_string(other->config.launch.serverPort);
                }
                return std::string();
            };
        };
        const PortQuestion gameQuestion{
            "Server (UDP)", PortProtocol::Udp,
            [&](unsigned wanted) { return FindFreeGamePort(wanted, ctx_.servers, options, udpTaken); },
            holderOf([](const CServerInfo* other, unsigned port) {
                return !other || other->config.launch.serverPort == port;
            })};
        const PortQuestion consoleQuestion{
            "Remote console (TCP)", PortProtocol::Tcp,
            [&](unsigned wanted) { return FindFreeConsolePort(wanted, ctx_.servers, tcpTaken); },
            holderOf([](const CServerInfo* other, unsigned port) {
                return other && other->config.game.allowRemoteConsole && other->config.game.remoteConsolePort == port;
            })};
        const PortQuestion gameSpyQuestion{
            "GameSpy (UDP)", PortProtocol::Udp,
            [&](unsigned wanted) { return FindFreeGameSpyPort(wanted, ctx_.servers, udpTaken); },
            holderOf([](const CServerInfo* other, unsigned port) {
                return other && other->config.trackers.enabled && other->config.launch.gameSpyPort == port;
            })};

        const unsigned wantedGamePort = config.launch.serverPort;
        PortAnswer answer = SettlePort(config.launch.serverPort, wantedGamePort, gameQuestion);
        if (answer == PortAnswer::UsePort) {
            if (!game.allowRemoteConsole || game.consolePassword.empty()) {
                // The program always supervises its servers through the console.
                game.allowRemoteConsole = 1;
                game.consolePassword = RandomString(ctx_.clock.TickCount());
                const unsigned port = consoleQuestion.findFree(game.remoteConsolePort);
                if (port != 0) game.remoteConsolePort = static_cast<uint16_t>(port);
            } else {
                answer = SettlePort(game.remoteConsolePort, config.launch.serverPort, consoleQuestion);
            }
        }
        if (answer == PortAnswer::UsePort && config.trackers.enabled) {
            answer = SettlePort(config.launch.gameSpyPort, config.launch.serverPort, gameSpyQuestion);
        }
        if (answer == PortAnswer::CancelAll) return false;
        if (answer == PortAnswer::LeaveServer) continue;

        if (!PrepareServerLaunch(config, ctx_.systemInfo, ctx_.installation, options, kLaunchStem,
                                 [this](const std::string& text) { Inform(text); })) {
            continue;
        }

        const unsigned port = config.launch.serverPort;
        if (config.schedule.enabled) {
            // The entry's minute table was rebuilt from its own events by the preparation, so the
            // supervisor asks the same table the stored configuration would give.
            CServerInfo& added = Append(std::move(entry));
            UpdateLine(added);
            ctx_.events.AddEvent("Server %u: Scheduled.", port);
        } else if (automatic || isFirst) {
            StartServer(std::move(entry));
        } else {
            CServerInfo& added = Append(std::move(entry));
            UpdateLine(added);
            ctx_.events.AddEvent("Server %u: Scheduled.", port);
        }
    }
    return true;
}

bool CServerLauncher::StartServer(std::unique_ptr<CServerInfo> entry) {
    std::lock_guard<std::recursive_mutex> lock(ctx_.serverListLock);
    if (!LaunchServer(*entry)) {
        ctx_.events.AddEvent("Server %u: Failed to start.", static_cast<unsigned>(entry->config.launch.serverPort));
        return false;
    }
    CServerInfo& added = Append(std::move(entry));
    UpdateLine(added);
    if (added.config.game.allowRemoteConsole) CreateConsole(added);
    return true;
}

bool CServerLauncher::StartProcess(CServerInfo& entry, const std::string& commandLine) {
    if (entry.process) {
        // Never a second process for one entry: a live one (re-attached, verified) counts as started.
        if (entry.process->IsRunning()) return true;
        entry.process.reset();
    }
    const std::string gameFolder = ctx_.installation.GameFolder();
    const std::string executable = gameFolder + "/" + entry.config.launch.executable;
    std::string output = ctx_.outputFile ? ctx_.outputFile(entry) : std::string();
    if (output.empty()) {
        output = ctx_.systemInfo.logFolder + std::to_string(entry.config.launch.serverPort) + ".out";
    }
    entry.process = Process::Spawn(executable, commandLine, gameFolder, output);
    if (!entry.process) {
        entry.processId = 0;
        entry.threadId = 0;
        return false;
    }
    entry.processId = entry.process->Pid();
    entry.threadId = entry.processId;  // a process's main thread carries the process id here
    return true;
}

bool CServerLauncher::LaunchServer(CServerInfo& entry) {
    CServerConfig& config = entry.config;
    CLaunchSettings& launch = config.launch;
    const unsigned port = launch.serverPort;
    const std::string gameFolder = ctx_.installation.GameFolder();

    entry.startTick = ctx_.clock.TickCount();
    entry.stoppedOnPurpose = 0;
    entry.selectiveIdleTicks = 0;

    // The folder's name comes from the stored server list, which anyone may have edited: the launch
    // creates it, deletes its lock file and writes into it, so it must lie inside the game's cache
    // folder, also where it does not exist yet.
    const std::string& cacheFolder = launch.tempDir;
    const std::string cacheRoot = gameFolder + "/custom/cache";
    if (!WouldLieInsideFolder(cacheFolder, cacheRoot)) {
        ctx_.events.AddEvent("Server %u: Error: the cache folder '%s' is not inside '%s'; the server is not started.",
                             port, cacheFolder.c_str(), cacheRoot.c_str());
        return false;
    }
    if (fs::FileExists(cacheFolder + "/.lock")) fs::DeleteFile(cacheFolder + "/.lock");
    const int connectionKind = ConnectionKindFromName(config.game.connectionName);
    fs::CreateFolders(cacheFolder);

    ExtractMissionObjects(ctx_.events, port, config.game.missionFileName, gameFolder);
    PrepareMissionDescriptionFile(ctx_.events, port, gameFolder, config.game.missionFileName,
                                  config.game.customDescription != 0, config.customDescriptionText);

    const bool written =
        WriteServerConfigFile(config.game, launch.configFile, connectionKind) &&
        WriteMultiSettingsFile(config.ships, config.game.multiSettingsFile, config.game.gameName) &&
        WriteAutoexecFile(config.autoexec, launch.autoexecFile) &&
        WriteTrackerFile(config.trackers, gameFolder + "/" + launch.gameSpyFile, ctx_.configs.globalOptions.region);
    if (!written) {
        Inform(kWriteFilesFailed);
        return false;
    }

    const std::string commandLine = BuildCommandLine(launch, ctx_.installation.Version(), connectionKind);
    if (!StartProcess(entry, commandLine)) return false;

    if (connectionKind == kConnectionMeridianOnline) {
        ctx_.events.AddEvent("Server %u: Launched - %s.", port, "MRO");
    } else if (connectionKind == kConnectionDirectTcpIp) {
        ctx_.events.AddEvent("Server %u: Launched - %s.", port, "TCP/IP");
    } else {
        ctx_.events.AddEvent("Server %u: Launched.", port);
    }
    return true;
}

int CServerLauncher::StartServerAt(size_t& index) {
    CServerInfo& entry = *ctx_.servers.entries[index];
    if (LaunchServer(entry)) {
        UpdateLine(entry);
        if (entry.config.game.allowRemoteConsole) CreateConsole(entry);
        return 1;
    }
    ctx_.events.AddEvent("Server %u: Startup failed.", static_cast<unsigned>(entry.config.launch.serverPort));
    RemoveServer(index);
    return 0;
}

void CServerLauncher::EndProcesses(const std::vector<CServerInfo*>& entries) {
    // Every console gets its "quit" before anything waits, and says it on its own worker; the pause
    // before the connections go is kept once for all of them.
    std::vector<CServerInfo*> quitting;  // the consoles that were connected: their servers were told
    bool anyConsole = false;
    for (CServerInfo* entry : entries) {
        if (!entry->config.game.allowRemoteConsole || !entry->console) continue;
        anyConsole = true;
        if (entry->BeginCloseConsole(true) != 0) quitting.push_back(entry);
    }
    if (anyConsole) ctx_.clock.Sleep(CServerInfo::kCloseConsolePauseMs);
    for (CServerInfo* entry : entries) {
        if (entry->config.game.allowRemoteConsole) entry->FinishCloseConsole();
    }

    // One grace for all the servers that were told to quit, not one after another.
    const Tick graceStart = ctx_.clock.TickCount();
    for (;;) {
        bool waiting = false;
        for (CServerInfo* entry : quitting) {
            if (entry->process && entry->process->Wait(0) != Process::WaitResult::Exited) {
                waiting = true;
                break;
            }
        }
        if (!waiting || Elapsed(ctx_.clock.TickCount(), graceStart) >= kQuitGraceMs) break;
        ctx_.clock.Sleep(kExitPollMs);
    }

    // The process objects are either our own children or re-attached ones that proved to be this
    // server, so the signal cannot hit a stranger.
    std::vector<CServerInfo*> killed;
    for (CServerInfo* entry : entries) {
        if (entry->process && entry->process->Wait(0) != Process::WaitResult::Exited &&
            entry->process->Terminate()) {
            killed.push_back(entry);
        }
    }
    // A killed process is gone within moments; wait for them (one real-time bound for all) so that
    // their ports and files are free before anyone starts the servers again.
    const auto killDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kKilledExitMs);
    for (CServerInfo* entry : killed) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(killDeadline -
                                                                                 std::chrono::steady_clock::now());
        entry->process->Wait(static_cast<uint32_t>(std::max<int64_t>(0, left.count())));
    }
    for (CServerInfo* entry : entries) {
        entry->process.reset();
        entry->processId = 0;
        entry->threadId = 0;
    }

    if (!entries.empty()) ctx_.clock.Sleep(kAfterStopPauseMs);
}

void CServerLauncher::CleanUpAfterStop(CServerInfo& entry) {
    CServerConfig& config = entry.config;
    const unsigned port = config.launch.serverPort;

    // The folder's name comes from the stored server list, which anyone may have edited: only a
    // folder that, links resolved, lies inside the game's cache folder is deleted. Inside it, links
    // are removed rather than what they point to, and read-only files go too.
    const std::string& cacheFolder = config.launch.tempDir;
    const std::string cacheRoot = ctx_.installation.GameFolder() + "/custom/cache";
    if (!fs::ResolvedPath(cacheFolder).empty()) {
        if (fs::LiesInsideFolder(cacheFolder, cacheRoot)) {
            fs::RemoveFolder(cacheFolder, true);
        } else {
            ctx_.events.AddEvent("Server %u: Error: the cache folder '%s' is not inside '%s'; it is left in place.", port,
                                 cacheFolder.c_str(), cacheRoot.c_str());
        }
    }

    const std::string& mission = config.game.missionFileName;
    bool shared = false;
    for (const auto& other : ctx_.servers.entries) {
        if (other.get() != &entry && fs::EqualsIgnoreCase(other->config.game.missionFileName, mission)) {
            shared = true;
            break;
        }
    }
    if (!shared) {
        const std::string gameFolder = ctx_.installation.GameFolder();
        RemoveMissionDescriptionFile(ctx_.events, port, gameFolder, mission, config.game.customDescription != 0,
                                     config.customDescriptionText);
        RemoveMissionObjects(ctx_.events, port, mission, gameFolder);
    }
    ctx_.events.AddEvent("Server %u: Stopped.", port);
}

void CServerLauncher::StopServer(CServerInfo& entry) {
    EndProcesses({&entry});
    CleanUpAfterStop(entry);
}

void CServerLauncher::RemoveServers(const std::vector<size_t>& indexes, const std::function<void()>& afterEach) {
    std::vector<CServerInfo*> batch;
    for (size_t index : indexes) {
        if (index >= ctx_.servers.entries.size()) continue;
        CServerInfo* entry = ctx_.servers.entries[index].get();
        if (std::find(batch.begin(), batch.end(), entry) != batch.end()) continue;
        entry->stoppedOnPurpose = 0;
        batch.push_back(entry);
    }
    EndProcesses(batch);
    // One entry after the other, as single removals would: an entry of the batch that is still in
    // the list keeps its mission's files for the one removed after it.
    for (CServerInfo* entry : batch) {
        const unsigned port = entry->config.launch.serverPort;
        CleanUpAfterStop(*entry);
        ctx_.events.AddEvent("Server %u: Removed.", port);
        if (ctx_.removeLine) ctx_.removeLine(port);
        {
            std::lock_guard<std::recursive_mutex> lock(ctx_.serverListLock);
            auto& list = ctx_.servers.entries;
            list.erase(std::find_if(list.begin(), list.end(), [entry](const auto& e) { return e.get() == entry; }));
        }
        if (afterEach) afterEach();
    }
}

void CServerLauncher::RemoveServer(size_t& index) {
    RemoveServers({index});
    --index;
}

void CServerLauncher::HaltServer(size_t index) {
    CServerInfo& entry = *ctx_.servers.entries[index];
    StopServer(entry);
    UpdateLine(entry);
    entry.stoppedOnPurpose = 1;
}

}  // namespace hm
