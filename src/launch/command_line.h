// The game server's command line: the arguments the dedicated server executable gets after its own
// name, built from a server's launch settings, the game version and the connection kind.
//
// A pure function, usable on any thread; the launch calls it on the user-interface thread right
// before the process starts. The text is built in a growing string, so no length of path or extra
// arguments can ever be cut or overflow anything. The pieces and their blanks are exactly what the
// game and earlier releases expect, odd double blanks included: never tidy them.
#pragma once

#include <cstdint>
#include <string>

#include "servers/launch_settings.h"

namespace hm {

// The game version as the installation reports it: major in the high 16 bits, minor in the low ones.
inline constexpr uint32_t kGameVersion15 = 0x10005;
// Connection kinds of the game's main configuration.
inline constexpr int kConnectionMeridianOnline = 1;
inline constexpr int kConnectionDirectTcpIp = 2;

// Each piece starts with its own blank, so the result starts with a blank and never repeats the
// executable's name. The lobby port option "-mroport" is used only for the lobby connection on game
// version 1.5 and later; "-nocrashbox" only for a version whose major is at least 1 and minor at least 5.
std::string BuildCommandLine(const CLaunchSettings& launch, uint32_t gameVersion, int connectionKind);

}  // namespace hm
