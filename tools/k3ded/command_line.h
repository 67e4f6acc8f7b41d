// The dedicated server's command line, as the supervising program builds it: "-dedicated FILE
// -autoexec FILE -setdir DIR -tempdir DIR -useport N (or -mroport N) -framecap N [-useip A]
// [-gamespyport N] [-gspyfile FILE] [-nomultibmp] [-nocrashbox] [extra options]".
// Parsed once on the main thread at start. Unknown options are kept (the operator's extra arguments
// may hold anything) but never acted on; a malformed number is an error, never a silent default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm::k3ded {

struct ServerOptions {
    std::string configFile;     // -dedicated
    std::string autoexecFile;   // -autoexec
    std::string setDir;         // -setdir (the game folder)
    std::string tempDir;        // -tempdir (this server's cache folder)
    uint16_t gamePort = 2092;   // -useport / -mroport
    bool mroPort = false;       // the port came with -mroport
    uint32_t frameCap = 0;      // -framecap
    std::string bindAddress;    // -useip, dotted
    uint16_t gameSpyPort = 0;   // -gamespyport
    std::string gameSpyFile;    // -gspyfile
    bool noMultiBmp = false;
    bool noCrashBox = false;
    std::vector<std::string> unknown;  // options we do not know, as given
};

// args: argv[1..]. false with error set when an option lacks its value or a number is malformed.
bool ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options, std::string& error);

}  // namespace hm::k3ded
