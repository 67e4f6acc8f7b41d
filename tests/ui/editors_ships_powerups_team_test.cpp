// The ship, powerup and team option editors as the operator uses them: what a new configuration shows,
// moves that keep every name in exactly one list, OK refused with the right message while the dialog
// stays open, the team controls that follow the number of teams, and what Apply and Cancel leave in
// the caller's record.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include <set>

#include "servers/game_options_rules.h"
#include "servers/server_config.h"
#include "ui/allowed_lists_editor.h"
#include "ui/editor_context.h"
#include "ui/powerups_dialog.h"
#include "ui/ships_dialog.h"
#include "ui/team_options_dialog.h"
#include "ui/text_codec.h"
#include "ui_harness.h"

namespace hm::ui_test {
namespace {

using Names = std::vector<std::string>;

Names Shown(const QListWidget& list) {
    Names names;
    for (int row = 0; row < list.count(); ++row) names.push_back(*FromQt(list.item(row)->text()));
    return names;
}

void Select(QListWidget& list, const std::set<std::string>& names) {
    list.clearSelection();
    for (int row = 0; row < list.count(); ++row) {
        if (names.count(*FromQt(list.item(row)->text()))) list.item(row)->setSelected(true);
    }
}

// Every name stands exactly once in the two lists together, and the lists show the dialog's copy.
void ExpectEachNameOnce(const AllowedListsEditor& lists, const Names& all) {
    Names shown = Shown(*lists.allowedList());
    const Names disallowed = Shown(*lists.disallowedList());
    shown.insert(shown.end(), disallowed.begin(), disallowed.end());
    EXPECT_EQ(std::multiset<std::string>(shown.begin(), shown.end()), std::multiset<std::string>(all.begin(), all.end()));
}

void ClickOk(QDialog& dialog) {
    QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

class EditorsTest : public ::testing::Test {
protected:
    RecordingPresenter presenter;
    EditorContext context{presenter};
    CServerConfig config;
};

TEST_F(EditorsTest, ShipsShowTheDefaultsMoveBetweenTheListsAndKeepTheShipRuleOnOk) {
    const CServerConfig before = config;
    ShipsDialog dialog(config, context);
    dialog.show();
    AllowedListsEditor& lists = *dialog.lists();
    const Names ships = {"Ember-GL", "Phoenix", "Magnum-AHT", "Black Ember"};
    EXPECT_EQ(Shown(*lists.allowedList()), ships);
    EXPECT_EQ(lists.disallowedList()->count(), 0);
    EXPECT_FALSE(lists.disallowButton()->isEnabled());
    SaveShot(dialog, "ships");

    // Two ships across, one by double click back: each ship in exactly one list, moved names at the end.
    Select(*lists.allowedList(), {"Phoenix", "Black Ember"});
    EXPECT_TRUE(lists.disallowButton()->isEnabled());
    QTest::mouseClick(lists.disallowButton(), Qt::LeftButton);
    EXPECT_EQ(Shown(*lists.disallowedList()), (Names{"Phoenix", "Black Ember"}));
    QListWidget& right = *lists.disallowedList();
    const QPoint first = right.visualItemRect(right.item(0)).center();
    QTest::mouseClick(right.viewport(), Qt::LeftButton, {}, first);
    QTest::mouseDClick(right.viewport(), Qt::LeftButton, {}, first);
    EXPECT_EQ(Shown(*lists.allowedList()), (Names{"Ember-GL", "Magnum-AHT", "Phoenix"}));
    EXPECT_EQ(Shown(right), (Names{"Black Ember"}));
    ExpectEachNameOnce(lists, ships);

    // OK is refused with the note while a rule is broken, and the dialog stays open.
    struct Case {
        const char* what;
        std::set<std::string> disallow;
    };
    const Case refused[] = {{"the Ember-GL disallowed", {"Ember-GL"}},
                            {"no ship allowed", {"Ember-GL", "Magnum-AHT", "Phoenix", "Black Ember"}}};
    for (const Case& c : refused) {
        presenter.messages.clear();
        QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::RestoreDefaults),
                          Qt::LeftButton);
        Select(*lists.allowedList(), c.disallow);
        lists.DisallowSelected();
        ClickOk(dialog);
        EXPECT_EQ(presenter.messages, QStringList{QString::fromLatin1(kShipNote)}) << c.what;
        EXPECT_TRUE(dialog.isVisible()) << c.what;
        ExpectEachNameOnce(lists, ships);
    }

