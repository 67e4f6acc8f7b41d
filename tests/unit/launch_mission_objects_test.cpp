// Custom objects and the description file of a hosted mission: what a launch writes into the game
// folder, what a stop removes (shared objects stay while another mission names them; game files are
// never taken over), names that would leave the game folder, and the event lines of both steps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "eventlog/event_log.h"
#include "launch/custom_objects.h"
#include "launch/mission_archive.h"
#include "launch/mission_description.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace hm {
namespace {

std::string Le32(uint32_t v) {
    std::string b;
    for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

using ArchiveFiles = std::vector<std::pair<std::string, std::string>>;

std::string Hog2(const ArchiveFiles& files) {
    std::string out = "HOG2" + Le32(static_cast<uint32_t>(files.size())) +
                      Le32(static_cast<uint32_t>(68 + 48 * files.size())) + std::string(56, '\0');
    for (const auto& [name, data] : files) {
        std::string field = name;
        field.resize(40, '\0');
        out += field + Le32(static_cast<uint32_t>(data.size())) + Le32(0);
    }
    for (const auto& file : files) out += file.second;
    return out;
}

const char* const kDescription = "NAME m\nNUMLEVELS 1\nLEVEL 1\n";

class GameFolderTest : public ::testing::Test {
protected:
    GameFolderTest() : events(clock, nullptr, nullptr) {
        std::random_device random;
        game = (std::filesystem::temp_directory_path() / ("hm_objects_" + std::to_string(random()))).string();
        std::filesystem::create_directories(game + "/missions");
        std::filesystem::create_directories(game + "/custom/cache");
    }
    ~GameFolderTest() override { std::filesystem::remove_all(game); }

    void Mission(const std::string& name, const ArchiveFiles& files) {
        ASSERT_TRUE(fs::WriteWholeFile(game + "/missions/" + name, Hog2(files)));
    }
    std::string Read(const std::string& relative) {
        std::string text;
        return fs::ReadWholeFile(game + "/" + relative, text) ? text : "<none>";
    }
    bool Exists(const std::string& relative) { return fs::FileExists(game + "/" + relative); }
    std::vector<std::string> Events() {
        std::vector<std::string> texts;
        for (const std::string& line : events.Lines()) texts.push_back(line.substr(EventLogList::kStampLength));
        return texts;
    }

    ManualClock clock;
    EventLogList events;
    std::string game;
};

TEST_F(GameFolderTest, ExtractionWritesObjectsAndTheirList) {
    Mission("alpha.mn3", {{"alpha.msn", kDescription}, {"ship.OOF", "ship-data"}, {"rock.oof", "rock-data"},
                          {"alpha.d3l", "mine"}, {".oof", "too short a name"}});
    EXPECT_EQ(ExtractMissionObjects(events, 2092, "alpha.mn3", game), 2);
    EXPECT_EQ(Read("ship.OOF"), "ship-data");
    EXPECT_EQ(Read("rock.oof"), "rock-data");
    EXPECT_FALSE(Exists("alpha.d3l"));
    EXPECT_EQ(Read("custom/cache/alpha.mn3"), "ship.OOF\nrock.oof\n");
    EXPECT_EQ(Events(), std::vector<std::string>{"Server 2092: 2 custom objects extracted."});

    EXPECT_EQ(RemoveMissionObjects(events, 2092, "alpha.mn3", game), 2);
    EXPECT_FALSE(Exists("ship.OOF"));
    EXPECT_FALSE(Exists("rock.oof"));
    EXPECT_FALSE(Exists("custom/cache/alpha.mn3"));
    EXPECT_EQ(Events().back(), "Server 2092: 2 extracted custom objects removed.");
}

TEST_F(GameFolderTest, SharedObjectStaysUntilTheLastMissionStops) {
    Mission("a.mn3", {{"a.msn", kDescription}, {"x.oof", "shared"}, {"only-a.oof", "a"}});
    Mission("b.mn3", {{"b.msn", kDescription}, {"x.oof", "shared"}, {"pad", ""}});
    EXPECT_EQ(ExtractCustomObjects("a.mn3", game, ".oof"), 2);
    EXPECT_EQ(ExtractCustomObjects("b.mn3", game, ".oof"), 1);  // x.oof is there, written for a.mn3
    EXPECT_EQ(Read("custom/cache/b.mn3"), "x.oof\n");

    EXPECT_EQ(RemoveMissionObjects(events, 2100, "a.mn3", game), 1);
    EXPECT_EQ(Events(), std::vector<std::string>{"Server 2100: 1 extracted custom object removed."});
    EXPECT_TRUE(Exists("x.oof"));
    EXPECT_FALSE(Exists("only-a.oof"));

    EXPECT_EQ(RemoveCustomObjects("b.mn3", game), 1);
    EXPECT_FALSE(Exists("x.oof"));
}

TEST_F(GameFolderTest, ObjectThatWasThereBeforeIsNeitherListedNorDeleted) {
    ASSERT_TRUE(fs::WriteWholeFile(game + "/game.oof", "the game's own"));
    Mission("c.mn3", {{"c.msn", kDescription}, {"game.oof", "mission copy"}, {"new.oof", "n"}});
    EXPECT_EQ(ExtractCustomObjects("c.mn3", game, ".oof"), 1);
    EXPECT_EQ(Read("game.oof"), "the game's own");
    EXPECT_EQ(Read("custom/cache/c.mn3"), "new.oof\n");
    EXPECT_EQ(RemoveCustomObjects("c.mn3", game), 1);
    EXPECT_EQ(Read("game.oof"), "the game's own");
}

TEST_F(GameFolderTest, SecondServerOnTheSameMissionKeepsTheList) {
    Mission("d.mn3", {{"d.msn", kDescription}, {"d.oof", "d"}, {"pad", ""}});
    EXPECT_EQ(ExtractCustomObjects("d.mn3", game, ".oof"), 1);
    EXPECT_EQ(ExtractCustomObjects("d.mn3", game, ".oof"), 1);
    EXPECT_EQ(Read("custom/cache/d.mn3"), "d.oof\n");
}

TEST_F(GameFolderTest, ArchiveNamesThatLeaveTheGameFolderAreNeverWritten) {
    Mission("evil.mn3", {{"evil.msn", kDescription},
                         {"../escape.oof", "x"},
                         {"/tmp/absolute.oof", "x"},
                         {"sub/dir.oof", "x"},
                         {"..\\back.oof", "x"},
                         {"c:drive.oof", "x"},
                         {"fine.oof", "ok"}});
    EXPECT_EQ(ExtractCustomObjects("evil.mn3", game, ".oof"), 1);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(game).parent_path() / "escape.oof"));
    EXPECT_FALSE(Exists("sub/dir.oof"));
    EXPECT_EQ(Read("custom/cache/evil.mn3"), "fine.oof\n");

