// The game installation: what the registry gives (folder, language value and its restore, version),
// choosing the folder, the four lists kept in step with the game folder (titles, the game's second
// mission archive, touched and renamed archives, title order), the check and its messages, and the
// cache file's store and load around them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "game/game_installation.h"
#include "launch/mission_description.h"
#include "platform/files.h"

namespace hm {
namespace {

class StepRecorder : public ProgressSteps {
public:
    void Setup(const std::string&, int) override {}
    void Step(const std::string& text) override { steps.push_back(text); }
    std::vector<std::string> steps;
};

class InstallationTest : public ::testing::Test {
protected:
    InstallationTest() {
        std::random_device random;
        root = (std::filesystem::temp_directory_path() / ("hm_game_" + std::to_string(random()))).string();
        game = root + "/Kelvane 3";
        config = root + "/cfg";
        for (const char* sub : {"/missions", "/netgames", "/online"}) std::filesystem::create_directories(game + sub);
        std::filesystem::create_directories(config);
        registry = std::make_unique<Registry>(root + "/registry.reg");
    }
    ~InstallationTest() override { std::filesystem::remove_all(root); }

    void Put(const std::string& relative, const std::string& text = "x") {
        ASSERT_TRUE(fs::WriteWholeFile(game + "/" + relative, text));
    }
    void Mission(const std::string& name, const std::string& title) {
        Put("missions/" + name, "NAME " + title + "\nNUMLEVELS 1\nLEVEL 1\n");
    }
    void CompleteGame() {
        Put("Kelvane 3.exe");
        Put("main.exe");
        Mission("haven.mn3", "haven");
        Put("netgames/anarchy.k3m");
        Put("online/Direct TCP~IP.k3c");
        registry->Write(kGameKey, "BaseDirectory", RegValue::String(game));
    }
    // Stands for the archive reader: the test's ".mn3" files hold the description text itself.
    MissionArchiveReader Reader() {
        return [this](CMissionList& list, const std::string& folder, CMissionInfo mission) {
            ++reads;
            std::string text;
            if (!fs::ReadWholeFile(folder + "/" + mission.fileName, text)) return;
            ParseMissionDescription(mission, text);
            if (IsUsableMission(mission)) list.push_back(std::move(mission));
        };
    }
    std::unique_ptr<CGameInstallation> Make() { return std::make_unique<CGameInstallation>(*registry, Reader()); }
    RegValue Value(const std::string& key, const std::string& name) {
        RegValue v;
        v.text = "<absent>";
        registry->Read(key, name, v);
        return v;
    }
    template <class List>
    static std::vector<std::string> Titles(const List& list) {
        std::vector<std::string> titles;
        for (const auto& entry : list) titles.push_back(entry.title);
        return titles;
    }

