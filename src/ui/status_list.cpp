#include "ui/status_list.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyledItemDelegate>

#include "ui/text_codec.h"

namespace hm {

namespace {

// The leading decimal number of a text ("-" and empty read as 0).
qlonglong LeadingNumber(const QString& text) {
    qlonglong n = 0;
    for (const QChar c : text) {
        if (!c.isDigit()) break;
        n = n * 10 + c.digitValue();
    }
    return n;
}

// Whole lines are selected, so the dotted frame around the one current cell means nothing here.
class NoFocusFrame : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem plain(option);
        plain.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, plain, index);
    }
};

class LineItem : public QTableWidgetItem {
public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem& other) const override {
        const int c = column();
        if (c == 0 || c == StatusList::kPortColumn || c == StatusList::kColumns - 1)
            return LeadingNumber(text()) < LeadingNumber(other.text());
        return text().compare(other.text(), Qt::CaseInsensitive) < 0;
    }
};

QIcon StateMark(LineState state) {
    QColor colour;
    switch (state) {
        case LineState::Running: colour = QColor(0x2e, 0xa0, 0x43); break;
        case LineState::Restarting: colour = QColor(0xd9, 0x8e, 0x04); break;
        case LineState::Scheduled: colour = QColor(0x3b, 0x7d, 0xd8); break;
        case LineState::Stopped: colour = QColor(0x9a, 0x9a, 0x9a); break;
    }
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(colour.darker(140));
    p.setBrush(colour);
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    return QIcon(pixmap);
}

}  // namespace

StatusList::StatusList(QWidget* parent) : QTableWidget(0, kColumns, parent) {
    setHorizontalHeaderLabels({QStringLiteral("PID"), QStringLiteral("Name"), QStringLiteral("Mission"),
                               QStringLiteral("Game type"), QStringLiteral("Port"), QStringLiteral("Status"),
                               QStringLiteral("Players")});
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setItemDelegate(new NoFocusFrame(this));
    setWordWrap(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setMinimumSectionSize(24);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) { SortByColumn(column); });
    connect(this, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { Open(row); });
    // The selection stays visible while another control has the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
}

int StatusList::RowOf(unsigned port) const {
    const QString key = QString::number(port);
    for (int row = 0; row < rowCount(); ++row) {
        const QTableWidgetItem* cell = item(row, kPortColumn);
        if (cell && cell->text() == key) return row;
    }
    return -1;
}

unsigned StatusList::PortAt(int row) const {
    const QTableWidgetItem* cell = item(row, kPortColumn);
    return cell ? cell->text().toUInt() : 0;
}

void StatusList::UpdateLine(const StatusLine& line) {
    int row = RowOf(line.portNumber);
    if (row < 0) {
        row = 0;
        insertRow(0);  // a new line goes to the top
    }
    const std::string texts[kColumns] = {line.pid,    line.name,   line.mission, line.gameType,
                                         line.port,   line.status, line.players};
    for (int c = 0; c < kColumns; ++c) {
        QTableWidgetItem* cell = item(row, c);
        if (!cell) {
            cell = new LineItem;
            setItem(row, c, cell);
        }
        cell->setText(ToQt(texts[c]));
        cell->setToolTip(c == 5 ? ToQt(line.status) : QString());
    }
    item(row, 0)->setIcon(StateMark(line.state));
}

void StatusList::RemoveLine(unsigned port) {
    const int row = RowOf(port);
    if (row >= 0) removeRow(row);
}

std::vector<unsigned> StatusList::SelectedPorts() const {
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    std::vector<unsigned> ports;
    for (int row : rows) ports.push_back(PortAt(row));
    return ports;
}

void StatusList::SortByColumn(int column) {
    if (column < 0 || column >= kColumns) return;
    sortOrder_ = column == sortColumn_ && sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    sortColumn_ = column;
    sortItems(column, sortOrder_);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, sortOrder_);
}

void StatusList::Open(int row) {
    if (open_ && row >= 0 && row < rowCount()) open_(PortAt(row));
}

void StatusList::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
        Open(currentRow());
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void StatusList::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    FitColumns();
}

void StatusList::FitColumns() {
    // The usable width is shared out in fixed parts, so every column keeps its proportion.
    const int usable = std::max(0, viewport()->width() - 2);
    const int part = usable / kParts;
    for (int c = 0; c < kColumns; ++c) setColumnWidth(c, part * kShares[c]);
}

}  // namespace hm
