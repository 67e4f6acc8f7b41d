// Launching and stopping real game servers (the simulated k3ded in a demo installation made for the
// test): the process starts in the game folder with the server's files and command line, a console
// quit ends it cleanly, a stop removes the cache folder (never what a link in it points to) and the
// mission's objects once no other server hosts the mission, failures are reported and leave no
// entry, a halted entry stays, and a stored process id that is not this server is never signalled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "launch/server_launcher.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "support/binaries.h"

namespace hm {
namespace {

using hm::test_support::BinDir;

namespace stdfs = std::filesystem;


uint16_t FreePort(SocketType type) {
    TcpSocket probe;
    uint32_t loopback = 0;
    ParseAddress("127.0.0.1", loopback);
    if (!probe.Create(type) || !probe.Bind(loopback, 0)) return 0;
    return probe.LocalPort();
}

// Stands for the console client: "connected", and a quit tells the real server to quit.
class QuittingConsole : public RemoteConsole {
public:
    explicit QuittingConsole(unsigned gamePort, int* quits) : gamePort_(gamePort), quits_(quits) {}
    bool IsConnected() const override { return true; }
    bool HasPlayers() const override { return false; }
    void SendLogout() override {}
    ConsoleFigures Figures() const override { return {}; }
    void SetPlayerCount(int32_t) override {}
    void SetEmptyListTicks(uint32_t) override {}
    void SetLastReportedCount(int32_t) override {}
    int RequestPlayers() override { return 0; }
    void SetMaxPlayers(uint32_t) override {}
    void SendAutoCommands() override {}
    void SendQuit() override {
        ++*quits_;
        auto client = Process::Spawn(BinDir() + "/k3ded", "client --port " + std::to_string(gamePort_) + " admin-quit",
                                     "/", "");
        if (client) client->Wait(10000);
    }

private:
    unsigned gamePort_;
    int* quits_;
};

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        root = (stdfs::temp_directory_path() / ("hm_launcher_" + std::to_string(random()))).string();
        game = root + "/game";
        stdfs::create_directories(root + "/work");
        const std::string registryPath = root + "/registry.reg";
        auto maker = Process::Spawn("/usr/bin/env", "HALDMOOR3_REGISTRY=\"" + registryPath + "\" \"" + BinDir() +
                                                        "/k3ded\" make-install \"" + game + "\"",
                                    root, root + "/make.txt");
        ASSERT_TRUE(maker);
        ASSERT_EQ(maker->Wait(60000), Process::WaitResult::Exited);
        ASSERT_EQ(maker->ExitCode(), 0);
        registry = std::make_unique<Registry>(registryPath);
        installation = std::make_unique<CGameInstallation>(*registry, MissionArchiveReader{});
        ASSERT_EQ(installation->GameFolder(), game);
        sysInfo = std::make_unique<CSystemInfo>(root + "/work");
        UseClock(manual);
    }
    void TearDown() override {
        for (auto& entry : servers.entries) {
            if (entry->process) entry->process->Terminate();
        }
        for (auto& process : strays) process->Terminate();
        servers.entries.clear();
        launcher.reset();
        installation.reset();  // puts the game's language value back into the registry file first
        registry.reset();
        stdfs::remove_all(root);
    }

    void UseClock(Clock& clock) {
        launcher = std::make_unique<CServerLauncher>(LaunchContext{
            clock, events(clock), *sysInfo, *installation, configs, servers, lock, {},
            [this](const std::string& text) { boxes.push_back(text); },
            [this](const CServerInfo& entry) { updated.push_back(entry.config.launch.serverPort); },
            [this](unsigned port) { removed.push_back(port); },
            [this](CServerInfo& entry) -> std::unique_ptr<RemoteConsole> {
                if (!withConsole) return nullptr;
                return std::make_unique<QuittingConsole>(entry.config.launch.serverPort, &quits);
            },
            {}});
    }
    EventLogList& events(Clock& clock) {
        eventList = std::make_unique<EventLogList>(clock, nullptr, nullptr);
        return *eventList;
    }

