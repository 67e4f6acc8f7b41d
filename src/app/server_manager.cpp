#include "app/server_manager.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "eventlog/event_loop.h"
#include "eventlog/jotwell_binding.h"
#include "launch/mission_archive.h"
#include "launch/server_import.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service_notify.h"
#include "servers/config_text.h"
#include "servers/dialog_state.h"
#include "servers/game_config_text.h"
#include "supervision/remote_console_client.h"

namespace hm {

namespace {

// The remote info server as the service the options dialog restarts; it binds to the alternate
// server address the options hold when it starts.
class OwnInfoService : public InfoService {
public:
    OwnInfoService(RemoteInfoServer& server, EventLogList& events, const CGlobalOptions& options)
        : server_(server), events_(events), options_(options) {}
    void Stop() override { server_.StopInfoServer(false); }
    // Without a password the service is not offered, as at start-up: every request would pass the
    // check of an empty password.
    void Start(const RemoteInfoSettings& settings) override {
        if (settings.password.empty()) return;
        server_.StartInfoServer(settings, events_, options_.alternateAddress);
    }

private:
    RemoteInfoServer& server_;
    EventLogList& events_;
    const CGlobalOptions& options_;
};

}  // namespace

ServerManager::ServerManager(const ManagerContext& context)
    : systemInfo(context.workingFolder),
      installation(*context.registry, context.readMission ? context.readMission : MissionArchiveReader(&ReadMissionArchive)),
      players(*context.clock),
      watch(*context.clock, &events),
      events(*context.clock, context.jotwell, context.loop),
      remoteInfo(servers, serverListLock, trackerInfo, events, *context.clock),
      launcher(MakeLaunchContext(*context.clock)),
      supervisor(*context.clock, events, configs, servers, MakeSupervisorActions()),
      stopWarnings(*context.clock, events),
      ctx_(context),
      clock_(*context.clock),
      view_(*context.view),
      updateThread(*context.clock) {
    events.SetSink(&view_);
    events.SetObserver(&watch);
    metricsFile = MetricsFile(context.metricsFile);
    installation.SetEventReporter([this](const std::string& text) { events.AddEvent("%s", text.c_str()); });
    // A new options record offers the global log exactly when the library is there.
    configs.globalOptions = CGlobalOptions(clock_.TickCount(), ctx_.jotwell && ctx_.jotwell->jotwellPresent());
    ownInfoService_ = std::make_unique<OwnInfoService>(remoteInfo, events, configs.globalOptions);
    infoService_ = ownInfoService_.get();
}

ServerManager::~ServerManager() {
    watch.sender.Stop(0);
    updateThread.Stop();
    if (warningTimer && ctx_.loop) ctx_.loop->KillTimer(warningTimer);
    if (supervisorTimer && ctx_.loop) ctx_.loop->KillTimer(supervisorTimer);
}

std::string ServerManager::WindowTitle(uint32_t version) {
    char title[512];
    if (version >= 0x030054) {
        std::snprintf(title, sizeof title, "%s v%u.%u by %s  >>> new version %u.%u.%u available <<<", "Haldmoor3", 3u,
                      0u, kAuthorCredit, (version >> 16) & 0xFF, (version >> 8) & 0xFF, version & 0xFF);
    } else {
        std::snprintf(title, sizeof title, "%s v%u.%u by %s", "Haldmoor3", 3u, 0u, kAuthorCredit);
    }
    return title;
}

void ServerManager::ReportLoad(StoreLoad result, const std::string& file, const StoreFileState& state, bool cache) {
    if (result == StoreLoad::Damaged) {
        events.AddEvent("Error: %s is damaged; what could be read was loaded, the file was kept as %s.", file.c_str(),
                        state.lastDamagedPath.c_str());
    } else if (result == StoreLoad::Unreadable) {
        events.AddEvent(cache ? kCacheUnreadableText : kStoreUnreadableText, file.c_str(),
                        state.unreadableReason.c_str());
    }
}

void ServerManager::ReportWrite(StoreFileState& state, const char* fileName) {
    const std::string cause = TakeWriteFailureToReport(state);
    if (cause.empty()) return;
    const std::string path = systemInfo.configFolder + fileName;
    events.AddEvent(kStoreWriteFailedText, path.c_str(), cause.c_str());
}

void ServerManager::StartUp() {
    // 1-3: window, title, info fields.
    view_.Minimize();
    view_.SetTitle(WindowTitle(0));
    view_.SetInfo(InfoField::NetworkAddress, systemInfo.localAddresses.empty()
                                                 ? std::string("not found")
                                                 : systemInfo.NetworkAddressText());
    view_.SetInfo(InfoField::GameFolder, installation.GameFolder());
    view_.SetInfo(InfoField::GameVersion, installation.VersionText());

    // 4-5.
    std::string folder = systemInfo.configFolder.substr(0, 2047);
    events.AddEvent("Haldmoor3 configuration: %s", folder.c_str());
    events.AddEvent("Initializing...");
    std::unique_ptr<ProgressSteps> progress = view_.CreateProgress();
    if (progress) progress->Setup("Initializing Haldmoor3", 12);

    if (!RunStartUpSteps(progress.get())) {
        // 24: a failed initialisation ends the run right after the sequence.
        events.AddEvent("Initialization failed.");
        initFailed_ = true;
        view_.RequestClose();
    }

    // 25.
    view_.SetTitle(WindowTitle(configs.globalOptions.versionCheck ? configs.globalOptions.latestVersion : 0));

    // 27.
    if (progress) progress->Step("Finished!");
    progress.reset();
    view_.ShowNormal();

    // Under a service manager: started, and from now on a ping from the UI thread at half the watchdog
    // interval (the supervisor period may be longer), so a hung UI thread gets the program restarted.
    if (initFailed_) return;
    NotifyServiceManager("READY=1\nSTATUS=Supervising " + std::to_string(servers.entries.size()) + " server(s).");
    if (const uint32_t watchdogMs = WatchdogIntervalMs(); watchdogMs && ctx_.loop)
        ctx_.loop->SetTimer(std::max<uint32_t>(watchdogMs / 2, 1), [] { NotifyServiceManager("WATCHDOG=1"); });
}

// Steps 6 to 23; false when the game installation cannot be initialised or fails its check.
bool ServerManager::RunStartUpSteps(ProgressSteps* progress) {
    // A kill in the middle of a store leaves its temporary behind; only one instance runs, so no
    // store is being written now and every such file is an abandoned one.
    fs::RemoveLeftTemporaries(systemInfo.configFolder,
                              {CServerConfigArray::kFileName, CServerInfoArray::kFileName, CGameInstallation::kFileName,
                               TrackerInfoStore::kFileName, PlayerInfoStore::kFileName,
                               CProgramSettingsFile::kFileName});

    // 6: network info.
    if (progress) progress->Step("Determine network info...");
    systemInfo.AddHostAddresses();
    view_.SetInfo(InfoField::NetworkAddress, systemInfo.NetworkAddressText());

    // 7-9: the game installation.
    if (!InitializeInstallation(progress)) {
        return false;
    }

    // 10-11: server configurations and global options.
    StoreLoad loaded = configs.Load(systemInfo.configFolder, progress);
    configsLoaded_ = true;
    nicknameRules.Set(configs.globalOptions.antiCheat);
    ReportLoad(loaded, systemInfo.configFolder + CServerConfigArray::kFileName, configs.FileState());
    if (ctx_.jotwell) ctx_.jotwell->setUseGlobalJotwell(configs.globalOptions.useJotwellForEventLog != 0);

    // The program's own settings beyond the stores; a bad line is reported and its default used.
    for (const std::string& warning : programSettings.Load(systemInfo.configFolder))
        events.AddEvent("Warning: %s", warning.c_str());
    const CRestartSettings& restarts = programSettings.settings.restarts;
    stopWarnings.Configure(programSettings.settings.warnings);
    supervisor.stopWarnings = &stopWarnings;
    stopWarnings.SetActions(
        [this](unsigned port, const std::string& text) {
            CServerInfo* entry = EntryOnPort(port);
            if (entry && entry->console) entry->console->Say(text);
        },
        [this](unsigned port, StopWarnings::StopKind kind) {
            for (size_t i = 0; i < servers.entries.size(); ++i) {
                if (servers.entries[i]->config.launch.serverPort != port) continue;
                if (kind == StopWarnings::StopKind::Halt) HaltServer(i);
                else RemoveServers({i});
                RefreshStopAllButtons();
                return;
            }
        });
    supervisor.backoff = {restarts.backoff, restarts.quickDeathSeconds * 1000, restarts.firstWaitSeconds * 1000,
                          restarts.maxWaitMinutes * 60000, restarts.trustedAfterMinutes * 60000};
    watch.sender.SetTargets(programSettings.settings.notify);
    watch.sender.Start();

    // 12: the player records and the tracker list.
    loaded = players.Load(systemInfo.configFolder, systemInfo.logFolder, progress);
    playersLoaded_ = true;
    ReportLoad(loaded, systemInfo.configFolder + PlayerInfoStore::kFileName, players.FileState());
    loaded = trackerInfo.Load(systemInfo.configFolder, progress);
    trackerInfoLoaded_ = true;
    ReportLoad(loaded, systemInfo.configFolder + TrackerInfoStore::kFileName, trackerInfo.FileState());

    // 13: the installation check; after a failure the operator may choose another folder to go on with.
    while (!installation.CheckInstallation([this](const std::string& text) { view_.MessageBox(text); })) {
        if (!TakeOtherGameFolder()) return false;
    }

    // 14: the lobby link.
    if (configs.globalOptions.mroDetection) lobbyLink.Start();

    // 15: the supervisor timer.
    if (ctx_.loop) supervisorTimer = ctx_.loop->SetTimer(ctx_.timerPeriodMs, [this] { SupervisorTick(); });
    if (ctx_.loop) warningTimer = ctx_.loop->SetTimer(1000, [this] { stopWarnings.Poll(); });

    // 16: server infos.
    loaded = servers.Load(systemInfo.configFolder, progress, ctx_.attach);
    serverInfosLoaded_ = true;
    ReportLoad(loaded, systemInfo.configFolder + CServerInfoArray::kFileName, servers.FileState());
    // Without the stored list nothing tells which servers still run: an automatic start would only
    // meet their ports.
    const bool serverListUnknown = loaded == StoreLoad::Unreadable;

    // 17: the remote info server, bound where the servers are bound.
    const RemoteInfoSettings& remoteInfoSettings = configs.globalOptions.remoteInfo;
    if (remoteInfoSettings.enabled && !remoteInfoSettings.password.empty()) {
        remoteInfo.StartInfoServer(remoteInfoSettings, events, configs.globalOptions.alternateAddress);
    }

    // 18: tick-count values that mean nothing in a new run.
    configs.globalOptions.remoteInfo.enabled = 0;
    configs.globalOptions.lastVersionCheck = 0;
    configs.globalOptions.antiCheat.hostsDenyLastUpdate = 0;
    configs.globalOptions.antiCheat.nicknamesLastUpdate = 0;
    nicknameRules.Set(configs.globalOptions.antiCheat);

    // 19: the update checker.
    PushUpdateOptions();
    updateOptionsShared_ = true;
    if (ctx_.update.run) StartUpdateThread();

    // 20: re-attach.
    for (size_t i = 0; i < servers.entries.size(); ++i) {
        CServerInfo& entry = *servers.entries[i];
        const unsigned port = entry.config.launch.serverPort;
        const char* name = entry.config.game.gameName.c_str();
        if (entry.processId != 0 || entry.config.schedule.enabled) {
            events.AddEvent("Server %u (%s): Running/scheduled.", port, name);
            UpdateLine(entry);
            if (entry.IsRunning() && entry.config.game.allowRemoteConsole) {
                entry.CreateConsole([this, &entry] { return MakeConsole(entry); });
            }
        } else if (entry.config.game.selective) {
            events.AddEvent("Server %u (%s): Selective server and running/scheduled.", port, name);
            UpdateLine(entry);
        } else {
            events.AddEvent("Server %u (%s): Starting...", port, name);
            StartServerAt(i);
        }
    }

    // 21: the automatic start, only when no entry was re-attached.
    if (servers.entries.empty() && configs.globalOptions.autoLaunchAtStart && !serverListUnknown) {
        events.AddEvent("Starting up servers...");
        std::vector<size_t> all(configs.configs.size());
        for (size_t i = 0; i < all.size(); ++i) all[i] = i;
        launcher.StartConfigurations(all, true);
        ServerListChanged();
    }

    // 22-23.
    RefreshStopAllButtons();
    events.AddEvent("Initialization completed.");
    return true;
}

void ServerManager::ShutDown() {
    NotifyServiceManager("STOPPING=1");
    // 1-3.
    events.enabled = false;
    if (supervisorTimer && ctx_.loop) {
        ctx_.loop->KillTimer(supervisorTimer);
        supervisorTimer = 0;
    }
    if (warningTimer && ctx_.loop) {
        ctx_.loop->KillTimer(warningTimer);
        warningTimer = 0;
    }
    updateThread.Stop();   // a fetch in progress is abandoned
    players.StopWriter();  // the player records' pending work; the store below writes what is left

    // 4.
    std::unique_ptr<ProgressSteps> progress = view_.CreateProgress();
    if (progress) progress->Setup("Shutting down Haldmoor3...", 10);

    // 5: log out of every console; the game servers keep running. Every console gets its farewell
    // first and says it on its own worker, so many servers log out in the time of one; the pause before
    // the connections go is kept once for all of them.
    bool anyConsole = false;
    for (auto& entry : servers.entries) {
        if (!entry->console) continue;
        entry->BeginCloseConsole(false);
        anyConsole = true;
    }
    if (anyConsole) clock_.Sleep(CServerInfo::kCloseConsolePauseMs);
    for (auto& entry : servers.entries) entry->FinishCloseConsole();

    // 6.
    remoteInfo.StopInfoServer(true);
    lobbyLink.Stop();

    // 7: stores, only those that were read in this run. The event list is switched on again for this
    // step alone (every worker has ended by now): a store that cannot be written must still be told.
    events.enabled = true;
    StoreAll(progress.get());
    events.enabled = false;
    installation.RestoreLanguageType();
    // The last lines (a stop of every server, an update's restart) still reach the web hooks; a hook
    // that does not answer holds the end up two seconds at most.
    watch.sender.Stop(2000);

    // 9.
    if (progress) progress->Step("Finished!");
}

void ServerManager::StoreAll(ProgressSteps* progress) {
    PullUpdateOptions();  // the update thread may have changed them
    // A failed write is told once per cause and left to the next store; nothing remembers it as done.
    if (serverInfosLoaded_) {
        servers.Store(systemInfo.configFolder, progress);
        ReportWrite(servers.FileState(), CServerInfoArray::kFileName);
    }
    installation.StoreInstallationInfo(systemInfo.configFolder, progress);  // only what it loaded or refreshed
    ReportWrite(installation.FileState(), CGameInstallation::kFileName);
    if (configsLoaded_) {
        configs.globalOptions.antiCheat = nicknameRules.Get();  // the update thread may have changed it
        configs.Store(systemInfo.configFolder, progress);
        ReportWrite(configs.FileState(), CServerConfigArray::kFileName);
    }
    if (trackerInfoLoaded_) {
        trackerInfo.Store(systemInfo.configFolder, progress);
        ReportWrite(trackerInfo.FileState(), TrackerInfoStore::kFileName);
    }
    if (playersLoaded_) {
        players.Store(systemInfo.configFolder, progress);
        ReportWrite(players.FileState(), PlayerInfoStore::kFileName);
    }
}

void ServerManager::ServerListChanged() {
    if (!serverInfosLoaded_) return;  // never written before it was read
    servers.Store(systemInfo.configFolder, nullptr);
    ReportWrite(servers.FileState(), CServerInfoArray::kFileName);
}

bool ServerManager::InitializeInstallation(ProgressSteps* progress) {
    const InformationBox inform = [this](const std::string& text) { view_.MessageBox(text); };
    if (!installation.Initialize(GameFolderPicker(), inform)) return false;
    view_.SetInfo(InfoField::GameFolder, installation.GameFolder());
    view_.SetInfo(InfoField::GameVersion, installation.VersionText());
    const StoreLoad loaded = installation.LoadInstallationInfo(systemInfo.configFolder, progress);
    ReportLoad(loaded, systemInfo.configFolder + CGameInstallation::kFileName, installation.FileState(), true);
    if (progress) progress->Step("Updating Kelvane 3 file info...");
    installation.RefreshInstallation();
    return true;
}

void ServerManager::SupervisorTick() {
    const Tick start = clock_.TickCount();
    supervisor.Tick();
    players.SaveIfDueSoon();  // new addresses of the last moments reach PlayerInfo.txt
    // Player counts change between passes without any other change of the line.
    for (const auto& held : servers.entries) {
        const CServerInfo& entry = *held;
        const auto line = std::find_if(statusLines_.begin(), statusLines_.end(), [&](const StatusLine& l) {
            return l.portNumber == entry.config.launch.serverPort;
        });
        if (line != statusLines_.end() && line->players != PlayersText(entry)) UpdateLine(entry);
    }
    tickTimes.lastMs = Elapsed(clock_.TickCount(), start);
    tickTimes.longestMs = std::max(tickTimes.longestMs, tickTimes.lastMs);
    ++tickTimes.passes;
    metricsFile.Write(*this);
}

SupervisorActions ServerManager::MakeSupervisorActions() {
    SupervisorActions actions;
    actions.startServerAt = [this](size_t& index) { return StartServerAt(index); };
    actions.removeServer = [this](size_t& index) { RemoveServer(index); };
    actions.haltServer = [this](size_t index) { HaltServer(index); };
    actions.enableStopAllButtons = [this](bool enable) { view_.EnableStopAllButtons(enable); };
    actions.storeAll = [this] { StoreAll(nullptr); };
    actions.statusLineCount = [this] { return statusLines_.size(); };
    actions.statusObserved = [this](const CServerInfo& entry, ObservedStatus status) {
        observedStatus_[entry.config.launch.serverPort] = {entry.processId, status};
        UpdateLine(entry);
    };
    return actions;
}

std::unique_ptr<RemoteConsole> ServerManager::MakeConsole(CServerInfo& entry) {
    return MakeRemoteConsole(&events, entry.config.console, nicknameRules, players, ctx_.jotwell, entry.processId,
                             entry.config.launch.serverPort, clock_, ctx_.consoleTimeoutMs);
}

LaunchContext ServerManager::MakeLaunchContext(Clock& clock) {
    // Called while the manager is being built: the callbacks may use members only when they run.
    return LaunchContext{
        clock, events, systemInfo, installation, configs, servers, serverListLock,
        [this](const std::string& message, unsigned nextFree, unsigned& chosen) {
            return view_.AskPort(message, nextFree, chosen);
        },
        [this](const std::string& text) { view_.MessageBox(text); },
        [this](const CServerInfo& entry) { UpdateLine(entry); },
        [this](unsigned port) { RemoveLine(port); },
        [this](CServerInfo& entry) { return MakeConsole(entry); },
        {},  // server output: the log folder's "<port>.out"
        HostPortTaken,
        HostPortHolder,
    };
}

void ServerManager::RefreshStopAllButtons() { view_.EnableStopAllButtons(!statusLines_.empty()); }

void ServerManager::FixUpdateAttempts() {
    PullUpdateOptions();
    if (configs.globalOptions.updateAttempts > 1) configs.globalOptions.updateAttempts = 0;
    PushUpdateOptions();
}

void ServerManager::PullUpdateOptions() {
    if (!updateOptionsShared_) return;
    const UpdateOptions shared = updateOptions.Get();
    CGlobalOptions& o = configs.globalOptions;
    o.versionCheck = shared.versionCheck;
    o.lastVersionCheck = shared.lastVersionCheck;
    o.latestVersion = shared.latestVersion;
    o.autoUpdate = shared.autoUpdate;
    o.updateAttempts = shared.updateAttempts;
}

void ServerManager::PushUpdateOptions() {
    const CGlobalOptions& o = configs.globalOptions;
    updateOptions.Set({o.versionCheck, o.lastVersionCheck, o.latestVersion, o.autoUpdate, o.updateAttempts});
}

void ServerManager::StartUpdateThread() {
    UpdateSettings settings;
    settings.site = ctx_.update.site;
    settings.workingFolder = ctx_.workingFolder;
    settings.logFolder = systemInfo.logFolder;
    settings.gameFolder = installation.GameFolder();
    settings.programPath = ctx_.update.programPath.empty() ? fs::ExecutablePath() : ctx_.update.programPath;
    // The updater is built and installed beside the program.
    settings.updaterPath = settings.programPath.substr(0, settings.programPath.rfind('/') + 1) + "haldmoor3-updater";
    settings.restartArguments = ctx_.update.restartArguments;
    settings.publicKey = ctx_.update.key;
    settings.uptimeCycles = ctx_.update.uptimeCycles;
    settings.secondMs = ctx_.update.secondMs;
    settings.serviceManaged = ctx_.update.serviceManaged;

    UpdateLinks links;
    links.events = &events;
    links.nicknameRules = &nicknameRules;
    links.options = &updateOptions;
    links.totalPlayers = [this] { return supervisor.totalPlayers.load(); };
    links.settingsDialogOpen = [] { return settingsDialogOpen.load() != 0; };
    EventLoop* loop = ctx_.loop;
    const std::weak_ptr<int> alive = lifeToken_;
    links.showVersion = [this, loop, alive](uint32_t version) {
        if (loop) loop->Post([this, alive, version] {
            if (!alive.expired()) view_.SetTitle(WindowTitle(version));
        });
    };
    links.requestClose = [this, loop, alive](int status) {
        if (loop) loop->Post([this, alive, status] {
            if (alive.expired()) return;
            exitStatus = status;
            view_.RequestClose();
        });
    };
    updateThread.Start(settings, links);
}

void ServerManager::CommandExit() {
    FixUpdateAttempts();
    view_.RequestClose();
}

void ServerManager::CommandStopAndExit() {
    events.AddEvent("Stopping all servers...");
    StopAllServers();
    FixUpdateAttempts();
    view_.RequestClose();
}

void ServerManager::CommandStopEmptyAndExit() {
    events.AddEvent("Stopping all empty servers...");
    StopEmptyServers();
    FixUpdateAttempts();
    view_.RequestClose();
}

void ServerManager::CommandStopAll() { StopAllServers(); }
void ServerManager::CommandStopEmpty() { StopEmptyServers(); }
void ServerManager::CommandFront() { view_.BringToFront(); }

StatusLine ServerManager::MakeStatusLine(const CServerInfo& entry, ObservedStatus observed) {
    StatusLine line;
    const CServerConfig& config = entry.config;
    line.pid = entry.processId ? std::to_string(entry.processId) : "-";
    line.name = config.game.gameName;
    line.mission = config.game.missionTitle;
    line.gameType = config.game.scriptName;
    line.portNumber = config.launch.serverPort;
    line.port = std::to_string(line.portNumber);
    if (entry.processId != 0 && observed != ObservedStatus::AsLaunched) {
        line.status = StatusText(observed);
    } else if (entry.processId != 0) {
        line.status = "Running";
        if (config.game.connectionKind == 1) line.status += " - MRO";
        if (config.game.connectionKind == 2) line.status += " - TCP/IP";
    } else {
        line.status = "Stopped";
    }
    if (config.schedule.enabled) line.status += " (scheduled)";
    if (entry.processId == 0) {
        line.state = config.schedule.enabled ? LineState::Scheduled : LineState::Stopped;
    } else {
        line.state = observed == ObservedStatus::AsLaunched ? LineState::Running : LineState::Restarting;
    }
    line.players = PlayersText(entry);
    return line;
}

std::string ServerManager::PlayersText(const CServerInfo& entry) {
    if (!entry.console || entry.processId == 0) return std::string();
    // The server keeps one of its slots for itself.
    const uint32_t fit = entry.config.game.maxPlayers > 0 ? entry.config.game.maxPlayers - 1 : 0;
    const int32_t count = std::max<int32_t>(entry.console->Figures().playerCount, 0);
    return std::to_string(count) + "/" + std::to_string(fit);
}

std::vector<StatusLine> ServerManager::StatusLines() const { return statusLines_; }

void ServerManager::UpdateLine(const CServerInfo& entry) {
    ObservedStatus observed = ObservedStatus::AsLaunched;
    const auto seen = observedStatus_.find(entry.config.launch.serverPort);
    if (seen != observedStatus_.end() && seen->second.first == entry.processId) observed = seen->second.second;
    StatusLine line = MakeStatusLine(entry, observed);
    watch.counters.SetServerName(line.portNumber, line.name);
    auto found = std::find_if(statusLines_.begin(), statusLines_.end(),
                              [&](const StatusLine& l) { return l.portNumber == line.portNumber; });
    if (found != statusLines_.end()) {
        *found = line;
    } else {
        statusLines_.insert(statusLines_.begin(), line);  // a new line goes to the top
    }
    view_.UpdateServerLine(line);
}

void ServerManager::RemoveLine(unsigned port) {
    std::erase_if(statusLines_, [&](const StatusLine& l) { return l.portNumber == port; });
    observedStatus_.erase(port);
    view_.RemoveServerLine(port);
}

// Every path that adds, removes, relaunches or halts an entry goes through these three or through
// StartConfigurations, and each ends in ServerListChanged.
int ServerManager::StartServerAt(size_t& index) {
    const int started = launcher.StartServerAt(index);
    ServerListChanged();
    return started;
}

void ServerManager::RemoveServer(size_t& index) {
    launcher.RemoveServer(index);
    ServerListChanged();
}

void ServerManager::HaltServer(size_t index) {
    launcher.HaltServer(index);
    ServerListChanged();
}

void ServerManager::RemoveServers(const std::vector<size_t>& indexes) {
    if (indexes.empty()) return;
    launcher.RemoveServers(indexes, [this] { view_.Repaint(); });
    ServerListChanged();
}

void ServerManager::StopAllServers() {
    std::vector<size_t> indexes;
    for (size_t i = servers.entries.size(); i-- > 0;) indexes.push_back(i);
    RemoveServers(indexes);
    RefreshStopAllButtons();
}

void ServerManager::StopEmptyServers() {
    // Which servers hold players is decided once, before any of them goes down.
    std::vector<size_t> indexes;
    for (size_t i = servers.entries.size(); i-- > 0;) {
        const CServerInfo& entry = *servers.entries[i];
        if (!(entry.console && entry.console->HasPlayers())) indexes.push_back(i);
    }
    RemoveServers(indexes);
    view_.Repaint();
    RefreshStopAllButtons();
}

size_t ServerManager::StopServersOnPorts(const std::vector<unsigned>& ports, bool now, std::vector<unsigned>* warned) {
    std::vector<size_t> indexes;
    size_t found = 0;
    for (size_t i = servers.entries.size(); i-- > 0;) {
        const CServerInfo& entry = *servers.entries[i];
        const unsigned port = entry.config.launch.serverPort;
        if (std::find(ports.begin(), ports.end(), port) == ports.end()) continue;
        ++found;
        if (now) {
            stopWarnings.Cancel(port);
        } else if (stopWarnings.Defer(port, StopWarnings::StopKind::Remove, entry.console && entry.console->HasPlayers())) {
            if (warned) warned->push_back(port);
            continue;
        }
        indexes.push_back(i);
    }
    RemoveServers(indexes);
    RefreshStopAllButtons();
    return found;
}

CServerInfo* ServerManager::EntryOnPort(unsigned port) {
    for (auto& entry : servers.entries)
        if (entry->config.launch.serverPort == port) return entry.get();
    return nullptr;
}

std::string ServerManager::LastKnownAddress(const std::string& name) const {
    for (const PlayerRecord& record : players.Records()) {
        if (record.name.size() != name.size() || record.current < 0 ||
            static_cast<size_t>(record.current) >= record.addresses.size())
            continue;
        if (std::equal(name.begin(), name.end(), record.name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return record.addresses[static_cast<size_t>(record.current)];
    }
    return std::string();
}

std::string ServerManager::StartByNames(const std::vector<std::string>& names) {
    std::string answer;
    std::vector<size_t> indexes;
    for (const std::string& name : names) {
        size_t found = configs.configs.size();
        for (size_t i = 0; i < configs.configs.size(); ++i) {
            if (configs.configs[i].game.gameName == name) {
                found = i;
                break;
            }
        }
        if (found == configs.configs.size()) {
            answer += "Error: no configuration named \"" + name + "\".\n";
        } else {
            indexes.push_back(found);
        }
    }
    if (!indexes.empty()) answer += StartConfigurations(indexes);
    return answer;
}

std::string ServerManager::SetNotifyTargets(const std::vector<CNotifyTarget>& targets) {
    const std::string problem = CheckNotifyTargets(targets);
    if (!problem.empty()) return problem;
    programSettings.settings.notify = targets;
    watch.sender.SetTargets(targets);
    if (!programSettings.Store(systemInfo.configFolder))
        return "The notification targets are used, but " + systemInfo.configFolder + CProgramSettingsFile::kFileName +
               " could not be written; they are lost when the program ends.";
    return std::string();
}

bool ServerManager::StoreConfigurations() {
    if (!configsLoaded_) return false;
    const bool stored = configs.Store(systemInfo.configFolder, nullptr);
    ReportWrite(configs.FileState(), CServerConfigArray::kFileName);
    return stored;
}

std::string ServerManager::StartConfigurations(const std::vector<size_t>& indexes) {
    const size_t before = servers.entries.size();
    const bool completed = launcher.StartConfigurations(indexes, false);
    ServerListChanged();
    RefreshStopAllButtons();
    return "Started or scheduled " + std::to_string(servers.entries.size() - before) + " server(s)" +
           (completed ? ".\n" : "; the rest was cancelled.\n");
}

GlobalOptionsForm ServerManager::OpenGlobalOptions() {
    settingsDialogOpen = 1;
    configs.globalOptions.antiCheat = nicknameRules.Get();
    GlobalOptionsForm form = FormFromOptions(configs.globalOptions);
    if (!ctx_.jotwell || !ctx_.jotwell->jotwellPresent()) form.options.useJotwellForEventLog = 0;
    globalLogSwitchAtOpen_ = form.options.useJotwellForEventLog;
    return form;
}

FieldCheck ServerManager::CloseGlobalOptions(const GlobalOptionsForm& form, bool ok) {
    CGlobalOptions result = form.options;
    if (ok) {
        FieldCheck check = ApplyForm(form, result);
        if (!check.ok()) return check;  // the dialog stays open
    }
    settingsDialogOpen = 0;
    if (ok) {
        const RemoteInfoSettings infoBefore = configs.globalOptions.remoteInfo;
        const uint32_t versionCheckBefore = configs.globalOptions.versionCheck;
        configs.globalOptions = result;
        nicknameRules.Set(result.antiCheat);
        // The dialog owns the two switches; the update thread owns what it found meanwhile.
        if (updateOptionsShared_) {
            updateOptions.Modify([&](UpdateOptions& o) {
                o.versionCheck = result.versionCheck;
                o.autoUpdate = result.autoUpdate;
                if (!versionCheckBefore && result.versionCheck) o.lastVersionCheck = 0;  // the check comes soon
            });
        }
        installation.RefreshInstallation();
        FollowInfoSettings(infoBefore, result.remoteInfo);
        const uint32_t latest = updateOptionsShared_ ? updateOptions.Get().latestVersion : result.latestVersion;
        view_.SetTitle(WindowTitle(result.versionCheck ? latest : 0));
        if (result.mroDetection) {
            lobbyLink.Start();
        } else {
            lobbyLink.Stop();
        }
    }
    // A cancelled dialog leaves the switch as it opened, whatever its box showed when it was cancelled.
    const bool useGlobalLog = (ok ? result.useJotwellForEventLog : globalLogSwitchAtOpen_) != 0;
    if (ctx_.jotwell) {
        ctx_.jotwell->setUseGlobalJotwell(useGlobalLog);
        if (ctx_.registry) JotwellBinding::StoreSwitch(*ctx_.registry, useGlobalLog);
    }
    return FieldCheck{};
}

// ---------------------------------------------------------------------------------------------------
// The global options dialog's OK, the remote info service and the game folder

void ServerManager::FollowInfoSettings(const RemoteInfoSettings& before, const RemoteInfoSettings& after) {
    if (!(before == after)) {
        ++infoServiceCalls.stops;
        if (infoService_) infoService_->Stop();
    }
    if (after.enabled) {
        infoServiceCalls.starts.push_back(after);
        if (infoService_) infoService_->Start(after);
    }
}

bool ServerManager::GlobalLogOffered() const { return ctx_.jotwell && ctx_.jotwell->jotwellPresent(); }

GameFilePicker ServerManager::GameFolderPicker() {
    return [this](const std::string& preset, const std::string& filter, std::string& chosen) {
        chosen = preset;
        return view_.ChooseGameFolder(filter, ctx_.registry ? ctx_.registry->Path() : std::string(), chosen);
    };
}

bool ServerManager::TakeOtherGameFolder() {
    // Registered as for the next start, but without the restart message: the run goes on with it.
    if (!installation.SelectGameFolder(true, GameFolderPicker(), {})) return false;
    ReopenInstallation();
    view_.SetInfo(InfoField::GameFolder, installation.GameFolder());
    view_.SetInfo(InfoField::GameVersion, installation.VersionText());
    installation.RefreshInstallation();
    return true;
}

void ServerManager::ReopenInstallation() noexcept {
    // The installation reads the registry only when it is built, so it is built again at the address
    // every module refers to. Its end puts the game's language value back and the new one takes it
    // over again, as at a start. It cannot fail other than by running out of memory, which ends the
    // program here (noexcept) rather than leaving a destroyed member behind.
    std::destroy_at(&installation);
    std::construct_at(&installation, *ctx_.registry,
                      ctx_.readMission ? ctx_.readMission : MissionArchiveReader(&ReadMissionArchive));
    installation.SetEventReporter([this](const std::string& text) { events.AddEvent("%s", text.c_str()); });
}

std::string ServerManager::ImportConfiguration(const std::string& mainFile, const std::string& batchFile, bool* ok) {
    std::string result;
    const InformationBox inform = [this](const std::string& text) { view_.MessageBox(text); };
    const Question confirm = [](const std::string&) { return true; };
    const bool appended = ImportServer(configs, installation, mainFile, batchFile, inform, confirm, result);
    if (appended && configsLoaded_) configs.Store(systemInfo.configFolder, nullptr);
    if (ok) *ok = appended;
    if (!result.empty() && result.back() != '\n') result += '\n';
    return result;
}

}  // namespace hm

namespace hm {

std::string ServerManager::ConfigListText() const {
    std::string text = "Index\tName\tPort\tMission\tGame type\tScheduled\n";
    for (size_t i = 0; i < configs.configs.size(); ++i) {
        const CServerConfig& config = configs.configs[i];
        text += std::to_string(i + 1) + "\t" + config.game.gameName + "\t" + std::to_string(config.launch.serverPort) +
                "\t" + config.game.missionTitle + "\t" + config.game.scriptName + "\t" +
                (config.schedule.enabled ? "Yes" : "No") + "\n";
    }
    return text;
}

std::string ServerManager::ExportConfigurations(const std::string& path) {
    const std::string text = ConfigsToText(configs.configs);
    fs::AtomicFileWriter file;
    if (!file.Open(path) || !file.Write(text.data(), text.size()) || !file.Commit()) {
        return "Error: Cannot write " + path + " (" + file.reason() + ").\n";
    }
    return "Exported " + std::to_string(configs.configs.size()) + " server configuration(s) to " + path + ".\n";
}

std::string ServerManager::ImportConfigurations(const std::string& path) {
    if (!configsLoaded_) return "Error: the server configurations were not loaded; nothing was imported.\n";
    // A dialog works on copies and indexes of the list; it must not find the list changed under it.
    if (settingsDialogOpen) return "Error: a settings dialog is open; close it before importing configurations.\n";
    std::string text;
    const fs::ReadResult read = fs::ReadFileLimited(path, kConfigTextLimit, text);
    if (!read.ok()) return "Error: " + CannotReadMessage(path, read) + "\n";
    std::vector<CServerConfig> imported;
    std::vector<ConfigTextError> errors;
    if (!ConfigsFromText(text, configs.globalOptions, imported, errors)) {
        std::string answer;
        for (const ConfigTextError& error : errors) answer += ConfigTextErrorLine(error) + "\n";
        return answer + "Error: nothing was imported.\n";
    }
    const size_t total = imported.size();
    const ConfigMergeCount count = MergeConfigs(configs.configs, std::move(imported));
    events.AddEvent("Imported %zu server configuration(s) from %s.", total, path.c_str());
    std::string answer = "Imported " + std::to_string(total) + " server configuration(s): " +
                         std::to_string(count.replaced) + " replaced, " + std::to_string(count.added) + " added.\n";
    if (total == 0) return answer;
    configs.globalOptions.antiCheat = nicknameRules.Get();  // as every store writes it
    if (!configs.Store(systemInfo.configFolder, nullptr)) {
        const std::string reason = configs.FileState().writeFailure;
        ReportWrite(configs.FileState(), CServerConfigArray::kFileName);
        return "Error: " + std::string(CServerConfigArray::kFileName) + " could not be written" +
               (reason.empty() ? std::string() : " (" + reason + ")") +
               "; the imported configurations are kept and the next store tries again.\n" + answer;
    }
    return answer;
}

}  // namespace hm
