#include "platform/service_notify.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace hm {

namespace {

// "/path" or "@abstract" as a socket address; false for anything else or a name too long to hold.
bool MakeAddress(const std::string& name, sockaddr_un& address, socklen_t& length) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (name.size() < 2 || name.size() >= sizeof address.sun_path) return false;
    if (name[0] != '/' && name[0] != '@') return false;
    std::memcpy(address.sun_path, name.data(), name.size());
    if (name[0] == '@') {
        address.sun_path[0] = '\0';  // the abstract namespace: the name is exactly these bytes, no NUL after
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    } else {
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + 1);
    }
    return true;
}

// A whole decimal number without sign or blanks, as the service manager writes them.
bool ParseDecimal(const char* text, uint64_t& value) {
    if (!text || !*text) return false;
    value = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(*c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

}  // namespace

bool NotifyServiceManager(const std::string& state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    sockaddr_un address;
    socklen_t length = 0;
    if (!name || state.empty() || !MakeAddress(name, address, length)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // The manager's queue is normally empty; should it be full, the UI thread waits one second at
    // most and the notification is lost rather than the program stalled.
    timeval limit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ssize_t sent;
    do {
        sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                        length);
    } while (sent < 0 && errno == EINTR);
    ::close(fd);
    return sent == static_cast<ssize_t>(state.size());  // a datagram goes whole or not at all
}

uint32_t WatchdogIntervalMs() {
    uint64_t usec = 0;
    if (!ParseDecimal(std::getenv("WATCHDOG_USEC"), usec) || usec == 0) return 0;
    // Set by the manager for its main process; a child that inherited the variables is not watched.
    if (const char* pidText = std::getenv("WATCHDOG_PID")) {
        uint64_t pid = 0;
        if (!ParseDecimal(pidText, pid) || pid != static_cast<uint64_t>(::getpid())) return 0;
    }
    return static_cast<uint32_t>(std::clamp<uint64_t>(usec / 1000, 1, UINT32_MAX));
}

bool StdoutIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream) return false;
    const char* colon = std::strchr(stream, ':');
    if (!colon) return false;
    uint64_t device = 0, inode = 0;
    if (!ParseDecimal(std::string(stream, colon).c_str(), device) || !ParseDecimal(colon + 1, inode)) return false;
    struct stat out{};
    if (::fstat(STDOUT_FILENO, &out) != 0) return false;
    return static_cast<uint64_t>(out.st_dev) == device && static_cast<uint64_t>(out.st_ino) == inode;
}

ServiceNotifyListener::~ServiceNotifyListener() {
    if (fd_ >= 0) ::close(fd_);
    if (!boundPath_.empty()) ::unlink(boundPath_.c_str());
}

bool ServiceNotifyListener::Bind(const std::string& name) {
    sockaddr_un address;
    socklen_t length = 0;
    if (fd_ >= 0 || !MakeAddress(name, address, length)) return false;
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    if (name[0] == '/') boundPath_ = name;
    return true;
}

bool ServiceNotifyListener::Receive(std::string& message, uint32_t timeoutMs) {
    if (fd_ < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[4096];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got < 0) return false;
        message.assign(buffer, static_cast<size_t>(got));
        return true;
    }
}

}  // namespace hm
