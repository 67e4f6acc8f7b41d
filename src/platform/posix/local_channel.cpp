#include "platform/local_channel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace hm {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t kMinRequestReadMs = 100;
constexpr uint32_t kMaxRequestReadMs = 5000;
constexpr uint32_t kAnswerWriteMs = 5000;
constexpr size_t kMaxAnswer = 16 * 1024 * 1024;

SteadyClock::time_point DeadlineAfter(uint32_t ms) { return SteadyClock::now() + std::chrono::milliseconds(ms); }

// 1 ready, 0 deadline passed, -1 error or woken through wakeFd (-1 = no wake descriptor).
int WaitReady(int fd, int wakeFd, short events, SteadyClock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(p, wakeFd >= 0 ? 2 : 1, static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (wakeFd >= 0 && p[1].revents) return -1;
        if (p[0].revents & POLLNVAL) return -1;
        if (p[0].revents) return 1;
        if (left <= 0) return 0;
    }
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
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
            if (WaitReady(fd, -1, POLLOUT, deadline) != 1) return false;
            continue;
        }
        return false;
    }
    return true;
}

// Reads until the peer shuts down its side. false on error, deadline or wake, or beyond limit bytes
// when overLimitFails is set (otherwise the text is cut at limit).
bool ReadAll(int fd, int wakeFd, std::string& out, size_t limit, bool overLimitFails, SteadyClock::time_point deadline) {
    out.clear();
    char buffer[4096];
    for (;;) {
        if (!overLimitFails && out.size() >= limit) return true;
        // When too much is an error, ask for one byte beyond the limit to see it.
        const size_t room = overLimitFails ? limit + 1 - out.size() : limit - out.size();
        const size_t want = std::min(sizeof buffer, room);
        const ssize_t r = ::recv(fd, buffer, want, MSG_DONTWAIT);
        if (r > 0) {
            out.append(buffer, static_cast<size_t>(r));
            if (out.size() > limit) return false;
            continue;
        }
        if (r == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (WaitReady(fd, wakeFd, POLLIN, deadline) != 1) return false;
    }
}

}  // namespace

LocalServer::LocalServer() = default;

LocalServer::~LocalServer() { Close(); }

bool LocalServer::Listen(const std::string& socketPath) {
    Close();
    sockaddr_un address;
    if (!MakeAddress(socketPath, address)) return false;

    struct stat info {};
    if (::lstat(socketPath.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) return false;  // not ours to delete
        // A socket file someone still accepts on belongs to a live instance.
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (probe < 0) return false;
        const int r = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        const int code = errno;
        ::close(probe);
        if (r == 0 || code == EAGAIN || code == EINPROGRESS) return false;
        if (::unlink(socketPath.c_str()) != 0 && errno != ENOENT) return false;
    }

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    bool ok = wake >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (ok) {
        // Only our own user may hand us commands; nobody can connect before listen().
        ok = ::chmod(socketPath.c_str(), 0600) == 0 && ::stat(socketPath.c_str(), &info) == 0 &&
             ::listen(fd, SOMAXCONN) == 0;
        if (!ok) ::unlink(socketPath.c_str());
    }
    if (!ok) {
        ::close(fd);
        if (wake >= 0) ::close(wake);
        return false;
    }
    std::lock_guard<std::mutex> guard(lock_);
    fd_ = fd;
    wakeFd_ = wake;
    path_ = socketPath;
    fileDevice_ = static_cast<uint64_t>(info.st_dev);
    fileInode_ = static_cast<uint64_t>(info.st_ino);
    return true;
}

bool LocalServer::BeginUse(int& fd, int& wakeFd) {
    std::lock_guard<std::mutex> guard(lock_);
    if (fd_ < 0 || closing_) return false;
    ++users_;
    fd = fd_;
    wakeFd = wakeFd_;
    return true;
}

void LocalServer::EndUse() {
    std::lock_guard<std::mutex> guard(lock_);
    if (--users_ == 0) idle_.notify_all();
}

bool LocalServer::Accept(uint32_t timeoutMs, std::string& request, int& connection) {
    request.clear();
    connection = -1;
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return false;
    const SteadyClock::time_point deadline = DeadlineAfter(timeoutMs);
    int client = -1;
    bool ok = false;
    while (!ok) {
        client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || WaitReady(fd, wake, POLLIN, deadline) != 1) break;
            continue;
        }
        const uint32_t readMs = std::clamp(timeoutMs, kMinRequestReadMs, kMaxRequestReadMs);
        const bool complete = ReadAll(client, wake, request, kMaxRequest, false, DeadlineAfter(readMs));
        if (complete && !request.empty()) {
            ok = true;
            break;
        }
        ::close(client);
        request.clear();
        // A client that hung up without a word (such as another start probing whether we live)
        // is no request; keep waiting for a real one. A silent or broken one ends this call.
        if (!complete) break;
    }
    if (ok) {
        std::lock_guard<std::mutex> guard(lock_);
        connections_.insert(client);
        connection = client;
    }
    EndUse();
    return ok;
}

bool LocalServer::Answer(int connection, const std::string& answer) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        // The id is a descriptor number: never touch one this server did not hand out.
        if (connections_.erase(connection) == 0) return false;
    }
    const bool ok = WriteAll(connection, answer, DeadlineAfter(kAnswerWriteMs));
    ::close(connection);
    return ok;
}

void LocalServer::Close() {
    std::unique_lock<std::mutex> lock(lock_);
    if (closing_) {
        idle_.wait(lock, [this] { return !closing_; });
        return;
    }
    if (fd_ >= 0) {
        closing_ = true;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t w = ::write(wakeFd_, &one, sizeof one);
        idle_.wait(lock, [this] { return users_ == 0; });
        ::close(fd_);
        ::close(wakeFd_);
        fd_ = -1;
        wakeFd_ = -1;
        // A successor instance may have replaced the file meanwhile; leave its socket alone.
        struct stat info {};
        if (::lstat(path_.c_str(), &info) == 0 && static_cast<uint64_t>(info.st_dev) == fileDevice_ &&
            static_cast<uint64_t>(info.st_ino) == fileInode_)
            ::unlink(path_.c_str());
        path_.clear();
        closing_ = false;
        idle_.notify_all();
    }
    for (int connection : connections_) ::close(connection);
    connections_.clear();
}

LocalClient::~LocalClient() { Close(); }

void LocalClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool LocalClient::Connect(const std::string& socketPath, uint32_t timeoutMs) {
    Close();
    sockaddr_un address;
    if (!MakeAddress(socketPath, address)) return false;
    const SteadyClock::time_point deadline = DeadlineAfter(timeoutMs);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
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
    const bool ok = ReadAll(fd_, -1, answer, kMaxAnswer, true, DeadlineAfter(timeoutMs));
    if (!ok) answer.clear();
    return ok;
}

bool LocalRequest(const std::string& socketPath, const std::string& request, std::string& answer, uint32_t timeoutMs) {
    answer.clear();
    const SteadyClock::time_point deadline = DeadlineAfter(timeoutMs);
    auto left = [&deadline]() -> uint32_t {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        return static_cast<uint32_t>(std::clamp<long long>(ms, 0, UINT32_MAX));
    };
    LocalClient client;
    return client.Connect(socketPath, timeoutMs) && client.Send(request, left()) && client.FinishSending() &&
           client.ReceiveAll(answer, left());
}

}  // namespace hm
