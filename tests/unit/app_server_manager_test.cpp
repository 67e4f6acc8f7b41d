// The main window's sequences against a recording view: order of events, progress steps and store
// writes; re-attaching; exit commands; the supervisor's tick count and periodic store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/server_manager.h"
#include "eventlog/event_loop.h"
#include "eventlog/jotwell_binding.h"
#include "platform/registry.h"
#include "servers/dialog_state.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"

namespace hm {
namespace {

namespace stdfs = std::filesystem;

class RecordingLoop : public EventLoop {
public:
    void Post(std::function<void()> task) override { tasks.push_back(std::move(task)); }
    bool IsLoopThread() const override { return true; }
    // The first timer is the supervisor's (timerTask); the others are kept aside.
    unsigned SetTimer(uint32_t periodMs, std::function<void()> task) override {
        if (!timerTask) {
            timerPeriod = periodMs;
            timerTask = std::move(task);
            return 32771;
        }
        otherTimers.push_back(std::move(task));
        return 40000 + static_cast<unsigned>(otherTimers.size());
    }
    void KillTimer(unsigned id) override {
        if (id == 32771) timerTask = nullptr;
    }
    std::deque<std::function<void()>> tasks;
    uint32_t timerPeriod = 0;
    std::function<void()> timerTask;
    std::vector<std::function<void()>> otherTimers;
};

// Records everything the manager shows, in one ordered journal.
class RecordingView : public ManagerView {
public:
    struct Progress : ProgressSteps {
        explicit Progress(std::vector<std::string>& j) : journal(j) {}
        void Setup(const std::string& caption, int steps) override {
            journal.push_back("progress: " + caption + " /" + std::to_string(steps));
        }
        void Step(const std::string& text) override { journal.push_back("step: " + text); }
        ~Progress() override { journal.push_back("progress closed"); }
        std::vector<std::string>& journal;
    };

    void EventLineAdded(const std::string& line) override { journal.push_back("event: " + line.substr(21)); }
    void EventLinesRemoved(size_t) override {}
    void SetTitle(const std::string& title) override { journal.push_back("title: " + title); }
    void SetInfo(InfoField field, const std::string& text) override {
        if (field == InfoField::NetworkAddress) networkAddress = text;
    }
    void UpdateServerLine(const StatusLine& line) override { journal.push_back("line: " + line.port + " " + line.status); }
    void RemoveServerLine(unsigned port) override { journal.push_back("line removed: " + std::to_string(port)); }
    void EnableStopAllButtons(bool enable) override { stopAllEnabled = enable; }
    void Minimize() override { journal.push_back("minimize"); }
    void ShowNormal() override { journal.push_back("show"); }
    std::unique_ptr<ProgressSteps> CreateProgress() override { return std::make_unique<Progress>(journal); }
    void MessageBox(const std::string& text) override { journal.push_back("box: " + text); }
    bool AskYesNo(const std::string&) override { return false; }
    bool PickFile(const std::string&, const std::string&, std::string&) override { return false; }
    void RequestClose() override { journal.push_back("close"); }

    std::vector<std::string> Filter(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& j : journal) {
            if (j.rfind(prefix, 0) == 0) out.push_back(j);
        }
        return out;
    }
    std::vector<std::string> journal;
    std::string networkAddress;
    bool stopAllEnabled = false;
};

class FakeConsole : public RemoteConsole {
public:
    explicit FakeConsole(bool players) : players_(players) {}
    bool IsConnected() const override { return true; }
    bool HasPlayers() const override { return players_; }
    void SendLogout() override {}
    void SendQuit() override {}
    ConsoleFigures Figures() const override { return {}; }
    void SetPlayerCount(int32_t) override {}
    void SetEmptyListTicks(uint32_t) override {}
    void SetLastReportedCount(int32_t) override {}
    int RequestPlayers() override { return 0; }
    void SetMaxPlayers(uint32_t) override {}
    void SendAutoCommands() override {}

private:
    bool players_;
};

class ServerManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = stdfs::temp_directory_path() / ("hm_manager_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                                 "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        stdfs::remove_all(folder);
        stdfs::create_directories(folder);
        context.clock = &clock;
        context.loop = &loop;
        context.view = &view;
        context.workingFolder = folder.string();
        context.timerPeriodMs = 15000;
        // A game installation: the files the program looks for, and a mission reader that takes any archive.
        const stdfs::path game = folder / "game";
        for (const char* dir : {"missions", "netgames", "online"}) stdfs::create_directories(game / dir);
        for (const char* file : {"Kelvane 3.exe", "main.exe", "missions/anarchy.mn3", "netgames/anarchy.k3m",
                                 "online/Direct TCP~IP.k3c"}) {
            fs::WriteWholeFile((game / file).string(), "x");
        }
        registry = std::make_unique<Registry>((folder / "registry.reg").string());
        registry->Write("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3", "BaseDirectory",
                        RegValue::String(game.string()));
        context.registry = registry.get();
        context.readMission = [](CMissionList& list, const std::string&, CMissionInfo mission) {
            list.push_back(mission);
        };
    }
    void TearDown() override { stdfs::remove_all(folder); }

