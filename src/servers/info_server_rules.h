// The rules of the remote info server options dialog without any screen: the accepted port range and
// what OK writes back, including the enable flag that follows the password.
//
// Pure functions, used by the Qt dialog and its tests on the user-interface thread; they never touch
// the live options (the dialog works on a copy).
#pragma once

#include <cstdint>
#include <string>

#include "servers/remote_info_settings.h"

namespace hm {

inline constexpr int64_t kInfoServerPortLow = 1024;
inline constexpr int64_t kInfoServerPortHigh = 65535;

// Empty when port is in 1024..65535, else the range message.
std::string CheckInfoServerPort(int64_t port);

// OK: port and password are taken, and the service is enabled exactly when a password is set (the
// program never runs it without one).
void ApplyInfoServerDialog(uint16_t port, const std::string& password, RemoteInfoSettings& settings);

}  // namespace hm
