// The editor of a server's game trackers: the list of trackers, adding and removing them, and the UDP
// port on which the trackers query the server.
//
// Opened modally from the server configuration editor on the GUI thread; it edits its own list and
// port and touches the caller's record only in Apply(), after OK. It never lets a line into the list
// that would break the tracker file written for the game.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace hm {

class CServerConfig;
struct EditorContext;

class TrackersDialog : public QDialog {
public:
    TrackersDialog(const CServerConfig& config, EditorContext& context, QWidget* parent = nullptr);
    // Writes back the trackers and the GameSpy port; call after Accepted.
    void Apply(CServerConfig& config) const;

private:
    void AddTracker();
    void RemoveSelected();
    void EnableButtons();
    void CheckAndAccept();

    EditorContext& context_;
    std::vector<std::string> trackers_;  // the list's lines as the record holds them
    QListWidget* list_;
    QLineEdit* newTracker_;
    QPushButton* add_;
    QPushButton* remove_;
    QLineEdit* port_;
    QCheckBox* webTracker_;
};

}  // namespace hm
