// The remote info service (the UDP server the companion tool queries) as the server manager sees it:
// stopped and started again when the global options dialog changed its settings.
//
// Implemented by the remote info server and set on the manager, which calls it on the user-interface
// thread only. Neither call may block for longer than it takes to close or bind a socket and end or
// start the service's thread; neither reports to the operator other than through the event list.
#pragma once

#include "servers/remote_info_settings.h"

namespace hm {

class InfoService {
public:
    virtual ~InfoService() = default;
    // Stops the service when it runs ("Remote info server stopped"); quiet when it does not.
    virtual void Stop() = 0;
    // Starts the service with a copy of these settings; a service that runs already only takes the
    // new password.
    virtual void Start(const RemoteInfoSettings& settings) = 0;
};

}  // namespace hm
