// The remote info server's options: the UDP port the companion tool queries and the shared password.
//
// Opened modally from the global options dialog on the GUI thread with a copy of the global options;
// it writes back only the remote info server block, in Apply() after OK, where the service's enable
// flag follows the password (set with one, cleared without). It never starts or stops the service
// itself: the main window does that once the global options are accepted.
#pragma once

#include <QDialog>

#include <string>

#include "servers/remote_info_settings.h"

class QLineEdit;

namespace hm {

class CGlobalOptions;
struct EditorContext;

class InfoServerOptionsDialog : public QDialog {
public:
    InfoServerOptionsDialog(const CGlobalOptions& options, EditorContext& context, QWidget* parent = nullptr);
    // Writes back port, password and the enable flag; call after Accepted.
    void Apply(CGlobalOptions& options) const;

private:
    void CheckAndAccept();

    EditorContext& context_;
    RemoteInfoSettings result_;  // what OK accepted
    QLineEdit* port_;
    QLineEdit* password_;
};

}  // namespace hm
