#include "launch/custom_objects.h"

#include <new>
#include <vector>

#include "game/game_files.h"
#include "launch/mission_archive.h"
#include "launch/mission_description.h"
#include "platform/files.h"

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
        if (!fs::ReadWholeFile(cacheFolder + listName, text)) continue;
        for (std::string& name : ListNames(text)) names.push_back(std::move(name));
    }
    return names;
}

bool EndsWithNoCase(const std::string& name, const std::string& extension) {
    return name.size() > extension.size() &&
           EqualsNoCase(name.substr(name.size() - extension.size()), extension);
}

int ReadArchive(const std::string& path, std::string& archive) {
    const fs::FileAttributes attributes = fs::GetAttributes(path);
    fs::FileReader reader;
    if (!attributes.exists || attributes.isDirectory || !reader.Open(path)) return kArchiveOpenFailed;
    if (attributes.size <= kHog2HeaderSize + kHog2EntrySize) return kArchiveTooSmall;
    if (attributes.size > archive.max_size()) return kOutOfMemory;
    try {
        archive.assign(static_cast<size_t>(attributes.size), '\0');
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    size_t got = 0;
    while (got < archive.size()) {
        const size_t n = reader.Read(archive.data() + got, archive.size() - got);
        if (n == 0) break;
        got += n;
    }
    return got == archive.size() ? 0 : kArchiveReadFailed;
}

}  // namespace

int ExtractCustomObjects(const std::string& mission, const std::string& gameFolder, const std::string& extension) {
    if (mission.empty()) return kMissionNameInvalid;
    if (EqualsNoCase(mission, "k3.mn3")) return 0;
    if (gameFolder.empty()) return kGameFolderEmpty;
    if (!IsPlainFileName(mission)) return kMissionNameInvalid;
    const std::string prefix = WithSeparator(gameFolder);
    const std::string cacheFolder = prefix + "custom/cache/";

    std::string archive;
    if (const int failed = ReadArchive(prefix + "missions/" + mission, archive)) return failed;
    Hog2Header header;
    if (!ParseHog2Header(archive.data(), header)) return kArchiveNotHog2;
    if (header.fileCount < 3) return kArchiveTooFewFiles;
    if (!Hog2DirectoryFits(header, archive.size())) return kArchiveDamaged;
    std::vector<Hog2Entry> entries;
    try {
        entries = ParseHog2Directory(archive.data() + kHog2HeaderSize, header);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    // A damaged directory writes nothing at all, rather than objects cut from the wrong bytes.
    for (const Hog2Entry& entry : entries) {
        if (EndsWithNoCase(entry.name, extension) && !Hog2DataFits(entry, archive.size())) return kArchiveDamaged;
    }

    const std::string listPath = cacheFolder + mission;
    std::string listText;
    const bool listExists = fs::ReadWholeFile(listPath, listText);
    const std::vector<std::string> ownNames = ListNames(listText);
    const std::vector<std::string> otherNames = NamesInLists(cacheFolder, mission);

    std::vector<std::string> remembered;
    std::vector<std::string> written;
    for (const Hog2Entry& entry : entries) {
        if (!EndsWithNoCase(entry.name, extension) || !IsPlainFileName(entry.name)) continue;
        if (Names(remembered, entry.name)) continue;  // the same object twice in one archive
        const std::string target = prefix + entry.name;
        if (fs::FileExists(target)) {
            // Only an object that an extraction put there belongs to the missions; anything else
            // in the game folder is the game's own and is never taken over.
            if (Names(ownNames, entry.name) || Names(otherNames, entry.name)) remembered.push_back(entry.name);
            continue;
        }
        if (fs::ReplaceFileAtomically(target, archive.substr(static_cast<size_t>(entry.offset), entry.length))) {
            remembered.push_back(entry.name);
            written.push_back(entry.name);
        }
    }

    if (!remembered.empty()) {
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
    if (!fs::ReadWholeFile(listPath, listText)) return kObjectListMissing;
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
    const int count = ExtractCustomObjects(MapMissionFileName(missionFile), gameFolder, kCustomObjectExtension);
    if (count == 1) {
        events.AddEvent("Server %u: 1 custom object extracted.", serverPort);
    } else if (count > 1) {
        events.AddEvent("Server %u: %d custom objects extracted.", serverPort, count);
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
