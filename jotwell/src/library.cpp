// The exported entries and data of libjotwell.so, and what happens when the library is loaded into
// and unloaded from a process.
//
// The entries run on any caller thread; load and unload run on the loader's thread. Unload stops the
// logging thread cooperatively and writes out the queue when bDequeueOnExit is set, for a bounded time
// (queue.h): it never waits for the logging thread without limit.

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "config.h"
#include "jotwell.h"
#include "named_lock.h"
#include "per_process.h"
#include "naming.h"
#include "queue.h"
#include "stamps.h"
#include "unload_clock.h"
#include "work.h"
#include "writer.h"

extern "C" {
JOTWELL_API char chCurrentDateTimeText[26] = "";
JOTWELL_API char chCurrentDTMSText[30] = "";
JOTWELL_API char chCurrentDateWeekText[12] = "";
JOTWELL_API char chCurrentDateNoBlanks[9] = "";
JOTWELL_API char chCurrentDateWeek[7] = "";
JOTWELL_API char chCurrentDateNoOffs[26] = "";
JOTWELL_API char* chCurrentLogFileName = nullptr;
JOTWELL_API uint32_t bAboutToExit = 0;
JOTWELL_API uint32_t bDequeueOnExit = 1;
}

namespace hm::jotwell {

namespace {

struct Names {
    pid_t pid = 0;
    std::mutex lock;
    std::set<char*> issued;                    // logFileName copies handed to callers
    std::map<std::string, char*> published;    // every name chCurrentLogFileName has pointed to
};

std::atomic<Names*> g_names{nullptr};

Names& CurrentNames() { return PerProcess(g_names); }

void ReleaseNames() {
    Names& names = CurrentNames();
    {
        std::lock_guard<std::mutex> guard(names.lock);
        chCurrentLogFileName = nullptr;
        for (char* name : names.issued) free(name);
        for (auto& [path, name] : names.published) free(name);
        names.issued.clear();
        names.published.clear();
    }
    ReleasePerProcess(g_names);
}

char* IssueName(const std::string& path) {
    char* copy = strdup(path.c_str());
    if (!copy) return nullptr;
    Names& names = CurrentNames();
    std::lock_guard<std::mutex> guard(names.lock);
    names.issued.insert(copy);
    return copy;
}

// Frees a name only if this library handed it out; anything else in the member is left alone.
void ReleaseIssuedName(char* name) {
    if (!name) return;
    Names& names = CurrentNames();
    std::lock_guard<std::mutex> guard(names.lock);
    if (names.issued.erase(name)) free(name);
}

// No exception leaves the library: running out of memory (or of threads) is the result -1.
template <class Body>
int32_t Guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return JOTWELL_NO_MEMORY;
    }
}

void PublishStamps(const DateStamps& st) {
    std::lock_guard<std::mutex> guard(CurrentNames().lock);
    std::memcpy(chCurrentDateTimeText, st.dateTimeText, sizeof chCurrentDateTimeText);
    std::memcpy(chCurrentDTMSText, st.dtmsText, sizeof chCurrentDTMSText);
    std::memcpy(chCurrentDateWeekText, st.weekText, sizeof chCurrentDateWeekText);
    std::memcpy(chCurrentDateNoBlanks, st.dateNoBlanks, sizeof chCurrentDateNoBlanks);
    std::memcpy(chCurrentDateWeek, st.weekShort, sizeof chCurrentDateWeek);
}

// A reader may still hold an earlier name, so names are kept (one per distinct file) until unload.
void PublishName(const std::string& path) {
    Names& names = CurrentNames();
    std::lock_guard<std::mutex> guard(names.lock);
    auto it = names.published.find(path);
    if (it == names.published.end()) {
        char* copy = strdup(path.c_str());
        if (!copy) return;
        it = names.published.emplace(path, copy).first;
    }
    chCurrentLogFileName = it->second;
}

std::string_view TextOf(const char* text, const Work& work) {
    if (!text) return {};
    return work.textLength ? std::string_view(text, work.textLength) : std::string_view(text);
}