    size_t AddConfig(const std::string& mission, const std::string& executable = "main.exe") {
        CServerConfig config;
        config.game.gameName = "Launch test";
        config.game.connectionName = "Direct TCP~IP";
        config.game.missionFileName = mission;
        config.game.scriptName = "anarchy";
        config.game.allowRemoteConsole = 1;
        config.game.consolePassword = "pw";
        config.game.remoteConsolePort = FreePort(SocketType::Stream);
        config.trackers.enabled = 0;
        config.launch.executable = executable;
        config.launch.serverPort = FreePort(SocketType::Datagram);
        configs.configs.push_back(config);
        return configs.configs.size() - 1;
    }
    bool EventSeen(const std::string& text) const {
        for (const auto& line : eventList->Lines()) {
            if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0) return true;
        }
        return false;
    }
    std::string Port(size_t index) const { return std::to_string(servers.entries[index]->config.launch.serverPort); }
    std::string Record(size_t index) const {
        std::string text;
        fs::ReadWholeFile(servers.entries[index]->config.launch.tempDir + "/k3ded.record", text);
        return text;
    }
    static bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

    std::string root, game;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<CGameInstallation> installation;
    std::unique_ptr<CSystemInfo> sysInfo;
    ManualClock manual;
    std::unique_ptr<EventLogList> eventList;
    CServerConfigArray configs;
    CServerInfoArray servers;
    std::recursive_mutex lock;
    std::unique_ptr<CServerLauncher> launcher;
    std::vector<std::string> boxes;
    std::vector<unsigned> updated, removed;
    std::vector<std::unique_ptr<Process>> strays;
    bool withConsole = false;
    int quits = 0;
};

TEST_F(LauncherTest, StartsTheServerInTheGameFolderAndAConsoleQuitEndsItCleanly) {
    UseClock(RealClock());  // the quit grace waits for a real process
    withConsole = true;
    AddConfig("ironworks.mn3");
    ASSERT_TRUE(launcher->StartConfigurations({0}, false));
    ASSERT_EQ(servers.entries.size(), 1u);
    CServerInfo& entry = *servers.entries[0];
    ASSERT_TRUE(entry.IsRunning());
    EXPECT_EQ(entry.processId, entry.process->Pid());
    EXPECT_TRUE(entry.console);
    EXPECT_TRUE(EventSeen("Server " + Port(0) + ": Launched - TCP/IP."));
    const std::string cache = game + "/custom/cache/" + Port(0);
    for (const char* file : {"/Haldmoor.cfg", "/Haldmoor.mps", "/Haldmoor.dmfc", "/Haldmoor.spy"}) {
        EXPECT_TRUE(fs::FileExists(cache + file)) << file;
    }
    EXPECT_TRUE(fs::FileExists(game + "/crusher.oof"));
    // The server saw the command line as built and ran in the game folder.
    for (int i = 0; i < 200 && !Contains(Record(0), "cwd "); ++i) RealClock().Sleep(25);
    const std::string record = Record(0);
    EXPECT_TRUE(Contains(record, "argv " + game + "/main.exe\n")) << record;
    EXPECT_TRUE(Contains(record, "argv -tempdir\nargv " + cache + "\n")) << record;
    EXPECT_TRUE(Contains(record, "argv -useport\nargv " + Port(0) + "\n")) << record;
    EXPECT_TRUE(Contains(record, "cwd " + game + "\n")) << record;
    // Let the server finish its start before it is told to quit.
    for (int i = 0; i < 200 && !fs::FileExists(cache + "/.lock"); ++i) RealClock().Sleep(25);

    const std::string port = Port(0);
    auto process = std::move(entry.process);  // kept to read the exit code after the stop
    entry.process = Process::Attach(process->Pid(), cache);
    ASSERT_TRUE(entry.process);
    size_t index = 0;
    launcher->RemoveServer(index);
    EXPECT_EQ(index, static_cast<size_t>(-1));  // stepped back for the caller's loop
    EXPECT_EQ(quits, 1);
    ASSERT_EQ(process->Wait(5000), Process::WaitResult::Exited);
    EXPECT_EQ(process->ExitCode(), 0);  // quit, not terminated
    EXPECT_TRUE(servers.entries.empty());
    EXPECT_FALSE(fs::FileExists(cache));
    EXPECT_FALSE(fs::FileExists(game + "/crusher.oof"));
    EXPECT_EQ(removed, (std::vector<unsigned>{static_cast<unsigned>(std::stoul(port))}));
    EXPECT_TRUE(EventSeen("Server " + port + ": Stopped."));
    EXPECT_TRUE(EventSeen("Server " + port + ": Removed."));
}

