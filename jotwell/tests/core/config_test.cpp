// The configuration file: sections per prefix or "Default", option names, booleans, limits, the
// configuration messages and the per-process cache.
#include <gtest/gtest.h>

#include "core_fixture.h"

namespace hm::jotwell {
namespace {

class Config : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        SetFatProbe(nullptr);
    }
    void TearDown() override {
        SetFatProbe(nullptr);
        CoreTest::TearDown();
    }

    std::string Ini() const { return dir / "jotwell.ini"; }
    std::string Prefix(const std::string& name = "App_") const { return dir / name; }

    int Write(const std::string& prefix, const char* text, uint32_t lo = 0, uint32_t ext = 0) {
        JotwellOptions o{};
        o.logOptions = lo;
        o.extOptions = ext;
        return JotwellEx(prefix.c_str(), text, &o);
    }

    // Every line of the log of a prefix, without its stamp.
    std::vector<std::string> Lines(const std::string& name = "App_") const {
        std::vector<std::string> out;
        for (const std::string& line : testing::ReadLines(dir / (name + "2026-01-05.log"))) out.push_back(line.substr(30));
        return out;
    }
};

TEST(ConfigValues, BooleanWords) {
    for (const char* yes : {"1", "01", "TRUE", "true", "Yes", "WAHR", "wahr", "ja", "JA"}) EXPECT_TRUE(ParseBool(yes)) << yes;
    for (const char* no : {"0", "2", "-1", "FALSE", "no", "FALSCH", "nein", "maybe", ""}) EXPECT_FALSE(ParseBool(no)) << no;
}

TEST(ConfigValues, ShortNameWinsAndLimitsFollowTheBoundingOption) {
    IniFile ini;
    ini.Parse(
        "; comment\r\n"
        "[log/App_]\r\n"
        "ECHO=1\r\n"
        "LO_ECHO=0\r\n"
        "lo_include_app = yes\r\n"
        "NO_MS=ERROR\r\n"
        "LE_NO_MS=TRUE\r\n"
        "DONT_LOG_SECS=ja\r\n"
        "MaxLogs=5\r\n"
        "SIZE=TRUE\r\n"
        "MinSize=1000\r\n"
        "MaxSize=2000\r\n"
        "MaxLines=7\r\n"
        "[Lines]\r\n"
        "MaxLogs=9\r\n"
        "MaxZips=4\r\n"
        "LINES=1\r\n"
        "MinLines=100\r\n"
        "MaxLines=200\r\n"
        "[Plain]\r\n"
        "MaxLogs=9\r\n"
        "MaxZips=4\r\n"
        "MinLines=100\r\n");
    SectionSettings s = ReadSectionSettings(ini, "LOG/app_");
    EXPECT_EQ(s.logOptions, LO_ECHO | LO_INCLUDE_APP | LO_SIZE);
    EXPECT_EQ(s.extOptions, LE_NO_MS | LE_DONT_LOG_SEC);
    EXPECT_EQ(s.limit1, 1000u);
    EXPECT_EQ(s.limit2, 2000u);
    s = ReadSectionSettings(ini, "Lines");
    EXPECT_EQ(s.limit1, 100u);
    EXPECT_EQ(s.limit2, 200u);
    s = ReadSectionSettings(ini, "Plain");
    EXPECT_EQ(s.limit1, 9u);
    EXPECT_EQ(s.limit2, 4u);
    EXPECT_FALSE(ini.HasSection("Missing"));
}

TEST_F(Config, MissingFileIsReportedOncePerPrefixAfterTheBanner) {
    ASSERT_EQ(Write(Prefix(), "one"), 0);
    ASSERT_EQ(Write(Prefix(), "two"), 0);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("*** Jotwell (jotwell.dll) 1.6.32 - built ", 0), 0u);
    EXPECT_EQ(lines[1], "Configuration file '" + Ini() + "' not found.");
    EXPECT_EQ(lines[2], "one");
    EXPECT_EQ(lines[3], "two");
    ASSERT_EQ(Write(Prefix(), "quiet", 0, LE_DONT_LOG_CONFIG), 0);
    ASSERT_EQ(Write(Prefix("Other_"), "quiet", 0, LE_DONT_LOG_CONFIG | LE_NO_BANNER), 0);
    EXPECT_EQ(Lines("Other_"), std::vector<std::string>{"quiet"});
}

TEST_F(Config, SectionOptionsApplyAndItsReadingIsLogged) {
    testing::WriteFile(Ini(), "[" + Prefix() + "]\nINCLUDE_APP=1\nLO_INCLUDE_APP=0\nADD_DOT=wahr\n");
    ASSERT_EQ(Write(Prefix(), "one", 0, LE_NO_BANNER), 0);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Reading configuration section [" + Prefix() + "] from '" + Ini() + "'...");
    EXPECT_EQ(lines[1], Prefix() + " one.");
}

