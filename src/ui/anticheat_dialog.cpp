#include "ui/anticheat_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

#include "anticheat/hosts_deny.h"
#include "anticheat/nickname_rules.h"
#include "game/game_installation.h"
#include "platform/files.h"
#include "servers/anticheat_rules.h"
#include "servers/global_options.h"
#include "ui/dialog_buttons.h"
#include "ui/editor_context.h"
#include "ui/help.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

constexpr int kHelpPage = 8;

QCheckBox* Box(const char* name, const QString& text, uint32_t checked, const QString& tip) {
    auto* box = new QCheckBox(text);
    box->setObjectName(QLatin1String(name));
    box->setChecked(checked != 0);
    box->setToolTip(tip);
    return box;
}

QPushButton* Button(const char* name, const QString& text, const QString& tip) {
    auto* button = new QPushButton(text);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(tip);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* UriField(const char* name, const std::string& uri, const QString& tip) {
    auto* field = new QLineEdit(ToQt(uri));
    field->setObjectName(QLatin1String(name));
    field->setToolTip(tip);
    field->setMinimumWidth(field->fontMetrics().averageCharWidth() * 48);
    return field;
}

// One download group: its two switches, then "URI:" with the address and its reset button.
QGroupBox* DownloadGroup(const QString& title, const QString& uriLabel, QCheckBox* autoUpdate,
                         QCheckBox* removePrevious, QLineEdit* uri, QPushButton* reset) {
    auto* group = new QGroupBox(title);
    auto* grid = new QGridLayout(group);
    auto* switches = new QHBoxLayout;
    switches->addWidget(autoUpdate);
    switches->addSpacing(16);
    switches->addWidget(removePrevious);
    switches->addStretch(1);
    grid->addLayout(switches, 0, 0, 1, 3);
    auto* label = new QLabel(uriLabel);
    label->setBuddy(uri);
    grid->addWidget(label, 1, 0);
    grid->addWidget(uri, 1, 1);
    grid->addWidget(reset, 1, 2);
    grid->setColumnStretch(1, 1);
    return group;
}

}  // namespace

