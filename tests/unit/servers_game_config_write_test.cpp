// The three files written for the game server, byte for byte: a configuration with the block
// defaults, one with every conditional line the other way, and the connection name rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/files.h"
#include "servers/game_config_files.h"

namespace hm {
namespace {

class GameConfigWriteTest : public ::testing::Test {
protected:
    GameConfigWriteTest() {
        std::random_device random;
        root = (std::filesystem::temp_directory_path() / ("hm_cfgwrite_" + std::to_string(random()))).string();
        std::filesystem::create_directories(root);
    }
    ~GameConfigWriteTest() override { std::filesystem::remove_all(root); }

    std::string Read(const std::string& name) {
        std::string text;
        EXPECT_TRUE(fs::ReadWholeFile(root + "/" + name, text));
        return text;
    }

    std::string root;
};

// The disallowed lists a new configuration starts with, as the main file carries them.
const std::string kDefaultDisallowed =
    "DisallowPowerup=Omegacannon\r\n"
    "DisallowPowerup=Guided\r\n"
    "DisallowPowerup=4packGuided\r\n"
    "DisallowPowerup=Converter\r\n"
    "DisallowPowerup=Rapidfire\r\n"
    "DisallowPowerup=HeadlightPowerup\r\n"
    "DisallowPowerup=Cloak\r\n"
    "DisallowPowerup=Invisiblepowerup\r\n"
    "DisallowPowerup=Invulnerability\r\n"
    "DisallowPowerup=Chaff\r\n"
    "DisallowPowerup=ProxMinePowerup\r\n"
    "DisallowPowerup=Seeker3pack\r\n"
    "DisallowPowerup=Betty4pack\r\n"
    "DisallowPowerup=GunboyPowerup\r\n";

TEST_F(GameConfigWriteTest, DefaultConfigurationWritesTheThreeFilesExactly) {
    CGameSettings game;
    game.gameName = "Haldmoor Anarchy";
    game.missionFileName = "anarchy.mn3";
    game.scriptName = "Anarchy";
    game.connectionName = "Direct TCP~IP";
    game.multiSettingsFile = "/games/k3/custom/cache/2092/Haldmoor.mps";
    const std::string mainPath = root + "/Haldmoor.cfg";
    ASSERT_TRUE(WriteServerConfigFile(game, mainPath, ConnectionKindFromName(game.connectionName)));
    EXPECT_EQ(game.connectionKind, 2);
    EXPECT_EQ(Read("Haldmoor.cfg"),
              "[server config file]\r\n"
              "PPS=9\r\n"
              "TimeLimit=0\r\n"
              "KillGoal=0\r\n"
              "MaxPlayers=5\r\n"
              "MultiSettingsFile=/games/k3/custom/cache/2092/Haldmoor.mps\r\n"
              "GameName=Haldmoor Anarchy\r\n"
              "MissionName=anarchy.mn3\r\n"
              "ScriptName=Anarchy\r\n"
              "ConnectionName=Direct TCP~IP\r\n"
              "SetLevel=1\r\n"
              "SetDifficulty=2\r\n"
              "GameSpyPort=20143\r\n"
              "NumTeams=2\r\n"
              "SetTeamDamage=1\r\n"
              "AccurateCollisions=0\r\n"
              "SendRotVel=0\r\n"
              "BrightPlayers=1\r\n"
              "Permissable=0\r\n"
              "Peer2Peer=0\r\n"
              "UseSmoothing=0\r\n"
              "AllowMouselook=0\r\n"
              "AllowRemoteConsole=0\r\n"
              "RemoteAdmin=0\r\n"
              "AllowAudioTaunts=1\r\n"
              "AudioTauntDelay=15\r\n"
              "RandomizeRespawn=1\r\n"
              "RespawnTime=15\r\n" +
                  kDefaultDisallowed);

    ASSERT_TRUE(WriteMultiSettingsFile(CShipOptions(), root + "/Haldmoor.mps", game.gameName));
    EXPECT_EQ(Read("Haldmoor.mps"), "name\tHaldmoor Anarchy\r\n");

    ASSERT_TRUE(WriteAutoexecFile(CAutoexecSettings(), root + "/Haldmoor.dmfc"));
    EXPECT_EQ(Read("Haldmoor.dmfc"),
              "AllowTeamChange on\r\n"
              "AutoBalance on\r\n"
              "AutoSaveDisconnect off\r\n"
              "AutoSaveLevel off\r\n"
              "MinCount 3\r\n"
              "MaxCount 12\r\n"
              "ServerHudNames Team\r\n"
              "KillMsgFilter None\r\n");
}

TEST_F(GameConfigWriteTest, EveryConditionalLineTheOtherWay) {
    CGameSettings game;
    game.gameName = "Lobby CTF";
    game.missionFileName = "ctf.mn3";
    game.scriptName = "CTF";
    game.connectionName = "meridian online";  // the stored spelling still brings the lobby lines
    game.numTeams = 0;
    game.gameSpyPort = 1023;
    game.peerMode = kPeerToPeer;
    game.allowRemoteConsole = 1;
    game.remoteConsolePort = 2500;
    game.consolePassword = "secret";
    game.remoteAdmin = 1;
    game.remoteAdminPassword = "admin pass";
    game.allowAudioTaunts = 0;
    game.lobbyUserName = "host";
    game.lobbyPassword = "pw";
    game.hostingLobby = "Europe";
    game.motd = "Welcome, pilots!";
    game.powerups[kPrimaryWeapons].disallowed.push_back("Vauss");
    game.powerups[kSecondaryWeapons].disallowed = {"Mega"};
    game.powerups[kPowerups].disallowed = {"Cloak", "Chaff"};
    game.powerups[kOthers].disallowed = {"Builders' Icon", "G-1 Security Pass"};
    ASSERT_TRUE(WriteServerConfigFile(game, root + "/lobby.cfg", ConnectionKindFromName(game.connectionName)));
    EXPECT_EQ(game.connectionKind, 1);
    EXPECT_EQ(Read("lobby.cfg"),
              "[server config file]\r\n"
              "PPS=9\r\n"
              "TimeLimit=0\r\n"
              "KillGoal=0\r\n"
              "MaxPlayers=5\r\n"
              "MultiSettingsFile=\r\n"
              "GameName=Lobby CTF\r\n"
              "MissionName=ctf.mn3\r\n"
              "ScriptName=CTF\r\n"
              "ConnectionName=Meridian Online\r\n"
              "SetLevel=1\r\n"
              "SetDifficulty=2\r\n"
              "AccurateCollisions=0\r\n"
              "SendRotVel=0\r\n"
              "BrightPlayers=1\r\n"
              "Permissable=0\r\n"
              "Peer2Peer=1\r\n"
              "UseSmoothing=0\r\n"
              "AllowMouselook=0\r\n"
              "AllowRemoteConsole=1\r\n"
              "RemoteConsolePort=2500\r\n"
              "ConsolePassword=secret\r\n"
              "RemoteAdmin=1\r\n"
              "RemoteAdminPass=admin pass\r\n"
              "AllowAudioTaunts=0\r\n"
              "RandomizeRespawn=1\r\n"
              "RespawnTime=15\r\n"
              "MROUsername=host\r\n"
              "MROPassword=pw\r\n"
              "MROHostingLobby=Europe\r\n"
              "MOTD=Welcome, pilots!\r\n"
              "DisallowPowerup=Omegacannon\r\n"
              "DisallowPowerup=Vauss\r\n"
              "DisallowPowerup=Mega\r\n"
              "DisallowPowerup=Cloak\r\n"
              "DisallowPowerup=Chaff\r\n"
              "DisallowPowerup=Builders' Icon\r\n"
              "DisallowPowerup=G-1 Security Pass\r\n");

    CShipOptions ships;
    ships.allowedShips = {"Ember-GL", "Magnum-AHT"};
    ships.disallowedShips = {"Phoenix", "Black Ember"};
    ASSERT_TRUE(WriteMultiSettingsFile(ships, root + "/lobby.mps", game.gameName));
    EXPECT_EQ(Read("lobby.mps"), "name\tLobby CTF\r\nShipBan\tPhoenix\r\nShipBan\tBlack Ember\r\n");

    CAutoexecSettings autoexec;
    autoexec.allowTeamChange = 0;
    autoexec.autoBalance = 0;
    autoexec.autoSaveDisconnect = 1;
    autoexec.autoSaveLevel = 1;
    autoexec.minCount = 4;
    autoexec.maxCount = 4;
    autoexec.serverHudNames = "Full";
    autoexec.killMsgFilter = "Simple";
    autoexec.teamNames = {"Red Team", "", "Blue", ""};
    ASSERT_TRUE(WriteAutoexecFile(autoexec, root + "/lobby.dmfc"));
    EXPECT_EQ(Read("lobby.dmfc"),
              "AllowTeamChange off\r\n"
              "AutoBalance off\r\n"
              "AutoSaveDisconnect on\r\n"
              "AutoSaveLevel on\r\n"
              "MinCount 4\r\n"
              "ServerHudNames Full\r\n"
              "KillMsgFilter Simple\r\n"
              "SetTeamName 0 Red Team\r\n"
              "SetTeamName 2 Blue\r\n");
}

TEST_F(GameConfigWriteTest, ConnectionNameFollowsTheKindAndLobbyLinesTheStoredName) {
    struct Case {
        const char* stored;
        int32_t kind;
        const char* writtenName;
        int32_t kindAfter;
        bool lobbyLines;
    };
    const Case cases[] = {
        {"LAN", 0, "LAN", 0, false},
        {"LAN", 1, "Meridian Online", 1, false},  // lobby lines follow the stored name only
        {"Meridian Online", 2, "Direct TCP~IP", 2, true},
        {"Meridian Online", 7, "Meridian Online", 0, true},
        {"direct tcp~ip", 0, "direct tcp~ip", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " kind " + std::to_string(c.kind));
        CGameSettings game;
        game.connectionName = c.stored;
        game.hostingLobby.clear();  // no hosting lobby: no "MROHostingLobby" line
        const std::string text = ServerConfigFileText(game, c.kind);
        EXPECT_NE(text.find(std::string("\r\nConnectionName=") + c.writtenName + "\r\n"), std::string::npos);
        EXPECT_EQ(game.connectionKind, c.kindAfter);
        EXPECT_EQ(text.find("\r\nRespawnTime=15\r\nMROUsername=\r\nMROPassword=\r\nDisallowPowerup=") !=
                      std::string::npos,
                  c.lobbyLines);
        EXPECT_EQ(text.find("MROHostingLobby"), std::string::npos);
    }
}

TEST_F(GameConfigWriteTest, TextFileCreatesTruncatesAppendsAndFailsWithoutFolder) {
    const std::string path = root + "/out.txt";
    ASSERT_TRUE(WriteTextFile(path, "first line\r\n", false));
    ASSERT_TRUE(WriteTextFile(path, "second\r\n", true));
    EXPECT_EQ(Read("out.txt"), "first line\r\nsecond\r\n");
    ASSERT_TRUE(WriteTextFile(path, "new", false));
    EXPECT_EQ(Read("out.txt"), "new");
    EXPECT_FALSE(WriteTextFile(root + "/missing/out.txt", "x", false));
    CGameSettings game;
    EXPECT_FALSE(WriteServerConfigFile(game, root + "/missing/a.cfg", 0));
    EXPECT_TRUE(FileExists(path));
    EXPECT_TRUE(FileExists(root));  // folders count: the batch import tests "-setdir" with it
    EXPECT_FALSE(FileExists(root + "/nothing"));
    EXPECT_FALSE(FileExists(""));
}

}  // namespace
}  // namespace hm