    std::string ConfigPath(const char* name) const { return (folder / "cfg" / name).string(); }

    CServerConfig Config(uint16_t port, const std::string& name) const {
        CServerConfig config;
        config.launch.serverPort = port;
        config.launch.tempDir = (folder / "game/custom/cache" / std::to_string(port)).string();
        config.game.gameName = name;
        return config;
    }

    stdfs::path folder;
    std::unique_ptr<Registry> registry;
    ManualClock clock{5000, LocalTime{2026, 12, 7, 10, 0, 0, 0, 1}};
    RecordingLoop loop;
    RecordingView view;
    ManagerContext context;
};

TEST_F(ServerManagerTest, StartUpAndShutDownRunEveryStepInOrder) {
    {
        ServerManager manager(context);
        manager.StartUp();
        EXPECT_EQ(loop.timerPeriod, 15000u);
        manager.ShutDown();
    }
    const std::vector<std::string> expected = {
        "minimize",
        "title: Haldmoor3 v3.0 by the Haldmoor3 developers",
        "event: Haldmoor3 configuration: " + folder.string() + "/cfg/",
        "event: Initializing...",
        "progress: Initializing Haldmoor3 /12",
        "step: Determine network info...",
        "step: Updating Kelvane 3 file info...",
        "step: Loading server configurations...",
        "step: Loading player infos...",
        "step: Loading tracker infos...",
        "step: Loading server infos...",
        "event: Initialization completed.",
        "title: Haldmoor3 v3.0 by the Haldmoor3 developers",
        "step: Finished!",
        "progress closed",
        "show",
        "progress: Shutting down Haldmoor3... /10",
        "step: Storing server infos...",
        "step: Storing Kelvane executable info...",
        "step: Storing Kelvane mission info...",
        "step: Storing Kelvane network info...",
        "step: Storing Kelvane online info...",
        "step: Storing server configurations...",
        "step: Storing player infos...",
        "step: Finished!",
        "progress closed",
    };
    EXPECT_EQ(view.journal, expected);
    EXPECT_TRUE(fs::FileExists(ConfigPath("KelvaneInfo.dat")));
    EXPECT_TRUE(fs::FileExists(ConfigPath("KelvaneConfig.dat")));
    EXPECT_TRUE(fs::FileExists(ConfigPath("ServerInfo.dat")));
    EXPECT_FALSE(view.networkAddress.empty());
}

TEST_F(ServerManagerTest, StoresComeBackByteIdenticalApartFromTheClearedValues) {
    // A configuration file whose start-up-cleared values are already clear round-trips unchanged.
    CServerConfigArray original;
    original.globalOptions.defaultConsolePassword = "abcdEFGH";
    original.globalOptions.latestVersion = 0x030100;
    original.globalOptions.useJotwellForEventLog = 1;
    original.configs.push_back(Config(2092, "First"));
    original.configs.push_back(Config(2093, "Second"));
    original.configs[1].customDescriptionText = std::string(300, 'd');
    stdfs::create_directories(folder / "cfg");
    ASSERT_TRUE(original.Store((folder / "cfg").string(), nullptr));
    std::string before;
    ASSERT_TRUE(fs::ReadWholeFile(ConfigPath("KelvaneConfig.dat"), before));
    {
        ServerManager manager(context);
        manager.StartUp();
        EXPECT_EQ(manager.configs.configs.size(), 2u);
        manager.ShutDown();
    }
    std::string after;
    ASSERT_TRUE(fs::ReadWholeFile(ConfigPath("KelvaneConfig.dat"), after));
    EXPECT_EQ(before, after);
    // The title shows the stored newer version.
    EXPECT_EQ(view.Filter("title: ").back(),
              "title: Haldmoor3 v3.0 by the Haldmoor3 developers  >>> new version 3.1.0 available <<<");
}

