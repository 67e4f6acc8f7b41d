// Free-port searches and the port settling of the start commands: which entries clash for which
// port, the wrap from 65535 to 1024, the info server's port, the automatic choice, the operator's
// port question (its text, OK with a new port, cancel ending the list), the automatic console and
// the automatic start's exclusion. Scheduled configurations keep these tests free of processes.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "launch/port_search.h"
#include "launch/server_launcher.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace hm {
namespace {

std::unique_ptr<CServerInfo> Entry(unsigned gamePort, unsigned consolePort, bool console, unsigned spyPort, bool spy) {
    auto entry = std::make_unique<CServerInfo>();
    entry->config.launch.serverPort = static_cast<uint16_t>(gamePort);
    entry->config.game.remoteConsolePort = static_cast<uint16_t>(consolePort);
    entry->config.game.allowRemoteConsole = console ? 1 : 0;
    entry->config.launch.gameSpyPort = static_cast<uint16_t>(spyPort);
    entry->config.trackers.enabled = spy ? 1 : 0;
    return entry;
}

TEST(PortSearch, ClashRulesPerSearch) {
    CServerInfoArray servers;
    servers.entries.push_back(Entry(2092, 3000, true, 20144, true));
    servers.entries.push_back(Entry(2093, 3001, false, 20145, false));  // no console, no trackers
    servers.entries.push_back(Entry(2095, 3002, true, 20146, true));
    CGlobalOptions options(1);
    options.remoteInfo.port = 2094;

    struct Case { const char* name; unsigned result, expected; };
    const Case cases[] = {
        {"game: free port stays", FindFreeGamePort(2100, servers, options), 2100},
        {"game: steps over entries and the info server", FindFreeGamePort(2092, servers, options), 2096},
        {"game: info server port alone", FindFreeGamePort(2094, servers, options), 2096},
        {"console: entry without console does not clash", FindFreeConsolePort(3001, servers), 3001},
        {"console: allowed console clashes", FindFreeConsolePort(3000, servers), 3001},
        {"console: the info server does not matter", FindFreeConsolePort(2094, servers), 2094},
        {"spy: entry without trackers does not clash", FindFreeGameSpyPort(20145, servers), 20145},
        {"spy: reporting entry clashes", FindFreeGameSpyPort(20146, servers), 20147},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected) << c.name;
}

TEST(PortSearch, WrapsFrom65535To1024AndRestartsWithTheFirstEntry) {
    CServerInfoArray servers;
    // Listed so that the candidate after the wrap clashes with an entry tested before the clash that
    // caused the wrap: only a restart from the first entry finds 1024 taken.
    servers.entries.push_back(Entry(1024, 1024, true, 1024, true));
    servers.entries.push_back(Entry(65535, 65535, true, 65535, true));
    CGlobalOptions options(1);
    options.remoteInfo.port = 1025;
    EXPECT_EQ(FindFreeGamePort(65535, servers, options), 1026u);
    EXPECT_EQ(FindFreeConsolePort(65535, servers), 1025u);
    EXPECT_EQ(FindFreeGameSpyPort(65534, servers), 65534u);
    EXPECT_EQ(FindFreeGameSpyPort(65535, servers), 1025u);
}

class StartPortsTest : public ::testing::Test {
protected:
    StartPortsTest() : clock(5000), events(clock, nullptr, nullptr) {
        std::random_device random;
        root = (std::filesystem::temp_directory_path() / ("hm_ports_" + std::to_string(random()))).string();
        std::filesystem::create_directories(root + "/game/custom/cache");
        std::filesystem::create_directories(root + "/game/custom/cache");
        fs::WriteWholeFile(root + "/game/" + kGameLauncher, "launcher");
        registry = std::make_unique<Registry>(root + "/registry.reg");
        registry->Write(kGameKey, "BaseDirectory", RegValue::String(root + "/game"));
        installation = std::make_unique<CGameInstallation>(*registry, MissionArchiveReader{});
        sysInfo = std::make_unique<CSystemInfo>(root);
        configs.globalOptions.remoteInfo.port = 2090;
        launcher = std::make_unique<CServerLauncher>(LaunchContext{
            clock, events, *sysInfo, *installation, configs, servers, lock,
            [this](const std::string& message, unsigned nextFree, unsigned& chosen) {
                questions.push_back(message + " next " + std::to_string(nextFree));
                if (answers.empty()) return outOfAnswers;
                chosen = answers.front();
                answers.erase(answers.begin());
                return PortAnswer::UsePort;
            },
            [this](const std::string& text) { boxes.push_back(text); },
            [this](const CServerInfo& entry) { lines.push_back(entry.config.launch.serverPort); },
            [](unsigned) {}, {}, {},
            [this](PortProtocol protocol, unsigned port) { return hostTaken.count({protocol, port}) != 0; },
            [this](PortProtocol protocol, unsigned port) {
                return hostTaken.count({protocol, port}) ? std::string("nc (process 77)") : std::string();
            }});
    }
    ~StartPortsTest() override {
        launcher.reset();
        installation.reset();  // puts the game's language value back into the registry file first
        registry.reset();
        std::filesystem::remove_all(root);
    }

