// Server configurations in the window, against the demo installation: the server list and its
// commands, the configuration dialog (its checks, the installation's lists, the loop option), starting
// from the list, the port question, and the import of a hand-made server.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include "platform/files.h"
#include "platform/socket.h"
#include "servers/global_options_rules.h"
#include "ui/port_dialog.h"
#include "ui/server_config_dialog.h"
#include "ui/server_files_dialog.h"
#include "ui/server_list_dialog.h"
#include "ui/status_list.h"
#include "ui_harness.h"

namespace hm::ui_test {
namespace {

QStringList Texts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) texts << action->text();
    return texts;
}

QStringList Items(QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

class ServerConfigsTest : public UiHarness {
protected:
    // Routes every modal dialog to the handler of its kind; a dialog without one is cancelled.
    void Route() {
        presenter.onExec = [this](QDialog& dialog) {
            if (auto* d = dynamic_cast<ServerListDialog*>(&dialog); d && onList) return onList(*d);
            if (auto* d = dynamic_cast<ServerConfigDialog*>(&dialog); d && onConfig) return onConfig(*d);
            if (auto* d = dynamic_cast<PortDialog*>(&dialog); d && onPort) return onPort(*d);
            if (auto* d = dynamic_cast<ServerFilesDialog*>(&dialog); d && onFiles) return onFiles(*d);
            return static_cast<int>(QDialog::Rejected);
        };
    }
    std::function<int(ServerListDialog&)> onList;
    std::function<int(ServerConfigDialog&)> onConfig;
    std::function<int(PortDialog&)> onPort;
    std::function<int(ServerFilesDialog&)> onFiles;
};

TEST_F(ServerConfigsTest, TheServerListAddsChecksEditsCopiesAndRemovesConfigurations) {
    Prepare({3, 500, false});
    Open();
    StartUp();
    Route();
    const CGlobalOptions& global = manager->configs.globalOptions;
    int listRows = -1;
    onList = [&](ServerListDialog& list) -> int {
        QTableWidget* table = list.list();
        // 1. Caption, label, headers, lines, the enable rules and both menus.
        EXPECT_EQ(list.windowTitle(), "Haldmoor3 Server Configurations Selector");
        EXPECT_NE(list.findChild<QLabel*>()->text().indexOf("right click to add/edit/remove"), -1);
        QStringList headers;
        for (int c = 0; c < table->columnCount(); ++c) headers << table->horizontalHeaderItem(c)->text();
        EXPECT_EQ(headers, QStringList({"Name", "Mission", "Game type", "Port", "Max. Players", "Scheduled"}));
        EXPECT_EQ(table->rowCount(), 3);
        EXPECT_EQ(table->item(2, 5)->text(), "Yes");
        EXPECT_EQ(table->item(0, 4)->text().toUInt() + 1, manager->configs.configs[0].game.maxPlayers);
        for (const char* name : {"edit", "copy", "remove", "start"})
            EXPECT_FALSE(list.findChild<QPushButton*>(name)->isEnabled()) << name;
        std::unique_ptr<QMenu> menu(list.MakeContextMenu());
        EXPECT_EQ(Texts(menu.get()), QStringList({"New server configuration...", "Import server configuration..."}));
        table->selectRow(0);
        menu.reset(list.MakeContextMenu());
        EXPECT_EQ(Texts(menu.get()),
                  QStringList({"Start server...", "New server configuration...", "Import server configuration...",
                               "Edit server configuration...", "Copy server configuration", "Remove server configuration"}));
        for (const char* name : {"edit", "copy", "remove", "start"})
            EXPECT_TRUE(list.findChild<QPushButton*>(name)->isEnabled()) << name;
        SaveShot(list, "server-list");

        // 2, 3, 12. Add: defaults, every check, the installation's lists, the loop.
        onConfig = [&](ServerConfigDialog& config) -> int {
            EXPECT_EQ(config.field("packets")->text().toUInt(), global.defaultPacketsPerSecond);
            EXPECT_EQ(config.field("timeLimit")->text().toUInt(), global.defaultTimeLimit);
            EXPECT_EQ(config.list("maxPlayers")->currentText().toUInt(), global.defaultMaxPlayers);
            QStringList missions = Items(config.list("mission"));
            EXPECT_FALSE(missions.filter("second part").size()) << missions.join(",").toStdString();
            EXPECT_EQ(missions.size(), static_cast<int>(manager->installation.Missions().size()));
            config.list("mission")->setCurrentIndex(config.list("mission")->findData("ironworks.mn3"));
            QStringList levels;
            for (int i = 0; i < config.list("level")->count(); ++i) levels << config.list("level")->itemData(i).toString();
            EXPECT_EQ(levels, QStringList({"1", "2", "3"}));
            EXPECT_EQ(config.list("executable")->count(), static_cast<int>(manager->installation.Executables().size()));
            EXPECT_EQ(config.list("gameType")->count(), static_cast<int>(manager->installation.Scripts().size()));
            EXPECT_EQ(config.list("connection")->count(), static_cast<int>(manager->installation.Connections().size()));

            struct Bad {
                const char* field;
                QString value;
                std::string message;
            };
            const Bad bad[] = {
                {"name", "", "Please enter a server name."},
                {"timeLimit", "70000", RangeMessage(0, 65535)},
                {"maxRespawn", "5", RangeMessage(15, 999)},
                {"serverPort", "80", RangeMessage(1024, 65535)},
                {"motd", QString(128, 'm'), ""},
            };
            config.field("name")->setText("Test Arena");
            config.field("minRespawn")->setText("15");
            for (const Bad& b : bad) {
                const QString before = config.field(b.field)->text();
                config.field(b.field)->setText(b.value);
                presenter.messages.clear();
                config.accept();
                EXPECT_EQ(config.result(), 0) << b.field;  // still open
                EXPECT_EQ(presenter.messages.size(), 1) << b.field;
                if (!b.message.empty() && !presenter.messages.isEmpty()) EXPECT_EQ(presenter.messages[0].toStdString(), b.message) << b.field;
                config.field(b.field)->setText(before);
            }
            config.button("loop")->click();
            EXPECT_EQ(config.button("loop")->text(), "Loop: on");
            SaveShot(config, "server-config");
            config.accept();
            EXPECT_EQ(config.result(), static_cast<int>(QDialog::Accepted));
            return config.result();
        };
        list.Add();
        EXPECT_EQ(table->rowCount(), 4);
        EXPECT_EQ(table->item(3, 0)->text(), "Test Arena");
        const CServerConfig& added = manager->configs.configs[3];
        EXPECT_EQ(added.game.customDescription, 1u);
        size_t branches = 0;
        for (size_t at = 0; (at = added.customDescriptionText.find("BRANCH ", at)) != std::string::npos; ++at) ++branches;
        EXPECT_EQ(branches, 3u);

        // 4. Edit by double click and Cancel; Copy; Remove two.
        onConfig = [&](ServerConfigDialog& config) -> int {
            config.field("name")->setText("Changed");
            return static_cast<int>(QDialog::Rejected);
        };
        table->clearSelection();
        table->selectRow(1);
        const QRect cell = table->visualItemRect(table->item(1, 0));
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        EXPECT_EQ(manager->configs.configs[1].game.gameName, "Oasis CTF");
        table->clearSelection();
        table->selectRow(0);
        list.Copy();
        EXPECT_EQ(table->rowCount(), 5);
        EXPECT_EQ(table->item(4, 0)->text(), table->item(0, 0)->text());
        table->clearSelection();
        table->setSelectionMode(QAbstractItemView::MultiSelection);
        table->selectRow(3);
        table->selectRow(4);
        list.Remove();
        listRows = table->rowCount();
        return static_cast<int>(QDialog::Rejected);
    };
    window->StartServers();
    EXPECT_EQ(listRows, 3);
    // Closing the list stored what changed.
    CServerConfigArray stored;
    ASSERT_EQ(stored.Load((folder / "cfg").string() + "/", nullptr), StoreLoad::Loaded);
    EXPECT_EQ(stored.configs.size(), 3u);
}

TEST_F(ServerConfigsTest, StartingFromTheListLaunchesTheFirstAndSchedulesTheSecond) {
    Prepare({2, 500, false});
    Open();
    StartUp();
    Route();
    onList = [&](ServerListDialog& list) -> int {
        list.list()->selectAll();
        list.Start();
        return list.result();
    };
    window->StartServers();
    const std::string first = std::to_string(basePort), second = std::to_string(basePort + 1);
    EXPECT_TRUE(HasEvent("Server " + second + ": Scheduled."));
    EXPECT_TRUE(window->findChild<QPushButton*>("stopAll")->isEnabled());
    ASSERT_TRUE(WaitForRunningServers(1));
    bool launched = false;
    for (const std::string& text : EventTexts()) launched |= text.rfind("Server " + first + ": Launched", 0) == 0;
    EXPECT_TRUE(launched);
    StatusList* status = window->statusList();
    EXPECT_TRUE(status->item(status->RowOf(basePort), 5)->text().startsWith("Running"));
}

TEST_F(ServerConfigsTest, APortInUseIsAskedForAndCancelStopsTheRestOfTheList) {
    Prepare({2, 500, false});
    ChangeStoredConfigurations([](CServerConfigArray& store) { store.globalOptions.autoChoosePorts = 0; });
    TcpSocket holder;  // another program on the first server's game port
    ASSERT_TRUE(holder.Create(SocketType::Datagram));
    ASSERT_TRUE(holder.Bind(0, basePort));
    Open();
    StartUp();
    Route();
    std::vector<size_t> rows{0, 1};
    onList = [&](ServerListDialog& list) -> int {
        list.list()->setSelectionMode(QAbstractItemView::MultiSelection);
        for (size_t row : rows) list.list()->selectRow(static_cast<int>(row));
        list.Start();
        return list.result();
    };
    QString asked;
    onPort = [&](PortDialog& port) -> int {
        asked = port.findChild<QLabel*>("portMessage")->text();
        return static_cast<int>(QDialog::Rejected);
    };
    window->StartServers();
    EXPECT_EQ(asked, QString("Server (UDP) port %1 is already in use!").arg(basePort));
    EXPECT_EQ(window->statusList()->rowCount(), 0) << "cancel leaves the rest of the list alone";

    const uint16_t other = FindFreeTcpPort();
    rows = {0};
    onPort = [&](PortDialog& port) -> int {
        EXPECT_GT(port.portField()->value(), 0);
        SaveShot(port, "port-clash");
        port.portField()->setValue(other);
        return static_cast<int>(QDialog::Accepted);
    };
    window->StartServers();
    ASSERT_TRUE(WaitForRunningServers(1));
    ASSERT_EQ(manager->servers.entries.size(), 1u);
    EXPECT_EQ(manager->servers.entries[0]->config.launch.serverPort, other);
    EXPECT_EQ(FileNameOf(manager->servers.entries[0]->config.launch.tempDir), std::to_string(other));
}

TEST_F(ServerConfigsTest, AHandMadeServerIsImportedAfterTheConfigurationDialogConfirmsIt) {
    Prepare({0, 500});
    Open();
    StartUp();
    Route();
    const std::string hand = (folder / "hand").string();
    fs::CreateFolders(hand);
    auto put = [&](const std::string& name, const std::string& text) {
        EXPECT_TRUE(fs::WriteWholeFile(hand + "/" + name, text));
        return QString::fromStdString(hand + "/" + name);
    };
    const QString good = put("arena.cfg", "[server config file]\r\nGameName=Hand Made\r\nMissionName=ironworks.mn3\r\nPPS=12\r\n");
    put("arena.mps", "name\tHand Made\r\n");
    put("arena.dmfc", "MinCount 2\r\n");
    put("gamespy.cfg", "master.example.net:27900\r\n");
    const QString bad = put("lost.cfg", "[server config file]\r\nGameName=Lost\r\nMissionName=missing.mn3\r\n");
    put("lost.mps", "name\tLost\r\n");

    struct Case {
        QString main;
        bool confirm;
        size_t configs;
    };
    for (const Case& c : {Case{bad, false, 0}, Case{good, true, 1}}) {
        presenter.messages.clear();
        onFiles = [&](ServerFilesDialog& files) -> int {
            files.Chosen(ServerFilesDialog::Main, c.main);
            if (c.main == good) {
                EXPECT_TRUE(files.field(ServerFilesDialog::MultiSettings)->text().endsWith("arena.mps"));
                EXPECT_TRUE(files.field(ServerFilesDialog::Autoexec)->text().endsWith("arena.dmfc"));
                EXPECT_TRUE(files.field(ServerFilesDialog::Tracker)->text().endsWith("gamespy.cfg"));
                // A batch file supplies the rest: its fields are disabled while one is given.
                files.field(ServerFilesDialog::Batch)->setText("start.sh");
                EXPECT_FALSE(files.field(ServerFilesDialog::Main)->isEnabled());
                EXPECT_FALSE(files.browse(ServerFilesDialog::Tracker)->isEnabled());
                SaveShot(files, "import");
                files.field(ServerFilesDialog::Batch)->clear();
                EXPECT_TRUE(files.field(ServerFilesDialog::Main)->isEnabled());
            }
            files.accept();
            return files.result();
        };
        onConfig = [&](ServerConfigDialog& config) -> int {
            EXPECT_EQ(config.field("name")->text(), c.main == good ? "Hand Made" : "Lost");
            if (!c.confirm) return static_cast<int>(QDialog::Rejected);
            config.accept();
            return config.result();
        };
        window->ImportConfiguration();
        EXPECT_EQ(manager->configs.configs.size(), c.configs);
        if (c.main == bad) EXPECT_TRUE(presenter.messages.contains("Mission missing.mn3 is not installed!"))
            << presenter.messages.join(" | ").toStdString();
    }
    EXPECT_EQ(manager->configs.configs[0].game.packetsPerSecond, 12u);
    CServerConfigArray stored;
    ASSERT_EQ(stored.Load((folder / "cfg").string() + "/", nullptr), StoreLoad::Loaded);
    EXPECT_EQ(stored.configs.size(), 1u);
}

}  // namespace
}  // namespace hm::ui_test
