// The single-instance command channel: a later start of the program hands its request (bring the
// window to the front, or a --send command) to the running instance over a UNIX stream socket and
// waits for the answer.
//
// The running instance owns one LocalServer; one thread of it loops in Accept while another may call
// Close to end that loop, which wakes the Accept at once. A client that connects and then says
// nothing (or never reads its answer) must never hold the server up for long: reads and writes on a
// connection run against deadlines. Listen only replaces a socket file nobody answers on; it never
// deletes anything that is not a socket, and Close only removes the file it created itself.
// Requests are limited to 64 KiB; nothing here interprets their content.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

namespace hm {

class LocalServer {                    // owned by the running instance; one listening socket
public:
    static constexpr size_t kMaxRequest = 64 * 1024;

    LocalServer();
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    // Removes a stale socket file first. Fails when another process still listens on socketPath, when
    // something other than a socket is in the way, or when the path is too long for a UNIX socket.
    bool Listen(const std::string& socketPath);
    // Waits up to timeoutMs for one client; on success returns true and fills request (one message, up to the
    // client's shutdown of its write side or a 64 KiB cap) and a connection id to answer on.
    // The request itself must arrive within timeoutMs of the connection (at least 100 ms, at most 5 s);
    // a silent client is dropped and the result is false. A client that hangs up without sending
    // anything is skipped, so an empty request is never delivered.
    bool Accept(uint32_t timeoutMs, std::string& request, int& connection);
    // Writes everything, then closes the connection. Only ids handed out by Accept are accepted; a
    // client that does not read is given up on after a few seconds.
    bool Answer(int connection, const std::string& answer);
    void Close();                                   // wakes a blocked Accept; closes unanswered connections

private:
    bool BeginUse(int& fd, int& wakeFd);
    void EndUse();

    std::mutex lock_;
    std::condition_variable idle_;
    int fd_ = -1;
    int wakeFd_ = -1;
    int users_ = 0;
    bool closing_ = false;
    std::string path_;
    uint64_t fileDevice_ = 0, fileInode_ = 0;       // identify our socket file, so Close leaves a successor's alone
    std::set<int> connections_;                     // accepted, not yet answered
};

// The client end, step by step; LocalRequest is the usual way to use it. One thread at a time.
class LocalClient {
public:
    LocalClient() = default;
    ~LocalClient();
    LocalClient(const LocalClient&) = delete;
    LocalClient& operator=(const LocalClient&) = delete;

    bool Connect(const std::string& socketPath, uint32_t timeoutMs);
    bool Send(const std::string& data, uint32_t timeoutMs);     // all of it or false
    bool FinishSending();                                       // shuts down the write side: "request complete"
    // Reads until the server closes; false on error, time-out or an answer beyond 16 MiB.
    bool ReceiveAll(std::string& answer, uint32_t timeoutMs);
    void Close();

private:
    int fd_ = -1;
};

// Connects, sends request, shuts down its write side, reads the whole answer until the server closes.
// false when nobody listens, on any error, or when the whole exchange takes longer than timeoutMs.
bool LocalRequest(const std::string& socketPath, const std::string& request, std::string& answer, uint32_t timeoutMs);

}  // namespace hm
