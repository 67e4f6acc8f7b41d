// The three text files the game's dedicated server takes its settings from: the main configuration
// (key=value lines after "[server config file]"), the multi settings file (game name and banned ships,
// TAB-separated) and the autoexec file (team and saving commands, blank-separated). The writers
// produce them byte for byte from a configuration before every launch; the importers read files an
// administrator set up by hand into a configuration.
//
// Stateless functions, called on the user-interface thread (launch and the server import). The
// importers change the record in place as they go and report to the operator only through the
// information box they are given; the writers only report success. Nothing here may overflow on a
// long line (lines are cut into 1023-character pieces) or look anything up in the game folder
// except through InstalledNames.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "servers/game_settings.h"

namespace hm {

// Shows one message to the operator (a modal information box in the desktop program).
using InformationBox = std::function<void(const std::string& text)>;

inline constexpr const char* kServerConfigHeader = "[server config file]";
inline constexpr const char* kMeridianOnline = "Meridian Online";
inline constexpr const char* kDirectTcpIp = "Direct TCP~IP";

// What the importer needs to know of the game installation: names are looked up without regard to
// case and come back as the installation lists them.
class InstalledNames {
public:
    virtual ~InstalledNames() = default;
    // Missions by file name; levelCount < 1 means the mission's level list is unknown.
    virtual bool FindMission(const std::string& fileName, std::string& listedName, std::string& title,
                             int32_t& levelCount) const = 0;
    // Network game types (scripts) by title.
    virtual bool FindScript(const std::string& name, std::string& listedName) const = 0;
    // Online connection types by title.
    virtual bool FindConnection(const std::string& name, std::string& listedName) const = 0;
    // Server executables by file name.
    virtual bool FindExecutable(const std::string& fileName, std::string& listedName) const = 0;
};

// 1 for "Meridian Online", 2 for "Direct TCP~IP" (any case), 0 for every other name.
int32_t ConnectionKindFromName(const std::string& name);

// Creates or truncates the file (append false) or appends to it (append true) and writes text as it
// stands; false when the file cannot be created or the write fails.
bool WriteTextFile(const std::string& path, const std::string& text, bool append);
// True for any existing entry, folders included.
bool FileExists(const std::string& path);

// ---- Writers: every line ends with CR LF, the last one included. ----

// The connection kind chooses the written connection name and becomes settings.connectionKind.
bool WriteServerConfigFile(CGameSettings& settings, const std::string& path, int32_t connectionKind);
bool WriteMultiSettingsFile(const CShipOptions& ships, const std::string& path, const std::string& gameName);
bool WriteAutoexecFile(const CAutoexecSettings& autoexec, const std::string& path);

// The texts the writers write (the same bytes, for callers that need them without a file).
std::string ServerConfigFileText(CGameSettings& settings, int32_t connectionKind);
std::string MultiSettingsFileText(const CShipOptions& ships, const std::string& gameName);
std::string AutoexecFileText(const CAutoexecSettings& autoexec);

// ---- Importers ----

// Reads a main configuration file. False (with a message) when it cannot be opened or is empty. A
// first line other than "[server config file]" (any case, trailing white space ignored) imports
// nothing and still succeeds. Clears customDescription and selective; clamps the start level to the
// mission's level count afterwards.
bool ImportServerConfigFile(CGameSettings& settings, const InstalledNames& installed, const std::string& path,
                            const InformationBox& inform);
// Applies one key of the main file; true when the key was recognised and applied.
bool ApplyServerConfigKey(CGameSettings& settings, const InstalledNames& installed, const std::string& key,
                          const std::string& value, const InformationBox& inform);

// The value of the last "MultiSettingsFile" line of a main file that names an existing file; "" when
// the file cannot be read, is no configuration file or has no such line.
std::string MultiSettingsFileNamedIn(const std::string& mainFile);

// An empty path imports nothing and succeeds. Commands that are not understood are reported
// together in one message; the import still succeeds.
bool ImportMultiSettingsFile(CShipOptions& ships, const std::string& path, const InformationBox& inform);
bool ImportAutoexecFile(CAutoexecSettings& autoexec, const std::string& path, const InformationBox& inform);
// The apply steps of the two readers; false for a command that is not supported.
bool ApplyMultiSettingsCommand(CShipOptions& ships, const std::string& key, const std::string& value);
bool ApplyAutoexecCommand(CAutoexecSettings& autoexec, const std::string& key, const std::string& value);

}  // namespace hm
