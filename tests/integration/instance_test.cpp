// The program as the operator runs it: one headless instance, later starts that hand it commands,
// the exit paths (command and signal), and what is left in the stores afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "servers/game_config_files.h"
#include "servers/server_config_array.h"
#include "support/binaries.h"

namespace hm {
namespace {

using hm::test_support::BinDir;

namespace stdfs = std::filesystem;


class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() /
               ("hm_instance_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        stdfs::remove_all(root);
        stdfs::create_directories(root / "work");
        stdfs::create_directories(root / "run");
        environment = "XDG_RUNTIME_DIR=" + (root / "run").string() + " HALDMOOR3_REGISTRY=" +
                      (root / "registry.reg").string() + " HALDMOOR3_TIMER_MS=200 ";
        // A game installation made by the simulated server, registered in this test's registry file.
        ASSERT_EQ(test_support::MakeInstallation(root.string(), environment), 0);
    }
    void TearDown() override {
        if (server && server->IsRunning()) {
            server->Terminate();
            server->Wait(5000);
        }
        // Game servers of a test that failed half-way: they run in their own sessions.
        const std::string kill = "pkill -KILL -f '" + (root / "game" / "main.exe").string() + "' >/dev/null 2>&1";
        [[maybe_unused]] const int ignored = std::system(kill.c_str());
        stdfs::remove_all(root);
    }

    // Runs haldmoor3 with arguments through env, in the work folder, output into outputFile.
    std::unique_ptr<Process> Start(const std::string& arguments, const std::string& outputFile) {
        // No display: a plain start must never open a window on the desktop of whoever runs the tests.
        return Process::Spawn("/usr/bin/env",
                              "-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + environment + BinDir() +
                                  "/haldmoor3 " + arguments,
                              (root / "work").string(), outputFile);
    }

    // Runs a second start to its end and returns its output and exit code.
    int RunToEnd(const std::string& arguments, std::string& output) {
        const std::string file = (root / ("out_" + std::to_string(++runs))).string();
        auto process = Start(arguments, file);
        if (!process) return -1000;
        if (process->Wait(60000) != Process::WaitResult::Exited) return -1001;
        fs::ReadWholeFile(file, output);
        return process->ExitCode();
    }

