// The anti-cheat and remote info server options as the operator drives them: the enable rules of the
// download groups and the nickname list, the checks of OK that keep the dialog open, the delete of
// hosts.deny in each of its outcomes, and what OK writes back into the global options (and only that).
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <functional>
#include <random>

#include "game/game_installation.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "servers/global_options.h"
#include "ui/anticheat_dialog.h"
#include "ui/editor_context.h"
#include "ui/info_server_options_dialog.h"
#include "ui_harness.h"

namespace hm::ui_test {

namespace {

// A game folder with its launcher and netgames folder, known to an installation through its own
// registry file.
class OptionsDialogsTest : public ::testing::Test {
protected:
    OptionsDialogsTest() {
        std::random_device random;
        root = std::filesystem::temp_directory_path() / ("hm_ui_anticheat_" + std::to_string(random()));
        game = (root / "Kelvane 3").string();
        std::filesystem::create_directories(game + "/netgames");
        fs::WriteWholeFile(game + "/Kelvane 3.exe", "x");
        registry = std::make_unique<Registry>((root / "registry.reg").string());
        registry->Write(kGameKey, "BaseDirectory", RegValue::String(game));
        installation = std::make_unique<CGameInstallation>(*registry, MissionArchiveReader());
        hostsDeny = game + "/netgames/hosts.deny";
    }
    ~OptionsDialogsTest() override {
        installation.reset();
        std::filesystem::remove_all(root);
    }

