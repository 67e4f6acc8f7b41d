// The one queue through which the server's I/O threads hand what they received to the main thread,
// which alone owns the game state: so the game logic stays single-threaded although the platform's
// sockets block. Producers: the UDP reader, the console listener and one reader per console
// connection. Push never blocks for long; Pop waits at most the given time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace hm::k3ded {

struct ServerEvent {
    enum class Kind { Datagram, ConsoleOpened, ConsoleLine, ConsoleLineTooLong, ConsoleClosed };
    Kind kind = Kind::Datagram;
    int connection = 0;        // console connection id
    std::string text;          // datagram or command line
    uint32_t address = 0;      // datagram sender, network byte order
    uint16_t port = 0;
};

class EventQueue {
public:
    void Push(ServerEvent event) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            // A flood cannot grow memory without bound: beyond this the oldest input is dropped, as a
            // busy game server drops packets.
            if (events_.size() >= 10000) events_.pop_front();
            events_.push_back(std::move(event));
        }
        ready_.notify_one();
    }
    bool Pop(ServerEvent& event, uint32_t waitMs) {
        std::unique_lock<std::mutex> lock(lock_);
        if (!ready_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !events_.empty(); }))
            return false;
        event = std::move(events_.front());
        events_.pop_front();
        return true;
    }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<ServerEvent> events_;
};

}  // namespace hm::k3ded
