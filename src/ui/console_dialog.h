// The editor of a server's remote console and console log: password and port, the log switches, and
// the automatic commands with how they are sent.
//
// Opened modally from the server configuration editor on the GUI thread; it edits its own form and
// touches the caller's record only in Apply(), after OK. It never offers the logging library's switch
// when the library was not found at start-up.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace hm {

class CServerConfig;
struct ConsoleForm;
struct EditorContext;

class ConsoleDialog : public QDialog {
public:
    ConsoleDialog(const CServerConfig& config, EditorContext& context, QWidget* parent = nullptr);
    // Writes back the console password and port and the console settings; call after Accepted.
    void Apply(CServerConfig& config) const;

private:
    ConsoleForm Form() const;
    void AddCommand();
    void RemoveSelected();
    void EnableControls();
    void CheckAndAccept();

    EditorContext& context_;
    std::string password_;                  // the field's text as OK took it
    std::vector<std::string> autoCommands_; // the list's lines as the record holds them
    QLineEdit* passwordField_;
    QLineEdit* port_;
    QCheckBox* logPlayerAddresses_;
    QCheckBox* logConsole_;
    QCheckBox* logTimestamps_;
    QCheckBox* logAllOutput_;
    QCheckBox* useJotwell_;
    QLineEdit* command_;
    QPushButton* add_;
    QListWidget* commands_;
    QPushButton* remove_;
    QCheckBox* onlyOne_;
    QCheckBox* random_;
    QCheckBox* repeat_;
    QSpinBox* minutes_;
};

}  // namespace hm
