// Folders and network addresses of the host, collected once when the server manager is built.
//
// Owned by the server manager; read by every module that needs the configuration or log folder.
// Built and changed on the user-interface thread only (the start-up appends the host's addresses).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm {

class CSystemInfo {
public:
    // workingFolder: the current folder at start-up ("" = ask the system).
    explicit CSystemInfo(const std::string& workingFolder = "");

    std::string workingFolder;             // without trailing slash ("/" stays "/" ... as "")
    std::string configFolder;              // workingFolder + "/cfg/"
    std::string logFolder;                 // workingFolder + "/log/"
    std::vector<uint32_t> localAddresses;  // network byte order; 127.0.0.1 first

    // Appends every IPv4 address of the host name (or of "localhost" when it has no name).
    void AddHostAddresses();
    // The text shown as the network address: the second entry when there are two or more (the first
    // real address of the host), else the first, else "not found".
    std::string NetworkAddressText() const;
};

}  // namespace hm
