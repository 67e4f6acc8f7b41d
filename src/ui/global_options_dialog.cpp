#include "ui/global_options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

#include "app/server_manager.h"
#include "ui/dialog_buttons.h"
#include "ui/help.h"
#include "ui/notifications_dialog.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

constexpr int kHelpPage = 6;

// The number fields: the form value each edits, its label and tool tip.
struct NumberField {
    const char* name;
    GlobalOptionsField field;
    const char* label;
    const char* tip;
};
constexpr NumberField kNumbers[] = {
    {"baseServerPort", GlobalOptionsField::BaseServerPort, "Base server port",
     "Lowest UDP port number for servers; should be >= 2093"},
    {"baseConsolePort", GlobalOptionsField::BaseConsolePort, "Base remote console port",
     "Lowest TCP port number for server remote consoles; should be >= 2093"},
    {"packets", GlobalOptionsField::DefaultPacketsPerSecond, "Default packets/second",
     "Default packets per second (PPS); should be 9 < PPS < 20"},
    {"frames", GlobalOptionsField::DefaultFramesPerSecond, "Default frames/second",
     "Default calculated frames per second (FPS) on the server; 0 = No limit"},
    {"maxPlayers", GlobalOptionsField::DefaultMaxPlayers, "Default max. players", "Default max players in a game"},
    {"timeLimit", GlobalOptionsField::DefaultTimeLimit, "Default time limit [min.]",
     "Default time limit for a game; 0 = No time limit"},
    {"killGoal", GlobalOptionsField::DefaultKillGoal, "Default kill goal", "Default required kills in a game; 0 = No limit"},
    {"restartMinutes", GlobalOptionsField::AutoRestartMinutes, "Auto restart time (min.)",
     "Time period in minutes after running Kelvane 3 servers\nwill be restarted automatically.\n\nOnly servers that "
     "don't have players in them will be\nrestarted. For servers with players the automatic restart\nis postponed "
     "until 130 seconds after the last player has\nleft the game."},
};

int64_t* FormNumber(GlobalOptionsForm& form, GlobalOptionsField field) {
    switch (field) {
        case GlobalOptionsField::BaseServerPort: return &form.baseServerPort;
        case GlobalOptionsField::BaseConsolePort: return &form.baseConsolePort;
        case GlobalOptionsField::DefaultPacketsPerSecond: return &form.defaultPacketsPerSecond;
        case GlobalOptionsField::DefaultFramesPerSecond: return &form.defaultFramesPerSecond;
        case GlobalOptionsField::DefaultMaxPlayers: return &form.defaultMaxPlayers;
        case GlobalOptionsField::DefaultTimeLimit: return &form.defaultTimeLimit;
        case GlobalOptionsField::DefaultKillGoal: return &form.defaultKillGoal;
        case GlobalOptionsField::AutoRestartMinutes: return &form.autoRestartMinutes;
        default: return nullptr;
    }
}

// The flags of the dialog's copy that are plain check boxes, with label and tool tip.
struct FlagBox {
    const char* name;
    uint32_t CGlobalOptions::*flag;
    const char* label;
    const char* tip;
};
const FlagBox kFlags[] = {
    {"autoLaunch", &CGlobalOptions::autoLaunchAtStart, "Auto launch new servers at program start",
     "Start all configured servers when Haldmoor3 starts.\n\nKelvane 3 dedicated servers can be excluded from the "
     "automatic\nstartup in their individual configurations.\n\nServers that had been running when Haldmoor3 was "
     "closed\nlast time are always started. To avoid starting these servers up,\nshut down Haldmoor3 with the button "
     "\"Stop & Exit\" instead\nof just \"Exit\"."},
    {"startMinimized", &CGlobalOptions::startMinimized, "Start servers minimized",
     "Start servers minimized; if not ticked, servers are started as normal windows.\nOn this host servers have no "
     "windows: their output goes to\nlog/<port>.out below the working folder."},
    {"autoRestart", &CGlobalOptions::autoRestart, "Auto restart servers",
     "Restart servers automatically after a given time period"},
    {"autoChoosePorts", &CGlobalOptions::autoChoosePorts, "Auto choose server ports",
     "Let the server tool automatically select the ports for servers"},
    {"limitPlayersAll", &CGlobalOptions::limitPlayersAll, "Max. players in all servers",
     "Watch the players of all servers together.\n\nWhen they reach the number beside this box while the servers\n"
     "together offer more places, the event list says so\n(\"Max players of <number> reached.\") and every server's max. "
     "players\nis set back to the value of its configuration."},
    {"useJotwell", &CGlobalOptions::useJotwellForEventLog, "Use Jotwell (libjotwell.so) for the global event log",
     "Use the library libjotwell.so for event logging.\nProvides log compression and rotation.\nA library that was not "
     "there when Haldmoor3 started\nis only used after restarting Haldmoor3."},
    {"autoUpdate", &CGlobalOptions::autoUpdate, "Automatically download and install updates",
     "Download available updates and install them automatically.\n\nThis requires the update check to be enabled."},
    {"mroDetection", &CGlobalOptions::mroDetection, "Enable MRO detection",
     "MRO doesn't exist anymore; leave this box unchecked."},
    {"switchToTcp", &CGlobalOptions::switchToTcpOnMroDown, "Switch servers to TCP/IP on MRO downtimes",
     "MRO doesn't exist anymore; leave this box unchecked."},
};

