// The main window's logic: owns every store and service for the life of the window, runs the
// start-up and shutdown sequences, the operator's commands and the supervisor tick.
//
// Lives on the user-interface thread; every method is called there. It sees the screen only through
// ManagerView and the thread through EventLoop, so the same object serves the Qt window, the headless
// front-end and the tests. Worker threads reach it only through the event list (AddEvent) and posted
// tasks. Stores that were never loaded (a failed initialisation) are never written back.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/info_service.h"
#include "app/manager_view.h"
#include "app/monitoring.h"
#include "notify/event_watch.h"
#include "servers/system_info.h"
#include "supervision/supervisor.h"
#include "eventlog/event_log.h"
#include "game/game_installation.h"
#include "infoserver/remote_info_server.h"
#include "anticheat/nickname_rules.h"
#include "launch/server_launcher.h"
#include "players/player_info_store.h"
#include "platform/clock.h"
#include "servers/global_options_rules.h"
#include "servers/program_settings.h"
#include "servers/server_config_array.h"
#include "servers/server_info_array.h"
#include "trackers/tracker_info_store.h"
#include "update/update_thread.h"

namespace hm {

class EventLoop;
class JotwellBinding;
class Registry;

// The update thread's part of the context: whether it runs at all (not in most tests), where updates
// come from and how the program restarts.
struct UpdateTuning {
    bool run = false;
    std::string site;                           // "" = no update site configured
    std::vector<std::string> restartArguments;  // the mode the program runs in, e.g. {"--headless"}
    UpdateKey key{};                            // the public key new programs are signed for
    uint32_t uptimeCycles = 12000;              // cycles before the uptime restart
    uint32_t secondMs = 1000;                   // one second of the update thread's waits
    std::string programPath;                    // "" = the running program's own file
    bool serviceManaged = false;                // a service manager runs the program (NOTIFY_SOCKET)
};

struct ManagerContext {
    Clock* clock = nullptr;
    EventLoop* loop = nullptr;
    ManagerView* view = nullptr;
    JotwellBinding* jotwell = nullptr;  // may be null: no global log
    Registry* registry = nullptr;
    std::string workingFolder;          // "" = the current folder
    uint32_t timerPeriodMs = 15000;     // supervisor period
    uint32_t consoleTimeoutMs = 0;      // replaces both console silence time-outs; 0 = the normal ones
    // Re-attaches a stored process identifier (null: the store's default identity check).
    CServerInfoArray::AttachFunction attach;
    // Reads one mission archive for the installation's list (null: the real archive reader).
    MissionArchiveReader readMission;
    UpdateTuning update;
    std::string metricsFile;            // written after every supervisor pass; "" = none
};

// The online lobby link: the service is gone; start and stop do nothing.
class LobbyLink {
public:
    void Start() {}
    void Stop() {}
};

class ServerManager {
public:
    static constexpr uint32_t kProgramVersion = 0x030053;  // 3.0.83
    static constexpr const char* kAuthorCredit = "the Haldmoor3 developers";

    explicit ServerManager(const ManagerContext& context);
    ~ServerManager();

    // The sequences of the main window.
    void StartUp();
    void ShutDown();
    void SupervisorTick();

    // Operator commands.
    void CommandExit();
    void CommandStopAndExit();
    void CommandStopEmptyAndExit();
    void CommandStopAll();
    void CommandStopEmpty();
    void CommandFront();

