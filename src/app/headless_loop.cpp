#include "app/headless_loop.h"

namespace hm {

HeadlessLoop::HeadlessLoop() : loopThread_(std::this_thread::get_id()) {}

void HeadlessLoop::Post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

bool HeadlessLoop::IsLoopThread() const { return std::this_thread::get_id() == loopThread_.load(); }

unsigned HeadlessLoop::SetTimer(uint32_t periodMs, std::function<void()> task) {
    std::lock_guard<std::mutex> guard(lock_);
    const unsigned id = nextTimer_++;
    timers_[id] = Timer{periodMs, Steady::now() + std::chrono::milliseconds(periodMs), std::move(task)};
    wake_.notify_one();
    return id;
}

void HeadlessLoop::KillTimer(unsigned id) {
    std::lock_guard<std::mutex> guard(lock_);
    timers_.erase(id);
}

// Runs one due task or timer with the lock released; false when nothing was due.
bool HeadlessLoop::RunOne(std::unique_lock<std::mutex>& lock) {
    if (!tasks_.empty()) {
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
        return true;
    }
    const auto now = Steady::now();
    for (auto& [id, timer] : timers_) {
        if (timer.due <= now) {
            timer.due = now + std::chrono::milliseconds(timer.periodMs);
            auto task = timer.task;  // the timer may be killed while its task runs
            lock.unlock();
            task();
            lock.lock();
            return true;
        }
    }
    return false;
}

void HeadlessLoop::RunPending() {
    std::unique_lock<std::mutex> lock(lock_);
    while (RunOne(lock)) {
    }
}

void HeadlessLoop::Run(const std::atomic<bool>* externalQuit, uint32_t pollMs) {
    loopThread_.store(std::this_thread::get_id());
    std::unique_lock<std::mutex> lock(lock_);
    quit_ = false;
    while (!quit_) {
        if (externalQuit && externalQuit->load()) break;
        if (RunOne(lock)) continue;
        auto until = Steady::now() + std::chrono::milliseconds(externalQuit ? pollMs : 3600000);
        for (auto& entry : timers_) until = std::min(until, entry.second.due);
        wake_.wait_until(lock, until);
    }
}

void HeadlessLoop::Quit() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
    }
    wake_.notify_one();
}

}  // namespace hm
