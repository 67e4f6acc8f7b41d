// Where the tests find the programs of the build (haldmoor3, k3ded, libjotwell.so): CTest passes the
// build's bin folder in HM_BIN_DIR; a test started by hand from the source folder falls back to
// build/bin.
#pragma once

#include <cstdlib>
#include <string>

#include "platform/process.h"

namespace hm::test_support {

inline std::string BinDir() {
    const char* dir = std::getenv("HM_BIN_DIR");
    return dir ? dir : "build/bin";
}

// Makes a game installation with "k3ded make-install" in root/game, registered through the variables
// of environment ("NAME=value ..." with a trailing blank). Returns k3ded's exit code (-1: no run).
inline int MakeInstallation(const std::string& root, const std::string& environment) {
    auto maker = Process::Spawn("/usr/bin/env", environment + BinDir() + "/k3ded make-install " + root + "/game", root,
                                root + "/make-install.out");
    if (!maker || maker->Wait(60000) != Process::WaitResult::Exited) return -1;
    return maker->ExitCode();
}

}  // namespace hm::test_support
