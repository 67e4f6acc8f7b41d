#include "ui/start_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/server_manager.h"
#include "servers/dialog_state.h"
#include "ui/text_codec.h"

namespace hm {

StartDialog::StartDialog(ServerManager& manager, QWidget* parent)
    : QDialog(parent), manager_(manager), list_(new QTableWidget), start_(new QPushButton(QStringLiteral("&Start"))) {
    settingsDialogOpen = 1;
    setWindowTitle(QStringLiteral("Haldmoor3 Server Configurations Selector"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Select the configurations to start (double click starts one):")));
    list_->setColumnCount(4);
    list_->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Mission"), QStringLiteral("Game type"), QStringLiteral("Port")});
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setStretchLastSection(true);
    const auto& configs = manager.configs.configs;
    list_->setRowCount(static_cast<int>(configs.size()));
    for (size_t i = 0; i < configs.size(); ++i) {
        const QString texts[4] = {ToQt(configs[i].game.gameName), ToQt(configs[i].game.missionTitle),
                                  ToQt(configs[i].game.scriptName), QString::number(configs[i].launch.serverPort)};
        for (int c = 0; c < 4; ++c) list_->setItem(static_cast<int>(i), c, new QTableWidgetItem(texts[c]));
    }
    list_->resizeColumnsToContents();
    layout->addWidget(list_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    start_->setToolTip(QStringLiteral("Launch the selected server(s)."));
    start_->setEnabled(false);
    buttons->addWidget(start_);
    auto* back = new QPushButton(QStringLiteral("Go &Back"));
    back->setToolTip(QStringLiteral("Close this window and go back to the main window."));
    buttons->addWidget(back);
    layout->addLayout(buttons);
    connect(list_, &QTableWidget::itemSelectionChanged, this,
            [this] { start_->setEnabled(!list_->selectionModel()->selectedRows().isEmpty()); });
    connect(list_, &QTableWidget::cellDoubleClicked, this, [this] { StartSelected(); });
    connect(start_, &QPushButton::clicked, this, [this] { StartSelected(); });
    connect(back, &QPushButton::clicked, this, &QDialog::reject);
    resize(std::max(640, fontMetrics().averageCharWidth() * 90), 360);
}

StartDialog::~StartDialog() { settingsDialogOpen = 0; }

void StartDialog::StartSelected() {
    std::vector<size_t> indexes;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) indexes.push_back(static_cast<size_t>(index.row()));
    if (indexes.empty()) return;
    std::sort(indexes.begin(), indexes.end());
    accept();
    settingsDialogOpen = 0;  // the launcher may now read and change the configurations
    manager_.StartConfigurations(indexes);
}

}  // namespace hm
