// haldscope against the real program: a headless instance with two simulated game servers and the
// remote info server enabled in its stored global options. The list shows both servers with their
// console ports (the passwords only when asked for), set and remove reach TrackerInfo.dat when the
// program stores it at its exit, and a wrong password ends haldscope with the status's meaning.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "servers/server_config_array.h"
#include "support/binaries.h"
#include "support/text.h"
#include "trackers/tracker_info_store.h"

namespace hm {
namespace {

using test_support::BinDir;
using test_support::ReadFile;
namespace stdfs = std::filesystem;


class HaldscopeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root = stdfs::temp_directory_path() / ("hm_haldscope_" + std::to_string(stamp));
        stdfs::create_directories(root / "work");
        stdfs::create_directories(root / "run");
        environment = "XDG_RUNTIME_DIR=" + (root / "run").string() + " HALDMOOR3_REGISTRY=" +
                      (root / "registry.reg").string() + " ";
        ASSERT_EQ(test_support::MakeInstallation(root.string(), environment), 0);
        // Ports free now, so that nothing else on the machine (or a run of this test left behind) holds them.
        gamePort = FindFreeTcpPort();
        for (uint16_t& port : consolePorts) port = FindFreeTcpPort();
        ASSERT_TRUE(gamePort && consolePorts[0] && consolePorts[1] && consolePorts[0] != consolePorts[1]);
        std::string output;
        ASSERT_EQ(Run(BinDir() + "/k3ded demo-configs " + cfg() + " " + std::to_string(gamePort) + " 2", output), 0)
            << output;
        infoPort = FindFreeTcpPort();
        ASSERT_NE(infoPort, 0);
        CServerConfigArray store;
        ASSERT_EQ(store.Load(cfg(), nullptr), StoreLoad::Loaded);
        for (int i = 0; i < 2; ++i) store.configs[i].game.remoteConsolePort = consolePorts[i];
        store.globalOptions.remoteInfo.enabled = 1;
        store.globalOptions.remoteInfo.port = infoPort;
        store.globalOptions.remoteInfo.password = "lantern";
        ASSERT_TRUE(store.Store(cfg(), nullptr));
    }
    void TearDown() override {
        if (program && program->IsRunning()) {
            std::string answer;
            Run(BinDir() + "/haldmoor3 --send stop-exit", answer);
            if (program->Wait(60000) != Process::WaitResult::Exited) program->Terminate();
        }
        // A program that ended early leaves its game servers: they go with the test.
        for (int i = 0; i < 2; ++i) {
            const std::string cache = (root / "game/custom/cache" / std::to_string(gamePort + i)).string();
            if (auto server = Process::FindByArgument(cache)) server->Terminate();
        }
        stdfs::remove_all(root);
    }

    bool WrittenForGame(const std::string& line) const {
        for (const auto& file : stdfs::recursive_directory_iterator(root / "game")) {
            if (file.is_regular_file() && ReadFile(file.path().string()).find(line) != std::string::npos) return true;
        }
        return false;
    }
    std::string cfg() const { return (root / "work/cfg").string(); }
    int Run(const std::string& command, std::string& output) {
        const std::string file = (root / ("out_" + std::to_string(++runs))).string();
        auto process = Process::Spawn("/usr/bin/env", environment + command, (root / "work").string(), file);
        if (!process) return -1000;
        if (process->Wait(60000) != Process::WaitResult::Exited) return -1001;
        output = ReadFile(file);
        return process->ExitCode();
    }
    int Scope(const std::string& arguments, std::string& output, const std::string& password = "lantern") {
        return Run(BinDir() + "/haldscope --port " + std::to_string(infoPort) + " --password " + password + " " +
                       arguments,
                   output);
    }

    stdfs::path root;
    std::string environment;
    std::unique_ptr<Process> program;
    uint16_t infoPort = 0;
    uint16_t gamePort = 0;
    uint16_t consolePorts[2] = {};
    int runs = 0;
};

