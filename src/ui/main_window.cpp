#include "ui/main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include "app/server_manager.h"
#include "servers/dialog_state.h"
#include "ui/about_dialog.h"
#include "ui/anticheat_dialog.h"
#include "ui/app_icon.h"
#include "ui/dialog_buttons.h"
#include "ui/event_list_view.h"
#include "ui/global_options_dialog.h"
#include "ui/help.h"
#include "ui/info_server_options_dialog.h"
#include "ui/port_dialog.h"
#include "ui/presenter.h"
#include "ui/progress_window.h"
#include "ui/server_config_dialog.h"
#include "ui/server_files_dialog.h"
#include "ui/server_list_dialog.h"
#include "ui/server_window.h"
#include "ui/status_list.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

constexpr int kMainHelpPage = 11;

// A one-line text that shortens itself in the middle ("/home/…/Kelvane 3") instead of being cut, and
// shows the whole text as its tool tip.
class ElidedLabel : public QLabel {
public:
    ElidedLabel() {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    void SetFullText(const QString& text) {
        full_ = text;
        setToolTip(text);
        setText(text);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRect r = contentsRect();
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(full_, Qt::ElideMiddle, r.width()));
    }
    QSize minimumSizeHint() const override { return QSize(fontMetrics().averageCharWidth() * 8, QLabel::minimumSizeHint().height()); }

private:
    QString full_;
};

}  // namespace