TEST_F(ServerManagerTest, StartUpRemovesOnlyTheTemporariesThatKilledStoresLeft) {
    const stdfs::path cfg = folder / "cfg";
    stdfs::create_directories(cfg);
    std::string writersName;  // the name the atomic writer really gives its temporary
    {
        fs::AtomicFileWriter writer;
        ASSERT_TRUE(writer.Open(ConfigPath("PlayerInfo.dat")));
        for (const auto& item : stdfs::directory_iterator(cfg)) writersName = item.path().filename().string();
    }
    ASSERT_FALSE(writersName.empty());
    enum Kind { File, Folder, Link };
    const struct {
        std::string name;
        Kind kind;
        bool removed;
    } cases[] = {
        {writersName, File, true},
        {"KelvaneConfig.dat.tmp0123456789ab", File, true},
        {"ServerInfo.dat.tmpfedcba987654", File, true},
        {"KelvaneInfo.dat.tmp000000000000", File, true},
        {"TrackerInfo.dat.tmpa1b2c3d4e5f6", File, true},
        {"KelvaneConfig.dat.bak", File, false},
        {"KelvaneConfig.dat.tmp", File, false},
        {"KelvaneConfig.dat.tmp0123456789AB", File, false},
        {"KelvaneConfig.dat.tmp0123456789a", File, false},
        {"KelvaneConfig.dat.tmp0123456789abc", File, false},
        {"KelvaneConfig.dat.tmp0123456789ab.keep", File, false},
        {"xKelvaneConfig.dat.tmp0123456789ab", File, false},
        {"Notes.dat.tmp0123456789ab", File, false},
        {"ServerInfo.dat.tmp0123456789ac", Folder, false},
        {"ServerInfo.dat.tmp0123456789ad", Link, false},
    };
    ASSERT_TRUE(fs::WriteWholeFile((folder / "elsewhere.txt").string(), "x"));
    for (const auto& c : cases) {
        const stdfs::path path = cfg / c.name;
        if (c.kind == File) ASSERT_TRUE(fs::WriteWholeFile(path.string(), "left")) << c.name;
        if (c.kind == Folder) stdfs::create_directory(path);
        if (c.kind == Link) stdfs::create_symlink(folder / "elsewhere.txt", path);
    }
    ServerManager manager(context);
    manager.StartUp();
    for (const auto& c : cases) EXPECT_EQ(fs::FileExists((cfg / c.name).string()), !c.removed) << c.name;
    EXPECT_TRUE(fs::FileExists((folder / "elsewhere.txt").string()));
    EXPECT_TRUE(view.Filter("close").empty()) << "the start-up went on";
}

TEST_F(ServerManagerTest, TrackerInfoIsLoadedAtStartUpAndStoredAtShutDown) {
    {
        ServerManager manager(context);
        manager.StartUp();
        manager.trackerInfo.Set("k3://127.0.0.1:2092", "Capture the Flag");
        manager.ShutDown();
    }
    ASSERT_TRUE(fs::FileExists(ConfigPath("TrackerInfo.dat")));
    ServerManager again(context);
    again.StartUp();
    ASSERT_EQ(again.trackerInfo.Count(), 1u);
    EXPECT_EQ(again.trackerInfo.Entries()[0].value, "Capture the Flag");
}

TEST_F(ServerManagerTest, StartUpClearsTheFourRunValuesInMemory) {
    CServerConfigArray original;
    original.globalOptions.remoteInfo.enabled = 1;
    original.globalOptions.lastVersionCheck = 77;
    original.globalOptions.antiCheat.hostsDenyLastUpdate = 88;
    original.globalOptions.antiCheat.nicknamesLastUpdate = 99;
    stdfs::create_directories(folder / "cfg");
    ASSERT_TRUE(original.Store((folder / "cfg").string(), nullptr));
    ServerManager manager(context);
    manager.StartUp();
    const CGlobalOptions& options = manager.configs.globalOptions;
    EXPECT_EQ(options.remoteInfo.enabled, 0u);
    EXPECT_EQ(options.lastVersionCheck, 0u);
    EXPECT_EQ(options.antiCheat.hostsDenyLastUpdate, 0u);
    EXPECT_EQ(options.antiCheat.nicknamesLastUpdate, 0u);
}

TEST_F(ServerManagerTest, ShutDownWithoutALoadLeavesStoredFilesAlone) {
    stdfs::create_directories(folder / "cfg");
    ASSERT_TRUE(fs::WriteWholeFile(ConfigPath("KelvaneConfig.dat"), "stored data we never read"));
    ASSERT_TRUE(fs::WriteWholeFile(ConfigPath("ServerInfo.dat"), "more stored data"));
    {
        ServerManager manager(context);
        manager.ShutDown();  // as after a failed initialisation: nothing was loaded
    }
    std::string text;
    ASSERT_TRUE(fs::ReadWholeFile(ConfigPath("KelvaneConfig.dat"), text));
    EXPECT_EQ(text, "stored data we never read");
    ASSERT_TRUE(fs::ReadWholeFile(ConfigPath("ServerInfo.dat"), text));
    EXPECT_EQ(text, "more stored data");
}

