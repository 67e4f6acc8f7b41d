#include "platform/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace hm {
namespace {

namespace stdfs = std::filesystem;

constexpr uint32_t kGenerousMs = 20000;  // only ever reached when something is broken

class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        path_ = stdfs::temp_directory_path() / ("hm-process-" + std::to_string(random()) + std::to_string(random()));
        stdfs::create_directories(path_);
        path_ = stdfs::canonical(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        stdfs::remove_all(path_, ignored);
    }
    std::string Path() const { return path_.string(); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    stdfs::path path_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Fields of /proc/<pid>/stat after the command name: [0] state, [3] session id.
std::vector<std::string> StatFields(const std::string& pid) {
    const std::string stat = ReadFile("/proc/" + pid + "/stat");
    std::vector<std::string> fields;
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return fields;
    std::istringstream rest(stat.substr(close + 1));
    for (std::string field; rest >> field;) fields.push_back(field);
    return fields;
}

char StateOf(uint32_t pid) {
    const auto fields = StatFields(std::to_string(pid));
    return fields.empty() ? 0 : fields[0][0];
}

bool WaitForZombie(uint32_t pid) {
    for (int i = 0; i < 2000 && StateOf(pid) != 'Z'; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return StateOf(pid) == 'Z';
}

// Ends a test's long-running child even when an assertion leaves the test early.
struct KillAtExit {
    Process* process;
    ~KillAtExit() {
        if (process && process->Terminate()) process->Wait(kGenerousMs);
    }
};

// A long sleeper whose command line carries a unique marker. GNU sleep adds up its arguments, so the
// marker is a tiny extra duration; it runs alone, so killing it leaves no orphaned grandchild.
std::string NewMarker() {
    static std::random_device random;
    return "0.0" + std::to_string(random() % 1000000000u) + std::to_string(random() % 1000000000u);
}

std::unique_ptr<Process> StartSleeper(const std::string& marker, const std::string& folder) {
    std::string error;
    auto process = Process::Spawn("/bin/sleep", "60 " + marker, folder, "", &error);
    EXPECT_TRUE(process) << error;
    return process;
}

std::unique_ptr<Process> StartShell(const std::string& script, const std::string& folder, const std::string& output = "",
                                    const std::string& marker = "") {
    std::string error;
    auto process = Process::Spawn("/bin/sh", "-c \"" + script + "\" " + marker, folder, output, &error);
    EXPECT_TRUE(process) << error;
    return process;
}

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    const struct {
        const char* commandLine;
        std::vector<std::string> expected;
    } cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"a b  c", {"a", "b", "c"}},
        {"\ta\t b ", {"a", "b"}},
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"\"a b\" c", {"a b", "c"}},
        {"a\"b c\"d", {"ab cd"}},
        {"\"unterminated text", {"unterminated text"}},
        {"\\\"a\\\"", {"\"a\""}},                     // \"a\"        -> "a"
        {"a\\b\\\\c", {"a\\b\\\\c"}},                 // no quote follows: backslashes stay
        {"a\\\\\"b c\"", {"a\\b c"}},                 // 2 backslashes + quote -> 1 and the quote groups
        {"a\\\\\\\"b", {"a\\\"b"}},                   // 3 backslashes + quote -> 1 and a literal quote
        {"a\\\\\\\\\" b\"", {"a\\\\ b"}},             // 4 + quote -> 2 and the quote groups
        {"\"C:\\Program Files\\\" x", {"C:\\Program Files\" x"}},  // the classic trailing-backslash trap
        {"trailing\\", {"trailing\\"}},
        {"-port 2302 -config \"custom/cache/server 1/Server.cfg\"",
         {"-port", "2302", "-config", "custom/cache/server 1/Server.cfg"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.commandLine), c.expected) << "[" << c.commandLine << "]";
}

