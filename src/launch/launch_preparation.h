// Preparing a server's private copy of its configuration for a launch: console addresses and respawn
// values, the schedule's minute table, the cache folder and every path derived from it, the GameSpy
// and bind address rules, the console password and log name, the lobby credentials and the
// description rule.
//
// Called on the user-interface thread by the launcher on the copy a new server entry gets, never on
// a stored configuration. It only changes that copy and may show one message; it writes no file and
// starts nothing.
#pragma once

#include <functional>
#include <string>

#include "game/game_installation.h"
#include "servers/global_options.h"
#include "servers/server_config.h"
#include "servers/system_info.h"

namespace hm {

// The stem every server's own files are named with ("Haldmoor.cfg", ".dmfc", ".mps", ".spy").
inline constexpr const char* kLaunchStem = "Haldmoor";
inline constexpr const char* kNoLobbyCredentials = "No MRO username and/or password given!\n(->Global options)";

// gameFolder + "/custom/cache/" + port: the server's private folder, also what proves that a
// running process is this server.
std::string CacheFolderFor(const std::string& gameFolder, unsigned serverPort);
// logFolder + "<port>_<game name>.log", the name's \ / : * ? " < > | each replaced by '_'.
std::string ConsoleLogFileName(const std::string& logFolder, unsigned serverPort, const std::string& gameName);
// The dynamic respawn step: (max - min) / (slots - 2) when slots > 3 and max > min, else -1.
float RespawnStep(int32_t playerSlots, uint32_t minRespawnTime, uint32_t maxRespawnTime);

// Fills the derived fields of `config` (the entry's own copy). False only when the lobby connection
// lacks its user name or password (after telling the operator through inform).
bool PrepareServerLaunch(CServerConfig& config, const CSystemInfo& systemInfo, const std::string& gameFolder,
                         const CGlobalOptions& options, const std::string& stem, const InformationBox& inform);
bool PrepareServerLaunch(CServerConfig& config, const CSystemInfo& systemInfo, const CGameInstallation& installation,
                         const CGlobalOptions& options, const std::string& stem, const InformationBox& inform);

}  // namespace hm
