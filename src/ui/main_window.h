// The desktop program's main window: the server status list, the event list, the information fields
// and the buttons that start, stop and exit; the screen of the server manager.
//
// Owned by the desktop front-end for the whole run and used on the GUI thread only. It shows what the
// manager tells it (ManagerView) and hands the operator's commands to the manager; it never decides
// anything about servers itself. Questions, boxes and pickers go through the presenter, so tests
// record them. Minimising hides the window in the notification area where the desktop has one, and
// minimises it plainly where it has none, so the window can never be lost. It keeps the server
// windows opened from its status list (one per server) and closes them when it closes.
#pragma once

#include <QMainWindow>

#include <QPointer>

#include <functional>
#include <map>
#include <memory>

#include "app/manager_view.h"

class QLabel;
class QPushButton;
class QSystemTrayIcon;

namespace hm {

class CServerConfig;
class EventListView;
class ServerManager;
class ServerWindow;
class StatusList;
class UiPresenter;

class MainWindow : public QMainWindow, public ManagerView {
public:
    explicit MainWindow(UiPresenter& presenter, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The manager whose commands the buttons run (null: none, every command is ignored).
    void Attach(ServerManager* manager);
    // Runs when the window has closed (the end of the run; the shutdown sequence follows).
    void SetClosedHandler(std::function<void()> handler) { closed_ = std::move(handler); }
    // Whether minimising goes to the notification area (default: when the desktop has one).
    void SetTrayAvailable(bool available) { trayAvailable_ = available; }
    // Whether the logging library was found at start-up (the editors offer its switch only then).
    void SetJotwellPresent(bool present) { jotwellPresent_ = present; }

    // ManagerView
    void EventLineAdded(const std::string& line) override;
    void EventLinesRemoved(size_t countFromFront) override;
    void SetTitle(const std::string& title) override;
    void SetInfo(InfoField field, const std::string& text) override;
    void UpdateServerLine(const StatusLine& line) override;
    void RemoveServerLine(unsigned port) override;
    void EnableStopAllButtons(bool enable) override;
    void Minimize() override;
    void ShowNormal() override;
    std::unique_ptr<ProgressSteps> CreateProgress() override;
    void MessageBox(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    PortAnswer AskPort(const std::string& message, unsigned nextFree, unsigned& chosen) override;
    bool PickFile(const std::string& title, const std::string& filter, std::string& chosen) override;
    bool ChooseGameFolder(const std::string& filter, const std::string& registryFile, std::string& chosen) override;
    void RequestClose() override;
    void Repaint() override;
    void BringToFront() override;

    // The operator's commands (buttons and menus).
    void StartServers();
    // The configuration dialog on a record; true when the operator pressed OK (the record is edited).
    bool EditConfiguration(CServerConfig& config);
    // The server files dialog and the import chain; the configuration is appended and stored when the
    // operator confirms it in the configuration dialog.
    void ImportConfiguration();
    void StopSelectedServers();
    void ShowAbout();
    // The global options dialog, with the anti-cheat and remote info server options behind its buttons.
    void ShowGlobalOptions();
    void OpenHelp();
    void CopyServerAddress();
    // The server window of the server on this port: opened, or brought to the front when it is open.
    void OpenServerWindow(unsigned port);
    // The open server window of that port, or null.
    ServerWindow* serverWindow(unsigned port) const;

    StatusList* statusList() const { return status_; }
    EventListView* eventList() const { return events_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    bool closeRequested() const { return closeRequested_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QPushButton* MakeButton(const char* name, const QString& text, const QString& tip, std::function<void()> command);
    void ShowStatusMenu(const QPoint& at);
    void HideInTray();
    void RefreshStopSelected();

    UiPresenter& presenter_;
    ServerManager* manager_ = nullptr;
    StatusList* status_;
    EventListView* events_;
    QLabel* version_;
    QLabel* folder_;
    QLabel* address_;
    QPushButton* stopSelected_ = nullptr;
    QPushButton* stopAll_ = nullptr;
    QPushButton* stopEmpty_ = nullptr;
    QPushButton* options_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::map<unsigned, QPointer<ServerWindow>> serverWindows_;
    std::function<void()> closed_;
    bool trayAvailable_;
    bool jotwellPresent_ = false;
    bool startedUp_ = false;   // the start-up sequence has shown the window
    bool closeRequested_ = false;
};

}  // namespace hm
