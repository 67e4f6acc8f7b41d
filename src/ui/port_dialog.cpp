#include "ui/port_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace hm {

PortDialog::PortDialog(const QString& message, unsigned nextFree, QWidget* parent) : QDialog(parent), port_(new QSpinBox) {
    setWindowTitle(QStringLiteral("Haldmoor3"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(message);
    text->setObjectName(QStringLiteral("portMessage"));
    QFont bold = text->font();
    bold.setBold(true);
    text->setFont(bold);
    layout->addWidget(text);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Next free port:"), new QLabel(QString::number(nextFree)));
    port_->setObjectName(QStringLiteral("port"));
    port_->setRange(1, 65535);
    port_->setValue(static_cast<int>(nextFree));
    port_->setToolTip(QStringLiteral("Enter a new port number."));
    form->addRow(QStringLiteral("New port:"), port_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    port_->selectAll();
    port_->setFocus();
}

unsigned PortDialog::port() const { return static_cast<unsigned>(port_->value()); }

}  // namespace hm
