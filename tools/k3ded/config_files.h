// Readers of the three files the dedicated server is started with: the main configuration
// ("[server config file]" then key=value lines), the multi settings file (TAB-separated pairs) and the
// autoexec file (blank-separated commands). Used once on the main thread at start.
// Files are read whole up to 1 MiB; lines are cut at 1023 bytes as the game's own reader does; a line
// that cannot be understood is reported, never trusted.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hm::k3ded {

struct ServerConfig {
    std::string gameName = "Kelvane 3 server";
    std::string missionName;
    std::string scriptName;
    std::string connectionName;
    std::string multiSettingsFile;
    uint32_t maxPlayers = 8;
    uint32_t timeLimit = 0;        // minutes, 0 = none
    uint32_t killGoal = 0;
    uint32_t setLevel = 1;
    uint32_t numTeams = 1;
    bool allowRemoteConsole = false;
    uint16_t remoteConsolePort = 2092;
    std::string consolePassword;
    uint32_t respawnTime = 15;
    std::string motd;
    std::vector<std::string> disallowedPowerups;
    std::map<std::string, std::string> otherKeys;  // lower-case key -> value, for the record
};

struct MultiSettings {
    std::string name;
    std::vector<std::string> bannedShips;
};

struct AutoexecSettings {
    std::map<std::string, std::string> commands;  // lower-case command -> value
    std::vector<std::string> teamNames{"Red", "Blue", "Green", "Yellow"};
};

// Splits text into lines at LF (a CR before it dropped), each cut to 1023 bytes.
std::vector<std::string> SplitConfigLines(const std::string& text);

// false with error set when the text is not a server configuration file. warnings collects lines
// with malformed values.
bool ParseServerConfig(const std::string& text, ServerConfig& config, std::string& error,
                       std::vector<std::string>& warnings);
void ParseMultiSettings(const std::string& text, MultiSettings& settings, std::vector<std::string>& warnings);
void ParseAutoexec(const std::string& text, AutoexecSettings& settings, std::vector<std::string>& warnings);

// Reads a whole file of at most 1 MiB.
bool ReadSmallFile(const std::string& path, std::string& text, std::string& error);

}  // namespace hm::k3ded
