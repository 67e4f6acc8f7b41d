#include "launch/custom_objects.h"

#include <unordered_set>
#include <vector>

#include "game/game_files.h"
#include "launch/mission_archive.h"
#include "launch/mission_description.h"
#include "platform/files.h"
#include "servers/game_config_text.h"

namespace hm {

namespace {

std::string WithSeparator(const std::string& folder) {
    return folder.back() == '/' ? folder : folder + "/";
}

std::vector<std::string> ListNames(const std::string& text) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        if (!name.empty() && name.back() == '\r') name.pop_back();
        if (!name.empty()) names.push_back(std::move(name));
        start = end + 1;
    }
    return names;
}

bool Names(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& other : names) {
        if (EqualsNoCase(other, name)) return true;
    }
    return false;
}

// The names of every object list in the cache folder except `exceptMission` (exact name: on a file
// system that tells case apart, "Foo.mn3" and "foo.mn3" are two missions).
std::vector<std::string> NamesInLists(const std::string& cacheFolder, const std::string& exceptMission) {
    std::vector<std::string> names;
    for (const std::string& listName : fs::FindFiles(cacheFolder, "*.mn3")) {
        if (listName == exceptMission) continue;
        std::string text;
        if (!fs::ReadFileLimited(cacheFolder + listName, kTextFileLimit, text).ok()) continue;
        for (std::string& name : ListNames(text)) names.push_back(std::move(name));
    }
    return names;
}

bool EndsWithNoCase(const std::string& name, const std::string& extension) {
    return name.size() > extension.size() &&
           EqualsNoCase(name.substr(name.size() - extension.size()), extension);
}

// Writes the data of `entry` to a new file at target; a failed copy leaves no file behind.
bool WriteObject(Hog2Archive& archive, const Hog2Entry& entry, const std::string& target) {
    fs::AtomicFileWriter writer;
    if (!writer.Open(target)) return false;
    if (!archive.CopyData(entry, writer)) {
        writer.Abandon();
        return false;
    }
    return writer.Commit();
}

}  // namespace

int ExtractCustomObjects(const std::string& mission, const std::string& gameFolder, const std::string& extension) {
    if (mission.empty()) return kMissionNameInvalid;
    if (EqualsNoCase(mission, "k3.mn3")) return 0;
    if (gameFolder.empty()) return kGameFolderEmpty;
    if (!IsPlainFileName(mission)) return kMissionNameInvalid;
    const std::string prefix = WithSeparator(gameFolder);
    const std::string cacheFolder = prefix + "custom/cache/";

    Hog2Archive archive;
    switch (archive.Open(prefix + "missions/" + mission, kHog2HeaderSize + kHog2EntrySize + 1)) {
        case Hog2Archive::Opened::kOk: break;
        case Hog2Archive::Opened::kOpenFailed: return kArchiveOpenFailed;
        case Hog2Archive::Opened::kTooSmall: return kArchiveTooSmall;
        case Hog2Archive::Opened::kReadFailed: return kArchiveReadFailed;
        case Hog2Archive::Opened::kNotHog2: return kArchiveNotHog2;
        case Hog2Archive::Opened::kDamaged:
            // Too few files says more than a directory that does not fit, as the game checks it first.
            return archive.header().fileCount < 3 ? kArchiveTooFewFiles : kArchiveDamaged;
    }
    if (archive.header().fileCount < 3) return kArchiveTooFewFiles;
    // A first pass over the directory: a damaged one writes nothing at all, rather than objects cut
    // from the wrong bytes.
    Hog2Entry entry;
    while (archive.Next(entry)) {
        if (EndsWithNoCase(entry.name, extension) && !Hog2DataFits(entry, archive.size())) return kArchiveDamaged;
    }
    if (archive.failed()) return kArchiveReadFailed;

    const std::string listPath = cacheFolder + mission;
    std::string listText;
    const fs::ReadResult listRead = fs::ReadFileLimited(listPath, kTextFileLimit, listText);
    const bool listExists = listRead.ok();
    // A list that is there but cannot be read (too large, not a file) is the operator's to sort out:
    // it is never written over.
    const bool listUnreadable = !listExists && listRead.status != fs::ReadStatus::kMissing;
    const std::vector<std::string> ownNames = ListNames(listText);
    const std::vector<std::string> otherNames = NamesInLists(cacheFolder, mission);

    std::vector<std::string> remembered;
    std::unordered_set<std::string> seen;  // lower-cased names of the archive's objects met so far
    std::vector<std::string> written;
    archive.Rewind();
    while (archive.Next(entry)) {
        if (!EndsWithNoCase(entry.name, extension) || !IsPlainFileName(entry.name)) continue;
        // The same object twice in one archive counts once; a set keeps a huge directory linear.
        if (!seen.insert(ToLower1252(entry.name)).second) continue;
        const std::string target = prefix + entry.name;
        if (fs::FileExists(target)) {
            // Only an object that an extraction put there belongs to the missions; anything else
            // in the game folder is the game's own and is never taken over.
            if (Names(ownNames, entry.name) || Names(otherNames, entry.name)) remembered.push_back(entry.name);
            continue;
        }
        if (WriteObject(archive, entry, target)) {
            remembered.push_back(entry.name);
            written.push_back(entry.name);
        }
    }

    if (!remembered.empty() && !listUnreadable) {
        std::string text = listText;
        if (!listExists) {
            text.clear();
            for (const std::string& name : remembered) text += name + "\n";
        } else {
            // A list left from an earlier run is kept; objects written now that it lacks are added,
            // so that everything written is removed again at the stop.
            if (!text.empty() && text.back() != '\n') text += "\n";
            for (const std::string& name : written) {
                if (!Names(ownNames, name)) text += name + "\n";
            }
        }
        if (!listExists || text != listText) {
            fs::CreateFolders(cacheFolder);
            fs::ReplaceFileAtomically(listPath, text);
        }
    }
    return static_cast<int>(remembered.size());
}

