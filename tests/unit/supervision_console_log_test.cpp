// Console logs: the filter, the plain file's blocks and stamps, and the route through the logging
// library with its file-name prefix.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "eventlog/jotwell_binding.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "supervision/console_log.h"

namespace hm {
namespace {

struct LibraryCall {
    std::string prefix, text;
    bool optionsAllZero;
};
std::vector<LibraryCall> g_libraryCalls;

int FakeJotwellEx(const char* prefix, const char* text, JotwellOptions* options) {
    JotwellOptions zero;
    std::memset(&zero, 0, sizeof zero);
    g_libraryCalls.push_back({prefix, text, options && std::memcmp(options, &zero, sizeof zero) == 0});
    return -2;   // a library error changes nothing for the caller
}

struct ConsoleLogFixture : ::testing::Test {
    std::string folder;
    ConsoleSettings settings;
    ManualClock clock;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = (std::filesystem::temp_directory_path() / ("hm_console_log_" + std::string(info->name()))).string();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        settings.logConsole = 1;
        settings.logTimestamps = 0;
        settings.consoleLogName = folder + "/2092_A_B.log";
        g_libraryCalls.clear();
    }
    void TearDown() override { fs::RemoveFolder(folder, true); }

    std::string FileText() {
        std::string text;
        fs::ReadWholeFile(settings.consoleLogName, text);
        return text;
    }
};

TEST(ConsoleLogFilter, LeavesOutEchoesTimesSaysAndLogoutsUnlessAllOutputIsWanted) {
    struct Case { const char* line; bool filtered; } cases[] = {
        {"$kick 3", true},
        {"[Remote] $players", true},
        {"12:34 chat", true},
        {"say hello", true},
        {"SAY hello", true},
        {"LOGOUT", true},
        {"logouts are rare", true},
        {"Player found by Haldmoor3: 'Alice'.", false},
        {"1:23 not a time of two digits", false},
        {"12.34", false},
        {"sayonara", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(ConsoleLog::IsFilteredOut(c.line), c.filtered) << c.line;
}

TEST(ConsoleLogJotwell, PrefixDropsAnExactLogEndingAndAddsAnUnderscore) {
    struct Case { const char* name; const char* prefix; } cases[] = {
        {"/x/log/2092_A_B.log", "/x/log/2092_A_B_"},
        {"/x/log/2092.LOG", "/x/log/2092.LOG_"},
        {"/x/log/2092", "/x/log/2092_"},
        {".log", "_"},
    };
    for (const Case& c : cases) EXPECT_EQ(ConsoleLog::JotwellPrefix(c.name), c.prefix) << c.name;
}

TEST_F(ConsoleLogFixture, PlainFileGetsOneBlockPerConnectionAppended) {
    for (int connection = 0; connection < 2; ++connection) {
        ConsoleLog log(settings, clock, nullptr);
        log.Open();
        ASSERT_TRUE(log.IsFileOpen());
        log.Write("line " + std::to_string(connection));
        log.Write("$players");   // filtered
        // Flushed per line: the text is on disk before the log is closed.
        EXPECT_NE(FileText().find("line " + std::to_string(connection) + "\r\n"), std::string::npos);
        log.Close();
        EXPECT_FALSE(log.IsFileOpen());
    }
    const std::string block0 = "***** Begin server log *****\r\nline 0\r\n***** End of server log *****\r\n\r\n";
    const std::string block1 = "***** Begin server log *****\r\nline 1\r\n***** End of server log *****\r\n\r\n";
    EXPECT_EQ(FileText(), block0 + block1);
}

TEST_F(ConsoleLogFixture, TimeStampsCarryMilliseconds) {
    settings.logTimestamps = 1;
    clock.SetLocalTime({2024, 5, 1, 13, 2, 3, 45, 0});
    ConsoleLog log(settings, clock, nullptr);
    log.Open();
    log.Write("text");
    EXPECT_EQ(FileText(), "2024-05-01 13:02:03.045 - ***** Begin server log *****\r\n"
                          "2024-05-01 13:02:03.045 - text\r\n");
}

TEST_F(ConsoleLogFixture, AllOutputSwitchLogsFilteredLinesToo) {
    settings.logAllOutput = 1;
    ConsoleLog log(settings, clock, nullptr);
    log.Open();
    log.Write("$kick 1");
    log.Write("say bye");
    EXPECT_EQ(FileText(), "***** Begin server log *****\r\n$kick 1\r\nsay bye\r\n");
}

TEST_F(ConsoleLogFixture, NothingIsWrittenWhenLoggingIsOffOrTheFileCannotBeOpened) {
    JotwellBinding binding;
    binding.jotwellEx = &FakeJotwellEx;
    for (uint32_t jotwell : {0u, 1u}) {
        settings.logConsole = 0;
        settings.useJotwell = jotwell;
        ConsoleLog log(settings, clock, &binding);
        log.Open();
        log.Write("hello");
        log.Close();
    }
    EXPECT_FALSE(fs::FileExists(settings.consoleLogName));
    EXPECT_TRUE(g_libraryCalls.empty());

    settings.logConsole = 1;
    settings.useJotwell = 0;
    settings.consoleLogName = folder + "/missing/folder.log";
    ConsoleLog log(settings, clock, nullptr);
    log.Open();
    log.Write("hello");
    EXPECT_FALSE(log.IsFileOpen());
}

TEST_F(ConsoleLogFixture, LibraryRouteWritesThroughJotwellExWithAZeroRecord) {
    JotwellBinding binding;
    binding.jotwellEx = &FakeJotwellEx;
    settings.useJotwell = 1;
    settings.logTimestamps = 1;   // the library stamps itself
    ConsoleLog log(settings, clock, &binding);
    log.Open();
    log.Write("Player found by Haldmoor3: 'Alice'.");
    log.Write("[Remote] $players");
    log.Close();
    ASSERT_EQ(g_libraryCalls.size(), 3u);
    const std::string prefix = folder + "/2092_A_B_";
    EXPECT_EQ(g_libraryCalls[0].prefix, prefix);
    EXPECT_EQ(g_libraryCalls[0].text, "***** Begin server log *****");
    EXPECT_EQ(g_libraryCalls[1].text, "Player found by Haldmoor3: 'Alice'.");
    EXPECT_EQ(g_libraryCalls[2].text, "***** End of server log *****\r\n");
    for (const LibraryCall& call : g_libraryCalls) EXPECT_TRUE(call.optionsAllZero);
    EXPECT_FALSE(fs::FileExists(settings.consoleLogName)) << "no plain file beside the library";

    // Unbound library or no log name: nothing, and no crash.
    g_libraryCalls.clear();
    JotwellBinding unbound;
    ConsoleLog quiet(settings, clock, &unbound);
    quiet.Write("x");
    settings.consoleLogName.clear();
    ConsoleLog nameless(settings, clock, &binding);
    nameless.Write("x");
    EXPECT_TRUE(g_libraryCalls.empty());
}

}  // namespace
}  // namespace hm
