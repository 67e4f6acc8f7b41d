// The global options dialog against the demo installation: what a fresh installation shows, the
// enable rules, the checks that keep the dialog open, what OK and Cancel leave behind, the game folder
// (from the dialog and at a start-up whose installation check fails) and the help page.
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QUrl>

#include <fstream>

#include "game/game_installation.h"
#include "servers/dialog_state.h"
#include "ui/global_options_dialog.h"
#include "ui/info_server_options_dialog.h"
#include "ui_harness.h"

namespace hm::ui_test {

// Catches what the dialog opens in the browser.
class HelpCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

namespace {

std::string Stored(const CGlobalOptions& options) {
    std::string bytes;
    {
        ArchiveWriter ar(&bytes);
        options.Write(ar);
    }
    return bytes;
}

class GlobalOptionsTest : public UiHarness {
protected:
    // Opens the dialog with the main window's button and hands it to `handle`.
    void WithDialog(const std::function<void(GlobalOptionsDialog&)>& handle) {
        bool shown = false;
        presenter.onExec = [&](QDialog& dialog) {
            auto* options = dynamic_cast<GlobalOptionsDialog*>(&dialog);
            if (!options) return onOther ? onOther(dialog) : static_cast<int>(QDialog::Rejected);
            shown = true;
            handle(*options);
            return dialog.result();
        };
        QTest::mouseClick(window->findChild<QPushButton*>("globalOptions"), Qt::LeftButton);
        EXPECT_TRUE(shown);
    }
    std::function<int(QDialog&)> onOther;  // the sub-dialogs the options dialog opens
    static void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    static QPushButton* Ok(GlobalOptionsDialog& d) { return d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok); }
    static QPushButton* Cancel(GlobalOptionsDialog& d) {
        return d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel);
    }
    std::string BaseDirectory() {
        RegValue value;
        return registry->Read(kGameKey, "BaseDirectory", value) ? value.text : std::string("(none)");
    }
};

TEST_F(GlobalOptionsTest, AFreshInstallationShowsTheDefaultsAndTheEnableRules) {
    Prepare({0, 500});
    Open();
    StartUp();
    manager->configs.globalOptions.useJotwellForEventLog = 1;  // stored on, but the library is absent
    WithDialog([&](GlobalOptionsDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Haldmoor3 Global Options");
        const std::pair<const char*, const char*> numbers[] = {
            {"baseServerPort", "2092"}, {"baseConsolePort", "2092"}, {"packets", "12"},   {"frames", "999"},
            {"maxPlayers", "6"},        {"timeLimit", "120"},        {"killGoal", "0"}, {"restartMinutes", "360"},
        };
        for (const auto& [name, shown] : numbers) EXPECT_EQ(d.field(name)->text(), shown) << name;
        EXPECT_EQ(d.playersInAllServers()->value(), 999);
        ASSERT_EQ(d.regionList()->count(), 13);
        EXPECT_EQ(d.regionList()->currentText(), "No region specified");
        EXPECT_EQ(d.regionList()->itemText(12), "Central, South America");
        EXPECT_EQ(d.field("password")->text().size(), 8);
        EXPECT_FALSE(d.box("useJotwell")->isEnabled());
        EXPECT_FALSE(d.box("useJotwell")->isChecked());
        SaveShot(d, "global-options");
        // The sub-dialogs edit the dialog's copy: the info server options (open while the service's box
        // is ticked) leave the box ticked exactly when they hold a password; the anti-cheat options open
        // from their button.
        QStringList opened;
        QString password;
        onOther = [&](QDialog& sub) -> int {
            opened << sub.windowTitle();
            auto* field = sub.findChild<QLineEdit*>("password");
            if (!dynamic_cast<InfoServerOptionsDialog*>(&sub) || !field) return QDialog::Rejected;
            field->setText(password);
            sub.findChild<QLineEdit*>("port")->setText("20100");
            sub.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            return sub.result();
        };
        Click(d.button("antiCheat"));
        for (const QString& given : {QString(), QString("sesame")}) {
            if (!d.box("infoServer")->isChecked()) Click(d.box("infoServer"));
            password = given;
            Click(d.button("infoServerOptions"));
            EXPECT_EQ(d.box("infoServer")->isChecked(), !given.isEmpty()) << given.toStdString();
        }
        EXPECT_EQ(opened.size(), 3) << opened.join(", ").toStdString();
        onOther = nullptr;
        Click(d.box("infoServer"));  // back to the defaults for the checks below

        // Each box enables what depends on it, both ways.
        const std::pair<const char*, QWidget*> rules[] = {
            {"autoRestart", d.field("restartMinutes")},
            {"limitPlayersAll", d.playersInAllServers()},
            {"versionCheck", d.box("autoUpdate")},
        };
        for (const auto& [owner, control] : rules) {
            for (int i = 0; i < 2; ++i) {
                Click(d.box(owner));
                EXPECT_EQ(control->isEnabled(), d.box(owner)->isChecked()) << owner;
            }
        }
        Click(Cancel(d));
    });
    EXPECT_EQ(manager->configs.globalOptions.useJotwellForEventLog, 1u);
}

