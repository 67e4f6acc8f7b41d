#include "update/update_thread.h"

#include <algorithm>

#include "anticheat/hosts_deny.h"
#include "anticheat/nickname_rules.h"
#include "eventlog/event_log.h"
#include "platform/files.h"
#include "platform/process.h"
#include "servers/anticheat_options.h"
#include "update/file_downloader.h"
#include "update/page_fetcher.h"
#include "update/version_page.h"

namespace hm {

namespace {

// A tick of 0 means "never"; a real tick that happens to be 0 is taken as 1.
Tick NonZero(Tick tick) { return tick ? tick : 1; }

bool Due(uint32_t lastTick, Tick now, uint32_t periodMs) {
    return lastTick == 0 || Elapsed(now, lastTick) > periodMs;
}

}  // namespace

UpdateThread::UpdateThread(Clock& clock) : clock_(clock) {}

UpdateThread::~UpdateThread() { Stop(); }

void UpdateThread::Configure(const UpdateSettings& settings, const UpdateLinks& links) {
    settings_ = settings;
    if (settings_.secondMs == 0) settings_.secondMs = 1000;
    links_ = links;
}

bool UpdateThread::Start(const UpdateSettings& settings, const UpdateLinks& links) {
    if (thread_.joinable()) return true;
    Configure(settings, links);
    stop_.Reset();
    thread_ = std::thread([this] { Loop(); });
    return true;
}

void UpdateThread::Stop() {
    stop_.Set();
    if (thread_.joinable()) thread_.join();
}

void UpdateThread::Loop() {
    while (!stop_.IsSet()) {
        RunCycle();
        for (int i = 0; i < 15; ++i) {
            if (!Pause(1000)) return;
        }
        if (stop_.Wait(10, clock_)) return;
    }
}

bool UpdateThread::Pause(uint32_t ms) {
    const uint64_t scaled = static_cast<uint64_t>(ms) * settings_.secondMs / 1000;
    return !stop_.Wait(static_cast<uint32_t>(std::max<uint64_t>(scaled, 1)), clock_);
}

void UpdateThread::Log(const char* text) {
    if (links_.events) links_.events->AddEvent("%s", text);
}

std::string UpdateThread::InWorkingFolder(const char* name) const {
    return settings_.workingFolder.empty() ? std::string(name) : settings_.workingFolder + "/" + name;
}

void UpdateThread::RunCycle() {
    if (closing_ || stop_.IsSet()) return;
    if (cycleCount_ == 0) RemoveLeftovers();
    ++cycleCount_;
    if (UptimeRestart()) return;

    // One job per cycle, the first that is due: the version check, the banned-address list, the
    // banned nicknames list.
    const Tick now = clock_.TickCount();
    if (VersionCheckDue(links_.options->Get(), now)) {
        CheckVersion();
        return;
    }
    // A settings dialog edits a copy of the anti-cheat options and writes it back whole on OK: a list
    // merged meanwhile would be lost, so the lists wait until it is closed.
    if (links_.settingsDialogOpen && links_.settingsDialogOpen()) return;
    std::string uri;
    const bool hostsDenyDue = HostsDenyDue(now, uri);
    if (hostsDenyDue) {
        UpdateHostsDeny(uri);
        return;
    }
    const AntiCheatOptions antiCheat = links_.nicknameRules->Get();
    if (NicknameUpdateDue(antiCheat, now, false)) {
        uri = ListUri(antiCheat.nicknamesUri, kDefaultNicknamesUri, kNicknamesPath);
        if (!uri.empty()) UpdateNicknames(uri);
    }
}

void UpdateThread::RemoveLeftovers() {
    const bool newProgram = fs::DeleteFile(InWorkingFolder(kNewProgramName));
    if (!Pause(100)) return;
    const bool updater = fs::DeleteFile(InWorkingFolder(kUpdaterCopyName));
    if (newProgram && updater) Log("Temporary update files removed.");
}

bool UpdateThread::UptimeRestart() {
    if (restartAfter_ == 0) restartAfter_ = settings_.uptimeCycles;
    if (cycleCount_ <= restartAfter_) return false;
    const bool players = !ignorePlayers_ && links_.totalPlayers && links_.totalPlayers() != 0;
    const bool dialog = links_.settingsDialogOpen && links_.settingsDialogOpen();
    bool postpone = dialog;
    if (players) {
        // The players get about 100 minutes to finish; after that the restart goes ahead.
        if (++playerPostponements_ > kMaxPlayerPostponements) ignorePlayers_ = true;
        else postpone = true;
    }
    if (postpone) {
        restartAfter_ = cycleCount_ + kPostponeCycles - 1;  // due again 40 cycles later
        return false;
    }

    cycleCount_ = 0;
    restartAfter_ = 0;
    playerPostponements_ = 0;
    ignorePlayers_ = false;
    if (settings_.serviceManaged) {
        // A program that handed over to the updater and ended would leave its service for good.
        Log("Haldmoor3: Uptime exceeded.");
        if (!Pause(500)) return true;
        Log("Restarting Haldmoor3...");
        closing_ = true;
        if (links_.requestClose) links_.requestClose(kServiceRestartStatus);
        return true;
    }
    if (settings_.programPath.empty()) {
        Log("Error: Cannot create updater.");
        return true;
    }
    Log("Haldmoor3: Uptime exceeded.");
    if (!Pause(500)) return true;
    Log("Haldmoor3: Preparing for automatic restart...");
    if (!WriteOutUpdater()) {
        Log("Error: Cannot create updater.");
        return true;
    }
    if (!Pause(2000)) return true;
    if (!StartUpdater("")) {
        Log("Error: Automatic restart of Haldmoor3 failed.");
        return true;
    }
    closing_ = true;
    if (!Pause(2000)) return true;
    Log("Restarting Haldmoor3...");
    Pause(2000);
    if (links_.requestClose) links_.requestClose(0);
    return true;
}

void UpdateThread::SiteNotConfigured() {
    if (toldNoSite_) return;
    toldNoSite_ = true;
    Log("Update site not configured.");
}

bool UpdateThread::VersionCheckDue(const UpdateOptions& options, Tick now) {
    if (!options.versionCheck || !Due(options.lastVersionCheck, now, kCheckPeriodMs)) return false;
    if (links_.totalPlayers && links_.totalPlayers() != 0) return false;
    if (links_.settingsDialogOpen && links_.settingsDialogOpen()) return false;
    if (settings_.site.empty()) {
        SiteNotConfigured();
        return false;
    }
    return true;
}

void UpdateThread::CheckVersion() {
    const Tick now = NonZero(clock_.TickCount());
    links_.options->Modify([&](UpdateOptions& o) {
        o.lastVersionCheck = now;
        o.latestVersion = kProgramVersion;
    });
    Log("Checking for newer version of Haldmoor3...");
    if (!Pause(2000)) return;

    const std::string pageUrl = settings_.site + kVersionPagePath;
    std::string body;
    FetchText(pageUrl, body);
    const VersionPage page = ParseVersionPage(body);

    bool update = false;
    if (page.hasVersion) {
        if (page.version > kProgramVersion) {
            Log("New version of Haldmoor3 available.");
            Log(page.versionLine.c_str());
            for (const std::string& line : page.news) Log(line.c_str());
            links_.options->Modify([&](UpdateOptions& o) { o.latestVersion = page.version; });
            if (links_.options->Get().autoUpdate && settings_.serviceManaged) {
                Log("Haldmoor3 runs as a service: install the new version with the package manager.");
            } else if (links_.options->Get().autoUpdate) {
                update = true;
            } else {
                links_.events->AddEvent("Get the new version from %s", settings_.site.c_str());
            }
        } else {
            Log("Most recent version already installed.");
            links_.options->Modify([](UpdateOptions& o) { o.updateAttempts = 0; });
        }
        if (links_.showVersion) links_.showVersion(page.version);
    }
    if (links_.options->Get().updateAttempts > 1) {
        Log("Error: Automatic update failed.");
        return;
    }
    if (update && page.downloadUri.size() >= 20) SelfUpdate(pageUrl, page.downloadUri);
}

void UpdateThread::SelfUpdate(const std::string& pageUrl, const std::string& downloadUrl) {
    // The new program must come from the update site itself (same scheme, host and port).
    const std::string origin = AddressOrigin(pageUrl);
    if (origin.empty() || AddressOrigin(downloadUrl) != origin) {
        Log("Error: Incorrect download URI.");
        return;
    }
    if (!Pause(2000)) return;
    links_.events->AddEvent("Downloading '%s'...", downloadUrl.c_str());
    FileDownloader downloader(&stop_, clock_);
    downloader.caFile = settings_.caFile;
    downloader.events = links_.events;
    std::string program;
    if (!downloader.Download(downloadUrl, program, "Haldmoor3") || program.empty()) {
        Log("Error: Update download failed.");
        return;
    }
    Log("New version of Haldmoor3 downloaded.");
    if (program.find("Haldmoor3") == std::string::npos) {
        Log("Error: Invalid update file.");
        return;
    }
    // Anybody on the way could hand out a program: only one signed with the release key is installed.
    std::string signature;
    downloader.maxBytes = 4096;
    if (!downloader.Download(downloadUrl + ".sig", signature, "Haldmoor3") ||
        !VerifyUpdateSignature(program, signature, settings_.publicKey)) {
        Log("Error: Invalid update signature.");
        return;
    }
    // Never half-written under its final name: the updater copies whatever it finds there.
    fs::AtomicFileWriter file;
    if (!file.Open(InWorkingFolder(kNewProgramName))) {
        Log("Error: Cannot create update file.");
        return;
    }
    if (!file.Write(program.data(), program.size()) || !file.Commit()) {
        Log("Error: Cannot save update file.");
        return;
    }
    if (!WriteOutUpdater()) {
        Log("Error: Cannot create updater.");
        return;
    }
    if (!Pause(2000)) return;
    if (!StartUpdater(kNewProgramName)) {
        Log("Error: Automatic update failed.");
        return;
    }
    closing_ = true;
    links_.events->AddEvent("Update process started (%s).", kUpdaterCopyName);
    if (!Pause(2000)) return;
    Log("Restarting Haldmoor3...");
    links_.options->Modify([](UpdateOptions& o) { ++o.updateAttempts; });
    Pause(2000);
    if (links_.requestClose) links_.requestClose(0);
}

bool UpdateThread::WriteOutUpdater() {
    if (!Pause(2000)) return false;
    if (settings_.updaterPath.empty()) return false;
    return fs::CopyFile(settings_.updaterPath, InWorkingFolder(kUpdaterCopyName));  // keeps the run bit
}

bool UpdateThread::StartUpdater(const std::string& newFile) {
    std::vector<std::string> arguments = {kInstanceName, newFile, settings_.programPath, "/A", "/E"};
    arguments.insert(arguments.end(), settings_.restartArguments.begin(), settings_.restartArguments.end());
    std::string error;
    auto updater = Process::SpawnInheriting(InWorkingFolder(kUpdaterCopyName), arguments, &error);
    if (!updater) {
        if (!error.empty()) links_.events->AddEvent("Error: %s", error.c_str());
        return false;
    }
    return true;
}

std::string UpdateThread::ListUri(const std::string& uri, const char* defaultUri, const char* path) {
    if (uri != defaultUri) return uri;
    if (settings_.site.empty()) {
        SiteNotConfigured();
        return "";
    }
    return settings_.site + path;
}

bool UpdateThread::HostsDenyDue(Tick now, std::string& uri) {
    const AntiCheatOptions antiCheat = links_.nicknameRules->Get();
    if (!antiCheat.autoUpdateHostsDeny || antiCheat.hostsDenyUri.empty() ||
        !Due(antiCheat.hostsDenyLastUpdate, now, kCheckPeriodMs)) {
        return false;
    }
    uri = ListUri(antiCheat.hostsDenyUri, kDefaultHostsDenyUri, kHostsDenyPath);
    return !uri.empty();
}

bool UpdateThread::FetchText(const std::string& url, std::string& text) {
    PageFetcher fetcher(links_.events, &stop_);
    fetcher.caFile = settings_.caFile;
    return fetcher.Fetch(url, text) == 1;
}

void UpdateThread::UpdateHostsDeny(const std::string& uri) {
    links_.nicknameRules->SetHostsDenyLastUpdate(NonZero(clock_.TickCount()));
    Log("Downloading hosts.deny update file...");
    std::string text;
    if (!FetchText(uri, text)) return;  // a failed download changes nothing
    const bool removePrevious = links_.nicknameRules->Get().removePreviousHostsDeny != 0;
    std::string updateLog = NicknameUpdateLogHeader(clock_.Now(), uri, text);
    if (MergeHostsDeny(settings_.gameFolder, links_.events, &text, updateLog, removePrevious) != 1) return;
    const std::string logFile = settings_.logFolder + "HostsDenyUpdate.log";
    if (removePrevious) fs::ReplaceFileAtomically(logFile, updateLog);
    else fs::AppendToFile(logFile, updateLog);
}

void UpdateThread::UpdateNicknames(const std::string& uri) {
    links_.nicknameRules->SetNicknamesLastUpdate(NonZero(clock_.TickCount()));
    Log("Downloading banned nicknames update file...");
    std::string text;
    if (!FetchText(uri, text)) return;  // a failed download changes nothing
    links_.nicknameRules->ApplyNicknameDownload(links_.events, settings_.logFolder, clock_.Now(), uri, &text);
}

}  // namespace hm
