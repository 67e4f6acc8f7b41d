// The one Kelvane 3 installation whose servers this program runs: its folder and version from the
// game's registry key, and the four lists of what is installed (server executables, missions, network
// game types, online connection types), cached between runs in "KelvaneInfo.dat" and brought up to
// date against the game folder by file names and last-write times.
//
// Owned by the server manager and used on the user-interface thread only; other modules read the
// folder, the version and the lists through it. Construction reads the registry and sets the game's
// "LanguageType" to 0 for the run; destruction (or RestoreLanguageType) puts the old value back.
// It never deletes or overwrites a cache file it could not read, never stores lists it has not
// loaded or refreshed in this run, and never opens an entry of the missions folder that is not a
// regular file (a FIFO there would block the start-up for ever).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "game/game_files.h"
#include "platform/registry.h"
#include "servers/progress.h"
#include "servers/store_file.h"

namespace hm {

inline constexpr const char* kGameKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3";
inline constexpr const char* kGameVersionKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3\\Version";
inline constexpr const char* kGameLauncher = "Kelvane 3.exe";
inline constexpr const char* kMainExecutable = "main.exe";

// Reads a mission archive of `folder` into `mission` (which arrives with file name, title and time)
// and appends it to `list` when it is usable. The mission archive module provides the real one.
using MissionArchiveReader = std::function<void(CMissionList& list, const std::string& folder, CMissionInfo mission)>;
// Stands for the view's open-file dialog: preset file name, filter; false for cancel.
using GameFilePicker = std::function<bool(const std::string& presetName, const std::string& filter, std::string& chosen)>;
// Shows an information box.
using InformationBox = std::function<void(const std::string& text)>;
// Takes an event line (the owner adds it to the event list).
using EventReporter = std::function<void(const std::string& text)>;

class CGameInstallation {
public:
    static constexpr const char* kFileName = "KelvaneInfo.dat";
    static constexpr uint32_t kMaxBaseDirectory = 260;  // bytes, terminator included

    // Reads folder, language value and version from the registry (see the header comment).
    CGameInstallation(Registry& registry, MissionArchiveReader readMission);
    ~CGameInstallation();
    CGameInstallation(const CGameInstallation&) = delete;
    CGameInstallation& operator=(const CGameInstallation&) = delete;

    // True when the game folder holds the launcher; otherwise the folder becomes empty.
    bool HasGameExecutable();
    // restart false: done when the folder is valid, else asks for the launcher and takes its folder.
    // restart true: asks, stores the choice in the registry for the next start, tells the operator.
    // False when the operator cancels.
    bool SelectGameFolder(bool restart, const GameFilePicker& pick, const InformationBox& inform);
    // Start-up: a valid folder, or the operator's choice of one. False ends the start.
    bool Initialize(const GameFilePicker& pick, const InformationBox& inform) {
        return SelectGameFolder(false, pick, inform);
    }

    // Where the refresh reports entries of the missions folder that it skips because they are no
    // archives it may open (a folder, a FIFO, a device, an unreadable file); each one once per run.
    void SetEventReporter(EventReporter report) { report_ = std::move(report); }

    void RefreshInstallation();
    // inform empty: no messages.
    bool CheckInstallation(const InformationBox& inform = {});

    StoreLoad LoadInstallationInfo(const std::string& configFolder, ProgressSteps* progress);
    bool StoreInstallationInfo(const std::string& configFolder, ProgressSteps* progress);
    // Where a damaged cache file was put by the last load ("" when none or when it could not be moved).
    const std::string& LastDamagedPath() const { return fileState_.lastDamagedPath; }
    // How the last load and write of the cache file went. An unreadable cache never blocks its store:
    // it is rebuilt from the game folder.
    StoreFileState& FileState() { return fileState_; }

    // Writes the language value found at start back (once); destruction does it when not done yet.
    void RestoreLanguageType();

    const CMissionInfo* FindMission(const std::string& fileName) const;
    const CGameFile* FindScript(const std::string& title) const;
    const CGameFile* FindConnection(const std::string& title) const;
    const CGameFile* FindExecutable(const std::string& fileName) const;

    const std::string& GameFolder() const { return gameFolder_; }
    uint32_t Version() const { return version_; }
    const std::string& VersionText() const { return versionText_; }
    int64_t LanguageType() const { return languageType_; }  // -1: could not be read

    const CGameFileList& Executables() const { return executables_; }
    const CMissionList& Missions() const { return missions_; }
    const CGameFileList& Scripts() const { return scripts_; }
    const CGameFileList& Connections() const { return connections_; }

    // The cache file's contents as StoreInstallationInfo writes them.
    std::string SerializeInfo() const;
    // Reads the four lists; false when the reader failed (the lists hold what was read completely).
    bool ReadInfo(ArchiveReader& ar, ProgressSteps* progress);

    // The folder-listing step shared by the four lists (public for the tests of the list rules).
    static void SyncFileList(CGameFileList& list, const std::string& folder, const std::vector<std::string>& patterns);
    // Only regular files are handed to readMission; every other "*.mn3" entry is skipped with a line
    // to report (when given).
    static void SyncMissionList(CMissionList& list, const std::string& folder, const MissionArchiveReader& readMission,
                                const EventReporter& report = {});

private:
    void WriteInfo(ArchiveWriter& ar, ProgressSteps* progress) const;

    Registry& registry_;
    MissionArchiveReader readMission_;
    std::string gameFolder_;
    uint32_t version_ = 0;
    std::string versionText_ = "unknown";
    int64_t languageType_ = -1;
    bool languageRestored_ = false;
    CGameFileList executables_;
    CMissionList missions_;
    CGameFileList scripts_;
    CGameFileList connections_;

    EventReporter report_;
    std::vector<std::string> reportedSkips_;  // lines already reported in this run
    bool listsKnown_ = false;    // loaded or refreshed in this run
    StoreFileState fileState_;
};

}  // namespace hm
