// Preparing a server's own copy for a launch: the derived paths follow the port, the GameSpy and
// bind address rules, console addresses, log name, respawn step, lobby credentials and the
// description rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "launch/launch_preparation.h"
#include "platform/socket.h"

namespace hm {
namespace {

class PreparationTest : public ::testing::Test {
protected:
    PreparationTest() : options(1) {
        std::random_device random;
        root = (std::filesystem::temp_directory_path() / ("hm_prepare_" + std::to_string(random()))).string();
        std::filesystem::create_directories(root);
        sysInfo = std::make_unique<CSystemInfo>(root);
        config.launch.serverPort = 2092;
        config.game.gameName = "Test";
        config.game.connectionName = "Direct TCP~IP";
    }
    ~PreparationTest() override { std::filesystem::remove_all(root); }

    bool Prepare() {
        return PrepareServerLaunch(config, *sysInfo, "/g", options, kLaunchStem,
                                   [this](const std::string& text) { messages.push_back(text); });
    }
    static uint32_t Address(const char* text) {
        uint32_t a = 0;
        EXPECT_TRUE(ParseAddress(text, a));
        return a;
    }

    std::string root;
    std::unique_ptr<CSystemInfo> sysInfo;
    CGlobalOptions options;
    CServerConfig config;
    std::vector<std::string> messages;
};

TEST_F(PreparationTest, PathsFollowGameFolderAndPort) {
    config.launch.serverPort = 2101;
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(config.launch.tempDir, "/g/custom/cache/2101");
    EXPECT_EQ(config.launch.setDir, "/g");
    EXPECT_EQ(config.launch.configFile, "/g/custom/cache/2101/Haldmoor.cfg");
    EXPECT_EQ(config.launch.autoexecFile, "/g/custom/cache/2101/Haldmoor.dmfc");
    EXPECT_EQ(config.game.multiSettingsFile, "/g/custom/cache/2101/Haldmoor.mps");
    EXPECT_EQ(config.launch.gameSpyFile, "custom/cache/2101/Haldmoor.spy");
}

TEST_F(PreparationTest, GameSpyPortsFollowTrackerSwitch) {
    config.launch.gameSpyPort = 20200;
    config.game.gameSpyPort = 1;
    config.trackers.enabled = 1;
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(config.game.gameSpyPort, 20200);
    EXPECT_EQ(config.launch.gameSpyPort, 20200);

    config.trackers.enabled = 0;
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(config.game.gameSpyPort, 0);
    EXPECT_EQ(config.launch.gameSpyPort, 0);
    EXPECT_EQ(config.launch.gameSpyFile, "custom/cache/2092/Haldmoor.spy");  // still named
}

TEST_F(PreparationTest, AlternateAddressBindsServerAndEndsConsoleAddressList) {
    sysInfo->localAddresses.push_back(Address("192.168.1.7"));
    config.launch.bindAddress = "9.9.9.9";
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(config.launch.bindAddress, "9.9.9.9");  // kept without an alternate address
    EXPECT_EQ(config.console.addresses, (std::vector<uint32_t>{Address("127.0.0.1"), Address("192.168.1.7")}));

    options.alternateAddress = "10.1.2.3";
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(config.launch.bindAddress, "10.1.2.3");
    EXPECT_EQ(config.console.addresses,
              (std::vector<uint32_t>{Address("127.0.0.1"), Address("192.168.1.7"), Address("10.1.2.3")}));

    // A text that is no address never becomes a console address to try.
    options.alternateAddress = "not.an.address";
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(config.console.addresses.size(), 2u);
}

TEST_F(PreparationTest, ConsoleFieldsComeFromTheGameSettings) {
    config.game.consolePassword = "secret";
    config.game.remoteConsolePort = 3100;
    config.game.maxPlayers = 9;
    config.game.minRespawnTime = 10;
    config.game.maxRespawnTime = 24;
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(config.console.password, "secret");
    EXPECT_EQ(config.console.port, 3100);
    EXPECT_EQ(config.console.playerSlots, 8);
    EXPECT_EQ(config.console.minRespawnTime, 10u);
    EXPECT_EQ(config.console.maxRespawnTime, 24u);
    EXPECT_FLOAT_EQ(config.console.respawnStep, 14.0f / 6.0f);
}

TEST(RespawnStep, OnlyWithMoreThanThreeSlotsAndARange) {
    struct Case { int32_t slots; uint32_t min, max; float step; };
    const Case cases[] = {
        {4, 10, 30, 10.0f}, {8, 15, 30, 2.5f}, {3, 10, 30, -1.0f}, {8, 30, 30, -1.0f},
        {8, 30, 10, -1.0f}, {0, 10, 30, -1.0f}, {-1, 10, 30, -1.0f},
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(RespawnStep(c.slots, c.min, c.max), c.step) << c.slots << " " << c.min << " " << c.max;
    }
}

TEST_F(PreparationTest, ConsoleLogNameReplacesCharactersThatCannotNameAFile) {
    struct Case { const char* gameName; const char* file; };
    const Case cases[] = {
        {"A/B:C", "2092_A_B_C.log"},
        {"a\\b*c?d\"e<f>g|h", "2092_a_b_c_d_e_f_g_h.log"},
        {"Plain name.", "2092_Plain name..log"},
        {"", "2092_.log"},
    };
    for (const auto& c : cases) {
        config.game.gameName = c.gameName;
        ASSERT_TRUE(Prepare());
        EXPECT_EQ(config.console.consoleLogName, sysInfo->logFolder + c.file) << c.gameName;
    }
}

TEST_F(PreparationTest, LobbyConnectionNeedsUserNameAndPassword) {
    struct Case { const char* connection; const char* user; const char* password; bool ok; };
    const Case cases[] = {
        {"Meridian Online", "u", "p", true},
        {"meridian ONLINE", "", "p", false},
        {"Meridian Online", "u", "", false},
        {"Direct TCP~IP", "", "", true},
    };
    for (const auto& c : cases) {
        messages.clear();
        config.game.connectionName = c.connection;
        config.game.lobbyUserName = "old";
        options.mroUserName = c.user;
        options.mroPassword = c.password;
        EXPECT_EQ(Prepare(), c.ok) << c.connection << "/" << c.user << "/" << c.password;
        EXPECT_EQ(config.game.lobbyUserName, c.user);
        EXPECT_EQ(config.game.lobbyPassword, c.password);
        EXPECT_EQ(messages, c.ok ? std::vector<std::string>{}
                                 : std::vector<std::string>{"No MRO username and/or password given!\n(->Global options)"});
    }
}

TEST_F(PreparationTest, DescriptionTextKeptOnlyForLoopingMultiLevelMission) {
    struct Case { uint32_t custom, levels; bool kept; };
    const Case cases[] = {{1, 3, true}, {1, 0, true}, {1, 1, false}, {0, 3, false}};
    for (const auto& c : cases) {
        config.game.customDescription = c.custom;
        config.game.missionLevelCount = c.levels;
        config.customDescriptionText = "text";
        ASSERT_TRUE(Prepare());
        EXPECT_EQ(config.customDescriptionText.empty(), !c.kept) << c.custom << " " << c.levels;
    }
}

TEST_F(PreparationTest, MinuteTableIsBuiltForTheCopy) {
    config.schedule.enabled = 1;
    ScheduleEntry entry;
    entry.start = {1, 10, 0};
    entry.stop = {1, 11, 0};
    config.schedule.entries = {entry};
    config.schedule.minuteTable.assign(CSchedule::kMinutesPerWeek, 0);
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(config.schedule.minuteTable.at(CSchedule::CellIndex(1, 10, 30)), 1);
    EXPECT_EQ(config.schedule.minuteTable.at(CSchedule::CellIndex(1, 11, 30)), 0);
}

}  // namespace
}  // namespace hm
