// The remote console as the operator meets it: haldmoor3 runs headless, supervises one simulated game
// server (k3ded) through its console, and simulated players join, misbehave and leave. What is checked
// is what the operator sees in the event list and what reached the game server's console.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "servers/server_config_array.h"
#include "support/binaries.h"
#include "support/text.h"

namespace hm {
namespace {

using hm::test_support::BinDir;

namespace stdfs = std::filesystem;


bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using test_support::Count;

class ConsoleK3dedTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() /
               ("hm_console_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        stdfs::remove_all(root);
        stdfs::create_directories(root / "work/cfg");
        stdfs::create_directories(root / "run");
        environment = "XDG_RUNTIME_DIR=" + (root / "run").string() + " HALDMOOR3_REGISTRY=" +
                      (root / "registry.reg").string() + " ";
        ASSERT_EQ(test_support::MakeInstallation(root.string(), environment), 0);

        gamePort = FindFreeTcpPort();
        do {
            consolePort = FindFreeTcpPort();
        } while (consolePort == gamePort);
        configs.globalOptions.defaultConsolePassword = "Pa55word";
        configs.globalOptions.autoRestart = 0;
        CServerConfig config;
        config.game.gameName = "Console";
        config.game.connectionName = "Direct TCP~IP";
        config.game.missionFileName = "oasis.mn3";
        config.game.scriptName = "anarchy";
        config.game.maxPlayers = 9;
        config.game.allowRemoteConsole = 1;
        config.game.remoteConsolePort = static_cast<uint16_t>(consolePort);
        config.game.consolePassword = "Pa55word";
        config.trackers.enabled = 0;
        config.launch.executable = "main.exe";
        config.launch.serverPort = static_cast<uint16_t>(gamePort);
        configs.configs.push_back(config);
    }

    void TearDown() override {
        for (auto& client : clients)
            if (client && client->IsRunning()) client->Terminate(), client->Wait(5000);
        if (server && server->IsRunning()) {
            server->Terminate();
            server->Wait(5000);
        }
        // Game servers of a test that failed half-way: they run in their own sessions.
        const std::string kill = "pkill -KILL -f '" + (root / "game" / "main.exe").string() + "' >/dev/null 2>&1";
        [[maybe_unused]] const int ignored = std::system(kill.c_str());
        stdfs::remove_all(root);
    }

    // Stores the configuration, starts haldmoor3 and the server, and waits until the console has logged
    // in and sent its first command (the game server holds its output back until then).
    void StartSupervised() {
        ASSERT_TRUE(configs.Store((root / "work/cfg").string(), nullptr));
        const std::string timeout =
            consoleTimeoutMs ? "HALDMOOR3_CONSOLE_TIMEOUT_MS=" + std::to_string(consoleTimeoutMs) + " " : "";
        server = Process::Spawn("/usr/bin/env",
                                environment + timeout + "HALDMOOR3_TIMER_MS=" + std::to_string(tickMs) + " " +
                                    BinDir() + "/haldmoor3 --headless",
                                (root / "work").string(), EventsFile());
        ASSERT_TRUE(server);
        ASSERT_TRUE(WaitFor([&] { return Contains(Events(), "Initialization completed."); })) << Events();
        std::string output;
        ASSERT_EQ(Send("start Console", output), 0) << output;
        ASSERT_TRUE(WaitFor([&] { return Contains(Record(), "command $players"); })) << Record() << Events();
    }

    // Runs haldmoor3 --send to its end.
    int Send(const std::string& command, std::string& output) {
        const std::string file = (root / ("send_" + std::to_string(++runs))).string();
        auto process = Process::Spawn("/usr/bin/env", environment + BinDir() + "/haldmoor3 --send " + command,
                                      (root / "work").string(), file);
        if (!process) return -1000;
        if (process->Wait(60000) != Process::WaitResult::Exited) return -1001;
        fs::ReadWholeFile(file, output);
        return process->ExitCode();
    }

