#include "launch/command_line.h"

namespace hm {

std::string BuildCommandLine(const CLaunchSettings& launch, uint32_t gameVersion, int connectionKind) {
    std::string line;
    line += " -dedicated \"" + launch.configFile + "\"";
    line += " -autoexec \"" + launch.autoexecFile + "\"";
    line += " -setdir \"" + launch.setDir + "\"";
    line += " -tempdir \"" + launch.tempDir + "\"";
    const bool lobbyPort = connectionKind == kConnectionMeridianOnline && gameVersion >= kGameVersion15;
    line += (lobbyPort ? " -mroport " : " -useport ") + std::to_string(launch.serverPort);
    line += " -framecap " + std::to_string(launch.framesPerSecond);
    if (!launch.bindAddress.empty()) line += "  -useip " + launch.bindAddress;
    if (launch.gameSpyPort != 0) line += " -gamespyport " + std::to_string(launch.gameSpyPort) + " ";
    if (!launch.gameSpyFile.empty()) line += " -gspyfile \"" + launch.gameSpyFile + "\"";
    if (launch.disableShipLogos) line += " -nomultibmp";
    const uint32_t major = gameVersion >> 16;
    const uint32_t minor = gameVersion & 0xFFFFu;
    if (major >= 1 && minor >= 5) line += " -nocrashbox";
    if (!launch.extraArguments.empty()) line += " " + launch.extraArguments;
    return line;
}

}  // namespace hm