    // A list file edited to name paths: those are never deleted.
    ASSERT_TRUE(fs::WriteWholeFile(game + "/keep.txt", "k"));
    ASSERT_TRUE(fs::WriteWholeFile(game + "/custom/cache/evil.mn3", "fine.oof\n../keep.txt\ncustom/../keep.txt\n"));
    EXPECT_EQ(RemoveCustomObjects("evil.mn3", game), 1);
    EXPECT_TRUE(Exists("keep.txt"));
}

TEST_F(GameFolderTest, ArchiveNamesWithLineBreaksCannotNameGameFilesInTheList) {
    // The object list holds one name per line: a name with a line break would list "keep.txt",
    // a file of the game, and the stop would delete it.
    ASSERT_TRUE(fs::WriteWholeFile(game + "/keep.txt", "k"));
    Mission("evil.mn3", {{"evil.msn", kDescription}, {"keep.txt\nx.oof", "x"}, {"tab\t.oof", "x"}, {"fine.oof", "ok"}});
    EXPECT_EQ(ExtractCustomObjects("evil.mn3", game, ".oof"), 1);
    EXPECT_EQ(Read("custom/cache/evil.mn3"), "fine.oof\n");
    EXPECT_EQ(RemoveCustomObjects("evil.mn3", game), 1);
    EXPECT_TRUE(Exists("keep.txt"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(game), {}), 3);  // missions, custom, keep.txt
}

TEST_F(GameFolderTest, ExtractionResultCodes) {
    const std::string good = Hog2({{"m.msn", kDescription}, {"a.oof", "a"}, {"b.oof", "b"}});
    std::string lengthBeyondEnd = good;
    lengthBeyondEnd.replace(68 + 48 + 40, 4, Le32(0x7FFFFFFF));
    std::string countBeyondEnd = good;
    countBeyondEnd.replace(4, 4, Le32(0x10000000));
    struct Case {
        const char* what;
        const char* mission;
        std::string folder;
        std::string bytes;
        int result;
    } cases[] = {
        {"intact", "m.mn3", game, good, 2},
        {"empty mission name", "", game, good, kMissionNameInvalid},
        {"game's own mission", "K3.MN3", game, good, 0},
        {"no game folder", "m.mn3", "", good, kGameFolderEmpty},
        {"mission is a path", "../m.mn3", game, good, kMissionNameInvalid},
        {"no archive", "absent.mn3", game, good, kArchiveOpenFailed},
        {"116 bytes", "m.mn3", game, good.substr(0, 116), kArchiveTooSmall},
        {"not HOG2", "m.mn3", game, "HOGX" + good.substr(4), kArchiveNotHog2},
        {"two files", "m.mn3", game, Hog2({{"m.msn", kDescription}, {"a.oof", std::string(100, 'a')}}),
         kArchiveTooFewFiles},
        {"object beyond the end", "m.mn3", game, lengthBeyondEnd, kArchiveDamaged},
        {"directory beyond the end", "m.mn3", game, countBeyondEnd, kArchiveDamaged},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(fs::WriteWholeFile(game + "/missions/m.mn3", c.bytes));
        EXPECT_EQ(ExtractCustomObjects(c.mission, c.folder, ".oof"), c.result) << c.what;
        if (c.result <= 0) {
            EXPECT_FALSE(Exists("a.oof")) << c.what;
        }
        RemoveCustomObjects("m.mn3", game);
    }
}

