// The server configuration dialog's checks on OK (first failing field in dialog order, its message,
// nothing written back on a failure) and the stored values of its fixed lists.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "servers/server_config_rules.h"

namespace hm {
namespace {

ServerConfigForm ValidForm() {
    CServerConfig config;
    config.game.gameName = "Ironworks Anarchy";
    return FormFromConfig(config);
}

TEST(ServerConfigRules, EachFailingFieldKeepsTheRecordAndSaysWhy) {
    struct Case {
        const char* what;
        std::function<void(ServerConfigForm&)> edit;
        ServerConfigField field;
        const char* message;
    } cases[] = {
        {"empty name", [](auto& f) { f.config.game.gameName.clear(); }, ServerConfigField::Name,
         "Please enter a server name."},
        {"time limit", [](auto& f) { f.timeLimit = 70000; }, ServerConfigField::TimeLimit,
         "Please enter an integer between 0 and 65535."},
        {"kill goal", [](auto& f) { f.killGoal = -1; }, ServerConfigField::KillGoal,
         "Please enter an integer between 0 and 65535."},
        {"taunt delay", [](auto& f) { f.tauntDelay = 65536; }, ServerConfigField::TauntDelay,
         "Please enter an integer between 0 and 65535."},
        {"min respawn", [](auto& f) { f.minRespawn = 1000; }, ServerConfigField::MinRespawn,
         "Please enter an integer between 0 and 999."},
        {"max below min", [](auto& f) { f.minRespawn = 40, f.maxRespawn = 39; }, ServerConfigField::MaxRespawn,
         "Please enter an integer between 40 and 999."},
        {"port 80", [](auto& f) { f.serverPort = 80; }, ServerConfigField::ServerPort,
         "Please enter an integer between 1024 and 65535."},
        {"packets", [](auto& f) { f.packetsPerSecond = 3; }, ServerConfigField::PacketsPerSecond,
         "Please enter an integer between 4 and 99."},
        {"frames", [](auto& f) { f.framesPerSecond = 1000; }, ServerConfigField::FramesPerSecond,
         "Please enter an integer between 0 and 999."},
        {"motd 128", [](auto& f) { f.config.game.motd.assign(128, 'x'); }, ServerConfigField::Motd,
         "Please enter no more than 127 characters."},
        // Dialog order: the name is checked before any number, the port before the packets.
        {"order", [](auto& f) { f.packetsPerSecond = 0, f.serverPort = 0, f.config.game.gameName.clear(); },
         ServerConfigField::Name, "Please enter a server name."},
    };
    for (const Case& c : cases) {
        ServerConfigForm form = ValidForm();
        form.timeLimit = 77;  // a valid edit that a failed check must not write back
        c.edit(form);
        const ServerConfigCheck check = ApplyForm(form);
        EXPECT_EQ(check.field, c.field) << c.what;
        EXPECT_EQ(check.message, c.message) << c.what;
        EXPECT_EQ(form.config.game.timeLimit, 0u) << c.what;
    }
}

TEST(ServerConfigRules, AValidFormWritesEveryNumberIntoItsField) {
    ServerConfigForm form = ValidForm();
    form.config.game.motd.assign(127, 'm');  // the longest accepted
    form.timeLimit = 65535, form.killGoal = 20, form.tauntDelay = 0, form.minRespawn = 999, form.maxRespawn = 999,
    form.serverPort = 65535, form.packetsPerSecond = 99, form.framesPerSecond = 0;
    ASSERT_TRUE(ApplyForm(form).ok());
    const CGameSettings& game = form.config.game;
    EXPECT_EQ(game.timeLimit, 65535u);
    EXPECT_EQ(game.killGoal, 20u);
    EXPECT_EQ(game.audioTauntDelay, 0u);
    EXPECT_EQ(game.minRespawnTime, 999u);
    EXPECT_EQ(game.maxRespawnTime, 999u);
    EXPECT_EQ(game.packetsPerSecond, 99u);
    EXPECT_EQ(form.config.launch.serverPort, 65535);
    EXPECT_EQ(form.config.launch.framesPerSecond, 0u);
    // Opening the dialog on the result shows the same numbers again.
    const ServerConfigForm again = FormFromConfig(form.config);
    EXPECT_EQ(again.minRespawn, 999);
    EXPECT_EQ(again.serverPort, 65535);
}

TEST(ServerConfigRules, FixedListsStoreTheRecordsValues) {
    const auto& players = MaxPlayersChoices();
    ASSERT_EQ(players.size(), 31u);
    EXPECT_EQ(players.front(), (ListChoice{"2", 3}));
    EXPECT_EQ(players.back(), (ListChoice{"32", 33}));
    // A new record made from the global options (6 players) selects "6".
    const CServerConfig fromOptions{CGlobalOptions{}};
    const int selected = ChoiceIndex(players, fromOptions.game.maxPlayers);
    ASSERT_GE(selected, 0);
    EXPECT_EQ(players[selected].text, "6");
    EXPECT_EQ(MaxPlayersShown(MaxPlayersStored(17)), 17u);
    EXPECT_EQ(MaxPlayersShown(0), 0u);  // a damaged record never wraps around

    struct Case {
        const std::vector<ListChoice>& list;
        int64_t value;
        const char* text;  // nullptr: not offered
    } cases[] = {
        {TeamCountChoices(), 0, "None"},        {TeamCountChoices(), 4, "4"},
        {TeamCountChoices(), 1, nullptr},       {DifficultyChoices(), 0, "Very easy"},
        {DifficultyChoices(), 2, "Normal"},     {DifficultyChoices(), 4, "Very hard"},
        {ConnectionModelChoices(), kClientServer, "Client/server"},
        {ConnectionModelChoices(), kPermissible, "Permissible"},
        {ConnectionModelChoices(), kPeerToPeer, "Peer to peer"},
        {ConnectionModelChoices(), 3, nullptr}, {MaxPlayersChoices(), 34, nullptr},
    };
    for (const Case& c : cases) {
        const int index = ChoiceIndex(c.list, c.value);
        if (!c.text) {
            EXPECT_EQ(index, -1) << c.value;
        } else {
            ASSERT_GE(index, 0) << c.text;
            EXPECT_EQ(c.list[index].text, c.text);
        }
    }
}

}  // namespace
}  // namespace hm
