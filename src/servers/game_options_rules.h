// The rules of the three game option editors of a server configuration, without any screen: moves
// between an allowed and a disallowed list (ships, and each powerup category), the ship rule kept on
// OK, and the checks and enable rules of the team options.
//
// Pure functions used by the Qt dialogs (and the tests) on the user-interface thread. They work on the
// dialog's copy, never on a live record. A move never drops a name and never leaves one in both lists.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "servers/game_settings.h"

namespace hm {

class CServerConfig;

// ---- Allowed and disallowed lists ----

// Moves the names at `rows` of `from` to the end of `to`, in the order they stand in `from` (whatever
// the order of `rows`). Every entry of `from` equal to a moved name, ignoring case, goes with it, and a
// name that `to` already holds is not added a second time, so afterwards each moved name stands once,
// in `to` only. Rows out of range are ignored. Returns the rows of `to` that hold the moved names.
std::vector<size_t> MoveItems(std::vector<std::string>& from, std::vector<std::string>& to,
                              const std::vector<size_t>& rows);
// Moves every name of `from`, as above.
std::vector<size_t> MoveAllItems(std::vector<std::string>& from, std::vector<std::string>& to);

// ---- Ships ----

// The ship every server must keep allowed.
inline constexpr char kLeadShip[] = "Ember-GL";
// The note of the ship dialog, and its message when the lists break it.
inline constexpr char kShipNote[] =
    "Note: At least one ship must be allowed. Do NOT disallow the Ember-GL. See the online help for more "
    "information.";

// True when at least one ship is allowed and the lead ship is not disallowed (in any case).
bool ShipListsAcceptable(const CShipOptions& ships);

// ---- Team options ----

inline constexpr uint32_t kMinPlayerCount = 1;
inline constexpr uint32_t kMaxPlayerCount = 12;

// What the team options dialog edits. Numbers are kept as entered so that a check can refuse them.
struct TeamOptionsForm {
    uint32_t numTeams = 0;  // shown only: chosen in the server configuration
    bool teamDamage = false;
    bool allowTeamChange = false;
    bool autoBalance = false;
    int64_t minCount = 0;
    int64_t maxCount = 0;
    std::array<std::string, CAutoexecSettings::kTeamCount> teamNames;
};

enum class TeamOptionsField { None, MinCount, MaxCount };

struct TeamOptionsCheck {
    TeamOptionsField field = TeamOptionsField::None;  // None: every value is acceptable
    std::string message;
    bool ok() const { return field == TeamOptionsField::None; }
};

TeamOptionsForm TeamOptionsFromConfig(const CServerConfig& config);
// The minimum must be 1 to 12, the maximum from the minimum to 12; the first failure, with its message.
TeamOptionsCheck CheckTeamOptions(const TeamOptionsForm& form);
// Writes the team fields of a checked form into the record: team damage, team change, auto balance,
// the two counts and the team names, each on one line (control characters become blanks) and without
// surrounding white space, which the autoexec file could not give back. Server HUD names, kill message filter and the saving switches stay as they are.
void WriteTeamOptions(const TeamOptionsForm& form, CServerConfig& config);

// Team change, auto balance and team damage mean something only in a game with teams.
inline bool TeamSettingsEnabled(uint32_t numTeams) { return numTeams != 0; }
// A name field is open for the teams the game has; the others keep their text for a later choice.
inline bool TeamNameEnabled(uint32_t numTeams, size_t index) { return index < numTeams; }

}  // namespace hm
