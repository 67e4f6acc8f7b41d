// The chooser behind "Start server(s)...": every configuration in a list, several can be picked and
// started (or scheduled) together; the launcher does the starting.
//
// Modal on the GUI thread while `settingsDialogOpen` is set, so the supervisor leaves the
// configurations alone meanwhile.
#pragma once

#include <QDialog>

class QPushButton;
class QTableWidget;

namespace hm {

class ServerManager;

class StartDialog : public QDialog {
public:
    StartDialog(ServerManager& manager, QWidget* parent = nullptr);
    ~StartDialog() override;

    QTableWidget* list() const { return list_; }
    // Starts the selected configurations and closes the dialog.
    void StartSelected();

private:
    ServerManager& manager_;
    QTableWidget* list_;
    QPushButton* start_;
};

}  // namespace hm