TEST(CommandLineHasArgument, MatchesOnlyAWholeArgument) {
    using namespace std::string_literals;
    const std::string line = "/g/main.exe\0-tempdir\0/g/custom/cache/2092\0-useport\0" "2092\0"s;
    const struct {
        std::string argumentList, argument;
        bool expected;
    } cases[] = {
        {line, "/g/custom/cache/2092", true},
        {line, "/g/custom/cache/2092/", true},                       // the same folder
        {"/g/main.exe\0-tempdir\0/g/custom/cache/2092/\0"s, "/g/custom/cache/2092", true},
        {"-tempdir\0/g/custom/cache/2092"s, "/g/custom/cache/2092", true},  // no NUL after the last one
        {"/g/custom/cache/2092"s, "/g/custom/cache/2092", true},
        {"/g/main.exe\0-tempdir\0/g/custom/cache/20921\0"s, "/g/custom/cache/2092", false},
        {"/g/main.exe\0-tempdir\0/g/custom/cache/2092/x\0"s, "/g/custom/cache/2092", false},
        {"/g/main.exe\0-tempdir=/g/custom/cache/2092\0"s, "/g/custom/cache/2092", false},
        {"/h/g/custom/cache/2092\0"s, "/g/custom/cache/2092", false},
        {line, "-tempdir /g/custom/cache/2092", false},              // arguments are not joined
        {line, "custom/cache/2092", false},
        {line, "", false},
        {""s, "", false},
        {"\0\0"s, "", false},
        {"/\0"s, "/", true},
        {"/\0"s, "//", true},
    };
    for (const auto& c : cases) {
        std::string shown = c.argumentList;
        std::replace(shown.begin(), shown.end(), '\0', '|');
        EXPECT_EQ(CommandLineHasArgument(c.argumentList, c.argument), c.expected) << "[" << shown << "] " << c.argument;
    }
}

TEST(Process, RunsScriptInItsFolderWithArgumentsAndAppendedOutput) {
    TempFolder folder;
    const std::string output = folder.File("server.log");
    { std::ofstream(output) << "earlier run\n"; }
    auto process = StartShell("pwd; echo $0; for a; do echo \\\"[$a]\\\"; done; echo err 1>&2; read x; echo in=[$x]; exit 3",
                              folder.Path(), output, "zero \"two words\" \\\"quoted\\\" \"\"");
    ASSERT_TRUE(process);
    ASSERT_EQ(process->Wait(kGenerousMs), Process::WaitResult::Exited);
    EXPECT_EQ(process->ExitCode(), 3);
    EXPECT_FALSE(process->IsRunning());
    EXPECT_EQ(ReadFile(output),
              "earlier run\n" + folder.Path() + "\nzero\n[two words]\n[\"quoted\"]\n[]\nerr\nin=[]\n");
}

TEST(Process, RelativeExecutableIsFoundFromOurFolderNotTheServers) {
    TempFolder folder;
    // The working folder lies deeper than ours, so the same relative path cannot reach /bin/sh from there.
    std::string relative;
    for (const auto& part : stdfs::current_path().relative_path()) relative += part.empty() ? "" : "../";
    stdfs::path deep = folder.Path();
    for (int i = 0; i < 12; ++i) deep /= "d";
    stdfs::create_directories(deep);
    std::string error;
    auto process = Process::Spawn(relative + "bin/sh", "-c \"exit 4\"", deep.string(), "", &error);
    ASSERT_TRUE(process) << error;
    ASSERT_EQ(process->Wait(kGenerousMs), Process::WaitResult::Exited);
    EXPECT_EQ(process->ExitCode(), 4);
}

TEST(Process, SpawnFailuresReturnNullWithAReason) {
    TempFolder folder;
    { std::ofstream(folder.File("not-executable")) << "#!/bin/sh\n"; }
    struct Case {
        std::string exe, workingDir, output, mustMention;
    } cases[] = {
        {folder.File("missing.exe"), folder.Path(), "", "missing.exe"},
        {"/bin/sh", folder.File("no-such-folder"), "", "no-such-folder"},
        {folder.Path(), folder.Path(), "", folder.Path()},
        {folder.File("not-executable"), folder.Path(), "", "not-executable"},
        {"/bin/sh", folder.Path(), folder.File("no-such-folder/out.log"), "out.log"},
        {"", folder.Path(), "", ""},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Process::Spawn(c.exe, "-c true", c.workingDir, c.output, &error)) << c.exe;
        EXPECT_FALSE(error.empty()) << c.exe;
        EXPECT_NE(error.find(c.mustMention), std::string::npos) << error;
    }
}

TEST(Process, RunsInANewSessionUntilTerminated) {
    TempFolder folder;
    auto process = StartShell("exec sleep 60", folder.Path());
    ASSERT_TRUE(process);
    KillAtExit guard{process.get()};
    EXPECT_EQ(process->Wait(50), Process::WaitResult::Timeout);
    EXPECT_TRUE(process->IsRunning());
    EXPECT_EQ(process->ExitCode(), -1);

    const auto child = StatFields(std::to_string(process->Pid()));
    const auto self = StatFields("self");
    ASSERT_GE(child.size(), 4u);
    ASSERT_GE(self.size(), 4u);
    EXPECT_EQ(child[3], std::to_string(process->Pid())) << "session leader";
    EXPECT_NE(child[3], self[3]);

    EXPECT_TRUE(process->Terminate());
    ASSERT_EQ(process->Wait(kGenerousMs), Process::WaitResult::Exited);
    EXPECT_EQ(process->ExitCode(), 128 + SIGKILL);
    EXPECT_TRUE(process->Terminate()) << "already gone counts as success";
    EXPECT_EQ(StateOf(process->Pid()), 0) << "an own child is reaped, not left a zombie";
}

