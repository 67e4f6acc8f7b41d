#include "ui/server_window.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <mutex>
#include <utility>

#include "app/server_manager.h"
#include "servers/console_rules.h"
#include "ui/app_icon.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

enum PlayerColumn { kNumberColumn, kNameColumn, kAddressColumn, kOnlineColumn, kPlayerColumns };

// "12:34" under an hour, "1:02:03" from then on.
QString OnlineText(uint32_t ms) {
    const uint32_t seconds = ms / 1000;
    const uint32_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    const QString minutesSeconds = QStringLiteral("%1:%2").arg(m, h ? 2 : 1, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return h ? QStringLiteral("%1:%2").arg(QString::number(h), minutesSeconds) : minutesSeconds;
}

QString PlayerCount(size_t n) {
    if (n == 0) return QStringLiteral("no players");
    return n == 1 ? QStringLiteral("1 player") : QStringLiteral("%1 players").arg(QString::number(n));
}

QPixmap LinkMark(const QColor& colour) {
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(colour.darker(140));
    p.setBrush(colour);
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    return pixmap;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Command line

void CommandLine::Remember(const QString& line) {
    if (history_.empty() || history_.back() != line) history_.push_back(line);
    if (history_.size() > kHistoryMax) history_.erase(history_.begin());
    at_ = history_.size();
    draft_.clear();
}

void CommandLine::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        if (at_ > 0) {
            if (at_ == history_.size()) draft_ = text();
            setText(history_[--at_]);
        }
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Down) {
        if (at_ < history_.size()) {
            ++at_;
            setText(at_ == history_.size() ? draft_ : history_[at_]);
        }
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------------------
// Server window

struct ServerWindow::ReplyBox {
    std::mutex lock;
    std::vector<bool> emptyReplies;   // one per answered command: whether nothing came back

    void Put(bool empty) {
        std::lock_guard<std::mutex> guard(lock);
        emptyReplies.push_back(empty);
    }
    std::vector<bool> Take() {
        std::lock_guard<std::mutex> guard(lock);
        return std::exchange(emptyReplies, {});
    }
};

ServerWindow::ServerWindow(ServerManager* manager, UiPresenter& presenter, unsigned port, const QString& name)
    : manager_(manager),
      presenter_(presenter),
      port_(port),
      replies_(std::make_shared<ReplyBox>()),
      output_(new QPlainTextEdit),
      players_(new QTableWidget(0, kPlayerColumns)),
      kick_(new QPushButton(QStringLiteral("&Kick..."))),
      ban_(new QPushButton(QStringLiteral("&Ban..."))),
      command_(new CommandLine),
      send_(new QPushButton(QStringLiteral("&Send"))),
      mark_(new QLabel),
      status_(new QLabel),
      timer_(new QTimer(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("serverWindow%1").arg(port));
    setWindowTitle(name.isEmpty() ? QStringLiteral("Server %1").arg(port)
                                  : QStringLiteral("Server %1 (%2)").arg(QString::number(port), name));
    setWindowIcon(AppIcon());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);

    // The console: what the server printed, and the line to type commands into.
    auto* consoleBox = new QGroupBox(QStringLiteral("Console"));
    auto* consoleLayout = new QVBoxLayout(consoleBox);
    output_->setObjectName(QStringLiteral("consoleOutput"));
    output_->setReadOnly(true);
    output_->setUndoRedoEnabled(false);
    output_->setLineWrapMode(QPlainTextEdit::NoWrap);
    output_->setMaximumBlockCount(static_cast<int>(kConsoleLinesKept));
    output_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    output_->setPlaceholderText(QStringLiteral("Waiting for the server's console..."));
    output_->setToolTip(QStringLiteral("What the server's console printed, newest at the bottom,\n"
                                       "and the commands sent from this window."));
    consoleLayout->addWidget(output_, 1);
    auto* commandRow = new QHBoxLayout;
    command_->setObjectName(QStringLiteral("commandLine"));
    command_->setPlaceholderText(QStringLiteral("Console command, e.g. say Welcome"));
    command_->setToolTip(QStringLiteral("Press Enter to send the line to the server's console.\n"
                                        "Up and Down bring back the commands sent before."));
    send_->setObjectName(QStringLiteral("sendCommand"));
    send_->setAutoDefault(false);
    commandRow->addWidget(command_, 1);
    commandRow->addWidget(send_);
    consoleLayout->addLayout(commandRow);

    // The players, with the buttons that act on the selected one.
    auto* playersBox = new QGroupBox(QStringLiteral("Players"));
    auto* playersLayout = new QVBoxLayout(playersBox);
    players_->setObjectName(QStringLiteral("playerList"));
    players_->setHorizontalHeaderLabels(
        {QStringLiteral("No."), QStringLiteral("Name"), QStringLiteral("Address"), QStringLiteral("Online")});
    players_->setSelectionBehavior(QAbstractItemView::SelectRows);
    players_->setSelectionMode(QAbstractItemView::SingleSelection);
    players_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    players_->setWordWrap(false);
    players_->verticalHeader()->hide();
    players_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    players_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    players_->horizontalHeader()->setHighlightSections(false);
    players_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    players_->horizontalHeader()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
    players_->setToolTip(QStringLiteral("The players the server listed last. Select one to kick or ban."));
    // The selection stays visible while the command line has the focus: it is what Kick acts on.
    QPalette palette = players_->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText, palette.color(QPalette::Active, QPalette::HighlightedText));
    players_->setPalette(palette);
    playersLayout->addWidget(players_, 1);
    auto* playerButtons = new QHBoxLayout;
    kick_->setObjectName(QStringLiteral("kickPlayer"));
    kick_->setToolTip(QStringLiteral("Remove the selected player from the server."));
    ban_->setObjectName(QStringLiteral("banPlayer"));
    ban_->setToolTip(QStringLiteral("Remove the selected player and refuse the player's address from now on."));
    for (QPushButton* button : {kick_, ban_}) {
        button->setAutoDefault(false);
        playerButtons->addWidget(button);
    }
    playerButtons->addStretch(1);
    playersLayout->addLayout(playerButtons);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(consoleBox);
    splitter->addWidget(playersBox);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    layout->addWidget(splitter, 1);

    auto* statusRow = new QHBoxLayout;
    mark_->setObjectName(QStringLiteral("linkMark"));
    status_->setObjectName(QStringLiteral("linkStatus"));
    status_->setWordWrap(true);
    statusRow->addWidget(mark_);
    statusRow->addWidget(status_, 1);
    layout->addLayout(statusRow);

    connect(kick_, &QPushButton::clicked, this, [this] { KickSelected(false); });
    connect(ban_, &QPushButton::clicked, this, [this] { KickSelected(true); });
    connect(send_, &QPushButton::clicked, this, [this] { SendTyped(); });
    connect(command_, &QLineEdit::returnPressed, this, [this] { SendTyped(); });
    connect(players_, &QTableWidget::itemSelectionChanged, this, [this] { RefreshButtons(); });
    connect(timer_, &QTimer::timeout, this, [this] { Poll(); });

    const int em = fontMetrics().averageCharWidth();
    resize(std::max(900, em * 120), std::max(520, fontMetrics().height() * 32));
    splitter->setSizes({width() * 3 / 5, width() * 2 / 5});
    command_->setFocus();
    Poll();
    timer_->start(kPollMs);
}

