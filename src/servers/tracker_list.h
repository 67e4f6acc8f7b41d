// The game trackers one server announces itself to: the list written into the server's tracker file
// before each launch, the switch that enables that file, and a stored web-tracker switch.
//
// Plain record, member of every CServerConfig; edited on the user-interface thread. This module holds
// only the data and its stored form; reading and writing the game's tracker file belong to the tracker
// module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "servers/archive.h"

namespace hm {

// The trackers a new list holds: a GameSpy master tracker on 27900, a second tracker on 22999 and a
// third on 27900.
extern const char* const kDefaultTrackers[3];

class TrackerList {
public:
    static constexpr uint32_t kVersion = 1;

    TrackerList();

    uint32_t enabled = 1;           // 0: the tracker file is written empty
    uint32_t postToWebTracker = 0;  // stored and shown, never acted upon
    std::vector<std::string> trackers;  // "host:port"

    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

}  // namespace hm