    std::filesystem::path root;
    std::string game, hostsDeny;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<CGameInstallation> installation;
    RecordingPresenter presenter;
    EditorContext context{presenter, true, nullptr};
    CGlobalOptions options{1000};
};

TEST_F(OptionsDialogsTest, AntiCheatEnableRulesListChecksAndWhatOkKeeps) {
    context.installation = installation.get();
    AntiCheatOptions& ac = options.antiCheat;
    ac.autoUpdateHostsDeny = 1;
    ac.hostsDenyLastUpdate = 5000;
    ac.hostsDenyUri = "http://lists.example.net/old-hosts.txt";
    ac.nicknamesLastUpdate = 7000;
    ac.nicknamesUri = "http://lists.example.net/old-names.txt";
    ac.disallowedNicknames = {"Cheater"};
    const CGlobalOptions untouched = options;

    const int result = Edit<AntiCheatDialog>(options, context, presenter, [&](AntiCheatDialog& dialog) {
        auto* nickBox = Find<QCheckBox>(dialog, "autoUpdateNicknames");
        auto* hostsBox = Find<QCheckBox>(dialog, "autoUpdateHostsDeny");
        auto* nickUri = Find<QLineEdit>(dialog, "nicknamesUri");
        auto* hostsUri = Find<QLineEdit>(dialog, "hostsDenyUri");
        auto* nickReset = Find<QPushButton>(dialog, "resetNicknamesUri");
        auto* hostsReset = Find<QPushButton>(dialog, "resetHostsDenyUri");
        auto* list = Find<QListWidget>(dialog, "nicknames");
        auto* field = Find<QLineEdit>(dialog, "newNickname");
        auto* add = Find<QPushButton>(dialog, "add");
        auto* remove = Find<QPushButton>(dialog, "remove");
        auto* shortLength = Find<QLineEdit>(dialog, "shortLength");
        EXPECT_FALSE(Find<QPushButton>(dialog, "deleteHostsDeny")->isEnabled());  // no file yet

        // Each address (and its reset) is editable only while its download is switched on.
        EXPECT_FALSE(nickUri->isEnabled());
        EXPECT_FALSE(nickReset->isEnabled());
        EXPECT_TRUE(hostsUri->isEnabled());
        QTest::mouseClick(hostsBox, Qt::LeftButton);
        EXPECT_FALSE(hostsUri->isEnabled());
        EXPECT_FALSE(hostsReset->isEnabled());
        QTest::mouseClick(hostsBox, Qt::LeftButton);
        QTest::mouseClick(nickBox, Qt::LeftButton);
        EXPECT_TRUE(nickUri->isEnabled());
        EXPECT_TRUE(nickReset->isEnabled());
        QTest::mouseClick(nickReset, Qt::LeftButton);
        QTest::mouseClick(hostsReset, Qt::LeftButton);
        EXPECT_EQ(nickUri->text(), QString::fromLatin1(kDefaultNicknamesUri));
        EXPECT_EQ(hostsUri->text(), QString::fromLatin1(kDefaultHostsDenyUri));

        // Add takes a new name and empties the field; a name listed already, ignoring case, is not added.
        EXPECT_FALSE(add->isEnabled());
        QTest::keyClicks(field, "Bot*");
        QTest::mouseClick(add, Qt::LeftButton);
        EXPECT_TRUE(field->text().isEmpty());
        EXPECT_FALSE(add->isEnabled());
        QTest::keyClicks(field, "bot*");
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(Lines(list), QStringList({"Cheater", "Bot*"}));
        field->clear();

        // Remove works on the selection only.
        list->clearSelection();
        EXPECT_FALSE(remove->isEnabled());
        list->item(0)->setSelected(true);
        EXPECT_TRUE(remove->isEnabled());
        QTest::mouseClick(remove, Qt::LeftButton);
        EXPECT_FALSE(remove->isEnabled());
        EXPECT_EQ(Lines(list), QStringList({"Bot*"}));

        for (const char* wrong : {"5", "0", ""}) {
            shortLength->setText(wrong);
            QTest::mouseClick(Ok(dialog), Qt::LeftButton);
            EXPECT_TRUE(dialog.isVisible()) << wrong;
            EXPECT_EQ(presenter.messages.last(), "Please enter an integer between 1 and 4.") << wrong;
            EXPECT_EQ(dialog.focusWidget(), shortLength) << wrong;
        }
        shortLength->setText("3");
        QTest::mouseClick(Find<QCheckBox>(dialog, "disallowShort"), Qt::LeftButton);
        SaveShot(dialog, "anticheat");
        QTest::mouseClick(Ok(dialog), Qt::LeftButton);
    });
    ASSERT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(ac.disallowedNicknames, std::vector<std::string>{"Bot*"});
    EXPECT_EQ(ac.shortLength, 3);
    EXPECT_EQ(ac.disallowShort, 1u);
    EXPECT_EQ(ac.nicknamesUri, kDefaultNicknamesUri);
    EXPECT_EQ(ac.hostsDenyUri, kDefaultHostsDenyUri);
    // The download switched on here comes at once; the one that stayed on keeps its schedule.
    EXPECT_EQ(ac.autoUpdateNicknames, 1u);
    EXPECT_EQ(ac.nicknamesLastUpdate, 0u);
    EXPECT_EQ(ac.hostsDenyLastUpdate, 5000u);
    EXPECT_EQ(options.remoteInfo, untouched.remoteInfo);
    EXPECT_EQ(options.defaultConsolePassword, untouched.defaultConsolePassword);
}

TEST_F(OptionsDialogsTest, DeleteHostsDenyOutcomesAndStateAtOpening) {
    enum Setup { File, NoFile, Folder, NoInstallation };
    const struct {
        const char* why;
        Setup setup;
        bool goneBeforeClick;  // someone else deletes the file while the dialog is open
        bool enabledAtOpening;
        QString message;  // "" = none
        bool enabledAfter;
    } cases[] = {
        {"present: deleted", File, false, true, "", false},
        {"gone meanwhile: its message", File, true, true, "File \"netgames\\hosts.deny\" doesn't exist.", false},
        {"a folder of that name: the error", Folder, false, true,
         "Error deleting file \"netgames\\hosts.deny\".", true},
        {"no file at opening", NoFile, false, false, "", false},
        {"no installation known", NoInstallation, false, false, "", false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(hostsDeny);
        if (c.setup == File) fs::WriteWholeFile(hostsDeny, "1.2.3.4\r\n");
        if (c.setup == Folder) std::filesystem::create_directories(hostsDeny + "/inside");
        context.installation = c.setup == NoInstallation ? nullptr : installation.get();
        presenter.messages.clear();
        Edit<AntiCheatDialog>(options, context, presenter, [&](AntiCheatDialog& dialog) {
            auto* button = Find<QPushButton>(dialog, "deleteHostsDeny");
            EXPECT_EQ(button->isEnabled(), c.enabledAtOpening) << c.why;
            if (!c.enabledAtOpening) return dialog.reject();
            if (c.goneBeforeClick) std::filesystem::remove(hostsDeny);
            QTest::mouseClick(button, Qt::LeftButton);
            EXPECT_EQ(presenter.messages, c.message.isEmpty() ? QStringList() : QStringList{c.message}) << c.why;
            EXPECT_EQ(button->isEnabled(), c.enabledAfter) << c.why;
            EXPECT_EQ(std::filesystem::exists(hostsDeny), c.setup == Folder) << c.why;
            dialog.reject();
        });
    }
}

TEST_F(OptionsDialogsTest, InfoServerPortRangeAndTheEnableFlagFollowsThePassword) {
    options.remoteInfo = {0, 2090, ""};
    const struct {
        QString password;
        uint32_t enabled;
    } cases[] = {{"s3cret", 1}, {"", 0}};
    for (const auto& c : cases) {
        const int result = Edit<InfoServerOptionsDialog>(options, context, presenter, [&](auto& dialog) {
            auto* port = Find<QLineEdit>(dialog, "port");
            auto* password = Find<QLineEdit>(dialog, "password");
            for (const char* wrong : {"80", "65536", ""}) {
                port->setText(wrong);
                QTest::mouseClick(Ok(dialog), Qt::LeftButton);
                EXPECT_TRUE(dialog.isVisible()) << wrong;
                EXPECT_EQ(presenter.messages.last(), "Please enter an integer between 1024 and 65535.") << wrong;
                EXPECT_EQ(dialog.focusWidget(), port) << wrong;
            }
            port->setText("2095");
            password->setText(c.password);
            if (c.enabled) SaveShot(dialog, "infoserver-options");
            QTest::mouseClick(Ok(dialog), Qt::LeftButton);
        });
        ASSERT_EQ(result, QDialog::Accepted);
        EXPECT_EQ(options.remoteInfo, (RemoteInfoSettings{c.enabled, 2095, c.password.toStdString()}));
    }
}

}  // namespace

}  // namespace hm::ui_test
