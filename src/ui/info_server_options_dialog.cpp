#include "ui/info_server_options_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <optional>

#include "servers/global_options.h"
#include "servers/info_server_rules.h"
#include "ui/dialog_buttons.h"
#include "ui/editor_context.h"
#include "ui/help.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {
constexpr int kHelpPage = 9;
}  // namespace

InfoServerOptionsDialog::InfoServerOptionsDialog(const CGlobalOptions& options, EditorContext& context,
                                                 QWidget* parent)
    : QDialog(parent),
      context_(context),
      result_(options.remoteInfo),
      port_(new QLineEdit(QString::number(options.remoteInfo.port))),
      password_(new QLineEdit(ToQt(options.remoteInfo.password))) {
    setWindowTitle(QStringLiteral("Haldmoor3 Remote Info Server Options"));
    port_->setObjectName(QStringLiteral("port"));
    password_->setObjectName(QStringLiteral("password"));

    port_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), port_));
    port_->setMaximumWidth(port_->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 8 + 16);
    port_->setToolTip(QStringLiteral("Remote server info port"));
    password_->setToolTip(QStringLiteral("Remote server password"));
    password_->setMinimumWidth(password_->fontMetrics().averageCharWidth() * 28);

    auto* form = new QFormLayout;
    auto* portLabel = new QLabel(QStringLiteral("&Port (UDP):"));
    portLabel->setBuddy(port_);
    portLabel->setToolTip(port_->toolTip());
    form->addRow(portLabel, port_);
    auto* passwordLabel = new QLabel(QStringLiteral("Pass&word:"));
    passwordLabel->setBuddy(password_);
    passwordLabel->setToolTip(password_->toolTip());
    form->addRow(passwordLabel, password_);

    auto* note = new QLabel(QStringLiteral("The remote info server runs while a password is set."));

    auto* buttons = MakeDialogButtons(this, context_.presenter, kHelpPage);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addSpacing(note->fontMetrics().height() / 2);
    layout->addStretch(1);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, [this] { CheckAndAccept(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    port_->setFocus();
}

void InfoServerOptionsDialog::CheckAndAccept() {
    const QString text = port_->text();
    const std::string message = CheckInfoServerPort(text.isEmpty() ? -1 : text.toLongLong());
    if (!message.empty()) {
        context_.presenter.Message(this, ToQt(message));
        port_->setFocus();
        port_->selectAll();
        return;
    }
    QString bad;
    const std::optional<std::string> password = FromQt(password_->text(), &bad);
    if (!password) {
        context_.presenter.Message(this, QStringLiteral("The password contains the character \"%1\", which the "
                                                        "companion tool cannot send. Please enter it without.")
                                             .arg(bad));
        password_->setFocus();
        return;
    }
    ApplyInfoServerDialog(static_cast<uint16_t>(text.toUInt()), *password, result_);
    accept();
}

void InfoServerOptionsDialog::Apply(CGlobalOptions& options) const { options.remoteInfo = result_; }

}  // namespace hm
