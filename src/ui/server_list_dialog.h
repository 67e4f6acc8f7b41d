// The server list ("Haldmoor3 Server Configurations Selector"): every configuration in a list, and
// the commands that add, import, edit, copy, remove and start them.
//
// Modal on the GUI thread while `settingsDialogOpen` is set, so the supervisor leaves the
// configurations alone meanwhile. Edits go to the manager's configurations at once and are stored
// when the dialog closes; the configuration dialog and the import dialog are opened through the
// functions given, so this list does not depend on them.
#pragma once

#include <QDialog>

#include <functional>
#include <vector>

class QMenu;
class QPushButton;
class QTableWidget;

namespace hm {

class CServerConfig;
class ServerManager;
class UiPresenter;

class ServerListDialog : public QDialog {
public:
    // Shows a configuration in the configuration dialog; true when the operator pressed OK (the
    // record then holds the edited values).
    using EditFunction = std::function<bool(CServerConfig& config)>;
    // Runs the import of a configuration from the game's own files.
    using ImportFunction = std::function<void()>;

    ServerListDialog(ServerManager& manager, UiPresenter& presenter, EditFunction edit, ImportFunction import,
                     QWidget* parent = nullptr);
    ~ServerListDialog() override;

    QTableWidget* list() const { return list_; }
    // Indexes of the selected configurations, ascending.
    std::vector<size_t> SelectedIndexes() const;
    // The context menu as a right click opens it (the caller owns it).
    QMenu* MakeContextMenu();

    void Add();
    void Import();
    void Edit();
    void Copy();
    void Remove();
    void Start();
    void Refresh();

private:
    void FillLine(int row, const CServerConfig& config);
    void RefreshButtons();
    void Changed();

    ServerManager& manager_;
    UiPresenter& presenter_;
    EditFunction edit_;
    ImportFunction import_;
    QTableWidget* list_;
    std::vector<QPushButton*> selectionButtons_;  // enabled exactly with a selection
    bool changed_ = false;
};

}  // namespace hm
