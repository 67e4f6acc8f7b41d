// The ordered list of server configurations together with the global options, and their store file
// "KelvaneConfig.dat" in the configuration folder.
//
// Owned by the server manager for the life of the main window; loaded once at start-up, stored at
// shutdown and every 15 minutes, all on the user-interface thread. A damaged file is set aside, never
// overwritten: when that fails the store refuses to write, so unread data is never lost silently.
#pragma once

#include <string>
#include <vector>

#include "servers/global_options.h"
#include "servers/progress.h"
#include "servers/server_config.h"
#include "servers/store_file.h"

namespace hm {

class CServerConfigArray {
public:
    static constexpr const char* kFileName = "KelvaneConfig.dat";

    CGlobalOptions globalOptions;
    std::vector<CServerConfig> configs;  // list order = order of the server list

    // Absent: list and options keep what they hold. Loaded: both replaced by the file's contents.
    // Damaged: what was read completely is kept and the file set aside (see LastDamagedPath).
    StoreLoad Load(const std::string& configFolder, ProgressSteps* progress);
    // Writes a temporary file and renames it over the old one; false when nothing was written.
    bool Store(const std::string& configFolder, ProgressSteps* progress);

    // Where the last load put the damaged file; "" when it was not damaged or could not be moved.
    const std::string& LastDamagedPath() const { return fileState_.lastDamagedPath; }
    // How the last load and write of the file went (see store_file.h).
    StoreFileState& FileState() { return fileState_; }

    // The whole file as bytes (the store's content without touching the disk).
    std::string Serialize();
    // Reads the options and the list from an archive; the reader's Failed() tells about damage.
    void ReadFrom(ArchiveReader& ar);

private:
    void WriteTo(ArchiveWriter& ar);

    StoreFileState fileState_;
};

}  // namespace hm
