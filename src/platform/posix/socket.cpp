#include "platform/socket.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hm {

namespace {

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    a.sin_port = htons(port);
    return a;
}

void Wake(int wakeFd) {
    if (wakeFd < 0) return;
    const uint64_t one = 1;
    // A full counter is still readable, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t r = ::write(wakeFd, &one, sizeof one);
}

}  // namespace

TcpSocket::TcpSocket() : interruptFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TcpSocket::~TcpSocket() {
    Close();
    if (interruptFd_ >= 0) ::close(interruptFd_);
}

void TcpSocket::Interrupt() { Wake(interruptFd_); }

bool TcpSocket::WaitInterrupt(uint32_t timeoutMs) {
    using Steady = std::chrono::steady_clock;
    const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
        pollfd p{interruptFd_, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(interruptFd_, &count, sizeof count);
        return true;
    }
}

int TcpSocket::WaitReadable(uint32_t timeoutMs, bool unlimited) {
    int fd = -1, wake = -1;
    const bool open = BeginUse(fd, wake);
    using Steady = std::chrono::steady_clock;
    const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    int result = 0;
    for (;;) {
        int sliceMs = -1;
        if (!unlimited) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
            sliceMs = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
        }
        pollfd p[3] = {{interruptFd_, POLLIN, 0}, {wake, POLLIN, 0}, {fd, static_cast<short>(POLLIN | POLLRDHUP), 0}};
        const int r = ::poll(p, open ? 3 : 1, sliceMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            result = -1;
            break;
        }
        if (p[0].revents) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(interruptFd_, &count, sizeof count);
            result = 2;
            break;
        }
        if (open && (p[1].revents || (p[2].revents & POLLNVAL))) {
            result = -1;
            break;
        }
        if (open && p[2].revents) {
            result = 1;  // data, the end of the stream or an error, which the next receive reports
            break;
        }
        if (r == 0 && !unlimited) break;
    }
    if (open) EndUse();
    return result;
}

bool TcpSocket::IsValid() const {
    std::lock_guard<std::mutex> guard(handleLock_);
    return fd_ >= 0 && !closing_;
}

void TcpSocket::CloseLocked(std::unique_lock<std::mutex>& lock) {
    if (closing_) {
        // Another thread is closing this handle right now; its result is ours.
        idle_.wait(lock, [this] { return !closing_; });
        return;
    }
    if (fd_ < 0) return;
    closing_ = true;
    shutDown_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    Wake(wakeFd_);
    // The number must stay ours until no call is inside the kernel with it any more.
    idle_.wait(lock, [this] { return users_ == 0; });
    ::close(fd_);
    ::close(wakeFd_);
    fd_ = -1;
    wakeFd_ = -1;
    closing_ = false;
    idle_.notify_all();
}

void TcpSocket::Close() {
    std::unique_lock<std::mutex> lock(handleLock_);
    CloseLocked(lock);
}

void TcpSocket::Shutdown() {
    std::lock_guard<std::mutex> guard(handleLock_);
    if (fd_ < 0 || closing_) return;
    shutDown_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    Wake(wakeFd_);
}

bool TcpSocket::Create(SocketType type) {
    std::unique_lock<std::mutex> lock(handleLock_);
    CloseLocked(lock);
    const int kind = type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM;
    // Non-blocking underneath: every wait is a poll that Close can interrupt.
    const int fd = ::socket(AF_INET, kind | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    wakeFd_ = wake;
    shutDown_ = false;
    return true;
}

void TcpSocket::Adopt(int fd) {
    std::unique_lock<std::mutex> lock(handleLock_);
    CloseLocked(lock);
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    wakeFd_ = wake;
    shutDown_ = false;
}

bool TcpSocket::EnsureTcp() {
    if (IsValid()) return true;
    if (!Create(SocketType::Stream)) return false;
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return false;
    const int one = 1;
    const bool ok = ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
    EndUse();
    return ok;
}

bool TcpSocket::BeginUse(int& fd, int& wakeFd) {
    std::lock_guard<std::mutex> guard(handleLock_);
    if (fd_ < 0 || closing_) return false;
    ++users_;
    fd = fd_;
    wakeFd = wakeFd_;
    return true;
}

void TcpSocket::EndUse() {
    std::lock_guard<std::mutex> guard(handleLock_);
    if (--users_ == 0) idle_.notify_all();
}

int TcpSocket::WaitFor(int fd, int wakeFd, short events, uint32_t timeoutMs, bool unlimited) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int sliceMs = -1;
        if (!unlimited) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            sliceMs = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
        }
        pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(p, 2, sliceMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (p[1].revents) return -1;
        if (p[0].revents & POLLNVAL) return -1;
        if (p[0].revents) return 1;  // ready, or an error/hang-up that the next call reports
        if (r == 0 && !unlimited) return 0;
    }
}

