// Reading the game's three files into a configuration: every clamp of the main file, the peer mode
// order, disallowed powerups, the first-line and comment rules, the line buffer, the start level
// limit, and the blank/TAB reader of the multi settings and autoexec files with its report.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "servers/game_config_files.h"
#include "servers/game_config_text.h"

namespace hm {
namespace {

// A small installation: two missions (one with an unknown level count), two scripts, three
// connection types.
class FakeInstalled : public InstalledNames {
public:
    bool FindMission(const std::string& fileName, std::string& listed, std::string& title,
                     int32_t& levels) const override {
        if (fs::EqualsIgnoreCase(fileName, "anarchy.mn3")) {
            listed = "anarchy.mn3", title = "Anarchy Arena", levels = 3;
            return true;
        }
        if (fs::EqualsIgnoreCase(fileName, "broken.mn3")) {
            listed = "broken.mn3", title = "Broken", levels = -1;
            return true;
        }
        return false;
    }
    bool FindScript(const std::string& name, std::string& listed) const override {
        return Find({"Anarchy", "CTF"}, name, listed);
    }
    bool FindConnection(const std::string& name, std::string& listed) const override {
        return Find({"Direct TCP~IP", "Meridian Online", "LAN"}, name, listed);
    }
    bool FindExecutable(const std::string& name, std::string& listed) const override {
        return Find({"main.exe"}, name, listed);
    }

private:
    static bool Find(const std::vector<std::string>& list, const std::string& name, std::string& listed) {
        for (const std::string& entry : list) {
            if (fs::EqualsIgnoreCase(entry, name)) {
                listed = entry;
                return true;
            }
        }
        return false;
    }
};

class GameConfigImportTest : public ::testing::Test {
protected:
    GameConfigImportTest() {
        std::random_device random;
        root = (std::filesystem::temp_directory_path() / ("hm_cfgimport_" + std::to_string(random()))).string();
        std::filesystem::create_directories(root);
        inform = [this](const std::string& text) { messages.push_back(text); };
    }
    ~GameConfigImportTest() override { std::filesystem::remove_all(root); }

    std::string Put(const std::string& name, const std::string& text) {
        const std::string path = root + "/" + name;
        EXPECT_TRUE(fs::WriteWholeFile(path, text));
        return path;
    }
    // Imports a main file made of the header and the given lines.
    bool ImportMain(CGameSettings& game, const std::string& body) {
        return ImportServerConfigFile(game, installed, Put("main.cfg", "[server config file]\r\n" + body), inform);
    }

