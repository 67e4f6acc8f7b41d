#include "servers/game_config_files.h"

#include "platform/files.h"

namespace hm {

namespace {

// One line of a written file; the game reads CR LF on every line, the last one included.
void Line(std::string& text, const std::string& line) {
    text += line;
    text += "\r\n";
}

void Line(std::string& text, const char* key, uint32_t value) { Line(text, key + std::to_string(value)); }

void Line(std::string& text, const char* key, const std::string& value) { Line(text, key + value); }

const char* OnOff(uint32_t flag) { return flag != 0 ? "on" : "off"; }

}  // namespace

int32_t ConnectionKindFromName(const std::string& name) {
    if (fs::EqualsIgnoreCase(name, kMeridianOnline)) return 1;
    if (fs::EqualsIgnoreCase(name, kDirectTcpIp)) return 2;
    return 0;
}

bool WriteTextFile(const std::string& path, const std::string& text, bool append) {
    if (path.empty()) return false;
    return append ? fs::AppendToFile(path, text) : fs::WriteWholeFile(path, text);
}

bool FileExists(const std::string& path) { return !path.empty() && fs::FileExists(path); }

std::string ServerConfigFileText(CGameSettings& s, int32_t connectionKind) {
    std::string connection;
    if (connectionKind == 1) {
        connection = kMeridianOnline;
        s.connectionKind = 1;
    } else if (connectionKind == 2) {
        connection = kDirectTcpIp;
        s.connectionKind = 2;
    } else {
        connection = s.connectionName;
        s.connectionKind = 0;
    }

    std::string text;
    Line(text, kServerConfigHeader);
    Line(text, "PPS=", s.packetsPerSecond);
    Line(text, "TimeLimit=", s.timeLimit);
    Line(text, "KillGoal=", s.killGoal);
    Line(text, "MaxPlayers=", s.maxPlayers);
    Line(text, "MultiSettingsFile=", s.multiSettingsFile);
    Line(text, "GameName=", s.gameName);
    Line(text, "MissionName=", s.missionFileName);
    Line(text, "ScriptName=", s.scriptName);
    Line(text, "ConnectionName=", connection);
    Line(text, "SetLevel=", s.startLevel);
    Line(text, "SetDifficulty=", s.difficulty);
    // Ports below 1024 mean "not reporting to trackers": the game then picks none.
    if (s.gameSpyPort > 1023) Line(text, "GameSpyPort=", s.gameSpyPort);
    if (s.numTeams != 0) {
        Line(text, "NumTeams=", s.numTeams);
        Line(text, "SetTeamDamage=", s.teamDamage);
    }
    Line(text, "AccurateCollisions=", s.accurateCollisions);
    Line(text, "SendRotVel=", s.sendRotVel);
    Line(text, "BrightPlayers=", s.brightPlayers);
    Line(text, "Permissable=", s.peerMode == kPermissible ? 1u : 0u);
    Line(text, "Peer2Peer=", s.peerMode == kPeerToPeer ? 1u : 0u);
    Line(text, "UseSmoothing=", s.useSmoothing);
    Line(text, "AllowMouselook=", s.allowMouselook);
    Line(text, "AllowRemoteConsole=", s.allowRemoteConsole);
    if (s.allowRemoteConsole != 0) {
        Line(text, "RemoteConsolePort=", s.remoteConsolePort);
        Line(text, "ConsolePassword=", s.consolePassword);
    }
    Line(text, "RemoteAdmin=", s.remoteAdmin);
    if (s.remoteAdmin != 0) Line(text, "RemoteAdminPass=", s.remoteAdminPassword);
    Line(text, "AllowAudioTaunts=", s.allowAudioTaunts);
    if (s.allowAudioTaunts != 0) Line(text, "AudioTauntDelay=", s.audioTauntDelay);
    Line(text, "RandomizeRespawn=", s.randomizeRespawn);
    Line(text, "RespawnTime=", s.minRespawnTime);
    // The lobby lines follow the stored name, not the kind the caller passed.
    if (fs::EqualsIgnoreCase(s.connectionName, kMeridianOnline)) {
        Line(text, "MROUsername=", s.lobbyUserName);
        Line(text, "MROPassword=", s.lobbyPassword);
        if (!s.hostingLobby.empty()) Line(text, "MROHostingLobby=", s.hostingLobby);
    }
    if (!s.motd.empty()) Line(text, "MOTD=", s.motd);
    for (const PowerupCategory& category : s.powerups) {
        for (const std::string& name : category.disallowed) Line(text, "DisallowPowerup=", name);
    }
    return text;
}

std::string MultiSettingsFileText(const CShipOptions& ships, const std::string& gameName) {
    std::string text;
    Line(text, "name\t", gameName);
    for (const std::string& ship : ships.disallowedShips) Line(text, "ShipBan\t", ship);
    return text;
}

std::string AutoexecFileText(const CAutoexecSettings& a) {
    std::string text;
    Line(text, std::string("AllowTeamChange ") + OnOff(a.allowTeamChange));
    Line(text, std::string("AutoBalance ") + OnOff(a.autoBalance));
    Line(text, std::string("AutoSaveDisconnect ") + OnOff(a.autoSaveDisconnect));
    Line(text, std::string("AutoSaveLevel ") + OnOff(a.autoSaveLevel));
    if (a.minCount != 0) Line(text, "MinCount ", a.minCount);
    if (a.maxCount > a.minCount) Line(text, "MaxCount ", a.maxCount);
    Line(text, "ServerHudNames ", a.serverHudNames);
    Line(text, "KillMsgFilter ", a.killMsgFilter);
    for (size_t i = 0; i < a.teamNames.size(); ++i) {
        if (!a.teamNames[i].empty()) Line(text, "SetTeamName " + std::to_string(i) + " " + a.teamNames[i]);
    }
    return text;
}

bool WriteServerConfigFile(CGameSettings& settings, const std::string& path, int32_t connectionKind) {
    return WriteTextFile(path, ServerConfigFileText(settings, connectionKind), false);
}

bool WriteMultiSettingsFile(const CShipOptions& ships, const std::string& path, const std::string& gameName) {
    return WriteTextFile(path, MultiSettingsFileText(ships, gameName), false);
}

bool WriteAutoexecFile(const CAutoexecSettings& autoexec, const std::string& path) {
    return WriteTextFile(path, AutoexecFileText(autoexec), false);
}

}  // namespace hm
