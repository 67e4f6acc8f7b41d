#include "ui/server_list_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/server_manager.h"
#include "servers/dialog_state.h"
#include "ui/dialog_buttons.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {
constexpr int kServerListHelpPage = 1;
}

ServerListDialog::ServerListDialog(ServerManager& manager, UiPresenter& presenter, EditFunction edit,
                                   ImportFunction import, QWidget* parent)
    : QDialog(parent),
      manager_(manager),
      presenter_(presenter),
      edit_(std::move(edit)),
      import_(std::move(import)),
      list_(new QTableWidget) {
    settingsDialogOpen = 1;
    setWindowTitle(QStringLiteral("Haldmoor3 Server Configurations Selector"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Select configuration (right click to add/edit/remove, double click to edit):")));
    list_->setObjectName(QStringLiteral("configList"));
    list_->setColumnCount(6);
    list_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Mission"), QStringLiteral("Game type"),
                                      QStringLiteral("Port"), QStringLiteral("Max. Players"), QStringLiteral("Scheduled")});
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->setToolTip(QStringLiteral("Select/deselect server configuration(s)."));
    auto* body = new QHBoxLayout;
    body->addWidget(list_, 1);

    auto* buttons = new QVBoxLayout;
    auto button = [&](const char* name, const QString& text, const QString& tip, void (ServerListDialog::*command)(),
                      bool needsSelection) {
        auto* b = new QPushButton(text);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(tip);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, command] { (this->*command)(); });
        buttons->addWidget(b);
        if (needsSelection) selectionButtons_.push_back(b);
        return b;
    };
    button("add", QStringLiteral("&Add..."),
           QStringLiteral("Add a new server configuration.\nOpen a new window to enter its settings."), &ServerListDialog::Add,
           false);
    button("import", QStringLiteral("&Import..."), QStringLiteral("Import server configuration from a server config file."),
           &ServerListDialog::Import, false);
    button("edit", QStringLiteral("&Edit..."), QStringLiteral("Edit the selected server configuration(s)."),
           &ServerListDialog::Edit, true);
    button("copy", QStringLiteral("&Copy..."), QStringLiteral("Create a copy of the selected server configuration(s)."),
           &ServerListDialog::Copy, true);
    button("remove", QStringLiteral("&Remove"), QStringLiteral("Delete the selected server configuration(s)."),
           &ServerListDialog::Remove, true);
    buttons->addSpacing(12);
    button("start", QStringLiteral("&Start"), QStringLiteral("Launch the selected server(s)."), &ServerListDialog::Start, true);
    buttons->addStretch(1);
    auto* back = new QPushButton(QStringLiteral("Go &Back"));
    back->setObjectName(QStringLiteral("back"));
    back->setToolTip(QStringLiteral("Close the Haldmoor3 Server Configurations window\nand go back to main window."));
    back->setAutoDefault(false);
    connect(back, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(back);
    auto* help = new QPushButton(QStringLiteral("Online &Help"));
    help->setObjectName(QStringLiteral("help"));
    help->setToolTip(QStringLiteral("Open a web browser with a more detailed description\nof this window."));
    help->setAutoDefault(false);
    connect(help, &QPushButton::clicked, this, [this] { ShowHelpPage(presenter_, this, kServerListHelpPage); });
    buttons->addWidget(help);
    body->addLayout(buttons);
    layout->addLayout(body, 1);

    connect(list_, &QTableWidget::itemSelectionChanged, this, [this] { RefreshButtons(); });
    connect(list_, &QTableWidget::cellDoubleClicked, this, [this] { Edit(); });
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = MakeContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(list_->viewport()->mapToGlobal(at));
    });
    Refresh();
    const int em = fontMetrics().averageCharWidth();
    resize(std::max(860, em * 120), std::max(420, fontMetrics().height() * 24));
}

ServerListDialog::~ServerListDialog() {
    if (changed_) manager_.StoreConfigurations();
    settingsDialogOpen = 0;
}

