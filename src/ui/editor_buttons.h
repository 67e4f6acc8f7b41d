// The button row of the game option editors: OK (Enter), Cancel (Esc), "Restore defaults" when the
// editor has defaults, and "Online Help" with the editors' help page. Tool tips as every dialog
// of the program words them.
//
// GUI thread. The row only wires OK to the dialog's accept() (which makes the editor's checks) and
// Cancel to reject(); it never changes a record itself.
#pragma once

#include <QString>

#include <functional>

class QDialog;
class QDialogButtonBox;

namespace hm {

struct EditorContext;

// The help page of the team, ship and powerup editors.
inline constexpr int kGameOptionsHelpPage = 3;

// `restoreDefaults` null: no defaults button. `defaultsTip` is its tool tip.
QDialogButtonBox* MakeEditorButtons(QDialog& dialog, EditorContext& context, std::function<void()> restoreDefaults,
                                    const QString& defaultsTip = QString());

}  // namespace hm
