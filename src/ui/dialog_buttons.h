// The parts every dialog of the program shares: the OK / Cancel / "Online Help" row with the tool
// tips every dialog gives them, the help page opener that says when a page is missing, and Enter in
// an add field. The game option editors' row adds "Restore defaults".
//
// GUI thread. The rows never change a record themselves.
#pragma once

#include <QString>

#include <functional>

class QDialog;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace hm {

struct EditorContext;
class UiPresenter;

// The help page of the team, ship and powerup editors.
inline constexpr int kGameOptionsHelpPage = 3;

// Opens help page `page` in the browser, or tells the operator that it could not be opened.
void ShowHelpPage(UiPresenter& presenter, QWidget* parent, int page);

// OK (the default button: Enter), Cancel (Esc) and "Online Help", which opens `helpPage`. The caller
// connects accepted and rejected, since some dialogs check before they accept.
QDialogButtonBox* MakeDialogButtons(QWidget* dialog, UiPresenter& presenter, int helpPage);

// The game option editors' row: OK wired to accept() (which makes the editor's checks), Cancel to
// reject(); `restoreDefaults` null: no defaults button. `defaultsTip` is its tool tip.
QDialogButtonBox* MakeEditorButtons(QDialog& dialog, EditorContext& context, std::function<void()> restoreDefaults,
                                    const QString& defaultsTip = QString());

// Enter in `field` clicks `add` while the field holds text, instead of closing the dialog over what
// was typed; in an empty field Enter stays OK.
void EnterClicks(QLineEdit* field, QPushButton* add);

}  // namespace hm
