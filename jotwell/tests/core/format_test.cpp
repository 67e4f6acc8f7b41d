// Stamps, line composition, hexadecimal dumps and file names.
#include <gtest/gtest.h>

#include "compose.h"
#include "core_fixture.h"

namespace hm::jotwell {
namespace {

struct StampCase {
    WallTime time;
    bool timeT;
    const char* dtms;
    const char* dateTime;
    const char* week;
    const char* noBlanks;
    const char* weekShort;
};

TEST(Stamps, AllFiveTextsFollowTheClockAndTheOffset) {
    const StampCase cases[] = {
        // 2010-05-06 was a Thursday: week of the year (Monday first) 18, plus 1; weekday 4, plus 1.
        {{2010, 5, 6, 16, 58, 31, 7, 120}, false, "2010-05-06 16:58:31.007+02:00", "2010-05-06 16:58:31+02:00",
         "2010-W19-05", "20100506", "2010-W"},
        // A Sunday before the first Monday of the year is in week 00.
        {{2023, 1, 1, 0, 0, 0, 999, 0}, false, "2023-01-01 00:00:00.999+00:00", "2023-01-01 00:00:00+00:00",
         "2023-W01-01", "20230101", "2023-W"},
        // West of Greenwich the offset carries its own sign, half hours included.
        {{2024, 12, 31, 23, 59, 59, 0, -210}, false, "2024-12-31 23:59:59.000-03:30", "2024-12-31 23:59:59-03:30",
         "2024-W54-03", "20241231", "2024-W"},
        {{2026, 1, 5, 7, 8, 9, 10, 345}, true, "2026-01-05T07:08:09.010+05:45", "2026-01-05T07:08:09+05:45",
         "2026-W02-02", "20260105", "2026-W"},
    };
    for (const StampCase& c : cases) {
        DateStamps st{};
        ComputeStamps(c.time, c.timeT, st);
        EXPECT_STREQ(st.dtmsText, c.dtms);
        EXPECT_STREQ(st.dateTimeText, c.dateTime);
        EXPECT_STREQ(st.weekText, c.week);
        EXPECT_STREQ(st.dateNoBlanks, c.noBlanks);
        EXPECT_STREQ(st.weekShort, c.weekShort);
    }
}

TEST(Stamps, StampTextFollowsTheOptions) {
    DateStamps st{};
    ComputeStamps({2010, 5, 6, 16, 58, 31, 7, 120}, false, st);
    const struct {
        uint32_t ext;
        const char* stamp;
    } cases[] = {
        {0, "2010-05-06 16:58:31.007+02:00"},
        {LE_DONT_LOG_MS, "2010-05-06 16:58:31+02:00"},
        {LE_DONT_LOG_SEC, "2010-05-06 16:58"},
        {LE_DONT_LOG_SEC | LE_DONT_LOG_MS, "2010-05-06 16:58"},
        {LE_NO_OFFSET, "2010-05-06 16:58:31.007"},
        {LE_NO_OFFSET | LE_DONT_LOG_MS, "2010-05-06 16:58:31"},
        {LE_NO_OFFSET | LE_DONT_LOG_SEC, "2010-05-06 16:58"},
    };
    for (const auto& c : cases) EXPECT_EQ(StampText(c.ext, st), c.stamp) << std::hex << c.ext;
}

TEST(Banner, BuildDateIsRewrittenAsYearMonthDay) {
    EXPECT_EQ(RewriteBuildDate("May  6 2010"), "2010-05-06");
    EXPECT_EQ(RewriteBuildDate("Dec 24 1999"), "1999-12-24");
    EXPECT_EQ(RewriteBuildDate("Xyz  1 2010"), "*** Error ***");
    EXPECT_EQ(RewriteBuildDate("May"), "*** Error ***");
    EXPECT_EQ(BannerText().rfind("*** Jotwell (jotwell.dll) 1.6.32 - built ", 0), 0u);
    EXPECT_EQ(BannerText().find("*** Error ***"), std::string::npos);
}

TEST(Compose, LineTakesPrefixBlanksAndFullStopAsAsked) {
    DateStamps st{};
    ComputeStamps({2010, 5, 6, 16, 58, 31, 7, 120}, false, st);
    const std::string stamp = "2010-05-06 16:58:31.007+02:00 ";
    const struct {
        const char* text;
        uint32_t lo, ext;
        std::string line;
    } cases[] = {
        {"Server 1: Scheduled", 0, 0, stamp + "Server 1: Scheduled"},
        {"x", LO_INCLUDE_APP, 0, stamp + "log/App_ x"},
        {"x", 0, LE_THREE_BLANKS, stamp + "  x"},
        {"a\r\nb\tc", 0, 0, stamp + "abc"},
        {"done", 0, LE_ADD_DOT, stamp + "done."},
        {"", 0, LE_ADD_DOT, stamp + "."},
        {"end\r\n", 0, LE_ADD_DOT, stamp + "end."},
        {"\xe4\xf6\xfc", 0, 0, stamp + "\xe4\xf6\xfc"},
    };
    for (const auto& c : cases) EXPECT_EQ(ComposeLine("log/App_", c.text, c.lo, c.ext, st), c.line) << c.text;
    for (char stop : std::string("!(*,.:<?[")) {
        const std::string text = std::string("x") + stop;
        EXPECT_EQ(ComposeLine("p", text, 0, LE_ADD_DOT, st), stamp + text);
    }
}

TEST(Compose, ControlBytesCountAtEveryPositionOfALongText) {
    DateStamps st{};
    ComputeStamps({2010, 5, 6, 16, 58, 31, 7, 120}, false, st);
    const std::string stamp = "2010-05-06 16:58:31.007+02:00 ";
    const std::string plain = "abcdefghijklmnopqrstu";  // longer than two machine words
    const struct {
        char byte;
        bool dump;    // a byte that turns the text into a hexadecimal dump
        bool removed; // a byte that composing leaves out
    } cases[] = {
        {'\x01', true, true},  {'\x1f', true, true},   {'\t', false, true},   {'\n', false, true},
        {'\r', false, true},   {' ', false, false},     {'\x7f', false, false}, {'\x80', false, false},
        {'\x9f', false, false}, {'\xa0', false, false}, {'\xff', false, false},
    };
    for (const auto& c : cases) {
        for (size_t at = 0; at < plain.size(); ++at) {
            std::string text = plain;
            text[at] = c.byte;
            EXPECT_EQ(NeedsDump(text, false), c.dump) << int(static_cast<unsigned char>(c.byte)) << " at " << at;
            std::string expected = text;
            if (c.removed) expected.erase(at, 1);
            EXPECT_EQ(ComposeLine("p", text, 0, 0, st), stamp + expected)
                << int(static_cast<unsigned char>(c.byte)) << " at " << at;
        }
    }
    EXPECT_FALSE(NeedsDump(plain, false));
    EXPECT_TRUE(NeedsDump(plain, true));
}

TEST(Compose, HexDumpLayout) {
    const std::string data = "ABCDEFGHIJKLMNOP\x01\x7f\x80";
    std::vector<std::string> lines = HexDumpLines(data, 0, false);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "000000000 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50  ABCDEFGHIJKLMNOP");
    EXPECT_EQ(lines[1], "000000010 01 7F 80" + std::string(13 * 3, ' ') + "  .\x7f.");