bool TcpSocket::ConnectImpl(uint32_t address, uint16_t port, uint32_t timeoutMs, bool unlimited) {
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return false;
    const sockaddr_in a = MakeAddress(address, port);
    bool ok = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        ok = true;
    } else if (errno == EINPROGRESS || errno == EINTR) {
        const int w = WaitFor(fd, wake, POLLOUT, timeoutMs, unlimited);
        if (w == 1) {
            int error = 0;
            socklen_t length = sizeof error;
            ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        if (!ok) {
            // Drop the half-open attempt so that the same socket can try the next address.
            sockaddr none{};
            none.sa_family = AF_UNSPEC;
            ::connect(fd, &none, sizeof none);
        }
    }
    EndUse();
    return ok;
}

bool TcpSocket::Connect(uint32_t address, uint16_t port) { return ConnectImpl(address, port, 0, true); }

bool TcpSocket::ConnectWithTimeout(uint32_t address, uint16_t port, uint32_t timeoutMs) {
    return ConnectImpl(address, port, timeoutMs, false);
}

int TcpSocket::Send(const char* text) {
    if (!text) return -1;
    return SendBytes(text, std::strlen(text));
}

int TcpSocket::Send(const std::string& text) { return SendBytes(text.data(), text.size()); }

int TcpSocket::SendBytes(const void* data, size_t size) {
    std::lock_guard<std::mutex> serial(sendLock_);
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return -1;
    size = std::min<size_t>(size, INT_MAX);
    const uint32_t timeoutMs = sendTimeoutMs_;
    const char* bytes = static_cast<const char*>(data);
    size_t sent = 0;
    int result = 0;
    while (sent < size) {
        const ssize_t r = ::send(fd, bytes + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r > 0) {
            sent += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int w = WaitFor(fd, wake, POLLOUT, timeoutMs, timeoutMs == 0);
            if (w == 1) continue;
            result = (w == 0 && sent == 0) ? 0 : -1;
            break;
        }
        result = -1;
        break;
    }
    if (sent == size) result = static_cast<int>(sent);
    EndUse();
    return result;
}

int TcpSocket::Receive(char* buffer, int size, int flags) {
    if (!buffer || size < 1) return -1;
    buffer[0] = '\0';
    if (size < 2) return -1;  // no room for even one byte besides the NUL
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return -1;
    const uint32_t timeoutMs = receiveTimeoutMs_;
    const int systemFlags = MSG_DONTWAIT | ((flags & kPeek) ? MSG_PEEK : 0);
    int result = -1;
    for (;;) {
        const ssize_t r = ::recv(fd, buffer, static_cast<size_t>(size - 1), systemFlags);
        if (r >= 0) {
            buffer[r] = '\0';
            // After our own shutdown the kernel reports an orderly end; to the caller it is the close.
            result = (r == 0 && shutDown_) ? -1 : static_cast<int>(r);
            break;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) break;
        const int w = WaitFor(fd, wake, POLLIN, timeoutMs, timeoutMs == 0);
        if (w == 1) continue;
        result = w;  // 0 on time-out, -1 when closed
        break;
    }
    EndUse();
    return result;
}

