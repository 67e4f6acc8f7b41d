// Global options: the random default password and the rules of the options dialog (range checks,
// alternate address, update check, restart minutes).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "servers/global_options.h"
#include "servers/global_options_rules.h"
#include "servers/random_string.h"

namespace hm {
namespace {

TEST(RandomString, EightCharactersOfTheSetRepeatablePerSeed) {
    const std::string chars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::set<std::string> seen;
    for (uint32_t seed : {0u, 1u, 2u, 1000u, 0xFFFFFFFFu}) {
        const std::string text = RandomString(seed);
        ASSERT_EQ(text.size(), 8u);
        EXPECT_EQ(text.find_first_not_of(chars), std::string::npos) << text;
        EXPECT_EQ(RandomString(seed), text);
        seen.insert(text);
    }
    EXPECT_GT(seen.size(), 1u);
}

TEST(GlobalOptionsRules, EachFieldRejectsJustOutsideItsRange) {
    struct Case {
        GlobalOptionsField field;
        int64_t GlobalOptionsForm::*member;
        int64_t low, high;
    } cases[] = {
        {GlobalOptionsField::BaseServerPort, &GlobalOptionsForm::baseServerPort, 1024, 65535},
        {GlobalOptionsField::DefaultPacketsPerSecond, &GlobalOptionsForm::defaultPacketsPerSecond, 4, 99},
        {GlobalOptionsField::DefaultFramesPerSecond, &GlobalOptionsForm::defaultFramesPerSecond, 0, 999},
        {GlobalOptionsField::DefaultMaxPlayers, &GlobalOptionsForm::defaultMaxPlayers, 2, 31},
        {GlobalOptionsField::BaseConsolePort, &GlobalOptionsForm::baseConsolePort, 1024, 65535},
        {GlobalOptionsField::AutoRestartMinutes, &GlobalOptionsForm::autoRestartMinutes, 1, 10080},
        {GlobalOptionsField::DefaultTimeLimit, &GlobalOptionsForm::defaultTimeLimit, 0, 65535},
        {GlobalOptionsField::DefaultKillGoal, &GlobalOptionsForm::defaultKillGoal, 0, 65535},
        {GlobalOptionsField::MaxPlayersAll, &GlobalOptionsForm::maxPlayersAll, 0, 999},
    };
    const GlobalOptionsForm good = FormFromOptions(CGlobalOptions(1));
    ASSERT_TRUE(CheckForm(good).ok());
    for (const Case& c : cases) {
        const std::string message = "Please enter an integer between " + std::to_string(c.low) + " and " +
                                    std::to_string(c.high) + ".";
        for (int64_t value : {c.low - 1, c.low, c.high, c.high + 1}) {
            GlobalOptionsForm form = good;
            form.*(c.member) = value;
            const FieldCheck check = CheckForm(form);
            if (value < c.low || value > c.high) {
                EXPECT_EQ(check.field, c.field) << value;
                EXPECT_EQ(check.message, message);
            } else {
                EXPECT_TRUE(check.ok()) << static_cast<int>(c.field) << " " << value;
            }
        }
    }
    GlobalOptionsForm motd = good;
    motd.options.defaultMotd = std::string(127, 'm');
    EXPECT_TRUE(CheckForm(motd).ok());
    motd.options.defaultMotd += 'm';
    EXPECT_EQ(CheckForm(motd).field, GlobalOptionsField::DefaultMotd);
}

TEST(GlobalOptionsRules, AlternateAddressStoredOnlyWithFourNonZeroFields) {
    struct Case {
        std::string entered, stored;
    } cases[] = {{"192.168.0.10", ""}, {"10.1.1.1", "10.1.1.1"}, {"10.1.1.0", ""},
                 {"", ""},             {"1.2.3", ""},           {"300.2.3.4", "44.2.3.4"}};
    for (const Case& c : cases) {
        EXPECT_EQ(AlternateAddressFromFields(AddressFieldsFromText(c.entered)), c.stored) << c.entered;
    }
    EXPECT_EQ(AddressFieldsFromText("1.2.3.4.5"), (std::array<uint32_t, 4>{1, 2, 3, 4}));
}

TEST(GlobalOptionsRules, OkTakesMinutesRegionAddressAndVersionCheck) {
    struct Case {
        uint32_t before;
        bool ticked;
        uint32_t lastCheck;
    } cases[] = {{0, true, 0}, {1, true, 777}, {1, false, 777}, {0, false, 777}};
    for (const Case& c : cases) {
        CGlobalOptions options(1);
        options.versionCheck = c.before;
        options.lastVersionCheck = 777;
        GlobalOptionsForm form = FormFromOptions(options);
        EXPECT_EQ(form.autoRestartMinutes, 360);
        form.versionCheckTicked = c.ticked;
        form.autoRestartMinutes = 90;
        form.region = 7;
        form.addressFields = {10, 1, 1, 1};
        CGlobalOptions result(2);
        ASSERT_TRUE(ApplyForm(form, result).ok());
        EXPECT_EQ(result.lastVersionCheck, c.lastCheck) << c.before << c.ticked;
        EXPECT_EQ(result.versionCheck, c.ticked ? 1u : 0u);
        EXPECT_EQ(result.autoRestartPeriod, 5400000u);
        EXPECT_EQ(result.region, 7u);
        EXPECT_EQ(result.alternateAddress, "10.1.1.1");
    }
    for (int64_t minutes : {0, 10081}) {
        GlobalOptionsForm form = FormFromOptions(CGlobalOptions(1));
        form.autoRestartMinutes = minutes;
        CGlobalOptions result(3);
        const FieldCheck check = ApplyForm(form, result);
        EXPECT_EQ(check.field, GlobalOptionsField::AutoRestartMinutes);
        EXPECT_EQ(check.message, "Please enter an integer between 1 and 10080.");
        EXPECT_EQ(result.defaultConsolePassword, RandomString(3));  // untouched
    }
}

}  // namespace
}  // namespace hm
