#include "per_process.h"

#include <mutex>

#include <pthread.h>
#include <unistd.h>

namespace hm::jotwell {

namespace {

std::atomic<pid_t> g_pid{0};

void ChildAfterFork() { g_pid.store(getpid(), std::memory_order_relaxed); }

// Structures inherited through fork: a plain array, so they stay reachable for leak checkers.
constexpr int kRetiredSlots = 256;
std::atomic<void*> g_retired[kRetiredSlots];
std::atomic<int> g_retiredCount{0};

}  // namespace

void Retire(void* inherited) {
    const int i = g_retiredCount.fetch_add(1);
    if (i < kRetiredSlots) g_retired[i].store(inherited);
}

pid_t CurrentPid() {
    pid_t pid = g_pid.load(std::memory_order_relaxed);
    if (pid != 0) return pid;
    // The handler only stores a number: it takes no lock, so it cannot upset any other fork handler.
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, ChildAfterFork); });
    pid = getpid();
    g_pid.store(pid, std::memory_order_relaxed);
    return pid;
}

}  // namespace hm::jotwell
