// The self-update and the uptime restart as an administrator meets them: a copy of the program (built
// with the tests' signing key) runs headless in its own folder over a running game server; a local
// update site offers a signed newer program. The program downloads it, starts the updater and ends;
// the updater puts the new file in place, keeps the old one as .previous and starts the program again
// headless, which finds the game server still running (nobody restarts it). The uptime restart takes
// the same way back with a shortened cycle count.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/process.h"
#include "platform/socket.h"
#include "servers/server_config_array.h"
#include "support/binaries.h"
#include "support/http_test_server.h"
#include "support/text.h"
#include "update/update_signature.h"

namespace hm {
namespace {

using test_support::BinDir;
using test_support::Count;
using test_support::HttpReply;
using test_support::HttpRequest;
using test_support::HttpTestServer;
using test_support::ReadFile;
using test_support::WaitFor;
namespace stdfs = std::filesystem;

class SelfUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() / ("hm_self_update_" + std::to_string(::getpid()));
        stdfs::remove_all(root);
        for (const char* folder : {"work/cfg", "run", "prog"}) stdfs::create_directories(root / folder);
        environment = "XDG_RUNTIME_DIR=" + (root / "run").string() + " HALDMOOR3_REGISTRY=" +
                      (root / "registry.reg").string() + " ";
        ASSERT_EQ(test_support::MakeInstallation(root.string(), environment), 0);
        program = (root / "prog/haldmoor3").string();
        stdfs::copy_file(BinDir() + "/haldmoor3-testkey", program);
        stdfs::copy_file(BinDir() + "/haldmoor3-updater", root / "prog/haldmoor3-updater");

        // One game server that the program starts at its first start-up.
        gamePort = FindFreeTcpPort();
        CServerConfigArray configs;
        configs.globalOptions.autoLaunchAtStart = 1;
        configs.globalOptions.autoRestart = 0;
        CServerConfig config;
        config.game.gameName = "Alpha";
        config.game.connectionName = "Direct TCP~IP";
        config.game.missionFileName = "oasis.mn3";
        config.game.scriptName = "anarchy";
        config.trackers.enabled = 0;
        config.launch.executable = "main.exe";
        config.launch.serverPort = static_cast<uint16_t>(gamePort);
        configs.configs.push_back(config);
        ASSERT_TRUE(configs.Store((root / "work/cfg").string(), nullptr));
    }

    void TearDown() override {
        // Every instance the updater may still start is told to exit, then whatever is left is killed.
        for (int i = 0; i < 20 && Send("exit") == 0; ++i) RealClock().Sleep(300);
        for (const std::string pattern :
             {(root / "work/haldmoor3-updater-tmp").string(), program, (root / "game/main.exe").string()}) {
            const std::string kill = "pkill -KILL -f '" + pattern + "' >/dev/null 2>&1";
            [[maybe_unused]] const int ignored = std::system(kill.c_str());
        }
        stdfs::remove_all(root);
    }

    void Start(const std::string& variables) {
        auto started = Process::Spawn("/usr/bin/env", environment + variables + " " + program + " --headless",
                                      (root / "work").string(), (root / "events.out").string());
        ASSERT_TRUE(started);
    }
    int Send(const std::string& command, std::string* answer = nullptr) {
        const std::string file = (root / ("send_" + std::to_string(++sends))).string();
        auto sender = Process::Spawn("/usr/bin/env", environment + program + " --send " + command,
                                     (root / "work").string(), file);
        if (!sender || sender->Wait(30000) != Process::WaitResult::Exited) return -1;
        if (answer) *answer = ReadFile(file);
        return sender->ExitCode();
    }
    std::string Events() const { return ReadFile((root / "events.out").string()); }
    // The process identifier of the game server as the running instance reports it.
    std::string ServerPid() {
        std::string status;
        if (Send("status", &status) != 0) return "";
        const size_t line = status.find('\n');
        return line == std::string::npos ? "" : status.substr(line + 1, status.find('\t', line) - line - 1);
    }
    bool GameServerAlive(const std::string& pid) const {
        return !pid.empty() && stdfs::exists("/proc/" + pid);
    }

    stdfs::path root;
    std::string environment;
    std::string program;
    unsigned gamePort = 0;
    int sends = 0;
};

