// The remote-console part of one server's configuration: password, port and addresses to connect to,
// console log switches, the dynamic respawn bounds and the operator's automatic commands.
//
// Plain record, member of every CServerConfig; edited by the console options dialog on the
// user-interface thread. A remote console takes its own copy at construction and never sees later
// edits, so no lock is needed. The launch refills the derived fields (addresses, log name, respawn
// values) before every start; they are stored all the same, so the stored form stays byte-exact.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "servers/archive.h"

namespace hm {

class ConsoleSettings {
public:
    static constexpr uint32_t kVersion = 6;

    std::string password;
    std::vector<uint32_t> addresses;  // network byte order, tried in list order
    uint16_t port = 2092;
    uint32_t logPlayerAddresses = 0;
    uint32_t logConsole = 0;
    uint32_t logTimestamps = 1;
    std::string consoleLogName;
    std::vector<std::string> autoCommands;
    int32_t playerSlots = 4;        // the server's maximum players minus one
    uint32_t minRespawnTime = 15;   // seconds
    uint32_t maxRespawnTime = 30;   // seconds
    float respawnStep = -1.0f;      // seconds per player; -1 = dynamic respawn off
    uint32_t logAllOutput = 0;
    uint32_t useJotwell = 0;
    uint32_t autoRandom = 0;
    uint32_t autoRepeat = 0;
    uint32_t autoRepeatMinutes = 60;  // 1 to 1440
    uint32_t autoOnlyOne = 0;
    uint32_t nextAutoCommand = 0;

    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

}  // namespace hm
