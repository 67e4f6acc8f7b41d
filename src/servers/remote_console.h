// What a supervised server's entry needs from its remote console connection: the entry owns the
// connection and ends it, the console client itself lives in the supervision module.
//
// The entry (CServerInfo) creates and deletes the connection on the user-interface thread; the
// connection's own worker thread does the talking. The methods here must return at once: they only
// read flags or post a request to the worker, they never wait for the network.
#pragma once

#include <functional>
#include <memory>

namespace hm {

class RemoteConsole {
public:
    virtual ~RemoteConsole() = default;
    // A TCP connection to the server's console is established.
    virtual bool IsConnected() const = 0;
    // The server is believed to hold players.
    virtual bool HasPlayers() const = 0;
    // Logs out and ends the worker; the game server keeps running.
    virtual void SendLogout() = 0;
    // Tells the game server to quit, then ends the worker.
    virtual void SendQuit() = 0;
};

// Builds the connection for one entry (the supervision module binds event list, settings, rules, ...).
using RemoteConsoleFactory = std::function<std::unique_ptr<RemoteConsole>()>;

}  // namespace hm