AntiCheatDialog::AntiCheatDialog(const CGlobalOptions& options, EditorContext& context, QWidget* parent)
    : QDialog(parent),
      context_(context),
      before_(options.antiCheat),
      result_(options.antiCheat),
      gameFolder_(context.installation ? context.installation->GameFolder() : std::string()),
      names_(options.antiCheat.disallowedNicknames) {
    const AntiCheatOptions& o = before_;
    setWindowTitle(QStringLiteral("Haldmoor3 Anti Cheating / Persona Non Grata Options"));

    disallowHacked_ = Box("disallowHacked", QStringLiteral("Disallow and kick &hacked nicknames"), o.disallowHacked,
                          QStringLiteral("Disallow hacked player nicknames and\nkick them automatically."));
    disallowShort_ = Box("disallowShort", QStringLiteral("Disallow nicknames with &at most"), o.disallowShort,
                         QStringLiteral("Don't allow nicknames with the given amount or\nless characters."));
    shortLength_ = new QLineEdit(QString::number(std::clamp(o.shortLength, kMinShortLength, kMaxShortLength)));
    shortLength_->setObjectName(QStringLiteral("shortLength"));
    shortLength_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), shortLength_));
    shortLength_->setMaximumWidth(shortLength_->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 4 + 16);
    shortLength_->setToolTip(
        QStringLiteral("Nicknames (pilot names) with this amount or\nless characters are not allowed."));
    auto* shortUnit = new QLabel(QStringLiteral("characters (1 to 4)"));
    shortUnit->setToolTip(shortLength_->toolTip());

    list_ = new QListWidget;
    list_->setObjectName(QStringLiteral("nicknames"));
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setToolTip(QStringLiteral("This is the list with disallowed nicknames\n(pilot names).\n\n"
                                     "Names listed here are automatically banned.\nUse with care!"));
    for (const std::string& name : names_) list_->addItem(ToQt(name));
    list_->setMinimumHeight(list_->fontMetrics().height() * 8);
    newName_ = new QLineEdit;
    newName_->setObjectName(QStringLiteral("newNickname"));
    newName_->setPlaceholderText(QStringLiteral("nickname, or the beginning of names followed by *"));
    newName_->setToolTip(QStringLiteral("Nickname (pilot/player name) to add to\nthe list with disallowed names."));
    add_ = Button("add", QStringLiteral("A&dd"), QStringLiteral("Add the nickname to the list with disallowed names."));
    remove_ = Button("remove", QStringLiteral("&Remove"), QStringLiteral("Remove the selected nickname(s)."));

    autoUpdateNicknames_ =
        Box("autoUpdateNicknames", QStringLiteral("Auto update &banned nicknames"), o.autoUpdateNicknames,
            QStringLiteral("Download and update the file with banned\nnicknames (pilots) automatically "
                           "every\n12 hours."));
    removePreviousNicknames_ =
        Box("removePreviousNicknames", QStringLiteral("Remove previous &nicknames"), o.removePreviousNicknames,
            QStringLiteral("Remove previously banned nicknames (pilots)\nwhen the file is updated."));
    nicknamesUri_ = UriField(
        "nicknamesUri", o.nicknamesUri,
        QStringLiteral("The internet address from where to download\nthe list with banned nicknames (pilots)."));
    resetNicknamesUri_ =
        Button("resetNicknamesUri", QStringLiteral("Reset"),
               QStringLiteral("Reset the URI for the file with banned players\nto its default value."));

    autoUpdateHostsDeny_ = Box("autoUpdateHostsDeny", QStringLiteral("Auto update hosts.den&y"), o.autoUpdateHostsDeny,
                               QStringLiteral("Download and update the netgames\\hosts.deny\nfile automatically every "
                                              "12 hours.\n\nThis file contains information about blocked\nplayer IP "
                                              "addresses and IP ranges."));
    removePreviousHostsDeny_ =
        Box("removePreviousHostsDeny", QStringLiteral("Remove previous &entries"), o.removePreviousHostsDeny,
            QStringLiteral("Remove previous netgames\\hosts.deny entries\nwhen the file is updated."));
    hostsDenyUri_ = UriField("hostsDenyUri", o.hostsDenyUri,
                             QStringLiteral("The internet address from where to download\nhosts.deny updates"));
    resetHostsDenyUri_ =
        Button("resetHostsDenyUri", QStringLiteral("Reset"),
               QStringLiteral("Reset the URI for the file netgames\\hosts.deny\nto its default value."));
    deleteHostsDeny_ = Button(
        "deleteHostsDeny", QStringLiteral("De&lete hosts.deny"),
        QStringLiteral("Delete the local copy of netgames\\hosts.deny.\n\nThis is useful to clean the system after\n"
                       "turning the blocked IP update function off\n(\"Auto update hosts.deny\").\n\nWithout deleting, "
                       "the version of the file hosts.deny\ndownloaded last stays on the computer and is used\nby the "
                       "Kelvane 3 dedicated servers after disabling\nthe update function."));

    // Nickname rules and the list.
    auto* nicknames = new QGroupBox(QStringLiteral("Nicknames (pilot names)"));
    auto* nickGrid = new QGridLayout(nicknames);
    nickGrid->addWidget(disallowHacked_, 0, 0, 1, 2);
    auto* shortRow = new QHBoxLayout;
    shortRow->addWidget(disallowShort_);
    shortRow->addWidget(shortLength_);
    shortRow->addWidget(shortUnit);
    shortRow->addStretch(1);
    nickGrid->addLayout(shortRow, 1, 0, 1, 2);
    auto* listLabel = new QLabel(QStringLiteral("Disallowed ni&cknames (banned when they join):"));
    listLabel->setBuddy(list_);
    nickGrid->addWidget(listLabel, 2, 0, 1, 2);
    nickGrid->addWidget(list_, 3, 0);
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(remove_);
    listButtons->addStretch(1);
    nickGrid->addLayout(listButtons, 3, 1);
    nickGrid->addWidget(newName_, 4, 0);
    nickGrid->addWidget(add_, 4, 1);
    nickGrid->setRowStretch(3, 1);

    QGroupBox* nickDownload = DownloadGroup(QStringLiteral("Banned nicknames download"), QStringLiteral("&URI:"),
                                            autoUpdateNicknames_, removePreviousNicknames_, nicknamesUri_,
                                            resetNicknamesUri_);
    QGroupBox* hostsDownload =
        DownloadGroup(QStringLiteral("Banned addresses (netgames\\hosts.deny)"), QStringLiteral("UR&I:"),
                      autoUpdateHostsDeny_, removePreviousHostsDeny_, hostsDenyUri_, resetHostsDenyUri_);
    auto* hostsGrid = static_cast<QGridLayout*>(hostsDownload->layout());
    auto* deleteRow = new QHBoxLayout;
    deleteRow->addWidget(deleteHostsDeny_);
    deleteRow->addStretch(1);
    hostsGrid->addLayout(deleteRow, 2, 0, 1, 3);

    auto* buttons = MakeDialogButtons(this, context_.presenter, kHelpPage);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(nicknames, 1);
    layout->addWidget(nickDownload);
    layout->addWidget(hostsDownload);
    layout->addWidget(buttons);

    EnterClicks(newName_, add_);
    connect(newName_, &QLineEdit::textChanged, this, [this] { EnableControls(); });
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] { EnableControls(); });
    connect(add_, &QPushButton::clicked, this, [this] { AddNickname(); });
    connect(remove_, &QPushButton::clicked, this, [this] { RemoveSelected(); });
    connect(autoUpdateNicknames_, &QCheckBox::toggled, this, [this] { EnableControls(); });
    connect(autoUpdateHostsDeny_, &QCheckBox::toggled, this, [this] { EnableControls(); });
    connect(resetNicknamesUri_, &QPushButton::clicked, this,
            [this] { nicknamesUri_->setText(ToQt(kDefaultNicknamesUri)); });
    connect(resetHostsDenyUri_, &QPushButton::clicked, this,
            [this] { hostsDenyUri_->setText(ToQt(kDefaultHostsDenyUri)); });
    connect(deleteHostsDeny_, &QPushButton::clicked, this, [this] { DeleteHostsDenyFile(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { CheckAndAccept(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    setTabOrder(disallowHacked_, disallowShort_);
    setTabOrder(disallowShort_, shortLength_);
    setTabOrder(shortLength_, list_);
    setTabOrder(list_, remove_);
    setTabOrder(remove_, newName_);
    setTabOrder(newName_, add_);
    setTabOrder(add_, autoUpdateNicknames_);
    deleteHostsDeny_->setEnabled(HostsDenyExists(gameFolder_));
    EnableControls();
    newName_->setFocus();
}

void AntiCheatDialog::EnableControls() {
    add_->setEnabled(!newName_->text().isEmpty());
    remove_->setEnabled(!list_->selectedItems().isEmpty());
    const bool nicknames = autoUpdateNicknames_->isChecked();
    nicknamesUri_->setEnabled(nicknames);
    resetNicknamesUri_->setEnabled(nicknames);
    const bool hostsDeny = autoUpdateHostsDeny_->isChecked();
    hostsDenyUri_->setEnabled(hostsDeny);
    resetHostsDenyUri_->setEnabled(hostsDeny);
}

void AntiCheatDialog::AddNickname() {
    QString bad;
    const std::optional<std::string> name = FromQt(newName_->text(), &bad);
    if (!name) {
        context_.presenter.Message(this, QStringLiteral("The nickname contains the character \"%1\", which the game's "
                                                        "nicknames cannot hold. Please enter it without.")
                                             .arg(bad));
        newName_->setFocus();
        return;
    }
    if (!AddDisallowedNickname(names_, *name)) {
        // Listed already (ignoring case): show the entry that is there instead of adding a second one.
        for (int row = 0; row < list_->count(); ++row) {
            const bool same = fs::EqualsIgnoreCase(names_[static_cast<size_t>(row)], *name);
            list_->item(row)->setSelected(same);
            if (same) list_->scrollToItem(list_->item(row));
        }
        newName_->setFocus();
        return;
    }
    list_->addItem(ToQt(*name));
    list_->scrollToBottom();
    newName_->clear();
    newName_->setFocus();
}

void AntiCheatDialog::RemoveSelected() {
    for (int row = list_->count() - 1; row >= 0; --row) {
        if (list_->item(row)->isSelected()) {
            delete list_->takeItem(row);
            names_.erase(names_.begin() + row);
        }
    }
    EnableControls();
}

void AntiCheatDialog::DeleteHostsDenyFile() {
    switch (DeleteHostsDeny(gameFolder_)) {
        case HostsDenyDeletion::Missing:
            context_.presenter.Message(this, QString::fromLatin1(kHostsDenyMissingText));
            deleteHostsDeny_->setEnabled(false);
            break;
        case HostsDenyDeletion::Failed:
            context_.presenter.Error(this, QString::fromLatin1(kHostsDenyDeleteFailedText));
            break;
        case HostsDenyDeletion::Deleted:
            deleteHostsDeny_->setEnabled(false);
            break;
    }
}

void AntiCheatDialog::CheckAndAccept() {
    const QString length = shortLength_->text();
    const std::string message = CheckShortLength(length.isEmpty() ? -1 : length.toLongLong());
    if (!message.empty()) {
        context_.presenter.Message(this, ToQt(message));
        shortLength_->setFocus();
        shortLength_->selectAll();
        return;
    }
    AntiCheatOptions edited = before_;
    for (QLineEdit* field : {nicknamesUri_, hostsDenyUri_}) {
        QString bad;
        const std::optional<std::string> uri = FromQt(field->text().trimmed(), &bad);
        if (!uri) {
            context_.presenter.Message(this, QStringLiteral("The address contains the character \"%1\", which cannot "
                                                            "be part of an internet address. Please enter it without.")
                                                 .arg(bad));
            field->setFocus();
            return;
        }
        (field == nicknamesUri_ ? edited.nicknamesUri : edited.hostsDenyUri) = *uri;
    }
    edited.disallowHacked = disallowHacked_->isChecked() ? 1 : 0;
    edited.disallowShort = disallowShort_->isChecked() ? 1 : 0;
    edited.shortLength = static_cast<int32_t>(length.toInt());
    edited.disallowedNicknames = names_;
    edited.autoUpdateNicknames = autoUpdateNicknames_->isChecked() ? 1 : 0;
    edited.removePreviousNicknames = removePreviousNicknames_->isChecked() ? 1 : 0;
    edited.autoUpdateHostsDeny = autoUpdateHostsDeny_->isChecked() ? 1 : 0;
    edited.removePreviousHostsDeny = removePreviousHostsDeny_->isChecked() ? 1 : 0;
    result_ = AcceptAntiCheatDialog(before_, std::move(edited));
    accept();
}

void AntiCheatDialog::Apply(CGlobalOptions& options) const { options.antiCheat = result_; }

}  // namespace hm
