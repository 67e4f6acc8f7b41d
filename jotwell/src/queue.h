// The queued path: JotwellExQ puts a line with a copy of its options and the stamps of the moment
// of queuing on a bounded FIFO, and the library's single logging thread writes it through the
// synchronous path.
//
// Producers are any threads; the one consumer thread is started on first use and stopped
// cooperatively on unload (never killed), and the unload never waits for it without limit. The queue
// holds at most JOTWELL_QUEUE_CAPACITY entries, those the thread has taken but not written included;
// on overflow the last entry becomes an error line that counts the lost messages. Producers fill one
// buffer while the logging thread writes the other, and the two are swapped whole; the thread writes
// consecutive lines of the same file under one lock and one open; lines keep queue order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jotwell.h"

namespace hm::jotwell {

// The body of JotwellExQ.
int32_t EnqueueLine(const char* prefix, const char* text, JotwellOptions* options);

// Unload: stops the logging thread; with drain it first writes every entry still queued, in order,
// paused or not, for at most a bounded time, after which the rest is dropped. Without drain it stops
// after its current line. Returns false when the thread did not end in time (stuck in a system call):
// it is then left running, and nothing it uses may be freed.
bool StopQueue(bool drain);

// Frees the queue after StopQueue returned true (unload).
void ReleaseQueue();

// Entries waiting now (tests, diagnostics).
size_t QueuedEntries();


}  // namespace hm::jotwell
