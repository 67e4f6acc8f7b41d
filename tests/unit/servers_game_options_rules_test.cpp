// The game option editors' rules: list moves keep every name in exactly one list, the ship rule, and
// the team options' range checks and write-back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "servers/game_options_rules.h"
#include "servers/server_config.h"

namespace hm {
namespace {

using Names = std::vector<std::string>;

TEST(GameOptionsRules, MovesTakeTheChosenNamesOnceToTheOtherList) {
    struct Case {
        const char* what;
        Names from, to;
        std::vector<size_t> rows;
        Names fromAfter, toAfter;
        std::vector<size_t> landed;
    };
    const Case cases[] = {
        {"list order, whatever the row order", {"Superlaser", "Vauss", "Napalm"}, {"Omegacannon"}, {2, 0},
         {"Vauss"}, {"Omegacannon", "Superlaser", "Napalm"}, {1, 2}},
        {"rows repeated or out of range", {"Frag", "Smart", "Mega"}, {}, {1, 1, 7}, {"Frag", "Mega"}, {"Smart"}, {0}},
        {"nothing chosen", {"Frag"}, {"Guided"}, {}, {"Frag"}, {"Guided"}, {}},
        {"target already holds it in another case", {"Vauss", "MassDriver"}, {"Napalm", "vauss"}, {0},
         {"MassDriver"}, {"Napalm", "vauss"}, {1}},
        {"every copy leaves the source", {"Phoenix", "Magnum-AHT", "phoenix"}, {}, {2}, {"Magnum-AHT"}, {"phoenix"}, {0}},
        {"names with blanks and apostrophes", {"Builders' Icon", "G-1 Security Pass"}, {}, {0, 1}, {},
         {"Builders' Icon", "G-1 Security Pass"}, {0, 1}},
    };
    for (const Case& c : cases) {
        Names from = c.from, to = c.to;
        EXPECT_EQ(MoveItems(from, to, c.rows), c.landed) << c.what;
        EXPECT_EQ(from, c.fromAfter) << c.what;
        EXPECT_EQ(to, c.toAfter) << c.what;
    }
}

TEST(GameOptionsRules, AShipMustStayAllowedAndTheEmberGlNeverDisallowed) {
    struct Case {
        Names allowed, disallowed;
        bool acceptable;
    };
    const Case cases[] = {
        {{"Ember-GL", "Phoenix", "Magnum-AHT", "Black Ember"}, {}, true},
        {{"Ember-GL"}, {"Phoenix", "Magnum-AHT", "Black Ember"}, true},
        {{"Phoenix"}, {}, true},  // the rule is about disallowing it, not about the list it came with
        {{}, {"Ember-GL", "Phoenix"}, false},
        {{}, {}, false},
        {{"Phoenix"}, {"Ember-GL"}, false},
        {{"Phoenix"}, {"ember-gl"}, false},  // as an imported ShipBan line may write it
    };
    for (const Case& c : cases) {
        CShipOptions ships;
        ships.allowedShips = c.allowed;
        ships.disallowedShips = c.disallowed;
        EXPECT_EQ(ShipListsAcceptable(ships), c.acceptable) << ::testing::PrintToString(c.allowed);
    }
}

TEST(GameOptionsRules, TeamCountsAreCheckedInDialogOrder) {
    struct Case {
        int64_t minCount, maxCount;
        TeamOptionsField field;
        const char* message;
    };
    const Case cases[] = {
        {3, 12, TeamOptionsField::None, ""},
        {1, 1, TeamOptionsField::None, ""},
        {12, 12, TeamOptionsField::None, ""},
        {0, 12, TeamOptionsField::MinCount, "Please enter an integer between 1 and 12."},
        {13, 2, TeamOptionsField::MinCount, "Please enter an integer between 1 and 12."},
        {5, 4, TeamOptionsField::MaxCount, "Please enter an integer between 5 and 12."},
        {5, 13, TeamOptionsField::MaxCount, "Please enter an integer between 5 and 12."},
    };
    for (const Case& c : cases) {
        TeamOptionsForm form;
        form.minCount = c.minCount;
        form.maxCount = c.maxCount;
        const TeamOptionsCheck check = CheckTeamOptions(form);
        EXPECT_EQ(check.field, c.field) << c.minCount << " " << c.maxCount;
        EXPECT_EQ(check.message, c.message) << c.minCount << " " << c.maxCount;
    }
}

TEST(GameOptionsRules, TeamNamesAreWrittenOnOneLineWithoutSurroundingBlanks) {
    CServerConfig config;
    TeamOptionsForm form = TeamOptionsFromConfig(config);
    form.teamNames = {"  Red Wing ", "Blue\r\nSetTeamName 3 x", "\t", "Caf\xe9"};
    WriteTeamOptions(form, config);
    const std::array<std::string, 4> names = {"Red Wing", "Blue  SetTeamName 3 x", "", "Caf\xe9"};
    EXPECT_EQ(config.autoexec.teamNames, names);
}

}  // namespace
}  // namespace hm
