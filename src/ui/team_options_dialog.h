// The team options of a server configuration: the four team names, team change, auto balance, team
// damage and the game's minimum and maximum player count. They become the autoexec file's commands
// (and the main file's SetTeamDamage) at the next launch.
//
// A modal dialog on the GUI thread, opened by the server configuration dialog. The number of teams is
// chosen there and read here from the record handed in (the caller hands its current choice): the team
// controls are open only for a game with teams, and a name field only for a team the game has. On OK
// the counts are checked (a failure shows the range message, the dialog stays open); Apply() then writes
// the team fields (and nothing else) into the caller's record. It never writes a file.
#pragma once

#include <QDialog>

#include <array>

#include "servers/game_options_rules.h"

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace hm {

class CServerConfig;
struct EditorContext;

class TeamOptionsDialog : public QDialog {
public:
    TeamOptionsDialog(const CServerConfig& config, EditorContext& context, QWidget* parent = nullptr);
    // Writes back the team fields only; call after Accepted.
    void Apply(CServerConfig& config) const;

    // OK: takes the controls over and closes only when they pass the checks.
    void accept() override;

    QLineEdit* teamName(size_t index) const { return names_[index]; }
    QCheckBox* allowTeamChange() const { return allowTeamChange_; }
    QCheckBox* autoBalance() const { return autoBalance_; }
    QCheckBox* teamDamage() const { return teamDamage_; }
    QSpinBox* minCount() const { return minCount_; }
    QSpinBox* maxCount() const { return maxCount_; }
    QDialogButtonBox* buttons() const { return buttons_; }

private:
    EditorContext& context_;
    TeamOptionsForm form_;
    std::array<QLineEdit*, CAutoexecSettings::kTeamCount> names_{};
    QCheckBox* allowTeamChange_;
    QCheckBox* autoBalance_;
    QCheckBox* teamDamage_;
    QSpinBox* minCount_;
    QSpinBox* maxCount_;
    QDialogButtonBox* buttons_;
};

}  // namespace hm