    std::string root, game, config;
    std::unique_ptr<Registry> registry;
    int reads = 0;
};

TEST_F(InstallationTest, LanguageTypeIsZeroWhileRunningAndRestoredAfter) {
    struct Case {
        const char* what;
        bool keyExists;
        bool present;
        uint32_t atStart;
        int64_t seen;
        const char* afterEnd;  // "<absent>" or the dword as text
    } cases[] = {
        {"2 is restored", true, true, 2, 2, "2"},
        {"missing stays 0", true, false, 0, -1, "0"},
        {"0 stays 0", true, true, 0, 0, "0"},
        {"no game key: untouched", false, false, 0, -1, "<absent>"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(registry->Path());
        if (c.keyExists) registry->Write(kGameKey, "Other", RegValue::String("v"));
        if (c.present) registry->Write(kGameKey, "LanguageType", RegValue::Dword(c.atStart));
        {
            auto installation = Make();
            EXPECT_EQ(installation->LanguageType(), c.seen) << c.what;
            if (c.keyExists) {
                EXPECT_EQ(Value(kGameKey, "LanguageType").dword, 0u) << c.what;
            }
        }
        const RegValue after = Value(kGameKey, "LanguageType");
        EXPECT_EQ(after.type == RegType::Dword ? std::to_string(after.dword) : after.text, c.afterEnd) << c.what;
    }
}

TEST_F(InstallationTest, VersionFromTheVersionKey) {
    struct Case {
        const char* what;
        int major, minor, build;  // -1: value missing
        uint32_t version;
        const char* text;
    } cases[] = {
        {"complete", 1, 5, 7, 0x10005, "1.5.7"},
        {"no build", 1, 4, -1, 0x10004, "1.4.0"},
        {"no minor", 1, -1, 7, 0, "unknown"},
        {"no major", -1, 5, 7, 0, "unknown"},
        {"no key", -1, -1, -1, 0, "unknown"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(registry->Path());
        const int values[] = {c.major, c.minor, c.build};
        const char* names[] = {"Major", "Minor", "Build"};
        for (int i = 0; i < 3; ++i) {
            if (values[i] >= 0) registry->Write(kGameVersionKey, names[i], RegValue::Dword(values[i]));
        }
        auto installation = Make();
        EXPECT_EQ(installation->Version(), c.version) << c.what;
        EXPECT_EQ(installation->VersionText(), c.text) << c.what;
    }
}

TEST_F(InstallationTest, GameFolderCountsOnlyWithTheLauncher) {
    Put("KELVANE 3.EXE");  // found as Windows finds it, whatever the case
    std::filesystem::create_directories(root + "/empty");
    struct Case {
        const char* what;
        RegValue base;
        std::string folder;
    } cases[] = {
        {"valid", RegValue::String(game), game},
        {"trailing separator", RegValue::String(game + "/"), game},
        {"without the launcher", RegValue::String(root + "/empty"), ""},
        {"not a text", RegValue::Dword(1), ""},
        {"too long", RegValue::String(game + "/" + std::string(260, 'a') + "/.."), ""},
    };
    for (const Case& c : cases) {
        registry->Write(kGameKey, "BaseDirectory", c.base);
        EXPECT_EQ(Make()->GameFolder(), c.folder) << c.what;
    }
}

TEST_F(InstallationTest, SelectGameFolderAsksOnlyWhenNeeded) {
    Put("Kelvane 3.exe");
    std::vector<std::string> asked, told;
    std::string answer;
    GameFilePicker pick = [&](const std::string& preset, const std::string& filter, std::string& chosen) {
        asked.push_back(preset + " / " + filter);
        chosen = answer;
        return !answer.empty();
    };
    InformationBox inform = [&](const std::string& text) { told.push_back(text); };

    auto installation = Make();  // no BaseDirectory yet
    EXPECT_FALSE(installation->Initialize(pick, inform));  // cancel
    EXPECT_EQ(asked, std::vector<std::string>{"Kelvane 3.exe / Kelvane 3.exe|Kelvane 3.exe||"});

    answer = game + "/Kelvane 3.exe";
    EXPECT_TRUE(installation->Initialize(pick, inform));
    EXPECT_EQ(installation->GameFolder(), game);
    EXPECT_EQ(Value(kGameKey, "BaseDirectory").text, game);
    EXPECT_TRUE(installation->Initialize(pick, inform));  // valid now: not asked again
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_TRUE(told.empty());

    std::filesystem::create_directories(root + "/other");
    ASSERT_TRUE(fs::WriteWholeFile(root + "/other/Kelvane 3.exe", "x"));
    answer = root + "/other/Kelvane 3.exe";
    EXPECT_TRUE(installation->SelectGameFolder(true, pick, inform));
    EXPECT_EQ(installation->GameFolder(), game);  // takes effect at the next start
    EXPECT_EQ(Value(kGameKey, "BaseDirectory").text, root + "/other");
    EXPECT_EQ(told, std::vector<std::string>{"Program must be restarted to take effect!"});

    answer = root + "/other/absent.exe";  // a picker that returns what does not exist
    EXPECT_FALSE(installation->SelectGameFolder(true, pick, inform));
}

TEST_F(InstallationTest, RefreshBuildsTheFourListsInTitleOrder) {
    CompleteGame();
    Put("ember.exe");
    Put("Ember15.exe");
    Put("other.exe");
    Mission("zulu.mn3", "alpha");
    Mission("k3.mn3", "Kelvane 3");
    Mission("k3_2.mn3", "Kelvane 3 part two");
    Mission("K3_2.MN3", "Kelvane 3 part two again");
    Mission("broken.mn3", "broken\nLEVEL 9");
    Put("missions/readme.txt");
    Put("netgames/ctf.k3m");
    Put("netgames/hosts.deny", "");
    Put("online/Meridian Online.k3c");
    std::filesystem::create_directories(game + "/online/folder.k3c");

    auto installation = Make();
    installation->RefreshInstallation();
    EXPECT_EQ(Titles(installation->Executables()), (std::vector<std::string>{"Cinderfall", "Ember15", "Kelvane 3"}));
    EXPECT_EQ(Titles(installation->Missions()), (std::vector<std::string>{"Alpha", "Haven", "Kelvane 3"}));
    EXPECT_EQ(Titles(installation->Scripts()), (std::vector<std::string>{"Anarchy", "CTF"}));
    EXPECT_EQ(Titles(installation->Connections()), (std::vector<std::string>{"Direct TCP~IP", "Meridian Online"}));

    ASSERT_NE(installation->FindMission("ZULU.mn3"), nullptr);
    EXPECT_EQ(installation->FindMission("ZULU.mn3")->title, "Alpha");
    EXPECT_EQ(installation->FindMission("k3_2.mn3"), nullptr);
    EXPECT_NE(installation->FindScript("ctf"), nullptr);
    EXPECT_EQ(installation->FindScript("ctf.k3m"), nullptr);  // scripts go by title
    EXPECT_NE(installation->FindConnection("meridian online"), nullptr);
    EXPECT_NE(installation->FindExecutable("MAIN.EXE"), nullptr);
}

TEST_F(InstallationTest, OnlyNewOrChangedArchivesAreReadAgain) {
    CompleteGame();
    Mission("b.mn3", "bravo");
    auto installation = Make();
    installation->RefreshInstallation();
    EXPECT_EQ(reads, 2);
    installation->RefreshInstallation();
    EXPECT_EQ(reads, 2);  // nothing changed

    // Touched within the same second as before: a new time all the same.
    const std::string path = game + "/missions/b.mn3";
    Mission("b.mn3", "bravissimo");
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::milliseconds(1));
    installation->RefreshInstallation();
    EXPECT_EQ(reads, 3);
    EXPECT_EQ(Titles(installation->Missions()), (std::vector<std::string>{"Bravissimo", "Haven"}));

    std::filesystem::rename(path, game + "/missions/c.mn3");
    installation->RefreshInstallation();
    EXPECT_EQ(reads, 4);
    EXPECT_EQ(installation->FindMission("b.mn3"), nullptr);
    EXPECT_NE(installation->FindMission("c.mn3"), nullptr);
    EXPECT_EQ(installation->Missions().size(), 2u);
}

TEST_F(InstallationTest, MissionEntriesThatAreNoFilesAreSkippedAndReportedOnce) {
    CompleteGame();
    const std::string missions = game + "/missions/";
    ASSERT_EQ(std::system(("mkfifo '" + missions + "fifo.mn3'").c_str()), 0);
    std::filesystem::create_directory(missions + "folder.mn3");
    std::filesystem::create_symlink("/dev/zero", missions + "zero.mn3");
    auto installation = Make();
    std::vector<std::string> lines;
    installation->SetEventReporter([&](const std::string& text) { lines.push_back(text); });
    installation->RefreshInstallation();
    installation->RefreshInstallation();
    EXPECT_EQ(reads, 1);  // only haven.mn3 was handed to the reader
    EXPECT_EQ(Titles(installation->Missions()), std::vector<std::string>{"Haven"});
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Error: Mission file '" + missions + "fifo.mn3' skipped: not a regular file.",
                         "Error: Mission file '" + missions + "folder.mn3' skipped: a folder, not a file.",
                         "Error: Mission file '" + missions + "zero.mn3' skipped: not a regular file.",
                     }));
}