MainWindow::MainWindow(UiPresenter& presenter, QWidget* parent)
    : QMainWindow(parent),
      presenter_(presenter),
      status_(new StatusList),
      events_(new EventListView),
      version_(new ElidedLabel),
      folder_(new ElidedLabel),
      address_(new ElidedLabel),
      trayAvailable_(QSystemTrayIcon::isSystemTrayAvailable()) {
    setWindowTitle(QStringLiteral("Haldmoor3"));
    setWindowIcon(AppIcon());
    setObjectName(QStringLiteral("mainWindow"));
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);

    // Servers: the status list and the buttons that act on it.
    auto* serversBox = new QGroupBox(QStringLiteral("Servers"));
    auto* serversLayout = new QVBoxLayout(serversBox);
    status_->setObjectName(QStringLiteral("statusList"));
    status_->setToolTip(QStringLiteral("Kelvane 3 server status."));
    serversLayout->addWidget(status_, 1);
    auto* serverButtons = new QHBoxLayout;
    serverButtons->addWidget(MakeButton("startServers", QStringLiteral("Start server(s)..."),
                                        QStringLiteral("Open the server list to configure and/or start\nKelvane 3 servers."),
                                        [this] { StartServers(); }));
    stopSelected_ = MakeButton("stopServers", QStringLiteral("Stop server(s)"),
                               QStringLiteral("Stop the selected Kelvane 3 server(s)."), [this] { StopSelectedServers(); });
    serverButtons->addWidget(stopSelected_);
    stopAll_ = MakeButton("stopAll", QStringLiteral("Stop all servers"), QStringLiteral("Stop all running Kelvane 3 servers."),
                          [this] {
                              if (manager_) manager_->CommandStopAll();
                          });
    serverButtons->addWidget(stopAll_);
    stopEmpty_ = MakeButton("stopEmpty", QStringLiteral("Stop all empty servers"),
                            QStringLiteral("Stop all servers that don't have players in them."), [this] {
                                if (manager_) manager_->CommandStopEmpty();
                            });
    serverButtons->addWidget(stopEmpty_);
    serverButtons->addStretch(1);
    serversLayout->addLayout(serverButtons);
    stopSelected_->setEnabled(false);
    stopAll_->setEnabled(false);
    stopEmpty_->setEnabled(false);

    auto* eventsBox = new QGroupBox(QStringLiteral("Event log"));
    auto* eventsLayout = new QVBoxLayout(eventsBox);
    events_->setObjectName(QStringLiteral("eventList"));
    events_->SetMessenger([this](const QString& text) { presenter_.Message(this, text); });
    eventsLayout->addWidget(events_);

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(serversBox);
    splitter->addWidget(eventsBox);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    layout->addWidget(splitter, 1);

    // Information about this host and the lobby service (which no longer exists).
    auto* infoRow = new QHBoxLayout;
    auto* infoBox = new QGroupBox(QStringLiteral("Info"));
    auto* infoForm = new QFormLayout(infoBox);
    version_->setObjectName(QStringLiteral("gameVersion"));
    folder_->setObjectName(QStringLiteral("gameFolder"));
    address_->setObjectName(QStringLiteral("networkAddress"));
    infoForm->addRow(QStringLiteral("Kelvane 3 version:"), version_);
    infoForm->addRow(QStringLiteral("Kelvane 3 directory:"), folder_);
    infoForm->addRow(QStringLiteral("Network address:"), address_);
    infoRow->addWidget(infoBox, 3);
    auto* lobbyBox = new QGroupBox(QStringLiteral("MRO server status"));
    auto* lobbyForm = new QFormLayout(lobbyBox);
    int lobbyId = 1002;
    for (const char* name : {"User tracker:", "Game tracker:", "IRC server:"}) {
        auto* offline = new QLabel(QStringLiteral("Offline"));
        offline->setObjectName(QStringLiteral("lobby%1").arg(lobbyId++));
        lobbyForm->addRow(QString::fromLatin1(name), offline);
    }
    infoRow->addWidget(lobbyBox, 1);
    layout->addLayout(infoRow);

    // The program's own buttons.
    auto* buttons = new QHBoxLayout;
    options_ = MakeButton("globalOptions", QStringLiteral("Global options..."), QStringLiteral("Change the global Haldmoor3 options."),
                          [this] { ShowGlobalOptions(); });
    options_->setEnabled(false);
    buttons->addWidget(options_);
    buttons->addWidget(MakeButton("about", QStringLiteral("&About"),
                                  QStringLiteral("Display copyright and version info of Haldmoor3."), [this] { ShowAbout(); }));
    buttons->addWidget(MakeButton("help", QStringLiteral("Online &Help"),
                                  QStringLiteral("Open a web browser with a more detailed description\nof this window."),
                                  [this] { OpenHelp(); }));
    buttons->addStretch(1);
    buttons->addWidget(MakeButton(
        "stopExit", QStringLiteral("&Stop && Exit"),
        QStringLiteral("Stop all servers and exit Haldmoor3.\n\nServers will be stopped regardless of whether there\nare "
                       "players in them or not. After all servers have\nbeen stopped Haldmoor3 exits."),
        [this] {
            if (manager_) manager_->CommandStopAndExit();
        }));
    buttons->addWidget(MakeButton("stopEmptyExit", QStringLiteral("Stop &Empty && Exit"),
                                  QStringLiteral("First stop all servers that don't have players in them,\nthen exit "
                                                 "Haldmoor3.\n\nKelvane 3 servers with players will stay running."),
                                  [this] {
                                      if (manager_) manager_->CommandStopEmptyAndExit();
                                  }));
    buttons->addWidget(MakeButton("exit", QStringLiteral("E&xit"),
                                  QStringLiteral("Close Haldmoor3.\n\nThis does not stop running Kelvane 3 servers.\n"),
                                  [this] {
                                      if (manager_) {
                                          manager_->CommandExit();
                                      } else {
                                          RequestClose();
                                      }
                                  }));
    layout->addLayout(buttons);
    setCentralWidget(central);

    connect(status_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { ShowStatusMenu(at); });
    connect(status_, &QTableWidget::itemSelectionChanged, this, [this] { RefreshStopSelected(); });
    status_->SetOpenHandler([this](unsigned port) { OpenServerWindow(port); });

    const int em = fontMetrics().averageCharWidth();
    resize(std::max(980, em * 130), std::max(700, fontMetrics().height() * 42));
}

MainWindow::~MainWindow() {
    // The server windows are top-level windows of their own (not children, so that each can go
    // behind this one); they go with it.
    for (auto& [port, server] : serverWindows_) delete server.data();
}

QPushButton* MainWindow::MakeButton(const char* name, const QString& text, const QString& tip,
                                    std::function<void()> command) {
    auto* button = new QPushButton(text);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(tip);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [command = std::move(command)] { command(); });
    return button;
}

void MainWindow::Attach(ServerManager* manager) {
    manager_ = manager;
    options_->setEnabled(manager_ != nullptr);
    for (auto& [port, server] : serverWindows_)
        if (server) server->SetManager(manager);
}

// ---------------------------------------------------------------------------------------------------
// ManagerView