TEST_F(LauncherTest, MissionFilesStayUntilTheLastServerOfTheMissionStops) {
    AddConfig("ironworks.mn3");
    AddConfig("ironworks.mn3");
    AddConfig("polaris.mn3");
    ASSERT_TRUE(launcher->StartConfigurations({0, 1, 2}, true));  // automatic: all at once
    ASSERT_EQ(servers.entries.size(), 3u);
    for (auto& entry : servers.entries) EXPECT_TRUE(entry->IsRunning());
    const std::string firstCache = servers.entries[0]->config.launch.tempDir;

    size_t index = 0;
    launcher->RemoveServer(index);
    EXPECT_FALSE(fs::FileExists(firstCache));
    EXPECT_TRUE(fs::FileExists(game + "/crusher.oof"));  // the second server still hosts it
    EXPECT_TRUE(fs::FileExists(game + "/turret.oof"));

    index = 0;
    launcher->RemoveServer(index);
    EXPECT_FALSE(fs::FileExists(game + "/crusher.oof"));
    EXPECT_TRUE(fs::FileExists(game + "/polarisgate.oof"));  // another mission's objects stay
    ASSERT_EQ(servers.entries.size(), 1u);
    EXPECT_TRUE(servers.entries[0]->IsRunning());
}

TEST_F(LauncherTest, AFailedStartIsReportedAndLeavesNoEntry) {
    AddConfig("polaris.mn3", "missing.exe");
    ASSERT_TRUE(launcher->StartConfigurations({0}, false));
    EXPECT_TRUE(servers.entries.empty());
    EXPECT_TRUE(EventSeen("Server " + std::to_string(configs.configs[0].launch.serverPort) + ": Failed to start."));

    // A restart of a listed entry that fails removes the entry.
    configs.configs[0].schedule.enabled = 1;
    ASSERT_TRUE(launcher->StartConfigurations({0}, false));
    ASSERT_EQ(servers.entries.size(), 1u);
    size_t index = 0;
    EXPECT_EQ(launcher->StartServerAt(index), 0);
    EXPECT_EQ(index, static_cast<size_t>(-1));
    EXPECT_TRUE(servers.entries.empty());
    EXPECT_TRUE(EventSeen(": Startup failed."));
    EXPECT_TRUE(EventSeen(": Removed."));
}

TEST_F(LauncherTest, FilesThatCannotBeWrittenStartNoProcess) {
    AddConfig("polaris.mn3");
    configs.configs[0].schedule.enabled = 1;
    ASSERT_TRUE(launcher->StartConfigurations({0}, false));
    CServerInfo& entry = *servers.entries[0];
    stdfs::create_directories(entry.config.launch.configFile);  // a folder where the file must go
    EXPECT_FALSE(launcher->LaunchServer(entry));
    EXPECT_FALSE(entry.IsStarted());
    EXPECT_EQ(boxes, (std::vector<std::string>{"Error writing the server configuration files!"}));
}

