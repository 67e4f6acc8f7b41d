// The game server's command line: option order and blanks as the game expects them, the lobby port
// and crash box rules by connection kind and game version, the optional pieces, and that long paths
// and arguments come through whole and split back into the same arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/command_line.h"
#include "platform/process.h"

namespace hm {
namespace {

CLaunchSettings Basic() {
    CLaunchSettings launch;
    launch.configFile = "/g/custom/cache/2092/Haldmoor.cfg";
    launch.autoexecFile = "/g/custom/cache/2092/Haldmoor.dmfc";
    launch.setDir = "/g";
    launch.tempDir = "/g/custom/cache/2092";
    launch.serverPort = 2092;
    launch.framesPerSecond = 999;
    launch.gameSpyPort = 0;
    return launch;
}

const std::string kFiles =
    " -dedicated \"/g/custom/cache/2092/Haldmoor.cfg\" -autoexec \"/g/custom/cache/2092/Haldmoor.dmfc\""
    " -setdir \"/g\" -tempdir \"/g/custom/cache/2092\"";

struct VersionCase {
    const char* name;
    int connectionKind;
    uint32_t version;
    const char* portAndTail;  // what follows the four file options
};

TEST(BuildCommandLine, PortOptionAndCrashBoxFollowConnectionKindAndVersion) {
    const VersionCase cases[] = {
        {"lobby on 1.5", 1, 0x10005, " -mroport 2092 -framecap 999 -nocrashbox"},
        {"lobby on 1.4", 1, 0x10004, " -useport 2092 -framecap 999"},
        {"lobby on 1.6", 1, 0x10006, " -mroport 2092 -framecap 999 -nocrashbox"},
        {"TCP/IP on 1.5", 2, 0x10005, " -useport 2092 -framecap 999 -nocrashbox"},
        {"other on 1.5", 0, 0x10005, " -useport 2092 -framecap 999 -nocrashbox"},
        // Minor below 5 on a later major: the lobby port, but no crash box option.
        {"lobby on 2.0", 1, 0x20000, " -mroport 2092 -framecap 999"},
        {"unknown version", 1, 0, " -useport 2092 -framecap 999"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BuildCommandLine(Basic(), c.version, c.connectionKind), kFiles + c.portAndTail) << c.name;
    }
}

struct PieceCase {
    const char* name;
    void (*change)(CLaunchSettings&);
    const char* tail;  // after " -useport 2092 -framecap 999"
};

TEST(BuildCommandLine, OptionalPiecesInOrderWithTheirOwnBlanks) {
    const PieceCase cases[] = {
        {"nothing optional", [](CLaunchSettings&) {}, ""},
        {"bind address gets two blanks", [](CLaunchSettings& l) { l.bindAddress = "10.0.0.5"; }, "  -useip 10.0.0.5"},
        {"GameSpy port keeps its trailing blank", [](CLaunchSettings& l) { l.gameSpyPort = 20144; },
         " -gamespyport 20144 "},
        {"GameSpy off still names the tracker file",
         [](CLaunchSettings& l) { l.gameSpyFile = "custom/cache/2092/Haldmoor.spy"; },
         " -gspyfile \"custom/cache/2092/Haldmoor.spy\""},
        {"logos off", [](CLaunchSettings& l) { l.disableShipLogos = 1; }, " -nomultibmp"},
        {"extra arguments as they stand", [](CLaunchSettings& l) { l.extraArguments = "-nosound  -x \"a b\""; },
         " -nosound  -x \"a b\""},
        {"all of them",
         [](CLaunchSettings& l) {
             l.bindAddress = "1.2.3.4";
             l.gameSpyPort = 20000;
             l.gameSpyFile = "s.spy";
             l.disableShipLogos = 1;
             l.extraArguments = "-z";
         },
         "  -useip 1.2.3.4 -gamespyport 20000  -gspyfile \"s.spy\" -nomultibmp -z"},
    };
    for (const auto& c : cases) {
        CLaunchSettings launch = Basic();
        c.change(launch);
        EXPECT_EQ(BuildCommandLine(launch, 0x10004, 2), kFiles + " -useport 2092 -framecap 999" + c.tail) << c.name;
    }
}

TEST(BuildCommandLine, FramecapIsAlwaysGivenEvenForZero) {
    CLaunchSettings launch = Basic();
    launch.framesPerSecond = 0;
    EXPECT_NE(BuildCommandLine(launch, 0x10004, 0).find(" -framecap 0"), std::string::npos);
}

TEST(BuildCommandLine, LongPathsAndArgumentsAreNeitherCutNorMisSplit) {
    CLaunchSettings launch = Basic();
    const std::string folder = "/games/" + std::string(1500, 'k') + "/Kelvane 3";
    launch.setDir = folder;
    launch.tempDir = folder + "/custom/cache/2092";
    launch.configFile = launch.tempDir + "/Haldmoor.cfg";
    launch.autoexecFile = launch.tempDir + "/Haldmoor.dmfc";
    launch.gameSpyFile = "custom/cache/2092/Haldmoor.spy";
    launch.extraArguments = "-last " + std::string(600, 'x');

    const std::vector<std::string> args = SplitCommandLine(BuildCommandLine(launch, 0x10005, 1));
    const std::vector<std::string> expected = {
        "-dedicated", launch.configFile, "-autoexec", launch.autoexecFile, "-setdir", folder,
        "-tempdir", launch.tempDir, "-mroport", "2092", "-framecap", "999",
        "-gspyfile", launch.gameSpyFile, "-nocrashbox", "-last", std::string(600, 'x')};
    EXPECT_EQ(args, expected);
}

}  // namespace
}  // namespace hm