// The texts of the dialog's copy.
struct TextField {
    const char* name;
    std::string CGlobalOptions::*text;
    const char* tip;
};
const TextField kTexts[] = {
    {"password", &CGlobalOptions::defaultConsolePassword, "Default password for server remote consoles"},
    {"motd", &CGlobalOptions::defaultMotd, "Default message of the day"},
    {"email", &CGlobalOptions::trackerEmail,
     "The web game tracker this address was meant for is down;\nwhatever is entered here is stored but ignored."},
    {"mroUser", &CGlobalOptions::mroUserName, "MRO doesn't exist anymore; leave this field empty."},
    {"mroPassword", &CGlobalOptions::mroPassword, "MRO doesn't exist anymore; leave this field empty."},
};

const char* const kVersionCheckTip =
    "Check for new versions of the server tool.\n\nThe check takes place when Haldmoor3 is started\nand then every 12 hours.";
const char* const kInfoServerTip =
    "Run the remote info server: a UDP service that tells the companion\ntool Haldscope the configured servers and "
    "keeps the game\ntracker information. Its port and password are set with\n\"Info server options...\".";

}  // namespace

GlobalOptionsDialog::GlobalOptionsDialog(ServerManager& manager, UiPresenter& presenter, OptionsEditor editAntiCheat,
                                         OptionsEditor editInfoServer, QWidget* parent)
    : QDialog(parent),
      manager_(manager),
      presenter_(presenter),
      editAntiCheat_(std::move(editAntiCheat)),
      editInfoServer_(std::move(editInfoServer)),
      form_(manager.OpenGlobalOptions()) {
    setWindowTitle(QStringLiteral("Haldmoor3 Global Options"));
    const int em = fontMetrics().averageCharWidth();

    auto makeBox = [&](const char* name, const QString& label, const QString& tip) {
        auto* box = new QCheckBox(label);
        box->setObjectName(QString::fromLatin1(name));
        box->setToolTip(tip);
        boxes_[name] = box;
        return box;
    };
    for (const FlagBox& flag : kFlags) makeBox(flag.name, QString::fromLatin1(flag.label), QString::fromLatin1(flag.tip));
    makeBox("versionCheck", QStringLiteral("Check for software updates"), QString::fromLatin1(kVersionCheckTip));
    makeBox("infoServer", QStringLiteral("Enable remote info server"), QString::fromLatin1(kInfoServerTip));
    auto makeField = [&](const char* name, const char* tip) {
        auto* edit = new QLineEdit;
        edit->setObjectName(QString::fromLatin1(name));
        edit->setToolTip(QString::fromLatin1(tip));
        fields_[name] = edit;
        return edit;
    };
    for (const NumberField& number : kNumbers) {
        QLineEdit* edit = makeField(number.name, number.tip);
        // Digits only, but any count of them: a value out of range reaches the check and its message.
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,7}")), edit));
        edit->setMaximumWidth(em * 10);
        edit->setText(QString::number(*FormNumber(form_, number.field)));
    }
    for (const TextField& text : kTexts) makeField(text.name, text.tip);
    fields_["password"]->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    fields_["mroPassword"]->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    auto makeButton = [&](const char* name, const QString& text, const QString& tip) {
        auto* button = new QPushButton(text);
        button->setObjectName(QString::fromLatin1(name));
        button->setToolTip(tip);
        button->setAutoDefault(false);
        buttons_[name] = button;
        return button;
    };

    auto* layout = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    layout->addLayout(columns, 1);
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);

    // The program: starts, restarts, the player limit, the global log.
    auto* programBox = new QGroupBox(QStringLiteral("Program"));
    auto* program = new QGridLayout(programBox);
    int row = 0;
    program->addWidget(boxes_["autoLaunch"], row++, 0, 1, 2);
    program->addWidget(boxes_["startMinimized"], row++, 0, 1, 2);
    program->addWidget(boxes_["autoRestart"], row++, 0, 1, 2);
    auto* minutesLabel = new QLabel(QStringLiteral("Auto restart time (min.)"));
    minutesLabel->setBuddy(fields_["restartMinutes"]);
    minutesLabel->setIndent(em * 3);
    program->addWidget(minutesLabel, row, 0);
    program->addWidget(fields_["restartMinutes"], row++, 1);
    program->addWidget(boxes_["autoChoosePorts"], row++, 0, 1, 2);
    playersAll_ = new QSpinBox;
    playersAll_->setObjectName(QStringLiteral("maxPlayersAll"));
    playersAll_->setRange(0, 999);
    playersAll_->setValue(static_cast<int>(std::clamp<int64_t>(form_.maxPlayersAll, 0, 999)));
    playersAll_->setToolTip(QStringLiteral("The number of players in all servers together at which the\nlimit of "
                                           "\"Max. players in all servers\" acts (0 to 999)."));
    program->addWidget(boxes_["limitPlayersAll"], row, 0);
    program->addWidget(playersAll_, row++, 1);
    program->addWidget(boxes_["useJotwell"], row++, 0, 1, 2);
    program->setColumnStretch(0, 1);
    left->addWidget(programBox);

    auto* updatesBox = new QGroupBox(QStringLiteral("Updates"));
    auto* updates = new QVBoxLayout(updatesBox);
    updates->addWidget(boxes_["versionCheck"]);
    auto* autoUpdateRow = new QHBoxLayout;
    autoUpdateRow->addSpacing(em * 3);  // indented under the box it depends on
    autoUpdateRow->addWidget(boxes_["autoUpdate"], 1);
    updates->addLayout(autoUpdateRow);
    left->addWidget(updatesBox);

    auto* infoBox = new QGroupBox(QStringLiteral("Remote info server"));
    auto* info = new QHBoxLayout(infoBox);
    info->addWidget(boxes_["infoServer"], 1);
    info->addWidget(makeButton("infoServerOptions", QStringLiteral("Info server options..."),
                               QStringLiteral("Set the port and the password of the remote info server.")));

    auto* mroBox = new QGroupBox(QStringLiteral("MRO (the lobby service no longer exists)"));
    auto* mro = new QFormLayout(mroBox);
    mro->addRow(QStringLiteral("MRO username"), fields_["mroUser"]);
    mro->addRow(QStringLiteral("MRO password"), fields_["mroPassword"]);
    mro->addRow(boxes_["mroDetection"]);
    mro->addRow(boxes_["switchToTcp"]);
    left->addWidget(mroBox);
    left->addStretch(1);

    // The defaults that new server configurations take.
    auto* defaultsBox = new QGroupBox(QStringLiteral("Defaults for new servers"));
    auto* defaults = new QFormLayout(defaultsBox);
    auto* addressRow = new QHBoxLayout;
    addressRow->setSpacing(2);
    const QString addressTip =
        QStringLiteral("Force servers to bind to this IP address.\nLeave blank (zeros) to bind to all available addresses.");
    for (size_t i = 0; i < address_.size(); ++i) {
        auto* part = new QLineEdit;
        part->setObjectName(QStringLiteral("address%1").arg(i));
        part->setToolTip(addressTip);
        part->setAlignment(Qt::AlignCenter);
        part->setMaximumWidth(em * 6);
        part->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9]")), part));
        // A blank address shows blank fields rather than four zeros.
        if (form_.addressFields[i] != 0 || !form_.options.alternateAddress.empty())
            part->setText(QString::number(form_.addressFields[i]));
        address_[i] = part;
        if (i > 0) addressRow->addWidget(new QLabel(QStringLiteral(".")));
        addressRow->addWidget(part);
    }
    addressRow->addStretch(1);
    defaults->addRow(QStringLiteral("Alternate server IP"), addressRow);
    for (const NumberField& number : kNumbers) {
        if (number.field == GlobalOptionsField::AutoRestartMinutes) continue;
        defaults->addRow(QString::fromLatin1(number.label), fields_[number.name]);
        if (number.field == GlobalOptionsField::BaseConsolePort)
            defaults->addRow(QStringLiteral("Default remote password"), fields_["password"]);
    }
    defaults->addRow(QStringLiteral("Default msg. of the day"), fields_["motd"]);
    right->addWidget(defaultsBox);

    auto* trackerBox = new QGroupBox(QStringLiteral("Game tracker"));
    auto* tracker = new QFormLayout(trackerBox);
    region_ = new QComboBox;
    region_->setObjectName(QStringLiteral("region"));
    region_->setToolTip(QStringLiteral("Default region code for game servers; select your location"));
    for (const std::string& name : RegionNames()) region_->addItem(ToQt(name));
    region_->setCurrentIndex(form_.region < kRegionCount ? static_cast<int>(form_.region) : 0);
    tracker->addRow(QStringLiteral("Region for gametracker"), region_);
    tracker->addRow(QStringLiteral("Email address *"), fields_["email"]);
    right->addWidget(trackerBox);
    right->addWidget(infoBox);

    // The web hooks live in cfg/haldmoor3.ini; their dialog saves them on its own OK.
    auto* notifyBox = new QGroupBox(QStringLiteral("Notifications"));
    auto* notify = new QHBoxLayout(notifyBox);
    notifyCount_ = new QLabel;
    notifyCount_->setObjectName(QStringLiteral("notifyCount"));
    notify->addWidget(notifyCount_, 1);
    notify->addWidget(makeButton("notifications", QStringLiteral("Notifications..."),
                                 QStringLiteral("The web hooks that hear of crashes, restarts, kicks and other events.")));
    ShowNotifyCount();
    right->addWidget(notifyBox);
    right->addStretch(1);

    // The game folder and the anti-cheat options; then the dialog's own buttons.
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(makeButton("gameFolder", QStringLiteral("Select Kelvane 3 folder..."),
                                 QStringLiteral("Select the Kelvane 3 game folder")));
    bottom->addWidget(makeButton("antiCheat", QStringLiteral("Anti cheating / persona non grata options"),
                                 QStringLiteral("Open the anti-cheating options")));
    bottom->addStretch(1);
    auto* box = MakeDialogButtons(this, presenter_, kHelpPage);
    bottom->addWidget(box);
    layout->addLayout(bottom);

    connect(box, &QDialogButtonBox::accepted, this, &GlobalOptionsDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &GlobalOptionsDialog::reject);
    connect(buttons_["gameFolder"], &QPushButton::clicked, this, [this] { SelectGameFolder(); });
    connect(buttons_["antiCheat"], &QPushButton::clicked, this, [this] { RunEditor(editAntiCheat_); });
    connect(buttons_["infoServerOptions"], &QPushButton::clicked, this, [this] { RunEditor(editInfoServer_); });
    connect(buttons_["notifications"], &QPushButton::clicked, this, [this] {
        NotificationsDialog dialog(manager_, presenter_, this);
        presenter_.Exec(dialog);
        ShowNotifyCount();
    });
    buttons_["antiCheat"]->setEnabled(static_cast<bool>(editAntiCheat_));
    buttons_["infoServerOptions"]->setEnabled(static_cast<bool>(editInfoServer_));

    ShowOptions(form_.options);
    boxes_["versionCheck"]->setChecked(form_.versionCheckTicked);

    // Enable rules: a control that only means something while its box is ticked follows the box.
    auto follow = [this](QCheckBox* owner, QWidget* control) {
        connect(owner, &QCheckBox::toggled, control, &QWidget::setEnabled);
        control->setEnabled(owner->isChecked());
    };
    follow(boxes_["autoRestart"], fields_["restartMinutes"]);
    follow(boxes_["autoRestart"], minutesLabel);
    follow(boxes_["limitPlayersAll"], playersAll_);
    follow(boxes_["versionCheck"], boxes_["autoUpdate"]);
    // Without the library the global log cannot be written: its box stays cleared.
    if (!manager_.GlobalLogOffered()) {
        boxes_["useJotwell"]->setChecked(false);
        boxes_["useJotwell"]->setEnabled(false);
    }
}

