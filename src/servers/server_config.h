// One game server's configuration: the game settings, ships, autoexec settings, command line, trackers,
// weekly schedule and console settings, plus the custom mission description text.
//
// Records live in CServerConfigArray (edited by the server list on the user-interface thread) and, as a
// full copy, in every supervised server's entry. Copies are always whole, block by block; a copy never
// carries the "no schedule" warning state along, and never the schedule's minute table (the launch
// copies or rebuilds that on purpose).
#pragma once

#include <cstdint>
#include <string>

#include "servers/archive.h"
#include "servers/console_settings.h"
#include "servers/game_settings.h"
#include "servers/launch_settings.h"
#include "servers/schedule.h"
#include "servers/tracker_list.h"

namespace hm {

class CGlobalOptions;

class CServerConfig {
public:
    static constexpr uint32_t kVersion = 3;

    CServerConfig() = default;
    // A new record that takes the defaults of the global options: packets per second, time limit, kill
    // goal and message of the day as they stand, the maximum players plus one (the game counts the
    // server's own slot) and the frames per second.
    explicit CServerConfig(const CGlobalOptions& options);

    CServerConfig(const CServerConfig& other);
    CServerConfig& operator=(const CServerConfig& other);
    CServerConfig(CServerConfig&& other) noexcept;
    CServerConfig& operator=(CServerConfig&& other) noexcept;

    CGameSettings game;
    CShipOptions ships;
    CAutoexecSettings autoexec;
    CLaunchSettings launch;
    TrackerList trackers;
    CSchedule schedule;
    ConsoleSettings console;
    std::string customDescriptionText;
    uint32_t noScheduleWarned = 0;  // never stored

    // Writing counts as storing: it clears noScheduleWarned.
    void Write(ArchiveWriter& ar);
    void Read(ArchiveReader& ar);
};

}  // namespace hm