    bool WaitForOutput(const std::string& text, int seconds = 30, const std::string& file = "") {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            std::string output;
            fs::ReadWholeFile(file.empty() ? serverOutput() : file, output);
            if (output.find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string serverOutput() const { return (root / "server.out").string(); }
    std::string ServerText() const {
        std::string text;
        fs::ReadWholeFile(serverOutput(), text);
        return text;
    }

    stdfs::path root;
    std::string environment;
    std::unique_ptr<Process> server;
    int runs = 0;
};

TEST_F(InstanceTest, SecondStartsReachTheRunningInstanceAndExitEndsIt) {
    server = Start("--headless", serverOutput());
    ASSERT_TRUE(server);
    ASSERT_TRUE(WaitForOutput("Initialization completed.")) << ServerText();

    // A plain second start finds the first one and ends without logging anything.
    std::string output;
    EXPECT_EQ(RunToEnd("", output), 0);
    EXPECT_EQ(output, "Haldmoor3 is already running.\n");

    EXPECT_EQ(RunToEnd("--send status", output), 0);
    EXPECT_EQ(output, "PID\tName\tMission\tGame type\tPort\tStatus\tPlayers\n");

    EXPECT_EQ(RunToEnd("--send stop 0", output), 1);
    EXPECT_EQ(output, "Error: not a port: 0\n");
    EXPECT_EQ(RunToEnd("--send frobnicate", output), 1);

    EXPECT_EQ(RunToEnd("--send exit", output), 0);
    EXPECT_EQ(output, "OK\n");
    ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited) << ServerText();
    EXPECT_EQ(server->ExitCode(), 0);

    // Event lines: stamped as the list shows them, in order.
    const std::string text = ServerText();
    const size_t configuration = text.find(": Haldmoor3 configuration: ");
    const size_t completed = text.find(": Initialization completed.");
    ASSERT_NE(configuration, std::string::npos);
    ASSERT_NE(completed, std::string::npos);
    EXPECT_LT(configuration, completed);
    EXPECT_EQ(text[4], '-');
    EXPECT_EQ(text.substr(19, 2), ": ");
    EXPECT_TRUE(fs::FileExists((root / "work/cfg/KelvaneConfig.dat").string()));
    EXPECT_TRUE(fs::FileExists((root / "work/cfg/ServerInfo.dat").string()));
    EXPECT_TRUE(fs::FileExists((root / "work/cfg/KelvaneInfo.dat").string()));

    // Once it is gone, a command finds nobody.
    EXPECT_EQ(RunToEnd("--send status", output), 1);
}

TEST_F(InstanceTest, CommandsTravelAsListsOfWordsFromALongRuntimeFolder) {
    // Longer than a socket file name may be: the channel must still work.
    const stdfs::path longRun = root / "run" / std::string(120, 'r');
    stdfs::create_directories(longRun);
    environment += "XDG_RUNTIME_DIR=" + longRun.string() + " ";
    server = Start("--headless", serverOutput());
    ASSERT_TRUE(server);
    ASSERT_TRUE(WaitForOutput("Initialization completed.")) << ServerText();

    struct Case { std::string arguments; int code; std::string answer; };
    const Case cases[] = {
        {"--send status", 0, "PID\tName\tMission\tGame type\tPort\tStatus\tPlayers\n"},
        {"--send status now", 1, "Error: usage: status\n"},
        {"--send exit please", 1, "Error: usage: exit\n"},
        {"--send start", 1, "Error: usage: start NAME...\n"},
        {"--send import a b", 1, "Error: usage: import MAIN [--batch FILE]\n"},
        // The newline is part of the name, not a second command "exit".
        {"--send start \"Alpha\nexit\"", 1, "Error: no configuration named \"Alpha\nexit\".\n"},
        {"--send start " + std::string(70000, 'n'), 1, "Error: request too large.\n"},
    };
    for (const Case& c : cases) {
        std::string output;
        EXPECT_EQ(RunToEnd(c.arguments, output), c.code) << c.arguments.substr(0, 40);
        EXPECT_EQ(output, c.answer) << c.arguments.substr(0, 40);
    }
    std::string output;
    ASSERT_EQ(RunToEnd("--send stats", output), 0) << output;
    EXPECT_EQ(output.rfind("servers\t0\nsupervisor passes\t", 0), 0u) << output;
    EXPECT_NE(output.find("\nlongest pass ms\t"), std::string::npos) << output;
    ASSERT_EQ(RunToEnd("--send exit", output), 0) << output;
    ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited) << ServerText();
}

TEST_F(InstanceTest, HeadlessPortClashesLeaveOnlyTheClashingServerUnstarted) {
    TcpSocket foreign;  // another program's listener on the last configuration's console port
    ASSERT_TRUE(foreign.Create(SocketType::Stream));
    ASSERT_TRUE(foreign.Bind(LoopbackAddress(), 0));
    ASSERT_TRUE(foreign.Listen());
    unsigned spyPort = 0;
    {
        TcpSocket probe;
        ASSERT_TRUE(probe.Create(SocketType::Datagram));
        ASSERT_TRUE(probe.Bind(LoopbackAddress(), 0));
        spyPort = probe.LocalPort();
    }
    CServerConfigArray configs;
    const char* names[] = {"First", "Second", "Third", "Fourth"};
    unsigned ports[4];
    for (int i = 0; i < 4; ++i) {
        CServerConfig config;
        config.game.gameName = names[i];
        config.game.allowRemoteConsole = 1;
        config.game.consolePassword = "Pa55word";
        config.game.remoteConsolePort = i == 3 ? foreign.LocalPort() : FindFreeTcpPort();
        config.trackers.enabled = 1;
        config.launch.gameSpyPort = static_cast<uint16_t>(i < 2 ? spyPort : spyPort + i);  // First and Second share
        ports[i] = FindFreeTcpPort() + static_cast<unsigned>(i);
        config.launch.serverPort = static_cast<uint16_t>(ports[i]);
        config.schedule.enabled = 1;  // appended, left to the schedule: nothing is launched here
        configs.configs.push_back(config);
    }
    stdfs::create_directories(root / "work/cfg");
    ASSERT_TRUE(configs.Store((root / "work/cfg").string(), nullptr));

    server = Start("--headless", serverOutput());
    ASSERT_TRUE(server);
    ASSERT_TRUE(WaitForOutput("Initialization completed.")) << ServerText();
    std::string output;
    EXPECT_EQ(RunToEnd("--send start First Second Third Fourth", output), 0) << output;
    EXPECT_EQ(output, "Started or scheduled 2 server(s).\n");
    const std::string texts[] = {
        "Server " + std::to_string(ports[0]) + ": Scheduled.",
        "Server " + std::to_string(ports[1]) + ": GameSpy (UDP) port " + std::to_string(spyPort) +
            " is already in use by server " + std::to_string(ports[0]) + "; the server was not started.",
        "Server " + std::to_string(ports[2]) + ": Scheduled.",
        "Server " + std::to_string(ports[3]) + ": Remote console (TCP) port " + std::to_string(foreign.LocalPort()) +
            " is already in use by integration_ins (process ",
    };
    for (const std::string& text : texts) EXPECT_TRUE(WaitForOutput(text, 5)) << text << "\n" << ServerText();
    ASSERT_EQ(RunToEnd("--send exit", output), 0);
    ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited) << ServerText();
}

