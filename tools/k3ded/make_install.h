// "k3ded make-install DIR [--version MAJOR.MINOR.BUILD] [--language N]": creates a complete demo
// installation of the game in DIR and registers it in the registry file ($HALDMOOR3_REGISTRY):
// the launcher marker "Kelvane 3.exe", main.exe and ember15.exe (copies of k3ded itself), real HOG2
// mission archives in missions/, network game types and an empty hosts.deny in netgames/, connection
// files in online/, and custom/cache/. Runs on the main thread of a short-lived process; an existing
// installation is overwritten file by file, nothing outside DIR (and the registry file) is touched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm::k3ded {

struct InstallOptions {
    std::string folder;
    uint32_t major = 1, minor = 5, build = 3;
    uint32_t languageType = 0;
    std::string registryPath;  // "" = the default registry file
};

bool ParseInstallOptions(const std::vector<std::string>& args, InstallOptions& options, std::string& error);
// Returns the process exit code; messages go to stdout/stderr.
int MakeInstall(const InstallOptions& options);

// The mission archives of the demo installation: file name and archive bytes.
struct DemoMission {
    std::string fileName;
    std::string archive;
};
std::vector<DemoMission> DemoMissions();

}  // namespace hm::k3ded
