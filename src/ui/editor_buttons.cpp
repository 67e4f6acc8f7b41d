#include "ui/editor_buttons.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

#include "ui/editor_context.h"
#include "ui/help.h"
#include "ui/presenter.h"

namespace hm {

QDialogButtonBox* MakeEditorButtons(QDialog& dialog, EditorContext& context, std::function<void()> restoreDefaults,
                                    const QString& defaultsTip) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
    buttons->button(QDialogButtonBox::Ok)->setToolTip(QStringLiteral("Close dialog window and accept settings."));
    buttons->button(QDialogButtonBox::Cancel)->setToolTip(QStringLiteral("Close dialog window and discard changes."));
    QPushButton* help = buttons->button(QDialogButtonBox::Help);
    help->setText(QStringLiteral("Online &Help"));
    help->setToolTip(QStringLiteral("Open a web browser with a more detailed description\nof this window."));
    help->setAutoDefault(false);
    QObject::connect(help, &QPushButton::clicked, &dialog, [&dialog, &context] {
        if (!OpenHelpPage(kGameOptionsHelpPage)) {
            context.presenter.Message(
                &dialog, QStringLiteral("The help page %1 could not be opened.").arg(HelpPagePath(kGameOptionsHelpPage)));
        }
    });
    if (restoreDefaults) {
        QPushButton* defaults = buttons->addButton(QDialogButtonBox::RestoreDefaults);
        defaults->setText(QStringLiteral("&Restore defaults"));
        defaults->setToolTip(defaultsTip);
        defaults->setAutoDefault(false);
        QObject::connect(defaults, &QPushButton::clicked, &dialog, std::move(restoreDefaults));
    }
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    return buttons;
}

}  // namespace hm