TEST_F(HaldscopeTest, ListsTheServersAndKeepsTheTrackerInformation) {
    program = Process::Spawn("/usr/bin/env", environment + BinDir() + "/haldmoor3 --headless", (root / "work").string(),
                             (root / "events").string());
    ASSERT_TRUE(program);
    std::string list;
    ASSERT_TRUE(test_support::WaitFor(
        [&] { return Scope("list", list) == 0 && list.find("Oasis CTF") != std::string::npos; }, 60))
        << list << ReadFile((root / "events").string());
    EXPECT_NE(ReadFile((root / "events").string()).find("Remote info server is running on port " +
                                                        std::to_string(infoPort)),
              std::string::npos);

    // One aligned line per server: port, name, mission, script, players, console port; no passwords.
    EXPECT_EQ(list.rfind("Port   Game name          Mission    Script   Max players  Console port\n", 0), 0u) << list;
    const std::string first = std::to_string(gamePort), second = std::to_string(gamePort + 1);
    EXPECT_NE(list.find("\n" + first + "  Ironworks Anarchy  Ironworks  Anarchy  "), std::string::npos) << list;
    EXPECT_NE(list.find("\n" + second + "  Oasis CTF          Oasis      CTF      "), std::string::npos) << list;
    for (const int consolePort : consolePorts)
        EXPECT_NE(list.find("  " + std::to_string(consolePort) + "\n"), std::string::npos) << list;
    std::string json;
    ASSERT_EQ(Scope("--json --show-passwords list", json), 0) << json;
    EXPECT_NE(json.find("\"port\": " + second + ", \"gameName\": \"Oasis CTF\""), std::string::npos) << json;
    // Each server's console password is the one its launch wrote into the game server's files.
    for (const int consolePort : consolePorts) {
        const std::string before = "\"consolePort\": " + std::to_string(consolePort) + ", \"consolePassword\": \"";
        const size_t at = json.find(before);
        ASSERT_NE(at, std::string::npos) << json;
        const std::string password = json.substr(at + before.size(), json.find('"', at + before.size()) - at - before.size());
        ASSERT_FALSE(password.empty());
        EXPECT_EQ(list.find(password), std::string::npos) << "shown without --show-passwords";
        EXPECT_TRUE(WrittenForGame("ConsolePassword=" + password + "\r\n")) << password;
    }

    std::string answer;
    EXPECT_EQ(Scope("list", answer, "candle"), 1);
    EXPECT_NE(answer.find("invalid password"), std::string::npos) << answer;

    struct Step {
        const char* arguments;
        int exitCode;
        const char* output;  // a part of what it prints
    } steps[] = {
        {"set map ember", 0, ""},
        {"set mode ctf", 0, ""},
        {"set map polaris", 0, ""},
        {"trackers", 0, "Key   Value\nmap   polaris\nmode  ctf\n"},
        {"remove mode", 0, ""},
        {"remove mode", 1, "entry not found"},
        {"set toolongakey x", 2, "at most 9 characters"},
        {"--json trackers", 0, "[\n  {\"index\": 0, \"key\": \"map\", \"value\": \"polaris\"}\n]\n"},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(Scope(step.arguments, answer), step.exitCode) << step.arguments << ": " << answer;
        EXPECT_NE(answer.find(step.output), std::string::npos) << step.arguments << ": " << answer;
    }

    // The store reaches the file when the program stores it at its exit.
    ASSERT_EQ(Run(BinDir() + "/haldmoor3 --send stop-exit", answer), 0) << answer;
    ASSERT_EQ(program->Wait(60000), Process::WaitResult::Exited);
    TrackerInfoStore stored;
    ASSERT_EQ(stored.Load(cfg(), nullptr), StoreLoad::Loaded);
    ASSERT_EQ(stored.Entries().size(), 1u);
    EXPECT_EQ(stored.Entries()[0].key, "map");
    EXPECT_EQ(stored.Entries()[0].value, "polaris");
    EXPECT_NE(ReadFile((root / "events").string()).find("Remote info server (127.0.0.1): invalid password"),
              std::string::npos);
}

}  // namespace
}  // namespace hm