TEST_F(InstallationTest, CheckNamesWhatIsMissing) {
    struct Case {
        const char* what;
        const char* remove;
        bool result;
        std::vector<std::string> messages;
    } cases[] = {
        {"complete", nullptr, true, {}},
        {"no main.exe only warns", "main.exe", true, {"Kelvane 3's main.exe not found!"}},
        {"no missions", "missions/haven.mn3", false, {"No mission files (*.mn3) found!"}},
        {"no scripts", "netgames/anarchy.k3m", false, {"No netgames files (*.k3m) found!"}},
        {"no connections", "online/Direct TCP~IP.k3c", false, {"No online files (*.k3c) found!"}},
    };
    for (const Case& c : cases) {
        CompleteGame();
        if (c.remove) fs::DeleteFile(game + "/" + c.remove);
        auto installation = Make();
        installation->RefreshInstallation();
        std::vector<std::string> messages;
        EXPECT_EQ(installation->CheckInstallation([&](const std::string& m) { messages.push_back(m); }), c.result)
            << c.what;
        EXPECT_EQ(messages, c.messages) << c.what;
        EXPECT_EQ(installation->CheckInstallation(), c.result) << c.what;  // silent form
    }
}

TEST_F(InstallationTest, CacheRoundTripSkipsReadingUnchangedArchives) {
    CompleteGame();
    StepRecorder stored, loaded;
    {
        auto first = Make();
        first->RefreshInstallation();
        ASSERT_TRUE(first->StoreInstallationInfo(config, &stored));
    }
    EXPECT_EQ(stored.steps, (std::vector<std::string>{"Storing Kelvane executable info...",
                                                      "Storing Kelvane mission info...",
                                                      "Storing Kelvane network info...",
                                                      "Storing Kelvane online info..."}));
    reads = 0;
    auto second = Make();
    EXPECT_EQ(second->LoadInstallationInfo(config, &loaded), StoreLoad::Loaded);
    EXPECT_EQ(loaded.steps.size(), 4u);
    EXPECT_EQ(loaded.steps[0], "Loading Kelvane executable info...");
    EXPECT_EQ(Titles(second->Missions()), std::vector<std::string>{"Haven"});
    second->RefreshInstallation();
    EXPECT_EQ(reads, 0);
    EXPECT_TRUE(second->CheckInstallation());

    std::string bytes;
    ASSERT_TRUE(fs::ReadWholeFile(config + "/KelvaneInfo.dat", bytes));
    EXPECT_EQ(bytes, second->SerializeInfo());
}