TEST(Process, RequestStopReachesAChildEvenWhenWeIgnoreTheSignal) {
    TempFolder folder;
    // Our own disposition must not leak into the server, or it could never be asked to stop.
    auto previous = std::signal(SIGTERM, SIG_IGN);
    auto process = StartShell("exec sleep 60", folder.Path());
    std::signal(SIGTERM, previous);
    ASSERT_TRUE(process);
    KillAtExit guard{process.get()};
    EXPECT_TRUE(process->RequestStop());
    ASSERT_EQ(process->Wait(kGenerousMs), Process::WaitResult::Exited);
    EXPECT_EQ(process->ExitCode(), 128 + SIGTERM);
}

TEST(Process, AttachChecksTheIdentityOnTheCommandLine) {
    TempFolder folder;
    const std::string marker = NewMarker();
    auto child = StartSleeper(marker, folder.Path());
    ASSERT_TRUE(child);
    KillAtExit guard{child.get()};
    const uint32_t pid = child->Pid();

    EXPECT_FALSE(Process::Attach(pid, NewMarker()));
    EXPECT_FALSE(Process::Attach(pid, "/bin/sleep 61"));
    EXPECT_FALSE(Process::Attach(pid, marker.substr(0, marker.size() - 1))) << "a prefix is another argument";
    EXPECT_FALSE(Process::Attach(pid, "60 " + marker)) << "two arguments are not one";
    EXPECT_TRUE(Process::Attach(pid, ""));
    EXPECT_TRUE(Process::Attach(pid, "/bin/sleep"));
    auto attached = Process::Attach(pid, marker);
    ASSERT_TRUE(attached);
    EXPECT_EQ(attached->Pid(), pid);
    EXPECT_EQ(attached->Wait(30), Process::WaitResult::Timeout);

    // Killed through the attached object: it sees the end although the pid is still an unreaped zombie.
    EXPECT_TRUE(attached->Terminate());
    ASSERT_EQ(attached->Wait(kGenerousMs), Process::WaitResult::Exited);
    EXPECT_EQ(attached->ExitCode(), -1);
    ASSERT_EQ(child->Wait(kGenerousMs), Process::WaitResult::Exited);
    EXPECT_EQ(child->ExitCode(), 128 + SIGKILL);
}

TEST(Process, AttachRefusesGoneAndZombieProcesses) {
    TempFolder folder;
    for (uint32_t pid : {0u, 0x7FFFFFFFu, 0xFFFFFFFFu}) EXPECT_FALSE(Process::Attach(pid, "")) << pid;
    auto child = StartShell("exit 0", folder.Path());
    ASSERT_TRUE(child);
    ASSERT_TRUE(WaitForZombie(child->Pid()));
    EXPECT_FALSE(Process::Attach(child->Pid(), "")) << "a zombie has exited";
    ASSERT_EQ(child->Wait(kGenerousMs), Process::WaitResult::Exited);
    EXPECT_FALSE(Process::Attach(child->Pid(), ""));
}

TEST(Process, DroppedChildIsReapedLaterAndCanBeTakenBack) {
    TempFolder folder;
    const std::string marker = NewMarker();
    uint32_t pid = 0;
    {
        auto child = StartSleeper(marker, folder.Path());
        ASSERT_TRUE(child);
        pid = child->Pid();
    }  // the server keeps running without its object
    auto again = Process::Attach(pid, marker);
    ASSERT_TRUE(again);
    KillAtExit guard{again.get()};
    EXPECT_TRUE(again->Terminate());
    ASSERT_EQ(again->Wait(kGenerousMs), Process::WaitResult::Exited);
    EXPECT_EQ(again->ExitCode(), 128 + SIGKILL) << "taken back as our own child";
    EXPECT_EQ(StateOf(pid), 0);

    uint32_t quick = 0;
    {
        auto child = StartShell("exit 0", folder.Path());
        ASSERT_TRUE(child);
        quick = child->Pid();
        ASSERT_TRUE(WaitForZombie(quick));
    }
    EXPECT_FALSE(Process::Attach(quick, ""));  // any use of the module reaps dropped children
    EXPECT_EQ(StateOf(quick), 0) << "no zombie is left behind";
}

}  // namespace
}  // namespace hm
