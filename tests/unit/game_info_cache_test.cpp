// "KelvaneInfo.dat": the bytes of each list and entry, written from the stored layout by hand, and
// how a reader treats empty lists, empty entries, layouts of other releases and damage.
#include <gtest/gtest.h>

#include <string>

#include "game/game_files.h"
#include "game/installation_cache.h"

namespace hm {
namespace {

std::string Dw(uint32_t v) {
    std::string b;
    for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}
std::string Str(const std::string& s) { return static_cast<char>(s.size()) + s; }  // short strings only
std::string Count(uint16_t n) { return std::string{static_cast<char>(n & 0xFF), static_cast<char>(n >> 8)}; }

CMissionInfo SampleMission() {
    CMissionInfo m;
    m.fileName = "haven.mn3";
    m.title = "Haven";
    m.fileTime = 0x01D2030405060708ULL;
    m.descriptionHeader = "Hdr";
    m.missionName = "Haven";
    m.numLevels = 1;
    m.author = "Au";
    m.urls = {"u1", "u2"};
    m.singlePlayer = 1;
    m.multiPlayer = 0;
    m.keywords = "k";
    m.description = "d";
    m.ship = "s";
    m.endMission = 1;
    CLevelInfo level;
    level.levelNumber = 1;
    level.briefing = "b";
    level.score = "sc";
    level.mineFile = "m.d3l";
    level.mineTitle = "M";
    level.introDefault = "id";
    level.introMovie = "im";
    level.progress = "p";
    level.endMovie = "em";
    level.branch = -1;
    level.secret = 1;
    m.levels.push_back(level);
    return m;
}

const std::string kMissionBytes =
    Dw(3) + Dw(1) + Str("haven.mn3") + Str("Haven") + Dw(0x05060708) + Dw(0x01D20304) + Str("Hdr") + Str("Haven") +
    Dw(1) + Str("Au") + Count(2) + Str("u1") + Str("u2") + Dw(1) + Dw(0) + Str("k") + Str("d") + Str("s") + Dw(1) +
    Count(1) + Dw(1) + Dw(1) + Str("b") + Str("sc") + Str("m.d3l") + Str("M") + Str("id") + Str("im") + Str("p") +
    Str("em") + Dw(0xFFFFFFFF) + Dw(1);

TEST(InstallationCache, GameFileListBytes) {
    CGameFileList list = {{"main.exe", "Kelvane 3", 0x0000000100000002ULL}, {"ctf.k3m", "CTF", 0}};
    std::string out;
    {
        ArchiveWriter ar(&out);
        WriteGameFileList(ar, list);
    }
    EXPECT_EQ(out, Dw(1) + Count(2) + Dw(1) + Str("main.exe") + Str("Kelvane 3") + Dw(2) + Dw(1) + Dw(1) +
                       Str("ctf.k3m") + Str("CTF") + Dw(0) + Dw(0));
}

TEST(InstallationCache, MissionListBytes) {
    std::string out;
    {
        ArchiveWriter ar(&out);
        WriteMissionList(ar, CMissionList{SampleMission()});
    }
    EXPECT_EQ(out, Dw(1) + Count(1) + kMissionBytes);
}

TEST(InstallationCache, MissionReadsBackFieldForField) {
    ArchiveReader ar(Dw(1) + Count(1) + kMissionBytes);
    CMissionList list;
    ASSERT_TRUE(ReadMissionList(ar, list));
    ASSERT_EQ(list.size(), 1u);
    std::string again;
    {
        ArchiveWriter writer(&again);
        WriteMissionList(writer, list);
    }
    EXPECT_EQ(again, Dw(1) + Count(1) + kMissionBytes);
    EXPECT_EQ(list[0].levels[0].branch, -1);
}

TEST(InstallationCache, ReadingRules) {
    const CGameFileList before = {{"old.k3m", "Old", 5}};
    struct Case {
        const char* what;
        std::string bytes;
        bool goOn;
        bool failed;
        size_t entries;
        const char* firstName;
    } cases[] = {
        {"list version 0 keeps the list", Dw(0) + Dw(1), true, false, 1, "old.k3m"},
        {"empty list", Dw(1) + Count(0), true, false, 0, ""},
        {"entry version 0 is an empty entry", Dw(1) + Count(1) + Dw(0), true, false, 1, ""},
        {"unknown entry version stops", Dw(1) + Count(2) + Dw(1) + Str("a") + Str("A") + Dw(0) + Dw(0) + Dw(2),
         false, false, 1, "a"},
        {"cut inside an entry", Dw(1) + Count(2) + Dw(1) + Str("a") + Str("A") + Dw(0) + Dw(0) + Dw(1) + Str("b"),
         false, true, 1, "a"},
        {"count beyond the file", Dw(1) + Count(60000) + Dw(0), false, true, 1, "old.k3m"},
    };
    for (const Case& c : cases) {
        CGameFileList list = before;
        ArchiveReader ar(c.bytes);
        EXPECT_EQ(ReadGameFileList(ar, list), c.goOn) << c.what;
        EXPECT_EQ(ar.Failed(), c.failed) << c.what;
        ASSERT_EQ(list.size(), c.entries) << c.what;
        if (!list.empty()) {
            EXPECT_EQ(list[0].fileName, c.firstName) << c.what;
        }
    }
}

TEST(InstallationCache, MissionOfAnOlderLayoutEndsTheReadingWithoutDamage) {
    CMissionList list;
    ArchiveReader ar(Dw(1) + Count(2) + kMissionBytes + Dw(2) + std::string(40, 'x'));
    EXPECT_FALSE(ReadMissionList(ar, list));
    EXPECT_FALSE(ar.Failed());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].fileName, "haven.mn3");
}

}  // namespace
}  // namespace hm
