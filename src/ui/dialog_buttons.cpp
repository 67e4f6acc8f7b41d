#include "ui/dialog_buttons.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "ui/editor_context.h"
#include "ui/help.h"
#include "ui/presenter.h"

namespace hm {

namespace {

class EnterAdds : public QObject {
public:
    EnterAdds(QLineEdit* field, QPushButton* add) : QObject(field), field_(field), add_(add) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == field_ && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !field_->text().isEmpty()) {
                add_->click();
                return true;
            }
        }
        return false;
    }

private:
    QLineEdit* field_;
    QPushButton* add_;
};

}  // namespace

void ShowHelpPage(UiPresenter& presenter, QWidget* parent, int page) {
    if (!OpenHelpPage(page))
        presenter.Message(parent, QStringLiteral("The help page %1 could not be opened.").arg(HelpPagePath(page)));
}

QDialogButtonBox* MakeDialogButtons(QWidget* dialog, UiPresenter& presenter, int helpPage) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
    buttons->button(QDialogButtonBox::Ok)->setToolTip(QStringLiteral("Close dialog window and accept settings."));
    buttons->button(QDialogButtonBox::Cancel)->setToolTip(QStringLiteral("Close dialog window and discard changes."));
    QPushButton* help = buttons->button(QDialogButtonBox::Help);
    help->setText(QStringLiteral("Online &Help"));
    help->setToolTip(QStringLiteral("Open a web browser with a more detailed description\nof this window."));
    help->setObjectName(QStringLiteral("help"));
    help->setAutoDefault(false);
    QObject::connect(buttons, &QDialogButtonBox::helpRequested, dialog,
                     [&presenter, dialog, helpPage] { ShowHelpPage(presenter, dialog, helpPage); });
    return buttons;
}

QDialogButtonBox* MakeEditorButtons(QDialog& dialog, EditorContext& context, std::function<void()> restoreDefaults,
                                    const QString& defaultsTip) {
    QDialogButtonBox* buttons = MakeDialogButtons(&dialog, context.presenter, kGameOptionsHelpPage);
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

void EnterClicks(QLineEdit* field, QPushButton* add) { field->installEventFilter(new EnterAdds(field, add)); }

}  // namespace hm
