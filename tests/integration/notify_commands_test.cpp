// Notifications and monitoring end to end: haldmoor3 runs headless over a simulated game server with
// web hooks in cfg/haldmoor3.ini and a metrics file. The hooks hear of the launch, of the crash after a
// SIGKILL and of the stop; `notify-test` reports every hook; `status --json` and `metrics` count the
// restart, and the metrics file follows.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "servers/server_config_array.h"
#include "support/binaries.h"
#include "support/http_test_server.h"
#include "support/text.h"

namespace hm {
namespace {

using nlohmann::json;
using test_support::BinDir;
using test_support::HttpReply;
using test_support::HttpRequest;
using test_support::HttpTestServer;
using test_support::ReadFile;
using test_support::WaitFor;
namespace stdfs = std::filesystem;

class NotifyCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() / "hm_notify_commands";
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
        const std::string kill = "pkill -KILL -f '" + (root / "game" / "main.exe").string() + "' >/dev/null 2>&1";
        [[maybe_unused]] const int ignored = std::system(kill.c_str());
        stdfs::remove_all(root);
    }
    int Run(const std::string& command, std::string& output) {
        const std::string file = (root / ("out_" + std::to_string(++runs))).string();
        auto process = Process::Spawn("/usr/bin/env", environment + command, (root / "work").string(), file);
        if (!process) return -1000;
        if (process->Wait(140000) != Process::WaitResult::Exited) return -1001;
        output = ReadFile(file);
        return process->ExitCode();
    }
    std::string Answer(const std::string& command, int* code = nullptr) {
        std::string output;
        const int exit = Run(BinDir() + "/haldmoor3 --send " + command, output);
        if (code) *code = exit;
        return output;
    }
    std::string Events() const { return ReadFile((root / "events.out").string()); }
    // The bodies the hook received on one path, parsed.
    std::vector<json> Received(const std::string& path) const {
        std::vector<json> bodies;
        for (const HttpRequest& r : hook.Requests())
            if (r.path == path) bodies.push_back(json::parse(r.body, nullptr, false));
        return bodies;
    }
    bool ReceivedJson(const std::string& event, const std::string& text) const {
        for (const json& body : Received("/machine"))
            if (body.value("event", "") == event && body.value("text", "") == text) return true;
        return false;
    }

    HttpTestServer hook{[](const HttpRequest&) { return HttpReply::Text("", "204 No Content"); }};
    stdfs::path root;
    std::string environment;
    std::unique_ptr<Process> program;
    int runs = 0;
};