QMenu* ServerListDialog::MakeContextMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("configMenu"));
    const bool selected = !SelectedIndexes().empty();
    if (selected) menu->addAction(QStringLiteral("Start server..."), this, [this] { Start(); });
    menu->addAction(QStringLiteral("New server configuration..."), this, [this] { Add(); });
    menu->addAction(QStringLiteral("Import server configuration..."), this, [this] { Import(); });
    if (selected) {
        menu->addAction(QStringLiteral("Edit server configuration..."), this, [this] { Edit(); });
        menu->addAction(QStringLiteral("Copy server configuration"), this, [this] { Copy(); });
        menu->addAction(QStringLiteral("Remove server configuration"), this, [this] { Remove(); });
    }
    return menu;
}

std::vector<size_t> ServerListDialog::SelectedIndexes() const {
    std::vector<size_t> indexes;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) indexes.push_back(static_cast<size_t>(index.row()));
    std::sort(indexes.begin(), indexes.end());
    return indexes;
}

void ServerListDialog::FillLine(int row, const CServerConfig& config) {
    const uint32_t stored = config.game.maxPlayers;
    const QString texts[6] = {ToQt(config.game.gameName),   ToQt(config.game.missionTitle),
                              ToQt(config.game.scriptName), QString::number(config.launch.serverPort),
                              QString::number(stored > 0 ? stored - 1 : 0),  // without the server's own slot
                              config.schedule.enabled ? QStringLiteral("Yes") : QStringLiteral("No")};
    for (int c = 0; c < 6; ++c) {
        QTableWidgetItem* cell = list_->item(row, c);
        if (!cell) {
            cell = new QTableWidgetItem;
            list_->setItem(row, c, cell);
        }
        cell->setText(texts[c]);
    }
}

void ServerListDialog::Refresh() {
    const auto& configs = manager_.configs.configs;
    list_->setRowCount(static_cast<int>(configs.size()));
    for (size_t i = 0; i < configs.size(); ++i) FillLine(static_cast<int>(i), configs[i]);
    list_->resizeColumnsToContents();
    for (int c = 0; c < 5; ++c) list_->setColumnWidth(c, std::max(list_->columnWidth(c) + 12, c < 3 ? 140 : 70));
    RefreshButtons();
}

void ServerListDialog::RefreshButtons() {
    const bool selected = !SelectedIndexes().empty();
    for (QPushButton* b : selectionButtons_) b->setEnabled(selected);
}

void ServerListDialog::Changed() { changed_ = true; }

void ServerListDialog::Add() {
    CServerConfig config(manager_.configs.globalOptions);
    if (!edit_ || !edit_(config)) return;
    manager_.configs.configs.push_back(std::move(config));
    Changed();
    Refresh();
    list_->selectRow(list_->rowCount() - 1);
}

void ServerListDialog::Import() {
    if (!import_) return;
    const size_t before = manager_.configs.configs.size();
    import_();
    if (manager_.configs.configs.size() != before) Refresh();
}

void ServerListDialog::Edit() {
    auto& configs = manager_.configs.configs;
    for (size_t index : SelectedIndexes()) {
        if (index >= configs.size() || !edit_) continue;
        CServerConfig copy = configs[index];
        if (!edit_(copy)) continue;
        configs[index] = std::move(copy);
        Changed();
        FillLine(static_cast<int>(index), configs[index]);
    }
}

void ServerListDialog::Copy() {
    auto& configs = manager_.configs.configs;
    for (size_t index : SelectedIndexes()) {
        if (index < configs.size()) configs.push_back(CServerConfig(configs[index]));
    }
    Changed();
    Refresh();
}

void ServerListDialog::Remove() {
    auto& configs = manager_.configs.configs;
    const std::vector<size_t> indexes = SelectedIndexes();
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
        if (*it < configs.size()) configs.erase(configs.begin() + static_cast<std::ptrdiff_t>(*it));
    }
    Changed();
    list_->clearSelection();
    Refresh();
}

void ServerListDialog::Start() {
    const std::vector<size_t> indexes = SelectedIndexes();
    if (indexes.empty()) return;
    if (changed_) {
        manager_.StoreConfigurations();
        changed_ = false;
    }
    // The launcher reads and changes the configurations: the supervisor may look again once it runs.
    settingsDialogOpen = 0;
    manager_.StartConfigurations(indexes);
    accept();
}

}  // namespace hm