    // Starts a simulated player action against the game port; the returned index names its output.
    size_t Client(const std::string& arguments) {
        const std::string file = (root / ("client_" + std::to_string(clients.size()))).string();
        clients.push_back(Process::Spawn(
            "/usr/bin/env", environment + BinDir() + "/k3ded client --port " + std::to_string(gamePort) + " " + arguments,
            root.string(), file));
        return clients.size() - 1;
    }
    // Runs a client action to its end; its exit code (negative when it could not run or did not end).
    int RunClient(const std::string& arguments, std::string* output = nullptr) {
        const size_t index = Client(arguments);
        return FinishClient(index, output);
    }
    int FinishClient(size_t index, std::string* output = nullptr) {
        auto& client = clients[index];
        if (!client) return -1000;
        if (client->Wait(60000) != Process::WaitResult::Exited) return -1001;
        if (output) fs::ReadWholeFile((root / ("client_" + std::to_string(index))).string(), *output);
        return client->ExitCode();
    }

    static bool WaitFor(const std::function<bool()>& condition, int seconds = 30) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return condition();
    }

    std::string EventsFile() const { return (root / "events.out").string(); }
    std::string Events() const { return ReadFile(EventsFile()); }
    // The game server's own record of its console logins and commands.
    std::string Record() const {
        return ReadFile((root / "game/custom/cache" / std::to_string(gamePort) / "k3ded.record").string());
    }
    static std::string ReadFile(const std::string& path) {
        std::string text;
        fs::ReadWholeFile(path, text);
        return text;
    }
    std::string Server(const std::string& rest) const { return "Server " + std::to_string(gamePort) + rest; }
    // Events after the first occurrence of `mark` (empty when it has not happened).
    std::string EventsAfter(const std::string& mark) const {
        const std::string text = Events();
        const size_t at = text.find(mark);
        return at == std::string::npos ? std::string() : text.substr(at + mark.size());
    }
    size_t Launches() const { return Count(Events(), Server(": Launched - TCP/IP.")); }

    // Process ids of this test's game servers that are alive (an exited one that was not reaped yet has
    // no command line left and is not counted).
    std::vector<int> GameServerPids() const {
        const std::string executable = (root / "game" / "main.exe").string();
        std::vector<int> pids;
        std::error_code error;
        for (const auto& item : stdfs::directory_iterator("/proc", error)) {
            const std::string name = item.path().filename().string();
            if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream in(item.path() / "cmdline", std::ios::binary);
            const std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (line.rfind(executable + '\0', 0) == 0) pids.push_back(std::stoi(name));
        }
        return pids;
    }

    stdfs::path root;
    std::string environment;
    CServerConfigArray configs;
    unsigned gamePort = 0;
    unsigned consolePort = 0;
    unsigned tickMs = 200;   // the supervisor's period
    unsigned consoleTimeoutMs = 0;   // the console silence time-out; 0 = the program's own
    std::unique_ptr<Process> server;
    std::vector<std::unique_ptr<Process>> clients;
    int runs = 0;
};

TEST_F(ConsoleK3dedTest, ForbiddenNicknameIsKickedWithItsMessageAndBannedPatternIsBanned) {
    configs.globalOptions.antiCheat.disallowedNicknames = {"Bot*"};
    StartSupervised();
    if (HasFatalFailure()) return;

    const size_t cheater = Client("--wait 15000 join %evil");
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(": Player '%evil' kicked (illegal nickname).")); }))
        << Events();
    std::string output;
    EXPECT_EQ(FinishClient(cheater, &output), 0);
    EXPECT_TRUE(Contains(output, "KICKED")) << output;
    // Said first, then kicked: the message reached the server before the kick.
    const std::string record = Record();
    const size_t said = record.find("command say %evil uses an INVALID NICKNAME and gets kicked!");
    const size_t kicked = record.find("command $kick 1");
    ASSERT_NE(said, std::string::npos) << record;
    ASSERT_NE(kicked, std::string::npos) << record;
    EXPECT_LT(said, kicked);

    // A fair name next to the pattern is left alone; the name the pattern covers is banned, silently.
    EXPECT_EQ(RunClient("join Bo"), 0);
    const size_t bot = Client("--wait 15000 join BOTTY");
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(": Player 'BOTTY' banned.")); })) << Events();
    EXPECT_EQ(FinishClient(bot, &output), 0);
    EXPECT_TRUE(Contains(output, "BANNED")) << output;
    EXPECT_TRUE(Contains(ReadFile((root / "game/netgames/hosts.deny").string()), "127.0.0.1"));
    EXPECT_FALSE(Contains(Record(), "command say BOTTY"));
    EXPECT_FALSE(Contains(Events(), "'Bo' kicked"));
    EXPECT_FALSE(Contains(Events(), "'Bo' banned"));
}