    // Servers (carried out by the launcher).
    int StartServerAt(size_t& index);
    void RemoveServer(size_t& index);
    // Stops and removes these entries together (see CServerLauncher::RemoveServers).
    void RemoveServers(const std::vector<size_t>& indexes);
    void HaltServer(size_t index);
    void StopAllServers();
    void StopEmptyServers();
    // Stops and removes the entries on these ports; returns how many were found. A server with players
    // is warned first and stopped when the warnings have run (unless `now`); its port is added to
    // `warned` (may be null).
    size_t StopServersOnPorts(const std::vector<unsigned>& ports, bool now = false,
                              std::vector<unsigned>* warned = nullptr);
    // Imports a configuration from the game's own files (and a launch batch, when given); the
    // command that asked for it is the operator's confirmation. Appended and stored only when the
    // whole chain succeeded. Returns the messages and a closing line for the sender.
    std::string ImportConfiguration(const std::string& mainFile, const std::string& batchFile, bool* ok = nullptr);
    // Starts the configurations with these names; returns one answer line per name.
    std::string StartByNames(const std::vector<std::string>& names);
    // Writes the configurations with the global options (after the server list changed them); false
    // when they were never read in this run or the write failed (said in the event list).
    bool StoreConfigurations();
    // Starts (or schedules) the configurations at these indexes of `configs`; returns the summary line.
    std::string StartConfigurations(const std::vector<size_t>& indexes);

    // The server configurations without the server list dialog (the commands config-list,
    // config-export and config-import). The list: a header and one tab-separated line per configuration.
    // The export writes every configuration as text (config_text.h) through a temporary file. The
    // import reads such a file of at most 1 MiB, all or nothing, through the dialog's rules, takes the
    // records in (same name replaces, new name appends) and stores the configurations at once; it is
    // refused while a settings dialog edits them. Answers that begin with "Error:" report a failure.
    std::string ConfigListText() const;
    std::string ExportConfigurations(const std::string& path);
    std::string ImportConfigurations(const std::string& path);

    // The global options dialog: the form it opens with (the library switch cleared when the library
    // is absent), and its end. With ok, an out-of-range value keeps the dialog open (the check says
    // which); otherwise the options are taken over. Either way the switch of the global log is set and
    // written to the registry: after OK from the dialog's copy, after Cancel as the dialog opened.
    GlobalOptionsForm OpenGlobalOptions();
    FieldCheck CloseGlobalOptions(const GlobalOptionsForm& form, bool ok);

    std::vector<StatusLine> StatusLines() const;
    // `observed`: what the supervisor last saw of the entry's process (a dead or held-back process is
    // not shown as running).
    static StatusLine MakeStatusLine(const CServerInfo& entry, ObservedStatus observed = ObservedStatus::AsLaunched);
    static std::string WindowTitle(uint32_t version);
    // "players/places" of a running server with a console, else "".
    static std::string PlayersText(const CServerInfo& entry);
    // Stores every store that was read in this run, in the fixed order.
    void StoreAll(ProgressSteps* progress);
    // The server list gained or lost an entry, or an entry got a new process (or lost it): the list
    // is stored at once, so a crash of the program never orphans a running server.
    void ServerListChanged();

    bool initializationFailed() const { return initFailed_; }
    // The process's exit status when the run ends (a restart asked of the service manager sets it).
    int exitStatus = 0;

    // --- The operator's console commands (players, say, kick, ban, console) ------------------------
    // The entry supervised on this game port, or null.
    CServerInfo* EntryOnPort(unsigned port);
    // The address the player records hold last for this name (ignoring case), "" when none.
    std::string LastKnownAddress(const std::string& name) const;

    // Owned stores and services, in construction order.
    CSystemInfo systemInfo;
    CGameInstallation installation;
    LobbyLink lobbyLink;
    CServerConfigArray configs;
    CProgramSettingsFile programSettings;  // cfg/haldmoor3.ini, read at start-up
    NicknameRules nicknameRules;  // the anti-cheat options every console thread reads
    PlayerInfoStore players;
    TrackerInfoStore trackerInfo;
    CServerInfoArray servers;
    // Sees every event line (notifications, monitoring counters); declared before the event list so
    // that it outlives every thread that adds lines.
    EventWatch watch;
    EventLogList events;
    std::recursive_mutex serverListLock;
    RemoteInfoServer remoteInfo;  // its worker reads the list under serverListLock
    CServerLauncher launcher;
    Supervisor supervisor;  // holds supervisorTicks and lastSaveTick
    // The update options the update thread shares with this thread; they lead from step 19 of the
    // start-up on and are copied into the global options before every store and dialog.
    SharedUpdateOptions updateOptions;
    // Stops of servers with players that wait for their warnings; polled every second.
    StopWarnings stopWarnings;
    unsigned warningTimer = 0;
    unsigned supervisorTimer = 0;

