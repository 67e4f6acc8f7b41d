#include "ui/console_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

#include "servers/console_rules.h"
#include "servers/server_config.h"
#include "ui/dialog_buttons.h"
#include "ui/editor_context.h"
#include "ui/help.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

constexpr int kHelpPage = 4;

QCheckBox* Box(const char* name, const char* text, bool checked, const char* tip) {
    auto* box = new QCheckBox(QString::fromLatin1(text));
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(checked);
    box->setToolTip(QString::fromLatin1(tip));
    return box;
}

QString CannotHold(const QString& what, const QString& bad) {
    return QStringLiteral("The %1 contains the character \"%2\", which the game's files cannot hold. "
                          "Please enter it without.")
        .arg(what, bad);
}

}  // namespace

ConsoleDialog::ConsoleDialog(const CServerConfig& config, EditorContext& context, QWidget* parent)
    : QDialog(parent), context_(context) {
    const ConsoleForm form = ConsoleFormFrom(config, context.jotwellPresent);
    password_ = form.password;
    autoCommands_ = form.autoCommands;
    setWindowTitle(QStringLiteral("Haldmoor3 Console and Logging Options"));

    // The remote console.
    passwordField_ = new QLineEdit(ToQt(form.password));
    passwordField_->setObjectName(QStringLiteral("password"));
    passwordField_->setToolTip(QStringLiteral("Password for the remote console."));
    port_ = new QLineEdit(QString::number(form.port));
    port_->setObjectName(QStringLiteral("port"));
    port_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), port_));
    port_->setMaximumWidth(port_->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 8 + 16);
    port_->setToolTip(QStringLiteral("The TCP port for the server remote console."));
    auto* consoleGroup = new QGroupBox(QStringLiteral("Remote console"));
    auto* consoleForm = new QFormLayout(consoleGroup);
    consoleForm->addRow(QStringLiteral("Pass&word:"), passwordField_);
    consoleForm->addRow(QStringLiteral("&Port (TCP):"), port_);

    // The console log.
    logPlayerAddresses_ = Box("logPlayerAddresses", "Log player &names and their IP addresses", form.logPlayerAddresses,
                              "Log player names and their IP addresses.\nThis could cause server crashes on servers\n"
                              "with more than 10 players.");
    logConsole_ = Box("logConsole", "&Log the console output", form.logConsole,
                      "Log the output of the server remote console to a file.\nLog files are stored in the \"log\" "
                      "subfolder.");
    logTimestamps_ = Box("logTimestamps", "&Timestamps", form.logTimestamps,
                         "Store timestamps in the log output.\nThe setting has no effect when Jotwell is used.\n"
                         "The DLL jotwell.dll always stores date and timestamps independent of this setting.");
    logAllOutput_ = Box("logAllOutput", "Store all o&utput", form.logAllOutput,
                        "Store all remote console output in the log file.");
    useJotwell_ = Box("useJotwell", "Use &jotwell (rotation and compression)", form.useJotwell,
                      "Use the DLL jotwell.dll for event logging.\nProvides log compression and rotation.");
    if (!JotwellSwitchEnabled(context.jotwellPresent)) {
        useJotwell_->setChecked(false);
        useJotwell_->setEnabled(false);
        useJotwell_->setToolTip(useJotwell_->toolTip() +
                                QStringLiteral("\n\nNot available: jotwell was not found when Haldmoor3 started."));
    }
    auto* logGroup = new QGroupBox(QStringLiteral("Logging"));
    auto* logLayout = new QVBoxLayout(logGroup);
    for (QCheckBox* box : {logPlayerAddresses_, logConsole_, logTimestamps_, logAllOutput_, useJotwell_})
        logLayout->addWidget(box);
    logLayout->addStretch(1);

    auto* left = new QVBoxLayout;
    left->addWidget(consoleGroup);
    left->addWidget(logGroup, 1);

    // The automatic commands.
    command_ = new QLineEdit;
    command_->setObjectName(QStringLiteral("command"));
    command_->setMaxLength(static_cast<int>(kMaxAutoCommandLength));
    command_->setPlaceholderText(QStringLiteral("e.g. say Welcome to the server!"));
    command_->setToolTip(QStringLiteral("Enter a command for the remote console.\nThe command is executed when the "
                                        "server starts up.\n\nPress the button \"Online Help\" for a list with\n"
                                        "available commands and examples.\n"));
    add_ = new QPushButton(QStringLiteral("&Add"));
    add_->setObjectName(QStringLiteral("add"));
    add_->setToolTip(QStringLiteral("Add the new command to the auto commands list."));
    commands_ = new QListWidget;
    commands_->setObjectName(QStringLiteral("commands"));
    commands_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    commands_->setToolTip(QStringLiteral("List with the remote console auto commands."));
    commands_->setMinimumHeight(commands_->fontMetrics().height() * 6);
    for (const std::string& command : autoCommands_) commands_->addItem(ToQt(command));
    remove_ = new QPushButton(QStringLiteral("&Remove"));
    remove_->setObjectName(QStringLiteral("remove"));
    remove_->setToolTip(QStringLiteral("Remove the selected command(s) from the list."));
    onlyOne_ = Box("onlyOne", "Execute &only one", form.autoOnlyOne,
                   "Don't execute all auto commands when the server\nis started or after the amount of minutes has\n"
                   "been exceeded.\n\nOnly execute one command at a time.");
    random_ = Box("random", "Pick one of the commands ran&domly", form.autoRandom,
                  "Pick one of the commands randomly and execute it.\n\nThe function has no effect if only one auto "
                  "command\nexists.");
    repeat_ = Box("repeat", "Execute the auto commands r&epeatedly every", form.autoRepeat,
                  "Execute the auto commands repeatedly.\n\nIf \"Execute only one\" is on, only one command\nis "
                  "executed at a time.");
    minutes_ = new QSpinBox;
    minutes_->setObjectName(QStringLiteral("minutes"));
    // Four digits, as typed; OK checks the range, so a wrong value is said instead of silently changed.
    minutes_->setRange(0, 9999);
    minutes_->setValue(static_cast<int>(std::clamp<int64_t>(form.repeatMinutes, 0, 9999)));
    minutes_->setSuffix(QStringLiteral(" min."));
    minutes_->setToolTip(QStringLiteral("Time in minutes to repeat the auto commands.\n\nIncrement or decrement the "
                                        "time in minutes\nto repeat the auto commands."));

    auto* commandGroup = new QGroupBox(QStringLiteral("Auto commands"));
    auto* grid = new QGridLayout(commandGroup);
    grid->addWidget(command_, 0, 0);
    grid->addWidget(add_, 0, 1);
    grid->addWidget(commands_, 1, 0);
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(remove_);
    listButtons->addStretch(1);
    grid->addLayout(listButtons, 1, 1);
    grid->setRowStretch(1, 1);
    auto* sending = new QVBoxLayout;
    sending->addWidget(onlyOne_);
    auto* randomRow = new QHBoxLayout;
    // Indented: it only means something under "Execute only one".
    randomRow->addSpacing(onlyOne_->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 6);
    randomRow->addWidget(random_);
    randomRow->addStretch(1);
    sending->addLayout(randomRow);
    auto* repeatRow = new QHBoxLayout;
    repeatRow->addWidget(repeat_);
    repeatRow->addWidget(minutes_);
    repeatRow->addStretch(1);
    sending->addLayout(repeatRow);
    grid->addLayout(sending, 2, 0, 1, 2);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addWidget(commandGroup, 1);

    auto* buttons = MakeDialogButtons(this, context_.presenter, kHelpPage);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(buttons);

    add_->setAutoDefault(false);
    remove_->setAutoDefault(false);
    EnterClicks(command_, add_);
    connect(command_, &QLineEdit::textChanged, this, [this] { EnableControls(); });
    connect(commands_, &QListWidget::itemSelectionChanged, this, [this] { EnableControls(); });
    connect(onlyOne_, &QCheckBox::toggled, this, [this] { EnableControls(); });
    connect(repeat_, &QCheckBox::toggled, this, [this] { EnableControls(); });
    connect(add_, &QPushButton::clicked, this, [this] { AddCommand(); });
    connect(remove_, &QPushButton::clicked, this, [this] { RemoveSelected(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { CheckAndAccept(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // Down the left column, then down the right one.
    QWidget* order[] = {passwordField_, port_, logPlayerAddresses_, logConsole_, logTimestamps_, logAllOutput_,
                        useJotwell_,    command_, add_, commands_, remove_, onlyOne_, random_, repeat_, minutes_,
                        buttons};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    EnableControls();
    passwordField_->setFocus();
}

ConsoleForm ConsoleDialog::Form() const {
    ConsoleForm form;
    form.password = password_;
    form.port = port_->text().isEmpty() ? -1 : port_->text().toLongLong();
    form.logPlayerAddresses = logPlayerAddresses_->isChecked();
    form.logConsole = logConsole_->isChecked();
    form.logTimestamps = logTimestamps_->isChecked();
    form.logAllOutput = logAllOutput_->isChecked();
    form.useJotwell = useJotwell_->isChecked();
    form.autoCommands = autoCommands_;
    form.autoOnlyOne = onlyOne_->isChecked();
    form.autoRandom = random_->isChecked();
    form.autoRepeat = repeat_->isChecked();
    form.repeatMinutes = minutes_->value();
    return form;
}

void ConsoleDialog::EnableControls() {
    const ConsoleForm form = Form();
    random_->setEnabled(RandomPickEnabled(form));
    minutes_->setEnabled(RepeatMinutesEnabled(form));
    add_->setEnabled(!command_->text().isEmpty());
    remove_->setEnabled(!commands_->selectedItems().isEmpty());
}

void ConsoleDialog::AddCommand() {
    QString bad;
    const std::optional<std::string> command = FromQt(command_->text(), &bad);
    std::string message = command ? CheckAutoCommand(*command) : std::string();
    if (!command || !message.empty()) {
        context_.presenter.Message(this, command ? ToQt(message) : CannotHold(QStringLiteral("command"), bad));
        command_->setFocus();
        return;
    }
    autoCommands_.push_back(*command);
    commands_->addItem(command_->text());
    commands_->scrollToBottom();
    command_->clear();
    command_->setFocus();
}

void ConsoleDialog::RemoveSelected() {
    for (int row = commands_->count() - 1; row >= 0; --row) {
        if (commands_->item(row)->isSelected()) {
            delete commands_->takeItem(row);
            autoCommands_.erase(autoCommands_.begin() + row);
        }
    }
    EnableControls();
}

void ConsoleDialog::CheckAndAccept() {
    QString bad;
    const std::optional<std::string> password = FromQt(passwordField_->text(), &bad);
    if (!password) {
        context_.presenter.Message(this, CannotHold(QStringLiteral("password"), bad));
        passwordField_->setFocus();
        return;
    }
    password_ = *password;
    const ConsoleCheck check = CheckConsoleForm(Form());
    if (!check.ok()) {
        context_.presenter.Message(this, ToQt(check.message));
        if (check.field == ConsoleField::Port) {
            port_->setFocus();
            port_->selectAll();
        } else {
            minutes_->setFocus();
            minutes_->selectAll();
        }
        return;
    }
    accept();
}

void ConsoleDialog::Apply(CServerConfig& config) const {
    ApplyConsoleForm(Form(), context_.jotwellPresent, config);
}

}  // namespace hm
