#include "platform/local_channel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace hm {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t kMaxAnswer = 16 * 1024 * 1024;
constexpr size_t kReadPerRound = 64 * 1024;     // one fast sender cannot keep the thread to itself
constexpr uint64_t kAcceptRetryMs = 100;        // after the process ran out of descriptors

SteadyClock::time_point DeadlineAfter(uint32_t ms) { return SteadyClock::now() + std::chrono::milliseconds(ms); }

// 1 ready, 0 deadline passed, -1 error.
int WaitReady(int fd, short events, SteadyClock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (p.revents & POLLNVAL) return -1;
        if (p.revents) return 1;
        if (left <= 0) return 0;
    }
}

// FNV-1a: a short, stable name for the socket however long the channel's name is.
uint64_t NameHash(const std::string& name) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

// An abstract-namespace address (leading NUL): no file, and always far below the 108-byte limit.
socklen_t MakeAddress(const std::string& name, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (name.empty()) return 0;
    char text[64];
    const int length = std::snprintf(text, sizeof text, "haldmoor3-%u-%016llx", static_cast<unsigned>(::geteuid()),
                                     static_cast<unsigned long long>(NameHash(name)));
    std::memcpy(address.sun_path + 1, text, static_cast<size_t>(length));
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(length));
}

// Anyone on the host may connect to an abstract socket; only our own user may talk to us.
bool PeerIsSameUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 && credentials.uid == ::geteuid();
}

bool WriteAll(int fd, const std::string& data, SteadyClock::time_point deadline) {
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t r = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r > 0) {
            sent += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitReady(fd, POLLOUT, deadline) != 1) return false;
            continue;
        }
        return false;
    }
    return true;
}

// Sends what goes without waiting; the number of bytes sent, or -1 on an error.
ssize_t SendSome(int fd, const std::string& data, size_t from) {
    for (;;) {
        const ssize_t r = ::send(fd, data.data() + from, data.size() - from, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r >= 0) return r;
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

}  // namespace

struct LocalServer::Connection {
    enum class State { Reading, Draining, Waiting, Writing };
    int fd = -1;
    State state = State::Reading;
    std::string data;  // the request while reading, the answer while writing
    size_t written = 0;
    uint64_t deadline = 0;
};

LocalServer::LocalServer(Clock& clock) : clock_(clock) {}

LocalServer::~LocalServer() { Close(); }

uint64_t LocalServer::Now() {
    const Tick tick = clock_.TickCount();
    now_ += Elapsed(tick, lastTick_);
    lastTick_ = tick;
    return now_;
}

bool LocalServer::Listen(const std::string& name, const LocalServerOptions& options, RequestHandler onRequest) {
    Close();
    sockaddr_un address;
    const socklen_t size = MakeAddress(name, address);
    if (size == 0 || !onRequest) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // bind fails with EADDRINUSE while another process serves the name: that is the running instance.
    if (wake < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        if (wake >= 0) ::close(wake);
        return false;
    }
    fd_ = fd;
    wakeFd_ = wake;
    options_ = options;
    onRequest_ = std::move(onRequest);
    lastTick_ = clock_.TickCount();
    now_ = 0;
    thread_ = std::thread([this] { Serve(); });
    return true;
}

bool LocalServer::Answer(uint64_t id, const std::string& answer) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (waiting_.erase(id) == 0) return false;
        answers_.emplace_back(id, answer);
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t w = ::write(wakeFd_, &one, sizeof one);
    return true;
}

size_t LocalServer::OpenConnections() {
    std::lock_guard<std::mutex> guard(lock_);
    return openCount_;
}

void LocalServer::Close() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            closing_ = true;
        }
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t w = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (fd_ >= 0) ::close(fd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
    fd_ = -1;
    wakeFd_ = -1;
    std::lock_guard<std::mutex> guard(lock_);
    closing_ = false;
    answers_.clear();
    waiting_.clear();
}

void LocalServer::Drop(uint64_t id) {
    auto found = clients_.find(id);
    if (found == clients_.end()) return;
    ::close(found->second->fd);
    clients_.erase(found);
    std::lock_guard<std::mutex> guard(lock_);
    waiting_.erase(id);
    openCount_ = clients_.size();
}

