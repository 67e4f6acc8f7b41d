// The configurations' text file: every stored byte comes back through export and import, a text with
// any bad line yields nothing and names the line, and read records replace those of the same name.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "servers/config_text.h"
#include "servers/server_config_array.h"

namespace hm {
namespace {

enum Day : uint16_t { Sun, Mon, Tue, Wed, Thu, Fri, Sat, All };

std::vector<CServerConfig> SampleConfigs() {
    CServerConfig rich;
    rich.game.gameName = "Caf\xE9 \x80rena [EU] #1";  // Windows-1252 bytes, brackets, a hash
    rich.game.motd = "Welcome=home \\ no cheats";
    rich.game.timeLimit = 65535;
    rich.game.peerMode = kPeerToPeer;
    rich.game.connectionKind = -7;
    rich.game.gameSpyPort = 65535;
    rich.game.powerups[kOthers].disallowed = {"Builders' Icon", "G-1 Security Pass"};
    rich.game.powerups[kPrimaryWeapons].allowed.clear();  // an empty list is not the default list
    rich.ships.disallowedShips = {"Black Ember"};
    rich.autoexec.teamNames = {"R\xF6te", "", " leading blank", "trailing blank "};
    rich.launch.extraArguments = "-x \"C:\\Games\\K3\"\t-y";
    rich.launch.serverPort = 1024;
    rich.trackers.trackers.clear();
    rich.schedule.enabled = 1;
    rich.schedule.entries = {{{Mon, 8, 0}, {Mon, 20, 0}}, {{All, 23, 59}, {Sun, 0, 0}}};
    rich.console.addresses = {0x0100007F, 0xFFFFFFFF};
    rich.console.autoCommands = {"say hello", "", "kick \x01\x7F"};
    rich.console.respawnStep = 0.1f;
    rich.customDescriptionText = "Line one\r\nLine two\n\ttabbed\\end\r";
    CServerConfig plain;
    plain.game.gameName = "Twin";
    plain.console.respawnStep = std::numeric_limits<float>::quiet_NaN();  // kept bit for bit
    CServerConfig twin = plain;  // a second configuration of the same name
    twin.launch.serverPort = 2093;
    return {rich, plain, twin};
}

TEST(ConfigText, ExportThenImportGivesTheSameStoreByteForByte) {
    CServerConfigArray store;
    store.configs = SampleConfigs();
    const std::string before = store.Serialize();

    const std::string text = ConfigsToText(store.configs);
    EXPECT_NE(text.find("\r\n[Server Caf\xE9 \x80rena [EU] #1]\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nschedule.1=Mon, 08:00 - Mon, 20:00\r\nschedule.2=All, 23:59 - Sun, 00:00\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\nconsole.address.1=127.0.0.1\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\ntrackers.count=0\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\ncustomDescriptionText=Line one\\r\\nLine two\\n\\ttabbed\\\\end\\r\r\n"),
              std::string::npos);

    std::vector<CServerConfig> read;
    std::vector<ConfigTextError> errors;
    ASSERT_TRUE(ConfigsFromText(text, store.globalOptions, read, errors)) << ConfigTextErrorLine(errors.at(0));
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].schedule.minuteTable.size(), CSchedule::kMinutesPerWeek);  // built for the enabled schedule

    const ConfigMergeCount count = MergeConfigs(store.configs, read);
    EXPECT_EQ(count.replaced, 3u);
    EXPECT_EQ(count.added, 0u);
    EXPECT_EQ(store.Serialize(), before);

    // The same text with LF line ends reads the same.
    std::string lf;
    for (char c : text) {
        if (c != '\r') lf += c;
    }
    ASSERT_TRUE(ConfigsFromText(lf, store.globalOptions, read, errors));
    EXPECT_EQ(read[2].launch.serverPort, 2093);
}