ServerWindow::~ServerWindow() = default;

void ServerWindow::SetManager(ServerManager* manager) {
    manager_ = manager;
    Poll();
}

RemoteConsole* ServerWindow::Console() const {
    CServerInfo* entry = manager_ ? manager_->EntryOnPort(port_) : nullptr;
    return entry ? entry->console.get() : nullptr;
}

void ServerWindow::Poll() {
    ++polls_;
    for (const bool empty : replies_->Take())
        if (empty) Append(QStringLiteral("No reply from server %1.").arg(port_), Kind::Note);

    CServerInfo* entry = manager_ ? manager_->EntryOnPort(port_) : nullptr;
    RemoteConsole* console = entry ? entry->console.get() : nullptr;
    if (!console) {
        ShowPlayers({});
        ShowLink(entry ? Link::NoConsole : Link::Gone, 0);
        return;
    }
    const std::vector<std::string> lines = console->ConsoleLinesAfter(lastLine_, lastLine_);
    if (!lines.empty()) {
        QStringList texts;
        texts.reserve(static_cast<qsizetype>(lines.size()));
        for (const std::string& line : lines) texts << ToQt(line);
        Append(texts.join(QLatin1Char('\n')), Kind::Console);
    }
    const std::vector<ConsolePlayer> players = console->Players();
    ShowPlayers(players);
    ShowLink(console->IsConnected() ? Link::Connected : Link::Connecting, players.size());
}

