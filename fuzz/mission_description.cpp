// Mission descriptions (".msn" text from an archive): parsed into the mission list's record. A mission
// that the list would offer must come back the same from the program's own looping description.
#include <cstdlib>
#include <string>

#include "launch/mission_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hm::CMissionInfo mission;
    hm::ParseMissionDescription(mission, std::string(reinterpret_cast<const char*>(data), size));
    if (!hm::IsUsableMission(mission)) return 0;
    const std::string looping = hm::BuildMissionDescription(mission);
    hm::CMissionInfo again;
    hm::ParseMissionDescription(again, looping);
    if (!hm::IsUsableMission(again) || again.levels.size() != mission.levels.size()) std::abort();
    // The header's one trailing ':' is dropped at every read (a header ending in "::" loses one per
    // round); everything else must read back as written.
    again.descriptionHeader = mission.descriptionHeader;
    if (hm::BuildMissionDescription(again) != looping) std::abort();
    return 0;
}
