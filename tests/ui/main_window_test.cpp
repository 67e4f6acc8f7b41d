// The main window with the real server manager and real game servers (k3ded): the start-up as the
// operator sees it, the status list, its buttons and menus, the exit commands, a second start and the
// title's new-version note.
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <thread>

#include "app/commands.h"
#include "platform/local_channel.h"
#include "servers/server_config_array.h"
#include "ui/progress_window.h"
#include "ui/server_list_dialog.h"
#include "ui/status_list.h"
#include "ui_harness.h"

namespace hm::ui_test {
namespace {

QStringList RowTexts(StatusList* list, int column) {
    QStringList texts;
    for (int row = 0; row < list->rowCount(); ++row) texts << list->item(row, column)->text();
    return texts;
}

void ClickHeader(StatusList* list, int column) {
    QHeaderView* header = list->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

// Opens the status list's context menu and returns it (or null).
QMenu* OpenStatusMenu(MainWindow& window) {
    emit window.statusList()->customContextMenuRequested(QPoint(20, 20));
    QMenu* menu = nullptr;
    WaitFor([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr; },
            std::chrono::seconds(5));
    return menu;
}

QStringList ActionTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) texts << action->text();
    return texts;
}

QPushButton* Button(MainWindow& window, const char* name) { return window.findChild<QPushButton*>(name); }

class MainWindowTest : public UiHarness {};

TEST_F(MainWindowTest, StartUpShowsProgressAloneThenTheRunningServersListAndTheirCommands) {
    Prepare({2, 500});
    Open();
    // 1. The progress window is the only window while the sequence runs.
    std::vector<std::string> records;
    bool mainWindowSeen = false, progressHidden = false;
    ProgressWindow::SetObserver([&](const std::string& record, ProgressWindow& progress) {
        records.push_back(record);
        mainWindowSeen |= window->isVisible();
        progressHidden |= !progress.isVisible();
        if (record == "step: Loading server infos...") SaveShot(progress, "progress-startup");
    });
    StartUp();
    ProgressWindow::SetObserver(nullptr);
    EXPECT_FALSE(mainWindowSeen);
    EXPECT_FALSE(progressHidden);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front(), "caption: Initializing Haldmoor3");
    EXPECT_EQ(records.back(), "step: Finished!");
    std::vector<std::string> inOrder;
    for (const char* step : {"step: Determine network info...", "step: Updating Kelvane 3 file info...",
                             "step: Loading server configurations...", "step: Loading server infos...", "step: Finished!"}) {
        auto found = std::find(records.begin(), records.end(), step);
        EXPECT_NE(found, records.end()) << step;
        if (found != records.end()) inOrder.push_back(std::to_string(found - records.begin()));
    }
    EXPECT_TRUE(std::is_sorted(inOrder.begin(), inOrder.end(), [](auto& a, auto& b) { return std::stoi(a) < std::stoi(b); }));

    // Afterwards: the window, its title and information, and the first and last start-up lines.
    ASSERT_TRUE(WaitFor([&] { return window->isVisible(); }));
    EXPECT_EQ(window->windowTitle(), "Haldmoor3 v3.0 by the Haldmoor3 developers");
    EXPECT_EQ(window->findChild<QLabel*>("gameFolder")->text().toStdString(), manager->installation.GameFolder());
    EXPECT_EQ(window->findChild<QLabel*>("gameVersion")->text().toStdString(), manager->installation.VersionText());
    EXPECT_FALSE(window->findChild<QLabel*>("networkAddress")->text().isEmpty());
    EXPECT_EQ(window->findChild<QLabel*>("lobby1002")->text(), "Offline");
    ASSERT_TRUE(WaitFor([&] { return HasEvent("Initialization completed."); }));
    const std::vector<std::string> events = EventTexts();
    EXPECT_EQ(events.front(), "Haldmoor3 configuration: " + (folder / "cfg").string() + "/");
    const auto started = std::find(events.begin(), events.end(), "Starting up servers...");
    const auto completed = std::find(events.begin(), events.end(), "Initialization completed.");
    EXPECT_LT(started, completed);

