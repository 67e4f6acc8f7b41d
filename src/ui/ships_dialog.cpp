#include "ui/ships_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "servers/game_options_rules.h"
#include "servers/server_config.h"
#include "ui/allowed_lists_editor.h"
#include "ui/dialog_buttons.h"
#include "ui/editor_context.h"
#include "ui/presenter.h"

namespace hm {

ShipsDialog::ShipsDialog(const CServerConfig& config, EditorContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ships_(config.ships) {
    setWindowTitle(QStringLiteral("Haldmoor3 Ship Options"));
    auto* layout = new QVBoxLayout(this);

    AllowedListsEditor::Texts texts;
    texts.allowedTitle = QStringLiteral("Allowed ships");
    texts.disallowedTitle = QStringLiteral("Disallowed ships");
    texts.allowedTip = QStringLiteral("Ships that players may fly on this server.\nDouble-click a ship to disallow it.");
    texts.disallowedTip = QStringLiteral(
        "Ships that players may not fly on this server; each is written\nas a ShipBan line of the multi settings "
        "file.\nDouble-click a ship to allow it again.");
    texts.disallowTip = QStringLiteral("Disallow the selected ship(s).");
    texts.allowTip = QStringLiteral("Allow the selected ship(s).");
    lists_ = new AllowedListsEditor(ships_.allowedShips, ships_.disallowedShips, texts);
    layout->addWidget(lists_, 1);

    auto* note = new QLabel(QString::fromLatin1(kShipNote));
    note->setWordWrap(true);
    layout->addWidget(note);

    buttons_ = MakeEditorButtons(
        *this, context, [this] { RestoreDefaults(); },
        QStringLiteral("Allow the ships of a new configuration again:\nEmber-GL, Phoenix, Magnum-AHT and Black Ember."));
    layout->addWidget(buttons_);
    lists_->allowedList()->setFocus();
}

void ShipsDialog::RestoreDefaults() {
    ships_ = CShipOptions();
    lists_->Reload();
}

void ShipsDialog::accept() {
    if (!ShipListsAcceptable(ships_)) {
        context_.presenter.Message(this, QString::fromLatin1(kShipNote));
        return;
    }
    QDialog::accept();
}

void ShipsDialog::Apply(CServerConfig& config) const { config.ships = ships_; }

}  // namespace hm
