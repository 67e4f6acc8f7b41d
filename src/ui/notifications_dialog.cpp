#include "ui/notifications_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <optional>

#include "app/server_manager.h"
#include "ui/dialog_buttons.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

constexpr int kHelpPage = 6;  // the global options' page, which describes the notifications too

QString KindsText(uint32_t kinds) {
    const std::string text = NotifyKindsText(kinds);
    return text.empty() ? QStringLiteral("all") : QString::fromLatin1(text).replace(QLatin1Char(','), QStringLiteral(", "));
}

QString FormatText(NotifyFormat format) {
    return format == NotifyFormat::Discord ? QStringLiteral("discord") : QStringLiteral("json");
}

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

}  // namespace

NotificationsDialog::NotificationsDialog(ServerManager& manager, UiPresenter& presenter, QWidget* parent)
    : QDialog(parent), manager_(manager), presenter_(presenter), targets_(manager.programSettings.settings.notify) {
    setWindowTitle(QStringLiteral("Haldmoor3 Notifications"));
    const int em = fontMetrics().averageCharWidth();

    auto* intro = new QLabel(QStringLiteral(
        "Event lines of the chosen kinds are posted to these web hooks as they happen. The targets are kept "
        "in cfg/haldmoor3.ini; OK saves them and uses them at once."));
    intro->setWordWrap(true);

    list_ = new QTableWidget(0, kColumns);
    list_->setObjectName(QStringLiteral("targets"));
    list_->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Address"), QStringLiteral("Format"), QStringLiteral("Events"),
         QStringLiteral("Test result")});
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->verticalHeader()->hide();
    list_->setWordWrap(false);
    list_->setTextElideMode(Qt::ElideMiddle);
    QHeaderView* header = list_->horizontalHeader();
    header->setSectionResizeMode(kAddress, QHeaderView::Stretch);
    header->resizeSection(kName, em * 14);
    header->resizeSection(kFormat, em * 10);
    header->resizeSection(kEvents, em * 20);
    header->resizeSection(kResult, em * 36);  // "failed: Couldn't connect to server" whole
    list_->setMinimumSize(em * 125, fontMetrics().height() * 9);

    auto makeButton = [this](const char* name, const QString& text, const QString& tip) {
        auto* button = new QPushButton(text);
        button->setObjectName(QString::fromLatin1(name));
        button->setToolTip(tip);
        button->setAutoDefault(false);
        return button;
    };
    QPushButton* add = makeButton("add", QStringLiteral("&Add"), QStringLiteral("Add a web hook to the list."));
    remove_ = makeButton("remove", QStringLiteral("&Remove"), QStringLiteral("Remove the selected web hook."));
    test_ = makeButton("test", QStringLiteral("&Test"),
                       QStringLiteral("Send a test message to every web hook of the list (also those not saved "
                                      "yet)\nand show what each one answered."));
    auto* side = new QVBoxLayout;
    side->addWidget(add);
    side->addWidget(remove_);
    side->addSpacing(em * 2);
    side->addWidget(test_);
    side->addStretch(1);

    // The selected target's fields.
    editor_ = new QGroupBox(QStringLiteral("Selected web hook"));
    name_ = new QLineEdit;
    name_->setObjectName(QStringLiteral("name"));
    name_->setToolTip(QStringLiteral("The target's name: 1 to 64 characters, no square brackets."));
    name_->setMaxLength(64);
    url_ = new QLineEdit;
    url_->setObjectName(QStringLiteral("url"));
    url_->setToolTip(QStringLiteral("The web hook's address, beginning with http:// or https://."));
    url_->setPlaceholderText(QStringLiteral("https://chat.example.org/hooks/..."));
    format_ = new QComboBox;
    format_->setObjectName(QStringLiteral("format"));
    format_->addItem(QStringLiteral("discord"));
    format_->addItem(QStringLiteral("json"));
    format_->setToolTip(QStringLiteral("discord: the body chat web hooks take ({\"content\": \"...\"}).\n"
                                       "json: an object with time, port, server, event and text."));
    auto* kindsRow = new QGridLayout;
    for (unsigned k = 0; k < kNotifyKindCount; ++k) {
        const char* name = NotifyKindName(static_cast<NotifyKind>(k));
        kinds_[k] = new QCheckBox(QString::fromLatin1(name));
        kinds_[k]->setObjectName(QStringLiteral("kind_%1").arg(QString::fromLatin1(name)));
        kindsRow->addWidget(kinds_[k], static_cast<int>(k / 4), static_cast<int>(k % 4));
    }
    kindsRow->setColumnStretch(4, 1);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(name_, 1);
    nameRow->addSpacing(em * 3);
    nameRow->addWidget(new QLabel(QStringLiteral("Format")));
    nameRow->addWidget(format_);
    auto* form = new QFormLayout(editor_);
    form->addRow(QStringLiteral("Name"), nameRow);
    form->addRow(QStringLiteral("Address"), url_);
    form->addRow(QStringLiteral("Events"), kindsRow);

    auto* top = new QHBoxLayout;
    top->addWidget(list_, 1);
    top->addLayout(side);

    auto* buttons = MakeDialogButtons(this, presenter_, kHelpPage);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(top, 1);
    layout->addWidget(editor_);
    layout->addWidget(buttons);

    for (size_t row = 0; row < targets_.size(); ++row) {
        list_->insertRow(static_cast<int>(row));
        ShowRow(static_cast<int>(row));
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &NotificationsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(add, &QPushButton::clicked, this, [this] { AddTarget(); });
    connect(remove_, &QPushButton::clicked, this, [this] { RemoveTarget(); });
    connect(test_, &QPushButton::clicked, this, [this] { Test(); });
    connect(list_, &QTableWidget::itemSelectionChanged, this, [this] { ShowSelected(); });
    connect(name_, &QLineEdit::textEdited, this, [this] { TakeFields(); });
    connect(url_, &QLineEdit::textEdited, this, [this] { TakeFields(); });
    connect(format_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });
    for (QCheckBox* box : kinds_) connect(box, &QCheckBox::toggled, this, [this] { TakeFields(); });

    if (!targets_.empty()) list_->selectRow(0);
    ShowSelected();
}