void LocalServer::TakeAnswers(uint64_t now) {
    std::vector<std::pair<uint64_t, std::string>> answers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        answers.swap(answers_);
    }
    for (auto& [id, text] : answers) {
        auto found = clients_.find(id);
        if (found == clients_.end() || found->second->state != Connection::State::Waiting) continue;
        Connection& client = *found->second;
        client.state = Connection::State::Writing;
        client.data = std::move(text);
        client.written = 0;
        client.deadline = now + options_.writeTimeoutMs;
        if (client.data.empty()) Drop(id);
    }
}

void LocalServer::AcceptClients(uint64_t now) {
    while (clients_.size() < options_.maxConnections) {
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            // Out of descriptors: the connection stays queued; try again a little later instead of
            // turning on a listener that keeps reporting it.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                acceptRetryAt_ = now + kAcceptRetryMs;
            }
            return;
        }
        if (!PeerIsSameUser(client)) {
            ::close(client);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = client;
        connection->deadline = now + options_.requestTimeoutMs;
        clients_.emplace(nextId_++, std::move(connection));
    }
}

// Reads, or writes, what the client's socket allows now, never waiting.
void LocalServer::ServeClient(uint64_t id, short revents, uint64_t now) {
    Connection& client = *clients_.at(id);
    using State = Connection::State;
    if (client.state == State::Waiting) {
        if (revents & (POLLHUP | POLLERR)) Drop(id);  // the sender gave up
        return;
    }
    if (client.state == State::Writing) {
        const ssize_t sent = SendSome(client.fd, client.data, client.written);
        if (sent < 0) return Drop(id);
        client.written += static_cast<size_t>(sent);
        if (client.written >= client.data.size()) Drop(id);
        return;
    }
    char buffer[4096];
    size_t taken = 0;
    while (taken < kReadPerRound) {
        const ssize_t r = ::recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (r < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) Drop(id);
            return;
        }
        if (r == 0) break;
        taken += static_cast<size_t>(r);
        if (client.state == State::Draining) continue;
        client.data.append(buffer, static_cast<size_t>(r));
        if (client.data.size() > kMaxRequest) {
            // Read on to the end of the request, so the sender is not left blocked in its send and
            // gets its answer instead of a broken line.
            client.state = State::Draining;
            client.data.clear();
            client.data.shrink_to_fit();
        }
    }
    if (taken == kReadPerRound) return;  // more to come; the next round goes on

    // End of the request.
    if (client.state == State::Draining) {
        client.state = State::Writing;
        client.data = options_.tooLargeAnswer;
        client.written = 0;
        client.deadline = now + options_.writeTimeoutMs;
        if (client.data.empty()) Drop(id);
        return;
    }
    if (client.data.empty()) return Drop(id);  // a probe that hung up without a word
    client.state = State::Waiting;
    client.deadline = now + options_.answerTimeoutMs;
    std::string request;
    request.swap(client.data);
    {
        std::lock_guard<std::mutex> guard(lock_);
        waiting_.insert(id);
    }
    onRequest_(id, request);
}

