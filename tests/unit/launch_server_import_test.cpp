// Taking over a hand-made server: the paths the server files dialog proposes, the paths a batch
// supplies, and the import chain that appends a configuration only after every file was read and the
// operator confirmed it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "game/game_installation.h"
#include "launch/launch_batch.h"
#include "launch/mission_description.h"
#include "launch/server_import.h"
#include "platform/files.h"
#include "servers/game_config_text.h"

namespace hm {
namespace {

class FakeInstalled : public InstalledNames {
public:
    bool FindMission(const std::string& name, std::string& listed, std::string& title, int32_t& levels) const override {
        if (!fs::EqualsIgnoreCase(name, "anarchy.mn3")) return false;
        listed = "anarchy.mn3", title = "Anarchy Arena", levels = 2;
        return true;
    }
    bool FindScript(const std::string& name, std::string& listed) const override {
        return Same(name, "Anarchy", listed);
    }
    bool FindConnection(const std::string& name, std::string& listed) const override {
        return Same(name, "Direct TCP~IP", listed);
    }
    bool FindExecutable(const std::string& name, std::string& listed) const override {
        return Same(name, "main.exe", listed);
    }

private:
    static bool Same(const std::string& name, const char* entry, std::string& listed) {
        if (!fs::EqualsIgnoreCase(name, entry)) return false;
        listed = entry;
        return true;
    }
};

class ServerImportTest : public ::testing::Test {
protected:
    ServerImportTest() {
        std::random_device random;
        root = (std::filesystem::temp_directory_path() / ("hm_srvimport_" + std::to_string(random()))).string();
        game = root + "/game";
        std::filesystem::create_directories(game + "/custom");
        inform = [this](const std::string& text) { messages.push_back(text); };
    }
    ~ServerImportTest() override { std::filesystem::remove_all(root); }

    std::string Put(const std::string& relative, const std::string& text) {
        const std::string path = game + "/" + relative;
        EXPECT_TRUE(fs::WriteWholeFile(path, text));
        return path;
    }
    // A complete hand-made server: main file, multi settings, autoexec and tracker file side by side.
    ServerFilePaths HandMadeServer(const std::string& extraMain = "") {
        Put("srv.cfg", "[server config file]\r\nGameName=Hand Made\r\nMissionName=ANARCHY.MN3\r\nSetLevel=4\r\n"
                       "PPS=12\r\n" + extraMain);
        Put("srv.mps", "name\tHand Made\r\nShipBan\tPhoenix\r\n");
        Put("srv.dmfc", "MinCount 2\r\nSetTeamName 0 Gold\r\n");
        Put("gamespy.cfg", "master.example.net:27900\r\nbackup.example.net\r\n");
        return ProposeServerFiles(game + "/srv.cfg");
    }