void NotificationsDialog::ShowRow(int row) {
    const CNotifyTarget& t = targets_[static_cast<size_t>(row)];
    list_->setItem(row, kName, Cell(ToQt(t.name)));
    list_->setItem(row, kAddress, Cell(ToQt(t.url)));
    list_->setItem(row, kFormat, Cell(FormatText(t.format)));
    list_->setItem(row, kEvents, Cell(KindsText(t.kinds)));
    if (!list_->item(row, kResult)) list_->setItem(row, kResult, Cell(QString()));
    list_->item(row, kAddress)->setToolTip(ToQt(t.url));
}

void NotificationsDialog::ShowSelected() {
    const int row = list_->currentRow();
    const bool selected = row >= 0 && row < static_cast<int>(targets_.size()) && !list_->selectedItems().isEmpty();
    editor_->setEnabled(selected);
    remove_->setEnabled(selected);
    test_->setEnabled(!targets_.empty());
    showing_ = true;
    const CNotifyTarget shown = selected ? targets_[static_cast<size_t>(row)] : CNotifyTarget{};
    name_->setText(selected ? ToQt(shown.name) : QString());
    url_->setText(selected ? ToQt(shown.url) : QString());
    format_->setCurrentIndex(shown.format == NotifyFormat::Discord ? 0 : 1);
    for (unsigned k = 0; k < kNotifyKindCount; ++k) kinds_[k]->setChecked(selected && (shown.kinds & (1u << k)));
    showing_ = false;
}

void NotificationsDialog::TakeFields() {
    const int row = list_->currentRow();
    if (showing_ || row < 0 || row >= static_cast<int>(targets_.size())) return;
    CNotifyTarget& t = targets_[static_cast<size_t>(row)];
    // A character the file cannot hold stays in the field; OK names it.
    if (const std::optional<std::string> name = FromQt(name_->text().trimmed())) t.name = *name;
    if (const std::optional<std::string> url = FromQt(url_->text().trimmed())) t.url = *url;
    t.format = format_->currentIndex() == 0 ? NotifyFormat::Discord : NotifyFormat::Json;
    t.kinds = 0;
    for (unsigned k = 0; k < kNotifyKindCount; ++k)
        if (kinds_[k]->isChecked()) t.kinds |= 1u << k;
    list_->item(row, kResult)->setText(QString());  // a result of what it was before
    ShowRow(row);
}

