// Server configuration records, global options and "KelvaneConfig.dat": defaults, copies, golden bytes
// built by hand from the stored format, older block versions and the list framing.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "platform/files.h"
#include "servers/random_string.h"
#include "servers/server_config_array.h"
#include "support/golden.h"

namespace hm {
namespace {

using hm::test_support::Golden;

using Strings = std::vector<std::string>;

// Bytes as the stored format describes them, built without the program's writer.


// The game settings block up to its message of the day, as a new record stores it.
void DefaultGameHead(Golden& g, uint32_t version) {
    g.dw(version).dw(0).dw(9).dw(0).dw(0).dw(5);
    for (int i = 0; i < 6; ++i) g.str("");
    g.dw(1).dw(2).w(20143);
    for (uint32_t v : {2u, 1u, 0u, 0u, 1u, 0u, 0u, 0u, 0u}) g.dw(v);
    g.w(2092).str("").dw(0).str("").dw(1).dw(15).dw(1).dw(15).dw(30).str("").str("").str("Global").str("");
    for (const PowerupCategory& category : DefaultPowerupCategories()) g.list(category.allowed).list(category.disallowed);
}

std::string DefaultConfigBlock() {
    Golden g;
    g.dw(3);
    DefaultGameHead(g, 6);
    g.dw(0).dw(0).dw(0).dw(999).dw(999).dw(1);
    g.dw(1).list({"Ember-GL", "Phoenix", "Magnum-AHT", "Black Ember"}).list({});
    g.dw(1).dw(1).dw(1).dw(0).dw(0).dw(3).dw(12).str("Team").str("None").list({"", "", "", ""});
    g.dw(1).str("").str("").str("").str("").str("").w(20144).dw(1).str("").str("").str("").w(2092).dw(0).dw(0).str("");
    g.dw(1).dw(1).dw(0).list({"master.kelvane3.net:27900", "tracker.haldmoor.net:22999", "master2.kelvane3.net:27900"});
    g.dw(1).dw(0).w(0);
    g.dw(6).str("").w(2092).dw(0).dw(0).dw(1).str("").dw(4).dw(15).dw(30).dw(0xBF800000).w(0).w(0);
    g.dw(0).dw(0).dw(0).dw(0).dw(60).dw(0).dw(0);
    g.str("");
    return g.b;
}

std::string Bytes(CServerConfig& config) {
    std::string out;
    {
        ArchiveWriter ar(&out);
        config.Write(ar);
    }
    return out;
}

TEST(ServerConfig, NewRecordHasTheBlockDefaults) {
    CServerConfig config;
    EXPECT_EQ(Bytes(config), DefaultConfigBlock());
    // List sizes and the names whose spelling is easy to get wrong in a table of texts.
    const size_t sizes[4][2] = {{8, 1}, {12, 2}, {7, 11}, {58, 0}};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(config.game.powerups[c].allowed.size(), sizes[c][0]) << c;
        EXPECT_EQ(config.game.powerups[c].disallowed.size(), sizes[c][1]) << c;
    }
    const Strings& secondary = config.game.powerups[kSecondaryWeapons].allowed;
    EXPECT_EQ(Strings(secondary.end() - 3, secondary.end()), (Strings{"4packConc", "4packFrag", "4packHoming"}));
    EXPECT_EQ(config.game.powerups[kSecondaryWeapons].disallowed, (Strings{"Guided", "4packGuided"}));
    const Strings& others = config.game.powerups[kOthers].allowed;
    EXPECT_EQ(others[18], "Priest's Icon");
    EXPECT_EQ(others[37], "Level0key");
    EXPECT_EQ(others.back(), "Data Interface");
}

TEST(ServerConfig, EveryFieldSetRoundTripsThroughHandBuiltBytes) {
    CServerConfig c;
    CGameSettings& g = c.game;
    g.connectionKind = 2, g.packetsPerSecond = 20, g.timeLimit = 30, g.killGoal = 40, g.maxPlayers = 16;
    g.multiSettingsFile = "a.mps", g.gameName = "Game", g.missionTitle = "Title", g.missionFileName = "m.mn3";
    g.scriptName = "Anarchy", g.connectionName = "Direct TCP~IP", g.startLevel = 3, g.difficulty = 4;
    g.gameSpyPort = 20200, g.numTeams = 4, g.teamDamage = 0, g.accurateCollisions = 1, g.sendRotVel = 1;
    g.brightPlayers = 0, g.peerMode = 2, g.useSmoothing = 1, g.allowMouselook = 1, g.allowRemoteConsole = 1;
    g.remoteConsolePort = 2500, g.consolePassword = "cpw", g.remoteAdmin = 1, g.remoteAdminPassword = "apw";
    g.allowAudioTaunts = 0, g.audioTauntDelay = 7, g.randomizeRespawn = 0, g.minRespawnTime = 5;
    g.maxRespawnTime = 50, g.lobbyUserName = "u", g.lobbyPassword = "p", g.hostingLobby = "Lobby", g.motd = "Hi";
    for (auto& category : g.powerups) category = {{"x"}, {"y", "z"}};
    g.customDescription = 1, g.missionLevelCount = 5, g.selective = 1, g.targetMaxPlayers = 8;
    g.appliedMaxPlayers = 9, g.autoLaunchAllowed = 0;
    c.ships.allowedShips = {"Phoenix"}, c.ships.disallowedShips = {"Ember-GL"};
    CAutoexecSettings& a = c.autoexec;
    a.allowTeamChange = 0, a.autoBalance = 0, a.autoSaveDisconnect = 1, a.autoSaveLevel = 1, a.minCount = 2;
    a.maxCount = 11, a.serverHudNames = "Full", a.killMsgFilter = "Simple", a.teamNames = {"R", "B", "G", "Y"};
    CLaunchSettings& l = c.launch;
    l.executable = "main.exe", l.extraName = "x", l.configFile = "s.cfg", l.autoexecFile = "s.dmfc";
    l.gameSpyFile = "gs.cfg", l.gameSpyPort = 20300, l.launchFlag = 0, l.tempDir = "cache\\1", l.setDir = "set";
    l.bindAddress = "10.1.1.1", l.serverPort = 2100, l.framesPerSecond = 60, l.disableShipLogos = 1;
    l.extraArguments = "-x";
    c.trackers.enabled = 0, c.trackers.postToWebTracker = 1, c.trackers.trackers = {"t:1"};
    c.schedule.enabled = 1, c.schedule.entries = {{{1, 8, 0}, {1, 20, 30}}};
    ConsoleSettings& k = c.console;
    k.password = "kpw", k.port = 2600, k.logPlayerAddresses = 1, k.logConsole = 1, k.logTimestamps = 0;
    k.consoleLogName = "log/2100_Game.log", k.playerSlots = 15, k.minRespawnTime = 6, k.maxRespawnTime = 40;
    k.respawnStep = 2.5f, k.addresses = {0x0100007F}, k.autoCommands = {"say hi"}, k.logAllOutput = 1;
    k.useJotwell = 1, k.autoRandom = 1, k.autoRepeat = 1, k.autoRepeatMinutes = 15, k.autoOnlyOne = 1;
    k.nextAutoCommand = 3;
    c.customDescriptionText = "desc";

    Golden e;
    e.dw(3).dw(6).dw(2).dw(20).dw(30).dw(40).dw(16).str("a.mps").str("Game").str("Title").str("m.mn3");
    e.str("Anarchy").str("Direct TCP~IP").dw(3).dw(4).w(20200);
    for (uint32_t v : {4u, 0u, 1u, 1u, 0u, 2u, 1u, 1u, 1u}) e.dw(v);
    e.w(2500).str("cpw").dw(1).str("apw").dw(0).dw(7).dw(0).dw(5).dw(50).str("u").str("p").str("Lobby").str("Hi");
    for (int i = 0; i < 4; ++i) e.list({"x"}).list({"y", "z"});
    e.dw(1).dw(5).dw(1).dw(8).dw(9).dw(0);
    e.dw(1).list({"Phoenix"}).list({"Ember-GL"});
    e.dw(1).dw(0).dw(0).dw(1).dw(1).dw(2).dw(11).str("Full").str("Simple").list({"R", "B", "G", "Y"});
    e.dw(1).str("main.exe").str("x").str("s.cfg").str("s.dmfc").str("gs.cfg").w(20300).dw(0).str("cache\\1");
    e.str("set").str("10.1.1.1").w(2100).dw(60).dw(1).str("-x");
    e.dw(1).dw(0).dw(1).list({"t:1"});
    e.dw(1).dw(1).w(1).dw(1).dw(1).w(1).w(8).w(0).dw(1).w(1).w(20).w(30);
    e.dw(6).str("kpw").w(2600).dw(1).dw(1).dw(0).str("log/2100_Game.log").dw(15).dw(6).dw(40).dw(0x40200000);
    e.w(1).dw(0x0100007F).list({"say hi"}).dw(1).dw(1).dw(1).dw(1).dw(15).dw(1).dw(3);
    e.str("desc");

    EXPECT_EQ(Bytes(c), e.b);

    ArchiveReader reader(e.b);
    CServerConfig back;
    back.Read(reader);
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(reader.Remaining(), 0u);
    EXPECT_EQ(Bytes(back), e.b);  // every value landed in its own field
    EXPECT_EQ(back.console.respawnStep, 2.5f);
    EXPECT_EQ(back.schedule.minuteTable[CSchedule::CellIndex(1, 8, 0)], 1);  // rebuilt after reading
}

TEST(ServerConfig, OlderBlockVersionsKeepLaterFieldsAtDefaults) {
    // A version 1 record with a game settings block of version 2: no description text, no selective
    // switch, no player-limit counters, no auto-launch switch; a version-0 console block.
    Golden g;
    g.dw(1);
    DefaultGameHead(g, 2);
    g.dw(1).dw(4);  // customDescription, missionLevelCount
    g.dw(0).dw(0).dw(0).dw(0).dw(0).dw(0);  // ships .. console: version 0 ends each block
    CServerConfig config;
    ArchiveReader reader(g.b + "trailing");
    config.Read(reader);
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(reader.Remaining(), 8u);
    EXPECT_EQ(config.game.customDescription, 1u);
    EXPECT_EQ(config.game.missionLevelCount, 4u);
    EXPECT_EQ(config.game.selective, 0u);
    EXPECT_EQ(config.game.targetMaxPlayers, 999u);
    EXPECT_EQ(config.game.appliedMaxPlayers, 999u);
    EXPECT_EQ(config.game.autoLaunchAllowed, 1u);
    EXPECT_EQ(config.customDescriptionText, "");
    CServerConfig expected;
    expected.game.customDescription = 1, expected.game.missionLevelCount = 4;
    EXPECT_EQ(Bytes(config), Bytes(expected));
}

TEST(ServerConfig, ConsoleVersionsAddTheirFields) {
    struct Case {
        uint32_t version;
        uint32_t logAllOutput, useJotwell, autoRepeatMinutes, autoOnlyOne, nextAutoCommand;
    } cases[] = {{1, 0, 0, 60, 0, 0}, {2, 1, 0, 60, 0, 0}, {3, 1, 1, 60, 0, 0}, {4, 1, 1, 9, 0, 0},
                 {5, 1, 1, 9, 1, 0}, {6, 1, 1, 9, 1, 7}};
    for (const Case& c : cases) {
        Golden g;
        g.dw(c.version).str("pw").w(2600).dw(0).dw(0).dw(0).str("").dw(4).dw(15).dw(30).dw(0xBF800000).w(0).w(0);
        if (c.version >= 2) g.dw(1);
        if (c.version >= 3) g.dw(1);
        if (c.version >= 4) g.dw(1).dw(1).dw(9);
        if (c.version >= 5) g.dw(1);
        if (c.version >= 6) g.dw(7);
        ConsoleSettings settings;
        ArchiveReader reader(g.b);
        settings.Read(reader);
        EXPECT_FALSE(reader.Failed()) << c.version;
        EXPECT_EQ(reader.Remaining(), 0u) << c.version;
        EXPECT_EQ(settings.password, "pw");
        EXPECT_EQ(settings.logAllOutput, c.logAllOutput) << c.version;
        EXPECT_EQ(settings.useJotwell, c.useJotwell) << c.version;
        EXPECT_EQ(settings.autoRepeatMinutes, c.autoRepeatMinutes) << c.version;
        EXPECT_EQ(settings.autoOnlyOne, c.autoOnlyOne) << c.version;
        EXPECT_EQ(settings.nextAutoCommand, c.nextAutoCommand) << c.version;
    }
}

TEST(ServerConfig, NewRecordTakesTheGlobalDefaults) {
    CGlobalOptions options(1);
    options.defaultPacketsPerSecond = 15, options.defaultTimeLimit = 45, options.defaultKillGoal = 20;
    options.defaultMotd = "Welcome", options.defaultMaxPlayers = 8, options.defaultFramesPerSecond = 100;
    CServerConfig config(options);
    EXPECT_EQ(config.game.packetsPerSecond, 15u);
    EXPECT_EQ(config.game.timeLimit, 45u);
    EXPECT_EQ(config.game.killGoal, 20u);
    EXPECT_EQ(config.game.motd, "Welcome");
    EXPECT_EQ(config.game.maxPlayers, 9u);  // the server's own slot counts
    EXPECT_EQ(config.launch.framesPerSecond, 100u);
    EXPECT_EQ(config.console.port, 2092);
}

TEST(ServerConfig, CopiesClearTheWarningAndLeaveTheMinuteTable) {
    CServerConfig original;
    original.schedule.entries = {{{7, 0, 0}, {7, 12, 0}}};
    original.schedule.BuildMinuteTable();
    original.noScheduleWarned = 1;
    original.customDescriptionText = "text";

    CServerConfig copy(original);
    EXPECT_EQ(copy.noScheduleWarned, 0u);
    EXPECT_EQ(copy.customDescriptionText, "text");
    EXPECT_EQ(copy.schedule.entries, original.schedule.entries);
    EXPECT_FALSE(copy.schedule.HasAnyRunMinute());

    CServerConfig assigned;
    assigned.noScheduleWarned = 1;
    assigned = original;
    EXPECT_EQ(assigned.noScheduleWarned, 0u);
    EXPECT_FALSE(assigned.schedule.HasAnyRunMinute());
    assigned.schedule.CopyMinuteTable(original.schedule);
    EXPECT_TRUE(assigned.schedule.HasAnyRunMinute());

    original.noScheduleWarned = 1;
    Bytes(original);  // storing clears it too
    EXPECT_EQ(original.noScheduleWarned, 0u);
}

const char* kHostsDeny = "http://www.haldmoor.net/Haldmoor/hostdeny.txt";
const char* kAliasDeny = "http://www.haldmoor.net/Haldmoor/aliasdeny.txt";

// The block up to and including the remote info settings, with the given version word.
Golden Head(uint32_t version, const std::string& password) {
    Golden g;
    g.dw(version).dw(0).dw(1).dw(1).dw(1).dw(0).str("").w(2092).dw(12).dw(999).dw(6).w(2092);
    g.str(password).str("wisp").str("wisp").dw(21600000).dw(0).str("").str("");
    g.dw(2).dw(0).dw(0).dw(0).str(kHostsDeny).dw(0).dw(1).dw(0).dw(0).str(kAliasDeny).list({}).dw(1).dw(1);
    g.dw(1).dw(0).w(2090).str("");
    return g;
}

std::string Bytes(const CGlobalOptions& options) {
    std::string out;
    {
        ArchiveWriter ar(&out);
        options.Write(ar);
    }
    return out;
}

TEST(GlobalOptions, NewInstallationDefaultsAndStoredBlock) {
    CGlobalOptions options(1234);
    EXPECT_EQ(options.baseServerPort, 2092);
    EXPECT_EQ(options.baseConsolePort, 2092);
    EXPECT_EQ(options.defaultPacketsPerSecond, 12u);
    EXPECT_EQ(options.defaultFramesPerSecond, 999u);
    EXPECT_EQ(options.defaultMaxPlayers, 6u);
    EXPECT_EQ(options.defaultTimeLimit, 120u);
    EXPECT_EQ(options.defaultKillGoal, 0u);
    EXPECT_EQ(options.autoRestartPeriod, 360u * 60000u);
    EXPECT_EQ(options.latestVersion, 196691u);
    EXPECT_EQ(options.defaultConsolePassword, RandomString(1234));
    EXPECT_EQ(CGlobalOptions(1, true).useJotwellForEventLog, 1u);

    Golden g = Head(7, RandomString(1234));
    g.dw(1).dw(0).dw(196691).dw(120).dw(0).dw(0).dw(999).dw(0).dw(0).dw(1).dw(0);
    EXPECT_EQ(Bytes(options), g.b);
}

TEST(GlobalOptions, OldVersionsKeepLaterFieldsAtDefaults) {
    CGlobalOptions changed(1);
    changed.startMinimized = 0, changed.versionCheck = 0, changed.defaultTimeLimit = 5, changed.updateAttempts = 4;

    // Version 0: nothing but the version word.
    CGlobalOptions fromZero = changed;
    ArchiveReader zero(Golden().dw(0).b);
    fromZero.Read(zero);
    EXPECT_FALSE(zero.Failed());
    EXPECT_EQ(fromZero.startMinimized, 0u);  // untouched
    EXPECT_EQ(fromZero.updateAttempts, 4u);

    // Version 1: up to the remote info block; version check fields keep what the record held.
    CGlobalOptions fromOne(1);
    ArchiveReader one(Head(1, "pw").dw(0xEEEEEEEE).b);
    fromOne.Read(one);
    EXPECT_FALSE(one.Failed());
    EXPECT_EQ(one.Remaining(), 4u);
    EXPECT_EQ(fromOne.defaultConsolePassword, "pw");
    EXPECT_EQ(fromOne.versionCheck, 1u);
    EXPECT_EQ(fromOne.latestVersion, 196691u);
    EXPECT_EQ(fromOne.defaultTimeLimit, 120u);
    EXPECT_EQ(fromOne.maxPlayersAll, 999u);
    EXPECT_EQ(fromOne.autoUpdate, 1u);
}

TEST(GlobalOptions, LatestVersionWithoutMajorPartIsRepaired) {
    struct Case {
        uint32_t stored, loaded;
    } cases[] = {{0, 196691}, {0x0000FFFF, 196691}, {0x01000000, 196691}, {0x00040001, 0x00040001}};
    for (const Case& c : cases) {
        Golden g = Head(2, "");
        g.dw(1).dw(0).dw(c.stored).dw(120).dw(0);
        CGlobalOptions options(1);
        ArchiveReader reader(g.b);
        options.Read(reader);
        EXPECT_FALSE(reader.Failed());
        EXPECT_EQ(options.latestVersion, c.loaded) << c.stored;
    }
}

TEST(GlobalOptions, AntiCheatVersionOneTurnsTheRemoveSwitchesOff) {
    Golden g;
    g.dw(1).dw(1).dw(1).dw(500).str("u1").dw(1).dw(3).dw(1).dw(600).str("u2").list({"Bot*", "x"});
    AntiCheatOptions options;
    ArchiveReader reader(g.b);
    options.Read(reader);
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(reader.Remaining(), 0u);
    EXPECT_EQ(options.shortLength, 3);
    EXPECT_EQ(options.nicknamesUri, "u2");
    EXPECT_EQ(options.disallowedNicknames, (Strings{"Bot*", "x"}));
    EXPECT_EQ(options.removePreviousNicknames, 0u);
    EXPECT_EQ(options.removePreviousHostsDeny, 0u);
}

TEST(ServerConfigArray, FileLayoutIsOptionsThenList) {
    CServerConfigArray array;
    array.globalOptions = CGlobalOptions(5);
    array.configs.resize(2);
    array.configs[1].game.gameName = "Second";
    std::string options;
    {
        ArchiveWriter ar(&options);
        array.globalOptions.Write(ar);
    }
    const std::string bytes = array.Serialize();
    std::string second = DefaultConfigBlock();
    second.replace(4 + 4 + 4 * 5 + 1, 1, std::string("\x06" "Second", 7));
    EXPECT_EQ(bytes, options + Golden().dw(1).w(2).b + DefaultConfigBlock() + second);
}

TEST(ServerConfigArray, LeadingZeroDwordMeansNoList) {
    CServerConfigArray array;
    array.configs.resize(3);
    std::string options;
    {
        ArchiveWriter ar(&options);
        CGlobalOptions(5).Write(ar);
    }
    ArchiveReader reader(options + Golden().dw(0).b);
    array.ReadFrom(reader);
    EXPECT_FALSE(reader.Failed());
    EXPECT_TRUE(array.configs.empty());
}

TEST(ServerConfigArray, LoadClearsCountersAndWarning) {
    const std::string folder = ::testing::TempDir() + "hm_cfg_counters/";
    fs::RemoveFolder(folder, true);
    ASSERT_TRUE(fs::CreateFolders(folder));
    CServerConfigArray array;
    array.configs.resize(1);
    array.configs[0].game.minuteTicks = 3, array.configs[0].game.repeatMinutes = 7;
    array.configs[0].noScheduleWarned = 1;
    ASSERT_TRUE(array.Store(folder, nullptr));
    EXPECT_EQ(array.configs[0].noScheduleWarned, 0u);
    array.configs[0].noScheduleWarned = 1;

    ASSERT_EQ(array.Load(folder, nullptr), StoreLoad::Loaded);
    ASSERT_EQ(array.configs.size(), 1u);
    EXPECT_EQ(array.configs[0].game.minuteTicks, 0u);
    EXPECT_EQ(array.configs[0].game.repeatMinutes, 0u);
    EXPECT_EQ(array.configs[0].noScheduleWarned, 0u);
    fs::RemoveFolder(folder, true);
}

}  // namespace
}  // namespace hm
