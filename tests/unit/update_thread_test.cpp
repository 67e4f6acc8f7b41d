// The update thread's cycles against a local update site (the scriptable HTTP server on 127.0.0.1),
// driven one cycle at a time on a manual clock: the version page and the self-update's checks (site,
// content, signature, attempts), the chain of one job per cycle with its 12-hour rules and update logs,
// the uptime restart's postponements, and a stop that ends the thread at once.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "anticheat/nickname_rules.h"
#include "eventlog/event_log.h"
#include "platform/clock.h"
#include "servers/anticheat_options.h"
#include "support/http_test_server.h"
#include "support/text.h"
#include "update/update_signature.h"
#include "update/update_thread.h"
#include "update/version_page.h"

namespace hm {
namespace {

namespace stdfs = std::filesystem;
using test_support::Count;
using test_support::HttpReply;
using test_support::HttpRequest;
using test_support::HttpTestServer;
using test_support::ReadFile;

TEST(VersionPage, LinesLabelsAndOrigins) {
    const VersionPage page = ParseVersionPage(
        "<html><p>Latest Haldmoor3 version: 3.0.260</p>Release date: 2026-12-01<br />Features: faster"
        "<br>Download URI: http://site.example/New&nbspfile\r\nJotwell URI: ftp://x\nignored: 1");
    EXPECT_TRUE(page.hasVersion);
    EXPECT_EQ(page.version, 0x030004u);  // each number modulo 256
    EXPECT_EQ(page.versionLine, "Latest Haldmoor3 version: 3.0.260");
    EXPECT_EQ(page.news, (std::vector<std::string>{"Release date: 2026-12-01", "Features: faster"}));
    EXPECT_EQ(page.downloadUri, "http://site.example/New file");
    EXPECT_EQ(page.jotwellUri, "");
    EXPECT_FALSE(ParseVersionPage("Latest Haldmoor3 version: 3.x").hasVersion);

    const std::vector<std::pair<std::string, std::string>> origins = {
        {"http://Site.example/version.html", "http://site.example:80"},
        {"http://site.example:80/a", "http://site.example:80"},
        {"https://site.example/a", "https://site.example:443"},
        {"http://site.example.evil/a", "http://site.example.evil:80"},
        {"http://user@site.example/a", ""},
        {"ftp://site.example/a", ""},
    };
    for (const auto& [url, origin] : origins) EXPECT_EQ(AddressOrigin(url), origin) << url;
}

class UpdateThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() / ("hm_update_thread_" + std::to_string(::getpid()));
        stdfs::remove_all(root);
        stdfs::create_directories(root / "work");
        stdfs::create_directories(root / "log");
        stdfs::create_directories(root / "game/netgames");
        // The updater stand-in writes its arguments, one per line, and ends.
        const std::string updater = (root / "updater.sh").string();
        fs::WriteWholeFile(updater, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + (root / "updater.args").string() + "\"\n");
        ::chmod(updater.c_str(), 0755);
        ASSERT_TRUE(MakeUpdateKeyPair(secretKey, publicKey));
        ASSERT_TRUE(server.Ok());

        settings.site = server.Url("");
        settings.site.pop_back();  // without the trailing '/'
        settings.workingFolder = (root / "work").string();
        settings.logFolder = (root / "log").string() + "/";
        settings.gameFolder = (root / "game").string();
        settings.programPath = (root / "haldmoor3").string();
        settings.updaterPath = updater;
        settings.restartArguments = {"--headless"};
        settings.publicKey = publicKey;
        settings.uptimeCycles = 12000;

        links.events = &events;
        links.nicknameRules = &rules;
        links.options = &options;
        links.totalPlayers = [this] { return players; };
        links.settingsDialogOpen = [this] { return dialogOpen; };
        links.showVersion = [this](uint32_t version) { shownVersions.push_back(version); };
        links.requestClose = [this](int status) {
            ++closeRequests;
            closeStatus = status;
        };
        Reconfigure();
    }
    void TearDown() override {
        server.Stop();
        stdfs::remove_all(root);
    }