    lines = HexDumpLines("abcde", 4, true);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "  000000000 61 62 63 64  abcd");
    EXPECT_EQ(lines[1], "  000000004 65           e");
}

TEST(Prefix, RefusedPrefixes) {
    const std::string longest(260, 'a'), tooLong(261, 'a');
    const struct {
        const char* prefix;
        int result;
    } cases[] = {
        {nullptr, -3},        {tooLong.c_str(), -3}, {longest.c_str(), 0}, {"//server/share/x", -3},
        {"\\\\server\\x", -3}, {"//", 0},             {"/var/log/x_", 0},   {"relative_", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ValidatePrefix(c.prefix), c.result) << (c.prefix ? c.prefix : "null");
    EXPECT_TRUE(IsStdoutPrefix("stdout"));
    EXPECT_TRUE(IsStdoutPrefix("STDOUT"));
    EXPECT_FALSE(IsStdoutPrefix("STDOUT_"));
}

TEST_F(CoreTest, FileNameCarriesTheDateOfTheNaming) {
    Work work;
    LoadWork(nullptr, work);
    ComputeStamps({2010, 5, 6, 16, 58, 31, 7, 120}, false, work.stamps);
    const struct {
        uint32_t lo;
        const char* name;
    } cases[] = {
        {0, "App_2010-05-06.log"},
        {LO_DAILY, "App_2010-05-06.log"},
        {LO_WEEKLY, "App_2010-W19.log"},
        {LO_MONTHLY, "App_2010-05.log"},
        {LO_YEARLY, "App_2010.log"},
        {LO_WEEKLY | LO_MONTHLY | LO_YEARLY, "App_2010-W19.log"},
        {LO_MONTHLY | LO_YEARLY, "App_2010-05.log"},
        {LO_NO_DATE | LO_WEEKLY, "App_.log"},
    };
    for (const auto& c : cases) {
        work.logOptions = c.lo;
        EXPECT_EQ(ResolveLogPath("/logs/App_", work), std::string("/logs/") + c.name);
    }
    // Relative prefixes live below the library's folder; backslashes are folder separators.
    work.logOptions = 0;
    EXPECT_EQ(ResolveLogPath("log\\App_", work), dir.Path() + "log/App_2010-05-06.log");
    EXPECT_EQ(LockName("JotwellShr", "/var/log/a:b.log"), "JotwellShrvarlogab.log");
}

}  // namespace
}  // namespace hm::jotwell