TEST_F(NotifyCommandsTest, HooksHearOfLaunchCrashAndStopAndTheCountsFollow) {
    ASSERT_TRUE(hook.Ok());
    unsigned gamePort = 0, consolePort = 0;
    do {
        gamePort = FindFreeTcpPort();
        consolePort = FindFreeTcpPort();
    } while (gamePort == consolePort);
    CServerConfigArray configs;
    configs.globalOptions.autoRestart = 0;
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
    config.launch.executable = "main.exe";
    config.launch.serverPort = static_cast<uint16_t>(gamePort);
    configs.configs.push_back(config);
    ASSERT_TRUE(configs.Store((root / "work/cfg").string(), nullptr));
    const std::string deaf = "http://127.0.0.1:" + std::to_string(FindFreeTcpPort()) + "/none";
    const std::string ini = "[notify machine]\nurl=" + hook.Url("/machine") + "\nformat=json\n" +
                            "[notify chat]\nurl=" + hook.Url("/chat") + "\nformat=discord\nevents=crash\n" +
                            "[notify deaf]\nurl=" + deaf + "\nevents=update\n";
    ASSERT_TRUE(fs::WriteWholeFile((root / "work/cfg/haldmoor3.ini").string(), ini));
    const std::string metricsPath = (root / "metrics.prom").string();

    program = Process::Spawn("/usr/bin/env",
                             environment + "HALDMOOR3_TIMER_MS=1000 " + BinDir() + "/haldmoor3 --headless --metrics-file " +
                                 metricsPath,
                             (root / "work").string(), (root / "events.out").string());
    ASSERT_TRUE(program);
    ASSERT_TRUE(WaitFor([&] { return Events().find("Initialization completed.") != std::string::npos; }, 60)) << Events();
    std::string output;
    ASSERT_EQ(Run(BinDir() + "/haldmoor3 --send start Alpha", output), 0) << output;
    const std::string port = std::to_string(gamePort);
    ASSERT_TRUE(WaitFor([&] { return ReceivedJson("start", "Server " + port + ": Launched - TCP/IP."); }, 60)) << Events();

    int code = 0;
    const std::string test = Answer("notify-test", &code);
    EXPECT_EQ(code, 1) << test;
    // (curl words the refused connection)
    EXPECT_EQ(test.substr(0, test.rfind("failed: ") + 8),
              "Error: 1 of 3 notification target(s) did not take the test message.\n"
              "machine\t" + hook.Url("/machine") + "\tHTTP 204\n" +
              "chat\t" + hook.Url("/chat") + "\tHTTP 204\n" +
              "deaf\t" + deaf + "\tfailed: ");
    ASSERT_EQ(Received("/chat").size(), 1u);
    EXPECT_EQ(Received("/chat")[0]["content"].get<std::string>().rfind("[test] Notification test from Haldmoor3", 0), 0u);

    // A crash: the chat hears of it with the server's name, and the supervisor's restart is counted.
    json status = json::parse(Answer("status --json"), nullptr, false);
    ASSERT_TRUE(status.is_array() && status.size() == 1) << status;
    const uint32_t firstPid = status[0]["pid"].get<uint32_t>();
    ASSERT_EQ(std::system(("kill -KILL " + std::to_string(firstPid)).c_str()), 0);
    const std::string crash = "[crash] Server " + port + " (Alpha): Not running anymore -> Restart.";
    ASSERT_TRUE(WaitFor([&] {
        const std::vector<json> chat = Received("/chat");
        return chat.size() == 2 && chat[1]["content"] == crash;
    }, 60)) << Events();
    ASSERT_TRUE(WaitFor([&] {
        status = json::parse(Answer("status --json"), nullptr, false);
        return status.is_array() && status.size() == 1 && status[0]["restarts"] == 1 && status[0]["state"] == "running";
    }, 60)) << status << Events();
    const json& server = status[0];
    EXPECT_EQ(server["port"], gamePort);
    EXPECT_EQ(server["name"], "Alpha");
    EXPECT_EQ(server["mission"], config.game.missionTitle);
    EXPECT_EQ(server["game_type"], "anarchy");
    EXPECT_NE(server["pid"], firstPid);
    EXPECT_EQ(server["max_players"], 8);
    EXPECT_TRUE(server["uptime_seconds"].is_number()) << server;
    EXPECT_EQ(server["last_event"].get<std::string>().rfind("Server " + port + ": "), 21u) << server;

    const std::string restarts = "haldmoor3_restarts_total{port=\"" + port + "\",name=\"Alpha\"} 1\n";
    EXPECT_NE(Answer("metrics").find(restarts), std::string::npos) << Answer("metrics");
    EXPECT_TRUE(WaitFor([&] { return ReadFile(metricsPath).find(restarts) != std::string::npos; }, 30))
        << ReadFile(metricsPath);

    // The stop's lines still reach the hook while the program ends.
    ASSERT_EQ(Run(BinDir() + "/haldmoor3 --send stop-exit", output), 0) << output;
    EXPECT_EQ(program->Wait(60000), Process::WaitResult::Exited);
    EXPECT_TRUE(ReceivedJson("stop", "Server " + port + ": Removed.")) << Events();
    EXPECT_EQ(Received("/chat").size(), 2u) << "the chat asked for crashes only";
}

}  // namespace
}  // namespace hm