    void Serve(const std::string& path, const HttpReply& reply) {
        std::lock_guard<std::mutex> guard(pagesLock);
        pages[path] = reply;
    }
    HttpReply Answer(const HttpRequest& request) {
        std::lock_guard<std::mutex> guard(pagesLock);
        const auto page = pages.find(request.path);
        return page != pages.end() ? page->second : HttpReply::Text("", "404 Not Found");
    }
    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        for (const HttpRequest& request : server.Requests()) paths.push_back(request.path);
        return paths;
    }
    std::string Texts() const {
        std::string text;
        for (const std::string& line : events.Lines()) text += line.substr(EventLogList::kStampLength) + "\n";
        return text;
    }
    // A new thread object with the current settings (one that sent a close request stays quiet).
    void Reconfigure() {
        thread = std::make_unique<UpdateThread>(clock);
        thread->Configure(settings, links);
    }

    stdfs::path root;
    ManualClock clock;
    EventLogList events{clock, nullptr, nullptr};
    NicknameRules rules;
    SharedUpdateOptions options;
    std::mutex pagesLock;
    std::map<std::string, HttpReply> pages;
    HttpTestServer server{[this](const HttpRequest& request) { return Answer(request); }};
    std::string secretKey;
    UpdateKey publicKey{};
    UpdateSettings settings;
    UpdateLinks links;
    std::unique_ptr<UpdateThread> thread;
    uint32_t players = 0;
    bool dialogOpen = false;
    std::vector<uint32_t> shownVersions;
    int closeRequests = 0;
    int closeStatus = -1;
};

