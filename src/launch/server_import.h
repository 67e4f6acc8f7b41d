// Taking over a game server that was set up by hand: the server files dialog's rules (the paths it
// proposes once a main configuration file is chosen, the paths a launch batch file supplies) and the
// import chain that reads batch, main, multi settings, autoexec and tracker files into a new
// configuration and appends it to the stored list.
//
// Called on the user-interface thread by the server list's import command (desktop) and by the
// headless "import" command. The chain builds the configuration aside and appends it only when every
// file was read and the operator confirmed it, so a failed or cancelled import never leaves a
// half-filled configuration in the list. Messages go through the front-end's information box.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "game/game_installation.h"
#include "servers/game_config_files.h"
#include "servers/launch_settings.h"
#include "servers/server_config.h"
#include "servers/server_config_array.h"

namespace hm {

// Asks the operator; true for yes.
using Question = std::function<bool(const std::string& question)>;
// Shows the configuration for confirmation (the configuration dialog on the desktop, which may also
// change it); true when the operator accepts it.
using ConfigurationEditor = std::function<bool(CServerConfig& config)>;

// The five fields of the server files dialog.
struct ServerFilePaths {
    std::string batchFile;
    std::string mainFile;
    std::string multiSettingsFile;
    std::string autoexecFile;
    std::string trackerFile;
};

// The game installation seen as the importer's name lists.
class InstallationNames : public InstalledNames {
public:
    explicit InstallationNames(const CGameInstallation& installation) : installation_(installation) {}
    bool FindMission(const std::string& fileName, std::string& listedName, std::string& title,
                     int32_t& levelCount) const override;
    bool FindScript(const std::string& name, std::string& listedName) const override;
    bool FindConnection(const std::string& name, std::string& listedName) const override;
    bool FindExecutable(const std::string& fileName, std::string& listedName) const override;

private:
    const CGameInstallation& installation_;
};

// The path with the extension of its file name replaced (or, without one, appended); extension
// includes its dot.
std::string ReplaceExtension(const std::string& path, const std::string& extension);
// Everything before the last path separator; "" for a bare file name.
std::string FolderOf(const std::string& path);
// The file name behind the last path separator.
std::string FileNameOf(const std::string& path);

// What the dialog fills in when a main file is chosen: the multi settings file the main file names
// (when it exists) or the main path with ".mps"; the ".dmfc" file and "gamespy.cfg" beside the main
// file, each only when it exists. batchFile stays empty.
ServerFilePaths ProposeServerFiles(const std::string& mainFile);

// The paths a successfully imported batch supplies: its "-dedicated" and "-autoexec" files, the
// multi settings file the main file names (else the field keeps its value) and the tracker file
// ("-gspyfile" as it stands when absolute, else below the "-setdir" folder; kept when the batch
// names no tracker file).
void TakePathsFromBatch(const CLaunchSettings& launch, ServerFilePaths& paths);

enum class ServerImportResult {
    Imported,
    BatchFailed,
    NoMainFile,
    MainFileFailed,
    MultiSettingsFailed,
    AutoexecFailed,
    TrackerFileFailed,
    NotConfirmed,
};

// The chain: a new configuration with the block defaults; the batch (when given) supplies the launch
// settings and replaces the four file paths; then main, multi settings, autoexec and tracker files,
// each only after the one before succeeded; then confirm; then the configuration is appended to
// configs. An executable the installation lists is kept by its listed file name, since the launch
// looks it up in the game folder. imported (when given) receives the configuration as it was read.
ServerImportResult ImportServerFiles(std::vector<CServerConfig>& configs, const InstalledNames& installed,
                                     ServerFilePaths paths, const InformationBox& inform,
                                     const ConfigurationEditor& confirm, CServerConfig* imported = nullptr);

// The headless command: the paths are the dialog's proposals for mainFile (a proposed multi settings
// file that does not exist is left out, since no operator can correct it) or, with a batch file, what
// the batch supplies. Asks confirm before the configuration is appended. result receives every
// message shown and a closing line for the sender. True only when the configuration was appended.
bool ImportServer(CServerConfigArray& configs, const InstalledNames& installed, const std::string& mainFile,
                  const std::string& batchFile, const InformationBox& inform, const Question& confirm,
                  std::string& result);
bool ImportServer(CServerConfigArray& configs, const CGameInstallation& installation, const std::string& mainFile,
                  const std::string& batchFile, const InformationBox& inform, const Question& confirm,
                  std::string& result);

}  // namespace hm