bool TcpSocket::PeerClosed() {
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return false;
    pollfd p{fd, static_cast<short>(POLLRDHUP), 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    EndUse();
    return r == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void TcpSocket::SetReceiveTimeout(uint32_t ms) { receiveTimeoutMs_ = ms; }

void TcpSocket::SetSendTimeout(uint32_t ms) { sendTimeoutMs_ = ms; }

bool TcpSocket::Bind(uint32_t address, uint16_t port) {
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return false;
    const sockaddr_in a = MakeAddress(address, port);
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    EndUse();
    return ok;
}

bool TcpSocket::Listen() {
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return false;
    const bool ok = ::listen(fd, SOMAXCONN) == 0;
    EndUse();
    return ok;
}

bool TcpSocket::Accept(TcpSocket& client, uint32_t* peerAddress, uint16_t* peerPort) {
    if (&client == this) return false;
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return false;
    const uint32_t timeoutMs = receiveTimeoutMs_;
    int accepted = -1;
    sockaddr_in peer{};
    for (;;) {
        socklen_t length = sizeof peer;
        accepted = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (accepted >= 0) break;
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) break;
        if (WaitFor(fd, wake, POLLIN, timeoutMs, timeoutMs == 0) != 1) break;
    }
    EndUse();
    if (accepted < 0) return false;
    client.Adopt(accepted);
    if (!client.IsValid()) return false;
    if (peerAddress) *peerAddress = peer.sin_addr.s_addr;
    if (peerPort) *peerPort = ntohs(peer.sin_port);
    return true;
}

uint16_t TcpSocket::LocalPort() const {
    std::lock_guard<std::mutex> guard(handleLock_);
    if (fd_ < 0) return 0;
    sockaddr_in a{};
    socklen_t length = sizeof a;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0) return 0;
    return ntohs(a.sin_port);
}

int TcpSocket::SendTo(const void* data, size_t size, uint32_t address, uint16_t port, uint32_t waitMs) {
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return -1;
    const sockaddr_in a = MakeAddress(address, port);
    int result = -1;
    for (;;) {
        const ssize_t r = ::sendto(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        if (r >= 0) {
            result = static_cast<int>(r);
            break;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) break;
        const int w = WaitFor(fd, wake, POLLOUT, waitMs, waitMs == 0);
        if (w == 1) continue;
        result = w;
        break;
    }
    EndUse();
    return result;
}

int TcpSocket::ReceiveFrom(void* buffer, size_t size, uint32_t& address, uint16_t& port) {
    address = 0;
    port = 0;
    if (!buffer || size == 0) return -1;
    int fd = -1, wake = -1;
    if (!BeginUse(fd, wake)) return -1;
    const uint32_t timeoutMs = receiveTimeoutMs_;
    int result = -1;
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const ssize_t r = ::recvfrom(fd, buffer, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&peer), &length);
        if (r >= 0) {
            if (shutDown_) break;  // woken by Close: not a datagram
            address = peer.sin_addr.s_addr;
            port = ntohs(peer.sin_port);
            result = static_cast<int>(r);
            break;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) break;
        const int w = WaitFor(fd, wake, POLLIN, timeoutMs, timeoutMs == 0);
        if (w == 1) continue;
        result = w;
        break;
    }
    EndUse();
    return result;
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

std::vector<uint32_t> ResolveIPv4(const std::string& host) {
    std::vector<uint32_t> result;
    if (host.empty()) return result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return result;
    for (addrinfo* entry = list; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || !entry->ai_addr) continue;
        const uint32_t address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
        if (std::find(result.begin(), result.end(), address) == result.end()) result.push_back(address);
    }
    ::freeaddrinfo(list);
    return result;
}

std::string AddressText(uint32_t networkOrderAddress) {
    const uint32_t a = ntohl(networkOrderAddress);
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) +
           "." + std::to_string(a & 0xFF);
}

bool ParseAddress(const std::string& dotted, uint32_t& networkOrderAddress) {
    uint32_t value = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= dotted.size() || dotted[i] != '.') return false;
            ++i;
        }
        const size_t start = i;
        uint32_t number = 0;
        while (i < dotted.size() && dotted[i] >= '0' && dotted[i] <= '9' && i - start < 3) {
            number = number * 10 + static_cast<uint32_t>(dotted[i] - '0');
            ++i;
        }
        const size_t digits = i - start;
        if (digits == 0 || number > 255) return false;
        if (digits > 1 && dotted[start] == '0') return false;  // "010" could be read as octal elsewhere
        value = (value << 8) | number;
    }
    if (i != dotted.size()) return false;
    networkOrderAddress = htonl(value);
    return true;
}

