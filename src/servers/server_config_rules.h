// The rules of the server configuration dialog without any screen: the checks made on OK, in the
// order of the dialog's fields, and the fixed lists the dialog offers with the values they store.
//
// Pure functions and constant data, used on the user-interface thread by the Qt dialog, by the text
// import of configurations and by the tests. They never touch a stored configuration: the dialog and
// the import work on a copy inside the form and the caller takes it back only when the check is ok.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "servers/global_options_rules.h"
#include "servers/server_config.h"

namespace hm {

// The fields whose values the dialog checks, in the order it checks them.
enum class ServerConfigField {
    None,
    Name,
    TimeLimit,
    KillGoal,
    TauntDelay,
    MinRespawn,
    MaxRespawn,
    ServerPort,
    PacketsPerSecond,
    FramesPerSecond,
    Motd,
};

struct ServerConfigCheck {
    ServerConfigField field = ServerConfigField::None;  // None: every value is acceptable
    std::string message;                                // the text for the operator
    bool ok() const { return field == ServerConfigField::None; }
};

inline constexpr const char* kServerNameMissingText = "Please enter a server name.";
// The message of a message of the day longer than kMaxMotdLength (the global options' limit).
std::string MotdTooLongMessage();

// What the dialog's controls hold while it is open. The number fields are kept as entered (they may be
// out of range); every other control edits `config`, the dialog's copy of the record, directly (the name
// is config.game.gameName, the message of the day config.game.motd).
struct ServerConfigForm {
    CServerConfig config;
    int64_t timeLimit = 0;         // config.game.timeLimit
    int64_t killGoal = 0;          // config.game.killGoal
    int64_t tauntDelay = 0;        // config.game.audioTauntDelay
    int64_t minRespawn = 0;        // config.game.minRespawnTime
    int64_t maxRespawn = 0;        // config.game.maxRespawnTime
    int64_t serverPort = 0;        // config.launch.serverPort
    int64_t packetsPerSecond = 0;  // config.game.packetsPerSecond
    int64_t framesPerSecond = 0;   // config.launch.framesPerSecond
};

// Fills the controls from the record as the dialog opens.
ServerConfigForm FormFromConfig(const CServerConfig& config);
// The accepted range of a number field; the maximum respawn time's lower end is the minimum respawn
// time as entered. False for fields without a range (the name, the message of the day).
bool ServerConfigFieldRange(const ServerConfigForm& form, ServerConfigField field, int64_t& low, int64_t& high);
// The first field (in dialog order) whose value is not acceptable, with its message.
ServerConfigCheck CheckForm(const ServerConfigForm& form);
// OK: checks the form; when every value is acceptable, the numbers are written into form.config.
// On a failed check form.config is left as it was.
ServerConfigCheck ApplyForm(ServerConfigForm& form);

// One entry of a fixed selection list: the text shown and the value stored in the record's field.
struct ListChoice {
    std::string text;
    int64_t value;
    bool operator==(const ListChoice&) const = default;
};

// "Max. players": 2 to 32 players shown; the record stores one more, since the game counts the
// server's own slot (CGameSettings::maxPlayers).
inline constexpr uint32_t kMinShownMaxPlayers = 2;
inline constexpr uint32_t kMaxShownMaxPlayers = 32;
inline uint32_t MaxPlayersShown(uint32_t stored) { return stored > 0 ? stored - 1 : 0; }
inline uint32_t MaxPlayersStored(uint32_t shown) { return shown + 1; }
const std::vector<ListChoice>& MaxPlayersChoices();
// "Number of teams": "None", 2, 3, 4 (CGameSettings::numTeams; "None" stores 0, which writes no team
// lines into the game's file).
const std::vector<ListChoice>& TeamCountChoices();
// "Difficulty": "Very easy" to "Very hard", 0 to 4 (CGameSettings::difficulty).
const std::vector<ListChoice>& DifficultyChoices();
// "Connection model": "Client/server", "Permissible", "Peer to peer" (CGameSettings::peerMode).
const std::vector<ListChoice>& ConnectionModelChoices();
// The index of the entry that stores value; -1 when the record holds a value the list does not offer
// (a record imported from the game's own files may), so the dialog can show no selection for it.
int ChoiceIndex(const std::vector<ListChoice>& choices, int64_t value);

}  // namespace hm
