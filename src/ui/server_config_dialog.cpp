#include "ui/server_config_dialog.h"

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
#include <QVBoxLayout>

#include "game/game_installation.h"
#include "launch/mission_description.h"
#include "platform/files.h"
#include "servers/game_config_files.h"
#include "servers/server_config_rules.h"
#include "ui/console_dialog.h"
#include "ui/dialog_buttons.h"
#include "ui/powerups_dialog.h"
#include "ui/presenter.h"
#include "ui/scheduler_dialog.h"
#include "ui/ships_dialog.h"
#include "ui/team_options_dialog.h"
#include "ui/text_codec.h"
#include "ui/trackers_dialog.h"

namespace hm {

namespace {

constexpr int kConfigHelpPage = 2;

// The number fields, the record field each edits (through the rules' form), and the control's label.
struct NumberField {
    const char* name;
    const char* label;
    ServerConfigField field;
};
constexpr NumberField kNumbers[] = {
    {"timeLimit", "Time limit (min.)", ServerConfigField::TimeLimit},
    {"killGoal", "Kill goal (kills)", ServerConfigField::KillGoal},
    {"tauntDelay", "Taunt delay (s)", ServerConfigField::TauntDelay},
    {"minRespawn", "Min. respawn (s)", ServerConfigField::MinRespawn},
    {"maxRespawn", "Max. respawn (s)", ServerConfigField::MaxRespawn},
    {"serverPort", "Server port (UDP)", ServerConfigField::ServerPort},
    {"packets", "Packets / second", ServerConfigField::PacketsPerSecond},
    {"frames", "Frames / second", ServerConfigField::FramesPerSecond},
};

// The fields of the rules' form that the number fields edit.
int64_t* FormNumber(ServerConfigForm& form, ServerConfigField field) {
    switch (field) {
        case ServerConfigField::TimeLimit: return &form.timeLimit;
        case ServerConfigField::KillGoal: return &form.killGoal;
        case ServerConfigField::TauntDelay: return &form.tauntDelay;
        case ServerConfigField::MinRespawn: return &form.minRespawn;
        case ServerConfigField::MaxRespawn: return &form.maxRespawn;
        case ServerConfigField::ServerPort: return &form.serverPort;
        case ServerConfigField::PacketsPerSecond: return &form.packetsPerSecond;
        case ServerConfigField::FramesPerSecond: return &form.framesPerSecond;
        default: return nullptr;
    }
}

struct BoxField {
    const char* name;
    const char* label;
};

int IndexOfData(QComboBox* list, const QVariant& data) {
    const int at = list->findData(data);
    return at >= 0 ? at : 0;
}

}  // namespace

ServerConfigDialog::ServerConfigDialog(const CServerConfig& config, EditorContext& context, QWidget* parent)
    : QDialog(parent), config_(config), context_(context), loop_(config.game.customDescription != 0) {
    setWindowTitle(QStringLiteral("Haldmoor3 Server Configuration"));
    auto* layout = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    layout->addLayout(columns, 1);

    auto makeField = [&](const char* name, const QString& text, int digits = 0) {
        auto* edit = new QLineEdit(text);
        edit->setObjectName(QString::fromLatin1(name));
        if (digits > 0) {
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(digits)), edit));
            edit->setMaximumWidth(edit->fontMetrics().averageCharWidth() * 12);
        }
        fields_[name] = edit;
        return edit;
    };
    auto makeList = [&](const char* name) {
        auto* list = new QComboBox;
        list->setObjectName(QString::fromLatin1(name));
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        list->setMinimumContentsLength(14);
        lists_[name] = list;
        return list;
    };
    auto makeBox = [&](const char* name, const char* label, uint32_t value) {
        auto* box = new QCheckBox(QString::fromLatin1(label));
        box->setObjectName(QString::fromLatin1(name));
        box->setChecked(value != 0);
        boxes_[name] = box;
        return box;
    };

    ServerConfigForm form = FormFromConfig(config_);
    const CGameSettings& game = config_.game;

    // The server: name, executable, ports, network.
    auto* serverBox = new QGroupBox(QStringLiteral("Server"));
    auto* serverForm = new QFormLayout(serverBox);
    serverForm->addRow(QStringLiteral("Server name (req.)"), makeField("name", ToQt(game.gameName)));
    fields_["name"]->setMaxLength(63);
    serverForm->addRow(QStringLiteral("Msg. of the day"), makeField("motd", ToQt(game.motd)));
    QComboBox* executables = makeList("executable");
    if (context_.installation) {
        for (const CGameFile& file : context_.installation->Executables())
            executables->addItem(ToQt(file.title.empty() ? file.fileName : file.title), ToQt(file.fileName));
    }
    if (executables->findData(ToQt(config_.launch.executable)) < 0 && !config_.launch.executable.empty())
        executables->addItem(ToQt(config_.launch.executable), ToQt(config_.launch.executable));
    executables->setCurrentIndex(IndexOfData(executables, ToQt(config_.launch.executable)));
    serverForm->addRow(QStringLiteral("Executable"), executables);
    QLineEdit* numbers[std::size(kNumbers)] = {};
    for (size_t i = 0; i < std::size(kNumbers); ++i) {
        const int64_t* value = FormNumber(form, kNumbers[i].field);
        numbers[i] = makeField(kNumbers[i].name, QString::number(value ? *value : 0), 7);
    }
    serverForm->addRow(QStringLiteral("Server port (UDP)"), fields_["serverPort"]);
    serverForm->addRow(QStringLiteral("Packets / second"), fields_["packets"]);
    serverForm->addRow(QStringLiteral("Frames / second"), fields_["frames"]);
    QComboBox* connections = makeList("connection");
    if (context_.installation) {
        for (const CGameFile& file : context_.installation->Connections()) connections->addItem(ToQt(file.title));
    }
    if (connections->findText(ToQt(game.connectionName)) < 0 && !game.connectionName.empty())
        connections->addItem(ToQt(game.connectionName));
    connections->setCurrentIndex(std::max(0, connections->findText(ToQt(game.connectionName))));
    serverForm->addRow(QStringLiteral("Connection type"), connections);
    QComboBox* model = makeList("connectionModel");
    for (const ListChoice& choice : ConnectionModelChoices()) model->addItem(ToQt(choice.text), static_cast<qlonglong>(choice.value));
    model->setCurrentIndex(IndexOfData(model, game.peerMode));
    serverForm->addRow(QStringLiteral("Connection model"), model);
    auto* admin = new QHBoxLayout;
    admin->addWidget(makeBox("adminAccess", "Admin access", game.remoteAdmin));
    admin->addWidget(new QLabel(QStringLiteral("Password")));
    admin->addWidget(makeField("adminPassword", ToQt(game.remoteAdminPassword)), 1);
    fields_["adminPassword"]->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    serverForm->addRow(admin);
    for (const auto& [name, label, value] :
         {std::tuple{"remoteConsole", "Allow remote console", game.allowRemoteConsole},
          std::tuple{"gameTracker", "Allow game tracker", config_.trackers.enabled},
          std::tuple{"scheduler", "Use scheduler", config_.schedule.enabled},
          std::tuple{"selective", "This is a selective server", game.selective},
          std::tuple{"autoLaunch", "Enable this server for auto launch at startup", game.autoLaunchAllowed}}) {
        serverForm->addRow(makeBox(name, label, value));
    }
    columns->addWidget(serverBox, 1);

    // The game: mission, level, rules of play.
    auto* right = new QVBoxLayout;
    auto* gameBox = new QGroupBox(QStringLiteral("Game"));
    auto* gameGrid = new QGridLayout(gameBox);
    int row = 0;
    auto addPair = [&](const QString& label, QWidget* control, int column) {
        auto* caption = new QLabel(label);
        caption->setBuddy(control);
        gameGrid->addWidget(caption, row, column * 2);
        gameGrid->addWidget(control, row, column * 2 + 1);
    };
    QComboBox* missions = makeList("mission");
    addPair(QStringLiteral("Mission"), missions, 0);
    auto* loop = new QPushButton;
    loop->setObjectName(QStringLiteral("loop"));
    loop->setCheckable(true);
    loop->setToolTip(QStringLiteral("Loop: on makes every level of a multi-level mission repeat itself."));
    buttons_["loop"] = loop;
    gameGrid->addWidget(loop, row++, 2, 1, 2);
    QComboBox* levels = makeList("level");
    addPair(QStringLiteral("Level"), levels, 0);
    QComboBox* scripts = makeList("gameType");
    if (context_.installation) {
        for (const CGameFile& file : context_.installation->Scripts()) scripts->addItem(ToQt(file.title));
    }
    if (scripts->findText(ToQt(game.scriptName)) < 0 && !game.scriptName.empty()) scripts->addItem(ToQt(game.scriptName));
    scripts->setCurrentIndex(std::max(0, scripts->findText(ToQt(game.scriptName))));
    addPair(QStringLiteral("Game type"), scripts, 1);
    ++row;
    QComboBox* players = makeList("maxPlayers");
    for (uint32_t shown = kMinShownMaxPlayers; shown <= kMaxShownMaxPlayers; ++shown)
        players->addItem(QString::number(shown), MaxPlayersStored(shown));
    players->setCurrentIndex(IndexOfData(players, game.maxPlayers));
    addPair(QStringLiteral("Max. players"), players, 0);
    QComboBox* teams = makeList("teams");
    for (const ListChoice& choice : TeamCountChoices()) teams->addItem(ToQt(choice.text), static_cast<qlonglong>(choice.value));
    teams->setCurrentIndex(IndexOfData(teams, game.numTeams));
    addPair(QStringLiteral("Teams"), teams, 1);
    ++row;
    QComboBox* difficulty = makeList("difficulty");
    for (const ListChoice& choice : DifficultyChoices()) difficulty->addItem(ToQt(choice.text), static_cast<qlonglong>(choice.value));
    difficulty->setCurrentIndex(IndexOfData(difficulty, game.difficulty));
    addPair(QStringLiteral("Difficulty"), difficulty, 0);
    addPair(QStringLiteral("Time limit (min.)"), fields_["timeLimit"], 1);
    ++row;
    addPair(QStringLiteral("Kill goal (kills)"), fields_["killGoal"], 1);
    ++row;
    gameGrid->setColumnStretch(1, 1);
    gameGrid->setColumnStretch(3, 1);
    right->addWidget(gameBox);

    auto* playBox = new QGroupBox(QStringLiteral("Options"));
    auto* playGrid = new QGridLayout(playBox);
    int playRow = 0;
    playGrid->addWidget(makeBox("audioTaunts", "Audio taunts", game.allowAudioTaunts), playRow, 0);
    playGrid->addWidget(new QLabel(QStringLiteral("Taunt delay (s)")), playRow, 1);
    playGrid->addWidget(fields_["tauntDelay"], playRow++, 2);
    playGrid->addWidget(makeBox("randomRespawn", "Rand. respawn", game.randomizeRespawn), playRow, 0);
    playGrid->addWidget(new QLabel(QStringLiteral("Min. respawn (s)")), playRow, 1);
    playGrid->addWidget(fields_["minRespawn"], playRow++, 2);
    playGrid->addWidget(makeBox("brightShips", "Bright player ships", game.brightPlayers), playRow, 0);
    playGrid->addWidget(new QLabel(QStringLiteral("Max. respawn (s)")), playRow, 1);
    playGrid->addWidget(fields_["maxRespawn"], playRow++, 2);
    const BoxField moreBoxes[] = {
        {"disableLogos", "Disable logos"},
        {"allowMouselook", "Allow mouselook"},
        {"statsDisconnect", "Save game stats at server disconnect"},
        {"statsLevelEnd", "Save game stats at level end"},
        {"accurateCollision", "Accurate collision (use on LAN only)"},
        {"rotationalVelocity", "Send rotational velocity (use on LAN only)"},
    };
    const uint32_t moreValues[] = {config_.launch.disableShipLogos, game.allowMouselook, config_.autoexec.autoSaveDisconnect,
                                   config_.autoexec.autoSaveLevel,  game.accurateCollisions, game.sendRotVel};
    for (size_t i = 0; i < std::size(moreBoxes); ++i)
        playGrid->addWidget(makeBox(moreBoxes[i].name, moreBoxes[i].label, moreValues[i]), playRow + static_cast<int>(i) / 2,
                            static_cast<int>(i) % 2 == 0 ? 0 : 1, 1, static_cast<int>(i) % 2 == 0 ? 1 : 2);
    playRow += 3;
    QComboBox* hud = makeList("hudNames");
    QComboBox* kills = makeList("killMessages");
    for (const char* text : {"Full", "Team", "None"}) hud->addItem(QString::fromLatin1(text));
    for (const char* text : {"Full", "Simple", "None"}) kills->addItem(QString::fromLatin1(text));
    hud->setCurrentIndex(std::max(0, hud->findText(ToQt(config_.autoexec.serverHudNames), Qt::MatchFixedString)));
    kills->setCurrentIndex(std::max(0, kills->findText(ToQt(config_.autoexec.killMsgFilter), Qt::MatchFixedString)));
    playGrid->addWidget(new QLabel(QStringLiteral("Server HUD names")), playRow, 0);
    playGrid->addWidget(hud, playRow++, 1, 1, 2);
    playGrid->addWidget(new QLabel(QStringLiteral("Kill message filter")), playRow, 0);
    playGrid->addWidget(kills, playRow++, 1, 1, 2);
    right->addWidget(playBox);
    right->addStretch(1);
    columns->addLayout(right, 1);

    // The editors of the blocks.
    auto* editors = new QHBoxLayout;
    auto editor = [&](const char* name, const char* text, void (ServerConfigDialog::*open)()) {
        auto* b = new QPushButton(QString::fromLatin1(text));
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, open] { (this->*open)(); });
        buttons_[name] = b;
        editors->addWidget(b);
    };
    editor("teamOptions", "Team options...", &ServerConfigDialog::RunEditor<TeamOptionsDialog>);
    editor("ships", "Ships...", &ServerConfigDialog::RunEditor<ShipsDialog>);
    editor("powerups", "Powerups...", &ServerConfigDialog::RunEditor<PowerupsDialog>);
    editor("console", "Console and logging...", &ServerConfigDialog::RunEditor<ConsoleDialog>);
    editor("trackers", "Tracker options...", &ServerConfigDialog::RunEditor<TrackersDialog>);
    editor("schedule", "Schedule options...", &ServerConfigDialog::RunEditor<SchedulerDialog>);
    editors->addStretch(1);
    layout->addLayout(editors);

    auto* box = MakeDialogButtons(this, context_.presenter, kConfigHelpPage);
    connect(box, &QDialogButtonBox::accepted, this, &ServerConfigDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);

    // Lists that depend on each other, and enable rules.
    FillMissions();
    connect(missions, &QComboBox::currentIndexChanged, this, [this] {
        FillLevels();
        ShowLoop();
    });
    connect(loop, &QPushButton::toggled, this, [this](bool on) {
        loop_ = on;
        ShowLoop();
    });
    auto follow = [this](const char* boxName, std::initializer_list<const char*> controls) {
        QCheckBox* owner = boxes_[boxName];
        auto apply = [this, owner, controls = std::vector<const char*>(controls)] {
            for (const char* name : controls) fields_[name]->setEnabled(owner->isChecked());
        };
        connect(owner, &QCheckBox::toggled, this, apply);
        apply();
    };
    follow("adminAccess", {"adminPassword"});
    follow("audioTaunts", {"tauntDelay"});
    ShowLoop();
    fields_["name"]->setFocus();
}

