// The server window: one supervised server as its console shows it. The console's output as it comes,
// the players on the server with Kick and Ban, and a command line to the console with the commands
// typed before.
//
// The main window opens one per server and keeps track of it; it lives on the GUI thread only. It
// never holds on to the server's entry or console: the console is replaced when it reconnects and
// deleted when the server stops, so every look (a timer, four times a second) and every command finds
// the entry again by its port through the manager. Closing the window never touches the server; a
// server that is gone or has no console leaves the window open, saying so, with its commands off.
// Questions go through the presenter. The console's worker reaches the window only through the small
// box the console answers into, which the timer empties: no widget is ever touched off this thread.
#pragma once

#include <QLineEdit>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "servers/remote_console.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTextCharFormat;
class QTimer;

namespace hm {

class ServerManager;
class UiPresenter;

// The command line: Up and Down walk through the lines sent from it, the line being typed is kept
// while walking and comes back below the newest one.
class CommandLine : public QLineEdit {
public:
    static constexpr size_t kHistoryMax = 100;

    using QLineEdit::QLineEdit;
    // A line that went out; repeating the newest one adds nothing.
    void Remember(const QString& line);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::vector<QString> history_;
    size_t at_ = 0;   // history_.size(): the line being typed
    QString draft_;
};

class ServerWindow : public QWidget {
public:
    static constexpr int kPollMs = 250;

    // `name` is the server's name as the status list shows it (for the title).
    ServerWindow(ServerManager* manager, UiPresenter& presenter, unsigned port, const QString& name);
    ~ServerWindow() override;

    unsigned port() const { return port_; }
    // The manager the window looks the server up in; null at the end of the run (the window then
    // shows the server as gone).
    void SetManager(ServerManager* manager);

    // The operator's commands (buttons and the command line).
    void KickSelected(bool ban);
    void SendTyped();

private:
    enum class Link { Gone, NoConsole, Connecting, Connected };
    enum class Kind { Console, Command, Note, Refusal };

    // The entry's console, looked up now; null when the entry or its console is gone.
    RemoteConsole* Console() const;
    void Poll();
    void ShowLink(Link link, size_t players);
    void ShowPlayers(const std::vector<ConsolePlayer>& players);
    std::optional<ConsolePlayer> SelectedPlayer() const;
    void RefreshButtons();
    void Append(const QString& text, Kind kind);
    void Refuse(const QString& why) { Append(QStringLiteral("Not sent: ") + why, Kind::Refusal); }

    // Where the console's worker drops the end of each command sent from here: whether the reply was
    // empty. Shared, so that an answer that comes after the window closed lands in a box still there.
    struct ReplyBox;

    ServerManager* manager_;
    UiPresenter& presenter_;
    const unsigned port_;
    std::shared_ptr<ReplyBox> replies_;
    uint64_t lastLine_ = 0;   // number of the newest console line shown
    std::optional<Link> link_;
    int polls_ = 0;
    std::vector<std::pair<uint32_t, std::string>> shownPlayers_;   // number and name per row
    bool outputStarted_ = false;

    QPlainTextEdit* output_;
    QTableWidget* players_;
    QPushButton* kick_;
    QPushButton* ban_;
    CommandLine* command_;
    QPushButton* send_;
    QLabel* mark_;
    QLabel* status_;
    QTimer* timer_;
};

}  // namespace hm
