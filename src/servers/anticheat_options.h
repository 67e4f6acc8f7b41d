// The program-wide anti-cheat settings: nickname rules, the list of disallowed nicknames and the
// switches and addresses of the two list downloads (banned addresses and banned nicknames).
//
// One record inside CGlobalOptions. Read by every console connection's parser and written by the
// update thread's merge and the anti-cheat dialog without a lock, as the program has always done; this
// module holds only the data and its stored form, the rules themselves belong to the anti-cheat module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "servers/archive.h"

namespace hm {

extern const char* const kDefaultHostsDenyUri;
extern const char* const kDefaultNicknamesUri;

class AntiCheatOptions {
public:
    static constexpr uint32_t kVersion = 2;

    uint32_t disallowHacked = 0;
    uint32_t autoUpdateHostsDeny = 0;
    uint32_t hostsDenyLastUpdate = 0;  // ms tick, 0 = never
    std::string hostsDenyUri = kDefaultHostsDenyUri;
    uint32_t disallowShort = 0;
    int32_t shortLength = 1;  // 1 to 4
    uint32_t autoUpdateNicknames = 0;
    uint32_t nicknamesLastUpdate = 0;  // ms tick, 0 = never
    std::string nicknamesUri = kDefaultNicknamesUri;
    std::vector<std::string> disallowedNicknames;
    uint32_t removePreviousNicknames = 1;
    uint32_t removePreviousHostsDeny = 1;

    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

}  // namespace hm