uint32_t LoopbackAddress() { return htonl(INADDR_LOOPBACK); }

uint16_t FindFreeTcpPort() {
    // Below the kernel's ephemeral range (32768 and up), where the client connections of other
    // programs and tests take their ports: a port found here stays free for a server started moments
    // later far more reliably than one the kernel just handed out and took back. Free means free for
    // TCP and for UDP on every address, as a game server binds both.
    static std::atomic<uint32_t> seed{static_cast<uint32_t>(::getpid()) * 2654435761u ^
                                      static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    constexpr uint32_t kFirst = 20000, kCount = 12000;
    for (int attempt = 0; attempt < 200; ++attempt) {
        const uint32_t next = seed.fetch_add(0x9E3779B9u) * 2246822519u;
        const uint16_t port = static_cast<uint16_t>(kFirst + (next >> 8) % kCount);
        bool free = true;
        for (int type : {SOCK_STREAM, SOCK_DGRAM}) {
            const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
            if (fd < 0) return 0;
            sockaddr_in a = MakeAddress(htonl(INADDR_ANY), port);
            free = free && ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
            ::close(fd);
        }
        if (free) return port;
    }
    return 0;
}

bool PortTakenOnHost(PortProtocol protocol, uint16_t port) {
    const bool tcp = protocol == PortProtocol::Tcp;
    const int fd = ::socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (tcp) {
        // As a server binds: connections of an earlier server in TIME_WAIT do not block it.
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    const sockaddr_in a = MakeAddress(htonl(INADDR_ANY), port);
    const bool taken = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 && errno == EADDRINUSE;
    ::close(fd);
    return taken;
}

namespace {

// Socket inodes bound to the port in one of the kernel's tables ("/proc/net/tcp" and the like):
// TCP only in the listening state (0A), UDP in any.
void SocketInodes(const std::string& table, bool tcp, uint16_t port, std::set<unsigned long>& inodes) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        unsigned long inode = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode)) {
            continue;
        }
        const size_t colon = local.rfind(':');
        if (colon == std::string::npos || inode == 0) continue;
        if (std::strtoul(local.c_str() + colon + 1, nullptr, 16) != port) continue;
        if (tcp && state != "0A") continue;
        inodes.insert(inode);
    }
}

}  // namespace

bool FindPortHolder(PortProtocol protocol, uint16_t port, PortHolder& holder) {
    namespace stdfs = std::filesystem;
    holder = PortHolder{};
    const bool tcp = protocol == PortProtocol::Tcp;
    std::set<unsigned long> inodes;
    static const char* const kTcpTables[] = {"/proc/net/tcp", "/proc/net/tcp6"};
    static const char* const kUdpTables[] = {"/proc/net/udp", "/proc/net/udp6"};
    for (const char* table : tcp ? kTcpTables : kUdpTables) SocketInodes(table, tcp, port, inodes);
    if (inodes.empty()) return false;
    std::error_code error;
    for (const auto& process : stdfs::directory_iterator("/proc", error)) {
        const std::string pidText = process.path().filename().string();
        if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code fdError;
        // Another user's descriptors cannot be read: that holder stays unknown.
        for (const auto& descriptor : stdfs::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            const std::string target = stdfs::read_symlink(descriptor.path(), linkError).string();
            if (linkError || target.rfind("socket:[", 0) != 0) continue;
            if (!inodes.count(std::strtoul(target.c_str() + 8, nullptr, 10))) continue;
            holder.pid = static_cast<uint32_t>(std::strtoul(pidText.c_str(), nullptr, 10));
            std::ifstream comm(process.path() / "comm");
            std::getline(comm, holder.name);
            return true;
        }
    }
    return false;
}

}  // namespace hm