TEST_F(ServerManagerTest, FailedInitialisationClosesAndLeavesUnreadStoresAlone) {
    struct Case {
        const char* name;
        std::function<void()> breakInstallation;
        bool configsRead;
    };
    const Case cases[] = {
        // No game folder and nobody to pick one: step 7 fails before any store is read.
        {"no folder", [&] { registry->DeleteValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3", "BaseDirectory"); },
         false},
        // No network game types: the check of step 13 fails after the configurations were read.
        {"no game types", [&] { stdfs::remove_all(folder / "game" / "netgames"); }, true},
    };
    for (const Case& c : cases) {
        SetUp();
        stdfs::create_directories(folder / "cfg");
        ASSERT_TRUE(fs::WriteWholeFile(ConfigPath("ServerInfo.dat"), "never read"));
        c.breakInstallation();
        view.journal.clear();
        {
            ServerManager manager(context);
            manager.StartUp();
            EXPECT_TRUE(manager.initializationFailed()) << c.name;
            manager.ShutDown();
        }
        const auto events = view.Filter("event: ");
        EXPECT_EQ(events.back(), "event: Initialization failed.") << c.name;
        EXPECT_EQ(view.Filter("close").size(), 1u) << c.name;
        EXPECT_TRUE(view.Filter("event: Initialization completed.").empty()) << c.name;
        std::string text;
        ASSERT_TRUE(fs::ReadWholeFile(ConfigPath("ServerInfo.dat"), text));
        EXPECT_EQ(text, "never read") << c.name;
        EXPECT_EQ(fs::FileExists(ConfigPath("KelvaneConfig.dat")), c.configsRead) << c.name;
    }
}

TEST_F(ServerManagerTest, DamagedStoreIsReportedAndKeptAside) {
    CServerConfigArray original;
    original.configs.push_back(Config(2092, "First"));
    stdfs::create_directories(folder / "cfg");
    ASSERT_TRUE(original.Store((folder / "cfg").string(), nullptr));
    std::string bytes;
    ASSERT_TRUE(fs::ReadWholeFile(ConfigPath("KelvaneConfig.dat"), bytes));
    ASSERT_TRUE(fs::WriteWholeFile(ConfigPath("KelvaneConfig.dat"), bytes.substr(0, bytes.size() - 7)));

    ServerManager manager(context);
    manager.StartUp();
    const auto errors = view.Filter("event: Error: ");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("KelvaneConfig.dat.damaged"), std::string::npos);
    std::string kept;
    ASSERT_TRUE(fs::ReadWholeFile(ConfigPath("KelvaneConfig.dat.damaged"), kept));
    EXPECT_EQ(kept, bytes.substr(0, bytes.size() - 7));
}

TEST_F(ServerManagerTest, StoreThatCannotBeReadIsReportedAndNeverWrittenOver) {
    struct Case {
        const char* file;
        const char* obstacle;  // "folder" or "fifo" in the file's place
        bool cache;            // the installation cache is rebuilt instead of left alone
    };
    const Case cases[] = {
        {"KelvaneConfig.dat", "folder", false}, {"PlayerInfo.dat", "fifo", false},
        {"ServerInfo.dat", "folder", false},    {"ServerInfo.dat", "fifo", false},
        {"TrackerInfo.dat", "fifo", false},     {"KelvaneInfo.dat", "folder", true},
        {"KelvaneInfo.dat", "fifo", true},
    };
    for (const Case& c : cases) {
        SetUp();
        view.journal.clear();
        const std::string name = std::string(c.file) + " as " + c.obstacle;
        stdfs::create_directories(folder / "cfg");
        const std::string path = ConfigPath(c.file);
        if (std::string(c.obstacle) == "folder") {
            stdfs::create_directories(stdfs::path(path) / "inside");
        } else {
            ASSERT_EQ(std::system(("mkfifo '" + path + "'").c_str()), 0);
        }
        if (std::string(c.file) != "KelvaneConfig.dat") {
            CServerConfigArray stored;
            stored.globalOptions.autoLaunchAtStart = 1;
            ASSERT_TRUE(stored.Store((folder / "cfg").string(), nullptr));
        }
        {
            ServerManager manager(context);
            manager.StartUp();
            manager.trackerInfo.Set("k3://127.0.0.1:2092", "Anarchy");  // gives every store something to write
            manager.players.Update("Pilot", "10.0.0.7");
            manager.ShutDown();
        }
        const std::string reason = std::string(c.obstacle) == "folder" ? "a folder, not a file" : "not a regular file";
        const std::string readError = "event: Error: Cannot read " + path + " (" + reason + "); " +
                                      (c.cache ? "it is rebuilt from the game folder."
                                               : "it is left as it is and not written in this run.");
        const auto errors = view.Filter("event: Error: ");
        ASSERT_FALSE(errors.empty()) << name;
        EXPECT_EQ(errors[0], readError) << name;
        const bool folderStays = std::string(c.obstacle) == "folder";
        if (!c.cache || folderStays) {
            // What stands in the file's place is untouched; a cache that cannot be written says so at exit.
            EXPECT_EQ(stdfs::is_directory(path), folderStays) << name;
            EXPECT_EQ(stdfs::is_fifo(path), !folderStays) << name;
            EXPECT_EQ(errors.size(), c.cache ? 2u : 1u) << name;
            if (c.cache) {
                EXPECT_EQ(errors[1], "event: Error: Cannot write " + path + " (Is a directory); the previous copy is kept.");
            }
        } else {
            EXPECT_TRUE(stdfs::is_regular_file(path)) << name << ": the cache is rebuilt";
            EXPECT_EQ(errors.size(), 1u) << name;
        }
        // Without a readable server list nothing tells which servers still run: no automatic start.
        const bool autoStart = !view.Filter("event: Starting up servers...").empty();
        if (std::string(c.file) != "KelvaneConfig.dat") {
            EXPECT_EQ(autoStart, std::string(c.file) != "ServerInfo.dat") << name;
        }
    }
}

