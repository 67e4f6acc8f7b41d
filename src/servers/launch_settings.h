// The command-line side of one game server: executable, files handed to the game, folders, address,
// ports and extra arguments. The launch builds the server's command line from it.
//
// Plain record, member of every CServerConfig; edited on the user-interface thread. Its stored form
// has one version and must stay byte-exact with earlier releases.
#pragma once

#include <cstdint>
#include <string>

#include "servers/archive.h"

namespace hm {

class CLaunchSettings {
public:
    static constexpr uint32_t kVersion = 1;

    std::string executable;    // file name of the game executable in the game folder
    std::string extraName;     // stored, used nowhere else
    std::string configFile;    // -dedicated
    std::string autoexecFile;  // -autoexec
    std::string gameSpyFile;   // -gspyfile
    uint16_t gameSpyPort = 20144;  // -gamespyport
    uint32_t launchFlag = 1;   // stored only; the command line does not depend on it
    std::string tempDir;       // -tempdir; also what proves a re-attached process is this server
    std::string setDir;        // -setdir
    std::string bindAddress;   // -useip
    uint16_t serverPort = 2092;  // the game's UDP port and the server's number in every event text
    uint32_t framesPerSecond = 0;  // -framecap, 0 to 999
    uint32_t disableShipLogos = 0;  // -nomultibmp
    std::string extraArguments;

    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

}  // namespace hm
