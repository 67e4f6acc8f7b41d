// The scheduler, game tracker and console editors as the operator drives them: what Set, Add and
// Remove do and when they can be pressed, the checks of OK that keep the dialog open, Enter and Esc,
// and what reaches the configuration through OK (and what Cancel leaves alone).
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>

#include <cstdlib>
#include <ctime>
#include <functional>

#include "servers/server_config.h"
#include "ui/console_dialog.h"
#include "ui/editor_context.h"
#include "ui/scheduler_dialog.h"
#include "ui/trackers_dialog.h"
#include "ui_harness.h"

namespace hm::ui_test {

namespace {

enum Day : uint16_t { Sun, Mon, Tue, Wed, Thu, Fri, Sat, All };

class EditorsTest : public ::testing::Test {
protected:
    RecordingPresenter presenter;
    EditorContext context{presenter, true, nullptr};
};

TEST_F(EditorsTest, SchedulerOpensAtMidnightInEveryZoneAddsOnceKeepsSortedAndOkRebuildsTheEntries) {
    const char* zone = std::getenv("TZ");
    const std::string savedZone = zone ? zone : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    CServerConfig config;
    config.schedule.enabled = 1;
    config.schedule.entries = {{{Sat, 10, 0}, {Sun, 2, 0}}, {{Fri, 22, 0}, {Mon, 6, 0}}};

    const int result = Edit<SchedulerDialog>(config, context, presenter, [&](SchedulerDialog& dialog) {
        auto* startDay = Find<QComboBox>(dialog, "startDay");
        auto* stopDay = Find<QComboBox>(dialog, "stopDay");
        auto* startTime = Find<QTimeEdit>(dialog, "startTime");
        auto* stopTime = Find<QTimeEdit>(dialog, "stopTime");
        auto* set = Find<QPushButton>(dialog, "set");
        auto* remove = Find<QPushButton>(dialog, "remove");
        auto* entries = Find<QListWidget>(dialog, "entries");
        EXPECT_EQ(startTime->time().toString("HH:mm").toStdString(), "00:00");
        EXPECT_EQ(stopTime->time().toString("HH:mm").toStdString(), "00:00");
        EXPECT_EQ(startDay->currentText(), "All days");
        EXPECT_EQ(stopDay->currentText(), "All days");
        EXPECT_EQ(Lines(entries), QStringList({"Fri, 22:00 - Mon, 06:00", "Sat, 10:00 - Sun, 02:00"}));
        EXPECT_FALSE(remove->isEnabled());

        // Equal start and stop is refused with a word; the same pair twice is listed once.
        QTest::mouseClick(set, Qt::LeftButton);
        EXPECT_EQ(entries->count(), 2);
        EXPECT_EQ(presenter.messages.size(), 1);
        startDay->setCurrentIndex(Mon);
        stopDay->setCurrentIndex(Mon);
        startTime->setTime(QTime(8, 0));
        stopTime->setTime(QTime(20, 0));
        QTest::mouseClick(set, Qt::LeftButton);
        QTest::mouseClick(set, Qt::LeftButton);
        startDay->setCurrentIndex(All);
        stopDay->setCurrentIndex(All);
        startTime->setTime(QTime(18, 0));
        stopTime->setTime(QTime(23, 0));
        QTest::mouseClick(set, Qt::LeftButton);
        EXPECT_EQ(presenter.messages.size(), 1);
        EXPECT_EQ(Lines(entries), QStringList({"All, 18:00 - All, 23:00", "Fri, 22:00 - Mon, 06:00",
                                               "Mon, 08:00 - Mon, 20:00", "Sat, 10:00 - Sun, 02:00"}));
        SaveShot(dialog, "scheduler");

        // Remove only with a selection, and only the selected line.
        entries->clearSelection();
        EXPECT_FALSE(remove->isEnabled());
        entries->item(3)->setSelected(true);
        EXPECT_TRUE(remove->isEnabled());
        QTest::mouseClick(remove, Qt::LeftButton);
        EXPECT_FALSE(remove->isEnabled());
        EXPECT_EQ(entries->count(), 3);
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    setenv("TZ", savedZone.c_str(), 1);
    if (savedZone.empty()) unsetenv("TZ");
    tzset();

    ASSERT_EQ(result, QDialog::Accepted);
    const std::vector<ScheduleEntry> expected = {
        {{All, 18, 0}, {All, 23, 0}}, {{Fri, 22, 0}, {Mon, 6, 0}}, {{Mon, 8, 0}, {Mon, 20, 0}}};
    EXPECT_EQ(config.schedule.entries, expected);
    EXPECT_TRUE(config.schedule.IsRunTime({2026, 3, 2, 9, 0, 0, 0, Mon}));   // Monday 09:00
    EXPECT_FALSE(config.schedule.IsRunTime({2026, 3, 2, 20, 0, 0, 0, Mon})); // Monday 20:00

    // Cancel (Esc) after a change hands nothing back.
    EXPECT_EQ(Edit<SchedulerDialog>(config, context, presenter,
                                    [&](SchedulerDialog& dialog) {
                                        Find<QListWidget>(dialog, "entries")->item(0)->setSelected(true);
                                        QTest::mouseClick(Find<QPushButton>(dialog, "remove"), Qt::LeftButton);
                                        QTest::keyClick(&dialog, Qt::Key_Escape);
                                    }),
              QDialog::Rejected);
    EXPECT_EQ(config.schedule.entries, expected);
}

TEST_F(EditorsTest, TrackersAddWithTheDefaultPortRemoveSelectedAndCheckThePortOnOk) {
    CServerConfig config;
    config.trackers.trackers = {"master.example.net:27900", "second.example.org:22999"};
    config.trackers.postToWebTracker = 1;
    const int result = Edit<TrackersDialog>(config, context, presenter, [&](TrackersDialog& dialog) {
        auto* list = Find<QListWidget>(dialog, "trackers");
        auto* field = Find<QLineEdit>(dialog, "newTracker");
        auto* add = Find<QPushButton>(dialog, "add");
        auto* remove = Find<QPushButton>(dialog, "remove");
        auto* port = Find<QLineEdit>(dialog, "gameSpyPort");
        auto* web = Find<QCheckBox>(dialog, "webTracker");
        EXPECT_FALSE(web->isEnabled());
        EXPECT_FALSE(web->isChecked());
        EXPECT_FALSE(add->isEnabled());
        EXPECT_FALSE(remove->isEnabled());
        EXPECT_EQ(port->text(), "20144");

        QTest::keyClicks(field, "third.example.com");
        EXPECT_TRUE(add->isEnabled());
        QTest::mouseClick(add, Qt::LeftButton);
        EXPECT_TRUE(field->text().isEmpty());
        EXPECT_FALSE(add->isEnabled());
        // Enter in the field adds too, and keeps the dialog open.
        QTest::keyClicks(field, "fourth.example.com:28000");
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_TRUE(dialog.isVisible());
        // A line that would announce the server nowhere is refused and stays in the field.
        QTest::keyClicks(field, "fifth.example.com:port");
        QTest::mouseClick(add, Qt::LeftButton);
        EXPECT_EQ(presenter.messages.size(), 1);
        EXPECT_EQ(field->text(), "fifth.example.com:port");
        field->clear();
        EXPECT_EQ(Lines(list), QStringList({"master.example.net:27900", "second.example.org:22999",
                                            "third.example.com:27900", "fourth.example.com:28000"}));

        list->item(1)->setSelected(true);
        EXPECT_TRUE(remove->isEnabled());
        QTest::mouseClick(remove, Qt::LeftButton);
        EXPECT_FALSE(remove->isEnabled());

        for (const char* wrong : {"1023", "65536", ""}) {
            port->setText(wrong);
            QTest::mouseClick(Ok(dialog), Qt::LeftButton);
            EXPECT_TRUE(dialog.isVisible()) << wrong;
            EXPECT_EQ(presenter.messages.last(), "Please enter an integer between 1024 and 65535.");
            EXPECT_EQ(dialog.focusWidget(), port) << wrong;
        }
        port->setText("20150");
        SaveShot(dialog, "trackers");
        QTest::mouseClick(Ok(dialog), Qt::LeftButton);
    });
    ASSERT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(config.trackers.trackers, (std::vector<std::string>{"master.example.net:27900", "third.example.com:27900",
                                                                  "fourth.example.com:28000"}));
    EXPECT_EQ(config.launch.gameSpyPort, 20150);
    EXPECT_EQ(config.game.gameSpyPort, 20150);
    EXPECT_EQ(config.trackers.postToWebTracker, 0u);
}

TEST_F(EditorsTest, ConsoleEnableRulesMinutesRangeAndTheLibrarySwitch) {
    CServerConfig config;
    config.game.consolePassword = "xK3pQ9aZ";
    config.game.remoteConsolePort = 2100;
    config.console.logConsole = 1;
    config.console.useJotwell = 1;
    config.console.autoCommands = {"say Welcome to the server!", "$SetRespawnTime 20"};
    config.console.autoRepeat = 1;
    config.console.autoRepeatMinutes = 30;

    // With the library: its switch is offered and shows what the record holds.
    EXPECT_EQ(Edit<ConsoleDialog>(config, context, presenter,
                                  [&](ConsoleDialog& dialog) {
                                      auto* jotwell = Find<QCheckBox>(dialog, "useJotwell");
                                      EXPECT_TRUE(jotwell->isEnabled());
                                      EXPECT_TRUE(jotwell->isChecked());
                                      QTest::keyClick(&dialog, Qt::Key_Escape);
                                  }),
              QDialog::Rejected);

    context.jotwellPresent = false;
    const int result = Edit<ConsoleDialog>(config, context, presenter, [&](ConsoleDialog& dialog) {
        auto* jotwell = Find<QCheckBox>(dialog, "useJotwell");
        auto* onlyOne = Find<QCheckBox>(dialog, "onlyOne");
        auto* random = Find<QCheckBox>(dialog, "random");
        auto* repeat = Find<QCheckBox>(dialog, "repeat");
        auto* minutes = Find<QSpinBox>(dialog, "minutes");
        auto* password = Find<QLineEdit>(dialog, "password");
        auto* command = Find<QLineEdit>(dialog, "command");
        auto* commands = Find<QListWidget>(dialog, "commands");
        auto* add = Find<QPushButton>(dialog, "add");
        auto* remove = Find<QPushButton>(dialog, "remove");
        EXPECT_FALSE(jotwell->isEnabled());
        EXPECT_FALSE(jotwell->isChecked());
        EXPECT_EQ(password->text(), "xK3pQ9aZ");
        EXPECT_EQ(Find<QLineEdit>(dialog, "port")->text(), "2100");

        struct Rule {
            bool onlyOne, repeat, randomEnabled, minutesEnabled;
        } rules[] = {{false, false, false, false}, {true, false, true, false}, {false, true, false, true},
                     {true, true, true, true}};
        for (const Rule& rule : rules) {
            onlyOne->setChecked(rule.onlyOne);
            repeat->setChecked(rule.repeat);
            EXPECT_EQ(random->isEnabled(), rule.randomEnabled) << rule.onlyOne << rule.repeat;
            EXPECT_EQ(minutes->isEnabled(), rule.minutesEnabled) << rule.onlyOne << rule.repeat;
        }
        random->setChecked(true);

        // Commands: Add only with text, Remove only with a selection.
        EXPECT_FALSE(add->isEnabled());
        EXPECT_FALSE(remove->isEnabled());
        QTest::keyClicks(command, "$rehash");
        QTest::keyClick(command, Qt::Key_Return);
        commands->item(1)->setSelected(true);
        QTest::mouseClick(remove, Qt::LeftButton);
        EXPECT_EQ(Lines(commands), QStringList({"say Welcome to the server!", "$rehash"}));

        for (int wrong : {0, 1441}) {
            minutes->setValue(wrong);
            QTest::mouseClick(Ok(dialog), Qt::LeftButton);
            EXPECT_TRUE(dialog.isVisible()) << wrong;
            EXPECT_EQ(presenter.messages.last(), "Please enter an integer between 1 and 1440.");
            EXPECT_EQ(dialog.focusWidget(), minutes) << wrong;
        }
        // A character the game's files cannot hold keeps the dialog open on the password.
        password->setFocus();
        password->setText(QString::fromUtf8("pass\u03A9"));
        minutes->setValue(1440);
        QTest::mouseClick(Ok(dialog), Qt::LeftButton);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), password);
        password->selectAll();
        QTest::keyClicks(password, "Vr7mT2qW");
        EXPECT_EQ(password->text(), "Vr7mT2qW");
        minutes->setValue(1);
        Find<QCheckBox>(dialog, "logTimestamps")->setChecked(true);
        Find<QCheckBox>(dialog, "logPlayerAddresses")->setChecked(true);
        QTest::keyClick(minutes, Qt::Key_End);  // the failed checks left the value selected
        password->setFocus();
        SaveShot(dialog, "console-logging");
        QTest::mouseClick(Ok(dialog), Qt::LeftButton);
    });
    ASSERT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(config.game.consolePassword, "Vr7mT2qW");
    EXPECT_EQ(config.console.password, "Vr7mT2qW");
    EXPECT_EQ(config.console.useJotwell, 0u);
    EXPECT_EQ(config.console.autoRepeatMinutes, 1u);
    EXPECT_EQ(config.console.autoOnlyOne, 1u);
    EXPECT_EQ(config.console.autoRandom, 1u);
    EXPECT_EQ(config.console.logPlayerAddresses, 1u);
    EXPECT_EQ(config.console.autoCommands, (std::vector<std::string>{"say Welcome to the server!", "$rehash"}));
}

}  // namespace
}  // namespace hm::ui_test
