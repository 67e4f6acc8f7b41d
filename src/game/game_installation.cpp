#include "game/game_installation.h"

#include <cstdio>

#include "game/installation_cache.h"
#include "platform/files.h"

namespace hm {

namespace {

// A 32-bit registry value as the game reads it: a dword, or exactly four bytes of binary data.
bool ReadDword(Registry& registry, const std::string& key, const std::string& name, uint32_t& out) {
    RegValue value;
    if (!registry.Read(key, name, value)) return false;
    if (value.type == RegType::Dword) {
        out = value.dword;
        return true;
    }
    if (value.type == RegType::Binary && value.binary.size() == 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(value.binary.data());
        out = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
        return true;
    }
    return false;
}

std::string WithoutTrailingSeparator(std::string folder) {
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    return folder;
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Files of `folder` matching any pattern, each name once. An empty folder lists nothing: the game
// folder is empty exactly when no installation was found, and the current folder is not one.
std::vector<std::string> ListFiles(const std::string& folder, const std::vector<std::string>& patterns,
                                   bool includeFolders = false) {
    std::vector<std::string> names;
    if (folder.empty()) return names;
    for (const std::string& pattern : patterns) {
        for (std::string& name : fs::FindFiles(folder, pattern, includeFolders)) {
            bool seen = false;
            for (const std::string& other : names) seen = seen || other == name;
            if (!seen) names.push_back(std::move(name));
        }
    }
    return names;
}

struct ListedFile {
    std::string name;
    uint64_t time;
};

std::vector<ListedFile> ListWithTimes(const std::string& folder, const std::vector<std::string>& patterns,
                                      bool includeFolders = false) {
    std::vector<ListedFile> files;
    for (std::string& name : ListFiles(folder, patterns, includeFolders)) {
        const uint64_t time = FileTimeOf(Join(folder, name));
        files.push_back({std::move(name), time});
    }
    return files;
}

// Drops every entry whose file is gone or has another time; returns the listed files that no
// remaining entry stands for.
template <class T>
std::vector<ListedFile> KeepUnchanged(std::vector<T>& list, std::vector<ListedFile> files) {
    auto same = [](const CGameFile& entry, const ListedFile& file) {
        return entry.fileTime == file.time && EqualsNoCase(entry.fileName, file.name);
    };
    std::vector<T> kept;
    for (T& entry : list) {
        bool found = false;
        for (const ListedFile& file : files) found = found || same(entry, file);
        if (found) kept.push_back(std::move(entry));
    }
    list = std::move(kept);
    std::vector<ListedFile> fresh;
    for (ListedFile& file : files) {
        bool found = false;
        for (const T& entry : list) found = found || same(entry, file);
        if (!found) fresh.push_back(std::move(file));
    }
    return fresh;
}

template <class T>
const T* FindBy(const std::vector<T>& list, const std::string& key, std::string CGameFile::*field) {
    for (const T& entry : list) {
        if (EqualsNoCase(entry.*field, key)) return &entry;
    }
    return nullptr;
}

}  // namespace

CGameInstallation::CGameInstallation(Registry& registry, MissionArchiveReader readMission)
    : registry_(registry), readMission_(std::move(readMission)) {
    std::string folder;
    if (registry_.KeyExists(kGameKey)) {
        RegValue base;
        // A text of 260 bytes or more (with its terminator) does not fit the game's own buffer.
        if (registry_.Read(kGameKey, "BaseDirectory", base) && base.type == RegType::String &&
            base.text.size() < kMaxBaseDirectory) {
            folder = WithoutTrailingSeparator(base.text);
        }
        uint32_t language = 0;
        languageType_ = ReadDword(registry_, kGameKey, "LanguageType", language) ? static_cast<int64_t>(language) : -1;
        if (languageType_ != 0) registry_.Write(kGameKey, "LanguageType", RegValue::Dword(0));
    }
    gameFolder_ = folder;
    HasGameExecutable();

    if (registry_.KeyExists(kGameVersionKey)) {
        uint32_t major = 0, minor = 0, build = 0;
        if (!ReadDword(registry_, kGameVersionKey, "Build", build)) build = 0;
        if (!ReadDword(registry_, kGameVersionKey, "Major", major) ||
            !ReadDword(registry_, kGameVersionKey, "Minor", minor)) {
            major = minor = 0;
        }
        version_ = (major << 16) | minor;
        if (version_ != 0) {
            char text[48];
            std::snprintf(text, sizeof text, "%u.%u.%u", major, minor, build);
            versionText_ = text;
        }
    }
}

CGameInstallation::~CGameInstallation() { RestoreLanguageType(); }

void CGameInstallation::RestoreLanguageType() {
    if (languageRestored_) return;
    languageRestored_ = true;
    if (languageType_ == -1) return;
    registry_.Write(kGameKey, "LanguageType", RegValue::Dword(static_cast<uint32_t>(languageType_)));
}

bool CGameInstallation::HasGameExecutable() {
    // The launcher is looked up as Windows would, whatever the case of its name on disk.
    if (!gameFolder_.empty() && fs::IsDirectory(gameFolder_) && !fs::FindFiles(gameFolder_, kGameLauncher).empty()) {
        return true;
    }
    gameFolder_.clear();
    return false;
}

bool CGameInstallation::SelectGameFolder(bool restart, const GameFilePicker& pick, const InformationBox& inform) {
    if (!restart && HasGameExecutable()) return true;
    std::string chosen;
    const std::string filter = std::string(kGameLauncher) + "|" + kGameLauncher + "||";
    if (!pick || !pick(kGameLauncher, filter, chosen)) return false;
    // The dialog only returns existing files; a picker that does not is treated as a cancel.
    if (!fs::FileExists(chosen) || fs::IsDirectory(chosen)) return false;
    const size_t slash = chosen.find_last_of('/');
    const std::string folder = slash == std::string::npos ? fs::CurrentDirectory() : chosen.substr(0, slash);
    registry_.Write(kGameKey, "BaseDirectory", RegValue::String(folder));
    if (!restart) {
        gameFolder_ = WithoutTrailingSeparator(folder);
    } else if (inform) {
        inform("Program must be restarted to take effect!");
    }
    return true;
}

void CGameInstallation::SyncFileList(CGameFileList& list, const std::string& folder,
                                     const std::vector<std::string>& patterns) {
    for (ListedFile& file : KeepUnchanged(list, ListWithTimes(folder, patterns))) {
        CGameFile entry;
        entry.title = MakeDisplayTitle(file.name);
        entry.fileName = std::move(file.name);
        entry.fileTime = file.time;
        list.push_back(std::move(entry));
    }
    SortByTitle(list);
}

void CGameInstallation::SyncMissionList(CMissionList& list, const std::string& folder,
                                        const MissionArchiveReader& readMission, const EventReporter& report) {
    // Folders are listed too, so that one named like an archive is reported rather than silently absent.
    for (ListedFile& file : KeepUnchanged(list, ListWithTimes(folder, {"*.mn3"}, true))) {
        if (!readMission) continue;
        // Opening refuses a FIFO, device or folder without blocking; only a regular file is read.
        fs::FileReader probe;
        const std::string path = Join(folder, file.name);
        if (!probe.Open(path)) {
            if (report) report("Error: Mission file '" + path + "' skipped: " + probe.result().reason + ".");
            continue;
        }
        probe.Close();
        CMissionInfo entry;
        entry.title = MakeDisplayTitle(file.name);
        entry.fileName = std::move(file.name);
        entry.fileTime = file.time;
        readMission(list, folder, std::move(entry));
    }
    SortByTitle(list);
}

void CGameInstallation::RefreshInstallation() {
    SyncFileList(executables_, gameFolder_, {kMainExecutable, "ember*.exe"});
    for (CGameFile& file : executables_) {
        if (EqualsNoCase(file.fileName, kMainExecutable)) file.title = "Kelvane 3";
        if (EqualsNoCase(file.fileName, "ember.exe")) file.title = "Cinderfall";
    }

    const std::string base = gameFolder_.empty() ? std::string() : gameFolder_ + "/";
    SyncMissionList(missions_, gameFolder_.empty() ? "" : base + "missions", readMission_,
                    [this](const std::string& text) {
                        // A refresh runs at every dialog; the operator hears of an entry once.
                        for (const std::string& reported : reportedSkips_) {
                            if (reported == text) return;
                        }
                        reportedSkips_.push_back(text);
                        if (report_) report_(text);
                    });
    // The game's own mission comes in two archives; only the first one is a mission to choose.
    for (size_t i = 0; i < missions_.size();) {
        if (EqualsNoCase(missions_[i].fileName, "k3_2.mn3")) {
            missions_.erase(missions_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }

    SyncFileList(scripts_, gameFolder_.empty() ? "" : base + "netgames", {"*.k3m"});
    SyncFileList(connections_, gameFolder_.empty() ? "" : base + "online", {"*.k3c"});
    listsKnown_ = true;
}

bool CGameInstallation::CheckInstallation(const InformationBox& inform) {
    auto tell = [&](const char* text) {
        if (inform) inform(text);
    };
    if (!FindExecutable(kMainExecutable)) tell("Kelvane 3's main.exe not found!");
    if (missions_.empty()) {
        tell("No mission files (*.mn3) found!");
        return false;
    }
    if (scripts_.empty()) {
        tell("No netgames files (*.k3m) found!");
        return false;
    }
    if (connections_.empty()) {
        tell("No online files (*.k3c) found!");
        return false;
    }
    return true;
}

bool CGameInstallation::ReadInfo(ArchiveReader& ar, ProgressSteps* progress) {
    auto step = [&](const char* text) {
        if (progress) progress->Step(text);
    };
    step("Loading Kelvane executable info...");
    if (!ReadGameFileList(ar, executables_)) return !ar.Failed();
    step("Loading Kelvane mission info...");
    if (!ReadMissionList(ar, missions_)) return !ar.Failed();
    step("Loading Kelvane network info...");
    if (!ReadGameFileList(ar, scripts_)) return !ar.Failed();
    step("Loading Kelvane online info...");
    ReadGameFileList(ar, connections_);
    return !ar.Failed();
}

StoreLoad CGameInstallation::LoadInstallationInfo(const std::string& configFolder, ProgressSteps* progress) {
    // A damaged file that could not be set aside must not be replaced behind the operator's back; an
    // unreadable one is only a cache and is rebuilt.
    const StoreLoad loaded = LoadStoreFile(
        StorePath(configFolder, kFileName), [&](ArchiveReader& ar) { ReadInfo(ar, progress); }, fileState_, false);
    if (loaded == StoreLoad::Loaded || loaded == StoreLoad::Damaged) listsKnown_ = true;
    return loaded;
}

void CGameInstallation::WriteInfo(ArchiveWriter& ar, ProgressSteps* progress) const {
    auto step = [&](const char* text) {
        if (progress) progress->Step(text);
    };
    step("Storing Kelvane executable info...");
    WriteGameFileList(ar, executables_);
    step("Storing Kelvane mission info...");
    WriteMissionList(ar, missions_);
    step("Storing Kelvane network info...");
    WriteGameFileList(ar, scripts_);
    step("Storing Kelvane online info...");
    WriteGameFileList(ar, connections_);
}

std::string CGameInstallation::SerializeInfo() const {
    std::string data;
    {
        ArchiveWriter ar(&data);
        WriteInfo(ar, nullptr);
    }
    return data;
}

bool CGameInstallation::StoreInstallationInfo(const std::string& configFolder, ProgressSteps* progress) {
    // Lists that were never read nor refreshed in this run say nothing about the installation (a
    // start that failed before finding the game): the cache of the last good run stays.
    if (!listsKnown_ || fileState_.storeBlocked) return false;
    const std::string path = StorePath(configFolder, kFileName);
    if (missions_.empty() || scripts_.empty() || connections_.empty()) {
        fs::DeleteFile(path);
        return true;
    }
    return StoreStoreFile(path, nullptr, nullptr, [&](ArchiveWriter& ar) { WriteInfo(ar, progress); }, fileState_);
}

const CMissionInfo* CGameInstallation::FindMission(const std::string& fileName) const {
    return FindBy(missions_, fileName, &CGameFile::fileName);
}

const CGameFile* CGameInstallation::FindScript(const std::string& title) const {
    return FindBy(scripts_, title, &CGameFile::title);
}

const CGameFile* CGameInstallation::FindConnection(const std::string& title) const {
    return FindBy(connections_, title, &CGameFile::title);
}

const CGameFile* CGameInstallation::FindExecutable(const std::string& fileName) const {
    return FindBy(executables_, fileName, &CGameFile::fileName);
}

}  // namespace hm
