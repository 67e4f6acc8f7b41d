#include "launch/launch_preparation.h"

#include "platform/files.h"
#include "platform/socket.h"

namespace hm {

std::string CacheFolderFor(const std::string& gameFolder, unsigned serverPort) {
    return gameFolder + "/custom/cache/" + std::to_string(serverPort);
}

std::string ConsoleLogFileName(const std::string& logFolder, unsigned serverPort, const std::string& gameName) {
    std::string name = gameName;
    for (char& c : name) {
        switch (c) {
            case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
                c = '_';
                break;
            default:
                break;
        }
    }
    return logFolder + std::to_string(serverPort) + "_" + name + ".log";
}

float RespawnStep(int32_t playerSlots, uint32_t minRespawnTime, uint32_t maxRespawnTime) {
    if (playerSlots > 3 && maxRespawnTime > minRespawnTime) {
        return static_cast<float>(maxRespawnTime - minRespawnTime) / static_cast<float>(playerSlots - 2);
    }
    return -1.0f;
}

bool PrepareServerLaunch(CServerConfig& config, const CSystemInfo& systemInfo, const std::string& gameFolder,
                         const CGlobalOptions& options, const std::string& stem, const InformationBox& inform) {
    CGameSettings& game = config.game;
    CLaunchSettings& launch = config.launch;
    ConsoleSettings& console = config.console;

    // The console worker tries these in order; the bind address comes last because a server bound to
    // it alone would not answer on the others.
    console.addresses = systemInfo.localAddresses;
    if (!options.alternateAddress.empty()) {
        uint32_t bound = 0;
        // A text that is no address would only ever give a connection attempt to 255.255.255.255.
        if (ParseAddress(options.alternateAddress, bound)) console.addresses.push_back(bound);
    }
    console.port = game.remoteConsolePort;
    console.playerSlots = static_cast<int32_t>(game.maxPlayers) - 1;
    console.minRespawnTime = game.minRespawnTime;
    console.maxRespawnTime = game.maxRespawnTime;
    console.respawnStep = RespawnStep(console.playerSlots, console.minRespawnTime, console.maxRespawnTime);

    config.schedule.RebuildMinuteTable();

    const std::string cacheFolder = CacheFolderFor(gameFolder, launch.serverPort);
    const std::string stemPath = cacheFolder + "/" + stem;
    launch.tempDir = cacheFolder;
    launch.setDir = gameFolder;
    launch.configFile = stemPath + ".cfg";
    launch.autoexecFile = stemPath + ".dmfc";

    if (config.trackers.enabled) {
        game.gameSpyPort = launch.gameSpyPort;
    } else {
        // Neither "GameSpyPort" nor "-gamespyport" is written for a server that reports to no tracker.
        game.gameSpyPort = 0;
        launch.gameSpyPort = 0;
    }
    launch.gameSpyFile = "custom/cache/" + std::to_string(launch.serverPort) + "/" + stem + ".spy";

    if (!options.alternateAddress.empty()) launch.bindAddress = options.alternateAddress;
    game.multiSettingsFile = stemPath + ".mps";
    console.password = game.consolePassword;
    console.consoleLogName = ConsoleLogFileName(systemInfo.logFolder, launch.serverPort, game.gameName);

    game.lobbyUserName = options.mroUserName;
    game.lobbyPassword = options.mroPassword;
    bool ok = true;
    if (fs::EqualsIgnoreCase(game.connectionName, "Meridian Online") &&
        (game.lobbyUserName.empty() || game.lobbyPassword.empty())) {
        if (inform) inform(kNoLobbyCredentials);
        ok = false;
    }

    if (!game.customDescription || game.missionLevelCount == 1) config.customDescriptionText.clear();
    return ok;
}

bool PrepareServerLaunch(CServerConfig& config, const CSystemInfo& systemInfo, const CGameInstallation& installation,
                         const CGlobalOptions& options, const std::string& stem, const InformationBox& inform) {
    return PrepareServerLaunch(config, systemInfo, installation.GameFolder(), options, stem, inform);
}

}  // namespace hm
