// The single-instance command channel: a later start of the program hands its request (bring the
// window to the front, or a --send command) to the running instance over a local stream socket and
// waits for the answer.
//
// The running instance owns one LocalServer. Its own serving thread accepts clients and reads their
// requests side by side (non-blocking, driven by poll), so an idle or slow client never delays
// another; each client has its own deadlines for sending its request and for taking its answer. A
// complete request is handed to the owner's handler on the serving thread, which must not block
// (it posts the work elsewhere); the answer comes back later through Answer() from any thread.
// Nothing here interprets a request's content.
//
// The channel is named by a string (the program uses a path in its runtime folder). On Linux the
// socket lives in the abstract namespace under a short hash of that name, so a long runtime folder
// never makes the name too long and no socket file is ever left behind or deleted. Since an abstract
// socket has no file permissions, both ends check that the peer runs as the same user and refuse
// anyone else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace hm {

struct LocalServerOptions {
    uint32_t requestTimeoutMs = 5000;    // from the connection to the end of the request
    uint32_t answerTimeoutMs = 120000;   // for the owner's answer; then the client is hung up on
    uint32_t writeTimeoutMs = 5000;      // for the client to take its answer
    size_t maxConnections = 256;         // more wait in the listen backlog
    // Written to a client whose request passed kMaxRequest, once it has finished sending.
    std::string tooLargeAnswer;
    // Written by Close to clients still waiting for an answer ("" = just hang up).
    std::string closingAnswer;
};

class LocalServer {
public:
    static constexpr size_t kMaxRequest = 64 * 1024;
    // Called on the serving thread with a complete, non-empty request; must not block.
    using RequestHandler = std::function<void(uint64_t id, const std::string& request)>;

    explicit LocalServer(Clock& clock = RealClock());
    ~LocalServer();                                  // Close()
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    // Opens the channel and starts the serving thread. Fails when the channel is already served
    // (another instance) or the system refuses a socket.
    bool Listen(const std::string& name, const LocalServerOptions& options, RequestHandler onRequest);
    // Any thread. Queues the answer for the request `id`; the serving thread writes it and hangs up.
    // False when the id is unknown, already answered or its client was given up on.
    bool Answer(uint64_t id, const std::string& answer);
    // Stops serving: answers already given get one last write that never waits, clients still
    // waiting get closingAnswer, everything is closed and the serving thread has ended on return.
    void Close();

    size_t OpenConnections();                        // for tests: clients not yet hung up on

private:
    struct Connection;
    void Serve();
    void AcceptClients(uint64_t now);
    void ServeClient(uint64_t id, short revents, uint64_t now);
    void TakeAnswers(uint64_t now);
    void Drop(uint64_t id);
    void FinishClosing();
    uint64_t Now();

    Clock& clock_;
    LocalServerOptions options_;
    RequestHandler onRequest_;
    int fd_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
    std::map<uint64_t, std::unique_ptr<Connection>> clients_;  // serving thread only
    uint64_t nextId_ = 1;
    uint64_t acceptRetryAt_ = 0;
    Tick lastTick_ = 0;                             // Now(): the tick count widened to 64 bits
    uint64_t now_ = 0;

    std::mutex lock_;                               // guards the fields below
    std::vector<std::pair<uint64_t, std::string>> answers_;
    std::set<uint64_t> waiting_;                    // handed to the owner, not answered yet
    bool closing_ = false;
    size_t openCount_ = 0;
};

// The client end, step by step; LocalRequest is the usual way to use it. One thread at a time.
class LocalClient {
public:
    LocalClient() = default;
    ~LocalClient();
    LocalClient(const LocalClient&) = delete;
    LocalClient& operator=(const LocalClient&) = delete;

    // False when nobody serves the name or the server runs as another user.
    bool Connect(const std::string& name, uint32_t timeoutMs);
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
bool LocalRequest(const std::string& name, const std::string& request, std::string& answer, uint32_t timeoutMs);

}  // namespace hm
