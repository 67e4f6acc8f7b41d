// The server files dialog of an import: a launch batch file, or the main configuration file with the
// multi settings, autoexec and game tracker files it goes with. Choosing a main file proposes the
// other three; a batch file supplies them itself, so their fields are disabled while one is given.
//
// Only collects paths (Windows-1252 bytes, as the importer reads them); the import chain runs after
// OK. Modal, GUI thread.
#pragma once

#include <QDialog>

#include "launch/server_import.h"

class QLineEdit;
class QPushButton;

namespace hm {

class UiPresenter;

class ServerFilesDialog : public QDialog {
public:
    explicit ServerFilesDialog(UiPresenter& presenter, QWidget* parent = nullptr);

    // The paths as entered; complete after the dialog was accepted.
    const ServerFilePaths& paths() const { return paths_; }
    void accept() override;

    enum Field { Batch, Main, MultiSettings, Autoexec, Tracker, kFields };
    QLineEdit* field(Field f) const { return fields_[f]; }
    QPushButton* browse(Field f) const { return browse_[f]; }
    // What the browse button of the field does once a file is chosen.
    void Chosen(Field f, const QString& path);

private:
    void Browse(Field f);
    void FollowBatch();

    UiPresenter& presenter_;
    QLineEdit* fields_[kFields] = {};
    QPushButton* browse_[kFields] = {};
    ServerFilePaths paths_;
};

}  // namespace hm
