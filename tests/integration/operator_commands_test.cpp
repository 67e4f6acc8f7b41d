// The operator's console commands as the operator meets them: haldmoor3 runs headless over a
// simulated game server (k3ded), two players join through k3ded's client, and `--send` lists them,
// talks to them, kicks one by name, bans the other by number and passes one console command through,
// each seen in the answer and in what reached the game server's console.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/process.h"
#include "platform/socket.h"
#include "servers/server_config_array.h"
#include "support/binaries.h"
#include "support/text.h"

namespace hm {
namespace {

using hm::test_support::BinDir;
namespace stdfs = std::filesystem;

using test_support::ReadFile;
using test_support::WaitFor;

class OperatorCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() /
               (std::string("hm_operator_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                std::to_string(::getpid()));
        stdfs::remove_all(root);
        stdfs::create_directories(root / "work/cfg");
        stdfs::create_directories(root / "run");
        environment = "XDG_RUNTIME_DIR=" + (root / "run").string() + " HALDMOOR3_REGISTRY=" +
                      (root / "registry.reg").string() + " ";
        ASSERT_EQ(test_support::MakeInstallation(root.string(), environment), 0);
    }

    void TearDown() override {
        if (program && program->IsRunning()) {
            program->Terminate();
            program->Wait(5000);
        }
        // The game servers run in their own sessions and outlive the program.
        const std::string kill = "pkill -KILL -f '" + (root / "game" / "main.exe").string() + "' >/dev/null 2>&1";
        [[maybe_unused]] const int ignored = std::system(kill.c_str());
        stdfs::remove_all(root);
    }

    int Run(const std::string& command, std::string& output) {
        const std::string file = (root / ("out_" + std::to_string(++runs))).string();
        auto process = Process::Spawn("/usr/bin/env", environment + command, (root / "work").string(), file);
        if (!process) return -1000;
        if (process->Wait(60000) != Process::WaitResult::Exited) return -1001;
        output = ReadFile(file);
        return process->ExitCode();
    }
    int Send(const std::string& command, std::string& output) {
        return Run(BinDir() + "/haldmoor3 --send " + command, output);
    }
    std::string Answer(const std::string& command) {
        std::string output;
        Send(command, output);
        return output;
    }
    std::string Events() const { return ReadFile((root / "events.out").string()); }

    // One server with its console, the warnings before a stop shortened to five seconds.
    void StoreConfiguration(const CSchedule& schedule, bool autoLaunch) {
        unsigned consolePort = 0;
        do {
            gamePort = FindFreeTcpPort();
            consolePort = FindFreeTcpPort();
        } while (gamePort == consolePort);
        CServerConfigArray configs;
        configs.globalOptions.autoRestart = 0;
        configs.globalOptions.autoLaunchAtStart = autoLaunch ? 1 : 0;
        CServerConfig config;
        config.game.gameName = "Alpha";
        config.game.connectionName = "Direct TCP~IP";
        config.game.missionFileName = "oasis.mn3";
        config.game.scriptName = "anarchy";
        config.game.maxPlayers = 9;
        config.game.allowRemoteConsole = 1;
        config.game.remoteConsolePort = static_cast<uint16_t>(consolePort);
        config.game.consolePassword = "Pa55word";
        config.trackers.enabled = 0;
        config.console.logPlayerAddresses = 1;
        config.launch.executable = "main.exe";
        config.launch.serverPort = static_cast<uint16_t>(gamePort);
        config.schedule = schedule;
        configs.configs.push_back(config);
        ASSERT_TRUE(configs.Store((root / "work/cfg").string(), nullptr));
        ASSERT_TRUE(fs::WriteWholeFile((root / "work/cfg/haldmoor3.ini").string(), "[warnings]\ntimes=5,1\n"));
    }
    std::string Record() const {
        return ReadFile((root / "game/custom/cache" / std::to_string(gamePort) / "k3ded.record").string());
    }

    stdfs::path root;
    std::string environment;
    std::unique_ptr<Process> program;
    unsigned gamePort = 0;
    int runs = 0;
};

TEST_F(OperatorCommandsTest, PlayersSayKickBanAndConsoleReachTheServerAndTellTheOperator) {
    StoreConfiguration(CSchedule{}, false);
    program = Process::Spawn("/usr/bin/env", environment + "HALDMOOR3_TIMER_MS=1000 " + BinDir() + "/haldmoor3 --headless",
                             (root / "work").string(), (root / "events.out").string());
    ASSERT_TRUE(program);
    ASSERT_TRUE(WaitFor([&] { return Events().find("Initialization completed.") != std::string::npos; }, 60)) << Events();
    std::string output;
    ASSERT_EQ(Send("start Alpha", output), 0) << output;
    ASSERT_TRUE(WaitFor([&] { return Record().find("command $players") != std::string::npos; }, 90)) << Events();

    const std::string port = std::to_string(gamePort);
    EXPECT_EQ(Answer("players " + port), "No players.\n");
    const std::string client = BinDir() + "/k3ded client --port " + port + " join ";
    ASSERT_EQ(Run(client + "Alice", output), 0) << output;
    ASSERT_EQ(Run(client + "Bob", output), 0) << output;
    // Both are listed once the player list after the second join has come, with the addresses the
    // player-info replies gave.
    ASSERT_TRUE(WaitFor([&] { return Answer("players " + port).find("2\tBob\t127.0.0.1\t") != std::string::npos; }, 30))
        << Answer("players " + port) << Events();
    EXPECT_EQ(Answer("players " + port), "Number\tName\tAddress\tOnline\n1\tAlice\t127.0.0.1\t0 min\n2\tBob\t127.0.0.1\t0 min\n");
    ASSERT_TRUE(WaitFor([&] { return Answer("status").find("\tRunning - TCP/IP\t2/8\n") != std::string::npos; }, 30))
        << Answer("status");
    EXPECT_EQ(Answer("status").rfind("PID\tName\tMission\tGame type\tPort\tStatus\tPlayers\n", 0), 0u);

    const struct {
        std::string command;
        bool ok;
        std::string answer;    // the whole answer, or a part of it for the console's reply
        std::string received;  // what the game server's console got, "" = nothing to look for
    } cases[] = {
        {"say " + port + " Welcome aboard pilots", true, "Said on server " + port + ": Welcome aboard pilots\n",
         "command say Welcome aboard pilots"},
        {"console " + port + " $setmaxplayers 5", true, "Maximum players set to 5.\n", "command $setmaxplayers 5"},
        {"kick " + port + " alice", true, "Kicked Alice (1) from server " + port + ".\n", "command $kick 1"},
        {"ban " + port + " 2", true, "Banned Bob (2) from server " + port + ".\n", "command $Ban 2"},
        {"players 1", false, "Error: no server on port 1.\n", ""},
        {"kick " + port + " Nobody", false, "Error: no player Nobody on server " + port + ".\n", ""},
        {"console " + port + " \"say one\tquit\"", false,
         "Error: control characters are not allowed in a console command.\n", ""},
        {"players", false, "Error: usage: players PORT\n", ""},
        {"say " + port + " \"\"", false, "Error: say needs a text.\n", ""},
    };
    for (const auto& c : cases) {
        const int code = Send(c.command, output);
        EXPECT_EQ(code == 0, c.ok) << c.command << ": " << output;
        if (c.command.rfind("console", 0) == 0 && c.ok) {
            EXPECT_NE(output.find(c.answer), std::string::npos) << c.command << ": " << output;
        } else {
            EXPECT_EQ(output, c.answer) << c.command;
        }
        if (!c.received.empty())
            EXPECT_TRUE(WaitFor([&] { return Record().find(c.received) != std::string::npos; }, 10))
                << c.command << "\n" << Record();
    }
    EXPECT_EQ(Record().find("command say one"), std::string::npos) << "a refused line never reaches the server";
    EXPECT_NE(Events().find("Server " + port + ": Player 'Alice' kicked by the operator."), std::string::npos) << Events();
    EXPECT_TRUE(WaitFor([&] { return Answer("players " + port) == "No players.\n"; }, 30)) << Answer("players " + port);

    // A server with a player is warned in the game before it stops; the stop comes on time.
    stdfs::remove(root / "game/netgames/hosts.deny");  // Bob's ban holds the test's own address
    ASSERT_NE(Answer("console " + port + " $rehash").find("Reloaded hosts.deny: 0 entries."), std::string::npos);
    ASSERT_EQ(Run(client + "Carol", output), 0) << output;
    ASSERT_TRUE(WaitFor([&] { return Answer("players " + port).find("\tCarol\t") != std::string::npos; }, 30));
    EXPECT_EQ(Answer("stop " + port), "Stopped 0 server(s).\nServer " + port + ": players warned; stopping in 5 seconds.\n");
    // The first warning reaches the game; --now then stops the server without waiting for the rest.
    EXPECT_TRUE(WaitFor([&] { return Record().find("command say Server stops in 5 seconds.") != std::string::npos; }, 10))
        << Record();
    EXPECT_EQ(Answer("stop " + port + " --now"), "Stopped 1 server(s).\n");
    EXPECT_EQ(Answer("status").find("\t" + port + "\t"), std::string::npos) << Answer("status");

    ASSERT_EQ(Send("stop-exit", output), 0) << output;
    EXPECT_EQ(program->Wait(60000), Process::WaitResult::Exited);
}

TEST_F(OperatorCommandsTest, AScheduledStopWarnsThePlayersInTheGameAndThenStopsTheServer) {
    // Every day from 00:00 to the next full minute (the one after, when this one is nearly over).
    LocalTime now = RealClock().Now();
    if (now.hour == 23 && now.minute >= 57) GTEST_SKIP() << "too close to midnight for a schedule of today";
    int end = now.hour * 60 + now.minute + (now.second < 40 ? 1 : 2);
    CSchedule schedule;
    schedule.enabled = 1;
    schedule.entries.push_back({{ScheduleTime::kEveryDay, 0, 0},
                                {ScheduleTime::kEveryDay, static_cast<uint16_t>(end / 60), static_cast<uint16_t>(end % 60)}});
    StoreConfiguration(schedule, true);
    program = Process::Spawn("/usr/bin/env", environment + "HALDMOOR3_TIMER_MS=1000 " + BinDir() + "/haldmoor3 --headless",
                             (root / "work").string(), (root / "events.out").string());
    ASSERT_TRUE(program);
    ASSERT_TRUE(WaitFor([&] { return Record().find("command $players") != std::string::npos; }, 90)) << Events();
    const std::string port = std::to_string(gamePort);
    std::string output;
    ASSERT_EQ(Run(BinDir() + "/k3ded client --port " + port + " join Carol", output), 0) << output;
    ASSERT_TRUE(WaitFor([&] { return Answer("players " + port).find("\tCarol\t") != std::string::npos; }, 30));

    std::string record;
    ASSERT_TRUE(WaitFor([&] { record = Record(); return record.find("command say Server stops in 1 second.") != std::string::npos; }, 150))
        << Events() << record;
    EXPECT_LT(record.find("command say Server stops in 5 seconds."), record.find("command say Server stops in 1 second."));
    EXPECT_TRUE(WaitFor([&] { return Events().find("Server " + port + ": Halted") != std::string::npos ||
                                     Answer("status").find("Running") == std::string::npos; }, 20)) << Answer("status");
    const std::string events = Events();
    const size_t stop = events.find("Server " + port + ": Scheduled stop.");
    ASSERT_NE(stop, std::string::npos) << events;
    EXPECT_NE(events.find("Server " + port + ": players warned; stopping in 5 seconds.", stop), std::string::npos) << events;
    ASSERT_EQ(Send("exit", output), 0) << output;
    EXPECT_EQ(program->Wait(60000), Process::WaitResult::Exited);
}

}  // namespace
}  // namespace hm
