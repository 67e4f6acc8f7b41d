// Mission archives: the HOG2 files ("*.mn3") of the game's "missions" folder. Reads an archive's
// directory and its mission description for the mission list, and gives the extraction of custom
// objects the same directory reader.
//
// Pure file reading, usable on any thread (the mission list is built on the user-interface thread).
// An archive is outside data: every count, length and offset is checked against the file's size
// before it is used, so a damaged or hostile archive is simply not listed; nothing here writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/game_files.h"

namespace hm {

inline constexpr size_t kHog2HeaderSize = 68;
inline constexpr size_t kHog2EntrySize = 48;
inline constexpr size_t kHog2NameField = 40;  // the name is zero-terminated within it; the length follows

struct Hog2Header {
    uint32_t fileCount = 0;
    uint32_t dataOffset = 0;  // where the first file's data starts
};

struct Hog2Entry {
    std::string name;
    uint64_t offset = 0;  // from the start of the archive
    uint32_t length = 0;
};

// `header` holds the first kHog2HeaderSize bytes; false unless they begin with "HOG2".
bool ParseHog2Header(const char* header, Hog2Header& out);
// `directory` holds header.fileCount entries; each file's data follows the ones before it.
std::vector<Hog2Entry> ParseHog2Directory(const char* directory, const Hog2Header& header);
// True when the directory and the data of `entry` lie inside a file of `fileSize` bytes.
bool Hog2DirectoryFits(const Hog2Header& header, uint64_t fileSize);
bool Hog2DataFits(const Hog2Entry& entry, uint64_t fileSize);

// A name that may be used as a file name inside one folder: not empty, no path separator, no drive,
// no "..", no control bytes. Names from archives and object lists that fail this are never written or deleted.
bool IsPlainFileName(const std::string& name);

// Reads the first ".msn" file of the archive at `path` into `mission` (ParseMissionDescription).
// False when the archive cannot be read, is not HOG2, is damaged or holds no description.
bool ReadMissionDescriptionFromArchive(const std::string& path, CMissionInfo& mission);

// Reads the archive `mission.fileName` of `folder` and appends the mission to `list` when it is usable
// (named, with at least one level). The reader CGameInstallation uses for new and changed archives.
void ReadMissionArchive(CMissionList& list, const std::string& folder, CMissionInfo mission);

}  // namespace hm
