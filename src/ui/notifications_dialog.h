// The notifications dialog: the web hooks that hear of event lines (the [notify NAME] sections of
// cfg/haldmoor3.ini), listed with name, address, format and kinds, edited in the fields below the
// list, and tried with "Test", which sends the test message to every listed target and shows each
// answer.
//
// Opened modally from the global options dialog on the GUI thread. It works on a copy of the targets;
// OK checks them with the shared rules and hands them to the manager, which uses them at once and
// writes the file; Cancel leaves everything as it was. A test runs on the notification sender's
// thread: its answer comes back through Qt's queue to this thread, and is dropped when the dialog has
// gone by then.
#pragma once

#include <QDialog>

#include <array>
#include <vector>

#include "notify/notification_sender.h"
#include "servers/program_settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace hm {

class ServerManager;
class UiPresenter;

class NotificationsDialog : public QDialog {
public:
    NotificationsDialog(ServerManager& manager, UiPresenter& presenter, QWidget* parent = nullptr);

    void accept() override;

    // The columns of the list.
    enum Column { kName, kAddress, kFormat, kEvents, kResult, kColumns };

    QTableWidget* list() const { return list_; }

private:
    void ShowRow(int row);        // targets_[row] -> the list's row
    void ShowSelected();          // the selected target -> the fields
    void TakeFields();            // the fields -> the selected target and its row
    void AddTarget();
    void RemoveTarget();
    void Test();
    void ShowResults(const std::vector<NotifyResult>& results);

    ServerManager& manager_;
    UiPresenter& presenter_;
    std::vector<CNotifyTarget> targets_;
    bool showing_ = false;  // the fields are being filled: their signals change nothing
    QTableWidget* list_;
    QGroupBox* editor_;
    QLineEdit* name_;
    QLineEdit* url_;
    QComboBox* format_;
    std::array<QCheckBox*, kNotifyKindCount> kinds_{};
    QPushButton* remove_;
    QPushButton* test_;
};

}  // namespace hm
