// The running instance's end of the command channel: receives the commands of later starts and runs
// each on the user-interface thread.
//
// Owned by the front-end (headless or desktop) for the life of its loop. The channel's own thread
// collects complete requests from every client side by side and never waits for the loop; the loop
// hands each answer back when it has run the command.
#pragma once

#include <atomic>
#include <string>

#include "platform/local_channel.h"

namespace hm {

class EventLoop;
class ServerManager;

class CommandServer {
public:
    CommandServer(EventLoop& loop, ServerManager& manager) : loop_(loop), manager_(manager) {}
    ~CommandServer() { Stop(); }

    bool Start(const std::string& name);
    // Called on the loop thread after the loop ended: commands already queued still get their
    // answers; one that comes later is told that the program is ending.
    void Stop();

private:
    EventLoop& loop_;
    ServerManager& manager_;
    LocalServer server_;
    std::atomic<bool> stopping_{false};
    bool stopped_ = false;
};

}  // namespace hm
