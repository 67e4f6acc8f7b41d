// The user-interface thread's task queue, seen from code that must not know which front-end runs.
//
// Worker threads (remote consoles, the info server, the update thread) never touch the view: they post
// a task and return at once. The front-end (Qt main window or the headless loop) owns the one
// implementation and runs every posted task on its own thread, in posting order. Post never blocks,
// so a worker cannot deadlock against a user-interface thread that is waiting for it.
#pragma once

#include <cstdint>
#include <functional>

namespace hm {

class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Queues task to run on the loop thread. Safe from any thread, never blocks.
    virtual void Post(std::function<void()> task) = 0;
    // True on the loop thread itself.
    virtual bool IsLoopThread() const = 0;
    // Runs task on the loop thread every periodMs milliseconds until KillTimer. Returns the timer's
    // identifier (never 0).
    virtual unsigned SetTimer(uint32_t periodMs, std::function<void()> task) = 0;
    virtual void KillTimer(unsigned id) = 0;
    // On the loop thread: runs the tasks already queued, without waiting (after the loop ended, so
    // that work posted before the end still gets done).
    virtual void RunPending() {}
};

}  // namespace hm
