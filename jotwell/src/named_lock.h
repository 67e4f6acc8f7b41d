// Named locks shared by every thread and every process that uses the same name: the file locks
// ("JotwellShr...") and compression locks ("JotwellZip...") of the log files.
//
// Built on the platform's NamedMutex (a lock file per name; the kernel drops a dead holder's lock,
// which counts as acquired; long names are hashed into valid lock names; recursive for the owning
// thread). Each process keeps the mutexes of recently used names open, so a line costs no extra
// open; a forked child starts with its own. A lock is released on the thread that took it. Never
// waits longer than asked, and no longer than the library's unload allows (unload_clock.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace hm::jotwell {

enum class LockStatus { Acquired, Timeout, Failed };

class NamedLock {
public:
    NamedLock() = default;
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    // Waits up to waitMs (0 = without limit); gives up (Timeout) once the unload's time is up.
    LockStatus Acquire(const std::string& name, uint32_t waitMs);
    // Takes the lock only if nobody holds it; the mutex is not kept open afterwards.
    LockStatus TryAcquire(const std::string& name);
    void Release();
    bool Held() const { return holder_ != nullptr; }

    struct Holder;

private:
    std::shared_ptr<Holder> holder_;
};

// Closes the mutexes kept open (unload).
void ReleaseLocks();

// The lock file a name maps to (tests, diagnostics).
std::string LockFilePath(const std::string& name);

}  // namespace hm::jotwell
