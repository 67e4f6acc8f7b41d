// Demo server configurations for a demo installation: what an administrator would have set up in the
// server list, written as the program's own store so that the program starts them at once.
// Used only by "k3ded demo-configs"; never touches an existing store.
#pragma once

#include <string>
#include <vector>

namespace hm::k3ded {

// Writes "KelvaneConfig.dat" into cfgFolder: the automatic start on, COUNT configurations (three by
// default) on basePort, basePort + 1, ... (missions in turn; every third one scheduled all week).
// Returns the exit code; refuses to replace an existing store.
int WriteDemoConfigs(const std::vector<std::string>& args);

}  // namespace hm::k3ded