    std::string root, game;
    FakeInstalled installed;
    std::vector<std::string> messages;
    InformationBox inform;
};

TEST(ServerImportPathTest, PathPieces) {
    struct Case {
        const char* path;
        const char* withMps;
        const char* folder;
        const char* name;
    };
    const Case cases[] = {
        {"/srv/k3/server.cfg", "/srv/k3/server.mps", "/srv/k3", "server.cfg"},
        {"/srv/k3.d/server", "/srv/k3.d/server.mps", "/srv/k3.d", "server"},
        {"server.old.cfg", "server.old.mps", "", "server.old.cfg"},
        {"C:\\K3\\main.exe", "C:\\K3\\main.mps", "C:\\K3", "main.exe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReplaceExtension(c.path, ".mps"), c.withMps);
        EXPECT_EQ(FolderOf(c.path), c.folder);
        EXPECT_EQ(FileNameOf(c.path), c.name);
    }
}

TEST_F(ServerImportTest, ProposalsForAChosenMainFile) {
    Put("a.cfg", "[server config file]\r\n");
    ServerFilePaths paths = ProposeServerFiles(game + "/a.cfg");
    EXPECT_EQ(paths.multiSettingsFile, game + "/a.mps");  // proposed even when absent: the operator sees it
    EXPECT_EQ(paths.autoexecFile, "");
    EXPECT_EQ(paths.trackerFile, "");

    const std::string named = Put("custom/named.mps", "");
    Put("a.cfg", "[server config file]\r\nMultiSettingsFile=" + named + "\r\n");
    Put("a.dmfc", "");
    Put("gamespy.cfg", "");
    paths = ProposeServerFiles(game + "/a.cfg");
    EXPECT_EQ(paths.mainFile, game + "/a.cfg");
    EXPECT_EQ(paths.multiSettingsFile, named);
    EXPECT_EQ(paths.autoexecFile, game + "/a.dmfc");
    EXPECT_EQ(paths.trackerFile, game + "/gamespy.cfg");
    EXPECT_EQ(paths.batchFile, "");
}

TEST_F(ServerImportTest, PathsABatchSupplies) {
    const std::string main = Put("m.cfg", "[server config file]\r\nMultiSettingsFile=" + game + "/m.mps\r\n");
    Put("m.mps", "");
    struct Case {
        std::string setDir, gspyFile, tracker;
    };
    const Case cases[] = {
        {"/k3", "/etc/k3/gamespy.cfg", "/etc/k3/gamespy.cfg"},
        {"/k3", "C:\\K3\\gamespy.cfg", "C:\\K3\\gamespy.cfg"},
        {"/k3", "custom/gamespy.cfg", "/k3/custom/gamespy.cfg"},
        {"/k3/", "gamespy.cfg", "/k3/gamespy.cfg"},
        {"", "gamespy.cfg", "kept"},
        {"/k3", "", "kept"},  // no tracker file named: not the folder itself
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setDir + " " + c.gspyFile);
        CLaunchSettings launch;
        launch.configFile = main;
        launch.autoexecFile = "/k3/a.dmfc";
        launch.setDir = c.setDir;
        launch.gameSpyFile = c.gspyFile;
        ServerFilePaths paths;
        paths.multiSettingsFile = "old.mps";
        paths.trackerFile = "kept";
        TakePathsFromBatch(launch, paths);
        EXPECT_EQ(paths.mainFile, main);
        EXPECT_EQ(paths.multiSettingsFile, game + "/m.mps");
        EXPECT_EQ(paths.autoexecFile, "/k3/a.dmfc");
        EXPECT_EQ(paths.trackerFile, c.tracker);
    }
    CLaunchSettings launch;
    launch.configFile = Put("plain.cfg", "[server config file]\r\n");
    ServerFilePaths paths;
    paths.multiSettingsFile = "old.mps";
    TakePathsFromBatch(launch, paths);
    EXPECT_EQ(paths.multiSettingsFile, "old.mps");
}

TEST_F(ServerImportTest, ChainAppendsOnlyAConfirmedConfiguration) {
    const ServerFilePaths paths = HandMadeServer();
    std::vector<CServerConfig> configs(1);
    int asked = 0;
    EXPECT_EQ(ImportServerFiles(configs, installed, paths, inform,
                                [&](CServerConfig& config) {
                                    ++asked;
                                    EXPECT_EQ(config.game.gameName, "Hand Made");
                                    return false;
                                }),
              ServerImportResult::NotConfirmed);
    EXPECT_EQ(configs.size(), 1u);

    ASSERT_EQ(ImportServerFiles(configs, installed, paths, inform,
                                [&](CServerConfig& config) {
                                    ++asked;
                                    config.game.motd = "edited in the dialog";
                                    return true;
                                }),
              ServerImportResult::Imported);
    EXPECT_EQ(asked, 2);
    ASSERT_EQ(configs.size(), 2u);
    const CServerConfig& config = configs[1];
    EXPECT_EQ(config.game.gameName, "Hand Made");
    EXPECT_EQ(config.game.missionFileName, "anarchy.mn3");
    EXPECT_EQ(config.game.startLevel, 2u);
    EXPECT_EQ(config.game.packetsPerSecond, 12u);
    EXPECT_EQ(config.game.motd, "edited in the dialog");
    EXPECT_EQ(config.ships.disallowedShips, std::vector<std::string>{"Phoenix"});
    EXPECT_EQ(config.autoexec.minCount, 2u);
    EXPECT_EQ(config.autoexec.teamNames[0], "Gold");
    EXPECT_EQ(config.trackers.trackers,
              (std::vector<std::string>{"master.example.net:27900", "backup.example.net:27900"}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(ServerImportTest, ChainStopsAtTheFirstFileThatFails) {
    const ServerImportResult cases[] = {ServerImportResult::MainFileFailed, ServerImportResult::MultiSettingsFailed,
                                        ServerImportResult::AutoexecFailed, ServerImportResult::TrackerFileFailed};
    for (size_t broken = 0; broken < 4; ++broken) {
        SCOPED_TRACE(broken);
        messages.clear();
        ServerFilePaths paths = HandMadeServer();
        // The files after the broken one hold a command that would be reported if they were read.
        if (broken < 1) Put("srv.mps", "Bogus 1\r\n");
        if (broken < 2) Put("srv.dmfc", "Bogus 1\r\n");
        std::string* fields[] = {&paths.mainFile, &paths.multiSettingsFile, &paths.autoexecFile, &paths.trackerFile};
        const std::string gone = root + "/gone";
        *fields[broken] = gone;
        std::vector<CServerConfig> configs;
        bool asked = false;
        EXPECT_EQ(ImportServerFiles(configs, installed, paths, inform, [&](CServerConfig&) { return asked = true; }),
                  cases[broken]);
        EXPECT_TRUE(configs.empty());
        EXPECT_FALSE(asked);
        EXPECT_EQ(messages, std::vector<std::string>{"Cannot open " + gone + " for reading!"});
    }
}

// A FIFO, a device or an oversized file in any of the five places: refused at once with the reason
// (never blocking, never read whole), and the chain stops there.
TEST_F(ServerImportTest, ChainRefusesWhatIsNoTextFileOfItsKind) {
    const std::string fifo = root + "/fifo", device = root + "/zero";
    const std::string huge = root + "/huge", hugeBatch = root + "/huge.bat";
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
    std::filesystem::create_symlink("/dev/zero", device);
    ASSERT_TRUE(fs::WriteWholeFile(huge, "") && fs::WriteWholeFile(hugeBatch, ""));
    std::filesystem::resize_file(huge, kTextFileLimit + 1);
    std::filesystem::resize_file(hugeBatch, kLaunchBatchLimit + 1);
    const ServerImportResult results[] = {ServerImportResult::BatchFailed, ServerImportResult::MainFileFailed,
                                          ServerImportResult::MultiSettingsFailed, ServerImportResult::AutoexecFailed,
                                          ServerImportResult::TrackerFileFailed};
    for (size_t field = 0; field < 5; ++field) {
        const std::pair<std::string, std::string> files[] = {
            {fifo, "not a regular file"},
            {device, "not a regular file"},
            {field == 0 ? hugeBatch : huge,
             "larger than " + std::to_string(field == 0 ? kLaunchBatchLimit : kTextFileLimit) + " bytes"},
        };
        for (const auto& [path, reason] : files) {
            SCOPED_TRACE(std::to_string(field) + " " + path);
            messages.clear();
            ServerFilePaths paths = HandMadeServer();
            std::string* fields[] = {&paths.batchFile, &paths.mainFile, &paths.multiSettingsFile, &paths.autoexecFile,
                                     &paths.trackerFile};
            *fields[field] = path;
            std::vector<CServerConfig> configs;
            EXPECT_EQ(ImportServerFiles(configs, installed, paths, inform, [](CServerConfig&) { return true; }),
                      results[field]);
            EXPECT_TRUE(configs.empty());
            EXPECT_EQ(messages, std::vector<std::string>{"Cannot open " + path + " for reading! (" + reason + ")"});
        }
    }
}

TEST_F(ServerImportTest, BatchSuppliesTheLaunchSettingsAndTheFiles) {
    HandMadeServer("MultiSettingsFile=" + game + "/srv.mps\r\n");
    const std::string exe = Put("main.exe", "");
    const std::string batch = Put("start.bat", "rem started by hand\r\n" + exe + " -dedicated " + game +
                                                   "/srv.cfg -autoexec " + game + "/srv.dmfc -setdir " + game +
                                                   " -useport 2222 -gspyfile gamespy.cfg -nocrashbox\r\n");
    ServerFilePaths paths;
    paths.batchFile = batch;
    std::vector<CServerConfig> configs;
    ASSERT_EQ(ImportServerFiles(configs, installed, paths, inform, [](CServerConfig&) { return true; }),
              ServerImportResult::Imported);
    ASSERT_EQ(configs.size(), 1u);
    const CServerConfig& config = configs[0];
    EXPECT_EQ(config.launch.executable, "main.exe");  // the launch looks it up in the game folder
    EXPECT_EQ(config.launch.serverPort, 2222);
    EXPECT_EQ(config.launch.extraArguments, "-nocrashbox");
    EXPECT_EQ(config.game.gameName, "Hand Made");
    EXPECT_EQ(config.ships.disallowedShips, std::vector<std::string>{"Phoenix"});
    EXPECT_EQ(config.autoexec.teamNames[0], "Gold");
    EXPECT_EQ(config.trackers.trackers.size(), 2u);

    // A batch without a start line imports nothing.
    paths.batchFile = Put("empty.bat", "rem nothing here\r\n");
    EXPECT_EQ(ImportServerFiles(configs, installed, paths, inform, [](CServerConfig&) { return true; }),
              ServerImportResult::BatchFailed);
    EXPECT_EQ(configs.size(), 1u);
}

// The headless command against a real installation in a temporary game folder.
TEST_F(ServerImportTest, HeadlessCommandAsksAndAnswers) {
    for (const char* sub : {"/missions", "/netgames", "/online"}) std::filesystem::create_directories(game + sub);
    Put("Kelvane 3.exe", "x");
    Put("main.exe", "x");
    Put("missions/anarchy.mn3", "NAME Anarchy Arena\nNUMLEVELS 1\nLEVEL 1\n");
    Put("netgames/anarchy.k3m", "x");
    Put("online/Direct TCP~IP.k3c", "x");
    Registry registry(root + "/registry.reg");
    registry.Write(kGameKey, "BaseDirectory", RegValue::String(game));
    CGameInstallation installation(registry, [](CMissionList& list, const std::string& folder, CMissionInfo mission) {
        std::string text;
        if (!fs::ReadWholeFile(folder + "/" + mission.fileName, text)) return;
        ParseMissionDescription(mission, text);
        if (IsUsableMission(mission)) list.push_back(std::move(mission));
    });
    installation.RefreshInstallation();
    ASSERT_NE(installation.FindMission("anarchy.mn3"), nullptr);
    ASSERT_NE(installation.FindScript("Anarchy"), nullptr);

    // No multi settings file beside the main file: the proposal is left out instead of failing.
    Put("srv.cfg", "[server config file]\r\nGameName=Headless\r\nMissionName=ANARCHY.mn3\r\nScriptName=anarchy\r\n"
                   "ConnectionName=direct tcp~ip\r\nSetLevel=3\r\n");
    CServerConfigArray configs;
    std::vector<std::string> questions;
    std::string result;
    EXPECT_FALSE(ImportServer(configs, installation, game + "/srv.cfg", "", inform,
                              [&](const std::string& q) { return questions.push_back(q), false; }, result));
    EXPECT_EQ(result, "Import cancelled.");
    EXPECT_TRUE(configs.configs.empty());

    ASSERT_TRUE(ImportServer(configs, installation, game + "/srv.cfg", "", inform,
                             [&](const std::string& q) { return questions.push_back(q), true; }, result));
    EXPECT_EQ(result, "Imported server configuration \"Headless\" on port 2092.");
    EXPECT_EQ(questions, std::vector<std::string>(2, "Add the imported server configuration \"Headless\" on port 2092?"));
    ASSERT_EQ(configs.configs.size(), 1u);
    const CGameSettings& imported = configs.configs[0].game;
    EXPECT_EQ(imported.missionFileName, "anarchy.mn3");
    EXPECT_EQ(imported.missionTitle, installation.FindMission("anarchy.mn3")->title);
    EXPECT_EQ(imported.scriptName, installation.FindScript("anarchy")->title);
    EXPECT_EQ(imported.connectionName, "Direct TCP~IP");
    EXPECT_EQ(imported.connectionKind, 2);
    EXPECT_EQ(imported.startLevel, 1u);
    EXPECT_TRUE(messages.empty());

    // Failures carry the messages shown to the sender.
    EXPECT_FALSE(ImportServer(configs, installation, game + "/none.cfg", "", inform,
                              [](const std::string&) { return true; }, result));
    EXPECT_EQ(result, "Cannot open " + game + "/none.cfg for reading!\nImport failed.");
    EXPECT_EQ(configs.configs.size(), 1u);
}

}  // namespace
}  // namespace hm
