// The consoles under load, as the operator meets them: haldmoor3 runs headless over simulated game
// servers (k3ded). Hundreds of players joining and leaving one server within seconds are each reported
// once and never make the program take the server for dead.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
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

using test_support::Count;
using test_support::ReadFile;
using test_support::WaitFor;

class ConsoleLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() /
               ("hm_load_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        stdfs::remove_all(root);
        stdfs::create_directories(root / "work/cfg");
        stdfs::create_directories(root / "run");
        environment = "XDG_RUNTIME_DIR=" + (root / "run").string() + " HALDMOOR3_REGISTRY=" +
                      (root / "registry.reg").string() + " ";
        ASSERT_EQ(test_support::MakeInstallation(root.string(), environment), 0);
        configs.globalOptions.autoRestart = 0;
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

    // Adds a configuration on fresh ports; returns its game port.
    unsigned AddServer(const std::string& name) {
        unsigned game = 0, console = 0;
        do {
            game = FindFreeTcpPort();
            console = FindFreeTcpPort();
        } while (game == console || used.count(game) || used.count(console));
        used.insert(game);
        used.insert(console);
        CServerConfig config;
        config.game.gameName = name;
        config.game.connectionName = "Direct TCP~IP";
        config.game.missionFileName = "oasis.mn3";
        config.game.scriptName = "anarchy";
        config.game.maxPlayers = 9;
        config.game.allowRemoteConsole = 1;
        config.game.remoteConsolePort = static_cast<uint16_t>(console);
        config.game.consolePassword = "Pa55word";
        config.trackers.enabled = 0;
        config.launch.executable = "main.exe";
        config.launch.serverPort = static_cast<uint16_t>(game);
        configs.configs.push_back(config);
        return game;
    }

    // Starts haldmoor3 and the named servers; waits until every console has logged in.
    void StartSupervised(const std::string& names, const std::vector<unsigned>& ports, const std::string& extra) {
        ASSERT_TRUE(configs.Store((root / "work/cfg").string(), nullptr));
        program = Process::Spawn("/usr/bin/env", environment + extra + BinDir() + "/haldmoor3 --headless",
                                 (root / "work").string(), EventsFile());
        ASSERT_TRUE(program);
        ASSERT_TRUE(WaitFor([&] { return Events().find("Initialization completed.") != std::string::npos; }, 60))
            << Events();
        std::string output;
        ASSERT_EQ(Send("start " + names, output), 0) << output;
        for (unsigned port : ports)
            ASSERT_TRUE(WaitFor([&] { return Record(port).find("command $players") != std::string::npos; }, 90))
                << port << output << Events();
    }

    int Send(const std::string& command, std::string& output) {
        const std::string file = (root / ("send_" + std::to_string(++runs))).string();
        auto process = Process::Spawn("/usr/bin/env", environment + BinDir() + "/haldmoor3 --send " + command,
                                      (root / "work").string(), file);
        if (!process) return -1000;
        if (process->Wait(60000) != Process::WaitResult::Exited) return -1001;
        output = ReadFile(file);
        return process->ExitCode();
    }

    std::string EventsFile() const { return (root / "events.out").string(); }
    std::string Events() const { return ReadFile(EventsFile()); }
    std::string Record(unsigned port) const {
        return ReadFile((root / "game/custom/cache" / std::to_string(port) / "k3ded.record").string());
    }

    stdfs::path root;
    std::string environment;
    CServerConfigArray configs;
    std::set<unsigned> used;
    std::unique_ptr<Process> program;
    int runs = 0;
};

// One game datagram from a simulated player, answered before the next goes out.
bool Play(TcpSocket& socket, unsigned port, const std::string& request) {
    const std::string body = "K3C1 " + request;
    if (socket.SendTo(body.data(), body.size(), LoopbackAddress(), static_cast<uint16_t>(port)) <= 0) return false;
    char answer[600];
    uint32_t from = 0;
    uint16_t fromPort = 0;
    return socket.ReceiveFrom(answer, sizeof answer, from, fromPort) > 0;
}

TEST_F(ConsoleLoadTest, HundredsOfJoinsAndLeavesInSecondsAreEachReportedOnceWithoutARestart) {
    constexpr int kPairs = 300;
    const unsigned port = AddServer("Burst");
    // A silence time-out of ten seconds: a console that fell behind its server by that much would
    // count as dead and the server would be restarted.
    StartSupervised("Burst", {port}, "HALDMOOR3_TIMER_MS=1000 HALDMOOR3_CONSOLE_TIMEOUT_MS=10000 ");
    if (HasFatalFailure()) return;

    TcpSocket player;
    ASSERT_TRUE(player.Create(SocketType::Datagram));
    player.SetReceiveTimeout(2000);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPairs; ++i) {
        const std::string name = "Pilot" + std::to_string(i);
        ASSERT_TRUE(Play(player, port, "JOIN " + name)) << i;
        ASSERT_TRUE(Play(player, port, "LEAVE " + name)) << i;
    }
    const auto sent = std::chrono::steady_clock::now() - start;
    const std::string server = "Server " + std::to_string(port);
    ASSERT_TRUE(WaitFor([&] { return Count(Events(), "' has left.") >= kPairs; }, 60)) << Count(Events(), "' has left.");
    const auto reported = std::chrono::steady_clock::now() - start;
    std::printf("%d join/leave pairs sent in %lld ms, all reported after %lld ms\n", kPairs,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(sent).count()),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(reported).count()));
    // Some ticks more, in which a console that fell behind would time out.
    std::this_thread::sleep_for(std::chrono::seconds(12));
    const std::string events = Events();
    for (int i = 0; i < kPairs; ++i) {
        const std::string name = "Pilot" + std::to_string(i);
        ASSERT_EQ(Count(events, server + ": Player '" + name + "' has joined."), 1u) << name;
        ASSERT_EQ(Count(events, server + ": Player '" + name + "' has left."), 1u) << name;
    }
    EXPECT_EQ(Count(events, "remote console timeout"), 0u);
    EXPECT_EQ(Count(events, server + ": Launched"), 1u) << events;
}

}  // namespace
}  // namespace hm
