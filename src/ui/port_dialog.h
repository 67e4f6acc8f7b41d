// The port question of a start: a port of the configuration is taken, the operator types another
// (the next free one is offered). OK takes the typed port (the launcher checks it again and asks
// once more while it is taken); Cancel stops the rest of the list. Modal, GUI thread.
#pragma once

#include <QDialog>

class QSpinBox;

namespace hm {

class PortDialog : public QDialog {
public:
    PortDialog(const QString& message, unsigned nextFree, QWidget* parent = nullptr);
    unsigned port() const;
    QSpinBox* portField() const { return port_; }

private:
    QSpinBox* port_;
};

}  // namespace hm
