// The importers of the game's three files (declared in game_config_files.h).
#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "servers/game_config_files.h"
#include "servers/game_config_text.h"

namespace hm {

namespace {

// The game's own readers use a 1024-byte line buffer; longer lines arrive in pieces.
constexpr size_t kLineBuffer = 1024;

bool Is(std::string_view key, const char* name) { return fs::EqualsIgnoreCase(std::string(key), name); }

// A port field of the main file: the low 16 bits of the number, never a privileged port.
uint16_t PortValue(const std::string& value) {
    const uint16_t port = static_cast<uint16_t>(ParseUnsigned(value));
    return port < 1024 ? 1024 : port;
}

// One key=value line of the main file; false for comments and lines without '='.
bool SplitConfigLine(const std::string& line, std::string& key, std::string& value) {
    const std::string_view text = TrimLeft(line);
    if (text.empty() || text.front() == ';') return false;
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) return false;
    key = std::string(TrimRight(text.substr(0, equals)));
    value = std::string(Trim(text.substr(equals + 1)));
    return true;
}

bool IsConfigHeader(const std::string& firstLine) {
    return fs::EqualsIgnoreCase(std::string(TrimRight(firstLine)), kServerConfigHeader);
}

void Tell(const InformationBox& inform, const std::string& text) {
    if (inform) inform(text);
}

// Moves the first allowed name equal to value (any case) to the disallowed list, written as value.
bool DisallowPowerup(CGameSettings& settings, const std::string& value) {
    for (PowerupCategory& category : settings.powerups) {
        auto it = std::find_if(category.allowed.begin(), category.allowed.end(),
                               [&](const std::string& name) { return fs::EqualsIgnoreCase(name, value); });
        if (it != category.allowed.end()) {
            category.allowed.erase(it);
            category.disallowed.push_back(value);
            return true;
        }
    }
    return true;  // already disallowed or not a known object: nothing to do, still understood
}

// The reader shared by the multi settings and autoexec files: "key<TAB>value" or "key value" lines.
// Unsupported commands are gathered and reported once at the end.
template <class Apply>
bool ImportCommandFile(const std::string& path, const InformationBox& inform, Apply apply) {
    if (path.empty()) return true;
    std::vector<std::string> lines;
    if (const fs::ReadResult read = ReadBufferedLines(path, kLineBuffer, kTextFileLimit, lines); !read.ok()) {
        Tell(inform, CannotReadMessage(path, read));
        return false;
    }
    std::string unsupported;
    for (const std::string& line : lines) {
        const std::string_view text = TrimLeft(line);
        size_t cut = text.find('\t');
        if (cut == std::string_view::npos) cut = text.find(' ');
        if (cut == std::string_view::npos) continue;
        const std::string key(TrimRight(text.substr(0, cut)));
        const std::string value(Trim(text.substr(cut + 1)));
        if (!apply(key, value)) unsupported += "\n- " + key;
    }
    if (!unsupported.empty()) {
        Tell(inform, "The following commands in " + path + "\nare not supported:" + unsupported);
    }
    return true;
}

bool OneOf(const std::string& value, std::initializer_list<const char*> choices) {
    for (const char* choice : choices) {
        if (fs::EqualsIgnoreCase(value, choice)) return true;
    }
    return false;
}

// Player counts of the autoexec file: 1 to 12.
uint32_t PlayerCount(const std::string& value) {
    const uint32_t count = ParseUnsigned(value);
    if (count == 0) return 1;
    return count > 12 ? 12 : count;
}

}  // namespace