    // Cancel leaves the caller's record; Enter is OK, and Apply writes the lists back.
    QTest::keyClick(lists.allowedList(), Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(config.ships.allowedShips, before.ships.allowedShips);
    EXPECT_TRUE(config.ships.disallowedShips.empty());

    ShipsDialog again(config, context);
    again.show();
    Select(*again.lists()->allowedList(), {"Magnum-AHT"});
    again.lists()->DisallowSelected();
    presenter.messages.clear();
    QTest::keyClick(again.lists()->allowedList(), Qt::Key_Return);
    EXPECT_EQ(again.result(), QDialog::Accepted);
    EXPECT_TRUE(presenter.messages.isEmpty());
    again.Apply(config);
    EXPECT_EQ(config.ships.allowedShips, (Names{"Ember-GL", "Phoenix", "Black Ember"}));
    EXPECT_EQ(config.ships.disallowedShips, (Names{"Magnum-AHT"}));
    EXPECT_EQ(config.game.powerups, before.game.powerups);
}

TEST_F(EditorsTest, PowerupsShowEveryCategoryAndMovesKeepEachNameInExactlyOneList) {
    config.game.powerups[kPrimaryWeapons].disallowed.push_back("vauss");  // as an import writes it
    std::erase(config.game.powerups[kPrimaryWeapons].allowed, "Vauss");
    const CServerConfig before = config;
    PowerupsDialog dialog(config, context);
    dialog.show();
    ASSERT_EQ(dialog.pages()->count(), kPowerupCategoryCount);
    for (int i = 0; i < kPowerupCategoryCount; ++i) {
        EXPECT_EQ(dialog.pages()->tabText(i).remove('&'), kPowerupCategoryLabels[i]);
        EXPECT_EQ(Shown(*dialog.category(i)->allowedList()), config.game.powerups[static_cast<size_t>(i)].allowed);
        EXPECT_EQ(Shown(*dialog.category(i)->disallowedList()), config.game.powerups[static_cast<size_t>(i)].disallowed);
    }
    dialog.pages()->setCurrentIndex(kPowerups);
    SaveShot(dialog, "powerups");

    // Others: everything across, two names back; primary: an allowed name goes back in the case it has.
    dialog.pages()->setCurrentIndex(kOthers);
    AllowedListsEditor& others = *dialog.category(kOthers);
    const Names allOthers = config.game.powerups[kOthers].allowed;
    ASSERT_EQ(allOthers.size(), 58u);
    QTest::mouseClick(others.disallowAllButton(), Qt::LeftButton);
    EXPECT_EQ(others.allowedList()->count(), 0);
    EXPECT_FALSE(others.disallowAllButton()->isEnabled());
    Select(*others.disallowedList(), {"Builders' Icon", "G-1 Security Pass"});
    QTest::mouseClick(others.allowButton(), Qt::LeftButton);
    EXPECT_EQ(Shown(*others.allowedList()), (Names{"Builders' Icon", "G-1 Security Pass"}));
    ExpectEachNameOnce(others, allOthers);
    AllowedListsEditor& primary = *dialog.category(kPrimaryWeapons);
    Select(*primary.disallowedList(), {"vauss"});
    primary.AllowSelected();
    EXPECT_EQ(Shown(*primary.allowedList()).back(), "vauss");

    // Nothing reached the caller's record before OK; Apply writes the four categories.
    EXPECT_EQ(config.game.powerups, before.game.powerups);
    QTest::keyClick(others.disallowedList(), Qt::Key_Return);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    dialog.Apply(config);
    EXPECT_EQ(config.game.powerups[kOthers].allowed, (Names{"Builders' Icon", "G-1 Security Pass"}));
    EXPECT_EQ(config.game.powerups[kOthers].disallowed.size(), 56u);
    EXPECT_EQ(config.game.powerups[kPrimaryWeapons].disallowed, (Names{"Omegacannon"}));
    EXPECT_EQ(config.game.powerups[kSecondaryWeapons], before.game.powerups[kSecondaryWeapons]);
    EXPECT_EQ(config.ships.disallowedShips, before.ships.disallowedShips);
}

TEST_F(EditorsTest, TeamOptionsFollowTheNumberOfTeamsCheckTheCountsAndWriteOnlyTheTeamFields) {
    struct Case {
        uint32_t numTeams;
        int openNames;
        bool teamSettings;
    };
    for (const Case c : {Case{0, 0, false}, Case{2, 2, true}, Case{4, 4, true}}) {
        config.game.numTeams = c.numTeams;
        TeamOptionsDialog dialog(config, context);
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(dialog.teamName(i)->isEnabled(), static_cast<int>(i) < c.openNames) << c.numTeams;
        for (QCheckBox* box : {dialog.allowTeamChange(), dialog.autoBalance(), dialog.teamDamage()}) {
            EXPECT_EQ(box->isEnabled(), c.teamSettings) << c.numTeams;
        }
        EXPECT_TRUE(dialog.minCount()->isEnabled() && dialog.maxCount()->isEnabled());
    }

    config.game.numTeams = 2;
    config.autoexec.serverHudNames = "Full";
    config.autoexec.teamNames[3] = "Reserve";
    const CServerConfig before = config;
    TeamOptionsDialog dialog(config, context);
    dialog.show();
    EXPECT_TRUE(dialog.allowTeamChange()->isChecked() && dialog.autoBalance()->isChecked() &&
                dialog.teamDamage()->isChecked());
    EXPECT_EQ(dialog.minCount()->value(), 3);
    EXPECT_EQ(dialog.maxCount()->value(), 12);
    EXPECT_EQ(dialog.teamName(3)->text(), "Reserve");
    SaveShot(dialog, "team-options");

    // Refused on OK, dialog open: a maximum below the minimum, a name the game's files cannot hold.
    dialog.minCount()->setValue(6);
    dialog.maxCount()->setValue(5);
    ClickOk(dialog);
    EXPECT_EQ(presenter.messages.value(0), "Please enter an integer between 6 and 12.");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.focusWidget(), dialog.maxCount());
    dialog.maxCount()->setValue(6);
    dialog.teamName(0)->setText(QString::fromUtf8("  Red \xce\xa9 "));
    ClickOk(dialog);
    EXPECT_EQ(presenter.messages.value(1), QString::fromUtf8("The name of team 0 contains the character \"\xce\xa9\", which "
                                                             "the game's files cannot hold. Please enter a name without it."));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(config.autoexec.minCount, before.autoexec.minCount);

    dialog.teamName(0)->setText("  Red Wing ");
    dialog.teamName(1)->setText(QString::fromUtf8("Caf\xc3\xa9"));
    dialog.teamDamage()->setChecked(false);
    QTest::keyClick(dialog.teamName(1), Qt::Key_Return);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(presenter.messages.size(), 2);
    dialog.Apply(config);
    EXPECT_EQ(config.autoexec.teamNames, (std::array<std::string, 4>{"Red Wing", "Caf\xe9", "", "Reserve"}));
    EXPECT_EQ(config.autoexec.minCount, 6u);
    EXPECT_EQ(config.autoexec.maxCount, 6u);
    EXPECT_EQ(config.game.teamDamage, 0u);
    EXPECT_EQ(config.autoexec.serverHudNames, "Full");
    EXPECT_EQ(config.game.numTeams, 2u);
}

}  // namespace
}  // namespace hm::ui_test
