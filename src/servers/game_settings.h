// The settings blocks that become the game server's own files: the main configuration (CGameSettings,
// with the extra per-server fields stored in the same block), the banned ships (CShipOptions) and the
// team and saving settings of the autoexec file (CAutoexecSettings).
//
// Plain records, members of every CServerConfig; edited by the configuration dialogs and read by the
// launch on the user-interface thread, read without a lock by the supervisor's helpers. Their stored
// forms here must stay byte-exact with earlier releases: never reorder a field or change a version
// rule, only append fields under a new version.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "servers/archive.h"

namespace hm {

// One category of objects that the server can hand out; every known name is in exactly one list.
struct PowerupCategory {
    std::vector<std::string> allowed;
    std::vector<std::string> disallowed;
    bool operator==(const PowerupCategory&) const = default;
};

enum PowerupCategoryIndex { kPrimaryWeapons = 0, kSecondaryWeapons = 1, kPowerups = 2, kOthers = 3 };
inline constexpr int kPowerupCategoryCount = 4;
// Labels of the categories in the user interface, in category order.
extern const char* const kPowerupCategoryLabels[kPowerupCategoryCount];

// The lists a new configuration starts with.
std::array<PowerupCategory, kPowerupCategoryCount> DefaultPowerupCategories();

// Peer modes of the game.
enum PeerMode : int32_t { kClientServer = 0, kPermissible = 1, kPeerToPeer = 2 };

class CGameSettings {
public:
    static constexpr uint32_t kVersion = 6;

    CGameSettings();

    int32_t connectionKind = 0;  // 1 Meridian Online, 2 Direct TCP~IP, 0 other
    uint32_t packetsPerSecond = 9;
    uint32_t timeLimit = 0;
    uint32_t killGoal = 0;
    uint32_t maxPlayers = 5;
    std::string multiSettingsFile;
    std::string gameName;
    std::string missionTitle;
    std::string missionFileName;
    std::string scriptName;
    std::string connectionName;
    uint32_t startLevel = 1;
    uint32_t difficulty = 2;
    uint16_t gameSpyPort = 20143;
    uint32_t numTeams = 2;
    uint32_t teamDamage = 1;
    uint32_t accurateCollisions = 0;
    uint32_t sendRotVel = 0;
    uint32_t brightPlayers = 1;
    int32_t peerMode = kClientServer;
    uint32_t useSmoothing = 0;
    uint32_t allowMouselook = 0;
    uint32_t allowRemoteConsole = 0;
    uint16_t remoteConsolePort = 2092;
    std::string consolePassword;
    uint32_t remoteAdmin = 0;
    std::string remoteAdminPassword;
    uint32_t allowAudioTaunts = 1;
    uint32_t audioTauntDelay = 15;  // seconds
    uint32_t randomizeRespawn = 1;
    uint32_t minRespawnTime = 15;  // seconds
    uint32_t maxRespawnTime = 30;  // seconds
    std::string lobbyUserName;
    std::string lobbyPassword;
    std::string hostingLobby = "Global";
    std::string motd;
    std::array<PowerupCategory, kPowerupCategoryCount> powerups;

    // Per-server fields kept in the same stored block.
    uint32_t customDescription = 0;
    uint32_t missionLevelCount = 0;
    uint32_t selective = 0;
    uint32_t targetMaxPlayers = 999;
    uint32_t appliedMaxPlayers = 999;
    uint32_t autoLaunchAllowed = 1;
    // Supervisor counters: never stored, 0 after every load.
    uint32_t minuteTicks = 0;
    uint32_t repeatMinutes = 0;

    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

class CShipOptions {
public:
    static constexpr uint32_t kVersion = 1;

    CShipOptions();

    std::vector<std::string> allowedShips;
    std::vector<std::string> disallowedShips;

    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

class CAutoexecSettings {
public:
    static constexpr uint32_t kVersion = 1;
    static constexpr size_t kTeamCount = 4;

    uint32_t allowTeamChange = 1;
    uint32_t autoBalance = 1;
    uint32_t autoSaveDisconnect = 0;
    uint32_t autoSaveLevel = 0;
    uint32_t minCount = 3;   // 1 to 12
    uint32_t maxCount = 12;  // 1 to 12
    std::string serverHudNames = "Team";  // "Full", "Team" or "None"
    std::string killMsgFilter = "None";   // "Full", "Simple" or "None"
    std::array<std::string, kTeamCount> teamNames;

    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

}  // namespace hm
