// The powerup editor of a server configuration: for each of the four object categories (primary
// weapons, secondary weapons, powerups, others) which objects the server hands out. The disallowed
// ones become the DisallowPowerup lines of the server's main configuration file at the next launch.
//
// A modal dialog on the GUI thread, opened by the server configuration dialog. It edits its own copy
// of the four categories, one page each; Apply() writes the categories (and nothing else) into the
// caller's record after OK. It never writes a file.
#pragma once

#include <QDialog>

#include <array>

#include "servers/game_settings.h"

class QDialogButtonBox;
class QTabWidget;

namespace hm {

class AllowedListsEditor;
class CServerConfig;
struct EditorContext;

class PowerupsDialog : public QDialog {
public:
    PowerupsDialog(const CServerConfig& config, EditorContext& context, QWidget* parent = nullptr);
    // Writes back the four categories only; call after Accepted.
    void Apply(CServerConfig& config) const;

    QTabWidget* pages() const { return pages_; }
    AllowedListsEditor* category(int index) const { return categories_[static_cast<size_t>(index)]; }
    QDialogButtonBox* buttons() const { return buttons_; }

private:
    void RestoreDefaults();

    std::array<PowerupCategory, kPowerupCategoryCount> powerups_;
    QTabWidget* pages_;
    std::array<AllowedListsEditor*, kPowerupCategoryCount> categories_{};
    QDialogButtonBox* buttons_;
};

}  // namespace hm