bool ApplyServerConfigKey(CGameSettings& s, const InstalledNames& installed, const std::string& key,
                          const std::string& value, const InformationBox& inform) {
    if (Is(key, "PPS")) {
        const uint32_t pps = ParseUnsigned(value);
        s.packetsPerSecond = std::clamp<uint32_t>(pps, 4, 99);
    } else if (Is(key, "TimeLimit")) {
        s.timeLimit = ParseUnsigned(value);
    } else if (Is(key, "KillGoal")) {
        s.killGoal = ParseUnsigned(value);
    } else if (Is(key, "MaxPlayers")) {
        s.maxPlayers = ParseUnsigned(value);
    } else if (Is(key, "MultiSettingsFile")) {
        if (!FileExists(value)) return false;
        s.multiSettingsFile = value;
    } else if (Is(key, "GameName")) {
        s.gameName = value;
    } else if (Is(key, "MissionName")) {
        std::string listed, title;
        int32_t levels = 0;
        if (!installed.FindMission(value, listed, title, levels)) {
            Tell(inform, "Mission " + value + " is not installed!");
            return false;
        }
        s.missionFileName = listed;
        s.missionTitle = title;
    } else if (Is(key, "ScriptName")) {
        std::string listed;
        if (!installed.FindScript(value, listed)) {
            Tell(inform, "Script " + value + " is not installed!");
            return false;
        }
        s.scriptName = listed;
    } else if (Is(key, "ConnectionName")) {
        std::string listed;
        if (!installed.FindConnection(value, listed)) {
            Tell(inform, "Connection type " + value + " is not installed!");
            return false;
        }
        s.connectionName = listed;
        s.connectionKind = ConnectionKindFromName(listed);
    } else if (Is(key, "SetLevel")) {
        s.startLevel = ParseUnsigned(value);
    } else if (Is(key, "SetDifficulty")) {
        s.difficulty = std::min<uint32_t>(ParseUnsigned(value), 4);
    } else if (Is(key, "GameSpyPort")) {
        s.gameSpyPort = PortValue(value);
    } else if (Is(key, "NumTeams")) {
        s.numTeams = ParseUnsigned(value);
    } else if (Is(key, "SetTeamDamage")) {
        s.teamDamage = ParseUnsigned(value);
    } else if (Is(key, "AccurateCollisions")) {
        s.accurateCollisions = ParseUnsigned(value);
    } else if (Is(key, "SendRotVel")) {
        s.sendRotVel = ParseUnsigned(value);
    } else if (Is(key, "BrightPlayers")) {
        s.brightPlayers = ParseUnsigned(value);
    } else if (Is(key, "Permissable")) {
        // A 0 never resets the mode: "Peer2Peer=1" then "Permissable=0" stays peer to peer.
        if (ParseNumber(value) != 0) s.peerMode = kPermissible;
    } else if (Is(key, "Peer2Peer")) {
        if (ParseNumber(value) != 0) s.peerMode = kPeerToPeer;
    } else if (Is(key, "UseSmoothing")) {
        s.useSmoothing = ParseUnsigned(value);
    } else if (Is(key, "AllowMouselook")) {
        s.allowMouselook = ParseUnsigned(value);
    } else if (Is(key, "AllowRemoteConsole")) {
        s.allowRemoteConsole = ParseUnsigned(value);
    } else if (Is(key, "RemoteConsolePort")) {
        s.remoteConsolePort = PortValue(value);
    } else if (Is(key, "ConsolePassword")) {
        s.consolePassword = value;
    } else if (Is(key, "RemoteAdmin")) {
        s.remoteAdmin = ParseUnsigned(value);
    } else if (Is(key, "RemoteAdminPass")) {
        s.remoteAdminPassword = value;
    } else if (Is(key, "AllowAudioTaunts")) {
        s.allowAudioTaunts = ParseUnsigned(value);
    } else if (Is(key, "AudioTauntDelay")) {
        s.audioTauntDelay = ParseUnsigned(value);
    } else if (Is(key, "RandomizeRespawn")) {
        s.randomizeRespawn = ParseUnsigned(value);
    } else if (Is(key, "RespawnTime")) {
        // The file knows one respawn time; the range collapses to it.
        s.minRespawnTime = s.maxRespawnTime = ParseUnsigned(value);
    } else if (Is(key, "MROUsername")) {
        s.lobbyUserName = value;
    } else if (Is(key, "MROPassword")) {
        s.lobbyPassword = value;
    } else if (Is(key, "MROHostingLobby")) {
        s.hostingLobby = value;
    } else if (Is(key, "MOTD")) {
        s.motd = value;
    } else if (Is(key, "DisallowPowerup")) {
        return DisallowPowerup(s, value);
    } else {
        return false;
    }
    return true;
}

