// The server window with the real server manager and a real game server (k3ded) with its console:
// opened from the status list, the console's lines as the server prints them, players joining and
// leaving, Kick behind its question, a typed command with its history, and a window that outlives
// its server.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <fstream>
#include <sstream>

#include "support/binaries.h"
#include "ui/server_window.h"
#include "ui/status_list.h"
#include "ui_harness.h"

namespace hm::ui_test {
namespace {

class ServerWindowTest : public UiHarness {
protected:
    // k3ded's client acting as a player on the game port; its exit code.
    int Client(const std::string& action) {
        const std::string out = (folder / ("client_" + std::to_string(++clients) + ".out")).string();
        auto process = Process::Spawn(test_support::BinDir() + "/k3ded",
                                      "client --port " + std::to_string(port) + " " + action, folder.string(), out);
        if (!process || process->Wait(30000) != Process::WaitResult::Exited) return -1;
        return process->ExitCode();
    }
    // Every console command the game server received.
    std::string Record() const {
        std::ifstream in(folder / "game/custom/cache" / std::to_string(port) / "k3ded.record", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void DoubleClickLine() {
        StatusList* list = window->statusList();
        const QRect cell = list->visualItemRect(list->item(list->RowOf(port), 1));
        // As a mouse sends it: press and release, then the second press as the double-click.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    }
    int OpenServerWindows() const {
        int open = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            open += dynamic_cast<ServerWindow*>(widget) != nullptr && widget->isVisible();
        return open;
    }

    unsigned port = 0;
    int clients = 0;
};

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

QStringList Column(QTableWidget* table, int column) {
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row) texts << table->item(row, column)->text();
    return texts;
}

TEST_F(ServerWindowTest, FollowsTheConsoleAndPlayersKicksSendsCommandsAndOutlivesItsServer) {
    Prepare({1, 500});
    ChangeStoredConfigurations([](CServerConfigArray& store) { store.configs[0].console.logPlayerAddresses = 1; });
    Open();
    StartUp();
    ASSERT_TRUE(WaitForRunningServers(1));
    port = manager->servers.entries[0]->config.launch.serverPort;

    DoubleClickLine();
    ServerWindow* server = window->serverWindow(port);
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(WaitFor([&] { return server->isVisible(); }));
    EXPECT_EQ(server->windowTitle(), QString("Server %1 (Ironworks Anarchy)").arg(port));
    auto* output = server->findChild<QPlainTextEdit*>("consoleOutput");
    auto* players = server->findChild<QTableWidget*>("playerList");
    auto* kick = server->findChild<QPushButton*>("kickPlayer");
    auto* command = server->findChild<QLineEdit*>("commandLine");
    auto* status = server->findChild<QLabel*>("linkStatus");
    ASSERT_TRUE(output && players && kick && command && status);
    EXPECT_TRUE(WaitFor([&] { return status->text().startsWith("Console connected"); })) << status->text().toStdString();
    auto shows = [&](const QString& text) { return output->toPlainText().contains(text); };

    // The server's answer to the console's first player list; what the server prints before that
    // answer never reaches the console (the game holds it back), so the players join after it.
    ASSERT_TRUE(WaitFor([&] { return shows("PNum Name\n0   Server"); })) << output->toPlainText().toStdString();

    // Players join: their lines come as the server prints them, the list follows with the addresses
    // the server tells.
    ASSERT_EQ(Client("join Alice"), 0);
    ASSERT_EQ(Client("join Bob"), 0);
    EXPECT_TRUE(WaitFor([&] { return shows(">Alice has joined the game") && shows(">Bob has joined the game"); }))
        << output->toPlainText().toStdString();
    ASSERT_TRUE(WaitFor([&] { return Column(players, 1) == QStringList({"Alice", "Bob"}); }))
        << Column(players, 1).join(',').toStdString();
    EXPECT_EQ(Column(players, 0), QStringList({"1", "2"}));
    EXPECT_TRUE(WaitFor([&] { return Column(players, 2) == QStringList({"127.0.0.1", "127.0.0.1"}); }))
        << Column(players, 2).join(',').toStdString();

    // Kick asks first; "No" sends nothing, "Yes" kicks the selected player (by number) and says so.
    EXPECT_FALSE(kick->isEnabled());
    QTest::mouseClick(players->viewport(), Qt::LeftButton, Qt::NoModifier, players->visualItemRect(players->item(1, 1)).center());
    ASSERT_TRUE(kick->isEnabled());
    presenter.yes = false;
    QTest::mouseClick(kick, Qt::LeftButton);
    ASSERT_EQ(presenter.questions.size(), 1);
    EXPECT_EQ(presenter.questions.back(), QString("Kick player 'Bob' (2) from server %1?").arg(port));
    presenter.yes = true;
    QTest::mouseClick(kick, Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return Record().find("command $kick 2") != std::string::npos; })) << Record();
    EXPECT_EQ(Count(Record(), "command $kick"), 1u) << "the kick answered with No went out";
    EXPECT_TRUE(WaitFor([&] { return Column(players, 1) == QStringList({"Alice"}); }));
    EXPECT_TRUE(HasEvent("Server " + std::to_string(port) + ": Player 'Bob' kicked by the operator."));

