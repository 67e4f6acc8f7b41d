#include "writer.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "compose.h"
#include "config.h"
#include "named_lock.h"
#include "naming.h"
#include "per_process.h"
#include "regional.h"
#include "rotation.h"
#include "stamps.h"
#include "unload_clock.h"

namespace hm::jotwell {

namespace {

std::atomic<pid_t> g_bannerPid{0};
constexpr std::chrono::milliseconds kFullFileSlice{100};  // a full pipe is looked at again this often

struct Sleepers {
    pid_t pid = 0;
    std::mutex lock;
    std::condition_variable wake;
    bool woken = false;
};
std::atomic<Sleepers*> g_sleepers{nullptr};

}  // namespace

void EchoLines(std::string_view data, bool toStderr) {
    // One write per line keeps lines of several threads apart on the terminal too.
    FILE* out = toStderr ? stderr : stdout;
    std::string text;
    text.reserve(data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') continue;
        text += data[i];
    }
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

namespace {

void WriteBannerIfFirst(const std::string& prefix, const Work& work) {
    const pid_t me = CurrentPid();
    pid_t seen = g_bannerPid.load();
    if (seen == me) return;
    if (!g_bannerPid.compare_exchange_strong(seen, me)) return;
    if (work.extOptions & LE_NO_BANNER) return;
    Work banner = work;
    banner.extOptions |= LE_NO_BANNER;
    WriteOwnMessage(prefix, banner, BannerText());
}

}  // namespace

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

void ResetBannerForTesting() { g_bannerPid.store(0); }

bool BannerWritten() { return g_bannerPid.load() == CurrentPid(); }

void InterruptibleSleep(uint32_t ms) {
    Sleepers& s = PerProcess(g_sleepers);
    std::unique_lock<std::mutex> lock(s.lock);
    s.wake.wait_for(lock, std::chrono::milliseconds(ms), [&s] { return s.woken; });
}

void WakeSleepers() {
    Sleepers& s = PerProcess(g_sleepers);
    std::lock_guard<std::mutex> lock(s.lock);
    s.woken = true;
    s.wake.notify_all();
}

void ReleaseSleepers() { ReleasePerProcess(g_sleepers); }

void CompleteStamps(Work& work) {
    if ((work.extOptions & LE_STAMPS_TAKEN) && StampsComplete(work.stamps)) return;
    ComputeStamps(Now(), (work.logOptions & LO_TIME_T) != 0, work.stamps);
}

void PrepareLine(const std::string& prefix, std::string_view text, bool textIsNull, Work& work, PreparedLine& out) {
    out = PreparedLine{};
    if (!(work.extOptions & LE_CONFIG_MERGED) && !work.ownMessage) MergeConfiguration(prefix, work);
    WriteBannerIfFirst(prefix, work);
    if (!work.ownMessage) ApplyCheckInterval(work.logOptions, work.checkInterval, work.checkCountdown);
    if (work.dumpWidth == 0) work.dumpWidth = 16;

    if (IsStdoutPrefix(prefix)) {
        work.logOptions |= LO_ECHO_ONLY;
        work.logOptions &= ~LO_INCLUDE_APP;
    }

    const bool forced = (work.extOptions & LE_FORCE_BINARY) != 0;
    if (textIsNull) text = forced ? std::string_view("<NULL>") : std::string_view();
    if (NeedsDump(text, forced)) {
        for (const std::string& dumpLine :
             HexDumpLines(text, work.dumpWidth, (work.extOptions & LE_THREE_BLANKS) != 0)) {
            AppendComposedLine(out.data, prefix, dumpLine, work.logOptions, work.extOptions, work.stamps);
        }
    } else {
        AppendComposedLine(out.data, prefix, text, work.logOptions, work.extOptions, work.stamps);
    }

    if (work.logOptions & (LO_USER_ISO_DATE | LO_REG_ISO_DATE)) ApplyRegionalSettings(prefix, work);

    if (work.logOptions & (LO_ECHO | LO_ECHO_ONLY)) EchoLines(out.data, (work.logOptions & LO_STDERR) != 0);
    if (work.logOptions & LO_ECHO_ONLY) {
        out.finished = true;
        return;
    }
    out.path = ResolveLogPath(prefix, work);
    if (work.logOptions & LO_LOGNAME_ONLY) {
        out.finished = true;
        return;
    }
    out.append = !(work.extOptions & LE_DONT_LOG);
    out.rotate = !(work.logOptions & LO_SKIP_ROTATION) && !work.ownMessage;
}

int AppendToLog(const std::string& path, std::string_view data, uint32_t waitMs) {
    NamedLock lock;
    switch (lock.Acquire(LockName("JotwellShr", path), waitMs)) {
        case LockStatus::Acquired: break;
        case LockStatus::Timeout: return JOTWELL_TIMEOUT;
        case LockStatus::Failed: return JOTWELL_MUTEX_ERROR;
    }
    // Non-blocking, so that a log file that is a named pipe never parks the writer for good: without a
    // reader the open fails (-2); a full pipe is waited for in slices that end with the library's unload.
    // For a regular file the flag changes nothing.
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return JOTWELL_FILE_ERROR;
    int result = 0;
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            const auto slice = CutByUnload(kFullFileSlice);
            if (slice.count() <= 0) {
                result = JOTWELL_FILE_ERROR;
                break;
            }
            pollfd p{fd, POLLOUT, 0};
            (void)poll(&p, 1, static_cast<int>(slice.count()));
            continue;
        }
        if (n <= 0) {
            result = JOTWELL_FILE_ERROR;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 && result == 0) result = JOTWELL_FILE_ERROR;
    return result;
}

int WriteText(const std::string& prefix, std::string_view text, bool textIsNull, Work& work, std::string* outPath) {
    const bool queued = (work.extOptions & LE_QUEUED) != 0;
    if (queued && (work.extOptions & LE_PAUSE_BEFORE)) InterruptibleSleep(work.waitMs);
    PreparedLine line;
    PrepareLine(prefix, text, textIsNull, work, line);
    if (outPath && !line.path.empty()) *outPath = line.path;
    if (line.finished) return line.result;
    int result = 0;
    if (line.append) {
        result = AppendToLog(line.path, line.data, work.waitMs);
        if (result < 0) return result;
    }
    if (line.rotate) {
        const int rotation = RunRotation(prefix, work, line.path);
        if (rotation < 0) result = rotation;
    }
    if (queued && (work.extOptions & LE_PAUSE_AFTER)) InterruptibleSleep(work.waitMs);
    return result;
}

void WriteOwnMessage(const std::string& prefix, const Work& caller, const std::string& text) {
    Work message = caller;
    message.ownMessage = true;
    message.logOptions |= LO_SKIP_ROTATION;
    // Housekeeping lines must not set the regional formats again.
    message.logOptions &= ~(LO_USER_ISO_DATE | LO_REG_ISO_DATE);
    message.extOptions |= LE_CONFIG_MERGED;
    message.extOptions &= ~(LE_PAUSE_BEFORE | LE_PAUSE_AFTER);
    message.textLength = 0;
    CompleteStamps(message);
    WriteText(prefix, text, false, message);
}

}  // namespace hm::jotwell
