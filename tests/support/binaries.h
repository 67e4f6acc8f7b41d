// Where the tests find the programs of the build (haldmoor3, k3ded, libjotwell.so): CTest passes the
// build's bin folder in HM_BIN_DIR; a test started by hand from the source folder falls back to
// build/bin.
#pragma once

#include <cstdlib>
#include <string>

namespace hm::test_support {

inline std::string BinDir() {
    const char* dir = std::getenv("HM_BIN_DIR");
    return dir ? dir : "build/bin";
}

}  // namespace hm::test_support
