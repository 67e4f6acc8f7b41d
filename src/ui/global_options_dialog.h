// The global options dialog ("Haldmoor3 Global Options"): the settings of the program as a whole and
// the defaults new server configurations take, the game folder, and the buttons that open the
// anti-cheat and the remote info server options and the notifications (which save themselves).
//
// Opened modally from the main window on the GUI thread. It works on the manager's dialog form
// (OpenGlobalOptions) and ends through CloseGlobalOptions: OK hands the form over, and a value the
// rules refuse shows its message and keeps the dialog open with that field focused; Cancel, Escape and
// the close box discard the changes. It never writes the live options itself. The game folder chosen
// here is only registered for the next start of the program.
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <map>
#include <string>

#include "servers/global_options_rules.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace hm {

class ServerManager;
class UiPresenter;

class GlobalOptionsDialog : public QDialog {
public:
    // Edits the dialog's copy of the options; true on OK. Null: the button that opens it is disabled.
    using OptionsEditor = std::function<bool(CGlobalOptions&)>;

    GlobalOptionsDialog(ServerManager& manager, UiPresenter& presenter, OptionsEditor editAntiCheat,
                        OptionsEditor editInfoServer, QWidget* parent = nullptr);
    ~GlobalOptionsDialog() override;

    void accept() override;
    void reject() override;

    // The controls by their field, for the window tests.
    QLineEdit* field(const char* name) const;
    QCheckBox* box(const char* name) const;
    QPushButton* button(const char* name) const;
    QComboBox* regionList() const { return region_; }
    QSpinBox* playersInAllServers() const { return playersAll_; }
    QLineEdit* addressField(size_t index) const { return address_.at(index); }

private:
    // Controls -> form; false (said, and the field focused) when a text cannot be stored.
    bool Collect(GlobalOptionsForm& form);
    // The flags and texts of the dialog's copy -> controls.
    void ShowOptions(const CGlobalOptions& options);
    void RunEditor(const OptionsEditor& edit);
    void SelectGameFolder();
    void ShowNotifyCount();
    void FocusField(GlobalOptionsField field);
    void End(bool ok);

    ServerManager& manager_;
    UiPresenter& presenter_;
    OptionsEditor editAntiCheat_;
    OptionsEditor editInfoServer_;
    GlobalOptionsForm form_;  // as opened, with what the sub-dialogs changed
    bool ended_ = false;
    std::map<std::string, QLineEdit*> fields_;
    std::map<std::string, QCheckBox*> boxes_;
    std::map<std::string, QPushButton*> buttons_;
    std::array<QLineEdit*, 4> address_{};
    QComboBox* region_ = nullptr;
    QSpinBox* playersAll_ = nullptr;
    QLabel* notifyCount_ = nullptr;
};

}  // namespace hm
