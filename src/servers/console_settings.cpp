#include "servers/console_settings.h"

#include <bit>

namespace hm {

void ConsoleSettings::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.String(password);
    ar.Word(port);
    ar.Dword(logPlayerAddresses);
    ar.Dword(logConsole);
    ar.Dword(logTimestamps);
    ar.String(consoleLogName);
    ar.Dword(static_cast<uint32_t>(playerSlots));
    ar.Dword(minRespawnTime);
    ar.Dword(maxRespawnTime);
    ar.Dword(std::bit_cast<uint32_t>(respawnStep));
    ar.AddressList(addresses);
    ar.StringList(autoCommands);
    ar.Dword(logAllOutput);
    ar.Dword(useJotwell);
    ar.Dword(autoRandom);
    ar.Dword(autoRepeat);
    ar.Dword(autoRepeatMinutes);
    ar.Dword(autoOnlyOne);
    ar.Dword(nextAutoCommand);
}

void ConsoleSettings::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.GetString(password);
    ar.Get(port);
    ar.Get(logPlayerAddresses);
    ar.Get(logConsole);
    ar.Get(logTimestamps);
    ar.GetString(consoleLogName);
    ar.Get(playerSlots);
    ar.Get(minRespawnTime);
    ar.Get(maxRespawnTime);
    uint32_t stepBits = 0;
    if (ar.Get(stepBits)) respawnStep = std::bit_cast<float>(stepBits);
    ar.GetAddressList(addresses);
    ar.GetStringList(autoCommands);
    if (version >= 2) ar.Get(logAllOutput);
    if (version >= 3) ar.Get(useJotwell);
    if (version >= 4) {
        ar.Get(autoRandom);
        ar.Get(autoRepeat);
        ar.Get(autoRepeatMinutes);
    }
    if (version >= 5) ar.Get(autoOnlyOne);
    if (version >= 6) ar.Get(nextAutoCommand);
}

}  // namespace hm
