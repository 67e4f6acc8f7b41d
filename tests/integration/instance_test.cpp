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
#include "servers/game_config_files.h"
#include "servers/server_config_array.h"

namespace hm {
namespace {

namespace stdfs = std::filesystem;

std::string BinDir() {
    const char* dir = std::getenv("HM_BIN_DIR");
    return dir ? dir : "build/bin";
}

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
        auto maker = Process::Spawn("/usr/bin/env", environment + BinDir() + "/k3ded make-install " +
                                                        (root / "game").string(),
                                    root.string(), (root / "make-install.out").string());
        ASSERT_TRUE(maker);
        ASSERT_EQ(maker->Wait(60000), Process::WaitResult::Exited);
        ASSERT_EQ(maker->ExitCode(), 0);
    }
    void TearDown() override {
        if (server && server->IsRunning()) {
            server->Terminate();
            server->Wait(5000);
        }
        stdfs::remove_all(root);
    }

    // Runs haldmoor3 with arguments through env, in the work folder, output into outputFile.
    std::unique_ptr<Process> Start(const std::string& arguments, const std::string& outputFile) {
        return Process::Spawn("/usr/bin/env", environment + BinDir() + "/haldmoor3 " + arguments,
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

    bool WaitForOutput(const std::string& text, int seconds = 30) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            std::string output;
            fs::ReadWholeFile(serverOutput(), output);
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
    EXPECT_EQ(output, "PID\tName\tMission\tGame type\tPort\tStatus\n");

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
    EXPECT_EQ(server->ExitCode(), 0);
    EXPECT_NE(ServerText().find(": Initialization failed."), std::string::npos) << ServerText();
    EXPECT_FALSE(fs::FileExists((root / "work/cfg/KelvaneConfig.dat").string()));
    EXPECT_FALSE(fs::FileExists((root / "work/cfg/ServerInfo.dat").string()));
}

TEST_F(InstanceTest, WithoutADisplayFront_endThePlainStartExplainsHeadless) {
    std::string output;
    EXPECT_EQ(RunToEnd("", output), 2);
    EXPECT_NE(output.find("haldmoor3 --headless"), std::string::npos);
    EXPECT_EQ(RunToEnd("--send status", output), 1);
    EXPECT_NE(output.find("not running"), std::string::npos);
}

}  // namespace
}  // namespace hm