void MainWindow::EventLineAdded(const std::string& line) { events_->AddLine(line); }
void MainWindow::EventLinesRemoved(size_t countFromFront) { events_->RemoveFront(countFromFront); }
void MainWindow::SetTitle(const std::string& title) { setWindowTitle(ToQt(title)); }

void MainWindow::SetInfo(InfoField field, const std::string& text) {
    QLabel* label = field == InfoField::GameVersion ? version_ : field == InfoField::GameFolder ? folder_ : address_;
    static_cast<ElidedLabel*>(label)->SetFullText(ToQt(text));
}

void MainWindow::UpdateServerLine(const StatusLine& line) { status_->UpdateLine(line); }

void MainWindow::RemoveServerLine(unsigned port) {
    status_->RemoveLine(port);
    RefreshStopSelected();
}

void MainWindow::EnableStopAllButtons(bool enable) {
    stopAll_->setEnabled(enable);
    stopEmpty_->setEnabled(enable);
}

void MainWindow::Minimize() {
    // During the start-up the window is not shown yet: only the progress window is seen.
    if (!startedUp_) return;
    if (trayAvailable_) {
        HideInTray();
    } else {
        showMinimized();
    }
}

void MainWindow::ShowNormal() {
    startedUp_ = true;
    if (tray_) tray_->hide();
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::BringToFront() { ShowNormal(); }

std::unique_ptr<ProgressSteps> MainWindow::CreateProgress() {
    // Top-level: during the start-up the main window is still hidden.
    return std::make_unique<ProgressWindow>(isVisible() ? this : nullptr);
}

void MainWindow::MessageBox(const std::string& text) { presenter_.Message(this, ToQt(text)); }
bool MainWindow::AskYesNo(const std::string& question) { return presenter_.AskYesNo(this, ToQt(question)); }

PortAnswer MainWindow::AskPort(const std::string& message, unsigned nextFree, unsigned& chosen) {
    PortDialog dialog(ToQt(message), nextFree, this);
    if (presenter_.Exec(dialog) != QDialog::Accepted) return PortAnswer::CancelAll;
    chosen = dialog.port();
    return PortAnswer::UsePort;
}

bool MainWindow::PickFile(const std::string& title, const std::string& filter, std::string& chosen) {
    QString file = ToQt(chosen);
    if (!presenter_.PickFile(this, ToQt(title), QtFileFilter(filter), file)) return false;
    QString bad;
    const std::optional<std::string> bytes = FromQt(file, &bad);
    if (!bytes) {
        presenter_.Message(this, QStringLiteral("The path %1 contains the character \"%2\", which the game's files "
                                                "cannot hold. Please choose a file whose path has none.")
                                     .arg(file, bad));
        return false;
    }
    chosen = *bytes;
    return true;
}

bool MainWindow::ChooseGameFolder(const std::string& filter, const std::string&, std::string& chosen) {
    return PickFile("Select the Kelvane 3 folder", filter, chosen);
}

void MainWindow::RequestClose() {
    closeRequested_ = true;
    QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}

void MainWindow::Repaint() { update(); }

// ---------------------------------------------------------------------------------------------------
// Commands

void MainWindow::StartServers() {
    if (!manager_) return;
    ServerListDialog dialog(
        *manager_, presenter_, [this](CServerConfig& config) { return EditConfiguration(config); },
        [this] { ImportConfiguration(); }, this);
    presenter_.Exec(dialog);
}

bool MainWindow::EditConfiguration(CServerConfig& config) {
    EditorContext context{presenter_, jotwellPresent_, manager_ ? &manager_->installation : nullptr};
    ServerConfigDialog dialog(config, context, this);
    if (presenter_.Exec(dialog) != QDialog::Accepted) return false;
    config = dialog.edited();
    return true;
}

void MainWindow::ImportConfiguration() {
    if (!manager_) return;
    ServerFilesDialog files(presenter_, this);
    if (presenter_.Exec(files) != QDialog::Accepted) return;
    const InstallationNames names(manager_->installation);
    const InformationBox inform = [this](const std::string& text) { presenter_.Message(this, ToQt(text)); };
    const ConfigurationEditor confirm = [this](CServerConfig& config) { return EditConfiguration(config); };
    if (ImportServerFiles(manager_->configs.configs, names, files.paths(), inform, confirm) == ServerImportResult::Imported)
        manager_->StoreConfigurations();
}

void MainWindow::StopSelectedServers() {
    stopSelected_->setEnabled(false);
    const std::vector<unsigned> ports = status_->SelectedPorts();
    if (manager_ && !ports.empty()) manager_->StopServersOnPorts(ports);
}

void MainWindow::ShowGlobalOptions() {
    if (!manager_) return;
    EditorContext context{presenter_, jotwellPresent_, &manager_->installation};
    // Each sub-dialog edits the options dialog's copy, which is taken over only with its OK.
    auto subDialog = [this, &context](auto* kind) {
        using Dialog = std::remove_pointer_t<decltype(kind)>;
        return [this, &context](CGlobalOptions& options) {
            Dialog dialog(options, context, this);
            if (presenter_.Exec(dialog) != QDialog::Accepted) return false;
            dialog.Apply(options);
            return true;
        };
    };
    GlobalOptionsDialog dialog(*manager_, presenter_, subDialog(static_cast<AntiCheatDialog*>(nullptr)),
                               subDialog(static_cast<InfoServerOptionsDialog*>(nullptr)), this);
    presenter_.Exec(dialog);
}

void MainWindow::ShowAbout() {
    AboutDialog dialog(manager_ ? ToQt(manager_->systemInfo.configFolder) : QString(), this);
    settingsDialogOpen = 1;
    presenter_.Exec(dialog);
    settingsDialogOpen = 0;
}

void MainWindow::OpenHelp() { ShowHelpPage(presenter_, this, kMainHelpPage); }

void MainWindow::CopyServerAddress() {
    const std::vector<unsigned> ports = status_->SelectedPorts();
    if (ports.empty()) return;
    QApplication::clipboard()->setText(QStringLiteral("k3://127.0.0.1:%1").arg(ports.front()));
}

void MainWindow::OpenServerWindow(unsigned port) {
    ServerWindow* server = serverWindow(port);
    if (!server) {
        const int row = status_->RowOf(port);
        const QTableWidgetItem* name = row >= 0 ? status_->item(row, 1) : nullptr;
        server = new ServerWindow(manager_, presenter_, port, name ? name->text() : QString());
        serverWindows_[port] = server;
    }
    server->show();
    server->setWindowState(server->windowState() & ~Qt::WindowMinimized);
    server->raise();
    server->activateWindow();
}

ServerWindow* MainWindow::serverWindow(unsigned port) const {
    const auto found = serverWindows_.find(port);
    return found != serverWindows_.end() ? found->second.data() : nullptr;
}

void MainWindow::ShowStatusMenu(const QPoint& at) {
    RefreshStopSelected();
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("statusMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Start..."), this, [this] { StartServers(); });
    if (!status_->SelectedPorts().empty()) {
        menu->addAction(QStringLiteral("Stop"), this, [this] { StopSelectedServers(); });
        menu->addAction(QStringLiteral("Copy k3://ip:port (127.0.0.1)"), this, [this] { CopyServerAddress(); });
    }
    menu->popup(status_->viewport()->mapToGlobal(at));
}

void MainWindow::RefreshStopSelected() { stopSelected_->setEnabled(!status_->SelectedPorts().empty()); }

// ---------------------------------------------------------------------------------------------------
// Window events

void MainWindow::closeEvent(QCloseEvent* event) {
    // The close box ends the run like "Exit" does, without stopping any server.
    event->accept();
    if (tray_) tray_->hide();
    for (auto& [port, server] : serverWindows_)
        if (server) server->close();
    if (closed_) QMetaObject::invokeMethod(this, [this] { closed_(); }, Qt::QueuedConnection);
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    if (isMinimized() && trayAvailable_ && startedUp_) {
        // Hidden after this event, not inside it: the window system is still finishing the change.
        QMetaObject::invokeMethod(this, [this] { HideInTray(); }, Qt::QueuedConnection);
    } else if (!isMinimized() && tray_) {
        tray_->hide();
    }
}

void MainWindow::HideInTray() {
    if (!tray_) {
        tray_ = new QSystemTrayIcon(AppIcon(), this);
        tray_->setToolTip(QStringLiteral("Haldmoor3"));
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) ShowNormal();
        });
    }
    tray_->show();
    hide();
}

}  // namespace hm