int RemoveCustomObjects(const std::string& mission, const std::string& gameFolder) {
    if (!IsPlainFileName(mission)) return kMissionNameInvalid;
    if (gameFolder.empty()) return kGameFolderEmpty;
    const std::string prefix = WithSeparator(gameFolder);
    const std::string cacheFolder = prefix + "custom/cache/";
    const std::string listPath = cacheFolder + mission;

    std::string listText;
    if (!fs::ReadFileLimited(listPath, kTextFileLimit, listText).ok()) return kObjectListMissing;
    const std::vector<std::string> otherNames = NamesInLists(cacheFolder, mission);

    int removed = 0;
    for (const std::string& name : ListNames(listText)) {
        // A list is a file anyone could edit: a name that is a path is never deleted.
        if (!IsPlainFileName(name) || Names(otherNames, name)) continue;
        if (fs::DeleteFile(prefix + name)) ++removed;
    }
    fs::DeleteFile(listPath);
    return removed > 0 ? removed : kNothingRemoved;
}

int ExtractMissionObjects(EventLogList& events, unsigned serverPort, const std::string& missionFile,
                          const std::string& gameFolder) {
    const std::string mission = MapMissionFileName(missionFile);
    const int count = ExtractCustomObjects(mission, gameFolder, kCustomObjectExtension);
    if (count == 1) {
        events.AddEvent("Server %u: 1 custom object extracted.", serverPort);
    } else if (count > 1) {
        events.AddEvent("Server %u: %d custom objects extracted.", serverPort, count);
    } else if (count == kArchiveOpenFailed || count == kArchiveTooSmall || count == kArchiveReadFailed ||
               count == kArchiveNotHog2 || count == kArchiveDamaged) {
        // The server may still run without its objects; the operator learns why they are missing.
        const std::string path = WithSeparator(gameFolder) + "missions/" + mission;
        if (count == kArchiveOpenFailed) {
            events.AddEvent("Server %u: Cannot open mission archive '%s'; no custom objects extracted.", serverPort,
                            path.c_str());
        } else {
            events.AddEvent("Server %u: Mission archive '%s' is damaged; no custom objects extracted.", serverPort,
                            path.c_str());
        }
    }
    return count;
}

int RemoveMissionObjects(EventLogList& events, unsigned serverPort, const std::string& missionFile,
                         const std::string& gameFolder) {
    const int count = RemoveCustomObjects(MapMissionFileName(missionFile), gameFolder);
    if (count == 1) {
        events.AddEvent("Server %u: 1 extracted custom object removed.", serverPort);
    } else if (count > 1) {
        events.AddEvent("Server %u: %d extracted custom objects removed.", serverPort, count);
    }
    return count;
}

}  // namespace hm