GlobalOptionsDialog::~GlobalOptionsDialog() {
    // A dialog that goes without OK or Cancel (the program ends under it) still ends as a Cancel.
    if (!ended_) manager_.CloseGlobalOptions(form_, false);
}

void GlobalOptionsDialog::ShowNotifyCount() {
    const size_t count = manager_.programSettings.settings.notify.size();
    notifyCount_->setText(count == 0   ? QStringLiteral("No web hooks")
                          : count == 1 ? QStringLiteral("1 web hook")
                                       : QStringLiteral("%1 web hooks").arg(count));
}

void GlobalOptionsDialog::ShowOptions(const CGlobalOptions& options) {
    for (const FlagBox& flag : kFlags) boxes_[flag.name]->setChecked(options.*flag.flag != 0);
    for (const TextField& text : kTexts) fields_[text.name]->setText(ToQt(options.*text.text));
    boxes_["infoServer"]->setChecked(options.remoteInfo.enabled != 0);
}

bool GlobalOptionsDialog::Collect(GlobalOptionsForm& form) {
    for (const TextField& text : kTexts) {
        QString bad;
        const std::optional<std::string> bytes = FromQt(fields_[text.name]->text(), &bad);
        if (!bytes) {
            presenter_.Message(this, QStringLiteral("The character \"%1\" cannot be stored in the global options. "
                                                    "Please use another.")
                                         .arg(bad));
            fields_[text.name]->setFocus();
            return false;
        }
        form.options.*text.text = *bytes;
    }
    for (const FlagBox& flag : kFlags) form.options.*flag.flag = boxes_[flag.name]->isChecked() ? 1 : 0;
    form.options.remoteInfo.enabled = boxes_["infoServer"]->isChecked() ? 1 : 0;
    form.versionCheckTicked = boxes_["versionCheck"]->isChecked();
    for (const NumberField& number : kNumbers) {
        bool ok = false;
        const qlonglong value = fields_[number.name]->text().toLongLong(&ok);
        *FormNumber(form, number.field) = ok ? value : -1;  // empty: out of every range
    }
    form.maxPlayersAll = playersAll_->value();
    for (size_t i = 0; i < address_.size(); ++i) form.addressFields[i] = address_[i]->text().toUInt();
    form.region = static_cast<uint32_t>(std::max(0, region_->currentIndex()));
    return true;
}