TEST_F(UpdateThreadTest, VersionCheckInstallsOnlyASignedProgramFromTheSiteAndAtMostTwice) {
    const std::string program = std::string("\x7f" "ELF new Haldmoor3 build", 24);
    struct Case {
        const char* name;
        const char* version;
        std::string download;   // the Download URI line's address
        std::string file;       // what the site serves there
        std::string signature;  // served as file.sig ("" = not found)
        uint32_t attemptsBefore;
        const char* expected;   // an event line that must appear
        bool installs;
    };
    const std::string onSite = server.Url("files/haldmoor3-3.0.84");
    const std::string good = SignUpdate(program, secretKey);
    const std::string forged = SignUpdate(program + "x", secretKey);
    const std::vector<Case> cases = {
        {"newest installed", "3.0.83", onSite, program, good, 1, "Most recent version already installed.", false},
        {"newer and signed", "3.0.84", onSite, program, good, 0, "Update process started (haldmoor3-updater-tmp).", true},
        {"another site", "3.0.84", "http://other.example.invalid/haldmoor3-3.0.84", program, good, 0,
         "Error: Incorrect download URI.", false},
        {"not the program", "3.0.84", onSite, "just some file", SignUpdate("just some file", secretKey), 0,
         "Error: Invalid update file.", false},
        {"forged signature", "3.0.84", onSite, program, forged, 0, "Error: Invalid update signature.", false},
        {"no signature", "3.0.84", onSite, program, "", 0, "Error: Invalid update signature.", false},
        {"two attempts failed", "3.0.84", onSite, program, good, 2, "Error: Automatic update failed.", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stdfs::remove(root / "updater.args");
        stdfs::remove(root / "work/New_Haldmoor3");
        shownVersions.clear();
        closeRequests = 0;
        const size_t requestsBefore = server.RequestCount();
        const size_t linesBefore = events.Lines().size();
        Serve("/version.html", HttpReply::Text(std::string("<p>Latest Haldmoor3 version: ") + c.version +
                                               "</p><p>Release date: 2026-12-01</p><p>Download URI: " + c.download +
                                               "</p>"));
        Serve("/files/haldmoor3-3.0.84", HttpReply::Text(c.file));
        Serve("/files/haldmoor3-3.0.84.sig",
              c.signature.empty() ? HttpReply::Text("", "404 Not Found") : HttpReply::Text(c.signature));
        options.Set({1, 0, 0, 1, c.attemptsBefore});
        thread->SetCycleCount(1);
        thread->RunCycle();

        std::string texts;
        const std::vector<std::string> lines = events.Lines();
        for (size_t i = linesBefore; i < lines.size(); ++i) texts += lines[i].substr(EventLogList::kStampLength) + "\n";
        EXPECT_NE(texts.find(c.expected), std::string::npos) << texts;
        const bool newer = std::string(c.version) != "3.0.83";
        EXPECT_EQ(texts.find("Release date: 2026-12-01") != std::string::npos, newer) << texts;
        EXPECT_EQ(shownVersions, std::vector<uint32_t>{newer ? 0x030054u : 0x030053u});
        EXPECT_EQ(options.Get().latestVersion, newer ? 0x030054u : 0x030053u);
        EXPECT_EQ(stdfs::exists(root / "work/New_Haldmoor3"), c.installs);
        // The updater stand-in runs on its own: its arguments come a moment later.
        EXPECT_EQ(test_support::WaitFor([&] { return stdfs::exists(root / "updater.args"); }, c.installs ? 10 : 0),
                  c.installs);
        EXPECT_EQ(closeRequests, c.installs ? 1 : 0);
        if (!newer) EXPECT_EQ(options.Get().updateAttempts, 0u);
        if (c.attemptsBefore > 1) EXPECT_EQ(server.RequestCount(), requestsBefore + 1) << "only the page";
        if (c.installs) {
            EXPECT_EQ(ReadFile((root / "work/New_Haldmoor3").string()), program);
            EXPECT_EQ(ReadFile((root / "updater.args").string()),
                      "Haldmoor3\nNew_Haldmoor3\n" + settings.programPath + "\n/A\n/E\n--headless\n");
            EXPECT_EQ(options.Get().updateAttempts, 1u);
        }
        Reconfigure();
    }
}

TEST_F(UpdateThreadTest, OneJobPerCycleEveryTwelveHoursWithTheListsMergedAndLogged) {
    Serve("/version.html", HttpReply::Text("Latest Haldmoor3 version: 3.0.83\r\n"));
    Serve("/Haldmoor/hostdeny.txt", HttpReply::Text("; banned\r\n1.2.3.4\r\n10.0.*\r\n"));
    Serve("/Haldmoor/aliasdeny.txt", HttpReply::Text("; names\nCheater\nBot*\n"));
    fs::WriteWholeFile((root / "game/netgames/hosts.deny").string(), "5.6.7.8\n");
    AntiCheatOptions antiCheat;
    antiCheat.autoUpdateHostsDeny = 1;
    antiCheat.removePreviousHostsDeny = 0;  // entries are added, the log appended
    antiCheat.autoUpdateNicknames = 1;      // the list is replaced, and so is its log
    rules.Set(antiCheat);
    options.Set({1, 0, 0, 1, 0});
    thread->SetCycleCount(1);

    const std::vector<std::vector<std::string>> perCycle = {
        {"/version.html"}, {"/Haldmoor/hostdeny.txt"}, {"/Haldmoor/aliasdeny.txt"}, {}};
    for (const auto& expected : perCycle) {
        const size_t before = server.RequestCount();
        thread->RunCycle();
        const std::vector<std::string> paths = Paths();
        EXPECT_EQ(std::vector<std::string>(paths.begin() + static_cast<long>(before), paths.end()), expected);
    }
    EXPECT_EQ(ReadFile((root / "game/netgames/hosts.deny").string()), "5.6.7.8\r\n1.2.3.4\r\n10.0.*\r\n");
    EXPECT_EQ(rules.Get().disallowedNicknames, (std::vector<std::string>{"Cheater", "Bot*"}));
    EXPECT_EQ(rules.Verdict("bot7"), NicknameVerdictResult::Disallowed);

    // Twelve hours later the three come round again, one per cycle.
    Serve("/Haldmoor/hostdeny.txt", HttpReply::Text("1.2.3.4\r\n172.16.*\r\n"));
    Serve("/Haldmoor/aliasdeny.txt", HttpReply::Text("Griefer\n"));
    clock.Advance(UpdateThread::kCheckPeriodMs + 1);
    for (int i = 0; i < 4; ++i) thread->RunCycle();
    EXPECT_EQ(Count(Texts(), "Checking for newer version of Haldmoor3..."), 2u);
    EXPECT_EQ(ReadFile((root / "game/netgames/hosts.deny").string()), "5.6.7.8\r\n1.2.3.4\r\n10.0.*\r\n172.16.*\r\n");
    EXPECT_EQ(rules.Get().disallowedNicknames, std::vector<std::string>{"Griefer"});
    const std::string hostsLog = ReadFile((root / "log/HostsDenyUpdate.log").string());
    EXPECT_EQ(Count(hostsLog, "Update "), 2u) << hostsLog;
    EXPECT_NE(hostsLog.find("-> added 172.16.* to hosts.deny\r\n"), std::string::npos);
    const std::string namesLog = ReadFile((root / "log/BannedNicknamesUpdate.log").string());
    EXPECT_EQ(Count(namesLog, "Update "), 1u) << namesLog;
    EXPECT_NE(namesLog.find("-> added Griefer to disallowed nicknames\r\n"), std::string::npos);
}

TEST_F(UpdateThreadTest, WithoutASiteOnlyTheOperatorsOwnAddressIsFetchedAndTheOperatorIsToldOnce) {
    Serve("/own/list.txt", HttpReply::Text("Cheater\n"));
    AntiCheatOptions antiCheat;
    antiCheat.autoUpdateHostsDeny = 1;  // default address: needs the site
    antiCheat.autoUpdateNicknames = 1;
    antiCheat.nicknamesUri = server.Url("own/list.txt");
    rules.Set(antiCheat);
    options.Set({1, 0, 0, 1, 0});
    settings.site = "";
    Reconfigure();
    thread->SetCycleCount(1);
    for (int i = 0; i < 3; ++i) thread->RunCycle();
    EXPECT_EQ(Count(Texts(), "Update site not configured."), 1u) << Texts();
    EXPECT_EQ(Paths(), std::vector<std::string>{"/own/list.txt"});
    EXPECT_EQ(rules.Get().disallowedNicknames, std::vector<std::string>{"Cheater"});
}

TEST_F(UpdateThreadTest, UptimeRestartWaitsForADialogAndAtMostTenPostponementsForPlayers) {
    options.Set({0, 0, 0, 1, 0});
    settings.uptimeCycles = 5;
    Reconfigure();
    const auto restarted = [&] { return Count(Texts(), "Haldmoor3: Uptime exceeded."); };

    // Players online: the first due cycle (the 6th) and nine more push it back by 40 cycles each;
    // the eleventh time it goes ahead.
    players = 4;
    for (int i = 0; i < 5 + 10 * 40; ++i) thread->RunCycle();
    EXPECT_EQ(restarted(), 0u);
    thread->RunCycle();
    EXPECT_EQ(restarted(), 1u) << Texts();
    EXPECT_NE(Texts().find("Haldmoor3: Preparing for automatic restart...\nRestarting Haldmoor3...\n"), std::string::npos)
        << Texts();
    ASSERT_TRUE(test_support::WaitFor([&] { return stdfs::exists(root / "updater.args"); }, 10));
    EXPECT_EQ(ReadFile((root / "updater.args").string()),
              "Haldmoor3\n\n" + settings.programPath + "\n/A\n/E\n--headless\n");
    EXPECT_EQ(closeRequests, 1);
    EXPECT_EQ(thread->cycleCount(), 0u);

    // A settings dialog holds it back for as long as it is open, players or not.
    Reconfigure();
    players = 0;
    dialogOpen = true;
    for (int i = 0; i < 2000; ++i) thread->RunCycle();
    EXPECT_EQ(restarted(), 1u);
    dialogOpen = false;
    for (int i = 0; i < 40; ++i) thread->RunCycle();
    EXPECT_EQ(restarted(), 2u);
    EXPECT_EQ(closeStatus, 0);

    // Under a service manager the program ends for it to restart; no updater is involved.
    stdfs::remove(root / "updater.args");
    settings.serviceManaged = true;
    Reconfigure();
    for (int i = 0; i < 6; ++i) thread->RunCycle();
    EXPECT_EQ(restarted(), 3u);
    EXPECT_EQ(closeStatus, UpdateThread::kServiceRestartStatus);
    RealClock().Sleep(200);
    EXPECT_FALSE(stdfs::exists(root / "updater.args"));
}

TEST_F(UpdateThreadTest, StopEndsTheThreadWithoutWaitingForItsCycle) {
    UpdateThread real(RealClock());
    options.Set({0, 0, 0, 1, 0});
    ASSERT_TRUE(real.Start(settings, links));
    RealClock().Sleep(200);  // inside the waits of its first cycle
    const auto start = std::chrono::steady_clock::now();
    real.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));  // a cycle lasts 15
    EXPECT_FALSE(real.Running());
}

}  // namespace
}  // namespace hm