    // A configuration the start commands append without launching (its schedule is on).
    void AddConfig(const std::string& name, unsigned port, bool scheduled = true) {
        CServerConfig config;
        config.game.gameName = name;
        config.game.connectionName = "Direct TCP~IP";
        config.game.allowRemoteConsole = 1;
        config.game.consolePassword = "pw";
        config.game.remoteConsolePort = 3000;
        config.trackers.enabled = 0;
        config.launch.serverPort = static_cast<uint16_t>(port);
        config.schedule.enabled = scheduled ? 1 : 0;
        configs.configs.push_back(config);
    }
    std::vector<unsigned> GamePorts() const {
        std::vector<unsigned> ports;
        for (const auto& e : servers.entries) ports.push_back(e->config.launch.serverPort);
        return ports;
    }
    bool EventSeen(const std::string& text) const {
        for (const auto& line : events.Lines()) {
            if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0) return true;
        }
        return false;
    }

    ManualClock clock;
    EventLogList events;
    std::string root;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<CGameInstallation> installation;
    std::unique_ptr<CSystemInfo> sysInfo;
    CServerConfigArray configs;
    CServerInfoArray servers;
    std::recursive_mutex lock;
    std::unique_ptr<CServerLauncher> launcher;
    std::vector<std::string> questions;
    std::vector<unsigned> answers;
    PortAnswer outOfAnswers = PortAnswer::CancelAll;
    std::set<std::pair<PortProtocol, unsigned>> hostTaken;  // ports other programs hold
    std::vector<std::string> boxes;
    std::vector<unsigned> lines;
};

TEST_F(StartPortsTest, SamePortTwiceWithAutomaticChoiceMovesTheSecondAndItsCacheFolder) {
    configs.globalOptions.autoChoosePorts = 1;
    AddConfig("one", 2092);
    AddConfig("two", 2092);
    ASSERT_TRUE(launcher->StartConfigurations({0, 1}, false));
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(GamePorts(), (std::vector<unsigned>{2092, 2093}));
    const CServerConfig& second = servers.entries[1]->config;
    EXPECT_EQ(second.launch.tempDir, root + "/game/custom/cache/2093");
    EXPECT_EQ(second.launch.gameSpyFile, "custom/cache/2093/Haldmoor.spy");
    EXPECT_EQ(second.game.remoteConsolePort, 3001);  // the console port moved as well
    EXPECT_EQ(lines, (std::vector<unsigned>{2092, 2093}));
    EXPECT_TRUE(EventSeen("Server 2093: Scheduled."));
    EXPECT_EQ(configs.configs[1].launch.serverPort, 2092);  // the stored configuration is untouched
}

TEST_F(StartPortsTest, InfoServerPortIsNeverGivenToAGameServer) {
    configs.globalOptions.autoChoosePorts = 1;
    AddConfig("one", 2090);
    ASSERT_TRUE(launcher->StartConfigurations({0}, false));
    EXPECT_EQ(GamePorts(), (std::vector<unsigned>{2091}));
}

