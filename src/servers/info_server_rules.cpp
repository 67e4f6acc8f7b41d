#include "servers/info_server_rules.h"

#include "servers/global_options_rules.h"

namespace hm {

std::string CheckInfoServerPort(int64_t port) {
    if (port >= kInfoServerPortLow && port <= kInfoServerPortHigh) return std::string();
    return RangeMessage(kInfoServerPortLow, kInfoServerPortHigh);
}

void ApplyInfoServerDialog(uint16_t port, const std::string& password, RemoteInfoSettings& settings) {
    settings.port = port;
    settings.password = password;
    settings.enabled = password.empty() ? 0 : 1;
}

}  // namespace hm
