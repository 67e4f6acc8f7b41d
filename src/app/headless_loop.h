// The headless front-end's user-interface thread: a task queue with periodic timers.
//
// The thread that calls Run() becomes the loop thread until Quit(). Post and Quit may be called from
// any thread and from signal-safe flags (see QuitRequested). Timers follow the real steady clock; the
// loop sleeps on a condition variable until the next timer, the next task or a quit request.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "eventlog/event_loop.h"

namespace hm {

class HeadlessLoop : public EventLoop {
public:
    HeadlessLoop();

    void Post(std::function<void()> task) override;
    bool IsLoopThread() const override;
    unsigned SetTimer(uint32_t periodMs, std::function<void()> task) override;
    void KillTimer(unsigned id) override;

    // Runs until Quit() or until *externalQuit becomes true (checked at least every pollMs).
    void Run(const std::atomic<bool>* externalQuit = nullptr, uint32_t pollMs = 100);
    // Runs queued tasks that are due now, without waiting (for callers that pump by hand).
    void RunPending() override;
    void Quit();

private:
    using Steady = std::chrono::steady_clock;
    struct Timer {
        uint32_t periodMs;
        Steady::time_point due;
        std::function<void()> task;
    };

    bool RunOne(std::unique_lock<std::mutex>& lock);

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::map<unsigned, Timer> timers_;
    unsigned nextTimer_ = 1;
    bool quit_ = false;
    // Set again by Run, while worker threads started before it may already ask IsLoopThread.
    std::atomic<std::thread::id> loopThread_;
};

}  // namespace hm
