// Twenty real game servers under one headless instance: "exit" logs out of all their consoles at once
// and leaves them running; after a restart that re-attaches to them, "stop-exit" takes them all down
// side by side. Both take about the time of one server's sequence, not the sum of twenty.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "support/binaries.h"
#include "support/text.h"

namespace hm {
namespace {

using hm::test_support::BinDir;
namespace stdfs = std::filesystem;

constexpr int kServers = 20;
constexpr int kBasePort = 23700;  // below the ephemeral ports of client connections

using test_support::Count;

class ExitManyTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() / "hm_exit_many";
        stdfs::remove_all(root);
        stdfs::create_directories(root / "work");
        stdfs::create_directories(root / "run");
        environment = "XDG_RUNTIME_DIR=" + (root / "run").string() + " HALDMOOR3_REGISTRY=" +
                      (root / "registry.reg").string() + " HALDMOOR3_TIMER_MS=200 ";
        ASSERT_EQ(test_support::MakeInstallation(root.string(), environment), 0);
        // Twenty configurations that start with the program (every third one by its all-week schedule).
        auto maker = Process::Spawn("/usr/bin/env",
                                    environment + BinDir() + "/k3ded demo-configs " + (root / "work/cfg").string() +
                                        " " + std::to_string(kBasePort) + " " + std::to_string(kServers),
                                    root.string(), (root / "demo-configs.out").string());
        ASSERT_TRUE(maker);
        ASSERT_EQ(maker->Wait(60000), Process::WaitResult::Exited);
        ASSERT_EQ(maker->ExitCode(), 0);
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
    std::string Events(int run) const {
        std::string text;
        fs::ReadWholeFile((root / ("events" + std::to_string(run))).string(), text);
        return text;
    }
    // Runs the program and waits until every server runs and every console has logged in (the
    // supervisor announces the player count it learnt from the console).
    bool StartAndWaitForAll(int run) {
        program = Start("--headless", (root / ("events" + std::to_string(run))).string());
        if (!program) return false;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            std::string status;
            if (RunToEnd("--send status", status) != 0) continue;
            const size_t lines = Count(status, "\n");
            const size_t stopped = Count(status, "\n-\t");
            if (lines == kServers + 1 && stopped == 0 && Count(Events(run), "player(s) assumed.") >= kServers) {
                return true;
            }
        }
        return false;
    }
    size_t GameServersLeft() const {
        // The bracket keeps the pattern from matching the shell that runs pgrep.
        const std::string command = "pgrep -f '" + (root / "game").string() + "/[m]ain.exe'";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return 0;
        size_t count = 0;
        char line[64];
        while (fgets(line, sizeof line, pipe)) ++count;
        pclose(pipe);
        return count;
    }
    // Sends a command and waits for the program to end; the wall time in seconds.
    double TimeToEnd(const std::string& command) {
        const auto start = std::chrono::steady_clock::now();
        std::string answer;
        EXPECT_EQ(RunToEnd("--send " + command, answer), 0) << answer;
        EXPECT_EQ(program->Wait(60000), Process::WaitResult::Exited);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    stdfs::path root;
    std::string environment;
    std::unique_ptr<Process> program;
    int runs = 0;
};

TEST_F(ExitManyTest, ExitAndStopExitOfTwentyServersTakeAboutOneServersSequence) {
    ASSERT_TRUE(StartAndWaitForAll(1)) << Events(1);
    const double exitSeconds = TimeToEnd("exit");
    std::printf("exit with %d servers: %.2f s\n", kServers, exitSeconds);
    EXPECT_LT(exitSeconds, 5.0);
    EXPECT_EQ(GameServersLeft(), static_cast<size_t>(kServers));  // exit leaves them running

    // The next start re-attaches to the twenty servers and logs in again.
    ASSERT_TRUE(StartAndWaitForAll(2)) << Events(2);
    const double stopSeconds = TimeToEnd("stop-exit");
    std::printf("stop-exit with %d servers: %.2f s\n", kServers, stopSeconds);
    EXPECT_LT(stopSeconds, 15.0);
    EXPECT_EQ(GameServersLeft(), 0u);
    const std::string events = Events(2);
    EXPECT_EQ(Count(events, ": Stopped."), static_cast<size_t>(kServers));
    EXPECT_EQ(Count(events, ": Removed."), static_cast<size_t>(kServers));
    EXPECT_EQ(Count(events, "Launched"), 0u);  // the second run only re-attached
}

}  // namespace
}  // namespace hm
