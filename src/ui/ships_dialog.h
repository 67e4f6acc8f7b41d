// The ship editor of a server configuration: which ships players may fly. Its two lists become the
// ShipBan lines of the server's multi settings file at the next launch.
//
// A modal dialog on the GUI thread, opened by the server configuration dialog. It edits its own copy
// of the ship lists; OK is refused while no ship is allowed or the Ember-GL is disallowed, and Apply()
// then writes the ship block (and nothing else) into the caller's record. It never writes a file.
#pragma once

#include <QDialog>

#include "servers/game_settings.h"

class QDialogButtonBox;

namespace hm {

class AllowedListsEditor;
class CServerConfig;
struct EditorContext;

class ShipsDialog : public QDialog {
public:
    ShipsDialog(const CServerConfig& config, EditorContext& context, QWidget* parent = nullptr);
    // Writes back the ship lists only; call after Accepted.
    void Apply(CServerConfig& config) const;

    // OK: closes only when the lists keep the ship rule, else shows the note and stays open.
    void accept() override;

    AllowedListsEditor* lists() const { return lists_; }
    QDialogButtonBox* buttons() const { return buttons_; }

private:
    void RestoreDefaults();

    EditorContext& context_;
    CShipOptions ships_;
    AllowedListsEditor* lists_;
    QDialogButtonBox* buttons_;
};

}  // namespace hm
