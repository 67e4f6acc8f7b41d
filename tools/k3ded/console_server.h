// The remote console's network side: a TCP listener, one reader thread per connection that cuts the
// received bytes into command lines, and the output framing. Everything the game prints reaches every
// logged-in connection as a burst ended by a NUL byte; every burst but the first after login starts
// with the 4-byte colour code, which the console's readers drop together with the NUL that ended the
// burst before it. Until a connection sends its first command after login its output is held back
// and then sent with that command's reply, so that this first burst never needs the colour code.
//
// Threads: Start() spawns the listener; each accepted connection gets its own reader. Both only push
// events to the EventQueue. Every other member is called from the server's main thread only. While
// the hang flag is set no thread reads or accepts anything. Never blocks the main thread for longer
// than one send time-out per connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "event_queue.h"
#include "platform/socket.h"

namespace hm::k3ded {

class ConsoleServer {
public:
    enum class LineResult { Ignored, LoginAccepted, LoginRefused, Command };

    ConsoleServer(EventQueue& queue, std::atomic<bool>& hung) : queue_(queue), hung_(hung) {}
    ~ConsoleServer();

    bool Start(uint32_t address, uint16_t port, const std::string& password);
    bool Running() const { return listener_ != nullptr; }

    // Main thread: a new connection gets the greeting (or is turned away when too many are open).
    void OnOpened(int id);
    // Main thread: a line from a connection. Before login it is the password.
    LineResult OnLine(int id, const std::string& line);
    // Main thread: the reader ended; the connection is forgotten.
    void OnClosed(int id);
    // Sends lines as one burst to every logged-in connection (or holds them back, see above).
    void Broadcast(const std::vector<std::string>& lines);
    // A command line that was too long counts as the connection's first command, like any other.
    void MarkReleased(int id);
    // Closes connections that did not log in within the login time.
    void ExpireLogins(uint32_t nowTick);
    void CloseConnection(int id);
    std::string PeerText(int id);
    bool IsLoggedIn(int id);
    size_t LoggedInCount();
    // Stops accepting and reading, closes everything and joins every thread.
    void Stop();

private:
    struct Connection {
        int id = 0;
        std::unique_ptr<TcpSocket> socket;
        std::thread reader;
        std::string peer;
        bool loggedIn = false;
        bool released = false;   // the first command after login has arrived
        bool sentFirst = false;  // a burst went out since then: later bursts carry the colour code
        std::string held;
        uint32_t openedTick = 0;
        bool closing = false;
    };

    void AcceptLoop();
    void ReadLoop(Connection* connection);
    void SendBurst(Connection& connection, const std::string& payload, bool colourCode);
    std::shared_ptr<Connection> Find(int id);

    EventQueue& queue_;
    std::atomic<bool>& hung_;
    std::atomic<bool> stop_{false};
    std::unique_ptr<TcpSocket> listener_;
    std::thread acceptThread_;
    std::string password_;
    std::mutex lock_;  // guards connections_ and nextId_ against the listener thread
    std::map<int, std::shared_ptr<Connection>> connections_;
    int nextId_ = 1;
};

}  // namespace hm::k3ded
