#include "servers/server_config.h"

#include "servers/global_options.h"

namespace hm {

CServerConfig::CServerConfig(const CGlobalOptions& options) {
    game.packetsPerSecond = options.defaultPacketsPerSecond;
    game.timeLimit = options.defaultTimeLimit;
    game.killGoal = options.defaultKillGoal;
    game.motd = options.defaultMotd;
    game.maxPlayers = options.defaultMaxPlayers + 1;
    launch.framesPerSecond = options.defaultFramesPerSecond;
}

CServerConfig::CServerConfig(const CServerConfig& other)
    : game(other.game),
      ships(other.ships),
      autoexec(other.autoexec),
      launch(other.launch),
      trackers(other.trackers),
      schedule(other.schedule),
      console(other.console),
      customDescriptionText(other.customDescriptionText),
      noScheduleWarned(0) {}

CServerConfig& CServerConfig::operator=(const CServerConfig& other) {
    if (this != &other) {
        game = other.game;
        ships = other.ships;
        autoexec = other.autoexec;
        launch = other.launch;
        trackers = other.trackers;
        schedule = other.schedule;
        console = other.console;
        customDescriptionText = other.customDescriptionText;
    }
    noScheduleWarned = 0;
    return *this;
}

CServerConfig::CServerConfig(CServerConfig&& other) noexcept
    : game(std::move(other.game)),
      ships(std::move(other.ships)),
      autoexec(std::move(other.autoexec)),
      launch(std::move(other.launch)),
      trackers(std::move(other.trackers)),
      schedule(std::move(other.schedule)),
      console(std::move(other.console)),
      customDescriptionText(std::move(other.customDescriptionText)),
      noScheduleWarned(0) {}

CServerConfig& CServerConfig::operator=(CServerConfig&& other) noexcept {
    if (this != &other) {
        game = std::move(other.game);
        ships = std::move(other.ships);
        autoexec = std::move(other.autoexec);
        launch = std::move(other.launch);
        trackers = std::move(other.trackers);
        schedule = std::move(other.schedule);
        console = std::move(other.console);
        customDescriptionText = std::move(other.customDescriptionText);
    }
    noScheduleWarned = 0;
    return *this;
}

void CServerConfig::Write(ArchiveWriter& ar) {
    noScheduleWarned = 0;
    ar.Dword(kVersion);
    game.Write(ar);
    ships.Write(ar);
    autoexec.Write(ar);
    launch.Write(ar);
    trackers.Write(ar);
    schedule.Write(ar);
    console.Write(ar);
    ar.String(customDescriptionText);
}

void CServerConfig::Read(ArchiveReader& ar) {
    noScheduleWarned = 0;
    game.minuteTicks = 0;
    game.repeatMinutes = 0;
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    game.Read(ar);
    ships.Read(ar);
    autoexec.Read(ar);
    launch.Read(ar);
    trackers.Read(ar);
    schedule.Read(ar);
    console.Read(ar);
    if (version >= 2) ar.GetString(customDescriptionText);
}

}  // namespace hm
