#include "ui/team_options_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "servers/server_config.h"
#include "ui/dialog_buttons.h"
#include "ui/editor_context.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

QCheckBox* MakeCheck(const QString& text, const QString& tip) {
    auto* box = new QCheckBox(text);
    box->setToolTip(tip);
    return box;
}

QSpinBox* MakeCount(const QString& tip) {
    auto* spin = new QSpinBox;
    spin->setRange(static_cast<int>(kMinPlayerCount), static_cast<int>(kMaxPlayerCount));
    spin->setToolTip(tip);
    return spin;
}

QString TeamsText(uint32_t numTeams) {
    if (!TeamSettingsEnabled(numTeams)) {
        return QStringLiteral("This server plays without teams (number of teams 0 in the server configuration), "
                              "so the team settings do not apply; they are kept for a later team game.");
    }
    return QStringLiteral("Number of teams: %1 (chosen in the server configuration).").arg(numTeams);
}

}  // namespace

TeamOptionsDialog::TeamOptionsDialog(const CServerConfig& config, EditorContext& context, QWidget* parent)
    : QDialog(parent),
      context_(context),
      form_(TeamOptionsFromConfig(config)),
      allowTeamChange_(MakeCheck(QStringLiteral("Allow &team change"),
                                 QStringLiteral("Players may switch to another team during the game."))),
      autoBalance_(MakeCheck(QStringLiteral("Auto &balance"),
                             QStringLiteral("The server moves players between the teams\nto keep them even."))),
      teamDamage_(MakeCheck(QStringLiteral("Team &damage"),
                            QStringLiteral("Players can damage the ships of their own team."))),
      minCount_(MakeCount(QStringLiteral("The game's minimum player count (1 to 12)."))),
      maxCount_(MakeCount(QStringLiteral("The game's maximum player count (1 to 12).\nIt must not be below the "
                                         "minimum player count."))) {
    setWindowTitle(QStringLiteral("Haldmoor3 Team Options"));
    auto* layout = new QVBoxLayout(this);

    auto* teamsText = new QLabel(TeamsText(form_.numTeams));
    teamsText->setWordWrap(true);
    layout->addWidget(teamsText);

    const bool teams = TeamSettingsEnabled(form_.numTeams);
    auto* teamBox = new QGroupBox(QStringLiteral("Teams"));
    auto* teamForm = new QFormLayout(teamBox);
    for (size_t i = 0; i < names_.size(); ++i) {
        auto* edit = new QLineEdit(ToQt(form_.teamNames[i]));
        const bool open = TeamNameEnabled(form_.numTeams, i);
        edit->setToolTip(open ? QStringLiteral("Name of team %1 in the game.\nLeave it empty to keep the game's own name.")
                                    .arg(i)
                              : QStringLiteral("Name of team %1 in the game; the server has fewer teams,\nso the name "
                                               "is kept but not used.")
                                    .arg(i));
        edit->setEnabled(open);
        names_[i] = edit;
        teamForm->addRow(QStringLiteral("Team &%1 name:").arg(i), edit);
        teamForm->labelForField(edit)->setEnabled(open);
    }
    allowTeamChange_->setChecked(form_.allowTeamChange);
    autoBalance_->setChecked(form_.autoBalance);
    teamDamage_->setChecked(form_.teamDamage);
    for (QCheckBox* box : {allowTeamChange_, autoBalance_, teamDamage_}) {
        box->setEnabled(teams);
        teamForm->addRow(box);
    }
    layout->addWidget(teamBox);

    auto* playerBox = new QGroupBox(QStringLiteral("Players"));
    auto* playerForm = new QFormLayout(playerBox);
    // A number from 1 to 12 needs no field across the whole window.
    playerForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    minCount_->setValue(static_cast<int>(form_.minCount));
    maxCount_->setValue(static_cast<int>(form_.maxCount));
    playerForm->addRow(QStringLiteral("M&in. player count:"), minCount_);
    playerForm->addRow(QStringLiteral("Ma&x. player count:"), maxCount_);
    layout->addWidget(playerBox);
    layout->addStretch(1);

    buttons_ = MakeEditorButtons(
        *this, context,
        [this] {
            const CAutoexecSettings defaults;
            for (size_t i = 0; i < names_.size(); ++i) names_[i]->setText(ToQt(defaults.teamNames[i]));
            allowTeamChange_->setChecked(defaults.allowTeamChange != 0);
            autoBalance_->setChecked(defaults.autoBalance != 0);
            teamDamage_->setChecked(CGameSettings().teamDamage != 0);
            minCount_->setValue(static_cast<int>(defaults.minCount));
            maxCount_->setValue(static_cast<int>(defaults.maxCount));
        },
        QStringLiteral("Put the team options back to those of a new configuration:\nno team names, team change, auto "
                       "balance and team damage on,\nplayer counts 3 and 12."));
    layout->addWidget(buttons_);

    // Top to bottom, as the fields stand; disabled ones are skipped by Tab on their own.
    QWidget* order[] = {names_[0], names_[1], names_[2], names_[3], allowTeamChange_, autoBalance_, teamDamage_,
                        minCount_, maxCount_, buttons_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void TeamOptionsDialog::accept() {
    TeamOptionsForm form = form_;
    for (size_t i = 0; i < names_.size(); ++i) {
        QString bad;
        const std::optional<std::string> name = FromQt(names_[i]->text(), &bad);
        if (!name) {
            context_.presenter.Message(this, QStringLiteral("The name of team %1 contains the character \"%2\", which "
                                                            "the game's files cannot hold. Please enter a name without it.")
                                                 .arg(i)
                                                 .arg(bad));
            names_[i]->setFocus();
            return;
        }
        form.teamNames[i] = *name;
    }
    form.allowTeamChange = allowTeamChange_->isChecked();
    form.autoBalance = autoBalance_->isChecked();
    form.teamDamage = teamDamage_->isChecked();
    form.minCount = minCount_->value();
    form.maxCount = maxCount_->value();
    const TeamOptionsCheck check = CheckTeamOptions(form);
    if (!check.ok()) {
        context_.presenter.Message(this, ToQt(check.message));
        QSpinBox* field = check.field == TeamOptionsField::MinCount ? minCount_ : maxCount_;
        field->setFocus();
        field->selectAll();
        return;
    }
    form_ = form;
    QDialog::accept();
}

void TeamOptionsDialog::Apply(CServerConfig& config) const { WriteTeamOptions(form_, config); }

}  // namespace hm
