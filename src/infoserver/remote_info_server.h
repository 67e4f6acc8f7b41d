// The remote info server: a UDP service that tells a remote tool (haldscope) which servers are
// configured, with their console ports and passwords, and lets it set and remove entries of the tracker
// information store. Every request carries the CRC-32 of the shared password.
//
// One per program, owned by the server manager. StartInfoServer, StopInfoServer and Restart are called
// on the user-interface thread only; one worker thread blocks on the socket and serves requests one
// after another. The worker reads the server list only under the server list lock and changes the
// tracker information store only through its own lock; it reports through the event list, which never
// blocks it. A stop closes the socket, which wakes the blocked receive at once, and joins the worker:
// the thread is never killed and never outlives this object. Lines about bad requests are limited per
// sender address, so a flood of them cannot flood the event list or the global log. Text from the
// network never reaches a format string.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "eventlog/event_log.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "servers/remote_info_settings.h"
#include "servers/server_info_array.h"
#include "trackers/tracker_info_store.h"

namespace hm {

class RemoteInfoServer {
public:
    // Bad-request lines of one sender address (per kind) are written at most once per this period.
    static constexpr uint32_t kEventPeriodMs = 60000;
    static constexpr size_t kSendersKept = 1024;  // senders remembered for the limit
    static constexpr uint32_t kRecordWaitMs = 25;
    static constexpr uint32_t kStatusWaitMs = 1000;

    // `events` is where lines go until a start names another list.
    RemoteInfoServer(CServerInfoArray& servers, std::recursive_mutex& serverListLock, TrackerInfoStore& trackerInfo,
                     EventLogList& events, Clock& clock);
    ~RemoteInfoServer();  // a quiet stop
    RemoteInfoServer(const RemoteInfoServer&) = delete;
    RemoteInfoServer& operator=(const RemoteInfoServer&) = delete;

    // Takes the settings and their password check (also while running: the worker uses the new check
    // from then on). When no worker runs: binds the UDP port on `alternateAddress` (a dotted address;
    // "" = every local address) and starts the worker; 1 on success, 0 on failure (said in the event
    // list). While one runs: 0, and nothing is logged.
    int StartInfoServer(const RemoteInfoSettings& settings, EventLogList& events,
                        const std::string& alternateAddress = std::string());
    // Ends the worker and closes the socket. quiet: no event line at all (shutdown); otherwise
    // "Remote info server stopped" when a worker ran.
    void StopInfoServer(bool quiet);
    // After new settings (the global options dialog's OK): a server that runs with exactly these
    // settings and address keeps running, untouched. Otherwise a running server is stopped (with its
    // line) and started again when the settings enable it with a non-empty password, on the event list
    // of the last start. The bind address of the last start stays unless given.
    // 1 when it runs with the new settings, 0 otherwise.
    int Restart(const RemoteInfoSettings& settings);
    int Restart(const RemoteInfoSettings& settings, const std::string& alternateAddress);

    // A worker runs (it ends by itself only on a socket error).
    bool IsRunning() const;
    uint32_t PasswordCheck() const { return passwordCheck_.load(); }
    // The bound UDP port while running, else 0.
    uint16_t LocalPort() const;
    RemoteInfoSettings Settings() const;

private:
    struct SenderLines {
        Tick windowStart = 0;
        uint32_t suppressed = 0;
    };
    enum class BadRequest { Password = 0, Command = 1 };

    void Worker();
    void Serve(const uint8_t* data, size_t size, uint32_t address, uint16_t port);
    // Builds the list records under the server list lock; the sends happen after it is released.
    int32_t ListServers(uint32_t address, uint16_t port);
    int32_t ListTrackerInfo(uint32_t address, uint16_t port);
    void ReportBadRequest(BadRequest kind, uint32_t address);
    void AddEvent(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void JoinEndedWorker();

    CServerInfoArray& servers_;
    std::recursive_mutex& serverListLock_;
    TrackerInfoStore& trackerInfo_;
    Clock& clock_;

    EventLogList* eventList_;                     // user-interface thread: the list of the last start
    std::atomic<EventLogList*> events_{nullptr};  // what the worker writes to; null after a quiet stop began
    std::atomic<uint32_t> passwordCheck_{0};
    mutable std::mutex settingsLock_;
    RemoteInfoSettings settings_;
    std::string alternateAddress_;

    TcpSocket socket_;
    std::thread worker_;
    std::atomic<bool> workerEnded_{true};
    std::atomic<bool> stopping_{false};  // the socket closes on purpose: not an error

    // Worker thread only (reset before a worker starts).
    std::map<std::pair<uint32_t, int>, SenderLines> senderLines_;
};

}  // namespace hm
