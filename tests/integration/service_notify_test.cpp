// The program under a service manager: the test binds the notification socket a manager would, and
// the headless program must report READY=1 once its start-up completed (never after a failed one),
// ping the watchdog at half its interval and report STOPPING=1 at exit; the watchdog and journal
// variables are read as the manager means them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/headless_view.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/service_notify.h"
#include "support/binaries.h"

namespace hm {
namespace {

using hm::test_support::BinDir;
namespace stdfs = std::filesystem;

// Sets or unsets (nullopt) an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    }
    ~ScopedVariable() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string OwnPid() { return stdfs::read_symlink("/proc/self").filename().string(); }

// Datagrams until one equals or begins with `wanted` (returned last), or none within timeoutMs.
std::vector<std::string> ReceiveUntil(ServiceNotifyListener& listener, const std::string& wanted, uint32_t timeoutMs) {
    std::vector<std::string> got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string message;
    while (std::chrono::steady_clock::now() < until) {
        if (!listener.Receive(message, 50)) continue;
        got.push_back(message);
        if (message.rfind(wanted, 0) == 0) break;
    }
    return got;
}

size_t Count(const std::vector<std::string>& messages, const std::string& text) {
    return static_cast<size_t>(std::count(messages.begin(), messages.end(), text));
}

class ServiceNotifyTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The process number keeps two build folders' runs of this test apart.
        root = stdfs::temp_directory_path() /
               ("hm_notify_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                OwnPid());
        stdfs::remove_all(root);
        stdfs::create_directories(root / "work/cfg");
        stdfs::create_directories(root / "run");
        environment = "XDG_RUNTIME_DIR=" + (root / "run").string() + " HALDMOOR3_REGISTRY=" +
                      (root / "registry.reg").string() + " HALDMOOR3_TIMER_MS=200 WATCHDOG_USEC=400000 ";
        ASSERT_EQ(test_support::MakeInstallation(root.string(), environment), 0);
    }
    void TearDown() override {
        if (server && server->IsRunning()) {
            server->Terminate();
            server->Wait(5000);
        }
        stdfs::remove_all(root);
    }

    // haldmoor3 --headless through env; `command` replaces the plain start (for a shell around it).
    void Start(const std::string& command = "") {
        server = Process::Spawn("/usr/bin/env",
                                "-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u WATCHDOG_PID -u JOURNAL_STREAM " +
                                    environment + (command.empty() ? BinDir() + "/haldmoor3 --headless" : command),
                                (root / "work").string(), Output());
        ASSERT_TRUE(server);
    }
    void StopAndExpectStopping(ServiceNotifyListener& listener) {
        ASSERT_TRUE(server->RequestStop());  // SIGTERM, as the manager stops a service
        const auto atExit = ReceiveUntil(listener, "STOPPING=1", 30000);
        ASSERT_FALSE(atExit.empty());
        EXPECT_EQ(atExit.back(), "STOPPING=1");
        ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited) << Text();
        EXPECT_EQ(server->ExitCode(), 0);
    }
    std::string Output() const { return (root / "work/out.txt").string(); }
    std::string Text() const {
        std::string text;
        fs::ReadWholeFile(Output(), text);
        return text;
    }

    stdfs::path root;
    std::string environment;
    std::unique_ptr<Process> server;
};

TEST_F(ServiceNotifyTest, ReadyAfterTheStartUpWatchdogPingsAndStoppingAtExit) {
    ServiceNotifyListener listener;
    ASSERT_TRUE(listener.Bind((root / "notify.sock").string()));
    environment += "NOTIFY_SOCKET=" + (root / "notify.sock").string() + " JOURNAL_STREAM=0:0 ";
    Start();

    const auto startUp = ReceiveUntil(listener, "READY=1", 30000);
    ASSERT_FALSE(startUp.empty()) << Text();
    EXPECT_EQ(startUp.back(), "READY=1\nSTATUS=Supervising 0 server(s).");
    EXPECT_NE(Text().find(": Initialization completed.\n"), std::string::npos) << "READY=1 came before the start-up ended";

    // 400 ms watchdog: a ping every 200 ms, from a timer of its own, although the supervisor pass is
    // the same 200 ms here; well past one interval, several must have come.
    const auto running = ReceiveUntil(listener, "never", 1500);
    EXPECT_GE(Count(running, "WATCHDOG=1"), 3u);
    EXPECT_EQ(Count(running, "WATCHDOG=1"), running.size());

    StopAndExpectStopping(listener);
    // A JOURNAL_STREAM that is not stdout leaves the lines as the event list shows them.
    EXPECT_EQ(Text().substr(0, 2), "20") << Text();
}