TEST_F(ConsoleK3dedTest, PlayersAreCountedAndTheSupervisorAssumesTheCount) {
    // Ticks long enough that five of them outlast the round trip of a player list after a join.
    tickMs = 1000;
    StartSupervised();
    if (HasFatalFailure()) return;

    ASSERT_EQ(RunClient("join Alice"), 0);
    ASSERT_EQ(RunClient("join Bob"), 0);
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(": 2 player(s) assumed.")); })) << Events();
    EXPECT_TRUE(Contains(Events(), Server(": Player 'Alice' has joined.")));
    EXPECT_TRUE(Contains(Events(), Server(": Player 'Bob' has joined.")));
    // Well past five ticks: with both players listed the count is never doubted, nor before the list came.
    std::this_thread::sleep_for(std::chrono::seconds(6));
    EXPECT_FALSE(Contains(EventsAfter(Server(": Player 'Bob' has joined.")), Server(": 0 player(s) assumed.")))
        << Events();
    EXPECT_FALSE(Contains(EventsAfter(Server(": Player 'Bob' has joined.")), Server(": 1 player(s) assumed.")))
        << Events();

    ASSERT_EQ(RunClient("leave Alice"), 0);
    const std::string left = Server(": Player 'Alice' has left.");
    ASSERT_TRUE(WaitFor([&] { return Contains(EventsAfter(left), Server(": 1 player(s) assumed.")); })) << Events();
    ASSERT_EQ(RunClient("drop Bob"), 0);
    const std::string dropped = Server(": Player 'Bob' has left.");
    ASSERT_TRUE(WaitFor([&] { return Contains(EventsAfter(dropped), Server(": 0 player(s) assumed.")); }))
        << Events();
}

TEST_F(ConsoleK3dedTest, CorruptionRestartsTheServerOnceItIsEmpty) {
    StartSupervised();
    if (HasFatalFailure()) return;
    ASSERT_EQ(RunClient("join Alice"), 0);
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(": 1 player(s) assumed.")); })) << Events();
    // The list that shows Alice arrives after the join; only then is the server known to be busy.
    std::this_thread::sleep_for(std::chrono::seconds(3));

    ASSERT_EQ(RunClient("corrupt"), 0);
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(" crashed")); })) << Events();
    std::this_thread::sleep_for(std::chrono::seconds(2));   // ten ticks with a player listed
    EXPECT_EQ(Launches(), 1u) << Events();

    ASSERT_EQ(RunClient("leave Alice"), 0);
    ASSERT_TRUE(WaitFor([&] { return Launches() == 2; })) << Events();
}

TEST_F(ConsoleK3dedTest, QuitAtTheServerRemovesTheEntry) {
    // The process is seen gone at once, the console's last words only after a second of silence:
    // start-up ticks long enough that the not-running rule is not yet allowed to act by then.
    tickMs = 1500;
    StartSupervised();
    if (HasFatalFailure()) return;
    ASSERT_EQ(RunClient("admin-quit"), 0);
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(" has been quit by admin")); })) << Events();
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(": Removed.")); })) << Events();
    std::string status;
    EXPECT_EQ(Send("status", status), 0);
    EXPECT_FALSE(Contains(status, "\t" + std::to_string(gamePort) + "\t")) << status;
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(Launches(), 1u) << Events();
}

TEST_F(ConsoleK3dedTest, UptimeRestartOfAnEmptyServer) {
    configs.globalOptions.autoRestart = 1;
    configs.globalOptions.autoRestartPeriod = 3000;
    StartSupervised();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(": Uptime exceeded. Automatic restart...")); }))
        << Events();
    ASSERT_TRUE(WaitFor([&] { return Launches() >= 2; })) << Events();
}