TEST(ConfigText, AnyBadLineYieldsNothingAndNamesItsLine) {
    // A good section comes first (lines 1 and 2): the bad one after it still yields no record at all.
    const std::string good = "[Server Good]\r\ngame.timeLimit=5\r\n";
    struct Case {
        std::string text;
        size_t line;
        std::string message;
    } cases[] = {
        {"[Server Bad]\nlaunch.serverPort=80", 4, "Please enter an integer between 1024 and 65535."},
        {"[Server Bad]\nlaunch.serverPort=70000", 4, "Please enter an integer between 1024 and 65535."},
        {"[Server Bad]\ngame.timeLimit=ten", 4, "Please enter an integer between 0 and 65535."},
        {"[Server Bad]\ngame.minRespawnTime=20\ngame.maxRespawnTime=19", 5,
         "Please enter an integer between 20 and 999."},
        {"[Server Bad]\ngame.motd=" + std::string(128, 'x'), 4, "Please enter no more than 127 characters."},
        {"[Server ]\ngame.timeLimit=5", 3, "Please enter a server name."},
        {"[Server Bad]\ngame.difficulty=-1", 4, "Please enter an integer between 0 and 4294967295."},
        {"[Server Bad]\ngame.gameSpyPort=65536", 4, "Please enter an integer between 0 and 65535."},
        {"[Server Bad]\nconsole.respawnStep=fast", 4, "Please enter a number."},
        {"[Server Bad]\n\n; note\ngarbage", 6,
         "Not a key=value line, a [Server NAME] header, a comment or a blank line."},
        {"[Server Bad]\ngame.timelimit=5", 4, "Unknown key game.timelimit."},
        {"[Server Bad]\ngame.timeLimit=5\ngame.timeLimit=6", 5, "game.timeLimit is given twice in this section."},
        {"[Options]", 3, "Not a section header; a section begins with [Server NAME]."},
        {"[Server Bad]\ngame.motd=C:\\Games", 4, "Unknown escape; write \\\\ for a backslash."},
        {"[Server Bad]\nschedule.1=Mon 08:00 - Mon 20:00", 4,
         "Please enter a schedule entry such as \"Mon, 08:00 - Mon, 20:00\" (days Sun to Sat or All)."},
        {"[Server Bad]\nschedule.1=Mon, 24:00 - Mon, 20:00", 4,
         "Please enter a schedule entry such as \"Mon, 08:00 - Mon, 20:00\" (days Sun to Sat or All)."},
        {"[Server Bad]\nschedule.count=2\nschedule.1=Mon, 08:00 - Mon, 20:00", 4, "schedule.2 is missing."},
        {"[Server Bad]\ntrackers.2=host:1", 4, "trackers.1 is missing before this entry."},
        {"[Server Bad]\ntrackers.count=1\ntrackers.1=a:1\ntrackers.2=b:2", 6,
         "trackers.2 lies beyond trackers.count=1."},
        {"[Server Bad]\ntrackers.01=a:1", 4, "Unknown key trackers.01; list entries are numbered from 1."},
        {"[Server Bad]\nconsole.address.1=127.0.0.256", 4, "Please enter an IPv4 address such as 127.0.0.1."},
    };
    for (const Case& c : cases) {
        std::vector<CServerConfig> read;
        std::vector<ConfigTextError> errors;
        EXPECT_FALSE(ConfigsFromText(good + c.text, CGlobalOptions{}, read, errors)) << c.text;
        EXPECT_TRUE(read.empty()) << c.text;
        ASSERT_EQ(errors.size(), 1u) << c.text;
        EXPECT_EQ(ConfigTextErrorLine(errors[0]), "Error: line " + std::to_string(c.line) + ": " + c.message);
    }

    // A key before any section; and a flood of bad lines is cut after the listed ones.
    std::string flood = "game.timeLimit=5\n";
    for (int i = 0; i < 60; ++i) flood += "junk\n";
    std::vector<CServerConfig> read;
    std::vector<ConfigTextError> errors;
    EXPECT_FALSE(ConfigsFromText(flood, CGlobalOptions{}, read, errors));
    ASSERT_EQ(errors.size(), kMaxConfigTextErrors + 1);
    EXPECT_EQ(ConfigTextErrorLine(errors[0]),
              "Error: line 1: A key=value line before the first [Server NAME] header.");
    EXPECT_EQ(ConfigTextErrorLine(errors.back()), "Error: 11 further errors not listed.");
}

TEST(ConfigText, ReadRecordsReplaceTheirNamesakesAndTheRestAreAppended) {
    CGlobalOptions options;
    options.defaultMaxPlayers = 9;
    std::vector<CServerConfig> read;
    std::vector<ConfigTextError> errors;
    ASSERT_TRUE(ConfigsFromText("[Server Beta]\ngame.timeLimit=7\n[Server Gamma]\n", options, read, errors));
    // Keys a section leaves out come from a new record made with the global options.
    EXPECT_EQ(read[1].game.maxPlayers, 10u);
    EXPECT_EQ(read[1].game.powerups[kPrimaryWeapons].disallowed, std::vector<std::string>{"Omegacannon"});

    std::vector<CServerConfig> stored(2);
    stored[0].game.gameName = "Alpha";
    stored[1].game.gameName = "Beta";
    const ConfigMergeCount count = MergeConfigs(stored, read);
    EXPECT_EQ(count.replaced, 1u);
    EXPECT_EQ(count.added, 1u);
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].game.gameName, "Alpha");
    EXPECT_EQ(stored[1].game.timeLimit, 7u);
    EXPECT_EQ(stored[2].game.gameName, "Gamma");
}

}  // namespace
}  // namespace hm