void GlobalOptionsDialog::RunEditor(const OptionsEditor& edit) {
    if (!edit) return;
    GlobalOptionsForm form = form_;
    if (!Collect(form)) return;
    CGlobalOptions copy = form.options;
    if (!edit(copy)) return;  // a cancelled sub-dialog leaves nothing behind
    copy.versionCheck = form_.options.versionCheck;  // the update check's rule compares with the opening value
    form_.options = copy;
    ShowOptions(form_.options);
}

void GlobalOptionsDialog::SelectGameFolder() {
    const GameFilePicker pick = [this](const std::string& preset, const std::string& filter, std::string& chosen) {
        QString file = ToQt(preset);
        if (!presenter_.PickFile(this, QStringLiteral("Select the Kelvane 3 folder"), QtFileFilter(filter), file))
            return false;
        QString bad;
        const std::optional<std::string> bytes = FromQt(file, &bad);
        if (!bytes) {
            presenter_.Message(this, QStringLiteral("The path %1 contains the character \"%2\", which the game's files "
                                                    "cannot hold. Please choose a file whose path has none.")
                                         .arg(file, bad));
            return false;
        }
        chosen = *bytes;
        return true;
    };
    manager_.installation.SelectGameFolder(true, pick,
                                           [this](const std::string& text) { presenter_.Message(this, ToQt(text)); });
}

