#include "work.h"

#include <mutex>

#include "naming.h"

namespace hm::jotwell {

namespace {

// Not a static object: static destructors run before the unload handler at process exit.
std::mutex g_defaultsLock;
std::shared_ptr<const WorkStrings>* g_defaults = nullptr;
uint64_t g_defaultsGeneration = 0;

}  // namespace

std::shared_ptr<const WorkStrings> DefaultStrings() {
    // The default configuration file depends on the library folder, which tests may move.
    const uint64_t now = LibraryFolderGeneration();
    std::lock_guard<std::mutex> guard(g_defaultsLock);
    if (!g_defaults || !*g_defaults || g_defaultsGeneration != now) {
        auto s = std::make_shared<WorkStrings>();
        s->configFile = LibraryFolder() + "jotwell.ini";
        if (!g_defaults) g_defaults = new std::shared_ptr<const WorkStrings>;
        *g_defaults = std::move(s);
        g_defaultsGeneration = now;
    }
    return *g_defaults;
}

void ReleaseDefaults() {
    std::lock_guard<std::mutex> guard(g_defaultsLock);
    delete g_defaults;
    g_defaults = nullptr;
}

bool HasCustomStrings(const JotwellOptions& options) {
    return options.logWildcard || options.logExtension || options.archiveWildcard || options.archiveExtension ||
           options.tempExtension || options.configFile || options.compressorProgram || options.compressorArguments;
}

void LoadWork(const JotwellOptions* options, Work& work) {
    work = Work{};
    std::shared_ptr<const WorkStrings> defaults = DefaultStrings();
    if (!options) {
        work.strings = defaults;
        return;
    }
    CopyLineNumbers(*options, work);
    work.textLength = options->textLength;
    if (options->stamps) work.stamps = *options->stamps;

    if (!HasCustomStrings(*options)) {
        work.strings = defaults;
        return;
    }
    auto s = std::make_shared<WorkStrings>(*defaults);
    if (options->logWildcard) s->logWildcard = options->logWildcard;
    if (options->logExtension) s->logExtension = options->logExtension;
    if (options->archiveWildcard) s->archiveWildcard = options->archiveWildcard;
    if (options->archiveExtension) s->archiveExtension = options->archiveExtension;
    if (options->tempExtension) s->tempExtension = options->tempExtension;
    if (options->configFile) s->configFile = options->configFile;
    if (options->compressorProgram) {
        s->compressorProgram = options->compressorProgram;
        s->hasProgram = true;
    }
    if (options->compressorArguments) {
        s->compressorArguments = options->compressorArguments;
        s->hasArguments = true;
    }
    work.strings = std::move(s);
}

bool StampsComplete(const DateStamps& st) {
    return st.dateTimeText[0] && st.weekText[0] && st.dateNoBlanks[0] && st.weekShort[0] && st.dtmsText[0];
}

void ApplyCheckInterval(uint32_t& logOptions, uint32_t checkInterval, uint32_t& checkCountdown) {
    if (checkInterval == 0) return;
    if (checkCountdown > 0) {
        logOptions |= LO_SKIP_ROTATION;
        --checkCountdown;
    } else {
        logOptions &= ~LO_SKIP_ROTATION;
        checkCountdown = checkInterval - 1;
    }
}

std::span<const OptionName> OptionNames() {
    static constexpr OptionName names[] = {
        {"LO_ECHO", false, LO_ECHO},
        {"LO_ECHO_ONLY", false, LO_ECHO_ONLY},
        {"LO_LOGNAME_ONLY", false, LO_LOGNAME_ONLY},
        {"LO_INCLUDE_APP", false, LO_INCLUDE_APP},
        {"LO_NO_DATE", false, LO_NO_DATE},
        {"LO_DAILY", false, LO_DAILY},
        {"LO_WEEKLY", false, LO_WEEKLY},
        {"LO_MONTHLY", false, LO_MONTHLY},
        {"LO_YEARLY", false, LO_YEARLY},
        {"LO_LINES", false, LO_LINES},
        {"LO_SIZE", false, LO_SIZE},
        {"LO_DELETE_ZIPS", false, LO_DELETE_ZIPS},
        {"LO_DELETE_LOGS", false, LO_DELETE_LOGS},
        {"LO_LOG_DELETION", false, LO_LOG_DELETION},
        {"LO_DONT_ZIP", false, LO_DONT_ZIP},
        {"LO_LOG_ZIPPING", false, LO_LOG_ZIPPING},
        {"LO_TIME_T", false, LO_TIME_T},
        {"LO_STDERR", false, LO_STDERR},
        {"LO_USER_ISO_DATE", false, LO_USER_ISO_DATE},
        {"LO_REG_ISO_DATE", false, LO_REG_ISO_DATE},
        {"LO_LOG_REGISTRY", false, LO_LOG_REGISTRY},
        {"LO_KEEP_CRLF", false, LO_KEEP_CRLF},
        {"LO_LOG_ALL", false, LO_LOG_ALL},
        {"LE_DONT_LOG", true, LE_DONT_LOG},
        {"LE_DONT_LOG_CONFIG", true, LE_DONT_LOG_CONFIG},
        {"LE_FORCE_BINARY", true, LE_FORCE_BINARY},
        {"LE_LOG_BINARY", true, LE_LOG_BINARY},
        {"LE_DONT_LOG_MS", true, LE_DONT_LOG_MS},
        {"LE_NO_MS", true, LE_NO_MS},
        {"LE_THREE_BLANKS", true, LE_THREE_BLANKS},
        {"LE_DONT_LOG_SEC", true, LE_DONT_LOG_SEC},
        {"LE_DONT_LOG_SECS", true, LE_DONT_LOG_SECS},
        {"LE_DONT_LOG_SECMS", true, LE_DONT_LOG_SECMS},
        {"LE_ADD_DOT", true, LE_ADD_DOT},
        {"LE_ADD_FULL_STOP", true, LE_ADD_FULL_STOP},
        {"LE_NO_BANNER", true, LE_NO_BANNER},
        {"LE_NTFS_COMPRESS", true, LE_NTFS_COMPRESS},
        {"LE_NTFS_COMPRESSION", true, LE_NTFS_COMPRESSION},
        {"LE_NO_OFFSET", true, LE_NO_OFFSET},
        {"LE_NO_OFFS", true, LE_NO_OFFS},
    };
    return names;
}

}  // namespace hm::jotwell
