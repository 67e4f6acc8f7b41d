// The anti-cheat options: the nickname rules (hacked and short nicknames), the list of disallowed
// nicknames, the automatic downloads of the banned-nickname and banned-address lists, and the delete of
// the game's banned-address file netgames/hosts.deny.
//
// Opened modally from the global options dialog on the GUI thread with a copy of the global options;
// it edits its own copy of the anti-cheat block and writes that block (and nothing else) back in
// Apply(), after OK. The one thing that takes effect at once is the delete of hosts.deny, which the
// operator asks for explicitly; the dialog never touches any other file.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "servers/anticheat_options.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace hm {

class CGlobalOptions;
struct EditorContext;

class AntiCheatDialog : public QDialog {
public:
    AntiCheatDialog(const CGlobalOptions& options, EditorContext& context, QWidget* parent = nullptr);
    // Writes back the anti-cheat options; call after Accepted.
    void Apply(CGlobalOptions& options) const;

private:
    void AddNickname();
    void RemoveSelected();
    void EnableControls();
    void DeleteHostsDenyFile();
    void CheckAndAccept();

    EditorContext& context_;
    const AntiCheatOptions before_;
    AntiCheatOptions result_;         // what OK accepted
    std::string gameFolder_;          // "" when no installation is known: no hosts.deny to delete
    std::vector<std::string> names_;  // the list's lines as the record holds them
    QCheckBox* disallowHacked_;
    QCheckBox* disallowShort_;
    QLineEdit* shortLength_;
    QListWidget* list_;
    QLineEdit* newName_;
    QPushButton* add_;
    QPushButton* remove_;
    QCheckBox* autoUpdateNicknames_;
    QCheckBox* removePreviousNicknames_;
    QLineEdit* nicknamesUri_;
    QPushButton* resetNicknamesUri_;
    QCheckBox* autoUpdateHostsDeny_;
    QCheckBox* removePreviousHostsDeny_;
    QLineEdit* hostsDenyUri_;
    QPushButton* resetHostsDenyUri_;
    QPushButton* deleteHostsDeny_;
};

}  // namespace hm
