// Free ports for a new server: the game port, the remote console port and the GameSpy port must not
// clash with the servers already under supervision (nor the game port with the remote info server),
// nor with a port that another program of the host holds.
//
// Functions over the server list, called on the user-interface thread while the server list is not
// being changed. What the host holds is asked through `takenOnHost` (the caller passes the platform's
// check, tests a fake; empty = the list alone), so the console password never goes to a foreign
// listener on the console port. A search always ends: when every port clashes the result is 0,
// which no caller may take as a port.
#pragma once

#include <cstdint>
#include <functional>

#include "servers/global_options.h"
#include "servers/server_info_array.h"

namespace hm {

inline constexpr unsigned kLowestSearchPort = 1024;   // the search wraps from 65535 to here
inline constexpr unsigned kHighestPort = 65535;

// The answer to a port clash: take the chosen port, leave only this server unstarted, or stop
// handling the rest of the list.
enum class PortAnswer { UsePort, LeaveServer, CancelAll };

using HostPortCheck = std::function<bool(unsigned port)>;

// Each starts at `wanted` and moves up by one on a clash, from 65535 on to 1024, starting the test
// over with the first entry; returns the first candidate without a clash (0 when none is left).
// Game port: clashes with any entry's game port and with the remote info server's port.
unsigned FindFreeGamePort(unsigned wanted, const CServerInfoArray& servers, const CGlobalOptions& options,
                          const HostPortCheck& takenOnHost = {});
// Console port: clashes with the console port of entries that allow the remote console.
unsigned FindFreeConsolePort(unsigned wanted, const CServerInfoArray& servers, const HostPortCheck& takenOnHost = {});
// GameSpy port: clashes with the GameSpy port of entries that report to game trackers.
unsigned FindFreeGameSpyPort(unsigned wanted, const CServerInfoArray& servers, const HostPortCheck& takenOnHost = {});

}  // namespace hm