TEST_F(Config, MissingSectionFallsBackToDefault) {
    testing::WriteFile(Ini(), "[Default]\nTHREE_BLANKS=1\n");
    ASSERT_EQ(Write(Prefix(), "one", 0, LE_NO_BANNER), 0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "Reading configuration section [" + Prefix() + "] from '" + Ini() + "'...",
                           "Configuration section [" + Prefix() + "] in '" + Ini() + "' does not exist.",
                           "Reading configuration section [Default] from '" + Ini() + "'...",
                           "  one",
                       }));
}

TEST_F(Config, DontLogConfigInDefaultSilencesEveryPrefix) {
    testing::WriteFile(Ini(), "[Default]\nDONT_LOG_CONFIG=JA\n[" + Prefix("B_") + "]\nADD_DOT=1\n");
    ASSERT_EQ(Write(Prefix("A_"), "a", 0, LE_NO_BANNER), 0);
    ASSERT_EQ(Write(Prefix("B_"), "b", 0, LE_NO_BANNER), 0);
    EXPECT_EQ(Lines("A_"), std::vector<std::string>{"a"});
    EXPECT_EQ(Lines("B_"), std::vector<std::string>{"b."});
}

TEST_F(Config, FalseKeyNeverClearsTheCallersOption) {
    testing::WriteFile(Ini(), "[" + Prefix() + "]\nDONT_LOG_CONFIG=1\nADD_DOT=0\n");
    ASSERT_EQ(Write(Prefix(), "kept", 0, LE_NO_BANNER | LE_ADD_DOT), 0);
    EXPECT_EQ(Lines(), std::vector<std::string>{"kept."});
}

TEST_F(Config, SectionIsReadOncePerProcess) {
    testing::WriteFile(Ini(), "[" + Prefix() + "]\nDONT_LOG_CONFIG=1\nADD_DOT=1\n");
    ASSERT_EQ(Write(Prefix(), "one", 0, LE_NO_BANNER), 0);
    testing::WriteFile(Ini(), "[" + Prefix() + "]\nDONT_LOG_CONFIG=1\nADD_DOT=0\nTHREE_BLANKS=1\n");
    ASSERT_EQ(Write(Prefix(), "two", 0, LE_NO_BANNER), 0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"one.", "two."}));
    ClearConfigurationCache();  // what a reload of the library does
    ASSERT_EQ(Write(Prefix(), "three", 0, LE_NO_BANNER), 0);
    EXPECT_EQ(Lines().back(), "  three");
}

TEST_F(Config, LimitsFromTheFileRotate) {
    testing::WriteFile(Ini(), "[" + Prefix() + "]\nDONT_LOG_CONFIG=1\nDONT_ZIP=1\nMaxLogs=1\n");
    testing::WriteFile(dir / "App_2026-01-04.log", "old\r\n");
    ASSERT_EQ(Write(Prefix(), "one", 0, LE_NO_BANNER), 0);
    EXPECT_FALSE(testing::FileExists(dir / "App_2026-01-04.log"));
}

TEST_F(Config, FatVolumeSortsListingsAndRefusesFileSystemCompression) {
    SetFatProbe([](const std::string&) { return true; });
    testing::WriteFile(Ini(), "[" + Prefix() + "]\nNTFS_COMPRESS=1\n");
    ASSERT_EQ(Write(Prefix(), "one", 0, LE_NO_BANNER), 0);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "Logging file system is FAT or FAT32: Directory listing needs to be sorted.");
    EXPECT_EQ(lines[2], "Logging file system is FAT or FAT32: Unsupported NTFS compression turned off.");
    Work work;
    LoadWork(nullptr, work);
    MergeConfiguration(Prefix(), work);
    EXPECT_EQ(work.extOptions & (LE_NTFS_COMPRESS | LE_SORTED_LISTING), LE_SORTED_LISTING);
}

TEST_F(Config, FileNamedByTheCaller) {
    const std::string other = dir / "other.ini";
    testing::WriteFile(other, "[Default]\nDONT_LOG_CONFIG=1\nADD_DOT=1\n");
    JotwellOptions o{};
    o.configFile = other.c_str();
    o.extOptions = LE_NO_BANNER;
    ASSERT_EQ(JotwellEx(Prefix().c_str(), "x", &o), 0);
    EXPECT_EQ(o.configFile, other.c_str()) << "the caller's string stays the caller's";
    EXPECT_EQ(Lines(), std::vector<std::string>{"x."});
}

}  // namespace
}  // namespace hm::jotwell