bool ImportServerConfigFile(CGameSettings& settings, const InstalledNames& installed, const std::string& path,
                            const InformationBox& inform) {
    std::vector<std::string> lines;
    if (const fs::ReadResult read = ReadBufferedLines(path, kLineBuffer, kTextFileLimit, lines); !read.ok()) {
        Tell(inform, CannotReadMessage(path, read));
        return false;
    }
    settings.customDescription = 0;
    settings.selective = 0;
    if (lines.empty()) {
        Tell(inform, path + " is no valid configuration file!");
        return false;
    }
    // Any other first line: a file of some other kind, taken over as it is (nothing imported).
    if (!IsConfigHeader(lines.front())) return true;

    std::string key, value;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (SplitConfigLine(lines[i], key, value)) ApplyServerConfigKey(settings, installed, key, value, inform);
    }

    std::string listed, title;
    int32_t levels = 0;
    // A mission whose level count is unknown (< 1) gives no limit rather than a start level of 0.
    if (installed.FindMission(settings.missionFileName, listed, title, levels) && levels >= 1 &&
        static_cast<uint32_t>(levels) < settings.startLevel) {
        settings.startLevel = static_cast<uint32_t>(levels);
    }
    return true;
}

std::string MultiSettingsFileNamedIn(const std::string& mainFile) {
    std::vector<std::string> lines;
    if (!ReadBufferedLines(mainFile, kLineBuffer, kTextFileLimit, lines).ok() || lines.empty() ||
        !IsConfigHeader(lines.front())) {
        return {};
    }
    std::string named, key, value;
    for (size_t i = 1; i < lines.size(); ++i) {
        // As in the import, each line naming an existing file replaces the one before.
        if (SplitConfigLine(lines[i], key, value) && Is(key, "MultiSettingsFile") && FileExists(value)) named = value;
    }
    return named;
}

bool ApplyMultiSettingsCommand(CShipOptions& ships, const std::string& key, const std::string& value) {
    if (Is(key, "name")) return true;  // the game name comes from the main file
    if (!Is(key, "ShipBan")) return false;
    auto it = std::find_if(ships.allowedShips.begin(), ships.allowedShips.end(),
                           [&](const std::string& ship) { return fs::EqualsIgnoreCase(ship, value); });
    // A ship that is not allowed at this moment (unknown, or banned twice) is reported.
    if (it == ships.allowedShips.end()) return false;
    ships.allowedShips.erase(it);
    ships.disallowedShips.push_back(value);
    return true;
}

bool ImportMultiSettingsFile(CShipOptions& ships, const std::string& path, const InformationBox& inform) {
    return ImportCommandFile(path, inform, [&](const std::string& key, const std::string& value) {
        return ApplyMultiSettingsCommand(ships, key, value);
    });
}

bool ApplyAutoexecCommand(CAutoexecSettings& a, const std::string& key, const std::string& value) {
    const uint32_t on = fs::EqualsIgnoreCase(value, "on") ? 1 : 0;
    if (Is(key, "AllowTeamChange")) {
        a.allowTeamChange = on;
    } else if (Is(key, "AutoBalance")) {
        a.autoBalance = on;
    } else if (Is(key, "AutoSaveDisconnect")) {
        a.autoSaveDisconnect = on;
    } else if (Is(key, "AutoSaveLevel")) {
        a.autoSaveLevel = on;
    } else if (Is(key, "MinCount")) {
        a.minCount = PlayerCount(value);
    } else if (Is(key, "MaxCount")) {
        a.maxCount = PlayerCount(value);
    } else if (Is(key, "ServerHudNames")) {
        // An unknown choice is ignored; the command itself is understood.
        if (OneOf(value, {"Full", "Team", "None"})) a.serverHudNames = value;
    } else if (Is(key, "KillMsgFilter")) {
        if (OneOf(value, {"Full", "Simple", "None"})) a.killMsgFilter = value;
    } else if (Is(key, "SetTeamName")) {
        size_t cut = value.find(' ');
        if (cut == std::string::npos) cut = value.find('\t');
        if (cut == std::string::npos) return true;
        const std::string_view index(value.data(), cut);
        // The index must be a number: "SetTeamName Red Team" names no team rather than team 0.
        if (index.empty() || !std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return true;
        }
        const uint32_t team = ParseUnsigned(index);
        if (team < a.teamNames.size()) a.teamNames[team] = std::string(TrimLeft(std::string_view(value).substr(cut + 1)));
    } else {
        return false;
    }
    return true;
}

bool ImportAutoexecFile(CAutoexecSettings& autoexec, const std::string& path, const InformationBox& inform) {
    if (path.empty()) return true;
    if (!ImportCommandFile(path, inform, [&](const std::string& key, const std::string& value) {
            return ApplyAutoexecCommand(autoexec, key, value);
        })) {
        return false;
    }
    if (autoexec.maxCount < autoexec.minCount) autoexec.maxCount = autoexec.minCount;
    return true;
}

}  // namespace hm
