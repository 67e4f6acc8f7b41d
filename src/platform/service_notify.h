// The program's side of the service manager's notification protocol (systemd's sd_notify, spoken
// without its library): readiness, stopping, status text and watchdog pings go as one datagram each
// to the local socket named by NOTIFY_SOCKET, and JOURNAL_STREAM tells whether stdout is the journal.
// The listener is the manager's side, for tests that stand in for a service manager.
//
// The free functions are stateless and may be called from any thread; the program calls them from
// its UI thread. They read the environment and never change it, so the game servers the program
// starts inherit the same variables (a service manager ignores datagrams from processes other than
// the one it names, and WATCHDOG_PID keeps children from taking the watchdog as theirs). A send never
// blocks for more than a moment and never fails the program: a lost notification is the service
// manager's to time out. A ServiceNotifyListener belongs to one thread.
// What a platform cannot do: without a service manager (NOTIFY_SOCKET unset) every notification is a
// no-op answering false; only socket paths and abstract names ('@...') are understood, other address
// kinds (vsock) answer false.
#pragma once

#include <cstdint>
#include <string>

namespace hm {

// Sends state ("READY=1", "STOPPING=1", "WATCHDOG=1", "STATUS=text", several joined by '\n') to the
// service manager. False when there is none or the datagram could not be handed over whole.
bool NotifyServiceManager(const std::string& state);

// The watchdog interval the service manager expects pings within (WATCHDOG_USEC), in ms; 0 when
// there is no watchdog, the value is malformed, or WATCHDOG_PID names another process.
uint32_t WatchdogIntervalMs();

// Whether stdout is connected to the journal: JOURNAL_STREAM ("device:inode") names stdout's file.
// A program whose stdout was redirected elsewhere after the manager started it answers false.
bool StdoutIsJournal();

// A datagram socket bound to a path or an abstract name ('@...'), as a service manager binds it.
class ServiceNotifyListener {
public:
    ServiceNotifyListener() = default;
    ~ServiceNotifyListener();  // closes the socket; a path it bound is removed
    ServiceNotifyListener(const ServiceNotifyListener&) = delete;
    ServiceNotifyListener& operator=(const ServiceNotifyListener&) = delete;

    bool Bind(const std::string& name);
    // Waits at most timeoutMs for one datagram; false on time-out or error.
    bool Receive(std::string& message, uint32_t timeoutMs);

private:
    int fd_ = -1;
    std::string boundPath_;
};

}  // namespace hm