TEST_F(ServiceNotifyTest, UnderTheJournalLinesCarryTheirPriorityAndTheWatchdogPidIsTheProgramItself) {
    // An abstract socket name; the shell names itself in WATCHDOG_PID and JOURNAL_STREAM names its stdout,
    // and exec keeps both for the program.
    ServiceNotifyListener listener;
    const std::string name = "@hm-notify-test-" + OwnPid();
    ASSERT_TRUE(listener.Bind(name));
    environment += "NOTIFY_SOCKET=" + name + " ";
    ASSERT_TRUE(fs::WriteWholeFile((root / "work/cfg/haldmoor3.ini").string(), "[restarts]\nno_such_key=1\n"));
    Start("/bin/sh -c \"export JOURNAL_STREAM=$(stat -c %d:%i " + Output() + ") WATCHDOG_PID=$$; exec " + BinDir() +
          "/haldmoor3 --headless\"");

    ASSERT_FALSE(ReceiveUntil(listener, "READY=1", 30000).empty()) << Text();
    EXPECT_GE(Count(ReceiveUntil(listener, "never", 1000), "WATCHDOG=1"), 2u);
    StopAndExpectStopping(listener);

    const std::string text = Text();
    EXPECT_EQ(text.substr(0, 5), "<6>20") << text;
    EXPECT_NE(text.find(": Initialization completed.\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n<4>20"), std::string::npos) << "the warning about haldmoor3.ini:\n" << text;
    EXPECT_EQ(text.find("\n20"), std::string::npos) << "every line carries a priority:\n" << text;
}

TEST_F(ServiceNotifyTest, AFailedStartUpNeverReportsReady) {
    stdfs::remove(root / "registry.reg");  // no game installation
    ServiceNotifyListener listener;
    ASSERT_TRUE(listener.Bind((root / "notify.sock").string()));
    environment += "NOTIFY_SOCKET=" + (root / "notify.sock").string() + " ";
    Start();
    const auto messages = ReceiveUntil(listener, "STOPPING=1", 30000);
    ASSERT_EQ(server->Wait(30000), Process::WaitResult::Exited) << Text();
    EXPECT_EQ(messages, std::vector<std::string>{"STOPPING=1"}) << Text();
}

TEST(ServiceNotify, WatchdogVariablesAreReadAsTheManagerMeansThem) {
    const std::string self = OwnPid();
    struct Case {
        const char* usec;
        std::optional<std::string> pid;
        uint32_t expectedMs;
    } cases[] = {
        {nullptr, std::nullopt, 0},   {"400000", std::nullopt, 400}, {"400000", self, 400},
        {"400000", "1", 0},           {"400000", "", 0},             {"400000", self + "x", 0},
        {"0", std::nullopt, 0},       {"12x", std::nullopt, 0},      {"-5", std::nullopt, 0},
        {"120000000", self, 120000},  {"999", std::nullopt, 1},      {"99999999999999999999999", std::nullopt, 0},
    };
    for (const Case& c : cases) {
        ScopedVariable usec("WATCHDOG_USEC", c.usec ? std::optional<std::string>(c.usec) : std::nullopt);
        ScopedVariable pid("WATCHDOG_PID", c.pid);
        EXPECT_EQ(WatchdogIntervalMs(), c.expectedMs) << (c.usec ? c.usec : "(unset)") << " pid " << c.pid.value_or("(unset)");
    }
}

TEST(ServiceNotify, NotificationsReachPathAndAbstractSocketsOnly) {
    const stdfs::path folder = stdfs::temp_directory_path() / ("hm_notify_table_" + OwnPid());
    stdfs::create_directories(folder);
    const std::string path = (folder / "n.sock").string();
    const std::string abstract = "@hm-notify-table-" + OwnPid();
    ServiceNotifyListener pathListener, abstractListener;
    ASSERT_TRUE(pathListener.Bind(path));
    ASSERT_TRUE(abstractListener.Bind(abstract));
    struct Case {
        std::optional<std::string> socket;
        ServiceNotifyListener* listener;  // where the datagram must arrive; null: nowhere
    } cases[] = {
        {std::nullopt, nullptr}, {"", nullptr}, {"relative.sock", nullptr}, {"@", nullptr},
        {(folder / "missing.sock").string(), nullptr}, {"/" + std::string(200, 'x'), nullptr},
        {path, &pathListener}, {abstract, &abstractListener},
    };
    for (const Case& c : cases) {
        ScopedVariable socket("NOTIFY_SOCKET", c.socket);
        EXPECT_EQ(NotifyServiceManager("STATUS=one\nWATCHDOG=1"), c.listener != nullptr) << c.socket.value_or("(unset)");
        for (ServiceNotifyListener* listener : {&pathListener, &abstractListener}) {
            std::string message;
            const bool arrived = listener->Receive(message, 0);
            EXPECT_EQ(arrived, listener == c.listener) << c.socket.value_or("(unset)");
            if (arrived) {
                EXPECT_EQ(message, "STATUS=one\nWATCHDOG=1");
            }
        }
    }
    stdfs::remove_all(folder);
}

TEST(ServiceNotify, JournalPriorityFollowsTheTextBehindTheStamp) {
    const struct {
        const char* line;
        const char* priority;
    } cases[] = {
        {"2026-01-05 12:00:00: Error: Cannot write /srv/cfg/ServerInfo.dat (No space left on device).", "<3>"},
        {"2026-01-05 12:00:00: Warning: haldmoor3.ini line 2: unknown key", "<4>"},
        {"2026-01-05 12:00:00: Initialization completed.", "<6>"},
        {"2026-01-05 12:00:00: Server 2300: Error in the mission file.", "<6>"},  // the text begins "Server"
        {"2026-01-05 12:00:00: error: lower case", "<6>"},
        {"Error without a stamp", "<3>"},
        {"2026-01-05 12:00:00: ", "<6>"},
        {"", "<6>"},
    };
    for (const auto& c : cases) EXPECT_STREQ(HeadlessView::JournalPriority(c.line), c.priority) << c.line;
}

}  // namespace
}  // namespace hm
