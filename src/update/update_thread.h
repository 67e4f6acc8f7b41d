// The update thread: the program's periodic conversation with the outside world. Every cycle of
// about 15 seconds it may do one job: check the update site's version page (and, when allowed, fetch,
// verify and install a new program through the updater), download the banned-address list into the
// game's hosts.deny, or download the banned nicknames list into the anti-cheat rules. It also restarts
// the program through the updater after about 50 hours of uptime.
//
// Owned by the server manager, started at the end of the start-up and stopped at the start of the
// shutdown. Its own thread does all the work; it reaches the rest of the program only through
// UpdateLinks: the event list and the nickname rules are thread-safe, the five update options live in
// SharedUpdateOptions behind a lock, and the title and the close request are posted to the
// user-interface thread. It never holds the server list's lock and never waits on the network while
// holding any lock. Every wait ends at once when the thread is stopped. A new program is installed only
// when its signature verifies against the public key built into the program.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "update/stop_event.h"
#include "update/update_signature.h"

namespace hm {

class EventLogList;
class NicknameRules;

// The fields of the global options that the update thread reads and writes.
struct UpdateOptions {
    uint32_t versionCheck = 1;
    uint32_t lastVersionCheck = 0;  // tick count, 0 = none
    uint32_t latestVersion = 0;
    uint32_t autoUpdate = 1;
    uint32_t updateAttempts = 0;
};

// The update options shared by the user-interface thread (dialog, exit commands, stores) and the
// update thread.
class SharedUpdateOptions {
public:
    UpdateOptions Get() const {
        std::lock_guard<std::mutex> guard(lock_);
        return options_;
    }
    void Set(const UpdateOptions& options) {
        std::lock_guard<std::mutex> guard(lock_);
        options_ = options;
    }
    template <typename Change>
    void Modify(Change change) {
        std::lock_guard<std::mutex> guard(lock_);
        change(options_);
    }

private:
    mutable std::mutex lock_;
    UpdateOptions options_;
};

// Where the thread works and what it may use; fixed for the life of the thread.
struct UpdateSettings {
    std::string site;             // the update site, e.g. "https://updates.example"; "" = none configured
    std::string workingFolder;    // where New_Haldmoor3 and haldmoor3-updater-tmp are written ("" = current)
    std::string logFolder;        // the log folder, with its trailing '/'
    std::string gameFolder;       // the game installation (its netgames/hosts.deny)
    std::string programPath;      // the running program's own file
    std::string updaterPath;      // haldmoor3-updater beside the program
    std::vector<std::string> restartArguments;  // the mode the program runs in, e.g. {"--headless"}
    UpdateKey publicKey{};        // a new program must be signed with its secret key
    uint32_t uptimeCycles = 12000;  // cycles before the uptime restart (about 50 hours)
    uint32_t secondMs = 1000;       // the length of one second of the thread's waits (a test aid)
    std::string caFile;             // extra trusted certificates for HTTPS ("" = the system's)
    // Run by a service manager: it restarts the program itself (exit status kServiceRestartStatus)
    // and the package manager, not the program, installs new versions.
    bool serviceManaged = false;
};

struct UpdateLinks {
    EventLogList* events = nullptr;
    NicknameRules* nicknameRules = nullptr;
    SharedUpdateOptions* options = nullptr;
    std::function<uint32_t()> totalPlayers;       // players on all servers
    std::function<bool()> settingsDialogOpen;
    std::function<void(uint32_t version)> showVersion;  // the title's note; must only post
    std::function<void(int exitStatus)> requestClose;   // must only post
};

class UpdateThread {
public:
    static constexpr uint32_t kProgramVersion = 0x030053;  // 3.0.83
    static constexpr uint32_t kCheckPeriodMs = 43200000;   // 12 hours
    static constexpr uint32_t kPostponeCycles = 40;        // about 10 minutes
    static constexpr uint32_t kMaxPlayerPostponements = 10;
    static constexpr const char* kNewProgramName = "New_Haldmoor3";
    static constexpr const char* kUpdaterCopyName = "haldmoor3-updater-tmp";
    static constexpr const char* kInstanceName = "Haldmoor3";
    static constexpr const char* kVersionPagePath = "/version.html";
    static constexpr const char* kHostsDenyPath = "/Haldmoor/hostdeny.txt";
    static constexpr const char* kNicknamesPath = "/Haldmoor/aliasdeny.txt";
    // The exit status that asks a service manager for a restart (the unit's RestartForceExitStatus).
    static constexpr int kServiceRestartStatus = 75;

    explicit UpdateThread(Clock& clock);
    ~UpdateThread();  // stops the thread
    UpdateThread(const UpdateThread&) = delete;
    UpdateThread& operator=(const UpdateThread&) = delete;

    // Takes the settings and links; starts the thread unless one runs. True when a thread exists.
    bool Start(const UpdateSettings& settings, const UpdateLinks& links);
    // Signals the stop and waits for the thread; a fetch or download in progress is abandoned.
    void Stop();
    bool Running() const { return thread_.joinable(); }

    // One cycle without its closing waits (the thread's loop, and the tests, call it). Needs Start's
    // settings and links: Configure gives them without a thread.
    void Configure(const UpdateSettings& settings, const UpdateLinks& links);
    void RunCycle();

    uint32_t cycleCount() const { return cycleCount_; }
    void SetCycleCount(uint32_t count) { cycleCount_ = count; }

private:
    void Loop();
    bool Pause(uint32_t ms);  // false when the thread is being stopped
    void Log(const char* text);
    void RemoveLeftovers();
    // The uptime restart; true when it ran (or was tried) in this cycle.
    bool UptimeRestart();
    bool VersionCheckDue(const UpdateOptions& options, Tick now);
    void CheckVersion();
    void SelfUpdate(const std::string& pageUrl, const std::string& downloadUrl);
    bool HostsDenyDue(Tick now, std::string& uri);
    bool FetchText(const std::string& url, std::string& text);  // a small text document (PageFetcher)
    void UpdateHostsDeny(const std::string& uri);
    void UpdateNicknames(const std::string& uri);
    // The default list address on the update site, or the operator's own; "" when the default is
    // meant but no site is configured.
    std::string ListUri(const std::string& uri, const char* defaultUri, const char* path);
    void SiteNotConfigured();
    bool WriteOutUpdater();
    bool StartUpdater(const std::string& newFile);
    std::string InWorkingFolder(const char* name) const;

    Clock& clock_;
    UpdateSettings settings_;
    UpdateLinks links_;
    StopEvent stop_;
    std::thread thread_;
    uint32_t cycleCount_ = 0;
    uint32_t restartAfter_ = 0;    // the cycle count the uptime restart waits for (0: uptimeCycles)
    uint32_t playerPostponements_ = 0;
    bool ignorePlayers_ = false;   // the players have had their time; the restart goes ahead
    bool toldNoSite_ = false;
    bool closing_ = false;         // a close request went out: nothing more to do
};

}  // namespace hm