    // 2. The status list: headers, width shares, two running servers.
    StatusList* list = window->statusList();
    QStringList headers;
    for (int c = 0; c < list->columnCount(); ++c) headers << list->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headers, QStringList({"PID", "Name", "Mission", "Game type", "Port", "Status", "Players"}));
    for (int c = 0; c < StatusList::kColumns; ++c)
        EXPECT_EQ(list->columnWidth(c) * StatusList::kShares[0], list->columnWidth(0) * StatusList::kShares[c]) << c;
    EXPECT_GT(list->columnWidth(0) * StatusList::kParts, list->viewport()->width() - StatusList::kParts * 8);
    ASSERT_TRUE(WaitForRunningServers(2));
    for (int row = 0; row < 2; ++row) {
        EXPECT_GT(list->item(row, 0)->text().toUInt(), 0u);
        EXPECT_EQ(list->item(row, 5)->text(), "Running - TCP/IP");
    }
    // Players: none yet, of the places the configuration leaves beside the server's own.
    const QString places = QString::number(manager->servers.entries[0]->config.game.maxPlayers - 1);
    EXPECT_EQ(list->item(0, 6)->text(), "0/" + places);
    EXPECT_TRUE(Button(*window, "stopAll")->isEnabled());
    EXPECT_TRUE(Button(*window, "stopEmpty")->isEnabled());
    SaveShot(*window, "main-running");

    // Sorting: Port as a number and toggling, Name without regard to case.
    for (auto [port, name] : {std::pair{999u, "alpha"}, std::pair{2092u, "Bravo"}}) {
        StatusLine line;
        line.pid = "-", line.name = name, line.port = std::to_string(port), line.portNumber = port;
        line.status = "Stopped";
        window->UpdateServerLine(line);
    }
    ClickHeader(list, StatusList::kPortColumn);
    QStringList ports = RowTexts(list, StatusList::kPortColumn);
    EXPECT_EQ(ports.front(), "999");
    EXPECT_EQ(ports[1], "2092");
    ClickHeader(list, StatusList::kPortColumn);
    EXPECT_EQ(RowTexts(list, StatusList::kPortColumn).back(), "999");
    ClickHeader(list, 1);
    const QStringList names = RowTexts(list, 1);
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    EXPECT_EQ(names, sorted);
    EXPECT_EQ(names.front(), "alpha");
    window->RemoveServerLine(999);
    window->RemoveServerLine(2092);

    // 4. Context menus: without a selection only "Start...", with one the three entries.
    list->clearSelection();
    QMenu* menu = OpenStatusMenu(*window);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(ActionTexts(menu), QStringList({"Start..."}));
    menu->close();
    const unsigned firstPort = basePort;
    list->selectRow(list->RowOf(firstPort));
    menu = OpenStatusMenu(*window);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(ActionTexts(menu), QStringList({"Start...", "Stop", "Copy k3://ip:port (127.0.0.1)"}));
    {
        QPixmap shot = window->grab();
        QPainter painter(&shot);
        painter.drawPixmap(window->mapFromGlobal(menu->pos()), menu->grab());
        painter.end();
        shot.save(QString::fromStdString(SaveShot(*window, "status-menu")));
    }
    menu->actions().at(2)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString("k3://127.0.0.1:%1").arg(firstPort));
    menu->close();

    // 3. "Stop server(s)": enabled by a selection, removes that server, disabled again.
    QPushButton* stop = Button(*window, "stopServers");
    EXPECT_TRUE(stop->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    const std::string removed = "Server " + std::to_string(firstPort) + ": Removed.";
    EXPECT_TRUE(WaitFor([&] { return HasEvent(removed); }));
    EXPECT_EQ(list->RowOf(firstPort), -1);
    EXPECT_EQ(list->rowCount(), 1);
    EXPECT_FALSE(stop->isEnabled());
    list->clearSelection();
    QTest::mouseClick(Button(*window, "stopAll"), Qt::LeftButton);
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_FALSE(Button(*window, "stopAll")->isEnabled());
    EXPECT_FALSE(Button(*window, "stopEmpty")->isEnabled());
    // A killed server may take a moment to leave the process table on a busy machine.
    EXPECT_TRUE(WaitFor([&] { return GameServerProcesses().empty(); }, std::chrono::seconds(15)));

    // "Start server(s)..." opens the server list, which starts the chosen configuration.
    presenter.onExec = [&](QDialog& dialog) {
        auto* chooser = dynamic_cast<ServerListDialog*>(&dialog);
        if (!chooser) return static_cast<int>(QDialog::Rejected);
        EXPECT_EQ(chooser->list()->rowCount(), 2);
        chooser->list()->selectRow(1);
        chooser->Start();
        return chooser->result();
    };
    QTest::mouseClick(Button(*window, "startServers"), Qt::LeftButton);
    ASSERT_TRUE(WaitForRunningServers(1));
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 1)->text(), "Oasis CTF");
}

