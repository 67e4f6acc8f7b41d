#include "ui/event_list_view.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <QVBoxLayout>

#include "eventlog/event_log.h"
#include "ui/text_codec.h"

namespace hm {

namespace {
const QColor kErrorColour(0xc6, 0x28, 0x28);
const QColor kWarningColour(0xb2, 0x6a, 0x00);
}  // namespace

EventListView::EventListView(QWidget* parent) : QWidget(parent), filter_(new QLineEdit), list_(new QListWidget) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    filter_->setPlaceholderText(QStringLiteral("Show only events containing..."));
    filter_->setClearButtonEnabled(true);
    filter_->setToolTip(QStringLiteral("Type a text to show only the events that contain it.\n"
                                       "The event log itself keeps every line."));
    layout->addWidget(filter_);
    layout->addWidget(list_, 1);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setUniformItemSizes(true);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setToolTip(QStringLiteral("Left-click to select server events.\n"
                                     "Right-click to copy the selected events into the clipboard."));
    connect(filter_, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        auto* menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(QStringLiteral("Copy"), this, [this] { CopySelection(); });
        menu->popup(list_->viewport()->mapToGlobal(at));
    });
}

EventListView::Kind EventListView::KindOf(const QString& text) {
    const QString body = text.size() > static_cast<qsizetype>(EventLogList::kStampLength)
                             ? text.mid(static_cast<qsizetype>(EventLogList::kStampLength))
                             : text;
    if (body.startsWith(QLatin1String("Error")) || body.startsWith(QLatin1String("Critical error")) ||
        body.contains(QLatin1String(": Error")))
        return Kind::Error;
    static const char* const kWarnings[] = {"warning", "timeout", "failed", "refused", "crashed", "cannot", "not found"};
    for (const char* word : kWarnings)
        if (body.contains(QLatin1String(word), Qt::CaseInsensitive)) return Kind::Warning;
    return Kind::Plain;
}

void EventListView::AddLine(const std::string& line) {
    QScrollBar* bar = list_->verticalScrollBar();
    // Follow the newest line unless the operator has scrolled up to read.
    const bool follow = bar->value() >= bar->maximum() - 1;
    auto* item = new QListWidgetItem(ToQt(line));
    switch (KindOf(item->text())) {
        case Kind::Error: item->setForeground(kErrorColour); break;
        case Kind::Warning: item->setForeground(kWarningColour); break;
        case Kind::Plain: break;
    }
    list_->addItem(item);
    if (!Matches(item->text())) item->setHidden(true);
    if (follow) list_->scrollToBottom();
}

void EventListView::RemoveFront(size_t count) {
    for (size_t i = 0; i < count && list_->count() > 0; ++i) delete list_->takeItem(0);
}

void EventListView::CopySelection() {
    QList<QListWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) {
        if (message_) message_(QStringLiteral("No items selected!"));
        return;
    }
    std::sort(selected.begin(), selected.end(),
              [this](QListWidgetItem* a, QListWidgetItem* b) { return list_->row(a) < list_->row(b); });
    QString text;
    for (const QListWidgetItem* item : selected) text += item->text() + QStringLiteral("\r\n");
    QApplication::clipboard()->setText(text);
}

bool EventListView::Matches(const QString& line) const {
    const QString wanted = filter_->text();
    return wanted.isEmpty() || line.contains(wanted, Qt::CaseInsensitive);
}

void EventListView::ApplyFilter() {
    for (int row = 0; row < list_->count(); ++row) {
        QListWidgetItem* item = list_->item(row);
        item->setHidden(!Matches(item->text()));
    }
    list_->scrollToBottom();
}

}  // namespace hm
