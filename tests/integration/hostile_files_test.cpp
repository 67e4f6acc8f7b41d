// Files that are not what their names promise, met by the running program: entries of the missions
// folder that are no archives (a FIFO, a folder, a link to a device) at start-up, and imports of
// files that cannot be configuration files (a device, a huge file). The instance must start, answer
// each command with an error, and keep running.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "support/binaries.h"

namespace hm {
namespace {

namespace stdfs = std::filesystem;
using hm::test_support::BinDir;

class HostileFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() / ("hm_hostile_files_" + std::to_string(std::random_device()()));
        stdfs::remove_all(root);
        stdfs::create_directories(root / "work");
        stdfs::create_directories(root / "run");
        environment = "XDG_RUNTIME_DIR=" + (root / "run").string() + " HALDMOOR3_REGISTRY=" +
                      (root / "registry.reg").string() + " HALDMOOR3_TIMER_MS=200 ";
        ASSERT_EQ(test_support::MakeInstallation(root.string(), environment), 0);
    }
    void TearDown() override {
        if (server && server->IsRunning()) {
            server->Terminate();
            server->Wait(5000);
        }
        stdfs::remove_all(root);
    }

    std::unique_ptr<Process> Start(const std::string& arguments, const std::string& outputFile) {
        return Process::Spawn("/usr/bin/env", environment + BinDir() + "/haldmoor3 " + arguments,
                              (root / "work").string(), outputFile);
    }
    int RunToEnd(const std::string& arguments, std::string& output) {
        const std::string file = (root / ("out_" + std::to_string(++runs))).string();
        auto process = Start(arguments, file);
        if (!process) return -1000;
        if (process->Wait(60000) != Process::WaitResult::Exited) return -1001;
        fs::ReadWholeFile(file, output);
        return process->ExitCode();
    }
    std::string ServerText() const {
        std::string text;
        fs::ReadWholeFile((root / "server.out").string(), text);
        return text;
    }
    bool WaitForOutput(const std::string& text) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < until) {
            if (ServerText().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    stdfs::path root;
    std::string environment;
    std::unique_ptr<Process> server;
    int runs = 0;
};

TEST_F(HostileFilesTest, StartsPastEntriesThatAreNoArchivesAndAnswersImportsOfNonFiles) {
    const std::string missions = (root / "game" / "missions").string() + "/";
    ASSERT_EQ(std::system(("mkfifo '" + missions + "x.mn3'").c_str()), 0);
    stdfs::create_directory(missions + "folder.mn3");
    stdfs::create_symlink("/dev/zero", missions + "zero.mn3");
    const std::string huge = (root / "huge.cfg").string();
    ASSERT_TRUE(fs::WriteWholeFile(huge, "[server config file]\r\n"));
    stdfs::resize_file(huge, 2ull << 30);  // sparse: no disk space taken

    server = Start("--headless", (root / "server.out").string());
    ASSERT_TRUE(server);
    ASSERT_TRUE(WaitForOutput("Initialization completed.")) << ServerText();
    const std::string startUp = ServerText();
    for (const char* line : {"x.mn3' skipped: not a regular file.", "folder.mn3' skipped: a folder, not a file.",
                             "zero.mn3' skipped: not a regular file."}) {
        EXPECT_NE(startUp.find(": Error: Mission file '" + missions + line), std::string::npos) << line;
    }

    struct Case {
        std::string arguments;
        std::string answer;
    } cases[] = {
        {"/dev/zero", "Error: Cannot open /dev/zero for reading! (not a regular file)\nImport failed.\n"},
        {huge, "Error: Cannot open " + huge + " for reading! (larger than 1048576 bytes)\nImport failed.\n"},
        {huge + " --batch /dev/zero",
         "Error: Cannot open /dev/zero for reading! (not a regular file)\nImport failed.\n"},
    };
    std::string output;
    for (const Case& c : cases) {
        EXPECT_EQ(RunToEnd("--send import " + c.arguments, output), 1) << c.arguments;
        EXPECT_EQ(output, c.answer);
    }
    EXPECT_EQ(RunToEnd("--send status", output), 0);
    EXPECT_EQ(output, "PID\tName\tMission\tGame type\tPort\tStatus\tPlayers\n");
    EXPECT_EQ(RunToEnd("--send exit", output), 0);
    ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited) << ServerText();
    EXPECT_EQ(server->ExitCode(), 0);
}

}  // namespace
}  // namespace hm