TEST_F(GameFolderTest, ArchiveThatYieldsNoObjectsIsNamedInAnEvent) {
    const std::string good = Hog2({{"m.msn", kDescription}, {"a.oof", "a"}, {"b.oof", "b"}});
    std::string damaged = good;
    damaged.replace(68 + 48 + 40, 4, Le32(0x7FFFFFFF));
    const std::string path = game + "/missions/m.mn3";
    const std::string isDamaged =
        "Server 2092: Mission archive '" + path + "' is damaged; no custom objects extracted.";
    struct Case {
        const char* what;
        std::string bytes;  // empty: a folder stands where the archive should be
        std::string event;
    } cases[] = {
        {"object beyond the end", damaged, isDamaged},
        {"not HOG2", "HOGX" + good.substr(4), isDamaged},
        {"a folder", "", "Server 2092: Cannot open mission archive '" + path + "'; no custom objects extracted."},
    };
    for (const Case& c : cases) {
        const size_t before = Events().size();
        std::filesystem::remove_all(path);
        if (c.bytes.empty()) {
            std::filesystem::create_directory(path);
        } else {
            ASSERT_TRUE(fs::WriteWholeFile(path, c.bytes));
        }
        EXPECT_LT(ExtractMissionObjects(events, 2092, "m.mn3", game), 0) << c.what;
        const std::vector<std::string> after = Events();
        ASSERT_EQ(after.size(), before + 1) << c.what;
        EXPECT_EQ(after.back(), c.event) << c.what;
    }
}

// Bytes this process has read through read() so far, as the kernel counts them.
uint64_t BytesReadByThisProcess() {
    std::string io;
    if (!fs::ReadWholeFile("/proc/self/io", io)) return 0;
    const size_t at = io.find("rchar: ");
    return at == std::string::npos ? 0 : std::stoull(io.substr(at + 7));
}

// A 1.5 GB archive (sparse: it takes no disk space) with its description and object behind the big
// entry: listing and extraction read the directory and seek to the two entries, never the whole file.
TEST_F(GameFolderTest, LargeArchiveIsReadByItsDirectory) {
    if (BytesReadByThisProcess() == 0) GTEST_SKIP() << "/proc/self/io cannot be read here";
    constexpr uint32_t kBig = 1536u << 20;
    const std::string path = game + "/missions/big.mn3";
    const std::pair<std::string, uint32_t> entries[] = {
        {"big.d3l", kBig}, {"big.msn", static_cast<uint32_t>(strlen(kDescription))}, {"x.oof", 5}, {"pad", 0}};
    std::string head = "HOG2" + Le32(4) + Le32(68 + 48 * 4) + std::string(56, '\0');
    for (const auto& [name, length] : entries) {
        std::string field = name;
        field.resize(40, '\0');
        head += field + Le32(length) + Le32(0);
    }
    ASSERT_TRUE(fs::WriteWholeFile(path, head));
    std::filesystem::resize_file(path, head.size() + kBig);
    ASSERT_TRUE(fs::AppendToFile(path, std::string(kDescription) + "x-obj"));

    const uint64_t before = BytesReadByThisProcess();
    CMissionList list;
    CMissionInfo mission;
    mission.fileName = "big.mn3";
    ReadMissionArchive(list, game + "/missions", mission);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].levels.size(), 1u);
    EXPECT_EQ(ExtractMissionObjects(events, 2092, "big.mn3", game), 1);
    EXPECT_EQ(Read("x.oof"), "x-obj");
    EXPECT_LT(BytesReadByThisProcess() - before, 4u << 20);
}

TEST_F(GameFolderTest, HostingTheSecondArchiveOfTheGamesMissionExtractsNothing) {
    Mission("k3_2.mn3", {{"k3.msn", kDescription}, {"k.oof", "k"}, {"pad", ""}});
    EXPECT_EQ(ExtractMissionObjects(events, 2092, "k3_2.mn3", game), 0);
    EXPECT_FALSE(Exists("k.oof"));
    EXPECT_TRUE(Events().empty());

    EXPECT_TRUE(PrepareMissionDescriptionFile(events, 2092, game, "k3_2.mn3", true, "NAME loop\r\n"));
    EXPECT_EQ(Read("K3.msn"), "NAME loop\r\n");
}

