#include "servers/anticheat_options.h"

namespace hm {

const char* const kDefaultHostsDenyUri = "http://www.haldmoor.net/Haldmoor/hostdeny.txt";
const char* const kDefaultNicknamesUri = "http://www.haldmoor.net/Haldmoor/aliasdeny.txt";

void AntiCheatOptions::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.Dword(disallowHacked);
    ar.Dword(autoUpdateHostsDeny);
    ar.Dword(hostsDenyLastUpdate);
    ar.String(hostsDenyUri);
    ar.Dword(disallowShort);
    ar.Dword(static_cast<uint32_t>(shortLength));
    ar.Dword(autoUpdateNicknames);
    ar.Dword(nicknamesLastUpdate);
    ar.String(nicknamesUri);
    ar.StringList(disallowedNicknames);
    ar.Dword(removePreviousNicknames);
    ar.Dword(removePreviousHostsDeny);
}

void AntiCheatOptions::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.Get(disallowHacked);
    ar.Get(autoUpdateHostsDeny);
    ar.Get(hostsDenyLastUpdate);
    ar.GetString(hostsDenyUri);
    ar.Get(disallowShort);
    ar.Get(shortLength);
    ar.Get(autoUpdateNicknames);
    ar.Get(nicknamesLastUpdate);
    ar.GetString(nicknamesUri);
    ar.GetStringList(disallowedNicknames);
    if (version >= 2) {
        ar.Get(removePreviousNicknames);
        ar.Get(removePreviousHostsDeny);
    } else {
        // Releases before the switches existed always added to the lists.
        removePreviousNicknames = 0;
        removePreviousHostsDeny = 0;
    }
}

}  // namespace hm
