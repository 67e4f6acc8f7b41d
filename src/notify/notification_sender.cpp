#include "notify/notification_sender.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>

#include "eventlog/event_log.h"
#include "platform/socket.h"
#include "update/http_common.h"

namespace hm {
namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Web hooks answer with a few bytes that nobody reads; a flood of them ends the transfer.
class PostExchange : public http::Exchange {
protected:
    bool OnBody(const char*, size_t size) override {
        received_ += size;
        return received_ <= 64 * 1024;
    }

private:
    size_t received_ = 0;
};

// A hook that is down, overloaded or slow may take the next try; a refusal (a wrong address or key)
// stays one.
bool WorthRetrying(const NotifyResult& r) { return r.status == 0 || r.status == 408 || r.status == 429 || r.status >= 500; }

std::string Outcome(const NotifyResult& r) { return r.status ? "HTTP " + std::to_string(r.status) : r.error; }

}  // namespace

NotificationSender::NotificationSender(Clock& clock, EventLogList* events) : clock_(clock), events_(events) {}

NotificationSender::~NotificationSender() { Stop(0); }

void NotificationSender::SetTargets(const std::vector<CNotifyTarget>& targets) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<bool> kept(targets_.size(), false);
    std::vector<TargetState> next;
    for (const CNotifyTarget& target : targets) {
        TargetState state;
        for (size_t i = 0; i < targets_.size(); ++i) {
            if (kept[i] || !SameName(targets_[i].target.name, target.name) || targets_[i].target.url != target.url) continue;
            state = std::move(targets_[i]);
            kept[i] = true;
            break;
        }
        state.target = target;
        next.push_back(std::move(state));
    }
    for (size_t i = 0; i < targets_.size(); ++i)
        if (!kept[i]) figures_.dropped += targets_[i].queue.size();
    targets_ = std::move(next);
    nextTarget_ = 0;
    wake_.notify_all();
}

void NotificationSender::Start() {
    std::lock_guard<std::mutex> guard(lock_);
    if (running_ || stopping_) return;
    running_ = true;
    thread_ = std::thread([this] { Run(); });
}

void NotificationSender::Enqueue(const NotifyMessage& message) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (closing_) return;
        bool queued = false;
        for (TargetState& state : targets_) {
            if (state.target.url.empty() || !state.target.Wants(message.kind)) continue;
            state.queue.push_back(message);
            queued = true;
            if (state.queue.size() > kQueueLimit) {
                state.queue.pop_front();
                ++state.lost;
                ++figures_.dropped;
            }
        }
        if (!queued) return;
    }
    wake_.notify_all();
}

void NotificationSender::SendTest(const std::vector<CNotifyTarget>& targets, TestDone done) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (running_ && !stopping_) {
            tests_.push_back({targets, std::move(done)});
            wake_.notify_all();
            return;
        }
    }
    std::vector<NotifyResult> results;
    for (const CNotifyTarget& target : targets) results.push_back({target.name, target.url, 0, "the sender is not running"});
    done(results);
}

void NotificationSender::Stop(uint32_t drainMs) {
    std::unique_lock<std::mutex> held(lock_);
    closing_ = true;
    if (!running_) return;
    if (drainMs > 0 && !stopping_)
        idle_.wait_for(held, std::chrono::milliseconds(drainMs), [this] { return Idle(clock_.TickCount()); });
    stopping_ = true;
    held.unlock();
    stop_.Set();
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    held.lock();
    running_ = false;
    std::deque<TestRequest> unanswered;
    unanswered.swap(tests_);
    held.unlock();
    // Whoever asked for a test waits for its answer.
    for (TestRequest& test : unanswered) {
        std::vector<NotifyResult> results;
        for (const CNotifyTarget& target : test.targets) results.push_back({target.name, target.url, 0, "stopped"});
        test.done(results);
    }
}

NotificationSender::Figures NotificationSender::Counts() const {
    std::lock_guard<std::mutex> guard(lock_);
    Figures figures = figures_;
    for (const TargetState& state : targets_) figures.queued += state.queue.size();
    return figures;
}

int NotificationSender::NextReady(Tick now) {
    for (size_t i = 0; i < targets_.size(); ++i) {
        const size_t k = (nextTarget_ + i) % targets_.size();
        TargetState& state = targets_[k];
        if (state.queue.empty()) continue;
        if (state.resting && static_cast<int32_t>(now - state.restUntil) < 0) continue;
        state.resting = false;
        nextTarget_ = k + 1;
        return static_cast<int>(k);
    }
    return -1;
}

bool NotificationSender::Idle(Tick now) {
    if (busy_ || !tests_.empty()) return false;
    return std::all_of(targets_.begin(), targets_.end(), [now](const TargetState& state) {
        return state.queue.empty() || (state.resting && static_cast<int32_t>(now - state.restUntil) < 0);
    });
}

