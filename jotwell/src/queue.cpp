#include "queue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "compose.h"
#include "config.h"
#include "naming.h"
#include "per_process.h"
#include "rotation.h"
#include "stamps.h"
#include "unload_clock.h"
#include "work.h"
#include "writer.h"

extern "C" uint32_t bAboutToExit;

namespace hm::jotwell {

namespace {

constexpr size_t kCapacity = JOTWELL_QUEUE_CAPACITY;
constexpr size_t kMaxAppendBytes = 1 << 20;   // one append of a run of lines
constexpr size_t kOwnBlockText = 16 * 1024;   // longer texts get a block of their own
constexpr int kMutexRetries = 1000;
// After a batch the logging thread looks for more work a few times by itself, so producers need not
// wake it (a system call) for every line that finds the queue empty; then it sleeps until woken.
constexpr auto kIdlePoll = std::chrono::microseconds(250);
constexpr int kIdlePolls = 200;
constexpr uint32_t kTailPrefix = UINT32_MAX;  // prefixOffset of an overwritten tail entry
constexpr size_t kKeptEntries = 8192;         // room a buffer keeps while the queue is idle
// The unload writes out the queue for at most this long (a full queue takes a fraction of it on a
// healthy disk); then the rest is dropped. The logging thread gets kStopWait beyond that to end, twice.
constexpr std::chrono::milliseconds kDrainTime{2000};
constexpr std::chrono::milliseconds kStopWait{200};

// What only few lines carry: options with their own strings, stamps taken by the caller, long texts.
struct Extra {
    std::shared_ptr<const WorkStrings> strings;  // null: the defaults of the entry's buffer
    bool hasStamps = false;
    DateStamps stamps{};
    std::string text;                            // a long text (kOwnBlockText bytes or more)
    bool ownText = false;
};

// One queued line. The prefix and text bytes live in the buffer's byte block, so a line costs no
// allocation of its own; the stamp is kept as the wall time of queuing and turned into texts when the
// line is written (the texts depend on nothing else).
struct Entry {
    uint32_t logOptions = 0;
    uint32_t extOptions = 0;
    uint32_t checkInterval = 0;
    uint32_t checkCountdown = 0;
    uint32_t limit1 = 0;
    uint32_t limit2 = 0;
    uint32_t waitMs = 0;
    uint32_t dumpWidth = 0;
    uint32_t lost = 0;            // overrun count: the text is then the overrun error line
    uint32_t defaults = 0;        // index of the default strings in the buffer
    // A buffer holds at most kCapacity entries of at most 260 prefix bytes and less than
    // kOwnBlockText text bytes each, so offsets of prefixes fit 32 bits.
    uint32_t prefixOffset = 0;    // kTailPrefix: Buffer::tailPrefix
    uint32_t prefixLength = 0;
    size_t textOffset = 0;
    size_t textLength = 0;
    WallTime time;
    std::unique_ptr<Extra> extra;
};

// Entries in queue order with the bytes they refer to. The producers fill one buffer while the logging
// thread writes the other; the two are swapped whole, and keep their memory for the next round.
struct Buffer {
    std::vector<Entry> entries;
    std::string bytes;
    std::string tailPrefix;                                      // the prefix of an overrun tail
    std::vector<std::shared_ptr<const WorkStrings>> defaults;    // the default strings in force
    uint64_t defaultsGeneration = 0;

    // Empties the buffer; its memory stays for the next round (fresh memory costs page faults).
    void Clear() {
        entries.clear();
        bytes.clear();
        tailPrefix.clear();
        defaults.clear();
        defaultsGeneration = 0;
    }

