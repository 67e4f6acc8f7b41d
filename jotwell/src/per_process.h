// Process-wide state that a forked child must not share with its parent.
//
// A child inherits the parent's memory, possibly with a mutex held by a parent thread that does not
// exist in the child, and with queued lines and open locks that belong to the parent. Instead of
// fork handlers that take locks (which would have to agree on an order with all other code), every
// structure is reached through PerProcess(): the first access in a new process replaces it with a
// fresh one and leaves the inherited one untouched. Any thread.
#pragma once

#include <atomic>

#include <sys/types.h>

namespace hm::jotwell {

// The id of this process, without a system call (kept up to date across fork).
pid_t CurrentPid();

// Keeps an inherited structure reachable (it is never used or freed again).
void Retire(void* inherited);

// T needs a member `pid_t pid`.
template <class T>
T& PerProcess(std::atomic<T*>& slot) {
    const pid_t me = CurrentPid();
    T* current = slot.load(std::memory_order_acquire);
    while (!current || current->pid != me) {
        T* fresh = new T;
        fresh->pid = me;
        T* replaced = current;
        if (slot.compare_exchange_strong(current, fresh, std::memory_order_acq_rel)) {
            if (replaced) Retire(replaced);
            return *fresh;
        }
        delete fresh;
    }
    return *current;
}

// Unload: frees this process's structure; a later use makes a new one.
template <class T>
void ReleasePerProcess(std::atomic<T*>& slot) {
    T* current = slot.exchange(nullptr, std::memory_order_acq_rel);
    if (current && current->pid == CurrentPid()) delete current;
    else if (current) Retire(current);
}

}  // namespace hm::jotwell