TEST_F(LauncherTest, HaltedEntryStaysStoppedOnPurposeAndARelaunchStartsOneProcess) {
    AddConfig("polaris.mn3");
    ASSERT_TRUE(launcher->StartConfigurations({0}, false));
    CServerInfo& entry = *servers.entries[0];
    const uint32_t pid = entry.processId;
    ASSERT_TRUE(launcher->LaunchServer(entry));  // already running: no second process
    EXPECT_EQ(entry.processId, pid);

    updated.clear();
    launcher->HaltServer(0);
    ASSERT_EQ(servers.entries.size(), 1u);
    EXPECT_EQ(entry.stoppedOnPurpose, 1u);
    EXPECT_FALSE(entry.IsStarted());
    EXPECT_EQ(entry.processId, 0u);
    EXPECT_EQ(updated.size(), 1u);
    EXPECT_FALSE(Process::Attach(pid, ""));  // really gone

    ASSERT_TRUE(launcher->LaunchServer(entry));
    EXPECT_TRUE(entry.IsRunning());
    EXPECT_EQ(entry.stoppedOnPurpose, 0u);
}

TEST_F(LauncherTest, AStoredPidOfAnotherProcessIsNeverSignalled) {
    AddConfig("polaris.mn3");
    AddConfig("oasis.mn3");
    configs.configs[1].schedule.enabled = 1;
    ASSERT_TRUE(launcher->StartConfigurations({0, 1}, false));
    ASSERT_EQ(servers.entries.size(), 2u);
    const uint32_t pid = servers.entries[0]->processId;

    // The second entry comes back from the store claiming the first server's process.
    servers.entries[1]->processId = pid;
    CServerInfoArray reloaded;
    {
        ArchiveReader reader(servers.Serialize());
        reloaded.ReadFrom(reader);
    }
    ASSERT_EQ(reloaded.entries.size(), 2u);
    EXPECT_TRUE(reloaded.entries[0]->IsRunning());     // its own process: attached
    EXPECT_FALSE(reloaded.entries[1]->IsStarted());    // not its process: refused
    EXPECT_EQ(reloaded.entries[1]->processId, 0u);

    servers.entries[1]->processId = 0;
    std::swap(servers.entries[1], reloaded.entries[1]);
    launcher->StopServer(*servers.entries[1]);
    EXPECT_TRUE(servers.entries[0]->IsRunning());
}

TEST_F(LauncherTest, CacheFolderRemovalDoesNotFollowLinks) {
    AddConfig("polaris.mn3");
    configs.configs[0].schedule.enabled = 1;
    ASSERT_TRUE(launcher->StartConfigurations({0}, false));
    CServerInfo& entry = *servers.entries[0];
    ASSERT_TRUE(launcher->LaunchServer(entry));
    const std::string cache = entry.config.launch.tempDir;
    const std::string outside = root + "/outside";
    stdfs::create_directories(outside);
    ASSERT_TRUE(fs::WriteWholeFile(outside + "/keep.txt", "keep"));
    stdfs::create_directory_symlink(outside, cache + "/linked-folder");
    stdfs::create_symlink(outside + "/keep.txt", cache + "/linked-file");
    ASSERT_TRUE(fs::WriteWholeFile(cache + "/read-only.txt", "x"));
    fs::SetReadOnly(cache + "/read-only.txt", true);

    launcher->StopServer(entry);
    EXPECT_FALSE(fs::FileExists(cache));
    EXPECT_TRUE(fs::FileExists(outside + "/keep.txt"));
    EXPECT_FALSE(fs::GetAttributes(outside + "/keep.txt").readOnly);
}

