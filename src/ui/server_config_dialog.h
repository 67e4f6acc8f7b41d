// The server configuration dialog ("Haldmoor3 Server Configuration"): every field of one
// configuration, the installation's lists to choose from, and the buttons that open the editors of
// its blocks (teams, ships, powerups, console and logging, trackers, schedule).
//
// Works on a copy of the record; OK checks the fields with the configuration rules (a failed check
// shows its message and keeps the dialog open with that field focused) and leaves the edited record
// in edited(); Cancel changes nothing. Modal, GUI thread only.
#pragma once

#include <QDialog>

#include <map>

#include "servers/server_config.h"
#include "ui/editor_context.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace hm {

class ServerConfigDialog : public QDialog {
public:
    ServerConfigDialog(const CServerConfig& config, EditorContext& context, QWidget* parent = nullptr);

    // The record as edited; complete after the dialog was accepted.
    const CServerConfig& edited() const { return config_; }
    // Checks and takes over the fields; stays open (and says why) when a check fails.
    void accept() override;

    // The controls by their field, for the window tests.
    QLineEdit* field(const char* name) const;
    QComboBox* list(const char* name) const;
    QCheckBox* box(const char* name) const;
    QPushButton* button(const char* name) const;

private:
    void FillMissions();
    void FillLevels();
    bool Collect();   // controls -> config_ (without the checks); false when a text cannot be stored
    template <typename Editor>
    void RunEditor();
    void ShowLoop();

    CServerConfig config_;
    EditorContext& context_;
    std::map<std::string, QLineEdit*> fields_;
    std::map<std::string, QComboBox*> lists_;
    std::map<std::string, QCheckBox*> boxes_;
    std::map<std::string, QPushButton*> buttons_;
    bool loop_ = false;
};

}  // namespace hm