    // Gives back what a burst left, once the buffer is empty.
    void Trim() {
        if (!entries.empty()) return;
        if (entries.capacity() > kKeptEntries) {
            std::vector<Entry> fresh;
            fresh.reserve(kKeptEntries);
            entries.swap(fresh);
        }
        if (bytes.capacity() > kKeptEntries * 128) {
            std::string fresh;
            fresh.reserve(kKeptEntries * 128);
            bytes.swap(fresh);
        }
    }
};

// The queue holds the entries of `incoming` and the entries of `writing` not written yet; together
// they never pass the capacity.
struct Queue {
    pid_t pid = 0;                         // a forked child has its own (empty) queue and no thread yet
    // Guards incoming, signalCreated, consumerWaiting, tailClaimed, threadEnded and the swap of the
    // buffers. Held only for copies in memory, never across a file operation or a wait, which is why
    // producers need no time-out on it.
    std::mutex lock;
    std::condition_variable changed;       // entries arrived, resumed, or stop
    std::condition_variable ended;         // the logging thread has ended (unload waits for it)
    Buffer incoming;
    bool signalCreated = false;
    std::atomic<bool> running{true};       // the pause/resume signal
    std::atomic<bool> stop{false};
    std::atomic<bool> drainOnStop{false};  // with stop: write everything queued first (unload)
    bool consumerWaiting = false;          // the logging thread sleeps until woken
    bool threadEnded = false;
    // The batch being written, by the logging thread (or, without one, by the unload). Producers read
    // writingLeft, and while tailClaimed is false they may overwrite the last entry (an overrun)
    // under the lock; every other entry belongs to the writer alone.
    Buffer writing;
    size_t writingNext = 0;                // writer only
    std::atomic<size_t> writingLeft{0};    // entries of writing not written yet
    bool tailClaimed = false;              // the writer has taken the last entry of writing
    std::mutex startLock;                  // the thread is started once
    std::thread* thread = nullptr;
    std::atomic<bool> started{false};
};

std::atomic<Queue*> g_queue{nullptr};  // never destroyed: the logging thread may outlive static destructors

bool Pausing(uint32_t ext) { return (ext & (LE_PAUSE_BEFORE | LE_PAUSE_AFTER)) != 0; }

std::string_view PrefixOf(const Buffer& b, const Entry& e) {
    if (e.prefixOffset == kTailPrefix) return b.tailPrefix;
    return std::string_view(b.bytes.data() + e.prefixOffset, e.prefixLength);
}

std::string OverrunText(uint32_t lost) {
    return Format("Error in library 'jotwell.dll', function 'JotwellExQ ()': Message queue overrun - "
                  "%10d messages lost.",
                  static_cast<int>(lost));
}

// The text of an entry; scratch holds it when it is made here.
std::string_view TextOf(const Buffer& b, const Entry& e, std::string& scratch) {
    if (e.lost) {
        scratch = OverrunText(e.lost);
        return scratch;
    }
    if (e.extra && e.extra->ownText) return e.extra->text;
    return std::string_view(b.bytes.data() + e.textOffset, e.textLength);
}

const std::shared_ptr<const WorkStrings>& StringsOf(const Buffer& b, const Entry& e) {
    if (e.extra && e.extra->strings) return e.extra->strings;
    return b.defaults[e.defaults];
}

void StampsOf(const Entry& e, DateStamps& out) {
    if (e.extra && e.extra->hasStamps) out = e.extra->stamps;
    else ComputeStamps(e.time, (e.logOptions & LO_TIME_T) != 0, out);
}

// The entry as the record the synchronous path works on.
void ToWork(const Buffer& b, const Entry& e, Work& w) {
    w = Work{};
    w.logOptions = e.logOptions;
    w.extOptions = e.extOptions;
    w.checkInterval = e.checkInterval;
    w.checkCountdown = e.checkCountdown;
    w.limit1 = e.limit1;
    w.limit2 = e.limit2;
    w.waitMs = e.waitMs;
    w.dumpWidth = e.dumpWidth;
    w.strings = StringsOf(b, e);
    StampsOf(e, w.stamps);
}

// The caller options that decide how a line is composed, where it goes and how the file rotates.
bool SameCallerOptions(const Buffer& b, const Entry& x, const Entry& y) {
    if (!((x.logOptions & ~LO_SKIP_ROTATION) == (y.logOptions & ~LO_SKIP_ROTATION) && x.extOptions == y.extOptions &&
          x.checkInterval == y.checkInterval && x.limit1 == y.limit1 && x.limit2 == y.limit2 &&
          x.waitMs == y.waitMs && x.dumpWidth == y.dumpWidth)) {
        return false;
    }
    const auto& xs = StringsOf(b, x);
    const auto& ys = StringsOf(b, y);
    return xs == ys || *xs == *ys;
}

bool SamePrefix(const Buffer& b, const Entry& x, const Entry& y) {
    if (x.prefixOffset == y.prefixOffset && x.prefixOffset != kTailPrefix) return true;
    return PrefixOf(b, x) == PrefixOf(b, y);
}

// Same date part of the file name, whatever the naming.
bool SameFileDate(const DateStamps& a, const DateStamps& b) {
    return std::memcmp(a.dtmsText, b.dtmsText, 10) == 0 && std::memcmp(a.weekText, b.weekText, 8) == 0;
}

// Whether preparing this entry may write lines of its own (banner, configuration, registry);
// such an entry goes alone so that no line overtakes another.
bool MayWriteMessages(const Entry& e, const std::string& prefix) {
    if (e.logOptions & (LO_USER_ISO_DATE | LO_REG_ISO_DATE)) return true;
    if (!BannerWritten()) return true;
    return !(e.extOptions & LE_CONFIG_MERGED) && !IsConfigurationCached(prefix);
}

int AppendRetrying(const std::string& path, const std::string& data, uint32_t waitMs) {
    int result = AppendToLog(path, data, waitMs);
    for (int i = 0; result == JOTWELL_MUTEX_ERROR && i < kMutexRetries; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        result = AppendToLog(path, data, waitMs);
    }
    return result;
}

void WriteAlone(const std::string& prefix, std::string_view text, const Work& entryWork) {
    int result;
    int tries = 0;
    do {
        Work work = entryWork;
        result = WriteText(prefix, text, false, work);
        if (result == JOTWELL_MUTEX_ERROR) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (result == JOTWELL_MUTEX_ERROR && ++tries < kMutexRetries);
}

// Writes the entries of b from index next on, in order, until all are written or the queue is paused
// or stopped (checked before every line). A line goes through the whole synchronous path; the lines
// right behind it with the same prefix, options and file date are composed straight into the same
// append (for them every other step gives the same result), so a run of lines costs one lock, one
// open and one rotation. Returns the index of the first entry not written.
// Whether the writer stops before its next line: paused, stopped, or the unload's time is up. The
// unload's drain writes on whether the queue was paused or not.
bool Halted(const Queue& q) {
    if (q.stop.load(std::memory_order_relaxed)) {
        return !q.drainOnStop.load(std::memory_order_relaxed) || UnloadTimeIsUp();
    }
    return !q.running.load(std::memory_order_relaxed);
}

// The last entry of the batch may be overwritten by a producer (overrun) until the writer claims it,
// under the lock, before reading it.
void ClaimTail(Queue& q, const Buffer& b, size_t index) {
    if (index + 1 != b.entries.size()) return;
    std::lock_guard<std::mutex> guard(q.lock);
    q.tailClaimed = true;
}

// Writes the entries of b (the queue's writing buffer) from index next on, in order, until all are
// written or the writer is halted (checked before every line). A line goes through the whole synchronous
// path; the lines right behind it with the same prefix, options and file date are composed straight into
// the same append (for them every other step gives the same result), so a run of lines costs one lock,
// one open and one rotation. Publishes its progress in writingLeft; returns the index of the first entry
// not written.
size_t WriteEntries(Queue& q, Buffer& b, size_t next, std::string& data) {
    std::string scratch;
    Work head;
    DateStamps stamps{};
    auto written = [&q, &b](size_t upTo) { q.writingLeft.store(b.entries.size() - upTo, std::memory_order_release); };
    while (next < b.entries.size() && !Halted(q)) {
        ClaimTail(q, b, next);
        const Entry& first = b.entries[next++];
        const std::string prefix(PrefixOf(b, first));
        ToWork(b, first, head);
        if (Pausing(first.extOptions) || MayWriteMessages(first, prefix)) {
            WriteAlone(prefix, TextOf(b, first, scratch), head);
            written(next);
            continue;
        }
        PreparedLine line;
        PrepareLine(prefix, TextOf(b, first, scratch), false, head, line);
        if (line.finished) {
            written(next);
            continue;
        }
        if (!line.append) {
            if (line.rotate) RunRotation(prefix, head, line.path);
            written(next);
            continue;
        }
        data.assign(line.data);
        bool rotate = line.rotate;
        const bool echo = (head.logOptions & (LO_ECHO | LO_ECHO_ONLY)) != 0;
        const bool forced = (head.extOptions & LE_FORCE_BINARY) != 0;
        const bool threeBlanks = (head.extOptions & LE_THREE_BLANKS) != 0;
        const DateStamps& firstStamps = head.stamps;
        while (next < b.entries.size() && data.size() < kMaxAppendBytes && !Halted(q)) {
            ClaimTail(q, b, next);
            const Entry& e = b.entries[next];
            if (Pausing(e.extOptions) || !SamePrefix(b, e, first) || !SameCallerOptions(b, e, first)) break;
            StampsOf(e, stamps);
            if (!SameFileDate(stamps, firstStamps)) break;
            uint32_t logOptions = e.logOptions, countdown = e.checkCountdown;
            ApplyCheckInterval(logOptions, e.checkInterval, countdown);
            if (!(logOptions & LO_SKIP_ROTATION)) rotate = true;
            const size_t start = data.size();
            const std::string_view text = TextOf(b, e, scratch);
            if (NeedsDump(text, forced)) {
                for (const std::string& dumpLine : HexDumpLines(text, head.dumpWidth, threeBlanks)) {
                    AppendComposedLine(data, prefix, dumpLine, head.logOptions, head.extOptions, stamps);
                }
            } else {
                AppendComposedLine(data, prefix, text, head.logOptions, head.extOptions, stamps);
            }
            if (echo) EchoLines(std::string_view(data).substr(start), (head.logOptions & LO_STDERR) != 0);
            ++next;
        }
        if (AppendRetrying(line.path, data, head.waitMs) == 0 && rotate) RunRotation(prefix, head, line.path);
        written(next);
    }
    return next;
}

// Writes what is left of the batch in q.writing; clears it once every entry is written.
void WriteBatch(Queue& q, std::string& data) {
    try {
        q.writingNext = WriteEntries(q, q.writing, q.writingNext, data);
    } catch (...) {
        // Out of memory: the rest of the batch is lost, the thread goes on with the next one.
        q.writingNext = q.writing.entries.size();
    }
    if (q.writingNext >= q.writing.entries.size()) {
        std::lock_guard<std::mutex> guard(q.lock);
        q.writing.Clear();
        q.writingNext = 0;
        q.writingLeft.store(0);
    }
    if (data.capacity() > 2 * kMaxAppendBytes) std::string().swap(data);
}

// Takes the next batch when the last one is written (under the lock).
void TakeIncoming(Queue& q) {
    if (q.writingLeft.load() != 0 || q.incoming.entries.empty()) return;
    std::swap(q.incoming, q.writing);
    q.incoming.Clear();
    q.writingNext = 0;
    q.tailClaimed = false;
    q.writingLeft.store(q.writing.entries.size());
}

void LoggingThread(Queue* q) {
    std::string data;
    int idle = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(q->lock);
            for (;;) {
                const bool work = q->writingLeft.load() != 0 || !q->incoming.entries.empty();
                if (q->stop.load() && (!work || Halted(*q))) {
                    // Stopped: without the drain after the current line, with it once all is written
                    // or the unload's time is up. What is left is dropped with the queue.
                    q->threadEnded = true;
                    q->ended.notify_all();
                    return;
                }
                const bool running = q->running.load() || q->stop.load();
                if (running && work) break;
                if (running && idle < kIdlePolls) {
                    ++idle;
                    q->changed.wait_for(guard, kIdlePoll);
                } else {
                    // Idle for a while (or paused): a burst's memory goes back.
                    q->incoming.Trim();
                    q->writing.Trim();
                    q->consumerWaiting = true;
                    q->changed.wait(guard);
                    q->consumerWaiting = false;
                    idle = 0;
                }
            }
            TakeIncoming(*q);
        }
        idle = 0;
        WriteBatch(*q, data);
    }
}

void StartThreadOnce(Queue& q) {
    if (q.started.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> guard(q.startLock);
    if (q.thread) return;
    q.thread = new std::thread(LoggingThread, &q);
    q.started.store(true, std::memory_order_release);
}

// Index of the default strings in force, in the buffer (the library folder, and with it the default
// configuration file, may change between two lines).
uint32_t DefaultsIndex(Buffer& b) {
    const uint64_t generation = LibraryFolderGeneration();
    if (b.defaults.empty() || b.defaultsGeneration != generation) {
        b.defaults.push_back(DefaultStrings());
        b.defaultsGeneration = generation;
    }
    return static_cast<uint32_t>(b.defaults.size() - 1);
}

}  // namespace

int32_t EnqueueLine(const char* prefix, const char* text, JotwellOptions* options) {
    if (__atomic_load_n(&bAboutToExit, __ATOMIC_ACQUIRE)) return JOTWELL_UNLOADING;

    // The entry is built outside the queue lock; only its bytes are copied under it.
    Entry entry;
    std::unique_ptr<Extra> extra;
    size_t textLength = 0;
    if (options) {
        CopyLineNumbers(*options, entry);
        textLength = options->textLength;
        if (HasCustomStrings(*options)) {
            Work custom;
            LoadWork(options, custom);
            extra = std::make_unique<Extra>();
            extra->strings = std::move(custom.strings);
        }
        if ((entry.extOptions & LE_STAMPS_TAKEN) && options->stamps && StampsComplete(*options->stamps)) {
            if (!extra) extra = std::make_unique<Extra>();
            extra->hasStamps = true;
            extra->stamps = *options->stamps;
        }
    }
    if (!extra || !extra->hasStamps) entry.time = Now();
    if (ValidatePrefix(prefix) != 0) return JOTWELL_BAD_PREFIX;

    ApplyCheckInterval(entry.logOptions, entry.checkInterval, entry.checkCountdown);
    if (options) {
        options->checkCountdown = entry.checkCountdown;
        if (options->stamps) {
            if (extra && extra->hasStamps) *options->stamps = extra->stamps;
            else ComputeStamps(entry.time, (entry.logOptions & LO_TIME_T) != 0, *options->stamps);
        }
    }
    entry.extOptions |= LE_STAMPS_TAKEN | LE_QUEUED;
    const uint32_t ext = entry.extOptions;

    std::string_view body;
    if (text) body = std::string_view(text, textLength ? textLength : std::strlen(text));
    const bool controlOnly = (ext & LE_QUEUE_CONTROL_ONLY) != 0;
    if (!controlOnly && body.size() >= kOwnBlockText) {
        if (!extra) extra = std::make_unique<Extra>();
        extra->text.assign(body);
        extra->ownText = true;
    }
    const std::string_view prefixText(prefix);

    Queue& q = PerProcess(g_queue);
    {
        std::lock_guard<std::mutex> guard(q.lock);
        if (!q.signalCreated) {
            q.signalCreated = true;
            q.running.store(!(ext & LE_QUEUE_PAUSE));
        }
        if (ext & LE_QUEUE_PAUSE) q.running.store(false);
        if (ext & LE_QUEUE_RESUME) q.running.store(true);
        if (controlOnly) {
            q.changed.notify_all();
            return JOTWELL_OK;
        }
        Buffer& b = q.incoming;
        const bool running = q.running.load();
        // Waking the logging thread costs a system call: only when it sleeps and has work now.
        const bool wake = q.consumerWaiting && running && (b.entries.empty() || (ext & LE_QUEUE_RESUME));
        const size_t writingLeft = q.writingLeft.load();
        if (b.entries.size() + writingLeft < kCapacity) {
            if (!extra || !extra->strings) entry.defaults = DefaultsIndex(b);
            // Lines of one producer mostly share their prefix: its bytes are kept once.
            if (!b.entries.empty() && b.entries.back().prefixOffset != kTailPrefix &&
                PrefixOf(b, b.entries.back()) == prefixText) {
                entry.prefixOffset = b.entries.back().prefixOffset;
            } else {
                entry.prefixOffset = static_cast<uint32_t>(b.bytes.size());
                b.bytes.append(prefixText);
            }
            entry.prefixLength = static_cast<uint32_t>(prefixText.size());
            if (!extra || !extra->ownText) {
                entry.textOffset = b.bytes.size();
                entry.textLength = body.size();
                b.bytes.append(body);
            }
            entry.extra = std::move(extra);
            b.entries.push_back(std::move(entry));
        } else {
            // Full: the last entry takes this line's prefix and options and counts the lost lines. The
            // last entry is the newest of incoming, else the last of the batch being written as long as
            // the writer has not taken it; without one the line is dropped.
            Buffer* last = !b.entries.empty()                                ? &b
                           : (writingLeft != 0 && !q.tailClaimed)            ? &q.writing
                                                                             : nullptr;
            if (last) {
                Entry& tail = last->entries.back();
                const uint32_t lost = tail.lost ? tail.lost + 1 : 2;
                last->tailPrefix.assign(prefixText);
                if (!extra) extra = std::make_unique<Extra>();
                extra->text.clear();
                extra->ownText = false;
                // The strings travel with the entry: the writer reads the batch's table of defaults
                // without the lock, so it must not grow here.
                if (!extra->strings) extra->strings = DefaultStrings();
                entry.extra = std::move(extra);
                entry.prefixOffset = kTailPrefix;
                entry.prefixLength = static_cast<uint32_t>(prefixText.size());
                entry.lost = lost;
                tail = std::move(entry);
            }
        }
        if (wake) q.changed.notify_all();
    }
    StartThreadOnce(q);
    return JOTWELL_OK;
}

bool StopQueue(bool drain) {
    Queue& q = PerProcess(g_queue);
    StartUnloadClock(drain ? kDrainTime : std::chrono::milliseconds(0));
    std::thread* thread = nullptr;
    {
        std::lock_guard<std::mutex> guard(q.startLock);
        thread = q.thread;
        q.thread = nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(q.lock);
        q.drainOnStop.store(drain);
        q.stop.store(true);
        q.changed.notify_all();
    }
    // Pauses of queued lines end now (the drain writes their lines without them).
    WakeSleepers();
    if (!thread) {
        // No logging thread (it could not be started): the unload writes the queue itself, in the
        // same time.
        std::string data;
        for (;;) {
            WriteBatch(q, data);
            std::lock_guard<std::mutex> guard(q.lock);
            if (Halted(q) || q.writingLeft.load() != 0 || q.incoming.entries.empty()) break;
            TakeIncoming(q);
        }
        return true;
    }
    // The thread ends once the queue is written or the time is up; every wait of its write path ends
    // with the time. A thread that still runs after that and a second wake is stuck in the system
    // (a write the kernel does not return from): it is left behind with everything it uses.
    bool ended = false;
    {
        std::unique_lock<std::mutex> guard(q.lock);
        const auto until = UnloadClock::now() + (drain ? kDrainTime : std::chrono::milliseconds(0)) + kStopWait;
        ended = q.ended.wait_until(guard, until, [&q] { return q.threadEnded; });
        if (!ended) {
            q.changed.notify_all();
            ended = q.ended.wait_for(guard, kStopWait, [&q] { return q.threadEnded; });
        }
    }
    if (!ended) {
        thread->detach();
        delete thread;
        return false;
    }
    thread->join();
    delete thread;
    return true;
}

void ReleaseQueue() { ReleasePerProcess(g_queue); }

size_t QueuedEntries() {
    Queue& q = PerProcess(g_queue);
    std::lock_guard<std::mutex> guard(q.lock);
    return q.incoming.entries.size() + q.writingLeft.load();
}

}  // namespace hm::jotwell
