// Mission archives and descriptions: which archives the mission list takes (level order, broken and
// nameless descriptions, damaged or hostile archives), what a description yields, and the looping
// description built from it. Archives are put together byte by byte here, from the HOG2 layout.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "launch/mission_archive.h"
#include "launch/mission_description.h"
#include "platform/files.h"

namespace hm {
namespace {

std::string Le32(uint32_t v) {
    std::string b;
    for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

using ArchiveFiles = std::vector<std::pair<std::string, std::string>>;

// "HOG2", file count, data offset, 56 unused bytes, 48-byte entries (name field of 40 bytes, length,
// 4 unused bytes), then the files' data in directory order.
std::string Hog2(const ArchiveFiles& files) {
    std::string out = "HOG2" + Le32(static_cast<uint32_t>(files.size())) +
                      Le32(static_cast<uint32_t>(68 + 48 * files.size())) + std::string(56, '\x7f');
    for (const auto& [name, data] : files) {
        std::string field = name;
        field.resize(40, '\0');
        out += field + Le32(static_cast<uint32_t>(data.size())) + Le32(0xDEADBEEF);
    }
    for (const auto& file : files) out += file.second;
    return out;
}

class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        path_ = (std::filesystem::temp_directory_path() / ("hm_mission_" + std::to_string(random()))).string();
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

const char* const kTwoLevels =
    "MSN File Haven:\r\nNAME haven\r\nNUMLEVELS 2\r\nAUTHOR Brannock\r\nURL http://a\r\nURL http://b\r\n"
    "SINGLE yes\r\nMULTI YES\r\nKEYWORDS ctf\r\nDESCRIPTION Two\r\nSHIP phoenix\r\n\r\n"
    "LEVEL 1\r\nMINE haven1.d3l\r\nBRIEFING b1.tbr\r\nSCORE s1\r\nINTROMOVIE i1\r\nSECRET 2\r\n"
    "LEVEL 2\r\nMINE haven2.d3l\r\nENDMOVIE e2\r\nBRANCH 1\r\nENDMISSION\r\n";

CMissionInfo Parsed(const std::string& text) {
    CMissionInfo mission;
    mission.fileName = "haven.mn3";
    mission.title = "Haven";
    ParseMissionDescription(mission, text);
    return mission;
}

TEST(MissionDescription, ValueAndKeyRules) {
    struct Case {
        const char* text;
        const char* name;
        const char* header;
        uint32_t multi;
    } cases[] = {
        {"name ab\nNUMLEVELS 1\nLEVEL 1\n", "AB", "", 0},  // short names upper case whole
        {"NAME\t  x-wing\nNUMLEVELS 1\nLEVEL 1\n", "X-wing", "", 0},
        {"NAMEfooz\nNUMLEVELS 1\nLEVEL 1\n", "Fooz", "", 0},  // the key is matched over its own length
        {"MSN  file   Head\nNAME abcd\nNUMLEVELS 1\nLEVEL 1\nMULTI no\n", "Abcd", "Head", 0},
        {"MSN Head::\r\n\rNAME abcd\r\nNUMLEVELS 1\n\rLEVEL 1\nMULTI Yesterday\n", "Abcd", "Head:", 1},
        {"  NAME lost\nNAME kept\nNUMLEVELS 1\nLEVEL 1\nnonsense line\n", "Kept", "", 0},
    };
    for (const Case& c : cases) {
        const CMissionInfo m = Parsed(c.text);
        EXPECT_EQ(m.missionName, c.name) << c.text;
        EXPECT_EQ(m.descriptionHeader, c.header) << c.text;
        EXPECT_EQ(m.multiPlayer, c.multi) << c.text;
    }
}

TEST(MissionDescription, BrokenOrIncompleteDescriptionsAreNotUsable) {
    struct Case {
        const char* what;
        const char* text;
        bool usable;
        std::vector<int> levels;
    } cases[] = {
        {"levels out of order are sorted", "NAME m\nNUMLEVELS 3\nLEVEL 1\nLEVEL 3\nLEVEL 2\n", true, {1, 2, 3}},
        {"more levels than declared", "NAME m\nNUMLEVELS 2\nLEVEL 1\nLEVEL 2\nLEVEL 3\n", false, {}},
        {"fewer levels than declared", "NAME m\nNUMLEVELS 3\nLEVEL 1\nLEVEL 2\n", false, {}},
        {"branch 0", "NAME m\nNUMLEVELS 1\nLEVEL 1\nBRANCH 0\n", false, {}},
        {"secret beyond the levels", "NAME m\nNUMLEVELS 2\nLEVEL 1\nSECRET 3\nLEVEL 2\n", false, {}},
        {"level before the level count", "NAME m\nLEVEL 1\nNUMLEVELS 1\n", false, {}},
        {"broken stays broken", "NAME m\nLEVEL 9\nNUMLEVELS 1\nLEVEL 1\n", false, {}},
        {"level count lowered below a level read", "NAME m\nNUMLEVELS 3\nLEVEL 2\nNUMLEVELS 1\n", false, {}},
        {"level count lowered below a branch", "NAME m\nNUMLEVELS 3\nLEVEL 1\nBRANCH 3\nLEVEL 2\nNUMLEVELS 2\n", false, {}},
        {"no name", "NUMLEVELS 1\nLEVEL 1\n", false, {}},
        {"no levels declared", "NAME m\nNUMLEVELS 0\n", false, {}},
        {"empty text", "", false, {}},
    };
    for (const Case& c : cases) {
        const CMissionInfo m = Parsed(c.text);
        EXPECT_EQ(IsUsableMission(m), c.usable) << c.what;
        std::vector<int> numbers;
        for (const CLevelInfo& level : m.levels) numbers.push_back(level.levelNumber);
        EXPECT_EQ(numbers, c.levels) << c.what;
        if (!c.usable) {
            EXPECT_EQ(m.title, "") << c.what;
        }
    }
}

TEST(MissionDescription, LoopingDescriptionBranchesEachLevelToItself) {
    const CMissionInfo m = Parsed(kTwoLevels);
    EXPECT_EQ(BuildMissionDescription(m),
              "MSN File Haven\r\nNAME Haven\r\nNUMLEVELS 2\r\nAUTHOR Brannock\r\nURL http://a\r\nURL http://b\r\n"
              "SINGLE YES\r\nMULTI YES\r\nKEYWORDS ctf\r\nDESCRIPTION Two\r\nSHIP phoenix\r\n\r\n"
              "LEVEL 1\r\nBRIEFING b1.tbr\r\nSCORE s1\r\nMINE haven1.d3l\r\nINTROMOVIE i1\r\nBRANCH 1\r\n\r\n"
              "LEVEL 2\r\nMINE haven2.d3l\r\nENDMOVIE e2\r\nBRANCH 2\r\n\r\n"
              "ENDMISSION\r\n");
    EXPECT_EQ(m.levels[0].mineTitle, "Haven1");
    EXPECT_EQ(m.levels[0].secret, 2);
    // Read back, the looping text describes the same mission.
    const CMissionInfo again = Parsed(BuildMissionDescription(m));
    EXPECT_TRUE(IsUsableMission(again));
    EXPECT_EQ(again.levels[0].branch, 1);
    EXPECT_EQ(again.levels[1].branch, 2);
}

TEST(MissionDescription, PercentSignsInValuesAreKeptAsText) {
    CMissionInfo m = Parsed("NAME 100%s %n\nNUMLEVELS 1\nLEVEL 1\nMINE %s%s.d3l\n");
    const std::string text = BuildMissionDescription(m);
    EXPECT_NE(text.find("NAME 100%s %n\r\n"), std::string::npos);
    EXPECT_NE(text.find("MINE %s%s.d3l\r\n"), std::string::npos);
}

class MissionArchiveTest : public ::testing::Test {
protected:
    void Put(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(fs::WriteWholeFile(folder.Path() + "/" + name, bytes));
    }
    CMissionList Read(const std::string& name) {
        CMissionList list;
        CMissionInfo mission;
        mission.fileName = name;
        mission.title = "From file";
        mission.fileTime = 77;
        ReadMissionArchive(list, folder.Path(), mission);
        return list;
    }
    TempFolder folder;
};

TEST_F(MissionArchiveTest, UsableArchiveIsListedWithItsDescription) {
    Put("haven.mn3", Hog2({{"haven1.d3l", std::string(300, 'x')}, {"Haven.MSN", kTwoLevels}, {"x.oof", "obj"}}));
    const CMissionList list = Read("haven.mn3");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].fileName, "haven.mn3");
    EXPECT_EQ(list[0].title, "Haven");
    EXPECT_EQ(list[0].fileTime, 77u);
    EXPECT_EQ(list[0].levels.size(), 2u);
}

TEST_F(MissionArchiveTest, OnlyTheFirstDescriptionCounts) {
    Put("two.mn3", Hog2({{"a.msn", "NAME first\nNUMLEVELS 1\nLEVEL 1\n"}, {"b.msn", kTwoLevels}}));
    const CMissionList list = Read("two.mn3");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].missionName, "First");
}