// The status line of a port: its PID column (0 when there is no such line or no process).
uint32_t PidOnPort(const std::string& status, unsigned port) {
    size_t at = 0;
    while ((at = status.find('\n', at)) != std::string::npos) {
        const size_t begin = ++at;
        const size_t end = status.find('\n', begin);
        const std::string line = status.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        if (line.find("\t" + std::to_string(port) + "\t") != std::string::npos) {
            return static_cast<uint32_t>(std::strtoul(line.c_str(), nullptr, 10));
        }
    }
    return 0;
}

TEST_F(InstanceTest, ServersAreLaunchedRestartedStoppedAndFoundAgainAfterARestart) {
    CServerConfigArray configs;
    configs.globalOptions.defaultConsolePassword = "Pa55word";
    const char* missions[] = {"ironworks.mn3", "oasis.mn3"};
    const char* names[] = {"Alpha", "Beta"};
    unsigned ports[2];
    for (int i = 0; i < 2; ++i) {
        CServerConfig config;
        config.game.gameName = names[i];
        config.game.connectionName = "Direct TCP~IP";
        config.game.missionFileName = missions[i];
        config.game.scriptName = "anarchy";
        config.trackers.enabled = 0;
        config.launch.executable = "main.exe";
        ports[i] = FindFreeTcpPort();
        config.launch.serverPort = static_cast<uint16_t>(ports[i]);
        configs.configs.push_back(config);
    }
    ASSERT_NE(ports[0], ports[1]);
    stdfs::create_directories(root / "work/cfg");
    ASSERT_TRUE(configs.Store((root / "work/cfg").string(), nullptr));

    server = Start("--headless", serverOutput());
    ASSERT_TRUE(server);
    ASSERT_TRUE(WaitForOutput("Initialization completed.")) << ServerText();
    std::string output;
    ASSERT_EQ(RunToEnd("--send start Alpha Beta", output), 0) << output;
    // The first is launched at once; the list's later ones are started by the supervisor.
    uint32_t alpha = 0, beta = 0;
    for (int i = 0; i < 300 && (alpha == 0 || beta == 0); ++i) {
        ASSERT_EQ(RunToEnd("--send status", output), 0);
        alpha = PidOnPort(output, ports[0]);
        beta = PidOnPort(output, ports[1]);
        if (beta == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_NE(alpha, 0u) << output;
    ASSERT_NE(beta, 0u) << output;
    EXPECT_NE(output.find("Running - TCP/IP"), std::string::npos) << output;

    // A server killed from outside is restarted once the first five ticks have passed.
    auto victim = Process::Attach(alpha, "");
    ASSERT_TRUE(victim);
    victim->Terminate();
    const std::string restart = "Server " + std::to_string(ports[0]) + ": Not running anymore -> Restart.";
    ASSERT_TRUE(WaitForOutput(restart)) << ServerText();
    uint32_t alphaAgain = 0;
    for (int i = 0; i < 100 && (alphaAgain == 0 || alphaAgain == alpha); ++i) {
        RunToEnd("--send status", output);
        alphaAgain = PidOnPort(output, ports[0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_NE(alphaAgain, 0u) << output;
    EXPECT_NE(alphaAgain, alpha);

    // Stopping one server removes its cache folder and its process.
    const stdfs::path betaCache = root / "game/custom/cache" / std::to_string(ports[1]);
    EXPECT_TRUE(stdfs::exists(betaCache));
    ASSERT_EQ(RunToEnd("--send stop " + std::to_string(ports[1]), output), 0) << output;
    EXPECT_FALSE(stdfs::exists(betaCache));
    EXPECT_EQ(PidOnPort((RunToEnd("--send status", output), output), ports[1]), 0u);

    // "Exit" leaves the server running; the next start finds it again.
    ASSERT_EQ(RunToEnd("--send exit", output), 0);
    ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited) << ServerText();
    auto survivor = Process::Attach(alphaAgain, "");
    ASSERT_TRUE(survivor && survivor->IsRunning());

    const std::string secondOutput = (root / "server2.out").string();
    server = Start("--headless", secondOutput);
    ASSERT_TRUE(server);
    const std::string found = "Server " + std::to_string(ports[0]) + " (Alpha): Running/scheduled.";
    ASSERT_TRUE(WaitForOutput("Initialization completed.", 30, secondOutput));
    std::string text;
    fs::ReadWholeFile(secondOutput, text);
    EXPECT_NE(text.find(found), std::string::npos) << text;

    // "Stop & Exit" leaves nothing running.
    ASSERT_EQ(RunToEnd("--send stop-exit", output), 0);
    ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited);
    EXPECT_EQ(survivor->Wait(5000), Process::WaitResult::Exited);
}

TEST_F(InstanceTest, ImportCommandAppendsAndStoresTheConfiguration) {
    // The game's own files of a server, as an administrator would have them.
    CServerConfig config;
    config.game.gameName = "Imported";
    config.game.missionFileName = "ironworks.mn3";
    config.game.scriptName = "Anarchy";
    config.game.connectionName = "Direct TCP~IP";
    const std::string mainFile = (root / "server.cfg").string();
    ASSERT_TRUE(WriteServerConfigFile(config.game, mainFile, 2));

    server = Start("--headless", serverOutput());
    ASSERT_TRUE(server);
    ASSERT_TRUE(WaitForOutput("Initialization completed.")) << ServerText();
    std::string output;
    EXPECT_EQ(RunToEnd("--send import " + mainFile, output), 0) << output;
    EXPECT_NE(output.find("Imported"), std::string::npos) << output;
    EXPECT_EQ(RunToEnd("--send import /nonexistent/server.cfg", output), 1) << output;
    EXPECT_EQ(RunToEnd("--send exit", output), 0);
    ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited) << ServerText();

    CServerConfigArray stored;
    ASSERT_EQ(stored.Load((root / "work/cfg").string(), nullptr), StoreLoad::Loaded);
    ASSERT_EQ(stored.configs.size(), 1u);
    EXPECT_EQ(stored.configs[0].game.gameName, "Imported");
    EXPECT_EQ(stored.configs[0].game.missionFileName, "ironworks.mn3");
}

TEST_F(InstanceTest, SignalActsAsExitAndStoresComeBackUnchanged) {
    CServerConfigArray configs;
    configs.globalOptions.defaultConsolePassword = "Pa55word";
    CServerConfig config;
    config.game.gameName = "Demo";
    configs.configs.push_back(config);
    stdfs::create_directories(root / "work/cfg");
    ASSERT_TRUE(configs.Store((root / "work/cfg").string(), nullptr));
    std::string before;
    ASSERT_TRUE(fs::ReadWholeFile((root / "work/cfg/KelvaneConfig.dat").string(), before));

    server = Start("--headless", serverOutput());
    ASSERT_TRUE(server);
    ASSERT_TRUE(WaitForOutput("Initialization completed.")) << ServerText();
    ASSERT_TRUE(server->RequestStop());  // SIGTERM
    ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited) << ServerText();
    EXPECT_EQ(server->ExitCode(), 0);

    std::string after;
    ASSERT_TRUE(fs::ReadWholeFile((root / "work/cfg/KelvaneConfig.dat").string(), after));
    EXPECT_EQ(before, after);
}

TEST_F(InstanceTest, WithoutAGameFolderTheStartFailsAndWritesNoStore) {
    stdfs::remove(root / "registry.reg");
    server = Start("--headless", serverOutput());
    ASSERT_TRUE(server);
    ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited) << ServerText();
    EXPECT_EQ(server->ExitCode(), 1);
    EXPECT_NE(ServerText().find(": Initialization failed."), std::string::npos) << ServerText();
    EXPECT_FALSE(fs::FileExists((root / "work/cfg/KelvaneConfig.dat").string()));
    EXPECT_FALSE(fs::FileExists((root / "work/cfg/ServerInfo.dat").string()));
}

TEST_F(InstanceTest, WithoutADisplayThePlainStartExplainsHeadless) {
    std::string output;
    EXPECT_EQ(RunToEnd("", output), 2);
    EXPECT_NE(output.find("haldmoor3 --headless"), std::string::npos);
    EXPECT_EQ(RunToEnd("--send status", output), 1);
    EXPECT_NE(output.find("not running"), std::string::npos);
}

}  // namespace
}  // namespace hm