TEST_F(ConsoleK3dedTest, UptimeRestartWaitsWhilePlayersAreConnected) {
    configs.globalOptions.autoRestart = 1;
    configs.globalOptions.autoRestartPeriod = 12000;
    tickMs = 1000;
    StartSupervised();
    if (HasFatalFailure()) return;
    ASSERT_EQ(RunClient("join Alice"), 0);
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(": 1 player(s) assumed.")); })) << Events();
    // Past the period by several ticks, with Alice listed all the time.
    std::this_thread::sleep_for(std::chrono::seconds(16));
    EXPECT_FALSE(Contains(Events(), "Uptime exceeded")) << Events();
    EXPECT_EQ(Launches(), 1u) << Events();
    EXPECT_TRUE(Contains(Events(), Server(": 1 player(s) assumed."))) << Events();
    EXPECT_FALSE(Contains(EventsAfter(Server(": 1 player(s) assumed.")), Server(": 0 player(s) assumed.")))
        << Events();
}

TEST_F(ConsoleK3dedTest, HungServerIsKilledAndRestartedAfterTheConsoleTimeout) {
    consoleTimeoutMs = 4000;
    StartSupervised();
    if (HasFatalFailure()) return;
    const std::vector<int> first = GameServerPids();
    ASSERT_EQ(first.size(), 1u);

    // A server that keeps talking is not taken for hung, however long it runs: a chat line every one and
    // a half seconds (each one framed and parsed on its own) for more than twice the time-out.
    ASSERT_EQ(RunClient("join Alice"), 0);
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(": 1 player(s) assumed.")); })) << Events();
    const auto talkUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(2 * consoleTimeoutMs + 1000);
    for (int line = 0; std::chrono::steady_clock::now() < talkUntil; ++line) {
        ASSERT_EQ(RunClient("chat Alice line " + std::to_string(line)), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    EXPECT_FALSE(Contains(Events(), "remote console timeout")) << Events();
    EXPECT_EQ(Launches(), 1u) << Events();

    std::string answer;
    ASSERT_EQ(RunClient("hang", &answer), 0) << answer;
    const std::string timedOut = Server(" remote console timeout (crashed?)");
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), timedOut); }, 60)) << Events();
    ASSERT_TRUE(WaitFor([&] { return Contains(EventsAfter(timedOut), Server(": Launched - TCP/IP.")); }, 60))
        << Events();
    EXPECT_TRUE(Contains(EventsAfter(timedOut), Server(": Stopped."))) << Events();
    // Alice was still counted when the time-out struck: unlike a crash report, it does not wait for an
    // empty server.
    const std::string before = Events().substr(0, Events().find(timedOut));
    const size_t counted = before.rfind(Server(": 1 player(s) assumed."));
    const size_t emptied = before.rfind(Server(": 0 player(s) assumed."));
    EXPECT_TRUE(counted != std::string::npos && (emptied == std::string::npos || emptied < counted)) << Events();

    // The hung process is gone; a new one runs, answers on the game port and has taken a console login
    // (its cache folder, and with it the record, is new).
    ASSERT_TRUE(WaitFor([&] {
        const std::vector<int> now = GameServerPids();
        return now.size() == 1 && now[0] != first[0];
    }, 60)) << Events();
    EXPECT_TRUE(WaitFor([&] { return RunClient("status") == 0; }, 60)) << Events();
    EXPECT_TRUE(WaitFor([&] { return Contains(Record(), "command $players"); }, 60)) << Record() << Events();
    EXPECT_FALSE(Contains(Record(), "\nhang ")) << Record();

    // Stopped with the program, nothing of this test's game servers is left running.
    ASSERT_EQ(Send("stop-exit", answer), 0) << answer;
    ASSERT_EQ(server->Wait(120000), Process::WaitResult::Exited) << Events();
    EXPECT_TRUE(WaitFor([&] { return GameServerPids().empty(); }, 30)) << Events();
}

