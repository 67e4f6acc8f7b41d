#include "unload_clock.h"

#include <algorithm>
#include <atomic>

namespace hm::jotwell {

namespace {

// Nanoseconds of the steady clock; 0 while no unload runs.
std::atomic<int64_t> g_deadline{0};

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(UnloadClock::now().time_since_epoch()).count();
}

}  // namespace

void StartUnloadClock(std::chrono::milliseconds budget) {
    g_deadline.store(std::max<int64_t>(1, NowNs() + std::chrono::nanoseconds(budget).count()),
                     std::memory_order_release);
}

void ResetUnloadClock() { g_deadline.store(0, std::memory_order_release); }

bool Unloading() { return g_deadline.load(std::memory_order_acquire) != 0; }

bool UnloadTimeIsUp() {
    const int64_t deadline = g_deadline.load(std::memory_order_acquire);
    return deadline != 0 && NowNs() >= deadline;
}

std::chrono::milliseconds CutByUnload(std::chrono::milliseconds wanted) {
    const int64_t deadline = g_deadline.load(std::memory_order_acquire);
    if (deadline == 0) return wanted;
    const int64_t left = std::max<int64_t>(0, deadline - NowNs());
    return std::min(wanted, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(left)));
}

}  // namespace hm::jotwell