int32_t WriteCall(const char* prefix, const char* text, JotwellOptions* options, std::string* pathOut) {
    if (options) {
        ReleaseIssuedName(options->logFileName);
        options->logFileName = nullptr;
    }
    Work work;
    LoadWork(options, work);
    CompleteStamps(work);
    if (ValidatePrefix(prefix) != 0) return JOTWELL_BAD_PREFIX;
    std::string path;
    const int32_t result = WriteText(prefix, TextOf(text, work), text == nullptr, work, &path);
    if (options) {
        options->checkCountdown = work.checkCountdown;
        if (options->stamps) *options->stamps = work.stamps;
        if ((work.logOptions & LO_LOGNAME_ONLY) && !path.empty()) options->logFileName = IssueName(path);
    }
    if (pathOut) *pathOut = path;
    return result;
}

int32_t WriteSimple(const char* prefix, const char* text, uint32_t logOptions, uint32_t limit1, uint32_t limit2) {
    DateStamps stamps{};
    ComputeStamps(Now(), (logOptions & LO_TIME_T) != 0, stamps);
    PublishStamps(stamps);
    JotwellOptions options{};
    options.logOptions = logOptions;
    options.limit1 = limit1;
    options.limit2 = limit2;
    options.extOptions = LE_CONFIG_MERGED | LE_STAMPS_TAKEN;
    options.stamps = &stamps;
    std::string path;
    const int32_t result = WriteCall(prefix, text, &options, &path);
    ReleaseIssuedName(options.logFileName);
    if (result == JOTWELL_OK || result == JOTWELL_ROTATION_BUSY) {
        PublishStamps(stamps);
        if (!path.empty()) PublishName(path);
    }
    return result;
}


__attribute__((constructor)) void OnLoad() {
    LibraryFolder();  // the folder is found while the loader's idea of our path is still current
}

__attribute__((destructor)) void OnUnload() {
    __atomic_store_n(&bAboutToExit, 1u, __ATOMIC_RELEASE);
    const int32_t stopped = Guarded([] {
        return StopQueue(__atomic_load_n(&bDequeueOnExit, __ATOMIC_ACQUIRE) != 0) ? 1 : 0;
    });
    // A logging thread stuck in the system keeps everything it may still touch.
    if (stopped != 1) return;
    // Everything the library allocated goes with it, so loading it again starts afresh.
    ResetUnloadClock();
    ReleaseQueue();
    ReleaseConfiguration();
    ReleaseLocks();
    ReleaseNames();
    ReleaseSleepers();
    ReleaseDefaults();
    ReleaseLibraryFolder();
}

}  // namespace

}  // namespace hm::jotwell

using namespace hm::jotwell;

extern "C" {

JOTWELL_API int32_t JotwellEx(const char* prefix, const char* text, JotwellOptions* options) {
    return Guarded([&] { return WriteCall(prefix, text, options, nullptr); });
}

JOTWELL_API int32_t Jotwell(const char* prefix, const char* text, uint32_t logOptions, uint32_t limit1,
                            uint32_t limit2) {
    return Guarded([&] { return WriteSimple(prefix, text, logOptions, limit1, limit2); });
}

JOTWELL_API int32_t JotwellExQ(const char* prefix, const char* text, JotwellOptions* options) {
    return Guarded([&] { return EnqueueLine(prefix, text, options); });
}

JOTWELL_API int32_t sJotwellEx(const char* prefix, const char* text, JotwellOptions* options)
    __attribute__((alias("JotwellEx")));
JOTWELL_API int32_t sJotwell(const char* prefix, const char* text, uint32_t logOptions, uint32_t limit1,
                             uint32_t limit2) __attribute__((alias("Jotwell")));
JOTWELL_API int32_t sJotwellExQ(const char* prefix, const char* text, JotwellOptions* options)
    __attribute__((alias("JotwellExQ")));

}  // extern "C"