TEST_F(SelfUpdateTest, ASignedNewerProgramReplacesTheRunningOneWhichComesBackHeadlessOverItsServers) {
    const std::string original = ReadFile(program);
    const std::string newProgram = original + "\nHaldmoor3 3.0.84 test build\n";  // still runs: data after the image
    std::string secretHex;
    std::string secret;
    ASSERT_TRUE(fs::ReadWholeFile(BinDir() + "/../generated/test-key/update-test-key.sec", secretHex));
    ASSERT_TRUE(ParseHexBytes(secretHex.substr(0, secretHex.find_last_not_of("\r\n") + 1), kUpdateSecretKeySize, secret));
    const std::string signature = SignUpdate(newProgram, secret);
    ASSERT_EQ(signature.size(), kUpdateSignatureSize);

    std::atomic<bool> served{false};
    HttpTestServer site;
    site.SetHandler([&](const HttpRequest& request) {
        if (request.path == "/version.html") {
            // Once the new program has gone out, the page names the version that now runs.
            return HttpReply::Text(std::string("<p>Latest Haldmoor3 version: ") + (served ? "3.0.83" : "3.0.84") +
                                   "</p><p>Features: signed updates</p><p>Download URI: " +
                                   site.Url("files/haldmoor3") + "</p>");
        }
        if (request.path == "/files/haldmoor3") return HttpReply::Text(newProgram);
        if (request.path == "/files/haldmoor3.sig") {
            served = true;
            return HttpReply::Text(signature);
        }
        return HttpReply::Text("", "404 Not Found");
    });
    ASSERT_TRUE(site.Ok());
    std::string siteUrl = site.Url("");
    siteUrl.pop_back();

    Start("HALDMOOR3_UPDATE_SITE=" + siteUrl + " HALDMOOR3_UPDATE_SECOND_MS=100");
    ASSERT_TRUE(WaitFor([&] { return Count(Events(), "Initialization completed.") == 2; }, 90)) << Events();
    ASSERT_TRUE(WaitFor([&] { return Events().find("Most recent version already installed.") != std::string::npos; }, 30))
        << Events();
    const std::string events = Events();
    for (const char* line : {"New version of Haldmoor3 available.", "Latest Haldmoor3 version: 3.0.84",
                             "Features: signed updates", "New version of Haldmoor3 downloaded.",
                             "Update process started (haldmoor3-updater-tmp).", "Restarting Haldmoor3..."}) {
        EXPECT_NE(events.find(line), std::string::npos) << line << "\n" << events;
    }

    EXPECT_EQ(ReadFile(program), newProgram);
    EXPECT_EQ(ReadFile(program + ".previous"), original);
    struct stat info {};
    ASSERT_EQ(::stat(program.c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR);

    // The second run found the server of the first and left it alone.
    const std::string name = "Server " + std::to_string(gamePort) + " (Alpha): Running/scheduled.";
    EXPECT_EQ(Count(events, name), 1u) << events;
    EXPECT_EQ(Count(events, "Server " + std::to_string(gamePort) + ": Launched - TCP/IP."), 1u) << events;
    const std::string pid = ServerPid();
    EXPECT_TRUE(GameServerAlive(pid)) << pid;
    std::string answer;
    EXPECT_EQ(Send("stop-exit", &answer), 0) << answer;
    EXPECT_TRUE(WaitFor([&] { return !GameServerAlive(pid); }, 30));
}

TEST_F(SelfUpdateTest, AfterItsUptimeTheProgramRestartsItselfInTheSameModeAndKeepsItsServers) {
    Start("HALDMOOR3_UPTIME_CYCLES=3 HALDMOOR3_UPDATE_SECOND_MS=20");
    ASSERT_TRUE(WaitFor([&] { return Count(Events(), "Initialization completed.") >= 2; }, 90)) << Events();
    const std::string events = Events();
    const size_t exceeded = events.find("Haldmoor3: Uptime exceeded.");
    ASSERT_NE(exceeded, std::string::npos) << events;
    EXPECT_NE(events.find("Haldmoor3: Preparing for automatic restart...", exceeded), std::string::npos);
    EXPECT_NE(events.find("Restarting Haldmoor3...", exceeded), std::string::npos);
    EXPECT_LE(Count(events, "Update site not configured."), Count(events, "Initialization completed.")) << "once a run";
    EXPECT_EQ(Count(events, "Server " + std::to_string(gamePort) + ": Launched - TCP/IP."), 1u) << events;
    EXPECT_FALSE(stdfs::exists(program + ".previous"));  // nothing was replaced
}

}  // namespace
}  // namespace hm
