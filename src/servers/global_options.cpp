#include "servers/global_options.h"

#include "servers/random_string.h"
#include "servers/text_block.h"

namespace hm {

const char kRegionTable[] =
    "No region specified\0" "Southeast US\0" "Western US\0" "Midwest US\0" "Northwest US, West Canada\0"
    "Northeast US, East Canada\0" "United Kingdom\0" "Continental Europe\0" "Central Asia, Middle East\0"
    "Southeast Asia, Pacific\0" "Africa\0" "Australia, NZ, Pacific\0" "Central, South America\0";

std::vector<std::string> RegionNames() { return TextBlockToList(kRegionTable); }

CGlobalOptions::CGlobalOptions() : CGlobalOptions(RealClock().TickCount()) {}

CGlobalOptions::CGlobalOptions(Tick seedTick, bool jotwellPresent)
    : defaultConsolePassword(RandomString(seedTick)), useJotwellForEventLog(jotwellPresent ? 1 : 0) {}

void CGlobalOptions::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.Dword(autoLaunchAtStart);
    ar.Dword(startMinimized);
    ar.Dword(autoRestart);
    ar.Dword(switchToTcpOnMroDown);
    ar.Dword(autoChoosePorts);
    ar.String(alternateAddress);
    ar.Word(baseServerPort);
    ar.Dword(defaultPacketsPerSecond);
    ar.Dword(defaultFramesPerSecond);
    ar.Dword(defaultMaxPlayers);
    ar.Word(baseConsolePort);
    ar.String(defaultConsolePassword);
    ar.String(mroUserName);
    ar.String(mroPassword);
    ar.Dword(autoRestartPeriod);
    ar.Dword(region);
    ar.String(trackerEmail);
    ar.String(defaultMotd);
    antiCheat.Write(ar);
    remoteInfo.Write(ar);
    ar.Dword(versionCheck);
    ar.Dword(lastVersionCheck);
    ar.Dword(latestVersion);
    ar.Dword(defaultTimeLimit);
    ar.Dword(defaultKillGoal);
    ar.Dword(mroDetection);
    ar.Dword(maxPlayersAll);
    ar.Dword(limitPlayersAll);
    ar.Dword(useJotwellForEventLog);
    ar.Dword(autoUpdate);
    ar.Dword(updateAttempts);
}

void CGlobalOptions::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.Get(autoLaunchAtStart);
    ar.Get(startMinimized);
    ar.Get(autoRestart);
    ar.Get(switchToTcpOnMroDown);
    ar.Get(autoChoosePorts);
    ar.GetString(alternateAddress);
    ar.Get(baseServerPort);
    ar.Get(defaultPacketsPerSecond);
    ar.Get(defaultFramesPerSecond);
    ar.Get(defaultMaxPlayers);
    ar.Get(baseConsolePort);
    ar.GetString(defaultConsolePassword);
    ar.GetString(mroUserName);
    ar.GetString(mroPassword);
    ar.Get(autoRestartPeriod);
    ar.Get(region);
    ar.GetString(trackerEmail);
    ar.GetString(defaultMotd);
    antiCheat.Read(ar);
    remoteInfo.Read(ar);
    if (version >= 2) {
        ar.Get(versionCheck);
        ar.Get(lastVersionCheck);
        ar.Get(latestVersion);
        ar.Get(defaultTimeLimit);
        ar.Get(defaultKillGoal);
        // A value without a major part was never a real version: the window title would show 0.x.
        if (((latestVersion >> 16) & 0xFF) == 0) latestVersion = kDefaultLatestVersion;
    }
    if (version >= 3) ar.Get(mroDetection);
    if (version >= 4) {
        ar.Get(maxPlayersAll);
        ar.Get(limitPlayersAll);
    }
    if (version >= 5) ar.Get(useJotwellForEventLog);
    if (version >= 6) ar.Get(autoUpdate);
    if (version >= 7) ar.Get(updateAttempts);
}

}  // namespace hm