TEST_F(LauncherTest, OnlyACacheFolderInsideTheGamesCacheIsDeleted) {
    AddConfig("polaris.mn3");
    configs.configs[0].schedule.enabled = 1;
    ASSERT_TRUE(launcher->StartConfigurations({0}, false));
    CServerInfo& entry = *servers.entries[0];
    const std::string cacheRoot = installation->GameFolder() + "/custom/cache";
    const std::string outside = root + "/outside";
    // Folder names as an edited server list may hold them.
    struct Case { std::string folder; std::string kept; };
    const Case cases[] = {
        {outside, outside},
        {cacheRoot + "/../../../outside", outside},
        {cacheRoot + "/linked", outside},  // a link inside that leads out
        {cacheRoot, cacheRoot},
        {cacheRoot + "/.", cacheRoot},
    };
    for (const Case& c : cases) {
        stdfs::create_directories(outside);
        stdfs::create_directories(cacheRoot);
        ASSERT_TRUE(fs::WriteWholeFile(c.kept + "/keep.txt", "keep"));
        if (c.folder == cacheRoot + "/linked") stdfs::create_directory_symlink(outside, c.folder);
        entry.config.launch.tempDir = c.folder;
        launcher->StopServer(entry);
        EXPECT_TRUE(fs::FileExists(c.kept + "/keep.txt")) << c.folder;
        EXPECT_TRUE(EventSeen("Server " + Port(0) + ": Error: the cache folder '" + c.folder + "' is not inside '" +
                              cacheRoot + "'; it is left in place."))
            << c.folder;
        std::error_code ignored;
        stdfs::remove(cacheRoot + "/linked", ignored);
    }
}


TEST_F(LauncherTest, ALaunchUsesOnlyACacheFolderInsideTheGamesCache) {
    AddConfig("polaris.mn3");
    configs.configs[0].schedule.enabled = 1;
    ASSERT_TRUE(launcher->StartConfigurations({0}, false));
    CServerInfo& entry = *servers.entries[0];
    const std::string ownFolder = entry.config.launch.tempDir;
    const std::string cacheRoot = installation->GameFolder() + "/custom/cache";
    const std::string outside = root + "/outside";
    stdfs::create_directories(outside);
    stdfs::create_directories(cacheRoot);
    stdfs::create_directory_symlink(outside, cacheRoot + "/linked");
    // Folder names as an edited server list may hold them; most do not exist yet.
    const struct {
        std::string folder;
        bool started;
    } cases[] = {
        {outside, false},
        {outside + "/new/deeper", false},
        {cacheRoot + "/../../../outside", false},
        {cacheRoot + "/new/../../../outside/new", false},
        {cacheRoot + "/linked", false},
        {cacheRoot + "/linked/new", false},  // a link inside that leads out, below it a new folder
        {cacheRoot, false},
        {cacheRoot + "/.", false},
        {"", false},
        {ownFolder + "/", true},
        {ownFolder, true},  // the last: also when the game has no cache folder yet
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(fs::WriteWholeFile(outside + "/.lock", "held"));
        if (&c == &cases[std::size(cases) - 1]) {
            launcher->StopServer(entry);
            stdfs::remove(cacheRoot + "/linked");
            stdfs::remove_all(cacheRoot);
        }
        entry.config.launch.tempDir = c.folder;
        EXPECT_EQ(launcher->LaunchServer(entry), c.started) << c.folder;
        EXPECT_EQ(entry.IsRunning(), c.started) << c.folder;
        EXPECT_EQ(EventSeen("Server " + Port(0) + ": Error: the cache folder '" + c.folder + "' is not inside '" +
                            cacheRoot + "'; the server is not started."),
                  !c.started)
            << c.folder;
        EXPECT_TRUE(fs::FileExists(outside + "/.lock")) << c.folder;
        EXPECT_FALSE(fs::FileExists(outside + "/new")) << c.folder;
        EXPECT_EQ(fs::FileExists(entry.config.launch.configFile), c.started) << c.folder;
    }
}