void GlobalOptionsDialog::FocusField(GlobalOptionsField field) {
    if (field == GlobalOptionsField::MaxPlayersAll) playersAll_->setFocus();
    if (field == GlobalOptionsField::DefaultMotd) fields_["motd"]->setFocus();
    for (const NumberField& number : kNumbers) {
        if (number.field != field) continue;
        fields_[number.name]->setFocus();
        fields_[number.name]->selectAll();
    }
}

void GlobalOptionsDialog::accept() {
    GlobalOptionsForm form = form_;
    if (!Collect(form)) return;
    const FieldCheck check = manager_.CloseGlobalOptions(form, true);
    if (!check.ok()) {
        presenter_.Message(this, ToQt(check.message));
        FocusField(check.field);
        return;
    }
    ended_ = true;
    QDialog::accept();
}

void GlobalOptionsDialog::reject() {
    if (!ended_) manager_.CloseGlobalOptions(form_, false);
    ended_ = true;
    QDialog::reject();
}

QLineEdit* GlobalOptionsDialog::field(const char* name) const {
    const auto found = fields_.find(name);
    return found == fields_.end() ? nullptr : found->second;
}
QCheckBox* GlobalOptionsDialog::box(const char* name) const {
    const auto found = boxes_.find(name);
    return found == boxes_.end() ? nullptr : found->second;
}
QPushButton* GlobalOptionsDialog::button(const char* name) const {
    const auto found = buttons_.find(name);
    return found == buttons_.end() ? nullptr : found->second;
}

}  // namespace hm