void LocalServer::Serve() {
    std::vector<pollfd> polled;
    std::vector<uint64_t> ids;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (closing_) break;
        }
        uint64_t now = Now();
        TakeAnswers(now);
        // A client past its deadline is hung up on: silent before its request ends, no answer from
        // the owner in time, or not taking its answer.
        for (auto it = clients_.begin(); it != clients_.end();) {
            const uint64_t id = it->first;
            const bool expired = now >= it->second->deadline;
            ++it;
            if (expired) Drop(id);
        }

        polled.clear();
        ids.clear();
        polled.push_back({wakeFd_, POLLIN, 0});
        const bool accepting = clients_.size() < options_.maxConnections && now >= acceptRetryAt_;
        if (accepting) polled.push_back({fd_, POLLIN, 0});
        uint64_t next = UINT64_MAX;
        if (!accepting && clients_.size() < options_.maxConnections) next = acceptRetryAt_;
        for (const auto& [id, client] : clients_) {
            using State = Connection::State;
            const short events = client->state == State::Writing ? POLLOUT : client->state == State::Waiting ? 0 : POLLIN;
            polled.push_back({client->fd, events, 0});
            ids.push_back(id);
            next = std::min(next, client->deadline);
        }
        const int timeout = next == UINT64_MAX ? -1 : static_cast<int>(std::min<uint64_t>(next - now, INT_MAX));
        if (::poll(polled.data(), polled.size(), timeout) < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ENOMEM) continue;
            break;
        }
        now = Now();
        if (polled[0].revents) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t r = ::read(wakeFd_, &count, sizeof count);
        }
        const size_t first = accepting ? 2 : 1;
        for (size_t i = 0; i < ids.size(); ++i) {
            if (polled[first + i].revents && clients_.count(ids[i])) ServeClient(ids[i], polled[first + i].revents, now);
        }
        if (accepting && polled[1].revents) AcceptClients(now);
        std::lock_guard<std::mutex> guard(lock_);
        openCount_ = clients_.size();
    }
    FinishClosing();
}

void LocalServer::FinishClosing() {
    TakeAnswers(Now());
    for (auto& [id, client] : clients_) {
        // One last write that never waits: the end of the program must not hang on a client.
        if (client->state == Connection::State::Writing) {
            SendSome(client->fd, client->data, client->written);
        } else if (client->state == Connection::State::Waiting && !options_.closingAnswer.empty()) {
            SendSome(client->fd, options_.closingAnswer, 0);
        }
        ::close(client->fd);
    }
    clients_.clear();
    std::lock_guard<std::mutex> guard(lock_);
    waiting_.clear();
    openCount_ = 0;
}

LocalClient::~LocalClient() { Close(); }

void LocalClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool LocalClient::Connect(const std::string& name, uint32_t timeoutMs) {
    Close();
    sockaddr_un address;
    const socklen_t size = MakeAddress(name, address);
    if (size == 0) return false;
    const SteadyClock::time_point deadline = DeadlineAfter(timeoutMs);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) {
            // Whoever holds the name must be our own user: commands and their answers stay ours.
            if (!PeerIsSameUser(fd)) break;
            fd_ = fd;
            return true;
        }
        if (errno == EINTR) continue;
        // EAGAIN: the server's backlog is full; it is alive, so wait a little and try again.
        if (errno != EAGAIN || SteadyClock::now() >= deadline) break;
        ::usleep(10 * 1000);
    }
    ::close(fd);
    return false;
}

bool LocalClient::Send(const std::string& data, uint32_t timeoutMs) {
    return fd_ >= 0 && WriteAll(fd_, data, DeadlineAfter(timeoutMs));
}

bool LocalClient::FinishSending() { return fd_ >= 0 && ::shutdown(fd_, SHUT_WR) == 0; }

bool LocalClient::ReceiveAll(std::string& answer, uint32_t timeoutMs) {
    answer.clear();
    if (fd_ < 0) return false;
    const SteadyClock::time_point deadline = DeadlineAfter(timeoutMs);
    char buffer[4096];
    for (;;) {
        const ssize_t r = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (r > 0) {
            answer.append(buffer, static_cast<size_t>(r));
            if (answer.size() > kMaxAnswer) break;
            continue;
        }
        if (r == 0) return true;
        if (errno == EINTR) continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || WaitReady(fd_, POLLIN, deadline) != 1) break;
    }
    answer.clear();
    return false;
}

bool LocalRequest(const std::string& name, const std::string& request, std::string& answer, uint32_t timeoutMs) {
    answer.clear();
    const SteadyClock::time_point deadline = DeadlineAfter(timeoutMs);
    auto left = [&deadline]() -> uint32_t {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        return static_cast<uint32_t>(std::clamp<long long>(ms, 0, UINT32_MAX));
    };
    LocalClient client;
    return client.Connect(name, timeoutMs) && client.Send(request, left()) && client.FinishSending() &&
           client.ReceiveAll(answer, left());
}

}  // namespace hm
