#include "config_files.h"

#include "platform/files.h"
#include "text_util.h"

namespace hm::k3ded {

namespace {
constexpr size_t kMaxLine = 1023;
constexpr uint64_t kMaxFile = 1u << 20;

bool NumberValue(const std::string& key, const std::string& value, uint32_t min, uint32_t max, uint32_t& out,
                 std::vector<std::string>& warnings) {
    uint32_t v = 0;
    if (!ParseNumber(value, min, max, v)) {
        warnings.push_back("Bad value for " + key + ": '" + OneLine(value) + "'");
        return false;
    }
    out = v;
    return true;
}
}  // namespace

std::vector<std::string> SplitConfigLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A longer line arrives as several lines, as with the game's fixed line buffer.
        do {
            lines.push_back(line.substr(0, kMaxLine));
            line = line.size() > kMaxLine ? line.substr(kMaxLine) : std::string();
        } while (!line.empty());
        start = end + 1;
    }
    return lines;
}

bool ParseServerConfig(const std::string& text, ServerConfig& config, std::string& error,
                       std::vector<std::string>& warnings) {
    const std::vector<std::string> lines = SplitConfigLines(text);
    if (lines.empty() || !EqualsNoCase(TrimRight(lines[0]), "[server config file]")) {
        error = "Not a server configuration file (first line must be [server config file]).";
        return false;
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == ';') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = ToLower(TrimRight(line.substr(0, eq)));
        const std::string value = Trim(line.substr(eq + 1));
        uint32_t n = 0;
        if (key == "gamename") config.gameName = value;
        else if (key == "missionname") config.missionName = value;
        else if (key == "scriptname") config.scriptName = value;
        else if (key == "connectionname") config.connectionName = value;
        else if (key == "multisettingsfile") config.multiSettingsFile = value;
        else if (key == "maxplayers") NumberValue(key, value, 1, 32, config.maxPlayers, warnings);
        else if (key == "timelimit") NumberValue(key, value, 0, 100000, config.timeLimit, warnings);
        else if (key == "killgoal") NumberValue(key, value, 0, 1000000, config.killGoal, warnings);
        else if (key == "setlevel") NumberValue(key, value, 1, 1000, config.setLevel, warnings);
        else if (key == "numteams") NumberValue(key, value, 0, 4, config.numTeams, warnings);
        else if (key == "allowremoteconsole") {
            if (NumberValue(key, value, 0, 0xFFFFFFFFu, n, warnings)) config.allowRemoteConsole = n != 0;
        } else if (key == "remoteconsoleport") {
            if (NumberValue(key, value, 1, 65535, n, warnings)) config.remoteConsolePort = static_cast<uint16_t>(n);
        } else if (key == "consolepassword") config.consolePassword = value;
        else if (key == "respawntime") NumberValue(key, value, 0, 100000, config.respawnTime, warnings);
        else if (key == "motd") config.motd = value;
        else if (key == "disallowpowerup") config.disallowedPowerups.push_back(value);
        else if (config.otherKeys.size() < 256) config.otherKeys[key] = value;
    }
    return true;
}

void ParseMultiSettings(const std::string& text, MultiSettings& settings, std::vector<std::string>& warnings) {
    for (const std::string& raw : SplitConfigLines(text)) {
        const std::string line = Trim(raw);
        if (line.empty()) continue;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) {
            warnings.push_back("Multi settings line without TAB: '" + OneLine(line) + "'");
            continue;
        }
        const std::string key = TrimRight(line.substr(0, tab));
        const std::string value = Trim(line.substr(tab + 1));
        if (EqualsNoCase(key, "name")) settings.name = value;
        else if (EqualsNoCase(key, "ShipBan")) settings.bannedShips.push_back(value);
        else warnings.push_back("Unknown multi settings key '" + OneLine(key) + "'");
    }
}

void ParseAutoexec(const std::string& text, AutoexecSettings& settings, std::vector<std::string>& warnings) {
    static const char* const known[] = {"allowteamchange", "autobalance", "autosavedisconnect", "autosavelevel",
                                        "mincount", "maxcount", "serverhudnames", "killmsgfilter", "setteamname"};
    for (const std::string& raw : SplitConfigLines(text)) {
        const std::string line = Trim(raw);
        if (line.empty()) continue;
        size_t cut = line.find('\t');
        if (cut == std::string::npos) cut = line.find(' ');
        if (cut == std::string::npos) {
            warnings.push_back("Autoexec command without value: '" + OneLine(line) + "'");
            continue;
        }
        const std::string key = ToLower(TrimRight(line.substr(0, cut)));
        const std::string value = Trim(line.substr(cut + 1));
        bool isKnown = false;
        for (const char* k : known) isKnown = isKnown || key == k;
        if (!isKnown) {
            warnings.push_back("Unknown autoexec command '" + OneLine(key) + "'");
            continue;
        }
        if (key == "setteamname") {
            size_t blank = value.find(' ');
            if (blank == std::string::npos) blank = value.find('\t');
            uint32_t index = 0;
            if (blank != std::string::npos && ParseNumber(value.substr(0, blank), 0, 3, index)) {
                const std::string name = Trim(value.substr(blank + 1));
                if (!name.empty()) settings.teamNames[index] = name;
            } else {
                warnings.push_back("Bad SetTeamName value '" + OneLine(value) + "'");
            }
            continue;
        }
        settings.commands[key] = value;
    }
}

bool ReadSmallFile(const std::string& path, std::string& text, std::string& error) {
    const fs::FileAttributes attributes = fs::GetAttributes(path);
    if (!attributes.exists || attributes.isDirectory) {
        error = "Cannot open " + path + " for reading!";
        return false;
    }
    if (attributes.size > kMaxFile) {
        error = path + " is too large.";
        return false;
    }
    if (!fs::ReadWholeFile(path, text)) {
        error = "Cannot open " + path + " for reading!";
        return false;
    }
    return true;
}

}  // namespace hm::k3ded
