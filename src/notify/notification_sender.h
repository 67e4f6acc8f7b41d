// The sender of notifications: one background thread that posts each message to the web hooks whose
// kinds it matches, over HTTP or HTTPS (libcurl, certificates checked).
//
// Owned by the server manager's event watch. Enqueue is called on whichever thread adds an event line
// and only queues: a slow or dead web hook never holds up supervision. Each target has its own queue of
// at most kQueueLimit messages; beyond it the oldest goes, and the next message that reaches the target
// says how many were lost. A message is tried three times (waits of 1 s and 2 s between); when every
// try failed the target rests for kRestMs while its queue waits, so a dead hook costs the live ones
// little. Tests (SendTest) go before queued messages, one try each. The thread is the only one that
// uses curl here; Stop wakes every wait of it and abandons a transfer within a tenth of a second. It
// reports a failing target in the event list once (and its recovery); such lines are never sent.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "notify/notify_message.h"
#include "platform/clock.h"
#include "servers/program_settings.h"
#include "update/stop_event.h"

namespace hm {

class EventLogList;

// What one try of one target gave.
struct NotifyResult {
    std::string name, url;
    long status = 0;    // the HTTP status; 0 when no answer came
    std::string error;  // why no answer came (or "" with a status)
    bool Delivered() const { return status >= 200 && status < 300; }
};

class NotificationSender {
public:
    static constexpr size_t kQueueLimit = 500;
    static constexpr uint32_t kTimeoutMs = 5000;
    static constexpr uint32_t kRetryWaitsMs[2] = {1000, 2000};
    static constexpr uint32_t kRestMs = 30000;

    using TestDone = std::function<void(const std::vector<NotifyResult>& results)>;

    // events may be null (no reports of failing targets).
    NotificationSender(Clock& clock, EventLogList* events);
    ~NotificationSender();
    NotificationSender(const NotificationSender&) = delete;
    NotificationSender& operator=(const NotificationSender&) = delete;

    // Any thread. A target that stays (same name and address) keeps its queue; the others start empty.
    void SetTargets(const std::vector<CNotifyTarget>& targets);
    void Start();
    // Any thread; never waits for the network.
    void Enqueue(const NotifyMessage& message);
    // Sends the test message once to each of `targets` (the dialog's, which may not be stored yet) and
    // hands the results to `done` on the sender's thread. Without a running sender `done` is called
    // at once with every target failed.
    void SendTest(const std::vector<CNotifyTarget>& targets, TestDone done);
    // Gives the queues up to drainMs to empty (resting targets are not waited for), then stops.
    void Stop(uint32_t drainMs);

    struct Figures {
        uint64_t sent = 0, failed = 0, dropped = 0;  // messages: delivered, given up after every try, pushed out
        size_t queued = 0;
    };
    Figures Counts() const;

    // Certificates to trust for https ("" = the system's); set before Start (tests).
    std::string caFile;

private:
    struct TargetState {
        CNotifyTarget target;
        std::deque<NotifyMessage> queue;
        uint64_t lost = 0;  // since the last delivered message
        bool resting = false;
        Tick restUntil = 0;
        bool reported = false;  // its failure is in the event list
    };
    struct TestRequest {
        std::vector<CNotifyTarget> targets;
        TestDone done;
    };

    void Run();
    // One message to one target with its retries; the results of the last try.
    NotifyResult Deliver(const CNotifyTarget& target, const std::string& body, int tries);
    NotifyResult Post(const CNotifyTarget& target, const std::string& body);
    // The next target with a message to send and no rest, round robin; -1 for none.
    int NextReady(Tick now);
    bool Idle(Tick now);  // nothing can be sent now and nothing is on its way (lock held)
    // Books a message's end (lock held); the event line to add about the target, if any.
    std::string Finished(const std::string& name, const std::string& url, const NotifyResult& result, uint64_t lost);

    Clock& clock_;
    EventLogList* events_;
    StopEvent stop_;  // ends back-off waits and transfers

    mutable std::mutex lock_;
    std::condition_variable wake_;  // new work or the stop
    std::condition_variable idle_;  // a message or test is done
    std::vector<TargetState> targets_;
    std::deque<TestRequest> tests_;
    size_t nextTarget_ = 0;
    bool running_ = false, stopping_ = false, closing_ = false, busy_ = false;
    Figures figures_;
    std::thread thread_;
};

}  // namespace hm
