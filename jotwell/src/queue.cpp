#include "queue.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "compose.h"
#include "config.h"
#include "naming.h"
#include "per_process.h"
#include "rotation.h"
#include "work.h"
#include "writer.h"

extern "C" uint32_t bAboutToExit;

namespace hm::jotwell {

namespace {

constexpr size_t kCapacity = JOTWELL_QUEUE_CAPACITY;
constexpr size_t kMaxBatchLines = 4096;
constexpr size_t kMaxBatchBytes = 1 << 20;
constexpr int kMutexRetries = 1000;

struct Entry {
    std::string prefix;
    std::string text;
    Work work;
    uint32_t lost = 0;
};

struct Queue {
    pid_t pid = 0;                         // a forked child has its own (empty) queue and no thread yet
    std::timed_mutex lock;                 // guards everything below
    std::condition_variable_any changed;   // entries arrived, resumed, or stop
    std::deque<Entry> entries;
    bool signalCreated = false;
    bool running = true;                   // the pause/resume signal
    bool stop = false;
    bool consumerWaiting = false;          // the logging thread sleeps on `changed`
    std::mutex startLock;                  // the thread is started once
    std::thread* thread = nullptr;
    std::atomic<bool> started{false};
};

std::atomic<Queue*> g_queue{nullptr};  // never destroyed: the logging thread may outlive static destructors

bool Pausing(const Work& w) { return (w.extOptions & (LE_PAUSE_BEFORE | LE_PAUSE_AFTER)) != 0; }

// The caller options that decide how a line is composed, where it goes and how the file rotates.
bool SameCallerOptions(const Work& x, const Work& y) {
    return (x.logOptions & ~LO_SKIP_ROTATION) == (y.logOptions & ~LO_SKIP_ROTATION) && x.extOptions == y.extOptions &&
           x.checkInterval == y.checkInterval && x.limit1 == y.limit1 && x.limit2 == y.limit2 &&
           x.waitMs == y.waitMs && x.dumpWidth == y.dumpWidth &&
           (x.strings == y.strings || *x.strings == *y.strings);
}

// Same date part of the file name, whatever the naming.
bool SameFileDate(const DateStamps& a, const DateStamps& b) {
    return std::memcmp(a.dtmsText, b.dtmsText, 10) == 0 && std::memcmp(a.weekText, b.weekText, 8) == 0;
}

// Whether preparing this entry may write lines of its own (banner, configuration, registry);
// such an entry goes alone so that no line overtakes another.
bool MayWriteMessages(const Entry& e) {
    if (e.work.logOptions & (LO_USER_ISO_DATE | LO_REG_ISO_DATE)) return true;
    if (!BannerWritten()) return true;
    return !(e.work.extOptions & LE_CONFIG_MERGED) && !IsConfigurationCached(e.prefix);
}

int AppendRetrying(const std::string& path, const std::string& data, uint32_t waitMs) {
    int result = AppendToLog(path, data, waitMs);
    for (int i = 0; result == JOTWELL_MUTEX_ERROR && i < kMutexRetries; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        result = AppendToLog(path, data, waitMs);
    }
    return result;
}

void WriteAlone(const Entry& e) {
    int result;
    int tries = 0;
    do {
        Work work = e.work;
        result = WriteText(e.prefix, e.text, false, work);
        if (result == JOTWELL_MUTEX_ERROR) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (result == JOTWELL_MUTEX_ERROR && ++tries < kMutexRetries);
}

// Writes a batch of entries in order. A line goes through the whole synchronous path; the lines
// right behind it with the same prefix, options and file date are composed straight into the same
// append (for them every other step gives the same result), so a run of lines costs one lock, one
// open and one rotation.
void WriteBatch(std::vector<Entry>& batch) {
    size_t i = 0;
    while (i < batch.size()) {
        const Entry& first = batch[i++];
        if (Pausing(first.work) || MayWriteMessages(first)) {
            WriteAlone(first);
            continue;
        }
        Work head = first.work;
        PreparedLine line;
        PrepareLine(first.prefix, first.text, false, head, line);
        if (line.finished) continue;
        if (!line.append) {
            if (line.rotate) RunRotation(first.prefix, head, line.path);
            continue;
        }
        std::string data = std::move(line.data);
        bool rotate = line.rotate;
        const bool echo = (head.logOptions & (LO_ECHO | LO_ECHO_ONLY)) != 0;
        const bool forced = (head.extOptions & LE_FORCE_BINARY) != 0;
        while (i < batch.size() && data.size() < kMaxBatchBytes) {
            const Entry& e = batch[i];
            if (e.prefix != first.prefix || Pausing(e.work) || !SameCallerOptions(e.work, first.work) ||
                !SameFileDate(e.work.stamps, first.work.stamps)) {
                break;
            }
            uint32_t logOptions = e.work.logOptions, countdown = e.work.checkCountdown;
            ApplyCheckInterval(logOptions, e.work.checkInterval, countdown);
            if (!(logOptions & LO_SKIP_ROTATION)) rotate = true;
            const size_t start = data.size();
            if (NeedsDump(e.text, forced)) {
                for (const std::string& dumpLine :
                     HexDumpLines(e.text, head.dumpWidth, (head.extOptions & LE_THREE_BLANKS) != 0)) {
                    AppendComposedLine(data, first.prefix, dumpLine, head.logOptions, head.extOptions, e.work.stamps);
                }
            } else {
                AppendComposedLine(data, first.prefix, e.text, head.logOptions, head.extOptions, e.work.stamps);
            }
            if (echo) EchoLines(std::string_view(data).substr(start), (head.logOptions & LO_STDERR) != 0);
            ++i;
        }
        if (AppendRetrying(line.path, data, head.waitMs) == 0 && rotate) RunRotation(first.prefix, head, line.path);
    }
}

// Takes up to a batch of entries off the front; the caller holds the lock.
void TakeBatch(Queue& q, std::vector<Entry>& batch) {
    batch.clear();
    while (!q.entries.empty() && batch.size() < kMaxBatchLines) {
        batch.push_back(std::move(q.entries.front()));
        q.entries.pop_front();
    }
}

void LoggingThread(Queue* q) {
    std::vector<Entry> batch;
    for (;;) {
        {
            std::unique_lock<std::timed_mutex> guard(q->lock);
            q->consumerWaiting = true;
            q->changed.wait(guard, [q] { return q->stop || (q->running && !q->entries.empty()); });
            q->consumerWaiting = false;
            if (q->stop) return;
            TakeBatch(*q, batch);
        }
        try {
            WriteBatch(batch);
        } catch (...) {
            // Out of memory: the batch is lost, the thread goes on with the next one.
        }
    }
}

void StartThreadOnce(Queue& q) {
    if (q.started.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> guard(q.startLock);
    if (q.thread) return;
    q.thread = new std::thread(LoggingThread, &q);
    q.started.store(true, std::memory_order_release);
}

}  // namespace

int32_t EnqueueLine(const char* prefix, const char* text, JotwellOptions* options) {
    if (__atomic_load_n(&bAboutToExit, __ATOMIC_ACQUIRE)) return JOTWELL_UNLOADING;
    Entry entry;
    LoadWork(options, entry.work);
    CompleteStamps(entry.work);
    if (ValidatePrefix(prefix) != 0) return JOTWELL_BAD_PREFIX;

    ApplyCheckInterval(entry.work.logOptions, entry.work.checkInterval, entry.work.checkCountdown);
    if (options) {
        options->checkCountdown = entry.work.checkCountdown;
        if (options->stamps) *options->stamps = entry.work.stamps;
    }
    entry.work.extOptions |= LE_STAMPS_TAKEN | LE_QUEUED;
    entry.prefix = prefix;
    if (text) {
        const size_t length = entry.work.textLength ? entry.work.textLength : std::strlen(text);
        entry.text.assign(text, length);
    }

    Queue& q = PerProcess(g_queue);
    const uint32_t ext = entry.work.extOptions;
    {
        std::unique_lock<std::timed_mutex> guard(q.lock, std::defer_lock);
        if (entry.work.waitMs == 0) guard.lock();
        else if (!guard.try_lock_for(std::chrono::milliseconds(entry.work.waitMs))) return JOTWELL_TIMEOUT;
        if (!q.signalCreated) {
            q.signalCreated = true;
            q.running = !(ext & LE_QUEUE_PAUSE);
        }
        if (ext & LE_QUEUE_PAUSE) q.running = false;
        if (ext & LE_QUEUE_RESUME) q.running = true;
        if (ext & LE_QUEUE_CONTROL_ONLY) {
            q.changed.notify_all();
            return JOTWELL_OK;
        }
        // Waking the logging thread costs a system call: only when it sleeps and has work now.
        const bool wake = q.consumerWaiting && q.running && (q.entries.empty() || (ext & LE_QUEUE_RESUME));
        if (q.entries.size() < kCapacity) {
            q.entries.push_back(std::move(entry));
        } else if (!q.entries.empty()) {
            Entry& tail = q.entries.back();
            tail.lost = tail.lost ? tail.lost + 1 : 2;
            tail.prefix = std::move(entry.prefix);
            tail.work = std::move(entry.work);
            tail.text = Format("Error in library 'jotwell.dll', function 'JotwellExQ ()': Message queue overrun - "
                               "%10d messages lost.",
                               static_cast<int>(tail.lost));
        }
        if (wake) q.changed.notify_all();
    }
    StartThreadOnce(q);
    return JOTWELL_OK;
}

void StopQueue(bool drain) {
    Queue& q = PerProcess(g_queue);
    {
        std::lock_guard<std::timed_mutex> guard(q.lock);
        q.stop = true;
        q.changed.notify_all();
    }
    WakeSleepers();
    std::thread* thread = nullptr;
    {
        std::lock_guard<std::mutex> guard(q.startLock);
        thread = q.thread;
        q.thread = nullptr;
    }
    if (thread) {
        if (thread->joinable()) thread->join();
        delete thread;
    }
    if (!drain) return;
    std::vector<Entry> batch;
    for (;;) {
        {
            std::lock_guard<std::timed_mutex> guard(q.lock);
            TakeBatch(q, batch);
        }
        if (batch.empty()) break;
        WriteBatch(batch);
    }
}

void ReleaseQueue() { ReleasePerProcess(g_queue); }

size_t QueuedEntries() {
    Queue& q = PerProcess(g_queue);
    std::lock_guard<std::timed_mutex> guard(q.lock);
    return q.entries.size();
}

}  // namespace hm::jotwell