void ServerConfigDialog::FillMissions() {
    QComboBox* missions = lists_["mission"];
    const QSignalBlocker quiet(missions);
    missions->clear();
    if (context_.installation) {
        const CMissionList& list = context_.installation->Missions();
        for (size_t i = 0; i < list.size(); ++i)
            missions->addItem(ToQt(list[i].title.empty() ? list[i].fileName : list[i].title), ToQt(list[i].fileName));
    }
    const QString current = ToQt(config_.game.missionFileName);
    int at = -1;
    for (int i = 0; i < missions->count(); ++i)
        if (missions->itemData(i).toString().compare(current, Qt::CaseInsensitive) == 0) at = i;
    if (at < 0 && !current.isEmpty()) {
        // A mission the installation does not list stays as it is, so OK never changes it unasked.
        missions->addItem(ToQt(config_.game.missionTitle.empty() ? config_.game.missionFileName : config_.game.missionTitle),
                          current);
        at = missions->count() - 1;
    }
    missions->setCurrentIndex(std::max(0, at));
    FillLevels();
}

void ServerConfigDialog::FillLevels() {
    QComboBox* levels = lists_["level"];
    levels->clear();
    const std::string file = FromQt(lists_["mission"]->currentData().toString()).value_or(std::string());
    const CMissionInfo* mission = context_.installation ? context_.installation->FindMission(file) : nullptr;
    if (mission) {
        for (const CLevelInfo& level : mission->levels) {
            const QString title = ToQt(level.mineTitle);
            levels->addItem(title.isEmpty() ? QString::number(level.levelNumber)
                                             : QStringLiteral("%1 - %2").arg(level.levelNumber).arg(title),
                            level.levelNumber);
        }
        for (int32_t n = static_cast<int32_t>(mission->levels.size()) + 1; n <= mission->numLevels; ++n)
            levels->addItem(QString::number(n), n);
    }
    if (levels->count() == 0) levels->addItem(QString::number(config_.game.startLevel), config_.game.startLevel);
    levels->setCurrentIndex(IndexOfData(levels, config_.game.startLevel));
}

