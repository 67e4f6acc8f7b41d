// The running instance's end of the command channel: receives the commands of later starts and runs
// each on the user-interface thread.
//
// Owned by the front-end (headless or desktop) for the life of its loop. The channel's own thread
// collects complete requests from every client side by side and never waits for the loop; the loop
// hands each answer back when it has run the command. A command that waits for a game server (a
// console reply) is answered later from that console's worker thread; once the channel is stopped
// such a late answer is dropped (the client has been told that the program is ending).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
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
    // Where late answers go; Stop detaches it, so a console worker that answers after the channel
    // closed reaches nothing.
    struct LateAnswers {
        std::mutex lock;
        LocalServer* server = nullptr;
        void Answer(uint64_t id, const std::string& answer) {
            std::lock_guard<std::mutex> guard(lock);
            if (server) server->Answer(id, answer);
        }
    };

    EventLoop& loop_;
    ServerManager& manager_;
    LocalServer server_;
    std::shared_ptr<LateAnswers> late_ = std::make_shared<LateAnswers>();
    std::atomic<bool> stopping_{false};
    bool stopped_ = false;
};

}  // namespace hm
