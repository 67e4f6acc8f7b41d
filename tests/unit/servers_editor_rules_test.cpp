// The rules of the tracker and console editors that the window tests do not reach: every refused form
// of a typed tracker or command, the order of the console checks, and the fields OK leaves alone.
#include <gtest/gtest.h>

#include "servers/console_rules.h"
#include "servers/server_config.h"
#include "servers/tracker_rules.h"

namespace hm {
namespace {

TEST(TrackerRules, AddAppendsTheDefaultPortAndRefusesLinesThatAnnounceNowhere) {
    struct Case {
        const char* text;
        const char* tracker;  // nullptr: refused
    } cases[] = {
        {"master.example.net", "master.example.net:27900"},
        {"  second.example.org:22999 \t", "second.example.org:22999"},
        {"third.example.com:1", "third.example.com:1"},
        {"third.example.com:65535", "third.example.com:65535"},
        {"   ", nullptr},
        {":27900", nullptr},
        {"two words:27900", nullptr},
        {"host:", nullptr},
        {"host:0", nullptr},
        {"host:65536", nullptr},
        {"host:27900:1", nullptr},
        {"host:+80", nullptr},
    };
    for (const Case& c : cases) {
        const TrackerText result = TrackerFromText(c.text);
        if (c.tracker) {
            EXPECT_TRUE(result.ok()) << c.text << ": " << result.message;
            EXPECT_EQ(result.tracker, c.tracker) << c.text;
        } else {
            EXPECT_FALSE(result.ok()) << c.text;
            EXPECT_TRUE(result.tracker.empty()) << c.text;
        }
    }
}

TEST(ConsoleRules, OkChecksPortAndMinutesOnlyWhereTheyCount) {
    struct Case {
        int64_t port;
        bool repeat;
        int64_t minutes;
        ConsoleField field;
    } cases[] = {
        {2092, true, 1, ConsoleField::None},
        {2092, true, 1440, ConsoleField::None},
        {2092, true, 0, ConsoleField::RepeatMinutes},
        {2092, true, 1441, ConsoleField::RepeatMinutes},
        {2092, false, 0, ConsoleField::None},  // a disabled field cannot be corrected
        {1023, true, 0, ConsoleField::Port},   // the port comes first
        {65536, false, 60, ConsoleField::Port},
        {-1, false, 60, ConsoleField::Port},   // an empty field
    };
    for (const Case& c : cases) {
        ConsoleForm form;
        form.port = c.port;
        form.autoRepeat = c.repeat;
        form.repeatMinutes = c.minutes;
        const ConsoleCheck check = CheckConsoleForm(form);
        EXPECT_EQ(check.field, c.field) << c.port << " " << c.minutes;
        EXPECT_EQ(check.message.empty(), c.field == ConsoleField::None);
    }
}

TEST(ConsoleRules, CommandsAreSingleLinesTheConsoleSendsWhole) {
    EXPECT_EQ(CheckAutoCommand("say Welcome to the server!"), "");
    EXPECT_EQ(CheckAutoCommand(std::string(1021, 'x')), "");
    for (const std::string& bad : {std::string(), std::string("say a\r\nquit"), std::string("say\tx"), std::string(1022, 'x')})
        EXPECT_NE(CheckAutoCommand(bad), "") << bad.size();
}

TEST(ConsoleRules, FormRoundTripWritesTheLaunchFieldsAndClearsTheLibrarySwitchWithoutTheLibrary) {
    CServerConfig config;
    config.game.consolePassword = "xK3pQ9aZ";
    config.game.remoteConsolePort = 2100;
    config.console.password = "stale";
    config.console.addresses = {0x0100007Fu};
    config.console.useJotwell = 1;
    config.console.autoRepeatMinutes = 0;  // a damaged store

    ConsoleForm form = ConsoleFormFrom(config, false);
    EXPECT_EQ(form.password, "xK3pQ9aZ");
    EXPECT_EQ(form.port, 2100);
    EXPECT_FALSE(form.useJotwell);
    EXPECT_TRUE(ConsoleFormFrom(config, true).useJotwell);

    form.port = 3100;
    form.useJotwell = true;  // whatever the form says, no library means no switch
    ApplyConsoleForm(form, false, config);
    EXPECT_EQ(config.console.password, "xK3pQ9aZ");
    EXPECT_EQ(config.game.remoteConsolePort, 3100);
    EXPECT_EQ(config.console.port, 3100);
    EXPECT_EQ(config.console.useJotwell, 0u);
    EXPECT_EQ(config.console.autoRepeatMinutes, 1u);  // unchecked (repeat off), brought into range
    EXPECT_EQ(config.console.addresses, std::vector<uint32_t>{0x0100007Fu});  // the launch's, untouched

    ApplyConsoleForm(form, true, config);
    EXPECT_EQ(config.console.useJotwell, 1u);
}

}  // namespace
}  // namespace hm