void ServerConfigDialog::ShowLoop() {
    QPushButton* loop = buttons_["loop"];
    const QSignalBlocker quiet(loop);
    loop->setChecked(loop_);
    loop->setText(loop_ ? QStringLiteral("Loop: on") : QStringLiteral("Loop: off"));
    // Only a mission of several levels can loop them.
    loop->setEnabled(lists_["level"]->count() > 1);
}

template <typename Editor>
void ServerConfigDialog::RunEditor() {
    if (!Collect()) return;
    Editor editor(config_, context_, this);
    if (context_.presenter.Exec(editor) != QDialog::Accepted) return;
    editor.Apply(config_);
    // Editors may change what this dialog shows too (the scheduler its box, the trackers theirs).
    boxes_["scheduler"]->setChecked(config_.schedule.enabled != 0);
    boxes_["gameTracker"]->setChecked(config_.trackers.enabled != 0);
}

bool ServerConfigDialog::Collect() {
    for (const char* name : {"name", "motd", "adminPassword"}) {
        QString bad;
        if (!FromQt(fields_[name]->text(), &bad)) {
            context_.presenter.Message(this, QStringLiteral("The character \"%1\" cannot be stored in a server "
                                                            "configuration. Please use another.")
                                                 .arg(bad));
            fields_[name]->setFocus();
            return false;
        }
    }
    CGameSettings& game = config_.game;
    game.gameName = *FromQt(fields_["name"]->text());
    game.motd = *FromQt(fields_["motd"]->text());
    game.remoteAdminPassword = *FromQt(fields_["adminPassword"]->text());
    config_.launch.executable = FromQt(lists_["executable"]->currentData().toString()).value_or(config_.launch.executable);
    game.connectionName = FromQt(lists_["connection"]->currentText()).value_or(game.connectionName);
    game.connectionKind = ConnectionKindFromName(game.connectionName);
    game.peerMode = lists_["connectionModel"]->currentData().toInt();
    game.missionFileName = FromQt(lists_["mission"]->currentData().toString()).value_or(game.missionFileName);
    game.missionTitle = FromQt(lists_["mission"]->currentText()).value_or(game.missionTitle);
    game.startLevel = lists_["level"]->currentData().toUInt();
    game.missionLevelCount = static_cast<uint32_t>(lists_["level"]->count());
    game.scriptName = FromQt(lists_["gameType"]->currentText()).value_or(game.scriptName);
    game.maxPlayers = lists_["maxPlayers"]->currentData().toUInt();
    game.numTeams = lists_["teams"]->currentData().toUInt();
    game.difficulty = lists_["difficulty"]->currentData().toUInt();
    config_.autoexec.serverHudNames = lists_["hudNames"]->currentText().toStdString();
    config_.autoexec.killMsgFilter = lists_["killMessages"]->currentText().toStdString();
    game.remoteAdmin = boxes_["adminAccess"]->isChecked();
    game.allowRemoteConsole = boxes_["remoteConsole"]->isChecked();
    config_.trackers.enabled = boxes_["gameTracker"]->isChecked();
    config_.schedule.enabled = boxes_["scheduler"]->isChecked();
    game.selective = boxes_["selective"]->isChecked();
    game.autoLaunchAllowed = boxes_["autoLaunch"]->isChecked();
    game.allowAudioTaunts = boxes_["audioTaunts"]->isChecked();
    game.randomizeRespawn = boxes_["randomRespawn"]->isChecked();
    game.brightPlayers = boxes_["brightShips"]->isChecked();
    config_.launch.disableShipLogos = boxes_["disableLogos"]->isChecked();
    game.allowMouselook = boxes_["allowMouselook"]->isChecked();
    config_.autoexec.autoSaveDisconnect = boxes_["statsDisconnect"]->isChecked();
    config_.autoexec.autoSaveLevel = boxes_["statsLevelEnd"]->isChecked();
    game.accurateCollisions = boxes_["accurateCollision"]->isChecked();
    game.sendRotVel = boxes_["rotationalVelocity"]->isChecked();
    game.customDescription = loop_ ? 1 : 0;
    return true;
}

