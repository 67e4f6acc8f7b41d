#include "ui/trackers_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <string>
#include <vector>

#include "servers/server_config.h"
#include "servers/tracker_rules.h"
#include "ui/dialog_buttons.h"
#include "ui/editor_context.h"
#include "ui/help.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

constexpr int kHelpPage = 7;

}  // namespace

TrackersDialog::TrackersDialog(const CServerConfig& config, EditorContext& context, QWidget* parent)
    : QDialog(parent),
      context_(context),
      trackers_(config.trackers.trackers),
      list_(new QListWidget),
      newTracker_(new QLineEdit),
      add_(new QPushButton(QStringLiteral("&Add"))),
      remove_(new QPushButton(QStringLiteral("&Remove"))),
      port_(new QLineEdit),
      webTracker_(new QCheckBox(QStringLiteral("Post to &web game tracker"))) {
    setWindowTitle(QStringLiteral("Haldmoor3 Game Tracker Options"));
    list_->setObjectName(QStringLiteral("trackers"));
    newTracker_->setObjectName(QStringLiteral("newTracker"));
    add_->setObjectName(QStringLiteral("add"));
    remove_->setObjectName(QStringLiteral("remove"));
    port_->setObjectName(QStringLiteral("gameSpyPort"));
    webTracker_->setObjectName(QStringLiteral("webTracker"));

    auto* layout = new QVBoxLayout(this);
    auto* listLabel = new QLabel(QStringLiteral("Game &trackers:"));
    listLabel->setBuddy(list_);
    layout->addWidget(listLabel);
    auto* grid = new QGridLayout;
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setToolTip(QStringLiteral("Select the game tracker(s) to remove."));
    for (const std::string& tracker : trackers_) list_->addItem(ToQt(tracker));
    list_->setMinimumHeight(list_->fontMetrics().height() * 7);
    grid->addWidget(list_, 0, 0);
    auto* listButtons = new QVBoxLayout;
    remove_->setToolTip(QStringLiteral("Remove the selected game tracker(s)."));
    listButtons->addWidget(remove_);
    listButtons->addStretch(1);
    grid->addLayout(listButtons, 0, 1);
    newTracker_->setToolTip(QStringLiteral("Enter the name of a new game tracker here."));
    newTracker_->setPlaceholderText(QStringLiteral("host:port (without a port: 27900)"));
    newTracker_->setMaxLength(260);  // a host name has at most 253 characters, then the port
    newTracker_->setMinimumWidth(newTracker_->fontMetrics().averageCharWidth() * 36);
    grid->addWidget(newTracker_, 1, 0);
    add_->setToolTip(QStringLiteral("Add the new game tracker."));
    grid->addWidget(add_, 1, 1);
    grid->setRowStretch(0, 1);
    layout->addLayout(grid, 1);

    auto* portRow = new QHBoxLayout;
    auto* portLabel = new QLabel(QStringLiteral("GameSpy &port (UDP):"));
    portLabel->setBuddy(port_);
    port_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), port_));
    port_->setText(QString::number(config.launch.gameSpyPort));
    port_->setMaximumWidth(port_->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 8 + 16);
    port_->setToolTip(QStringLiteral("UDP port on which GameSpy compatible game trackers\ncan query this server."));
    portLabel->setToolTip(port_->toolTip());
    portRow->addWidget(portLabel);
    portRow->addWidget(port_);
    portRow->addStretch(1);
    layout->addLayout(portRow);

    // The web game tracker is gone: the switch is shown for what the record holds, cleared and fixed.
    webTracker_->setChecked(false);
    webTracker_->setEnabled(false);
    webTracker_->setToolTip(QStringLiteral("The web game tracker no longer exists; servers are not posted to it."));
    layout->addWidget(webTracker_);

    auto* buttons = MakeDialogButtons(this, context_.presenter, kHelpPage);
    layout->addWidget(buttons);

    add_->setAutoDefault(false);
    remove_->setAutoDefault(false);
    EnterClicks(newTracker_, add_);
    connect(newTracker_, &QLineEdit::textChanged, this, [this] { EnableButtons(); });
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] { EnableButtons(); });
    connect(add_, &QPushButton::clicked, this, [this] { AddTracker(); });
    connect(remove_, &QPushButton::clicked, this, [this] { RemoveSelected(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { CheckAndAccept(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    setTabOrder(list_, remove_);
    setTabOrder(remove_, newTracker_);
    setTabOrder(newTracker_, add_);
    setTabOrder(add_, port_);
    setTabOrder(port_, buttons);
    EnableButtons();
    newTracker_->setFocus();
}

void TrackersDialog::EnableButtons() {
    add_->setEnabled(!newTracker_->text().isEmpty());
    remove_->setEnabled(!list_->selectedItems().isEmpty());
}

void TrackersDialog::AddTracker() {
    QString bad;
    const std::optional<std::string> text = FromQt(newTracker_->text(), &bad);
    if (!text) {
        context_.presenter.Message(this, QStringLiteral("The game tracker contains the character \"%1\", which the "
                                                        "game's files cannot hold. Please enter it without.")
                                             .arg(bad));
        newTracker_->setFocus();
        return;
    }
    const TrackerText tracker = TrackerFromText(*text);
    if (!tracker.ok()) {
        context_.presenter.Message(this, ToQt(tracker.message));
        newTracker_->setFocus();
        return;
    }
    trackers_.push_back(tracker.tracker);
    list_->addItem(ToQt(tracker.tracker));
    list_->scrollToBottom();
    newTracker_->clear();
    newTracker_->setFocus();
}

void TrackersDialog::RemoveSelected() {
    for (int row = list_->count() - 1; row >= 0; --row)
        if (list_->item(row)->isSelected()) {
            delete list_->takeItem(row);
            trackers_.erase(trackers_.begin() + row);
        }
    EnableButtons();
}

void TrackersDialog::CheckAndAccept() {
    const QString text = port_->text();
    const std::string message = CheckGameSpyPort(text.isEmpty() ? -1 : text.toLongLong());
    if (!message.empty()) {
        context_.presenter.Message(this, ToQt(message));
        port_->setFocus();
        port_->selectAll();
        return;
    }
    accept();
}

void TrackersDialog::Apply(CServerConfig& config) const {
    ApplyTrackers(trackers_, static_cast<uint16_t>(port_->text().toUInt()), config);
}

}  // namespace hm