// The real clock, with a record of every pause taken through it.
class PauseRecordingClock : public Clock {
public:
    Tick TickCount() override { return RealClock().TickCount(); }
    LocalTime Now() override { return RealClock().Now(); }
    void Sleep(uint32_t ms) override {
        pauses.push_back(ms);
        RealClock().Sleep(ms);
    }
    size_t Count(uint32_t ms) const { return static_cast<size_t>(std::count(pauses.begin(), pauses.end(), ms)); }
    std::vector<uint32_t> pauses;
};

TEST_F(LauncherTest, ServersRemovedTogetherQuitSideBySideAndAreCleanedUpInTheGivenOrder) {
    PauseRecordingClock clock;
    UseClock(clock);
    withConsole = true;
    AddConfig("ironworks.mn3");
    AddConfig("ironworks.mn3");
    AddConfig("polaris.mn3");
    AddConfig("oasis.mn3");
    ASSERT_TRUE(launcher->StartConfigurations({0, 1, 2, 3}, true));
    ASSERT_EQ(servers.entries.size(), 4u);
    std::vector<std::unique_ptr<Process>> processes;  // kept to read the exit codes after the stop
    std::vector<std::string> ports;
    for (size_t i = 0; i < 3; ++i) {
        CServerInfo& entry = *servers.entries[i];
        const std::string cache = entry.config.launch.tempDir;
        for (int wait = 0; wait < 200 && !fs::FileExists(cache + "/.lock"); ++wait) RealClock().Sleep(25);
        ports.push_back(Port(i));
        processes.push_back(std::move(entry.process));
        entry.process = Process::Attach(processes.back()->Pid(), cache);
        ASSERT_TRUE(entry.process);
    }
    const size_t before = eventList->Lines().size();
    clock.pauses.clear();
    int repaints = 0;

    launcher->RemoveServers({2, 0, 1}, [&] { ++repaints; });

    EXPECT_EQ(quits, 3);
    for (auto& process : processes) {
        ASSERT_EQ(process->Wait(5000), Process::WaitResult::Exited);
        EXPECT_EQ(process->ExitCode(), 0);  // quit within the shared grace, not terminated
    }
    // The console pause and the pause after the stop are kept once for the whole batch.
    EXPECT_EQ(clock.Count(CServerInfo::kCloseConsolePauseMs), 1u);
    EXPECT_EQ(clock.Count(CServerLauncher::kAfterStopPauseMs), 1u);
    EXPECT_EQ(repaints, 3);
    ASSERT_EQ(servers.entries.size(), 1u);
    EXPECT_TRUE(servers.entries[0]->IsRunning());  // not in the batch
    EXPECT_FALSE(fs::FileExists(game + "/crusher.oof"));
    EXPECT_FALSE(fs::FileExists(game + "/polarisgate.oof"));
    for (const std::string& port : ports) EXPECT_FALSE(fs::FileExists(game + "/custom/cache/" + port));

    std::vector<std::string> stopLines;
    const auto& lines = eventList->Lines();
    for (size_t i = before; i < lines.size(); ++i) {
        for (const char* tail : {": Stopped.", ": Removed."}) {
            const size_t at = lines[i].find("Server ");
            if (at != std::string::npos && lines[i].size() > strlen(tail) &&
                lines[i].compare(lines[i].size() - strlen(tail), strlen(tail), tail) == 0) {
                stopLines.push_back(lines[i].substr(at));
            }
        }
    }
    std::vector<std::string> expected;
    for (size_t i : {2, 0, 1}) {
        expected.push_back("Server " + ports[i] + ": Stopped.");
        expected.push_back("Server " + ports[i] + ": Removed.");
    }
    EXPECT_EQ(stopLines, expected);
    std::vector<unsigned> removedOrder;
    for (size_t i : {2, 0, 1}) removedOrder.push_back(static_cast<unsigned>(std::stoul(ports[i])));
    EXPECT_EQ(removed, removedOrder);
}

}  // namespace
}  // namespace hm