TEST_F(StartPortsTest, ClashQuestionTakesTheEnteredPortAndChecksItAgain) {
    AddConfig("one", 2092);
    AddConfig("two", 2092);
    AddConfig("three", 2092);
    answers = {2092, 2500};  // the first answer still clashes, so the question comes again
    EXPECT_FALSE(launcher->StartConfigurations({0, 1}, false));
    EXPECT_EQ(questions, (std::vector<std::string>{"Server (UDP) port 2092 is already in use! next 2093",
                                                   "Server (UDP) port 2092 is already in use! next 2093",
                                                   "Remote console (TCP) port 3000 is already in use! next 3001"}));
    // The console question was cancelled: nothing of the second configuration was added.
    EXPECT_EQ(GamePorts(), (std::vector<unsigned>{2092}));
}

TEST_F(StartPortsTest, CancelStopsTheRestOfTheList) {
    AddConfig("one", 2092);
    AddConfig("two", 2092);
    AddConfig("three", 2200);
    EXPECT_FALSE(launcher->StartConfigurations({0, 1, 2}, false));
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(GamePorts(), (std::vector<unsigned>{2092}));  // handled before the cancel: stays
}

TEST_F(StartPortsTest, GameSpyPortSettledOnlyWhenReporting) {
    configs.globalOptions.autoChoosePorts = 1;
    AddConfig("one", 2092);
    AddConfig("two", 2100);
    AddConfig("three", 2200);
    for (auto& c : configs.configs) {
        c.trackers.enabled = 1;
        c.launch.gameSpyPort = 20144;
    }
    configs.configs[2].trackers.enabled = 0;
    ASSERT_TRUE(launcher->StartConfigurations({0, 1, 2}, false));
    EXPECT_EQ(servers.entries[0]->config.launch.gameSpyPort, 20144);
    EXPECT_EQ(servers.entries[1]->config.launch.gameSpyPort, 20145);
    EXPECT_EQ(servers.entries[2]->config.launch.gameSpyPort, 0);  // off: no port at all
}

TEST_F(StartPortsTest, MissingConsoleGetsOneWithANewPasswordWithoutAsking) {
    AddConfig("one", 2092);
    AddConfig("two", 2100);
    configs.configs[1].game.allowRemoteConsole = 0;
    configs.configs[1].game.consolePassword = "kept-but-unused";
    AddConfig("three", 2200);
    configs.configs[2].game.consolePassword = "";
    ASSERT_TRUE(launcher->StartConfigurations({0, 1, 2}, false));
    EXPECT_TRUE(questions.empty());
    for (size_t i = 1; i < 3; ++i) {
        const CGameSettings& game = servers.entries[i]->config.game;
        EXPECT_EQ(game.allowRemoteConsole, 1u);
        EXPECT_EQ(game.consolePassword.size(), 8u);
        EXPECT_NE(game.consolePassword, "kept-but-unused");
        EXPECT_EQ(game.consolePassword, servers.entries[i]->config.console.password);
    }
    EXPECT_EQ(servers.entries[1]->config.game.remoteConsolePort, 3001);
    EXPECT_EQ(servers.entries[2]->config.game.remoteConsolePort, 3002);
}

TEST_F(StartPortsTest, AutomaticStartSkipsExcludedConfigurationsBeforeAskingAnything) {
    AddConfig("one", 2092);
    AddConfig("two", 2092);
    configs.configs[1].game.autoLaunchAllowed = 0;
    ASSERT_TRUE(launcher->StartConfigurations({0, 1}, true));
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(GamePorts(), (std::vector<unsigned>{2092}));
}

