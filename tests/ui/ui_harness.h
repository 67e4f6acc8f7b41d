// The shared harness of the window tests: Qt offscreen, a working folder of the test's own with its
// registry file, runtime folder and a "k3ded make-install" installation (optionally the demo
// configurations), the real server manager behind the real main window, a presenter that records
// instead of blocking, and screenshots into the build's ui-shots folder.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_server.h"
#include "app/server_manager.h"
#include "eventlog/jotwell_binding.h"
#include "platform/registry.h"
#include "ui/editor_context.h"
#include "ui/main_window.h"
#include "ui/presenter.h"
#include "ui/qt_event_loop.h"

namespace hm::ui_test {

// Records what the windows show and ask; answers as told; never blocks.
class RecordingPresenter : public UiPresenter {
public:
    void Message(QWidget*, const QString& text) override { messages << text; }
    bool AskYesNo(QWidget*, const QString& question) override {
        questions << question;
        return yes;
    }
    bool PickFile(QWidget*, const QString& title, const QString&, QString& chosen) override {
        questions << title;
        if (pick.isEmpty()) return false;
        chosen = pick;
        return true;
    }
    // The dialog is shown (not modal), handed to onExec, and closed again.
    int Exec(QDialog& dialog) override;

    QStringList messages, questions;
    bool yes = false;
    QString pick;
    std::function<int(QDialog&)> onExec;
};

// Processes Qt events until done() or the time-out; true when done() came true.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(30));
// Saves a picture of the widget as build/ui-shots/NAME.png (HM_SHOTS_DIR); returns the path.
std::string SaveShot(QWidget& widget, const std::string& name);

struct HarnessOptions {
    int demoConfigs = 0;          // 0: no configurations at all
    uint32_t timerPeriodMs = 500; // the supervisor period
    bool autoLaunch = true;       // the demo configurations' "Auto launch new servers at program start"
    bool jotwellPresent = false;  // a file of the logging library's name is found (it does not load)
};

// A named child of a dialog (a test failure when there is none).
template <class T>
T* Find(QDialog& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QStringList Lines(const QListWidget* list);
QPushButton* Ok(QDialog& dialog);

// Opens an editor as the dialogs that own it do: through the presenter, `drive` acting in it, and
// Apply to the record after OK. Returns the dialog's result.
template <class Dialog, class Record>
int Edit(Record& record, EditorContext& context, RecordingPresenter& presenter, const std::function<void(Dialog&)>& drive) {
    Dialog dialog(record, context);
    presenter.onExec = [&](QDialog&) {
        drive(dialog);
        WaitFor([&] { return !dialog.isVisible(); }, std::chrono::seconds(2));
        return dialog.result();
    };
    const int result = presenter.Exec(dialog);
    if (result == QDialog::Accepted) dialog.Apply(record);
    return result;
}

class UiHarness : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the installation (and configurations) in the working folder.
    void Prepare(const HarnessOptions& options);
    // Builds a manager and a window on the folder, as a start of the program does (not yet started up).
    void Open(bool tray = false);
    // The end of the run: the shutdown sequence, then window and manager go.
    void Close();
    // The whole start-up sequence.
    void StartUp();
    // Waits until `count` status lines show a numeric PID and the consoles have logged in.
    bool WaitForRunningServers(int count);
    std::vector<std::string> EventTexts() const;   // the event list's lines behind their stamps
    bool HasEvent(const std::string& text) const;  // a line whose text is exactly this
    // The stored configurations of the folder, changed by `change` and written back.
    void ChangeStoredConfigurations(const std::function<void(CServerConfigArray&)>& change);
    // Process identifiers of the game servers that run from this test's folder.
    std::vector<int> GameServerProcesses() const;

    std::filesystem::path folder;
    uint16_t basePort = 0;
    HarnessOptions options;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<JotwellBinding> jotwell;
    std::unique_ptr<QtEventLoop> loop;
    RecordingPresenter presenter;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<ServerManager> manager;
    bool closed = false;
};

}  // namespace hm::ui_test