    std::string root;
    FakeInstalled installed;
    std::vector<std::string> messages;
    InformationBox inform;
};

TEST(GameConfigTextTest, NumbersParseLikeTheGame) {
    const std::pair<const char*, int32_t> cases[] = {
        {"42", 42}, {"  \t17abc", 17}, {"+8", 8}, {"-5", -5}, {"x1", 0}, {"", 0},
        {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(ParseNumber(text), expected) << text;
}

TEST(GameConfigTextTest, LinesArriveAsALineBufferReadsThem) {
    struct Case {
        std::string text;
        size_t buffer;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a\r\nb\nc", 1024, {"a\n", "b\n", "c"}},
        {"abcdefg\n", 4, {"abc", "def", "g\n"}},
        {"abc\n", 4, {"abc", "\n"}},  // exactly full: the line end comes as an empty line
        {"lone\rcr\n", 1024, {"lone\rcr\n"}},
        {"", 1024, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitBufferedLines(c.text, c.buffer), c.lines) << c.text;
}

TEST_F(GameConfigImportTest, NumericKeysAreClampedAsTheGameAllows) {
    using Field = std::function<uint32_t(const CGameSettings&)>;
    struct Case {
        const char* key;
        const char* value;
        Field field;
        uint32_t expected;
    };
    const Field pps = [](const CGameSettings& g) { return g.packetsPerSecond; };
    const Case cases[] = {
        {"PPS", "2", pps, 4},
        {"PPS", "150", pps, 99},
        {"pps", "20", pps, 20},
        {"PPS", "-1", pps, 99},  // a negative number is a huge unsigned one
        {"SetDifficulty", "7", [](const CGameSettings& g) { return g.difficulty; }, 4},
        {"SetDifficulty", "3", [](const CGameSettings& g) { return g.difficulty; }, 3},
        {"GameSpyPort", "80", [](const CGameSettings& g) { return uint32_t{g.gameSpyPort}; }, 1024},
        {"GameSpyPort", "70000", [](const CGameSettings& g) { return uint32_t{g.gameSpyPort}; }, 4464},
        {"RemoteConsolePort", "80", [](const CGameSettings& g) { return uint32_t{g.remoteConsolePort}; }, 1024},
        {"RemoteConsolePort", "2500", [](const CGameSettings& g) { return uint32_t{g.remoteConsolePort}; }, 2500},
        {"RespawnTime", "20", [](const CGameSettings& g) { return g.minRespawnTime; }, 20},
        {"RespawnTime", "20", [](const CGameSettings& g) { return g.maxRespawnTime; }, 20},
        {"MaxPlayers", "12 players", [](const CGameSettings& g) { return g.maxPlayers; }, 12},
        {"TimeLimit", "none", [](const CGameSettings& g) { return g.timeLimit; }, 0},
        {"SetLevel", "9", [](const CGameSettings& g) { return g.startLevel; }, 9},
        {"NUMTEAMS", "0", [](const CGameSettings& g) { return g.numTeams; }, 0},
        {"AllowAudioTaunts", "0", [](const CGameSettings& g) { return g.allowAudioTaunts; }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        CGameSettings game;
        EXPECT_TRUE(ApplyServerConfigKey(game, installed, c.key, c.value, inform));
        EXPECT_EQ(c.field(game), c.expected);
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(GameConfigImportTest, NamesAreTakenAsTheInstallationListsThem) {
    CGameSettings game;
    EXPECT_TRUE(ApplyServerConfigKey(game, installed, "MissionName", "ANARCHY.MN3", inform));
    EXPECT_EQ(game.missionFileName, "anarchy.mn3");
    EXPECT_EQ(game.missionTitle, "Anarchy Arena");
    EXPECT_TRUE(ApplyServerConfigKey(game, installed, "scriptname", "ctf", inform));
    EXPECT_EQ(game.scriptName, "CTF");
    EXPECT_TRUE(ApplyServerConfigKey(game, installed, "ConnectionName", "meridian online", inform));
    EXPECT_EQ(game.connectionName, "Meridian Online");
    EXPECT_EQ(game.connectionKind, 1);
    EXPECT_TRUE(messages.empty());

    // Names that are not installed leave the fields as they were and tell the operator.
    EXPECT_FALSE(ApplyServerConfigKey(game, installed, "MissionName", "gone.mn3", inform));
    EXPECT_FALSE(ApplyServerConfigKey(game, installed, "ScriptName", "Hoard", inform));
    EXPECT_FALSE(ApplyServerConfigKey(game, installed, "ConnectionName", "IPX", inform));
    EXPECT_EQ(game.missionFileName, "anarchy.mn3");
    EXPECT_EQ(game.scriptName, "CTF");
    EXPECT_EQ(game.connectionName, "Meridian Online");
    EXPECT_EQ(messages, (std::vector<std::string>{"Mission gone.mn3 is not installed!", "Script Hoard is not installed!",
                                                  "Connection type IPX is not installed!"}));

    // The multi settings file is taken only when it exists; an unknown key is not recognised.
    EXPECT_FALSE(ApplyServerConfigKey(game, installed, "MultiSettingsFile", root + "/none.mps", inform));
    EXPECT_EQ(game.multiSettingsFile, "");
    const std::string mps = Put("x.mps", "");
    EXPECT_TRUE(ApplyServerConfigKey(game, installed, "MultiSettingsFile", mps, inform));
    EXPECT_EQ(game.multiSettingsFile, mps);
    EXPECT_FALSE(ApplyServerConfigKey(game, installed, "FrobnicateLevel", "1", inform));
}

TEST_F(GameConfigImportTest, PeerModeTakesTheLastNonZeroLine) {
    struct Case {
        const char* lines;
        int32_t mode;
    };
    const Case cases[] = {
        {"Peer2Peer=1\nPermissable=0\n", kPeerToPeer},
        {"Permissable=1\n", kPermissible},
        {"Permissable=1\nPeer2Peer=1\n", kPeerToPeer},
        {"Peer2Peer=1\nPermissable=1\n", kPermissible},
        {"Permissable=0\nPeer2Peer=0\n", kClientServer},
    };
    for (const Case& c : cases) {
        CGameSettings game;
        ASSERT_TRUE(ImportMain(game, c.lines));
        EXPECT_EQ(game.peerMode, c.mode) << c.lines;
    }
}

TEST_F(GameConfigImportTest, DisallowPowerupMovesTheFirstAllowedMatchAsWritten) {
    CGameSettings game;
    const auto before = game.powerups;
    EXPECT_TRUE(ApplyServerConfigKey(game, installed, "DisallowPowerup", "omegacannon", inform));
    EXPECT_TRUE(ApplyServerConfigKey(game, installed, "DisallowPowerup", "NoSuchThing", inform));
    EXPECT_EQ(game.powerups, before);

    EXPECT_TRUE(ApplyServerConfigKey(game, installed, "disallowpowerup", "vauss", inform));
    EXPECT_TRUE(ApplyServerConfigKey(game, installed, "DisallowPowerup", "VIRUS SAMPLE", inform));
    const auto& primary = game.powerups[kPrimaryWeapons];
    EXPECT_EQ(std::count(primary.allowed.begin(), primary.allowed.end(), "Vauss"), 0);
    EXPECT_EQ(primary.disallowed, (std::vector<std::string>{"Omegacannon", "vauss"}));
    EXPECT_EQ(game.powerups[kOthers].disallowed, (std::vector<std::string>{"VIRUS SAMPLE"}));
    EXPECT_EQ(game.powerups[kOthers].allowed.size(), 57u);
    // "Vauss clip" of the powerups is a different name and stays allowed.
    EXPECT_EQ(game.powerups[kPowerups].allowed, before[kPowerups].allowed);
    EXPECT_NE(ServerConfigFileText(game, 0).find("DisallowPowerup=Omegacannon\r\nDisallowPowerup=vauss\r\n"),
              std::string::npos);
}

TEST_F(GameConfigImportTest, FirstLineDecidesWhetherAnythingIsImported) {
    struct Case {
        const char* text;
        bool result;
        uint32_t pps;
    };
    const Case cases[] = {
        {"[SERVER CONFIG FILE]   \r\nPPS=20\r\n", true, 20},
        {"[server config file]\nPPS=21", true, 21},
        {"[server config]\r\nPPS=20\r\n", true, 9},
        {"\r\n[server config file]\r\nPPS=20\r\n", true, 9},
        {"  [server config file]\r\nPPS=20\r\n", true, 9},
        {"", false, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        messages.clear();
        CGameSettings game;
        game.customDescription = 1;
        game.selective = 1;
        const std::string path = Put("first.cfg", c.text);
        EXPECT_EQ(ImportServerConfigFile(game, installed, path, inform), c.result);
        EXPECT_EQ(game.packetsPerSecond, c.pps);
        EXPECT_EQ(game.customDescription, 0u);
        EXPECT_EQ(game.selective, 0u);
        if (c.result) {
            EXPECT_TRUE(messages.empty());
        } else {
            EXPECT_EQ(messages, std::vector<std::string>{path + " is no valid configuration file!"});
        }
    }
}

TEST_F(GameConfigImportTest, UnreadableMainFileIsReportedAndChangesNothing) {
    CGameSettings game;
    game.selective = 1;
    const std::string path = root + "/absent.cfg";
    EXPECT_FALSE(ImportServerConfigFile(game, installed, path, inform));
    EXPECT_EQ(game.selective, 1u);
    EXPECT_EQ(messages, std::vector<std::string>{"Cannot open " + path + " for reading!"});
}

TEST_F(GameConfigImportTest, CommentsLinesWithoutEqualsAndBlanksAroundKeys) {
    CGameSettings game;
    ASSERT_TRUE(ImportMain(game,
                           "   ; PPS=30\r\n"
                           "PPS 40\r\n"
                           "\tTimeLimit  =  25  \r\n"
                           "GameName = My = Server \r\n"
                           "MissionName=gone.mn3\r\n"  // reported, and the import goes on
                           "KillGoal=7\r\n"
                           "Unknown=1\r\n"));
    EXPECT_EQ(game.packetsPerSecond, 9u);
    EXPECT_EQ(game.timeLimit, 25u);
    EXPECT_EQ(game.gameName, "My = Server");
    EXPECT_EQ(game.killGoal, 7u);
    EXPECT_EQ(messages, std::vector<std::string>{"Mission gone.mn3 is not installed!"});
}

TEST_F(GameConfigImportTest, StartLevelIsLimitedToTheMissionsLevels) {
    struct Case {
        const char* body;
        uint32_t level;
    };
    const Case cases[] = {
        {"SetLevel=5\r\nMissionName=anarchy.mn3\r\n", 3},
        {"MissionName=anarchy.mn3\r\nSetLevel=2\r\n", 2},
        {"SetLevel=5\r\n", 5},                             // no mission: no limit
        {"MissionName=broken.mn3\r\nSetLevel=5\r\n", 5},  // unknown level count: no limit, never 0
    };
    for (const Case& c : cases) {
        CGameSettings game;
        ASSERT_TRUE(ImportMain(game, c.body));
        EXPECT_EQ(game.startLevel, c.level) << c.body;
    }
}

TEST_F(GameConfigImportTest, ALongLineArrivesInPiecesWithoutOverflow) {
    CGameSettings game;
    // 9 + 1014 characters fill the buffer; what follows arrives as a line of its own.
    const std::string name(1014, 'n');
    ASSERT_TRUE(ImportMain(game, "GameName=" + name + "PPS=7\r\nKillGoal=3\r\n"));
    EXPECT_EQ(game.gameName, name);
    EXPECT_EQ(game.packetsPerSecond, 7u);
    EXPECT_EQ(game.killGoal, 3u);
}

TEST_F(GameConfigImportTest, AutoexecCommands) {
    struct Case {
        const char* body;
        std::function<bool(const CAutoexecSettings&)> check;
    };
    const Case cases[] = {
        {"MinCount 0\n", [](const CAutoexecSettings& a) { return a.minCount == 1 && a.maxCount == 12; }},
        {"MinCount 5\nMaxCount 2\n", [](const CAutoexecSettings& a) { return a.minCount == 5 && a.maxCount == 5; }},
        {"MaxCount 20\n", [](const CAutoexecSettings& a) { return a.maxCount == 12; }},
        {"maxcount\t7\n", [](const CAutoexecSettings& a) { return a.maxCount == 7; }},
        {"AllowTeamChange ON\nAutoBalance yes\nAutoSaveLevel on\n",
         [](const CAutoexecSettings& a) { return a.allowTeamChange == 1 && a.autoBalance == 0 && a.autoSaveLevel == 1; }},
        {"ServerHudNames full\nKillMsgFilter SIMPLE\n",
         [](const CAutoexecSettings& a) { return a.serverHudNames == "full" && a.killMsgFilter == "SIMPLE"; }},
        {"ServerHudNames Simple\nKillMsgFilter Team\n",
         [](const CAutoexecSettings& a) { return a.serverHudNames == "Team" && a.killMsgFilter == "None"; }},
        {"SetTeamName 1   Red Team\n", [](const CAutoexecSettings& a) { return a.teamNames[1] == "Red Team"; }},
        {"SetTeamName\t2\tBlue\n", [](const CAutoexecSettings& a) { return a.teamNames[2] == "Blue"; }},
        {"SetTeamName 4 Green\nSetTeamName Gold\nSetTeamName Red Team\n",
         [](const CAutoexecSettings& a) { return a.teamNames == std::array<std::string, 4>{}; }},
        {"AllowTeamChange\nAutoBalance off\n",  // a command without value is no line at all
         [](const CAutoexecSettings& a) { return a.allowTeamChange == 1 && a.autoBalance == 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        messages.clear();
        CAutoexecSettings autoexec;
        ASSERT_TRUE(ImportAutoexecFile(autoexec, Put("a.dmfc", c.body), inform));
        EXPECT_TRUE(c.check(autoexec));
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(GameConfigImportTest, UnsupportedCommandsAreReportedTogether) {
    CAutoexecSettings autoexec;
    const std::string path = Put("b.dmfc",
                                 "FooBar 1\r\n"
                                 "ServerHudNames Weird\r\n"
                                 "  SetTeamName 0 Gold\r\n"
                                 "Baz Qux\tvalue\r\n");
    ASSERT_TRUE(ImportAutoexecFile(autoexec, path, inform));
    EXPECT_EQ(autoexec.teamNames[0], "Gold");
    EXPECT_EQ(messages, std::vector<std::string>{"The following commands in " + path +
                                                 "\nare not supported:\n- FooBar\n- Baz Qux"});
}

TEST_F(GameConfigImportTest, ShipBanMovesAllowedShipsAndReportsTheRest) {
    CShipOptions ships;
    const std::string path = Put("c.mps",
                                 "name\tAny Game\r\n"
                                 "ShipBan\tphoenix\r\n"
                                 "ShipBan Black Ember\r\n"
                                 "ShipBan\tPhoenix\r\n"
                                 "ShipBan\tBLACK EMBER\r\n");
    ASSERT_TRUE(ImportMultiSettingsFile(ships, path, inform));
    EXPECT_EQ(ships.allowedShips, (std::vector<std::string>{"Ember-GL", "Magnum-AHT"}));
    EXPECT_EQ(ships.disallowedShips, (std::vector<std::string>{"phoenix", "Black Ember"}));
    EXPECT_EQ(messages, std::vector<std::string>{"The following commands in " + path +
                                                 "\nare not supported:\n- ShipBan\n- ShipBan"});
}

TEST_F(GameConfigImportTest, EmptyPathsImportNothingAndMissingFilesFail) {
    CShipOptions ships;
    CAutoexecSettings autoexec;
    autoexec.minCount = 9;
    autoexec.maxCount = 2;  // left alone: no file was applied
    EXPECT_TRUE(ImportMultiSettingsFile(ships, "", inform));
    EXPECT_TRUE(ImportAutoexecFile(autoexec, "", inform));
    EXPECT_EQ(ships.allowedShips.size(), 4u);
    EXPECT_EQ(autoexec.maxCount, 2u);
    EXPECT_TRUE(messages.empty());

    EXPECT_FALSE(ImportMultiSettingsFile(ships, root + "/none.mps", inform));
    EXPECT_FALSE(ImportAutoexecFile(autoexec, root, inform));  // a folder cannot be read either
    EXPECT_EQ(messages, (std::vector<std::string>{"Cannot open " + root + "/none.mps for reading!",
                                                  "Cannot open " + root + " for reading!"}));
}

}  // namespace
}  // namespace hm
