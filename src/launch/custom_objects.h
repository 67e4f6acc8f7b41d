// Custom objects of a hosted mission: the ".oof" files of its archive that the game server needs in
// the game folder. A launch extracts them and records their names in a list file named after the
// mission in "custom/cache"; a stop removes the ones no other mission's list still names, so an object
// shared by several missions stays until the last of them stops.
//
// Runs on the user-interface thread during a launch or a stop. It never writes or deletes outside
// the game folder (names that are paths are refused), never overwrites a file, and only ever deletes
// objects that an extraction wrote: a file that was in the game folder before is left alone. An
// archive is never read whole: its directory is read a block at a time and each object is copied
// from where it lies, so a huge archive costs no more memory than a small one.
#pragma once

#include <string>

#include "eventlog/event_log.h"

namespace hm {

// Negative results of the two operations; callers only log counts above 0.
enum CustomObjectResult : int {
    kMissionNameInvalid = -1,  // empty, or not a plain file name
    kGameFolderEmpty = -2,
    kOutOfMemory = -3,
    kArchiveOpenFailed = -4,
    kArchiveSizeUnknown = -5,
    kArchiveTooSmall = -6,  // 116 bytes or less
    kArchiveReadFailed = -7,
    kArchiveNotHog2 = -8,
    kArchiveTooFewFiles = -9,  // fewer than 3
    kArchiveDamaged = -10,     // directory or data beyond the end of the file
    kObjectListMissing = -11,
    kNothingRemoved = -12,
};

inline constexpr const char* kCustomObjectExtension = ".oof";

// Extracts every file of missions/<mission> whose name ends with `extension` into the game folder
// (existing files are not overwritten) and records them in custom/cache/<mission>. Returns the
// number of objects the mission has there, 0 for the game's own mission "k3.mn3", or a code above.
int ExtractCustomObjects(const std::string& mission, const std::string& gameFolder, const std::string& extension);

// Deletes the objects of the mission's list that no other list names, then the list. Returns the
// number deleted, or a negative code when none was.
int RemoveCustomObjects(const std::string& mission, const std::string& gameFolder);

// The launch and stop steps with their event lines; `missionFile` is the configuration's mission,
// mapped here as the game maps it. An archive that cannot be opened or is damaged, and so yields no
// objects, is named in an event line.
int ExtractMissionObjects(EventLogList& events, unsigned serverPort, const std::string& missionFile,
                          const std::string& gameFolder);
int RemoveMissionObjects(EventLogList& events, unsigned serverPort, const std::string& missionFile,
                         const std::string& gameFolder);

}  // namespace hm