TEST_F(MissionArchiveTest, DescriptionEndsAtItsFirstZeroByte) {
    static const char kText[] = "NAME zed\nNUMLEVELS 1\nLEVEL 1\n\0LEVEL 2\n";
    Put("z.mn3", Hog2({{"z.msn", std::string(kText, sizeof kText - 1)}}));
    const CMissionList list = Read("z.mn3");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].levels.size(), 1u);
}

TEST_F(MissionArchiveTest, UnreadableOrDamagedArchivesAreNotListed) {
    const std::string good = Hog2({{"m.msn", "NAME m\nNUMLEVELS 1\nLEVEL 1\n"}});
    std::string hugeCount = good;
    hugeCount.replace(4, 4, Le32(0x7FFFFFFF));
    std::string lengthBeyondEnd = good;
    lengthBeyondEnd.replace(68 + 40, 4, Le32(0xFFFFFFF0));
    std::string offsetBeyondEnd = good;
    offsetBeyondEnd.replace(8, 4, Le32(0xFFFFFFFF));
    std::string nameWithoutTerminator = good;  // 40 name bytes and no zero: the name stops at the field
    nameWithoutTerminator.replace(68, 40, std::string(36, 'a') + ".msn");
    struct Case {
        const char* what;
        std::string bytes;
        size_t listed;
    } cases[] = {
        {"intact", good, 1},
        {"wrong magic", "HOG1" + good.substr(4), 0},
        {"header cut short", good.substr(0, 60), 0},
        {"directory cut short", good.substr(0, 68 + 20), 0},
        {"description cut short", good.substr(0, good.size() - 3), 0},
        {"count beyond the file", hugeCount, 0},
        {"length beyond the file", lengthBeyondEnd, 0},
        {"data offset beyond the file", offsetBeyondEnd, 0},
        {"unterminated name", nameWithoutTerminator, 1},
        {"no description", Hog2({{"m.txt", "NAME m\nNUMLEVELS 1\nLEVEL 1\n"}}), 0},
        {"empty file", "", 0},
    };
    for (const Case& c : cases) {
        Put("case.mn3", c.bytes);
        EXPECT_EQ(Read("case.mn3").size(), c.listed) << c.what;
    }
    EXPECT_TRUE(Read("missing.mn3").empty());

    // Entries that are no files are refused at once: none of these may block or be read.
    ASSERT_EQ(std::system(("mkfifo '" + folder.Path() + "/fifo.mn3'").c_str()), 0);
    std::filesystem::create_directory(folder.Path() + "/folder.mn3");
    std::filesystem::create_symlink("/dev/zero", folder.Path() + "/zero.mn3");
    for (const char* name : {"fifo.mn3", "folder.mn3", "zero.mn3"}) EXPECT_TRUE(Read(name).empty()) << name;
}

TEST(MissionDescriptionFileName, MapsTheGamesSecondArchiveAndRefusesOtherNames) {
    struct Case {
        const char* mission;
        const char* description;
    } cases[] = {
        {"haven.mn3", "haven.msn"}, {"k3_2.mn3", "K3.msn"}, {"K3_2.MN3", "K3.msn"}, {"HAVEN.MN3", ""},
        {"haven", ""},              {"", ""},               {"../x.mn3", ""},     {"a/b.mn3", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(MissionDescriptionFileName(c.mission), c.description) << c.mission;
}

}  // namespace
}  // namespace hm
