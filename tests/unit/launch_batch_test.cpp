// Reading a hand-written launch batch file into the launch settings: which lines count, how options
// and values are split, every option, and the extra arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "launch/launch_batch.h"
#include "platform/files.h"

namespace hm {
namespace {

class LaunchBatchTest : public ::testing::Test {
protected:
    LaunchBatchTest() {
        std::random_device random;
        root = (std::filesystem::temp_directory_path() / ("hm_batch_" + std::to_string(random()))).string();
        game = root + "/Kelvane-3";
        std::filesystem::create_directories(game + "/cache");
        exe = Put("main.exe");
        cfg = Put("server one.cfg");
        plain = Put("server.cfg");
        dmfc = Put("server.dmfc");
        inform = [this](const std::string& text) { messages.push_back(text); };
    }
    ~LaunchBatchTest() override { std::filesystem::remove_all(root); }

    std::string Put(const std::string& name, const std::string& text = "x") {
        const std::string path = game + "/" + name;
        EXPECT_TRUE(fs::WriteWholeFile(path, text));
        return path;
    }
    bool Import(CLaunchSettings& launch, const std::string& text) {
        return ImportLaunchBatch(launch, Put("start.bat", text), inform);
    }

    std::string root, game, exe, cfg, plain, dmfc;
    std::vector<std::string> messages;
    InformationBox inform;
};

TEST_F(LaunchBatchTest, EveryOption) {
    using Check = std::function<bool(const CLaunchSettings&)>;
    struct Case {
        std::string option, value;
        Check check;
    };
    const CLaunchSettings defaults;
    const auto unchanged = [](const CLaunchSettings& l) {
        return l.configFile.empty() && l.autoexecFile.empty() && l.setDir.empty() && l.tempDir.empty() &&
               l.bindAddress.empty() && l.extraArguments.empty() && l.serverPort == 2092 && l.disableShipLogos == 0;
    };
    const Case cases[] = {
        {"launched", "", unchanged},
        {"dedicated", plain, [&](const CLaunchSettings& l) { return l.configFile == plain; }},
        {"DedicatedServer", plain, [&](const CLaunchSettings& l) { return l.configFile == plain; }},
        {"dedicated", game + "/none.cfg", unchanged},
        {"autoexec", dmfc, [&](const CLaunchSettings& l) { return l.autoexecFile == dmfc; }},
        {"autoexec", game + "/none.dmfc", unchanged},
        {"setdir", game, [&](const CLaunchSettings& l) { return l.setDir == game; }},
        {"tempdir", game + "/cache", [&](const CLaunchSettings& l) { return l.tempDir == game + "/cache"; }},
        {"tempdir", game + "/nocache", unchanged},
        {"useport", "3000", [](const CLaunchSettings& l) { return l.serverPort == 3000; }},
        {"MROPORT", "80", [](const CLaunchSettings& l) { return l.serverPort == 1024; }},
        {"useport", "70000", [](const CLaunchSettings& l) { return l.serverPort == 4464; }},
        {"framecap", "60", [](const CLaunchSettings& l) { return l.framesPerSecond == 60; }},
        {"framecap", "1000", [](const CLaunchSettings& l) { return l.framesPerSecond == 999; }},
        {"useip", "10.0.0.1", unchanged},
        {"gamespyport", "500", [](const CLaunchSettings& l) { return l.gameSpyPort == 1024; }},
        {"gamespyport", "20200", [](const CLaunchSettings& l) { return l.gameSpyPort == 20200; }},
        {"gspyfile", "custom/none.cfg", [](const CLaunchSettings& l) { return l.gameSpyFile == "custom/none.cfg"; }},
        {"nomultibmp", "", [](const CLaunchSettings& l) { return l.disableShipLogos == 1; }},
        {"nocrashbox", "", [](const CLaunchSettings& l) { return l.extraArguments == "-nocrashbox"; }},
        {"warp", "9", [](const CLaunchSettings& l) { return l.extraArguments == "-warp 9"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option + " " + c.value);
        CLaunchSettings launch;
        ApplyLaunchOption(launch, c.option, c.value);
        EXPECT_TRUE(c.check(launch));
    }
}

TEST_F(LaunchBatchTest, ExtraArgumentsAreJoinedWithBlanks) {
    CLaunchSettings launch;
    ApplyLaunchOption(launch, "nocrashbox", "");
    ApplyLaunchOption(launch, "lowmem", "64");
    ApplyLaunchOption(launch, "motdfile", "my motd.txt");
    EXPECT_EQ(launch.extraArguments, "-nocrashbox -lowmem 64 -motdfile \"my motd.txt\"");
}

TEST_F(LaunchBatchTest, AFullStartLine) {
    CLaunchSettings launch;
    ASSERT_TRUE(Import(launch, "@echo off\r\n" + exe + " -dedicated \"" + cfg + "\" -autoexec " + dmfc +
                                   " -setdir " + game + " -useport 2095 -framecap 30  -useip 10.1.2.3" +
                                   " -gamespyport 20150 -gspyfile custom/gamespy.cfg -nomultibmp -nocrashbox" +
                                   " -launched\r\n"));
    EXPECT_EQ(launch.executable, exe);
    EXPECT_EQ(launch.configFile, cfg);  // quoted, with a blank in the name
    EXPECT_EQ(launch.autoexecFile, dmfc);
    EXPECT_EQ(launch.setDir, game);  // a hyphen inside a path is no option
    EXPECT_EQ(launch.serverPort, 2095);
    EXPECT_EQ(launch.framesPerSecond, 30u);
    EXPECT_EQ(launch.bindAddress, "");
    EXPECT_EQ(launch.gameSpyPort, 20150);
    EXPECT_EQ(launch.gameSpyFile, "custom/gamespy.cfg");
    EXPECT_EQ(launch.disableShipLogos, 1u);
    EXPECT_EQ(launch.extraArguments, "-nocrashbox");
    EXPECT_TRUE(messages.empty());
}

TEST_F(LaunchBatchTest, LinesThatDoNotCount) {
    const std::string good = " -dedicated " + plain + " -useport 3001\r\n";
    struct Case {
        std::string line;
    };
    const Case cases[] = {
        {"rem " + exe + good},
        {"REM" + exe + good},
        {game + "/missing.exe" + good},
        {exe + " -dedicated " + game + "/gone.cfg -useport 3001\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        CLaunchSettings launch;
        EXPECT_FALSE(Import(launch, c.line));
        EXPECT_EQ(launch.configFile, "");
    }

    // The length and fifth-character rules, with names relative to the current folder.
    const std::string before = fs::CurrentDirectory();
    ASSERT_TRUE(fs::SetCurrentDirectory(game));
    Put("k3", "");
    Put("a", "");
    Put("a.cfg", "");
    CLaunchSettings launch;
    EXPECT_FALSE(Import(launch, "k3 -dedicated a\r\nk3 x -dedicated a.cfg\r\n"));  // 15 chars; blank 5th char
    EXPECT_EQ(launch.executable, "");
    EXPECT_TRUE(Import(launch, "k3 -dedicated a.cfg\r\n"));  // 16 chars
    EXPECT_EQ(launch.executable, "k3");
    EXPECT_EQ(launch.configFile, "a.cfg");
    ASSERT_TRUE(fs::SetCurrentDirectory(before));
}

TEST_F(LaunchBatchTest, ReadingStopsAtTheFirstLineThatGivesTheMainFile) {
    CLaunchSettings launch;
    ASSERT_TRUE(Import(launch, exe + " -framecap 50 -useport 2100\r\n" +                    // no main file yet
                                   "call " + exe + " -dedicated " + plain + " -useport 2200\r\n" +  // "call" is stepped over
                                   exe + " -dedicated " + cfg + " -useport 2300\r\n"));
    EXPECT_EQ(launch.framesPerSecond, 50u);
    EXPECT_EQ(launch.configFile, plain);
    EXPECT_EQ(launch.serverPort, 2200);
}

TEST_F(LaunchBatchTest, EmptyPathUnreadableFileAndNoMainFile) {
    CLaunchSettings launch;
    EXPECT_TRUE(ImportLaunchBatch(launch, "", inform));
    EXPECT_TRUE(messages.empty());
    const std::string missing = root + "/none.bat";
    EXPECT_FALSE(ImportLaunchBatch(launch, missing, inform));
    EXPECT_EQ(messages, std::vector<std::string>{"Cannot open " + missing + " for reading!"});
    EXPECT_FALSE(Import(launch, ""));
    EXPECT_EQ(messages.size(), 1u);  // a batch without a start line says nothing itself
}

}  // namespace
}  // namespace hm
