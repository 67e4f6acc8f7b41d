// The editor of a server's weekly schedule: start and stop day and time, the sorted list of entries,
// "Set" and "Remove".
//
// Opened modally from the server configuration editor on the GUI thread; it edits its own list of
// entry texts and touches the caller's record only in Apply(), after OK. Its time pickers hold times of
// day, never points in time, so they open at 00:00 whatever the host's time zone.
#pragma once

#include <QDialog>

#include "servers/schedule_text.h"

class QComboBox;
class QListWidget;
class QPushButton;
class QTimeEdit;

namespace hm {

class CServerConfig;
struct EditorContext;

class SchedulerDialog : public QDialog {
public:
    SchedulerDialog(const CServerConfig& config, EditorContext& context, QWidget* parent = nullptr);
    // Writes back the schedule's entries (and the minute table built from them); call after Accepted.
    void Apply(CServerConfig& config) const;

private:
    ScheduleEntry Chosen() const;
    void Set();
    void RemoveSelected();
    void ShowLines(const std::string& select);

    EditorContext& context_;
    ScheduleEntryList list_;
    QComboBox* startDay_;
    QTimeEdit* startTime_;
    QComboBox* stopDay_;
    QTimeEdit* stopTime_;
    QPushButton* set_;
    QListWidget* lines_;
    QPushButton* remove_;
};

}  // namespace hm