TEST_F(GlobalOptionsTest, ChecksKeepTheDialogOpenAndOkTakesTheValues) {
    Prepare({0, 500});
    Open();
    StartUp();
    CGlobalOptions& global = manager->configs.globalOptions;

    struct Refused {
        const char* field;
        QString text;
        const char* message;
    };
    const Refused refused[] = {
        {"restartMinutes", "0", "Please enter an integer between 1 and 10080."},
        {"restartMinutes", "10081", "Please enter an integer between 1 and 10080."},
        {"baseServerPort", "", "Please enter an integer between 1024 and 65535."},
        {"motd", QString(128, 'm'), "Please enter no more than 127 characters."},
    };
    const std::string before = Stored(global);
    for (const Refused& r : refused) {
        presenter.messages.clear();
        WithDialog([&](GlobalOptionsDialog& d) {
            d.field(r.field)->setText(r.text);
            Click(Ok(d));
            EXPECT_EQ(presenter.messages, QStringList{r.message}) << r.field;
            EXPECT_TRUE(d.isVisible()) << r.field;
            EXPECT_EQ(d.focusWidget(), d.field(r.field)) << r.field;
            EXPECT_EQ(settingsDialogOpen.load(), 1u);
            if (r.text == "10081") SaveShot(d, "global-options-error");
            Click(Cancel(d));
        });
        EXPECT_EQ(Stored(global), before) << r.field;
    }

    // The address is taken only with four non-zero parts; the update check, when switched on, comes soon.
    struct Taken {
        QStringList address;
        const char* stored;
        uint32_t versionCheckBefore;
        uint32_t lastCheckAfter;
    };
    const Taken taken[] = {
        {{"192", "168", "0", "10"}, "", 0, 0},
        {{"10", "1", "1", "1"}, "10.1.1.1", 1, 4711},
        {{"0", "0", "0", "0"}, "", 1, 4711},
        {{"", "", "", ""}, "", 0, 0},
    };
    for (const Taken& t : taken) {
        global.versionCheck = t.versionCheckBefore;
        global.lastVersionCheck = 4711;
        WithDialog([&](GlobalOptionsDialog& d) {
            for (size_t i = 0; i < 4; ++i) d.addressField(i)->setText(t.address[static_cast<int>(i)]);
            if (!d.box("versionCheck")->isChecked()) Click(d.box("versionCheck"));
            d.field("restartMinutes")->setText("90");
            d.regionList()->setCurrentIndex(7);
            Click(Ok(d));
            EXPECT_FALSE(d.isVisible());
        });
        EXPECT_EQ(global.alternateAddress, t.stored) << t.address.join('.').toStdString();
        EXPECT_EQ(global.versionCheck, 1u);
        EXPECT_EQ(global.lastVersionCheck, t.lastCheckAfter) << t.address.join('.').toStdString();
        EXPECT_EQ(global.autoRestartPeriod, 90u * 60000u);
        EXPECT_EQ(global.region, 7u);
        EXPECT_EQ(settingsDialogOpen.load(), 0u);
    }

    // OK reads the installation again and restarts the remote info service when its settings changed.
    std::ofstream(folder / "game" / "netgames" / "hunt.k3m") << "new game type";
    const unsigned stops = manager->infoServiceCalls.stops;
    WithDialog([&](GlobalOptionsDialog& d) {
        Click(d.box("infoServer"));
        Click(Ok(d));
    });
    EXPECT_NE(manager->installation.FindScript("Hunt"), nullptr);
    EXPECT_EQ(manager->infoServiceCalls.stops, stops + 1);
    ASSERT_FALSE(manager->infoServiceCalls.starts.empty());
    EXPECT_EQ(manager->infoServiceCalls.starts.back(), global.remoteInfo);
    // The program's own service followed: it runs exactly when it has a password to check.
    EXPECT_EQ(manager->remoteInfo.IsRunning(), !global.remoteInfo.password.empty());
    WithDialog([&](GlobalOptionsDialog& d) { Click(Ok(d)); });
    EXPECT_EQ(manager->infoServiceCalls.stops, stops + 1) << "unchanged settings: no stop";
}