    // How long the supervisor's passes held the user-interface thread (the tick count's milliseconds),
    // for `--send stats` and the scale benchmark.
    struct TickTimes {
        uint32_t passes = 0, lastMs = 0, longestMs = 0;
    };
    TickTimes tickTimes;
    MetricsFile metricsFile{""};

    // The notifications dialog's OK: the targets are checked, used at once and written to
    // cfg/haldmoor3.ini. "" when all went well, else what went wrong (the check's message, or that the
    // file could not be written while the targets are used anyway).
    std::string SetNotifyTargets(const std::vector<CNotifyTarget>& targets);
    Clock& clock() const { return clock_; }

private:
    LaunchContext MakeLaunchContext(Clock& clock);
    std::unique_ptr<RemoteConsole> MakeConsole(CServerInfo& entry);
    SupervisorActions MakeSupervisorActions();
    void UpdateLine(const CServerInfo& entry);  // the status list, kept here and on the screen
    void RemoveLine(unsigned port);
    void RefreshStopAllButtons();
    void FixUpdateAttempts();
    void StartUpdateThread();
    void PullUpdateOptions();  // shared -> global options
    void PushUpdateOptions();  // global options -> shared
    bool updateOptionsShared_ = false;
    // Tasks that workers post check it, so that none reaches a manager that is gone.
    std::shared_ptr<int> lifeToken_ = std::make_shared<int>(0);
    void ReportLoad(StoreLoad result, const std::string& file, const StoreFileState& state, bool cache = false);
    // Tells a write failure of the store once per cause.
    void ReportWrite(StoreFileState& state, const char* fileName);

    ManagerContext ctx_;
    Clock& clock_;
    ManagerView& view_;
    bool initFailed_ = false;
    bool RunStartUpSteps(ProgressSteps* progress);
    bool InitializeInstallation(ProgressSteps* progress);
    bool configsLoaded_ = false;  // a store is written back only after it was read
    bool serverInfosLoaded_ = false;
    bool trackerInfoLoaded_ = false;
    bool playersLoaded_ = false;
    std::vector<StatusLine> statusLines_;
    // Per game port: the process identifier the supervisor observed and what it saw of that process;
    // a later launch (another identifier) or a stop makes it stale.
    std::map<unsigned, std::pair<uint32_t, ObservedStatus>> observedStatus_;

    // --- The global options dialog's OK, the remote info service and the game folder -------------
public:
    // After OK the installation's lists are refreshed and, when the remote info settings changed, the
    // service is stopped; it is started whenever it is enabled. Every call is also counted in
    // infoServiceCalls. The manager's own remote info server is the service unless another is set.
    void SetInfoService(InfoService* service) { infoService_ = service; }
    struct InfoServiceCalls {
        unsigned stops = 0;
        std::vector<RemoteInfoSettings> starts;
    };
    InfoServiceCalls infoServiceCalls;
    // Whether the logging library was found at start-up: only then may the options switch it on.
    bool GlobalLogOffered() const;

private:
    GameFilePicker GameFolderPicker();
    // The installation check failed at start-up: the operator may choose another folder, which the
    // run goes on with. False when the operator declines.
    bool TakeOtherGameFolder();
    // Builds the installation again in place, so that it reads the registered folder anew.
    void ReopenInstallation() noexcept;
    void FollowInfoSettings(const RemoteInfoSettings& before, const RemoteInfoSettings& after);
    std::unique_ptr<InfoService> ownInfoService_;  // remoteInfo seen as the options dialog's service
    InfoService* infoService_ = nullptr;
    uint32_t globalLogSwitchAtOpen_ = 0;  // the dialog's copy of the library switch as it opened

public:
    // Declared last: destroyed (and so stopped) before everything it uses.
    UpdateThread updateThread;
};

}  // namespace hm