TEST_F(ServerManagerTest, FailedWriteIsReportedOncePerCauseAndRetriedAtTheNextStore) {
    ServerManager manager(context);
    manager.StartUp();
    manager.trackerInfo.Set("k3://127.0.0.1:2092", "Anarchy");
    manager.players.Update("Pilot", "10.0.0.7");
    const char* files[] = {"ServerInfo.dat", "KelvaneInfo.dat", "KelvaneConfig.dat", "TrackerInfo.dat", "PlayerInfo.dat"};
    auto periodicStore = [&] {
        clock.Advance(900001);
        loop.timerTask();
    };
    auto writeErrors = [&] {
        std::vector<std::string> out;
        for (const auto& e : view.Filter("event: Error: Cannot write ")) out.push_back(e);
        return out;
    };
    for (const char* file : files) stdfs::create_directories(stdfs::path(ConfigPath(file)) / "inside");
    periodicStore();
    periodicStore();
    std::vector<std::string> expected;
    for (const char* file : files) {
        expected.push_back(std::string("event: Error: Cannot write ") + ConfigPath(file) +
                           " (Is a directory); the previous copy is kept.");
    }
    EXPECT_EQ(writeErrors(), expected) << "once per store and cause, in the order of the stores";

    // The cause goes away: the next periodic store writes every file, as nothing took the failure for done.
    for (const char* file : files) stdfs::remove_all(ConfigPath(file));
    periodicStore();
    for (const char* file : files) EXPECT_TRUE(stdfs::is_regular_file(ConfigPath(file))) << file;
    PlayerInfoStore reread(clock);
    ASSERT_EQ(reread.Load((folder / "cfg").string(), (folder / "log").string(), nullptr), StoreLoad::Loaded);
    EXPECT_EQ(reread.Count(), 1u);

    // After a successful write the same cause is new again.
    stdfs::remove_all(ConfigPath("PlayerInfo.dat"));
    stdfs::create_directories(stdfs::path(ConfigPath("PlayerInfo.dat")) / "inside");
    periodicStore();
    EXPECT_EQ(writeErrors().size(), expected.size() + 1);
}

TEST_F(ServerManagerTest, ServerListIsStoredWheneverItChanges) {
    // A game server that runs until it is stopped.
    const stdfs::path game = folder / "game";
    ASSERT_TRUE(fs::WriteWholeFile((game / "main.exe").string(), "#!/bin/sh\nexec sleep 30\n"));
    stdfs::permissions(game / "main.exe", stdfs::perms::owner_all);
    ServerManager manager(context);
    manager.StartUp();
    CServerConfig config = Config(2092, "Listed");
    config.launch.executable = "main.exe";
    config.launch.configFile = (folder / "server.cfg").string();
    config.launch.autoexecFile = (folder / "autoexec.cfg").string();
    config.launch.gameSpyFile = "tracker.txt";
    config.game.multiSettingsFile = (folder / "multi.cfg").string();
    config.game.allowRemoteConsole = 0;

    struct Stored {
        size_t entries;
        uint32_t pid;
        uint32_t stoppedOnPurpose;
    };
    auto stored = [&] {
        CServerInfoArray list;
        uint32_t pid = 0;
        list.Load((folder / "cfg").string(), nullptr, [&](uint32_t p, const CServerConfig&) {
            pid = p;
            return std::unique_ptr<Process>();
        });
        return Stored{list.entries.size(), pid, list.entries.empty() ? 0u : list.entries[0]->stoppedOnPurpose};
    };
    auto pid = [&] { return manager.servers.entries[0]->processId; };

    manager.servers.entries.push_back(std::make_unique<CServerInfo>(config));
    size_t index = 0;
    ASSERT_EQ(manager.StartServerAt(index), 1);
    const uint32_t first = pid();
    EXPECT_EQ(stored().entries, 1u);
    EXPECT_EQ(stored().pid, first) << "a launched server is in the stored list at once";

    manager.servers.entries[0]->process->Terminate();
    manager.servers.entries[0]->process->Wait(2000);
    ASSERT_EQ(manager.StartServerAt(index), 1);
    EXPECT_NE(pid(), first);
    EXPECT_EQ(stored().pid, pid()) << "a relaunch stores the new process";

    manager.HaltServer(0);
    EXPECT_EQ(stored().pid, 0u);
    EXPECT_EQ(stored().stoppedOnPurpose, 1u) << "a halted server is stored as stopped on purpose";

    ASSERT_EQ(manager.StartServerAt(index), 1);
    manager.RemoveServer(index);
    EXPECT_EQ(stored().entries, 0u) << "a removed server leaves the stored list at once";
}

