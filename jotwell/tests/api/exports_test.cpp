// The library as a caller sees it: results, what reaches the file and standard output, the
// option record and the data exports.
#include <gtest/gtest.h>

#include <cstring>

#include "api_fixture.h"

namespace hm::jotwell {
namespace {

constexpr uint32_t kQuiet = LE_NO_BANNER | LE_DONT_LOG_CONFIG;

class Exports : public ApiTest {
protected:
    std::string NameOfLog() {
        const std::string path = TodaysLog("App_");
        return path.substr(path.find_last_of('/') + 1);
    }

    int Write(const char* text, uint32_t lo = 0, uint32_t ext = 0, uint32_t length = 0) {
        JotwellOptions o{};
        o.logOptions = lo;
        o.extOptions = ext | kQuiet;
        o.textLength = length;
        return JotwellEx((dir / "App_").c_str(), text, &o);
    }
};

TEST_F(Exports, StdcallNamesAreTheSameEntries) {
    EXPECT_EQ(reinterpret_cast<void*>(&sJotwell), reinterpret_cast<void*>(&Jotwell));
    EXPECT_EQ(reinterpret_cast<void*>(&sJotwellEx), reinterpret_cast<void*>(&JotwellEx));
    EXPECT_EQ(reinterpret_cast<void*>(&sJotwellExQ), reinterpret_cast<void*>(&JotwellExQ));
    EXPECT_EQ(bDequeueOnExit, 1u);
    EXPECT_EQ(bAboutToExit, 0u);
    EXPECT_STREQ(chCurrentDateNoOffs, "");
}

TEST_F(Exports, BadPrefixesAreRefusedAndNothingIsWritten) {
    const std::string tooLong = dir.Path() + std::string(261 - dir.Path().size(), 'a');
    const std::string longest = dir.Path() + std::string(260 - dir.Path().size(), 'b');
    EXPECT_EQ(JotwellEx(nullptr, "x", nullptr), JOTWELL_BAD_PREFIX);
    EXPECT_EQ(JotwellEx(tooLong.c_str(), "x", nullptr), JOTWELL_BAD_PREFIX);
    EXPECT_EQ(JotwellEx("//server/share/log_", "x", nullptr), JOTWELL_BAD_PREFIX);
    EXPECT_EQ(Jotwell("\\\\server\\share\\log_", "x", 0, 0, 0), JOTWELL_BAD_PREFIX);
    EXPECT_EQ(testing::ListFolder(dir.Path()).size(), 0u);
    EXPECT_EQ(JotwellEx(longest.c_str(), "x", nullptr), JOTWELL_OK);
    EXPECT_EQ(testing::ListFolder(dir.Path()).size(), 1u);
}

TEST_F(Exports, TextsBecomeOneCleanLineOrAHexDump) {
    ASSERT_EQ(Write("first\r\nsecond"), 0);
    ASSERT_EQ(Write(nullptr), 0);
    ASSERT_EQ(Write(nullptr, 0, LE_FORCE_BINARY), 0);
    ASSERT_EQ(Write("A\x01" "BCDEFGHIJKLMNOPQRST"), 0);
    ASSERT_EQ(Write("ab\0cd", 0, 0, 5), 0);
    ASSERT_EQ(Write("not written", 0, LE_DONT_LOG), 0);
    // Each dump line: offset, 16 cells of "XX " (blank cells behind the end), a blank, the characters.
    auto blanks = [](size_t cells) { return std::string(cells * 3 + 1, ' '); };
    EXPECT_EQ(Texts(TodaysLog("App_")),
              (std::vector<std::string>{
                  "firstsecond",
                  "",
                  "000000000 3C 4E 55 4C 4C 3E " + blanks(10) + "<NULL>",
                  "000000000 41 01 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F  A.BCDEFGHIJKLMNO",
                  "000000010 50 51 52 53 54 " + blanks(11) + "PQRST",
                  "000000000 61 62 00 63 64 " + blanks(11) + "ab.cd",
              }));
}

TEST_F(Exports, StdoutPrefixAndEchoWriteTheLineToStandardOutput) {
    testing::StdoutCapture capture;
    capture.Begin(dir / "stdout.txt");
    JotwellOptions o{};
    o.logOptions = LO_INCLUDE_APP;
    o.extOptions = kQuiet | LE_NO_MS | LE_NO_OFFSET;
    const int onlyEcho = JotwellEx("stdout", "to the terminal", &o);
    const int both = Write("both", LO_ECHO, LE_NO_MS);
    const std::string out = capture.End();
    EXPECT_EQ(onlyEcho, 0);
    EXPECT_EQ(both, 0);
    EXPECT_EQ(testing::ListFolder(dir.Path()), std::vector<std::string>{NameOfLog()});
    ASSERT_EQ(out.size(), 20u + 15u + 1u + 26u + 4u + 1u) << out;
    EXPECT_EQ(out.substr(19, 17), " to the terminal\n") << "no prefix for STDOUT";
    const std::vector<std::string> lines = testing::ReadLines(dir / NameOfLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(out.substr(36), lines[0] + "\n");
}

TEST_F(Exports, LogNameOnlyHandsBackTheNameAndWritesNothing) {
    JotwellOptions o{};
    o.logOptions = LO_LOGNAME_ONLY | LO_MONTHLY;
    o.extOptions = kQuiet;
    const char* extension = ".txt";
    o.logExtension = extension;
    DateStamps stamps{};
    o.stamps = &stamps;
    ASSERT_EQ(JotwellEx((dir / "App_").c_str(), "x", &o), 0);
    ASSERT_NE(o.logFileName, nullptr);
    EXPECT_EQ(std::string(o.logFileName), dir / ("App_" + std::string(stamps.dtmsText, 7) + ".txt"));
    EXPECT_EQ(o.logExtension, extension);
    EXPECT_EQ(o.logWildcard, nullptr) << "defaults are not left in the caller's record";
    EXPECT_EQ(testing::ListFolder(dir.Path()).size(), 0u);
    o.logOptions = 0;
    ASSERT_EQ(JotwellEx((dir / "App_").c_str(), "x", &o), 0);
    EXPECT_EQ(o.logFileName, nullptr);
}

TEST_F(Exports, JotwellPublishesStampsAndNameButJotwellExDoesNot) {
    ASSERT_EQ(Jotwell((dir / "Pub_").c_str(), "x", LO_TIME_T, 0, 0), 0);
    ASSERT_NE(chCurrentLogFileName, nullptr);
    const std::string name = chCurrentLogFileName;
    EXPECT_EQ(name, dir / ("Pub_" + std::string(chCurrentDTMSText, 10) + ".log"));
    EXPECT_EQ(chCurrentDTMSText[10], 'T');
    EXPECT_EQ(std::strlen(chCurrentDTMSText), 29u);
    EXPECT_EQ(std::strncmp(chCurrentDateTimeText, chCurrentDTMSText, 19), 0);
    EXPECT_EQ(std::strlen(chCurrentDateNoBlanks), 8u);
    EXPECT_EQ(std::strncmp(chCurrentDateWeek, chCurrentDateWeekText, 6), 0);
    const char* before = chCurrentLogFileName;
    ASSERT_EQ(Write("other"), 0);
    EXPECT_EQ(chCurrentLogFileName, before);
    ASSERT_EQ(Jotwell((dir / "Pub_").c_str(), "again", 0, 0, 0), 0);
    EXPECT_STREQ(before, name.c_str()) << "a published name stays valid";
    // Jotwell does not read the configuration file, so no configuration line.
    for (const std::string& line : testing::ReadLines(name)) EXPECT_EQ(line.find("Configuration"), std::string::npos);
}

TEST_F(Exports, CheckIntervalCountsInTheCallersRecord) {
    for (const char* d : {"2000-01-01", "2000-01-02"}) testing::WriteFile(dir / ("App_" + std::string(d) + ".log"), "old\r\n");
    JotwellOptions o{};
    o.extOptions = kQuiet;
    o.logOptions = LO_DONT_ZIP;
    o.limit1 = 1;
    o.checkInterval = 3;
    o.checkCountdown = 1;  // the next call skips rotation, the one after runs it
    ASSERT_EQ(JotwellEx((dir / "App_").c_str(), "one", &o), 0);
    EXPECT_EQ(o.checkCountdown, 0u);
    EXPECT_EQ(testing::ListFolder(dir.Path()).size(), 3u);
    ASSERT_EQ(JotwellEx((dir / "App_").c_str(), "two", &o), 0);
    EXPECT_EQ(o.checkCountdown, 2u);
    EXPECT_EQ(testing::ListFolder(dir.Path()).size(), 1u);
}

}  // namespace
}  // namespace hm::jotwell