TEST_F(StartPortsTest, LaterConfigurationsOfTheServerListAreLeftToTheSupervisor) {
    configs.globalOptions.autoChoosePorts = 1;
    AddConfig("one", 2092);
    AddConfig("two", 2100, false);
    AddConfig("three", 2200, false);
    configs.configs[1].game.connectionName = "Meridian Online";
    configs.globalOptions.mroUserName = "";  // "two" fails its preparation and is skipped
    ASSERT_TRUE(launcher->StartConfigurations({0, 1, 2}, false));
    EXPECT_EQ(GamePorts(), (std::vector<unsigned>{2092, 2200}));
    EXPECT_FALSE(servers.entries[1]->IsStarted());
    EXPECT_TRUE(EventSeen("Server 2200: Scheduled."));
    EXPECT_EQ(boxes, (std::vector<std::string>{"No MRO username and/or password given!\n(->Global options)"}));
}

TEST_F(StartPortsTest, PortsHeldOnTheHostClashAndAnUnwatchedAnswerLeavesOnlyThatServer) {
    // Two share a GameSpy port, others want ports that programs of the host hold.
    struct Want { const char* name; unsigned game, console, spy; };
    const Want wants[] = {{"one", 2092, 3000, 20144}, {"two", 2093, 3001, 20144}, {"three", 2094, 3002, 20150},
                          {"four", 2095, 3100, 20151}, {"five", 2096, 3003, 20152}, {"six", 2097, 3004, 20153}};
    for (const Want& want : wants) {
        AddConfig(want.name, want.game);
        configs.configs.back().game.remoteConsolePort = static_cast<uint16_t>(want.console);
        configs.configs.back().trackers.enabled = 1;
        configs.configs.back().launch.gameSpyPort = static_cast<uint16_t>(want.spy);
    }
    hostTaken = {{PortProtocol::Tcp, 3100}, {PortProtocol::Udp, 2096}, {PortProtocol::Udp, 3003},
                 {PortProtocol::Tcp, 20153}};  // the last two: the other protocol, no clash
    outOfAnswers = PortAnswer::LeaveServer;
    ASSERT_TRUE(launcher->StartConfigurations({0, 1, 2, 3, 4, 5}, false));
    EXPECT_EQ(GamePorts(), (std::vector<unsigned>{2092, 2094, 2097}));
    EXPECT_TRUE(EventSeen("Server 2093: GameSpy (UDP) port 20144 is already in use by server 2092; the server was not started."));
    EXPECT_TRUE(EventSeen("Server 2095: Remote console (TCP) port 3100 is already in use by nc (process 77); the server was not started."));
    EXPECT_TRUE(EventSeen("Server 2096: Server (UDP) port 2096 is already in use by nc (process 77); the server was not started."));
    EXPECT_EQ(questions.size(), 3u);

    // With the automatic choice the held ports are stepped over instead.
    servers.entries.clear();
    questions.clear();
    configs.globalOptions.autoChoosePorts = 1;
    ASSERT_TRUE(launcher->StartConfigurations({3, 4}, false));
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(GamePorts(), (std::vector<unsigned>{2095, 2097}));
    EXPECT_EQ(servers.entries[0]->config.game.remoteConsolePort, 3101);
}

TEST(HostPorts, AListenerOrABoundDatagramSocketOfAnotherProgramHoldsItsPort) {
    for (const SocketType type : {SocketType::Stream, SocketType::Datagram}) {
        const PortProtocol protocol = type == SocketType::Stream ? PortProtocol::Tcp : PortProtocol::Udp;
        TcpSocket holder;
        ASSERT_TRUE(holder.Create(type));
        ASSERT_TRUE(holder.Bind(LoopbackAddress(), 0));  // one address only: still no server can bind all
        if (type == SocketType::Stream) ASSERT_TRUE(holder.Listen());
        const unsigned port = holder.LocalPort();
        EXPECT_TRUE(HostPortTaken(protocol, port)) << port;
        const std::string name = HostPortHolder(protocol, port);
        EXPECT_EQ(name.rfind("unit_launch_por (process ", 0), 0u) << name;  // this test program, by its short name
        holder.Close();
        EXPECT_FALSE(HostPortTaken(protocol, port)) << port;
        EXPECT_EQ(HostPortHolder(protocol, port), "");
    }
}

}  // namespace
}  // namespace hm