TEST_F(ServerManagerTest, ReattachVisitsEveryEntryByItsKind) {
    CServerInfoArray stored;
    auto add = [&](CServerConfig config, uint32_t pid) {
        auto entry = std::make_unique<CServerInfo>(config);
        entry->processId = pid;
        stored.entries.push_back(std::move(entry));
    };
    CServerConfig scheduled = Config(2100, "Scheduled");
    scheduled.schedule.enabled = 1;
    CServerConfig selective = Config(2101, "Selective");
    selective.game.selective = 1;
    add(Config(2102, "Plain A"), 0);
    add(scheduled, 0);
    add(Config(2103, "Plain B"), 0);
    add(selective, 0);
    add(Config(2104, "Running"), 4242);
    stdfs::create_directories(folder / "cfg");
    ASSERT_TRUE(stored.Store((folder / "cfg").string(), nullptr));

    // The running entry's process: a real child standing in for the game server.
    std::unique_ptr<Process> child = Process::Spawn("/bin/sleep", "30", folder.string(), "");
    ASSERT_TRUE(child);
    const uint32_t childPid = child->Pid();
    context.attach = [&](uint32_t pid, const CServerConfig&) -> std::unique_ptr<Process> {
        if (pid != 4242) return nullptr;
        return Process::Attach(childPid, "");
    };
    {
        ServerManager manager(context);
        manager.StartUp();
        // Both plain entries were tried (the second after the first was removed), the others kept.
        ASSERT_EQ(manager.servers.entries.size(), 3u);
        EXPECT_EQ(manager.servers.entries[0]->config.launch.serverPort, 2100);
        EXPECT_TRUE(view.stopAllEnabled);
    }
    const std::vector<std::string> expected = {
        "event: Server 2102 (Plain A): Starting...",
        "event: Server 2102: Startup failed.",
        "event: Server 2102: Stopped.",
        "event: Server 2102: Removed.",
        "event: Server 2100 (Scheduled): Running/scheduled.",
        "event: Server 2103 (Plain B): Starting...",
        "event: Server 2103: Startup failed.",
        "event: Server 2103: Stopped.",
        "event: Server 2103: Removed.",
        "event: Server 2101 (Selective): Selective server and running/scheduled.",
        "event: Server 2104 (Running): Running/scheduled.",
    };
    EXPECT_EQ(view.Filter("event: Server"), expected);
    const std::vector<std::string> lines = {"line removed: 2102", "line: 2100 Stopped (scheduled)",
                                            "line removed: 2103", "line: 2101 Stopped",
                                            "line: 2104 Running"};
    std::vector<std::string> seen;
    for (const auto& j : view.journal) {
        if (j.rfind("line", 0) == 0) seen.push_back(j);
    }
    EXPECT_EQ(seen, lines);
    child->Terminate();
    child->Wait(2000);
}

TEST_F(ServerManagerTest, AServerRelaunchedAfterItsHaltWasStoredIsTakenBackNotStartedTwice) {
    // A restart stores the halted entry, launches, and the program dies before the next store.
    CServerInfoArray stored;
    stored.entries.push_back(std::make_unique<CServerInfo>(Config(2105, "Relaunched")));
    stored.entries[0]->stoppedOnPurpose = 1;
    stdfs::create_directories(folder / "cfg");
    ASSERT_TRUE(stored.Store((folder / "cfg").string(), nullptr));
    std::unique_ptr<Process> child = Process::Spawn("/bin/sleep", "30", folder.string(), "");
    ASSERT_TRUE(child);
    context.attach = [&](uint32_t pid, const CServerConfig& config) -> std::unique_ptr<Process> {
        // Found by its cache folder, as no pid was stored.
        if (pid != 0 || config.launch.serverPort != 2105) return nullptr;
        return Process::Attach(child->Pid(), "");
    };
    {
        ServerManager manager(context);
        manager.StartUp();
        ASSERT_EQ(manager.servers.entries.size(), 1u);
        EXPECT_EQ(manager.servers.entries[0]->processId, child->Pid());
        EXPECT_EQ(manager.servers.entries[0]->stoppedOnPurpose, 0u);
    }
    EXPECT_EQ(view.Filter("event: Server"),
              std::vector<std::string>{"event: Server 2105 (Relaunched): Running/scheduled."});
    child->Terminate();
    child->Wait(2000);
}

