#include "servers/system_info.h"

#include "platform/files.h"
#include "platform/socket.h"

namespace hm {

namespace {
uint32_t Loopback() {
    uint32_t address = 0;
    ParseAddress("127.0.0.1", address);
    return address;
}
}  // namespace

CSystemInfo::CSystemInfo(const std::string& folder) {
    workingFolder = folder.empty() ? fs::CurrentDirectory() : folder;
    if (!workingFolder.empty() && workingFolder.back() == '/') workingFolder.pop_back();
    configFolder = workingFolder + "/cfg/";
    logFolder = workingFolder + "/log/";
    fs::CreateFolder(configFolder);
    fs::CreateFolder(logFolder);
    localAddresses.push_back(Loopback());
}

void CSystemInfo::AddHostAddresses() {
    std::string host = HostName();
    if (host.empty()) host = "localhost";
    for (uint32_t address : ResolveIPv4(host)) localAddresses.push_back(address);
}

std::string CSystemInfo::NetworkAddressText() const {
    if (localAddresses.size() >= 2) return AddressText(localAddresses[1]);
    if (!localAddresses.empty()) return AddressText(localAddresses[0]);
    return "not found";
}

}  // namespace hm
