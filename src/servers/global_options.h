// The settings of the program as a whole and the defaults new server configurations take: ports,
// limits, restart period, lobby and tracker fields, update switches, the anti-cheat options and the
// remote info server settings.
//
// One instance lives inside CServerConfigArray and is stored at the front of its file. Owned by the
// user-interface thread; the update thread reads and writes the version-check, update and anti-cheat
// update fields without a lock, as the program has always done. Never reorder the stored fields: the
// block must stay byte-exact with what earlier releases wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "servers/anticheat_options.h"
#include "servers/archive.h"
#include "servers/remote_info_settings.h"

namespace hm {

// The regions for the game tracker, in list order; the index is what `region` stores.
inline constexpr size_t kRegionCount = 13;
// One block of consecutive zero-terminated texts ended by an empty text.
extern const char kRegionTable[];
std::vector<std::string> RegionNames();

class CGlobalOptions {
public:
    static constexpr uint32_t kVersion = 7;
    static constexpr uint32_t kDefaultLatestVersion = 0x030053;  // 3.0.83
    static constexpr uint32_t kMillisecondsPerMinute = 60000;

    // A new record: defaultConsolePassword is drawn with RandomString seeded with the real clock's tick
    // count; useJotwellForEventLog follows whether the logging library was found at start-up.
    CGlobalOptions();
    explicit CGlobalOptions(Tick seedTick, bool jotwellPresent = false);

    uint32_t autoLaunchAtStart = 0;
    uint32_t startMinimized = 1;
    uint32_t autoRestart = 1;
    uint32_t switchToTcpOnMroDown = 1;
    uint32_t autoChoosePorts = 0;
    std::string alternateAddress;  // dotted IPv4; empty = all addresses
    uint16_t baseServerPort = 2092;
    uint32_t defaultPacketsPerSecond = 12;
    uint32_t defaultFramesPerSecond = 999;
    uint32_t defaultMaxPlayers = 6;
    uint16_t baseConsolePort = 2092;
    std::string defaultConsolePassword;
    std::string mroUserName = "wisp";
    std::string mroPassword = "wisp";
    uint32_t autoRestartPeriod = 21600000;  // milliseconds (6 hours); the dialog shows minutes
    uint32_t region = 0;
    std::string trackerEmail;
    std::string defaultMotd;  // at most 127 characters
    AntiCheatOptions antiCheat;
    RemoteInfoSettings remoteInfo;
    uint32_t versionCheck = 1;
    uint32_t lastVersionCheck = 0;  // tick count, 0 = none
    uint32_t latestVersion = kDefaultLatestVersion;  // major bits 16-23, minor 8-15, build 0-7
    uint32_t defaultTimeLimit = 120;  // minutes, 0 = no limit
    uint32_t defaultKillGoal = 0;     // 0 = no limit
    uint32_t mroDetection = 0;
    uint32_t maxPlayersAll = 999;
    uint32_t limitPlayersAll = 0;
    uint32_t useJotwellForEventLog = 0;
    uint32_t autoUpdate = 1;
    uint32_t updateAttempts = 0;

    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

}  // namespace hm