void ServerWindow::ShowLink(Link link, size_t players) {
    const QString port = QString::number(port_);
    if (link_ != link) {
        // A change after the window opened is noted in the output too, where the operator is reading.
        if (link_) {
            const QString notes[] = {QStringLiteral("Server %1 was stopped or removed.").arg(port),
                                     QStringLiteral("The console connection ended."),
                                     QStringLiteral("The console connection was lost; reconnecting..."),
                                     QStringLiteral("Console connected.")};
            Append(notes[static_cast<int>(link)], Kind::Note);
        }
        link_ = link;
        const bool on = link == Link::Connected;
        command_->setEnabled(on);
        send_->setEnabled(on);
        mark_->setPixmap(LinkMark(on ? QColor(0x2e, 0xa0, 0x43)
                                     : link == Link::Connecting ? QColor(0xd9, 0x8e, 0x04) : QColor(0x9a, 0x9a, 0x9a)));
        if (on) command_->setFocus();
    }
    switch (link) {
        case Link::Gone:
            status_->setText(QStringLiteral("Server %1 is not supervised any more: it was stopped or removed. "
                                            "Kick, Ban and commands are off.").arg(port));
            break;
        case Link::NoConsole:
            status_->setText(QStringLiteral("Server %1 has no console connection. Kick, Ban and commands are off.").arg(port));
            break;
        case Link::Connecting:
            status_->setText(QStringLiteral("Connecting to the console of server %1... "
                                            "Kick, Ban and commands are off until it answers.").arg(port));
            break;
        case Link::Connected:
            status_->setText(QStringLiteral("Console connected, %1.").arg(PlayerCount(players)));
            break;
    }
    RefreshButtons();
}

void ServerWindow::ShowPlayers(const std::vector<ConsolePlayer>& players) {
    std::vector<std::pair<uint32_t, std::string>> keys;
    keys.reserve(players.size());
    for (const ConsolePlayer& player : players) keys.emplace_back(player.number, player.name);
    const bool changed = keys != shownPlayers_;
    if (changed) {
        // The selection follows the player, not the row: a Kick must never land on whoever moved up.
        const std::optional<ConsolePlayer> selected = SelectedPlayer();
        players_->clearSelection();
        players_->setRowCount(static_cast<int>(players.size()));
        for (int row = 0; row < players_->rowCount(); ++row) {
            for (int c = 0; c < kPlayerColumns; ++c)
                if (!players_->item(row, c)) players_->setItem(row, c, new QTableWidgetItem);
            players_->item(row, kNumberColumn)->setText(QString::number(keys[static_cast<size_t>(row)].first));
            players_->item(row, kNameColumn)->setText(ToQt(keys[static_cast<size_t>(row)].second));
        }
        shownPlayers_ = std::move(keys);
        for (size_t row = 0; selected && row < shownPlayers_.size(); ++row) {
            if (shownPlayers_[row].first == selected->number && shownPlayers_[row].second == selected->name)
                players_->selectRow(static_cast<int>(row));
        }
    }
    // Addresses come from the player records, filled a little after a join; once a second is enough.
    const bool addresses = changed || polls_ % (1000 / kPollMs) == 0;
    for (size_t row = 0; row < players.size(); ++row) {
        const int r = static_cast<int>(row);
        players_->item(r, kOnlineColumn)->setText(OnlineText(players[row].onlineMs));
        if (addresses && manager_) {
            const std::string address = manager_->LastKnownAddress(players[row].name);
            players_->item(r, kAddressColumn)->setText(address.empty() ? QStringLiteral("-") : ToQt(address));
        }
    }
    RefreshButtons();
}

std::optional<ConsolePlayer> ServerWindow::SelectedPlayer() const {
    const QModelIndexList rows = players_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return std::nullopt;
    const size_t row = static_cast<size_t>(rows.front().row());
    if (row >= shownPlayers_.size()) return std::nullopt;
    ConsolePlayer player;
    player.number = shownPlayers_[row].first;
    player.name = shownPlayers_[row].second;
    return player;
}

