// The server configurations through a running headless instance: config-list shows them, config-export
// writes them as text where the sender stands, config-import of that text leaves KelvaneConfig.dat
// byte for byte as the program itself stores it, and a broken or oversized file changes nothing and
// says why (with the line).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "servers/server_config_array.h"
#include "support/binaries.h"
#include "support/text.h"

namespace hm {
namespace {

using test_support::BinDir;
using test_support::ReadFile;
namespace stdfs = std::filesystem;

class ConfigCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root = stdfs::temp_directory_path() / ("hm_config_commands_" + std::to_string(stamp));
        stdfs::create_directories(root / "work");
        stdfs::create_directories(root / "run");
        environment = "XDG_RUNTIME_DIR=" + (root / "run").string() + " HALDMOOR3_REGISTRY=" +
                      (root / "registry.reg").string() + " ";
        ASSERT_EQ(test_support::MakeInstallation(root.string(), environment), 0);
        std::string output;
        ASSERT_EQ(Run(BinDir() + "/k3ded demo-configs " + (root / "work/cfg").string() + " 23800 3", root, output), 0)
            << output;
        // No server is started: the configurations are the only thing that changes in these runs.
        CServerConfigArray store;
        ASSERT_EQ(store.Load((root / "work/cfg").string(), nullptr), StoreLoad::Loaded);
        store.globalOptions.autoLaunchAtStart = 0;
        store.configs[0].game.motd = "Gr\xFC\xDF" "e = \\o/";
        store.configs[0].console.autoCommands = {"say welcome", "say \xA9 2024"};
        ASSERT_TRUE(store.Store((root / "work/cfg").string(), nullptr));
    }
    void TearDown() override {
        if (program && program->IsRunning()) {
            program->Terminate();
            program->Wait(5000);
        }
        stdfs::remove_all(root);
    }

    // Runs a program of the build to its end from folder; its exit code and output.
    int Run(const std::string& command, const stdfs::path& folder, std::string& output) {
        const std::string file = (root / ("out_" + std::to_string(++runs))).string();
        auto process = Process::Spawn("/usr/bin/env", environment + command, folder.string(), file);
        if (!process) return -1000;
        if (process->Wait(60000) != Process::WaitResult::Exited) return -1001;
        output = ReadFile(file);
        return process->ExitCode();
    }
    int Send(const std::string& command, std::string& answer, const stdfs::path& from = {}) {
        return Run(BinDir() + "/haldmoor3 --send " + command, from.empty() ? root / "work" : from, answer);
    }
    bool StartProgram() {
        program = Process::Spawn("/usr/bin/env", environment + BinDir() + "/haldmoor3 --headless",
                                 (root / "work").string(), (root / ("events_" + std::to_string(++runs))).string());
        std::string answer;
        return program && test_support::WaitFor([&] { return Send("config-list", answer) == 0; }, 60);
    }
    void ExitProgram() {
        std::string answer;
        EXPECT_EQ(Send("exit", answer), 0) << answer;
        EXPECT_EQ(program->Wait(60000), Process::WaitResult::Exited);
    }
    std::string Store() const { return ReadFile((root / "work/cfg" / CServerConfigArray::kFileName).string()); }

    stdfs::path root;
    std::string environment;
    std::unique_ptr<Process> program;
    int runs = 0;
};

TEST_F(ConfigCommandsTest, ListExportAndImportKeepTheStoreByteForByte) {
    // The store as the program writes it, without any import.
    ASSERT_TRUE(StartProgram());
    ExitProgram();
    const std::string stored = Store();
    ASSERT_FALSE(stored.empty());

    ASSERT_TRUE(StartProgram());
    std::string answer;
    ASSERT_EQ(Send("config-list", answer), 0);
    EXPECT_EQ(answer,
              "Index\tName\tPort\tMission\tGame type\tScheduled\n"
              "1\tIronworks Anarchy\t23800\tIronworks\tAnarchy\tNo\n"
              "2\tOasis CTF\t23801\tOasis\tCTF\tNo\n"
              "3\tPolaris Hoard (scheduled)\t23802\tPolaris\tHoard\tYes\n");

    // A relative name is the sender's: the file lands in the folder the command was given in.
    ASSERT_EQ(Send("config-export configs.ini", answer, root), 0) << answer;
    const std::string text = ReadFile((root / "configs.ini").string());
    EXPECT_NE(text.find("[Server Polaris Hoard (scheduled)]\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nschedule.1=All, 00:00 - All, 23:59\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nconsole.autoCommand.2=say \xA9 2024\r\n"), std::string::npos);

    ASSERT_EQ(Send("config-import configs.ini", answer, root), 0) << answer;
    EXPECT_EQ(answer, "Imported 3 server configuration(s): 3 replaced, 0 added.\n");
    EXPECT_EQ(Store(), stored);

    // One bad value: the error names its line and nothing changes, not even the good sections.
    std::string broken = text;
    const std::string good = "launch.serverPort=23802";
    const size_t at = broken.find(good);
    ASSERT_NE(at, std::string::npos);
    broken.replace(at, good.size(), "launch.serverPort=80");
    broken.replace(broken.find("game.timeLimit=120"), 18, "game.timeLimit=121");
    const size_t line = test_support::Count(broken.substr(0, at), "\n") + 1;
    ASSERT_TRUE(fs::WriteWholeFile((root / "broken.ini").string(), broken));
    EXPECT_EQ(Send("config-import " + (root / "broken.ini").string(), answer), 1);
    EXPECT_EQ(answer, "Error: line " + std::to_string(line) +
                          ": Please enter an integer between 1024 and 65535.\nError: nothing was imported.\n");
    EXPECT_EQ(Store(), stored);

    // A file beyond 1 MiB is not read at all.
    ASSERT_TRUE(fs::WriteWholeFile((root / "huge.ini").string(), text + std::string(1u << 20, ';')));
    EXPECT_EQ(Send("config-import " + (root / "huge.ini").string(), answer), 1);
    EXPECT_EQ(answer.rfind("Error: Cannot open " + (root / "huge.ini").string() + " for reading!", 0), 0u) << answer;
    EXPECT_EQ(Store(), stored);

    ExitProgram();
    EXPECT_EQ(Store(), stored);
}

}  // namespace
}  // namespace hm