TEST_F(InstallationTest, StoreDeletesTheCacheWhenAListIsEmpty) {
    CompleteGame();
    auto installation = Make();
    installation->RefreshInstallation();
    ASSERT_TRUE(installation->StoreInstallationInfo(config, nullptr));
    ASSERT_TRUE(fs::FileExists(config + "/KelvaneInfo.dat"));
    fs::DeleteFile(game + "/online/Direct TCP~IP.k3c");
    installation->RefreshInstallation();
    EXPECT_FALSE(installation->CheckInstallation());
    EXPECT_TRUE(installation->StoreInstallationInfo(config, nullptr));
    EXPECT_FALSE(fs::FileExists(config + "/KelvaneInfo.dat"));
}

TEST_F(InstallationTest, ListsNeverLoadedNorRefreshedDoNotReplaceTheCache) {
    ASSERT_TRUE(fs::WriteWholeFile(config + "/KelvaneInfo.dat", "earlier run"));
    auto installation = Make();  // no game found: the start fails before the load
    EXPECT_FALSE(installation->StoreInstallationInfo(config, nullptr));
    std::string bytes;
    ASSERT_TRUE(fs::ReadWholeFile(config + "/KelvaneInfo.dat", bytes));
    EXPECT_EQ(bytes, "earlier run");
}

TEST_F(InstallationTest, DamagedCacheIsSetAsideAndWhatWasReadIsKept) {
    CompleteGame();
    std::string bytes;
    {
        auto first = Make();
        first->RefreshInstallation();
        bytes = first->SerializeInfo();
    }
    // Cut inside the mission list: the executables were read completely.
    ASSERT_TRUE(fs::WriteWholeFile(config + "/KelvaneInfo.dat", bytes.substr(0, bytes.size() - 30)));
    auto installation = Make();
    EXPECT_EQ(installation->LoadInstallationInfo(config, nullptr), StoreLoad::Damaged);
    EXPECT_EQ(installation->LastDamagedPath(), config + "/KelvaneInfo.dat.damaged");
    EXPECT_TRUE(fs::FileExists(config + "/KelvaneInfo.dat.damaged"));
    EXPECT_EQ(Titles(installation->Executables()), std::vector<std::string>{"Kelvane 3"});
    installation->RefreshInstallation();
    EXPECT_TRUE(installation->StoreInstallationInfo(config, nullptr));
    EXPECT_TRUE(fs::FileExists(config + "/KelvaneInfo.dat"));

    EXPECT_EQ(Make()->LoadInstallationInfo(root + "/nowhere", nullptr), StoreLoad::Absent);
}

TEST(GameFileTitles, DisplayTitleRule) {
    struct Case {
        const char* fileName;
        const char* title;
    } cases[] = {
        {"anarchy.k3m", "Anarchy"}, {"ctf.k3m", "CTF"},  {"ember15.exe", "Ember15"},      {"ab", "AB"},
        {"a.b.c", "A.B"},           {"noext", "Noext"}, {"Direct TCP~IP.k3c", "Direct TCP~IP"}, {"\xe9t\xe9.k3m", "\xc9T\xc9"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(MakeDisplayTitle(c.fileName), c.title) << c.fileName;
}

TEST(GameFileTitles, SortOrdersLongListsIgnoringCase) {
    for (size_t size : {0u, 1u, 2u, 700u, 702u, 703u, 2500u}) {
        std::mt19937 random(static_cast<unsigned>(size));
        CGameFileList list;
        for (size_t i = 0; i < size; ++i) {
            CGameFile file;
            file.title = std::to_string(random() % 100000) + (i % 2 ? "a" : "B") + std::to_string(i);
            list.push_back(file);
        }
        if (size > 3) list[1].title = list[0].title;  // duplicates must survive too
        CGameFileList expected = list;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const CGameFile& a, const CGameFile& b) { return CompareNoCase(a.title, b.title) < 0; });
        SortByTitle(list);
        ASSERT_EQ(list.size(), expected.size());
        for (size_t i = 0; i < list.size(); ++i) {
            ASSERT_TRUE(EqualsNoCase(list[i].title, expected[i].title)) << size << " at " << i;
        }
    }
}

}  // namespace
}  // namespace hm
