#include "launch/server_import.h"

#include <utility>

#include "launch/launch_batch.h"
#include "trackers/tracker_file.h"

namespace hm {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

// Absolute on this system ("/..."), or in the drive form of a batch file written for the game's own
// platform ("C:...").
bool IsAbsolutePath(const std::string& path) {
    return (!path.empty() && IsSeparator(path[0])) || (path.size() > 1 && path[1] == ':');
}

std::string ExistingOrEmpty(const std::string& path) { return FileExists(path) ? path : std::string(); }

}  // namespace

bool InstallationNames::FindMission(const std::string& fileName, std::string& listedName, std::string& title,
                                    int32_t& levelCount) const {
    const CMissionInfo* mission = installation_.FindMission(fileName);
    if (mission == nullptr) return false;
    listedName = mission->fileName;
    title = mission->title;
    levelCount = mission->numLevels;
    return true;
}

bool InstallationNames::FindScript(const std::string& name, std::string& listedName) const {
    const CGameFile* script = installation_.FindScript(name);
    if (script == nullptr) return false;
    listedName = script->title;
    return true;
}

bool InstallationNames::FindConnection(const std::string& name, std::string& listedName) const {
    const CGameFile* connection = installation_.FindConnection(name);
    if (connection == nullptr) return false;
    listedName = connection->title;
    return true;
}

bool InstallationNames::FindExecutable(const std::string& fileName, std::string& listedName) const {
    const CGameFile* executable = installation_.FindExecutable(fileName);
    if (executable == nullptr) return false;
    listedName = executable->fileName;
    return true;
}

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
    const size_t separator = LastSeparator(path);
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return path + extension;
    return path.substr(0, dot) + extension;
}

std::string FolderOf(const std::string& path) {
    const size_t separator = LastSeparator(path);
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string FileNameOf(const std::string& path) {
    const size_t separator = LastSeparator(path);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

ServerFilePaths ProposeServerFiles(const std::string& mainFile) {
    ServerFilePaths paths;
    paths.mainFile = mainFile;
    paths.multiSettingsFile = MultiSettingsFileNamedIn(mainFile);
    if (paths.multiSettingsFile.empty()) paths.multiSettingsFile = ReplaceExtension(mainFile, ".mps");
    paths.autoexecFile = ExistingOrEmpty(ReplaceExtension(mainFile, ".dmfc"));
    // A main file given without a folder lies in the current folder, and so does its tracker file.
    const std::string folder = FolderOf(mainFile);
    const std::string tracker = folder.empty() && !IsAbsolutePath(mainFile) ? "gamespy.cfg" : folder + "/gamespy.cfg";
    paths.trackerFile = ExistingOrEmpty(tracker);
    return paths;
}

void TakePathsFromBatch(const CLaunchSettings& launch, ServerFilePaths& paths) {
    paths.mainFile = launch.configFile;
    const std::string named = MultiSettingsFileNamedIn(paths.mainFile);
    if (!named.empty()) paths.multiSettingsFile = named;
    paths.autoexecFile = launch.autoexecFile;
    // Without "-gspyfile" the folder alone would be taken for a tracker file and fail the import.
    if (launch.gameSpyFile.empty()) return;
    if (IsAbsolutePath(launch.gameSpyFile)) {
        paths.trackerFile = launch.gameSpyFile;
    } else if (!launch.setDir.empty()) {
        paths.trackerFile = launch.setDir;
        if (!IsSeparator(paths.trackerFile.back())) paths.trackerFile += '/';
        paths.trackerFile += launch.gameSpyFile;
    }
}

ServerImportResult ImportServerFiles(std::vector<CServerConfig>& configs, const InstalledNames& installed,
                                     ServerFilePaths paths, const InformationBox& inform,
                                     const ConfigurationEditor& confirm, CServerConfig* imported) {
    CServerConfig config;  // block defaults, not the global options: the files say what they say
    if (!paths.batchFile.empty()) {
        if (!ImportLaunchBatch(config.launch, paths.batchFile, inform)) return ServerImportResult::BatchFailed;
        TakePathsFromBatch(config.launch, paths);
        std::string listed;
        if (installed.FindExecutable(FileNameOf(config.launch.executable), listed)) config.launch.executable = listed;
    }
    if (paths.mainFile.empty()) return ServerImportResult::NoMainFile;
    if (!ImportServerConfigFile(config.game, installed, paths.mainFile, inform)) {
        return ServerImportResult::MainFileFailed;
    }
    if (!ImportMultiSettingsFile(config.ships, paths.multiSettingsFile, inform)) {
        return ServerImportResult::MultiSettingsFailed;
    }
    if (!ImportAutoexecFile(config.autoexec, paths.autoexecFile, inform)) return ServerImportResult::AutoexecFailed;
    if (!ImportTrackerFile(config.trackers, paths.trackerFile, inform)) return ServerImportResult::TrackerFileFailed;
    if (imported != nullptr) *imported = config;
    if (!confirm || !confirm(config)) return ServerImportResult::NotConfirmed;
    configs.push_back(std::move(config));
    return ServerImportResult::Imported;
}

bool ImportServer(CServerConfigArray& configs, const InstalledNames& installed, const std::string& mainFile,
                  const std::string& batchFile, const InformationBox& inform, const Question& confirm,
                  std::string& result) {
    result.clear();
    const InformationBox tell = [&](const std::string& text) {
        result += text;
        result += '\n';
        if (inform) inform(text);
    };
    ServerFilePaths paths;
    if (batchFile.empty()) {
        paths = ProposeServerFiles(mainFile);
        paths.multiSettingsFile = ExistingOrEmpty(paths.multiSettingsFile);
    } else {
        paths.batchFile = batchFile;
    }
    const ConfigurationEditor ask = [&](CServerConfig& config) {
        const std::string question = "Add the imported server configuration \"" + config.game.gameName +
                                     "\" on port " + std::to_string(config.launch.serverPort) + "?";
        return confirm && confirm(question);
    };
    CServerConfig imported;
    const ServerImportResult outcome = ImportServerFiles(configs.configs, installed, paths, tell, ask, &imported);
    switch (outcome) {
        case ServerImportResult::Imported:
            result += "Imported server configuration \"" + imported.game.gameName + "\" on port " +
                      std::to_string(imported.launch.serverPort) + ".";
            return true;
        case ServerImportResult::BatchFailed:
            // A batch that opened but starts no server with an existing file shows no message itself.
            result += result.empty() ? "Import failed: " + batchFile + " starts no server with an existing -dedicated file."
                                     : "Import failed.";
            break;
        case ServerImportResult::NoMainFile:
            result += "Import failed: no main configuration file given.";
            break;
        case ServerImportResult::NotConfirmed:
            result += "Import cancelled.";
            break;
        default:
            result += "Import failed.";
            break;
    }
    return false;
}

bool ImportServer(CServerConfigArray& configs, const CGameInstallation& installation, const std::string& mainFile,
                  const std::string& batchFile, const InformationBox& inform, const Question& confirm,
                  std::string& result) {
    const InstallationNames installed(installation);
    return ImportServer(configs, installed, mainFile, batchFile, inform, confirm, result);
}

}  // namespace hm