void NotificationsDialog::AddTarget() {
    CNotifyTarget target;
    target.format = NotifyFormat::Discord;
    for (int n = static_cast<int>(targets_.size()) + 1;; ++n) {
        target.name = "hook " + std::to_string(n);
        bool taken = false;
        for (const CNotifyTarget& t : targets_) taken = taken || ToQt(t.name).compare(ToQt(target.name), Qt::CaseInsensitive) == 0;
        if (!taken) break;
    }
    targets_.push_back(target);
    const int row = static_cast<int>(targets_.size()) - 1;
    list_->insertRow(row);
    ShowRow(row);
    list_->selectRow(row);
    url_->setFocus();
}

void NotificationsDialog::RemoveTarget() {
    const int row = list_->currentRow();
    if (row < 0 || row >= static_cast<int>(targets_.size())) return;
    targets_.erase(targets_.begin() + row);
    list_->removeRow(row);
    ShowSelected();
}

void NotificationsDialog::Test() {
    std::vector<CNotifyTarget> sendable;
    for (int row = 0; row < static_cast<int>(targets_.size()); ++row) {
        const CNotifyTarget& t = targets_[static_cast<size_t>(row)];
        QTableWidgetItem* result = list_->item(row, kResult);
        result->setForeground(palette().color(QPalette::Text));
        if (!ValidNotifyUrl(t.url)) {
            result->setText(QStringLiteral("not an http:// or https:// address"));
            result->setForeground(QColor(0xB0, 0x20, 0x20));
            continue;
        }
        result->setText(QStringLiteral("sending..."));
        sendable.push_back(t);
    }
    if (sendable.empty()) return;
    test_->setEnabled(false);
    const QPointer<NotificationsDialog> self(this);
    manager_.watch.sender.SendTest(sendable, [self](const std::vector<NotifyResult>& results) {
        // On the sender's thread: the results travel to the GUI thread, where the dialog may be gone.
        QMetaObject::invokeMethod(
            qApp, [self, results] {
                if (self) self->ShowResults(results);
            },
            Qt::QueuedConnection);
    });
}

void NotificationsDialog::ShowResults(const std::vector<NotifyResult>& results) {
    test_->setEnabled(!targets_.empty());
    for (const NotifyResult& r : results) {
        for (int row = 0; row < static_cast<int>(targets_.size()); ++row) {
            const CNotifyTarget& t = targets_[static_cast<size_t>(row)];
            if (t.name != r.name || t.url != r.url) continue;  // changed since the test began
            QTableWidgetItem* item = list_->item(row, kResult);
            const QString text = r.status ? QStringLiteral("HTTP %1").arg(r.status)
                                          : QStringLiteral("failed: %1").arg(QString::fromUtf8(r.error.c_str()));
            item->setText(text);
            item->setToolTip(text);
            item->setForeground(r.Delivered() ? QColor(0x1E, 0x7B, 0x34) : QColor(0xB0, 0x20, 0x20));
        }
    }
}

void NotificationsDialog::accept() {
    // The fields hold what the operator sees; a character the file cannot hold is named here.
    for (QLineEdit* field : {name_, url_}) {
        QString bad;
        if (editor_->isEnabled() && !FromQt(field->text(), &bad)) {
            presenter_.Message(this, QStringLiteral("The character \"%1\" cannot be stored in cfg/haldmoor3.ini. "
                                                    "Please use another.")
                                         .arg(bad));
            field->setFocus();
            return;
        }
    }
    const std::string problem = CheckNotifyTargets(targets_);
    if (!problem.empty()) {
        presenter_.Message(this, ToQt(problem));
        return;
    }
    const std::string failure = manager_.SetNotifyTargets(targets_);
    if (!failure.empty()) presenter_.Error(this, ToQt(failure));
    QDialog::accept();
}

}  // namespace hm
