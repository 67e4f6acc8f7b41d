#include "ui/allowed_lists_editor.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "servers/game_options_rules.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

QListWidget* MakeList(const QString& tip) {
    auto* list = new QListWidget;
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setToolTip(tip);
    return list;
}

QPushButton* MakeButton(const QString& text, const QString& tip) {
    auto* button = new QPushButton(text);
    button->setToolTip(tip);
    // Enter belongs to OK, even while a move button has the focus; Space presses the button.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

AllowedListsEditor::AllowedListsEditor(std::vector<std::string>& allowed, std::vector<std::string>& disallowed,
                                       const Texts& texts, QWidget* parent)
    : QWidget(parent),
      allowed_(allowed),
      disallowed_(disallowed),
      texts_(texts),
      allowedLabel_(new QLabel),
      disallowedLabel_(new QLabel),
      allowedList_(MakeList(texts.allowedTip)),
      disallowedList_(MakeList(texts.disallowedTip)),
      disallow_(MakeButton(QStringLiteral("&Disallow >"), texts.disallowTip)),
      allow_(MakeButton(QStringLiteral("< &Allow"), texts.allowTip)) {
    allowedLabel_->setBuddy(allowedList_);
    disallowedLabel_->setBuddy(disallowedList_);

    auto* buttons = new QVBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(disallow_);
    if (!texts.disallowAllTip.isEmpty()) {
        disallowAll_ = MakeButton(QStringLiteral("Disallow a&ll >>"), texts.disallowAllTip);
        buttons->addWidget(disallowAll_);
    }
    buttons->addSpacing(fontMetrics().height());
    buttons->addWidget(allow_);
    if (!texts.allowAllTip.isEmpty()) {
        allowAll_ = MakeButton(QStringLiteral("<< All&ow all"), texts.allowAllTip);
        buttons->addWidget(allowAll_);
    }
    buttons->addStretch(1);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(allowedLabel_, 0, 0);
    grid->addWidget(disallowedLabel_, 0, 2);
    grid->addWidget(allowedList_, 1, 0);
    grid->addLayout(buttons, 1, 1);
    grid->addWidget(disallowedList_, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(1, 1);

    // The eye reads the left list, the buttons from the top, then the right list.
    QWidget* order[] = {allowedList_, disallow_, disallowAll_, allow_, allowAll_, disallowedList_};
    QWidget* previous = nullptr;
    for (QWidget* widget : order) {
        if (!widget) continue;
        if (previous) setTabOrder(previous, widget);
        previous = widget;
    }

    connect(allowedList_, &QListWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(disallowedList_, &QListWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(allowedList_, &QListWidget::itemDoubleClicked, this, [this] { DisallowSelected(); });
    connect(disallowedList_, &QListWidget::itemDoubleClicked, this, [this] { AllowSelected(); });
    connect(disallow_, &QPushButton::clicked, this, [this] { DisallowSelected(); });
    connect(allow_, &QPushButton::clicked, this, [this] { AllowSelected(); });
    if (disallowAll_) connect(disallowAll_, &QPushButton::clicked, this, [this] { DisallowAll(); });
    if (allowAll_) connect(allowAll_, &QPushButton::clicked, this, [this] { AllowAll(); });
    Reload();
}

void AllowedListsEditor::Reload() {
    // Both lists are as wide as the longest name of either, so a move never makes one of them scroll
    // sideways and the two stay the same size.
    int widest = fontMetrics().horizontalAdvance(QStringLiteral("MMMMMMMMMMMM"));
    for (const auto* names : {&allowed_, &disallowed_}) {
        for (const std::string& name : *names) widest = std::max(widest, fontMetrics().horizontalAdvance(ToQt(name)));
    }
    for (QListWidget* list : {allowedList_, disallowedList_}) {
        list->setMinimumWidth(widest + 2 * list->frameWidth() + list->verticalScrollBar()->sizeHint().width() +
                              fontMetrics().averageCharWidth() * 2);
    }
    Show({}, {});
}

std::vector<size_t> AllowedListsEditor::SelectedRows(const QListWidget& list) {
    std::vector<size_t> rows;
    for (const QModelIndex& index : list.selectionModel()->selectedIndexes()) rows.push_back(static_cast<size_t>(index.row()));
    return rows;
}

void AllowedListsEditor::Fill(QListWidget& list, const std::vector<std::string>& names,
                              const std::vector<size_t>& selected) {
    list.clear();
    for (const std::string& name : names) list.addItem(ToQt(name));
    for (size_t row : selected) list.item(static_cast<int>(row))->setSelected(true);
    if (!selected.empty()) {
        list.setCurrentRow(static_cast<int>(selected.back()), QItemSelectionModel::NoUpdate);
        list.scrollToItem(list.item(static_cast<int>(selected.back())));
    }
}

void AllowedListsEditor::Show(const std::vector<size_t>& selectedAllowed, const std::vector<size_t>& selectedDisallowed) {
    const QSignalBlocker blockAllowed(allowedList_);
    const QSignalBlocker blockDisallowed(disallowedList_);
    Fill(*allowedList_, allowed_, selectedAllowed);
    Fill(*disallowedList_, disallowed_, selectedDisallowed);
    allowedLabel_->setText(QStringLiteral("%1 (%2):").arg(texts_.allowedTitle).arg(allowed_.size()));
    disallowedLabel_->setText(QStringLiteral("%1 (%2):").arg(texts_.disallowedTitle).arg(disallowed_.size()));
    UpdateButtons();
}

void AllowedListsEditor::UpdateButtons() {
    disallow_->setEnabled(!allowedList_->selectedItems().isEmpty());
    allow_->setEnabled(!disallowedList_->selectedItems().isEmpty());
    if (disallowAll_) disallowAll_->setEnabled(!allowed_.empty());
    if (allowAll_) allowAll_->setEnabled(!disallowed_.empty());
}

void AllowedListsEditor::DisallowSelected() {
    const std::vector<size_t> rows = SelectedRows(*allowedList_);
    if (rows.empty()) return;
    Show({}, MoveItems(allowed_, disallowed_, rows));
}

void AllowedListsEditor::AllowSelected() {
    const std::vector<size_t> rows = SelectedRows(*disallowedList_);
    if (rows.empty()) return;
    Show(MoveItems(disallowed_, allowed_, rows), {});
}

void AllowedListsEditor::DisallowAll() { Show({}, MoveAllItems(allowed_, disallowed_)); }

void AllowedListsEditor::AllowAll() { Show(MoveAllItems(disallowed_, allowed_), {}); }

}  // namespace hm