TEST_F(ServerManagerTest, StatusLineShowsWhatTheSupervisorSawOfADeadProcess) {
    // Two re-attached servers whose processes then die; another program holds the second's game port.
    TcpSocket holder;
    ASSERT_TRUE(holder.Create(SocketType::Datagram) && holder.Bind(0, 0));
    const uint16_t heldPort = holder.LocalPort();
    TcpSocket probe;
    ASSERT_TRUE(probe.Create(SocketType::Datagram) && probe.Bind(0, 0));
    const uint16_t freePort = probe.LocalPort();
    probe.Close();
    CServerInfoArray stored;
    std::vector<std::unique_ptr<Process>> children;
    for (uint16_t port : {freePort, heldPort}) {
        children.push_back(Process::Spawn("/bin/sleep", "30", folder.string(), ""));
        ASSERT_TRUE(children.back());
        auto entry = std::make_unique<CServerInfo>(Config(port, "Dies"));
        entry->processId = children.back()->Pid();
        stored.entries.push_back(std::move(entry));
    }
    stdfs::create_directories(folder / "cfg");
    ASSERT_TRUE(stored.Store((folder / "cfg").string(), nullptr));
    context.attach = [](uint32_t pid, const CServerConfig&) { return Process::Attach(pid, ""); };
    ServerManager manager(context);
    manager.StartUp();
    for (auto& child : children) {
        child->Terminate();
        child->Wait(2000);
    }
    auto statusOf = [&](uint16_t port) {
        for (const StatusLine& line : manager.StatusLines())
            if (line.portNumber == port) return line.status;
        return std::string("(no line)");
    };
    EXPECT_EQ(statusOf(freePort), "Running");
    manager.SupervisorTick();
    EXPECT_EQ(statusOf(freePort), "Not running");
    EXPECT_EQ(statusOf(heldPort), "Postponed (port in use)");
    for (int i = 0; i < 4; ++i) manager.SupervisorTick();  // the restart is due at the next pass
    EXPECT_EQ(statusOf(freePort), "Restarting");
    EXPECT_EQ(view.Filter("line: " + std::to_string(freePort)).back(), "line: " + std::to_string(freePort) + " Restarting");
}

TEST_F(ServerManagerTest, ExitCommandsResetUpdateAttemptsAboveOneAndClose) {
    struct Case {
        uint32_t attempts, expected;
    };
    for (const Case c : {Case{0, 0}, Case{1, 1}, Case{2, 0}, Case{9, 0}}) {
        for (auto command : {&ServerManager::CommandExit, &ServerManager::CommandStopAndExit,
                             &ServerManager::CommandStopEmptyAndExit}) {
            view.journal.clear();
            ServerManager manager(context);
            manager.configs.globalOptions.updateAttempts = c.attempts;
            (manager.*command)();
            EXPECT_EQ(manager.configs.globalOptions.updateAttempts, c.expected);
            EXPECT_EQ(view.journal.back(), "close");
        }
    }
}

TEST_F(ServerManagerTest, StopEmptyKeepsServersWhoseConsoleReportsPlayers) {
    ServerManager manager(context);
    for (uint16_t port : {2092, 2093, 2094}) {
        manager.servers.entries.push_back(std::make_unique<CServerInfo>(Config(port, "S")));
    }
    manager.servers.entries[1]->console = std::make_unique<FakeConsole>(true);   // players: stays
    manager.servers.entries[2]->console = std::make_unique<FakeConsole>(false);  // empty: goes
    manager.CommandStopEmptyAndExit();
    ASSERT_EQ(manager.servers.entries.size(), 1u);
    EXPECT_EQ(manager.servers.entries[0]->config.launch.serverPort, 2093);
    const std::vector<std::string> expected = {"event: Stopping all empty servers...", "event: Server 2094: Stopped.",
                                               "event: Server 2094: Removed.", "event: Server 2092: Stopped.",
                                               "event: Server 2092: Removed."};
    EXPECT_EQ(view.Filter("event: "), expected);

    manager.CommandStopAll();
    EXPECT_TRUE(manager.servers.entries.empty());
    EXPECT_FALSE(view.stopAllEnabled);
}

TEST_F(ServerManagerTest, SupervisorTicksCountAndStoreEveryFifteenMinutes) {
    ServerManager manager(context);
    manager.StartUp();
    ASSERT_TRUE(loop.timerTask);
    const std::string infoPath = ConfigPath("ServerInfo.dat");
    fs::DeleteFile(infoPath);
    loop.timerTask();
    EXPECT_EQ(manager.supervisor.supervisorTicks, 1u);
    EXPECT_FALSE(fs::FileExists(infoPath));
    clock.Advance(900000);
    loop.timerTask();
    EXPECT_FALSE(fs::FileExists(infoPath)) << "exactly 15 minutes is not more than 15 minutes";
    clock.Advance(1);
    loop.timerTask();
    EXPECT_TRUE(fs::FileExists(infoPath));
    manager.supervisor.supervisorTicks = 99999;
    loop.timerTask();
    loop.timerTask();
    EXPECT_EQ(manager.supervisor.supervisorTicks, 100000u);
}