void NotificationSender::Run() {
    const std::string host = HostName();
    std::unique_lock<std::mutex> held(lock_);
    while (!stopping_) {
        if (!tests_.empty()) {
            TestRequest test = std::move(tests_.front());
            tests_.pop_front();
            busy_ = true;
            held.unlock();
            NotifyMessage message;
            message.time = clock_.Now();
            message.test = true;
            message.text = "Notification test from Haldmoor3" + (host.empty() ? std::string() : " on " + host) + ".";
            std::vector<NotifyResult> results;
            for (const CNotifyTarget& target : test.targets) {
                results.push_back(target.url.empty() ? NotifyResult{target.name, target.url, 0, "no url= is set"}
                                                     : Post(target, NotifyBody(target.format, message, 0)));
            }
            test.done(results);
            held.lock();
            busy_ = false;
            idle_.notify_all();
            continue;
        }

        const Tick now = clock_.TickCount();
        const int next = NextReady(now);
        if (next >= 0) {
            TargetState& state = targets_[static_cast<size_t>(next)];
            const NotifyMessage message = std::move(state.queue.front());
            state.queue.pop_front();
            const uint64_t lost = state.lost;
            const CNotifyTarget target = state.target;
            busy_ = true;
            held.unlock();
            const NotifyResult result = Deliver(target, NotifyBody(target.format, message, lost), 3);
            held.lock();
            busy_ = false;
            const std::string report = Finished(target.name, target.url, result, lost);
            idle_.notify_all();
            if (!report.empty() && events_) {
                // Never under the lock: the line passes through the event watch, which may enqueue.
                held.unlock();
                events_->AddEvent("%s", report.c_str());
                held.lock();
            }
            continue;
        }

        // Nothing to send now: wait for work, or for the first rest to end.
        bool resting = false;
        Tick wait = kRestMs;
        for (const TargetState& state : targets_) {
            if (state.queue.empty() || !state.resting) continue;
            resting = true;
            wait = std::min<Tick>(wait, static_cast<Tick>(std::max<int32_t>(static_cast<int32_t>(state.restUntil - now), 1)));
        }
        idle_.notify_all();
        if (!resting) {
            wake_.wait(held);
        } else if (clock_.Blocks()) {
            wake_.wait_for(held, std::chrono::milliseconds(wait));
        } else {
            held.unlock();
            stop_.Wait(wait, clock_);  // a manual clock moves on by itself
            held.lock();
        }
    }
}

NotifyResult NotificationSender::Deliver(const CNotifyTarget& target, const std::string& body, int tries) {
    NotifyResult result = Post(target, body);
    for (int i = 0; i + 1 < tries && !result.Delivered() && WorthRetrying(result); ++i) {
        if (stop_.Wait(kRetryWaitsMs[std::min(i, 1)], clock_)) break;
        result = Post(target, body);
    }
    return result;
}

NotifyResult NotificationSender::Post(const CNotifyTarget& target, const std::string& body) {
    NotifyResult result{target.name, target.url, 0, ""};
    PostExchange exchange;
    http::HeaderList headers;
    CURL* easy = exchange.Handle();
    // "Expect:" off: a hook that does not know 100-continue would cost every message a second.
    bool ok = exchange.Prepare(target.url, caFile, kTimeoutMs / 1000) && headers.Add("Content-Type: application/json") &&
              headers.Add("Expect:");
    ok = ok && curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.Get()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size())) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kTimeoutMs)) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(kTimeoutMs)) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_USERAGENT, "Haldmoor3") == CURLE_OK;
    if (!ok) {
        result.error = "the request could not be prepared";
        return result;
    }
    const CURLcode code = exchange.Run(&stop_);
    if (code == CURLE_OK && exchange.statusSeen) {
        result.status = exchange.status;
    } else {
        result.error = exchange.stopped ? "stopped" : curl_easy_strerror(code);
    }
    return result;
}

std::string NotificationSender::Finished(const std::string& name, const std::string& url, const NotifyResult& result,
                                  uint64_t lost) {
    auto state = std::find_if(targets_.begin(), targets_.end(), [&](const TargetState& s) {
        return SameName(s.target.name, name) && s.target.url == url;
    });
    std::string report;
    if (result.Delivered()) {
        ++figures_.sent;
        if (state != targets_.end()) {
            state->lost -= std::min(state->lost, lost);
            if (state->reported) report = "Notification target " + name + " works again.";
            state->reported = false;
        }
    } else {
        ++figures_.failed;
        if (state != targets_.end() && !stopping_) {
            ++state->lost;
            state->resting = true;
            state->restUntil = clock_.TickCount() + kRestMs;
            if (!state->reported)
                report = "Warning: Notification target " + name + " failed (" + Outcome(result) +
                         "); its messages wait " + std::to_string(kRestMs / 1000) + " s.";
            state->reported = true;
        }
    }
    return report;
}

}  // namespace hm
