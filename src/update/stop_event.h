// A manual-reset stop signal for the update thread: set once at shutdown, it ends every wait at once
// and stays set until Reset.
//
// Shared by the thread that waits (the update thread and the HTTP clients it runs) and the thread that
// stops it (the user-interface thread). On a clock that does not block (the tests' manual clock) a
// wait advances that clock instead of waiting, so a cycle of waits runs in no time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/clock.h"

namespace hm {

class StopEvent {
public:
    void Set() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            set_ = true;
        }
        wake_.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> guard(lock_);
        set_ = false;
    }
    bool IsSet() const {
        std::lock_guard<std::mutex> guard(lock_);
        return set_;
    }
    // Waits up to ms; true when the signal is (or becomes) set.
    bool Wait(uint32_t ms, Clock& clock) const {
        if (!clock.Blocks()) {
            if (IsSet()) return true;
            clock.Sleep(ms);
            return IsSet();
        }
        std::unique_lock<std::mutex> held(lock_);
        return wake_.wait_for(held, std::chrono::milliseconds(ms), [this] { return set_; });
    }

private:
    mutable std::mutex lock_;
    mutable std::condition_variable wake_;
    bool set_ = false;
};

}  // namespace hm
