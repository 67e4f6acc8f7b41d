// IPv4 sockets: the remote console's TCP connection, the remote info server's datagram socket, and
// the host's own name and addresses.
//
// A TcpSocket is owned by one object (a remote console, the info server) but used by several
// threads at once: a worker blocks in Receive while the user-interface thread sends commands and
// finally closes it. Therefore sends on one socket are serialised and always complete, Close or
// Shutdown from another thread wakes every blocked wait at once (Receive then reports -1), and the
// handle is never closed while another thread is still inside a call with it, so a recycled handle
// number can never be written to by mistake. Nothing here raises SIGPIPE. Addresses are uint32 IPv4
// in network byte order, ports uint16 in host order. IPv6 is not supported.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace hm {

enum class SocketType { Stream, Datagram };

class TcpSocket {
public:
    static constexpr int kPeek = 1;              // Receive flag: look at the data without consuming it

    TcpSocket();
    ~TcpSocket();                                // closes the handle
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Closes an open handle, then opens a new IPv4 socket of the given type.
    bool Create(SocketType type);
    // Returns at once if a handle exists, else creates a stream socket with SO_REUSEADDR.
    bool EnsureTcp();
    bool IsValid() const;

    // Blocking connect (waits without limit, but Close from another thread ends it).
    bool Connect(uint32_t address, uint16_t port);
    bool ConnectWithTimeout(uint32_t address, uint16_t port, uint32_t timeoutMs);

    // Sends the whole NUL-terminated text. -1 without a handle or on error (also when the send time-out
    // ran out after part of the text had gone out: the peer then holds a broken line); 0 when the send
    // time-out ran out before anything was sent; otherwise the number of bytes sent, always all of them.
    int Send(const char* text);
    int Send(const std::string& text);
    int SendBytes(const void* data, size_t size);

    // Receives at most size - 1 bytes and stores a NUL behind them when the result is 0 or more.
    // -1 without a handle, on error, or when the socket was closed or shut down meanwhile; 0 when the
    // receive time-out ran out (buffer then holds "") or the peer closed the connection. flags: kPeek.
    int Receive(char* buffer, int size, int flags = 0);

    // Whether the peer has ended its side of the connection (or it broke), without waiting and without
    // consuming anything: true also while unread data is still pending before the end. False without a
    // handle. A platform that cannot tell this without reading answers false; its callers then see the
    // end only as a receive of 0 bytes.
    bool PeerClosed();

    // Waits until data (or the end of the stream) can be read, Interrupt() was called, or timeoutMs
    // passed (without limit when `unlimited`). 2 interrupted (the interrupt is used up), 1 readable,
    // 0 time-out, -1 closed or shut down meanwhile. Without a handle it waits for the interrupt alone.
    int WaitReadable(uint32_t timeoutMs, bool unlimited);
    // Wakes the thread in WaitReadable (or the next call of it) without touching the connection; any
    // thread, never blocks. Interrupts that pile up wake once.
    void Interrupt();
    // Waits for Interrupt() alone, at most timeoutMs, whatever the connection does; true when woken
    // (the interrupt is used up).
    bool WaitInterrupt(uint32_t timeoutMs);

    // Milliseconds; 0 = wait without limit.
    void SetReceiveTimeout(uint32_t ms);
    void SetSendTimeout(uint32_t ms);

    // Shutdown for both directions, close, handle invalid. Wakes blocked calls of other threads.
    void Close();
    // Shutdown for both directions without giving up the handle; wakes blocked calls.
    void Shutdown();

    // Server side. address 0 = every local address; port 0 = any free port (see LocalPort()).
    bool Bind(uint32_t address, uint16_t port);
    bool Listen();                               // backlog SOMAXCONN
    // Waits for a connection (at most the receive time-out, if set) and hands it to client.
    bool Accept(TcpSocket& client, uint32_t* peerAddress = nullptr, uint16_t* peerPort = nullptr);
    uint16_t LocalPort() const;                  // 0 when not bound

    // Datagrams. SendTo waits at most waitMs (0 = without limit) for the socket to become writable;
    // result: bytes sent, 0 on time-out, -1 on error. ReceiveFrom honours the receive time-out, gives
    // the datagram's bytes (cut to size; no NUL added) and its sender; -1 on error or Close, 0 on time-out
    // (check the sender: an empty datagram also yields 0 but fills it).
    int SendTo(const void* data, size_t size, uint32_t address, uint16_t port, uint32_t waitMs = 0);
    int ReceiveFrom(void* buffer, size_t size, uint32_t& address, uint16_t& port);

private:
    // A call that uses the handle holds a use count; Close waits until it drops to zero.
    bool BeginUse(int& fd, int& wakeFd);
    void EndUse();
    // 1 ready, 0 time-out (timeoutMs 0 = without limit when unlimited is set), -1 error or woken by Close.
    static int WaitFor(int fd, int wakeFd, short events, uint32_t timeoutMs, bool unlimited);
    void CloseLocked(std::unique_lock<std::mutex>& lock);
    void Adopt(int fd);
    bool ConnectImpl(uint32_t address, uint16_t port, uint32_t timeoutMs, bool unlimited);

    mutable std::mutex handleLock_;
    std::condition_variable idle_;
    int fd_ = -1;
    int wakeFd_ = -1;                            // eventfd signalled by Close/Shutdown
    int interruptFd_ = -1;                       // eventfd of Interrupt, kept for the object's life
    int users_ = 0;
    bool closing_ = false;
    std::atomic<bool> shutDown_{false};          // set by Close/Shutdown, read by running calls
    std::mutex sendLock_;                        // one text at a time, never interleaved
    std::atomic<uint32_t> receiveTimeoutMs_{0};
    std::atomic<uint32_t> sendTimeoutMs_{0};
};

std::string HostName();                                       // "" on failure
std::vector<uint32_t> ResolveIPv4(const std::string& host);   // network byte order; empty on failure
std::string AddressText(uint32_t networkOrderAddress);        // "a.b.c.d"
// Strict dotted quad: four decimal numbers 0..255 without signs, blanks or leading zeros.
bool ParseAddress(const std::string& dotted, uint32_t& networkOrderAddress);
uint32_t LoopbackAddress();                                   // 127.0.0.1 in network byte order
uint16_t FindFreeTcpPort();  // for tests: a port free for TCP and UDP, below the ephemeral range; 0 on failure

// Ports of the host, for the port checks before a server starts. A port counts as taken when some
// socket on the host would stop a server from binding it on every IPv4 address (a TCP listener or a
// bound UDP socket; closing TCP connections of an earlier server do not count). A port this user
// may not bind at all (below 1024) reads as free: the game server reports that itself.
enum class PortProtocol { Tcp, Udp };
bool PortTakenOnHost(PortProtocol protocol, uint16_t port);
struct PortHolder {
    uint32_t pid = 0;
    std::string name;                                         // the program's short name
};
// The process that holds the port, found through the host's socket tables (on Linux /proc/net and
// /proc/<pid>/fd). False when unknown, for instance when the holder runs as another user.
bool FindPortHolder(PortProtocol protocol, uint16_t port, PortHolder& holder);

}  // namespace hm