TEST_F(ConsoleK3dedTest, KilledServersWithPlayersAreRestartedOnePerPass) {
    tickMs = 1000;
    // A second server behind the first in the list.
    CServerConfig second = configs.configs[0];
    second.game.gameName = "Second";
    unsigned secondPort = 0, secondConsole = 0;
    do {
        secondPort = FindFreeTcpPort();
        secondConsole = FindFreeTcpPort();
    } while (secondPort == gamePort || secondPort == consolePort || secondConsole == gamePort ||
             secondConsole == consolePort || secondConsole == secondPort);
    second.launch.serverPort = static_cast<uint16_t>(secondPort);
    second.game.remoteConsolePort = static_cast<uint16_t>(secondConsole);
    configs.configs.push_back(second);
    ASSERT_TRUE(configs.Store((root / "work/cfg").string(), nullptr));
    server = Process::Spawn("/usr/bin/env",
                            environment + "HALDMOOR3_TIMER_MS=" + std::to_string(tickMs) + " " + BinDir() +
                                "/haldmoor3 --headless",
                            (root / "work").string(), EventsFile());
    ASSERT_TRUE(server);
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), "Initialization completed."); })) << Events();
    std::string output;
    ASSERT_EQ(Send("start Console Second", output), 0) << output;
    const std::string secondRecord = (root / "game/custom/cache" / std::to_string(secondPort) / "k3ded.record").string();
    ASSERT_TRUE(WaitFor([&] { return Contains(Record(), "command $players") && Contains(ReadFile(secondRecord), "command $players"); }))
        << Events();

    ASSERT_EQ(RunClient("join Alice"), 0);
    ASSERT_EQ(RunClient("join Bob"), 0);
    ASSERT_TRUE(WaitFor([&] { return Contains(Events(), Server(": 2 player(s) assumed.")); })) << Events();
    std::this_thread::sleep_for(std::chrono::seconds(2));   // the list that shows both has arrived

    // The PID column of the status answer names each server's process.
    auto pidOf = [&](unsigned port) {
        std::string status;
        Send("status", status);
        const size_t at = status.find("\t" + std::to_string(port) + "\t");
        if (at == std::string::npos) return -1;
        const size_t line = status.rfind('\n', at);
        return std::atoi(status.c_str() + (line == std::string::npos ? 0 : line + 1));
    };
    const int firstPid = pidOf(gamePort), secondPid = pidOf(secondPort);
    ASSERT_GT(firstPid, 0);
    ASSERT_GT(secondPid, 0);
    ASSERT_EQ(std::system(("kill -9 " + std::to_string(firstPid) + " " + std::to_string(secondPid)).c_str()), 0);

    const std::string secondServer = "Server " + std::to_string(secondPort);
    auto launchesOf = [&](const std::string& name) { return Count(Events(), name + ": Launched - TCP/IP."); };
    ASSERT_TRUE(WaitFor([&] { return Launches() == 2 && launchesOf(secondServer) == 2; }, 60)) << Events();
    const std::string events = Events();
    const size_t firstRestart = events.find(Server(": Not running anymore -> Restart."));
    const size_t secondRestart = events.find(secondServer + ": Not running anymore -> Restart.");
    ASSERT_NE(firstRestart, std::string::npos) << events;
    ASSERT_NE(secondRestart, std::string::npos) << events;
    // One restart per pass, whichever entry comes first in the list: the earlier one is launched
    // before the later one is decided.
    const bool firstEarlier = firstRestart < secondRestart;
    const std::string earlierLaunch = (firstEarlier ? Server("") : secondServer) + ": Launched - TCP/IP.";
    const size_t launched = events.find(earlierLaunch, std::min(firstRestart, secondRestart));
    EXPECT_LT(launched, std::max(firstRestart, secondRestart)) << events;
    // Each was restarted once, and each runs again under a new process that the status line shows.
    EXPECT_EQ(Count(events, Server(": Not running anymore -> Restart.")), 1u) << events;
    EXPECT_TRUE(WaitFor([&] {
        const int a = pidOf(gamePort), b = pidOf(secondPort);
        return a > 0 && b > 0 && a != firstPid && b != secondPid;
    })) << Events();
    std::string status;
    ASSERT_EQ(Send("status", status), 0);
    EXPECT_EQ(Count(status, "\tRunning - TCP/IP\t"), 2u) << status;
    EXPECT_TRUE(WaitFor([&] { return Contains(Record(), "command $players"); })) << Events();

    ASSERT_EQ(Send("stop-exit", output), 0) << output;
    ASSERT_EQ(server->Wait(120000), Process::WaitResult::Exited) << Events();
}

}  // namespace
}  // namespace hm