TEST_F(MainWindowTest, ExitKeepsTheServersForTheNextStartAndStopAndExitLeavesNone) {
    Prepare({2, 500});
    Open(true);
    StartUp();
    ASSERT_TRUE(WaitForRunningServers(2));
    const std::vector<int> running = GameServerProcesses();
    ASSERT_EQ(running.size(), 2u);

    QTest::mouseClick(Button(*window, "exit"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return closed; }));
    Close();
    EXPECT_EQ(GameServerProcesses(), running);

    // The next start re-attaches them; a second start of the program brings the window forward and a
    // command is answered while the window runs.
    Open(true);
    StartUp();
    EXPECT_TRUE(HasEvent("Server " + std::to_string(basePort) + " (Ironworks Anarchy): Running/scheduled."));
    EXPECT_EQ(GameServerProcesses(), running);
    const std::string channel = (folder / "run" / "haldmoor3.sock").string();
    CommandServer commands(*loop, *manager);
    ASSERT_TRUE(commands.Start(channel));
    window->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !window->isVisible(); }));  // in the notification area
    for (const auto& [command, expected] : {std::pair{"front", "Haldmoor3 is already running."},
                                            std::pair{"status", "Running - TCP/IP"}}) {
        std::string answer;
        bool answered = false;
        std::thread client([&] { answered = LocalRequest(channel, EncodeCommand({command}), answer, 10000); });
        WaitFor([&] { return answered; }, std::chrono::seconds(10));
        client.join();
        EXPECT_NE(answer.find(expected), std::string::npos) << answer;
    }
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    commands.Stop();

    // The window's close box is "Exit" too.
    window->close();
    ASSERT_TRUE(WaitFor([&] { return closed; }));
    Close();
    EXPECT_EQ(GameServerProcesses(), running);

    Open();
    StartUp();
    QTest::mouseClick(Button(*window, "stopExit"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return closed; }));
    Close();
    // A killed server may take a moment to leave the process table on a busy machine.
    EXPECT_TRUE(WaitFor([&] { return GameServerProcesses().empty(); }, std::chrono::seconds(15)));
}

TEST_F(MainWindowTest, TheTitleNamesANewerVersionOnlyFromVersion3_0_84) {
    Prepare({0, 500});
    struct Case {
        uint32_t latest;
        uint32_t check;
        const char* title;
    };
    const Case cases[] = {
        {0x030054, 1, "Haldmoor3 v3.0 by the Haldmoor3 developers  >>> new version 3.0.84 available <<<"},
        {0x030053, 1, "Haldmoor3 v3.0 by the Haldmoor3 developers"},
        {0x030100, 0, "Haldmoor3 v3.0 by the Haldmoor3 developers"},
    };
    std::filesystem::create_directories(folder / "cfg");
    for (const Case& c : cases) {
        CServerConfigArray store;
        store.globalOptions.versionCheck = c.check;
        store.globalOptions.latestVersion = c.latest;
        store.globalOptions.autoLaunchAtStart = 0;
        ASSERT_TRUE(store.Store((folder / "cfg").string() + "/", nullptr));
        Open();
        StartUp();
        EXPECT_EQ(window->windowTitle().toStdString(), c.title);
        Close();
    }
}

}  // namespace
}  // namespace hm::ui_test
