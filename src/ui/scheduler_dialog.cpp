#include "ui/scheduler_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTime>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>

#include "servers/server_config.h"
#include "ui/dialog_buttons.h"
#include "ui/editor_context.h"
#include "ui/help.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

constexpr int kHelpPage = 5;

QComboBox* DayList(const char* tip) {
    auto* days = new QComboBox;
    for (const char* name : kLongDayNames) days->addItem(QString::fromLatin1(name));
    days->setCurrentIndex(ScheduleTime::kEveryDay);
    days->setToolTip(QString::fromLatin1(tip));
    return days;
}

QTimeEdit* TimePicker(const char* tip) {
    auto* time = new QTimeEdit;
    time->setDisplayFormat(QStringLiteral("HH:mm"));
    // A time of day, not a point in time: midnight stays 00:00 in every zone.
    time->setTime(QTime(0, 0));
    time->setWrapping(true);
    time->setToolTip(QString::fromLatin1(tip));
    return time;
}

ScheduleTime TimeOf(const QComboBox* day, const QTimeEdit* time) {
    ScheduleTime result;
    result.day = static_cast<uint16_t>(std::clamp(day->currentIndex(), 0, int(ScheduleTime::kEveryDay)));
    result.hour = static_cast<uint16_t>(time->time().hour());
    result.minute = static_cast<uint16_t>(time->time().minute());
    return result;
}

}  // namespace

SchedulerDialog::SchedulerDialog(const CServerConfig& config, EditorContext& context, QWidget* parent)
    : QDialog(parent),
      context_(context),
      list_(config.schedule.entries),
      startDay_(DayList("Select the day on which this server\nwill be started.")),
      startTime_(TimePicker("Select the time at which this server\nwill be started.")),
      stopDay_(DayList("Select the day on which this server\nwill be stopped.")),
      stopTime_(TimePicker("Select the time at which this server\nwill be stopped.")),
      set_(new QPushButton(QStringLiteral("&Set"))),
      lines_(new QListWidget),
      remove_(new QPushButton(QStringLiteral("&Remove"))) {
    setWindowTitle(QStringLiteral("Haldmoor3 Scheduler Options"));
    startDay_->setObjectName(QStringLiteral("startDay"));
    startTime_->setObjectName(QStringLiteral("startTime"));
    stopDay_->setObjectName(QStringLiteral("stopDay"));
    stopTime_->setObjectName(QStringLiteral("stopTime"));
    set_->setObjectName(QStringLiteral("set"));
    lines_->setObjectName(QStringLiteral("entries"));
    remove_->setObjectName(QStringLiteral("remove"));

    auto* layout = new QVBoxLayout(this);

    auto* times = new QGroupBox(QStringLiteral("Start and stop"));
    auto* grid = new QGridLayout(times);
    auto* startLabel = new QLabel(QStringLiteral("S&tart:"));
    startLabel->setBuddy(startDay_);
    auto* stopLabel = new QLabel(QStringLiteral("St&op:"));
    stopLabel->setBuddy(stopDay_);
    grid->addWidget(startLabel, 0, 0);
    grid->addWidget(startDay_, 0, 1);
    grid->addWidget(startTime_, 0, 2);
    grid->addWidget(stopLabel, 1, 0);
    grid->addWidget(stopDay_, 1, 1);
    grid->addWidget(stopTime_, 1, 2);
    grid->addWidget(set_, 0, 3, 2, 1, Qt::AlignVCenter);
    grid->setColumnStretch(1, 1);
    // The promise of the old tip (a stop must come after its start) is not what the schedule does:
    // a stop before its start wraps around the week, which is how a weekend is scheduled.
    set_->setToolTip(QStringLiteral(
        "Add these start and stop days and times\nto the server's scheduler.\n\nStart and stop must differ. "
        "A stop that comes\nbefore its start in the week runs the server\nacross the end of the week "
        "(Fri, 22:00 - Mon, 06:00)."));
    layout->addWidget(times);

    auto* listLabel = new QLabel(QStringLiteral("Schedule tim&es:"));
    listLabel->setBuddy(lines_);
    layout->addWidget(listLabel);
    auto* listRow = new QHBoxLayout;
    lines_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lines_->setToolTip(QStringLiteral("The start and stop days and times of this server,\nsorted by their text."));
    lines_->setMinimumHeight(lines_->fontMetrics().height() * 8);
    listRow->addWidget(lines_, 1);
    auto* listButtons = new QVBoxLayout;
    remove_->setToolTip(QStringLiteral("Remove the selected start and stop\ndays and times from the server's\nscheduler."));
    remove_->setEnabled(false);
    listButtons->addWidget(remove_);
    listButtons->addStretch(1);
    listRow->addLayout(listButtons);
    layout->addLayout(listRow, 1);

    auto* buttons = MakeDialogButtons(this, context_.presenter, kHelpPage);
    layout->addWidget(buttons);

    // Set is a plain button: Enter anywhere in the dialog is OK.
    set_->setAutoDefault(false);
    remove_->setAutoDefault(false);
    connect(set_, &QPushButton::clicked, this, [this] { Set(); });
    connect(remove_, &QPushButton::clicked, this, [this] { RemoveSelected(); });
    connect(lines_, &QListWidget::itemSelectionChanged, this,
            [this] { remove_->setEnabled(!lines_->selectedItems().isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    setTabOrder(startDay_, startTime_);
    setTabOrder(startTime_, stopDay_);
    setTabOrder(stopDay_, stopTime_);
    setTabOrder(stopTime_, set_);
    setTabOrder(set_, lines_);
    setTabOrder(lines_, remove_);
    setTabOrder(remove_, buttons);

    ShowLines(std::string());
    startDay_->setFocus();
}

ScheduleEntry SchedulerDialog::Chosen() const {
    return {TimeOf(startDay_, startTime_), TimeOf(stopDay_, stopTime_)};
}

void SchedulerDialog::Set() {
    const ScheduleEntry entry = Chosen();
    if (entry.start == entry.stop) {
        context_.presenter.Message(this, QStringLiteral("The start and the stop are the same day and time, so the "
                                                        "server would never run. Please choose another stop."));
        stopDay_->setFocus();
        return;
    }
    // Added, or already there: either way the line is shown selected, so the operator sees it.
    list_.Add(entry);
    ShowLines(ScheduleEntryText(entry));
}

void SchedulerDialog::RemoveSelected() {
    std::vector<size_t> selected;
    for (int row = 0; row < lines_->count(); ++row)
        if (lines_->item(row)->isSelected()) selected.push_back(static_cast<size_t>(row));
    list_.Remove(selected);
    ShowLines(std::string());
}

void SchedulerDialog::ShowLines(const std::string& select) {
    lines_->clear();
    for (const std::string& line : list_.Lines()) {
        auto* item = new QListWidgetItem(ToQt(line), lines_);
        if (!select.empty() && line == select) {
            item->setSelected(true);
            lines_->scrollToItem(item);
        }
    }
    remove_->setEnabled(!lines_->selectedItems().isEmpty());
}

void SchedulerDialog::Apply(CServerConfig& config) const {
    config.schedule.entries = list_.Entries();
    config.schedule.RebuildMinuteTable();
}

}  // namespace hm