void ServerWindow::RefreshButtons() {
    const bool on = link_ == Link::Connected && SelectedPlayer().has_value();
    kick_->setEnabled(on);
    ban_->setEnabled(on);
}

void ServerWindow::Append(const QString& text, Kind kind) {
    QTextCharFormat format;
    switch (kind) {
        case Kind::Console: break;
        case Kind::Command:
            format.setForeground(QColor(0x1f, 0x5f, 0xbf));
            format.setFontWeight(QFont::Bold);
            break;
        case Kind::Note:
            format.setForeground(QColor(0x70, 0x70, 0x70));
            format.setFontItalic(true);
            break;
        case Kind::Refusal: format.setForeground(QColor(0xc6, 0x28, 0x28)); break;
    }
    // Follow the newest line unless the operator has scrolled up to read.
    QScrollBar* bar = output_->verticalScrollBar();
    const bool follow = bar->value() == bar->maximum();
    QTextCursor cursor(output_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (outputStarted_) cursor.insertBlock(QTextBlockFormat(), format);
        outputStarted_ = true;
        // Text goes in as text: nothing a server prints is read as markup.
        cursor.insertText(line, format);
    }
    cursor.endEditBlock();
    if (follow) bar->setValue(bar->maximum());
}

// ---------------------------------------------------------------------------------------------------
// Commands

void ServerWindow::KickSelected(bool ban) {
    const std::optional<ConsolePlayer> chosen = SelectedPlayer();
    if (!chosen) return;
    const QString port = QString::number(port_);
    const QString who = QStringLiteral("'%1' (%2)").arg(ToQt(chosen->name), QString::number(chosen->number));
    const QString question =
        ban ? QStringLiteral("Ban player %1 from server %2?\n\nThe server refuses the player's address from then on.")
                  .arg(who, port)
            : QStringLiteral("Kick player %1 from server %2?").arg(who, port);
    if (!presenter_.AskYesNo(this, question)) return;

    // The question may have stood open for a while: the console is looked up again, and the player
    // must still be there under the same number.
    RemoteConsole* console = Console();
    if (!console || !console->IsConnected()) {
        Append(QStringLiteral("Nobody was %1: server %2 has no console connection now.")
                   .arg(ban ? QStringLiteral("banned") : QStringLiteral("kicked"), port),
               Kind::Refusal);
        return;
    }
    const std::vector<ConsolePlayer> now = console->Players();
    const bool present = std::any_of(now.begin(), now.end(), [&](const ConsolePlayer& p) {
        return p.number == chosen->number && p.name == chosen->name;
    });
    if (!present) {
        Append(QStringLiteral("Nobody was %1: player %2 has left server %3.")
                   .arg(ban ? QStringLiteral("banned") : QStringLiteral("kicked"), who, port),
               Kind::Refusal);
        return;
    }
    const int number = static_cast<int>(chosen->number);
    ban ? console->Ban(number, std::nullopt) : console->Kick(number, std::nullopt);
    if (manager_)
        manager_->events.AddEvent("Server %u: Player '%s' %s by the operator.", port_, chosen->name.c_str(),
                                  ban ? "banned" : "kicked");
}

void ServerWindow::SendTyped() {
    const QString typed = command_->text();
    if (typed.trimmed().isEmpty()) return;
    QString bad;
    const std::optional<std::string> line = FromQt(typed, &bad);
    if (!line) {
        Refuse(QStringLiteral("the character \"%1\" cannot be sent to the game's console.").arg(bad));
        return;
    }
    if (const std::string refused = CheckConsoleLine(*line); !refused.empty()) {
        Refuse(ToQt(refused));
        return;
    }
    RemoteConsole* console = Console();
    if (!console || !console->IsConnected()) {
        Refuse(QStringLiteral("server %1 has no console connection now.").arg(port_));
        return;
    }
    // The reply's lines reach the output as console lines like all others; only a missing reply
    // is worth a word of its own.
    std::shared_ptr<ReplyBox> box = replies_;
    if (!console->SendConsoleCommand(*line, [box](const std::string& reply) { box->Put(reply.empty()); })) {
        Refuse(QStringLiteral("server %1 cannot take a console command now; another one may wait for its reply.").arg(port_));
        return;
    }
    Append(QStringLiteral("> ") + typed, Kind::Command);
    command_->Remember(typed);
    command_->clear();
}

}  // namespace hm