TEST_F(ServerManagerTest, GlobalOptionsDialogTakesValuesOnlyOnValidOk) {
    JotwellBinding binding;  // no library bound: the switch cannot be offered
    context.jotwell = &binding;
    ServerManager manager(context);
    manager.configs.globalOptions.useJotwellForEventLog = 1;

    GlobalOptionsForm form = manager.OpenGlobalOptions();
    EXPECT_EQ(settingsDialogOpen.load(), 1u);
    EXPECT_EQ(form.options.useJotwellForEventLog, 0u) << "without the library the box is cleared";
    EXPECT_EQ(form.autoRestartMinutes, 360);

    // Out of range: the dialog stays open and nothing is taken.
    form.autoRestartMinutes = 0;
    FieldCheck check = manager.CloseGlobalOptions(form, true);
    EXPECT_FALSE(check.ok());
    EXPECT_EQ(check.message, "Please enter an integer between 1 and 10080.");
    EXPECT_EQ(settingsDialogOpen.load(), 1u);
    EXPECT_EQ(manager.configs.globalOptions.autoRestartPeriod, 21600000u);

    // Valid: taken over, minutes become milliseconds, the title follows the version check.
    form.autoRestartMinutes = 90;
    form.options.latestVersion = 0x030055;
    EXPECT_TRUE(manager.CloseGlobalOptions(form, true).ok());
    EXPECT_EQ(settingsDialogOpen.load(), 0u);
    EXPECT_EQ(manager.configs.globalOptions.autoRestartPeriod, 90u * 60000u);
    EXPECT_EQ(view.Filter("title: ").back(),
              "title: Haldmoor3 v3.0 by the Haldmoor3 developers  >>> new version 3.0.85 available <<<");
    EXPECT_FALSE(binding.useGlobalJotwell());
    RegValue value;
    ASSERT_TRUE(registry->Read(kGameRegistryKey, kUseGlobalJotwellValue, value));
    EXPECT_EQ(value.binary, std::string("\0\0\0\0", 4));

    // Cancel: the options stay; the switch still follows the dialog's copy.
    form = manager.OpenGlobalOptions();
    form.autoRestartMinutes = 5;
    EXPECT_TRUE(manager.CloseGlobalOptions(form, false).ok());
    EXPECT_EQ(manager.configs.globalOptions.autoRestartPeriod, 90u * 60000u);
    EXPECT_EQ(settingsDialogOpen.load(), 0u);
}

TEST_F(ServerManagerTest, CancelledGlobalOptionsKeepTheLibrarySwitchAsTheDialogOpened) {
    // A file of the library's name is all that makes the switch offered; it need not load.
    ASSERT_TRUE(fs::WriteWholeFile((folder / "libjotwell.so").string(), "not a library"));
    JotwellBinding binding;
    binding.BindAtStartup(folder.string(), *registry);
    ASSERT_TRUE(binding.jotwellPresent());
    context.jotwell = &binding;
    ServerManager manager(context);
    for (const uint32_t opened : {0u, 1u}) {
        manager.configs.globalOptions.useJotwellForEventLog = opened;
        GlobalOptionsForm form = manager.OpenGlobalOptions();
        form.options.useJotwellForEventLog = !opened;  // the box toggled, then Cancel
        EXPECT_TRUE(manager.CloseGlobalOptions(form, false).ok());
        EXPECT_EQ(binding.useGlobalJotwell(), opened != 0) << opened;
        EXPECT_EQ(JotwellBinding::ReadSwitch(*registry), opened != 0) << opened;
        EXPECT_EQ(manager.configs.globalOptions.useJotwellForEventLog, opened) << opened;
    }
}

TEST(WindowTitle, NewVersionNoteFrom3_0_84) {
    struct Case {
        uint32_t version;
        const char* title;
    };
    const Case cases[] = {
        {0, "Haldmoor3 v3.0 by the Haldmoor3 developers"},
        {0x030053, "Haldmoor3 v3.0 by the Haldmoor3 developers"},
        {0x030054, "Haldmoor3 v3.0 by the Haldmoor3 developers  >>> new version 3.0.84 available <<<"},
        {0x040102, "Haldmoor3 v3.0 by the Haldmoor3 developers  >>> new version 4.1.2 available <<<"},
    };
    for (const Case& c : cases) EXPECT_EQ(ServerManager::WindowTitle(c.version), c.title) << c.version;
}

}  // namespace
}  // namespace hm