TEST_F(GlobalOptionsTest, CancelLeavesTheOptionsAndWritesTheLibrarySwitchAsItOpened) {
    Prepare({0, 500, true, true});
    Open();
    manager->configs.globalOptions.useJotwellForEventLog = 0;  // no stored options: this is what loads
    StartUp();
    ASSERT_FALSE(jotwell->useGlobalJotwell());
    const std::string before = Stored(manager->configs.globalOptions);
    WithDialog([&](GlobalOptionsDialog& d) {
        ASSERT_TRUE(d.box("useJotwell")->isEnabled());
        Click(d.box("useJotwell"));
        Click(d.box("autoLaunch"));
        d.field("restartMinutes")->setText("5");
        d.field("motd")->setText("changed");
        Click(Cancel(d));
    });
    EXPECT_EQ(Stored(manager->configs.globalOptions), before);
    EXPECT_FALSE(jotwell->useGlobalJotwell());
    RegValue value;
    ASSERT_TRUE(registry->Read(kGameKey, kUseGlobalJotwellValue, value));
    EXPECT_EQ(value.binary, std::string("\0\0\0\0", 4));
    EXPECT_EQ(settingsDialogOpen.load(), 0u);
}

TEST_F(GlobalOptionsTest, TheGameFolderIsRegisteredForTheNextStartAndHelpOpensPageSix) {
    Prepare({0, 500});
    Open();
    StartUp();
    const std::string game = (folder / "game").string();
    ASSERT_TRUE(registry->Write(kGameKey, "BaseDirectory", RegValue::String("/nowhere")));
    const QString launcher = QString::fromStdString(game + "/Kelvane 3.exe");
    HelpCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    WithDialog([&](GlobalOptionsDialog& d) {
        presenter.pick.clear();  // cancel: nothing happens
        Click(d.button("gameFolder"));
        EXPECT_EQ(BaseDirectory(), "/nowhere");
        EXPECT_TRUE(presenter.messages.isEmpty());
        presenter.pick = launcher;
        Click(d.button("gameFolder"));
        EXPECT_EQ(BaseDirectory(), game);
        EXPECT_EQ(presenter.messages, QStringList{"Program must be restarted to take effect!"});
        EXPECT_EQ(manager->installation.GameFolder(), game);
        Click(d.findChild<QPushButton*>("help"));
        Click(Cancel(d));
    });
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.urls.size(), 1) << presenter.messages.join("; ").toStdString();
    EXPECT_TRUE(catcher.urls[0].toLocalFile().endsWith("/help/06-global-options.html"));
}

TEST_F(GlobalOptionsTest, AStartUpWhoseInstallationCheckFailsOffersAnotherFolderAndGoesOnWithIt) {
    Prepare({0, 500});
    const std::string game = (folder / "game").string();
    // A folder with the game's launcher and nothing else passes the folder test and fails the check.
    std::filesystem::create_directories(folder / "broken");
    std::ofstream(folder / "broken" / "Kelvane 3.exe") << "launcher";
    const std::pair<QString, bool> cases[] = {{"", false}, {QString::fromStdString(game + "/Kelvane 3.exe"), true}};
    for (const auto& [pick, goesOn] : cases) {
        Registry(( folder / "registry.reg").string()).Write(kGameKey, "BaseDirectory", RegValue::String((folder / "broken").string()));
        presenter.messages.clear();
        presenter.questions.clear();
        presenter.pick = pick;
        Open();
        StartUp();
        EXPECT_TRUE(presenter.messages.contains("No mission files (*.mn3) found!")) << presenter.messages.join("; ").toStdString();
        EXPECT_EQ(presenter.questions, QStringList{"Select the Kelvane 3 folder"});
        EXPECT_EQ(manager->initializationFailed(), !goesOn);
        EXPECT_EQ(HasEvent("Initialization completed."), goesOn);
        EXPECT_EQ(BaseDirectory(), goesOn ? game : (folder / "broken").string());
        if (goesOn) {
            EXPECT_EQ(window->findChild<QLabel*>("gameFolder")->toolTip().toStdString(), game);
            EXPECT_NE(manager->installation.FindMission("ironworks.mn3"), nullptr);
        }
        Close();
    }
}

}  // namespace
}  // namespace hm::ui_test

#include "global_options_test.moc"
