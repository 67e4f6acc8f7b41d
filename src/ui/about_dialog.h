// The About box: program name, version, credit, what it is for and where its files are.
//
// Shown modally by the main window while `settingsDialogOpen` is set (the supervisor then leaves
// configurations alone). GUI thread.
#pragma once

#include <QDialog>

namespace hm {

class AboutDialog : public QDialog {
public:
    explicit AboutDialog(const QString& configFolder, QWidget* parent = nullptr);
};

}  // namespace hm