    // A typed command goes to the console; its reply shows up below it; Up brings it back.
    QTest::keyClicks(command, "say Welcome pilots");
    QTest::keyClick(command, Qt::Key_Return);
    EXPECT_TRUE(command->text().isEmpty());
    EXPECT_TRUE(WaitFor([&] { return Record().find("command say Welcome pilots") != std::string::npos; }));
    EXPECT_TRUE(WaitFor([&] { return shows("Server: Welcome pilots"); }));
    EXPECT_LT(output->toPlainText().indexOf("> say Welcome pilots"), output->toPlainText().indexOf("Server: Welcome pilots"));
    QTest::keyClicks(command, "$rehash");
    QTest::keyClick(command, Qt::Key_Up);
    EXPECT_EQ(command->text(), "say Welcome pilots");
    QTest::keyClick(command, Qt::Key_Down);
    EXPECT_EQ(command->text(), "$rehash");

    // The same line again brings the open window forward instead of a second one.
    DoubleClickLine();
    EXPECT_EQ(window->serverWindow(port), server);
    EXPECT_EQ(OpenServerWindows(), 1);
    SaveShot(*server, "server-window");

    ASSERT_EQ(Client("leave Alice"), 0);
    EXPECT_TRUE(WaitFor([&] { return players->rowCount() == 0; }));

    // Closing the window leaves the server and its console alone; a new window shows the kept lines.
    server->close();
    ASSERT_TRUE(WaitFor([&] { return window->serverWindow(port) == nullptr; }));
    EXPECT_TRUE(manager->EntryOnPort(port)->console->IsConnected());
    EXPECT_EQ(Record().find("command logout"), std::string::npos);
    DoubleClickLine();
    server = window->serverWindow(port);
    ASSERT_NE(server, nullptr);
    output = server->findChild<QPlainTextEdit*>("consoleOutput");
    EXPECT_TRUE(output->toPlainText().contains(">Alice has left the game")) << output->toPlainText().toStdString();

    // The server goes: the window stays and says so, with its commands off.
    manager->StopServersOnPorts({port}, true);
    status = server->findChild<QLabel*>("linkStatus");
    EXPECT_TRUE(WaitFor([&] { return status->text().contains("not supervised any more"); })) << status->text().toStdString();
    EXPECT_TRUE(server->isVisible());
    EXPECT_FALSE(server->findChild<QLineEdit*>("commandLine")->isEnabled());
    EXPECT_FALSE(server->findChild<QPushButton*>("kickPlayer")->isEnabled());
    EXPECT_FALSE(server->findChild<QPushButton*>("banPlayer")->isEnabled());
    SaveShot(*server, "server-window-stopped");
}

}  // namespace
}  // namespace hm::ui_test
