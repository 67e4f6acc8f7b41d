#include "ui/powerups_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "servers/server_config.h"
#include "ui/allowed_lists_editor.h"
#include "ui/dialog_buttons.h"
#include "ui/editor_context.h"

namespace hm {

namespace {

// The page titles: the categories' labels, with a key of their own for Alt.
const char* const kPageTitles[kPowerupCategoryCount] = {"&Primary weapons", "&Secondary weapons", "Po&werups",
                                                        "O&thers"};

}  // namespace

PowerupsDialog::PowerupsDialog(const CServerConfig& config, EditorContext& context, QWidget* parent)
    : QDialog(parent), powerups_(config.game.powerups), pages_(new QTabWidget) {
    setWindowTitle(QStringLiteral("Haldmoor3 Powerup Options"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(QStringLiteral(
        "The server removes disallowed objects from the game. Each object is in exactly one list of its category."));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    AllowedListsEditor::Texts texts;
    texts.allowedTitle = QStringLiteral("Allowed");
    texts.disallowedTitle = QStringLiteral("Disallowed");
    texts.allowedTip = QStringLiteral("Objects of this category that the server hands out.\nDouble-click an object to "
                                      "disallow it.");
    texts.disallowedTip = QStringLiteral(
        "Objects of this category that the server removes from the game;\neach is written as a DisallowPowerup line "
        "of the main configuration file.\nDouble-click an object to allow it again.");
    texts.disallowTip = QStringLiteral("Disallow the selected object(s).");
    texts.allowTip = QStringLiteral("Allow the selected object(s).");
    texts.disallowAllTip = QStringLiteral("Disallow every object of this category.");
    texts.allowAllTip = QStringLiteral("Allow every object of this category.");
    for (int i = 0; i < kPowerupCategoryCount; ++i) {
        PowerupCategory& category = powerups_[static_cast<size_t>(i)];
        auto* page = new AllowedListsEditor(category.allowed, category.disallowed, texts);
        page->setContentsMargins(6, 6, 6, 6);
        categories_[static_cast<size_t>(i)] = page;
        pages_->addTab(page, QString::fromLatin1(kPageTitles[i]));
        pages_->setTabToolTip(i, QStringLiteral("The objects of the category \"%1\".").arg(kPowerupCategoryLabels[i]));
    }
    layout->addWidget(pages_, 1);

    buttons_ = MakeEditorButtons(*this, context, [this] { RestoreDefaults(); },
                                 QStringLiteral("Put all four categories back to the lists\nof a new configuration."));
    layout->addWidget(buttons_);
    categories_[0]->allowedList()->setFocus();
    // Tall enough that most categories show without scrolling; "Others" scrolls.
    resize(sizeHint().width(), std::max(sizeHint().height(), fontMetrics().lineSpacing() * 28));
}

void PowerupsDialog::RestoreDefaults() {
    powerups_ = DefaultPowerupCategories();
    for (AllowedListsEditor* page : categories_) page->Reload();
}

void PowerupsDialog::Apply(CServerConfig& config) const { config.game.powerups = powerups_; }

}  // namespace hm