TEST_F(GameFolderTest, DescriptionFileAtLaunch) {
    struct Case {
        const char* what;
        const char* existing;  // nullptr: no file before the launch
        bool readOnly;
        bool custom;
        const char* text;
        const char* after;  // nullptr: no file after the launch
        std::string event;
    } cases[] = {
        {"custom text written", nullptr, false, true, "LOOP", "LOOP", "Server 2092: Writing msn file..."},
        {"custom text replaces", "OLD", false, true, "LOOP", "LOOP", "Server 2092: Writing msn file..."},
        {"leftover removed", "OLD", false, false, "LOOP", nullptr, "Server 2092: File '" + game + "/m.msn' removed."},
        {"empty text removes", "OLD", false, true, "", nullptr, "Server 2092: File '" + game + "/m.msn' removed."},
        {"read-only kept", "OLD", true, false, "", "OLD", "Server 2092: Read-only file '" + game + "/m.msn' ignored."},
        {"read-only never overwritten", "OLD", true, true, "LOOP", "OLD",
         "Server 2092: Read-only file '" + game + "/m.msn' ignored."},
        {"nothing to do", nullptr, false, false, "", nullptr, ""},
    };
    for (const Case& c : cases) {
        const std::string path = game + "/m.msn";
        if (c.existing) {
            ASSERT_TRUE(fs::WriteWholeFile(path, c.existing));
            ASSERT_TRUE(fs::SetReadOnly(path, c.readOnly));
        }
        const size_t before = events.Count();
        PrepareMissionDescriptionFile(events, 2092, game, "m.mn3", c.custom, c.text);
        EXPECT_EQ(Read("m.msn"), c.after ? c.after : "<none>") << c.what;
        const std::vector<std::string> lines = Events();
        EXPECT_EQ(lines.size() > before ? lines.back() : "", c.event) << c.what;
        fs::SetReadOnly(path, false);
        fs::DeleteFile(path);
    }
}

TEST_F(GameFolderTest, DescriptionFileThatIsAFifoIsNeverOpened) {
    ASSERT_EQ(std::system(("mkfifo '" + game + "/m.msn'").c_str()), 0);
    EXPECT_FALSE(PrepareMissionDescriptionFile(events, 2092, game, "m.mn3", true, "LOOP"));
    EXPECT_EQ(Events(), (std::vector<std::string>{
                            "Server 2092: Writing msn file...",
                            "Server 2092: '" + game + "/m.msn' is not a regular file; msn file not written.",
                        }));
}

TEST_F(GameFolderTest, DescriptionFileAtStopRemovesOnlyWhatALoopingLaunchWrote) {
    const std::string path = game + "/m.msn";
    ASSERT_TRUE(fs::WriteWholeFile(path, "LOOP"));
    RemoveMissionDescriptionFile(events, 2092, game, "m.mn3", false, "LOOP");  // not a looping server
    EXPECT_TRUE(Exists("m.msn"));
    ASSERT_TRUE(fs::SetReadOnly(path, true));
    RemoveMissionDescriptionFile(events, 2092, game, "m.mn3", true, "LOOP");
    EXPECT_TRUE(Exists("m.msn"));
    EXPECT_EQ(Events(), std::vector<std::string>{"Server 2092: Read-only file '" + game + "/m.msn' ignored."});
    ASSERT_TRUE(fs::SetReadOnly(path, false));
    RemoveMissionDescriptionFile(events, 2092, game, "m.mn3", true, "LOOP");
    EXPECT_FALSE(Exists("m.msn"));
    EXPECT_EQ(events.Count(), 1u);
}

TEST_F(GameFolderTest, MissionWithoutMn3NameNeverTouchesTheArchive) {
    ASSERT_TRUE(fs::WriteWholeFile(game + "/Haven.MN3", "archive"));
    ASSERT_TRUE(fs::WriteWholeFile(game + "/haven", "archive"));
    for (const char* mission : {"Haven.MN3", "haven"}) {
        EXPECT_TRUE(PrepareMissionDescriptionFile(events, 2092, game, mission, true, "LOOP"));
        EXPECT_TRUE(PrepareMissionDescriptionFile(events, 2092, game, mission, false, ""));
        RemoveMissionDescriptionFile(events, 2092, game, mission, true, "LOOP");
    }
    EXPECT_EQ(Read("Haven.MN3"), "archive");
    EXPECT_EQ(Read("haven"), "archive");
    EXPECT_EQ(events.Count(), 0u);
}

}  // namespace
}  // namespace hm