void ServerConfigDialog::accept() {
    if (!Collect()) return;
    ServerConfigForm form = FormFromConfig(config_);
    for (const NumberField& number : kNumbers) {
        const QString text = fields_[number.name]->text();
        bool ok = false;
        const qlonglong value = text.toLongLong(&ok);
        *FormNumber(form, number.field) = ok ? value : -1;  // empty: out of every range
    }
    const ServerConfigCheck check = ApplyForm(form);
    if (!check.ok()) {
        context_.presenter.Message(this, ToQt(check.message));
        for (const NumberField& number : kNumbers)
            if (number.field == check.field) fields_[number.name]->setFocus();
        if (check.field == ServerConfigField::Name) fields_["name"]->setFocus();
        if (check.field == ServerConfigField::Motd) fields_["motd"]->setFocus();
        return;
    }
    config_ = form.config;
    // The looping description is written for the chosen mission as it is installed now.
    if (config_.game.customDescription && context_.installation) {
        if (const CMissionInfo* mission = context_.installation->FindMission(config_.game.missionFileName))
            config_.customDescriptionText = BuildMissionDescription(*mission);
    }
    QDialog::accept();
}

QLineEdit* ServerConfigDialog::field(const char* name) const {
    auto found = fields_.find(name);
    return found == fields_.end() ? nullptr : found->second;
}
QComboBox* ServerConfigDialog::list(const char* name) const {
    auto found = lists_.find(name);
    return found == lists_.end() ? nullptr : found->second;
}
QCheckBox* ServerConfigDialog::box(const char* name) const {
    auto found = boxes_.find(name);
    return found == boxes_.end() ? nullptr : found->second;
}
QPushButton* ServerConfigDialog::button(const char* name) const {
    auto found = buttons_.find(name);
    return found == buttons_.end() ? nullptr : found->second;
}

}  // namespace hm
