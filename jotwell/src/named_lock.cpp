#include "named_lock.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

#include "per_process.h"
#include "unload_clock.h"
#include "platform/named_mutex.h"

namespace hm::jotwell {

struct NamedLock::Holder {
    NamedMutex mutex;
};

namespace {

constexpr size_t kCacheLimit = 64;
constexpr std::chrono::milliseconds kWaitSlice{100};

struct Cache {
    pid_t pid = 0;
    std::mutex lock;
    std::map<std::string, std::shared_ptr<NamedLock::Holder>> open;
};

std::atomic<Cache*> g_cache{nullptr};

std::shared_ptr<NamedLock::Holder> Open(const std::string& name) {
    auto holder = std::make_shared<NamedLock::Holder>();
    if (!holder->mutex.Create(name)) return nullptr;
    return holder;
}

std::shared_ptr<NamedLock::Holder> CachedOpen(const std::string& name) {
    Cache& cache = PerProcess(g_cache);
    {
        std::lock_guard<std::mutex> guard(cache.lock);
        auto it = cache.open.find(name);
        if (it != cache.open.end()) return it->second;
    }
    // Opened outside the cache lock: opening takes the platform's own locks.
    std::shared_ptr<NamedLock::Holder> holder = Open(name);
    if (!holder) return nullptr;
    std::vector<std::shared_ptr<NamedLock::Holder>> closing;  // closed after the cache lock is dropped
    std::lock_guard<std::mutex> guard(cache.lock);
    auto [it, added] = cache.open.emplace(name, holder);
    if (!added) return it->second;
    if (cache.open.size() > kCacheLimit) {
        // Keep the number of open lock files bounded over a long run: drop those nobody holds.
        for (auto e = cache.open.begin(); e != cache.open.end();) {
            if (e->second.use_count() == 1 && e->second != holder) {
                closing.push_back(std::move(e->second));
                e = cache.open.erase(e);
            } else {
                ++e;
            }
        }
    }
    return holder;
}

LockStatus Take(NamedMutex& mutex, uint32_t timeoutMs) {
    switch (mutex.Lock(timeoutMs)) {
        case NamedMutex::WaitResult::Acquired:
        case NamedMutex::WaitResult::Abandoned: return LockStatus::Acquired;
        case NamedMutex::WaitResult::Timeout: return LockStatus::Timeout;
        case NamedMutex::WaitResult::Failed: break;
    }
    return LockStatus::Failed;
}

}  // namespace

std::string LockFilePath(const std::string& name) { return NamedMutex::LockFilePath(name); }

void ReleaseLocks() { ReleasePerProcess(g_cache); }

NamedLock::~NamedLock() { Release(); }

LockStatus NamedLock::Acquire(const std::string& name, uint32_t waitMs) {
    Release();
    std::shared_ptr<Holder> holder = CachedOpen(name);
    if (!holder) return LockStatus::Failed;
    // Waited for in slices, so that a wait "forever" (a holder that hangs) still ends when the
    // library's unload runs out of time.
    // The first attempt is always made: a short wait (a few ms) may be used up by the time the thread
    // gets here on a busy machine, and a free lock must still be taken then.
    const auto start = UnloadClock::now();
    LockStatus status = LockStatus::Timeout;
    for (bool first = true;; first = false) {
        auto slice = kWaitSlice;
        if (waitMs != 0) {
            const auto left = std::chrono::milliseconds(waitMs) -
                              std::chrono::duration_cast<std::chrono::milliseconds>(UnloadClock::now() - start);
            slice = std::min(slice, std::max(left, std::chrono::milliseconds(0)));
        }
        slice = CutByUnload(slice);
        if (slice.count() <= 0 && !first) break;
        status = Take(holder->mutex, static_cast<uint32_t>(std::max<int64_t>(slice.count(), 0)));
        if (status != LockStatus::Timeout) break;
    }
    if (status == LockStatus::Acquired) holder_ = std::move(holder);
    return status;
}

LockStatus NamedLock::TryAcquire(const std::string& name) {
    Release();
    std::shared_ptr<Holder> holder = Open(name);
    if (!holder) return LockStatus::Failed;
    const LockStatus status = Take(holder->mutex, 0);
    if (status == LockStatus::Acquired) holder_ = std::move(holder);
    return status;
}

void NamedLock::Release() {
    if (!holder_) return;
    holder_->mutex.Unlock();
    holder_.reset();
}

}  // namespace hm::jotwell
