#include "game/installation_cache.h"

namespace hm {

namespace {

void WriteGameFile(ArchiveWriter& ar, const CGameFile& file) {
    ar.Dword(kGameFileEntryVersion);
    ar.String(file.fileName);
    ar.String(file.title);
    ar.Dword(static_cast<uint32_t>(file.fileTime & 0xFFFFFFFFu));
    ar.Dword(static_cast<uint32_t>(file.fileTime >> 32));
}

void WriteLevel(ArchiveWriter& ar, const CLevelInfo& level) {
    ar.Dword(kLevelEntryVersion);
    ar.Dword(static_cast<uint32_t>(level.levelNumber));
    for (const std::string* text : {&level.briefing, &level.score, &level.mineFile, &level.mineTitle,
                                    &level.introDefault, &level.introMovie, &level.progress, &level.endMovie}) {
        ar.String(*text);
    }
    ar.Dword(static_cast<uint32_t>(level.branch));
    ar.Dword(static_cast<uint32_t>(level.secret));
}

void WriteMission(ArchiveWriter& ar, const CMissionInfo& mission) {
    ar.Dword(kMissionEntryVersion);
    WriteGameFile(ar, mission);
    ar.String(mission.descriptionHeader);
    ar.String(mission.missionName);
    ar.Dword(static_cast<uint32_t>(mission.numLevels));
    ar.String(mission.author);
    ar.StringList(mission.urls);
    ar.Dword(mission.singlePlayer);
    ar.Dword(mission.multiPlayer);
    ar.String(mission.keywords);
    ar.String(mission.description);
    ar.String(mission.ship);
    ar.Dword(mission.endMission);
    ar.Count(mission.levels.size());
    for (const CLevelInfo& level : mission.levels) WriteLevel(ar, level);
}

// false: stop reading (failed reader or unknown layout).
bool ReadGameFile(ArchiveReader& ar, CGameFile& file) {
    uint32_t version = 0;
    if (!ar.Get(version)) return false;
    if (version == 0) return true;  // an entry without contents
    if (version != kGameFileEntryVersion) return false;
    uint32_t low = 0, high = 0;
    ar.GetString(file.fileName);
    ar.GetString(file.title);
    ar.Get(low);
    ar.Get(high);
    file.fileTime = (static_cast<uint64_t>(high) << 32) | low;
    return !ar.Failed();
}

bool ReadLevel(ArchiveReader& ar, CLevelInfo& level) {
    uint32_t version = 0;
    if (!ar.Get(version)) return false;
    if (version == 0) return true;
    if (version != kLevelEntryVersion) return false;
    ar.Get(level.levelNumber);
    for (std::string* text : {&level.briefing, &level.score, &level.mineFile, &level.mineTitle, &level.introDefault,
                              &level.introMovie, &level.progress, &level.endMovie}) {
        ar.GetString(*text);
    }
    ar.Get(level.branch);
    ar.Get(level.secret);
    return !ar.Failed();
}

bool ReadMission(ArchiveReader& ar, CMissionInfo& mission) {
    uint32_t version = 0;
    if (!ar.Get(version)) return false;
    if (version == 0) return true;
    // Older releases wrote other mission layouts that nobody has described; the entry cannot be
    // skipped without knowing its size, so the rest of the cache is left to the next refresh.
    if (version != kMissionEntryVersion) return false;
    if (!ReadGameFile(ar, mission)) return false;
    ar.GetString(mission.descriptionHeader);
    ar.GetString(mission.missionName);
    ar.Get(mission.numLevels);
    ar.GetString(mission.author);
    ar.GetStringList(mission.urls);
    ar.Get(mission.singlePlayer);
    ar.Get(mission.multiPlayer);
    ar.GetString(mission.keywords);
    ar.GetString(mission.description);
    ar.GetString(mission.ship);
    ar.Get(mission.endMission);
    uint32_t count = 0;
    if (!ar.GetCount(count, 4)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        CLevelInfo level;
        if (!ReadLevel(ar, level)) return false;
        mission.levels.push_back(std::move(level));
    }
    return !ar.Failed();
}

template <class T, class ReadEntry>
bool ReadList(ArchiveReader& ar, std::vector<T>& list, ReadEntry readEntry) {
    uint32_t version = 0;
    if (!ar.Get(version)) return false;
    if (version == 0) return true;
    uint32_t count = 0;
    if (!ar.GetCount(count, 4)) return false;
    std::vector<T> read;
    bool complete = true;
    for (uint32_t i = 0; i < count && complete; ++i) {
        T entry;
        complete = readEntry(ar, entry);
        if (complete) read.push_back(std::move(entry));
    }
    list = std::move(read);
    return complete;
}

}  // namespace

void WriteGameFileList(ArchiveWriter& ar, const CGameFileList& list) {
    ar.Dword(kGameFileListVersion);
    ar.Count(list.size());
    for (const CGameFile& file : list) WriteGameFile(ar, file);
}

void WriteMissionList(ArchiveWriter& ar, const CMissionList& list) {
    ar.Dword(kGameFileListVersion);
    ar.Count(list.size());
    for (const CMissionInfo& mission : list) WriteMission(ar, mission);
}

bool ReadGameFileList(ArchiveReader& ar, CGameFileList& list) { return ReadList(ar, list, ReadGameFile); }

bool ReadMissionList(ArchiveReader& ar, CMissionList& list) { return ReadList(ar, list, ReadMission); }

}  // namespace hm
