#include "app/program.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/command_server.h"
#include "app/commands.h"
#include "app/headless_loop.h"
#include "app/headless_view.h"
#include "app/server_manager.h"
#include "eventlog/jotwell_binding.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/local_channel.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "platform/service_notify.h"
#include "game/game_installation.h"

namespace hm {

namespace {

std::atomic<bool> g_exitSignal{false};

extern "C" void OnExitSignal(int) { g_exitSignal.store(true); }

struct Arguments {
    bool headless = false;
    bool help = false;
    std::vector<std::string> send;  // command words for the running instance
    std::string metricsFile;
    std::string error;
};

Arguments ParseArguments(int argc, char** argv) {
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--headless") {
            args.headless = true;
        } else if (word == "--help" || word == "-h") {
            args.help = true;
        } else if (word == "--metrics-file") {
            if (++i >= argc || !*argv[i]) {
                args.error = "--metrics-file needs a file name";
                break;
            }
            args.metricsFile = argv[i];
        } else if (word == "--send") {
            for (++i; i < argc; ++i) args.send.emplace_back(argv[i]);
            if (args.send.empty()) args.error = "--send needs a command";
        } else {
            args.error = "unknown argument: " + word;
        }
    }
    return args;
}

// A whole decimal number in [low, high] from the environment, else fallback.
uint32_t EnvironmentNumber(const char* name, uint32_t low, uint32_t high, uint32_t fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    uint64_t value = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9' || c - text >= 10) return fallback;
        value = value * 10 + static_cast<uint64_t>(*c - '0');
    }
    return value >= low && value <= high ? static_cast<uint32_t>(value) : fallback;
}

int RunHeadless(JotwellBinding& jotwell, Registry& registry, const UpdateTuning& update, const std::string& metricsFile) {
    HeadlessLoop loop;
    HeadlessView view(loop);
    view.SetJournalPriorities(StdoutIsJournal());
    ManagerContext context;
    context.clock = &RealClock();
    context.loop = &loop;
    context.view = &view;
    context.jotwell = &jotwell;
    context.registry = &registry;
    context.timerPeriodMs = TimerPeriodSetting();
    context.consoleTimeoutMs = ConsoleTimeoutSetting();
    context.update = update;
    context.metricsFile = metricsFile;

    std::signal(SIGTERM, OnExitSignal);
    std::signal(SIGINT, OnExitSignal);
    std::signal(SIGHUP, OnExitSignal);
    std::signal(SIGPIPE, SIG_IGN);

    if (jotwell.useGlobalJotwell()) jotwell.WriteGlobalLog("");
    int result = 0;
    {
        ServerManager manager(context);
        CommandServer commands(loop, manager);
        if (!commands.Start(InstanceSocketPath())) {
            std::fprintf(stderr, "Cannot open the command channel %s; --send will not reach this instance.\n",
                         InstanceSocketPath().c_str());
        }
        manager.StartUp();
        if (manager.initializationFailed()) view.RequestClose();
        loop.Run(&g_exitSignal);
        if (g_exitSignal.load()) manager.CommandExit();  // a signal acts as "Exit": servers keep running
        commands.Stop();
        manager.ShutDown();
        // A run that could not start is not a success, whatever ended it.
        result = manager.initializationFailed() ? 1 : manager.exitStatus;
    }
    // By now the switch holds the value of the global options.
    if (jotwell.useGlobalJotwell()) {
        jotwell.WriteGlobalLog("Haldmoor3 shutdown.");
        RealClock().Sleep(300);
    }
    return result;
}

}  // namespace

UpdateTuning UpdateTuningSetting(Registry& registry, const UpdateKey& key, bool headless) {
    UpdateTuning tuning;
    tuning.run = true;
    tuning.key = key;
    if (headless) tuning.restartArguments = {"--headless"};
    const char* site = std::getenv("HALDMOOR3_UPDATE_SITE");
    if (site && *site) {
        tuning.site = site;
    } else {
        RegValue value;
        if (registry.Read(kGameKey, "Haldmoor3UpdateSite", value) && value.type == RegType::String) {
            tuning.site = value.text;
        }
    }
    while (!tuning.site.empty() && tuning.site.back() == '/') tuning.site.pop_back();
    tuning.uptimeCycles = EnvironmentNumber("HALDMOOR3_UPTIME_CYCLES", 1, 12000, 12000);
    tuning.secondMs = EnvironmentNumber("HALDMOOR3_UPDATE_SECOND_MS", 1, 1000, 1000);
    const char* notifySocket = std::getenv("NOTIFY_SOCKET");
    tuning.serviceManaged = notifySocket && *notifySocket;
    return tuning;
}

std::string InstanceSocketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/haldmoor3.sock";
    const char* user = std::getenv("USER");
    return std::string("/tmp/haldmoor3-") + (user && *user ? user : "user") + ".sock";
}

uint32_t TimerPeriodSetting() {
    const char* text = std::getenv("HALDMOOR3_TIMER_MS");
    if (!text || !*text) return 15000;
    const unsigned long value = std::strtoul(text, nullptr, 10);
    return value >= 10 && value <= 3600000 ? static_cast<uint32_t>(value) : 15000;
}

// A console silence time-out in ms that replaces both normal ones, so that a hung
// server is noticed within seconds. Only plain decimal digits in 100 ... 3600000 count; anything else
// keeps the normal time-outs (0).
uint32_t ConsoleTimeoutSetting() { return EnvironmentNumber("HALDMOOR3_CONSOLE_TIMEOUT_MS", 100, 3600000, 0); }

std::string MetricsFileArgument(int argc, char** argv) { return ParseArguments(argc, argv).metricsFile; }

bool DisplayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

int RunProgram(int argc, char** argv, DesktopFrontEnd desktop, const UpdateKey& updateKey) {
    const Arguments args = ParseArguments(argc, argv);
    if (!args.error.empty()) {
        std::fprintf(stderr, "haldmoor3: %s\n\n%s", args.error.c_str(), UsageText().c_str());
        return 2;
    }
    if (args.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }

    // Bind the logging library and read its switch.
    Registry registry;
    JotwellBinding jotwell;
    jotwell.BindAtStartup(fs::ExecutableFolder(), registry);

    // A command for the running instance goes straight to its channel. A sender never takes the
    // instance's mutex: a program starting at that moment would take the sender for a running instance
    // and end.
    const auto handOver = [](std::vector<std::string> words, std::string& answer) {
        // File names are the sender's: the running instance may stand in another folder.
        if (words[0] == "import" || words[0] == "config-export" || words[0] == "config-import") {
            for (size_t i = 1; i < words.size(); ++i) {
                if (words[i] != "--batch" && !words[i].empty() && words[i][0] != '/') {
                    words[i] = fs::CurrentDirectory() + "/" + words[i];
                }
            }
        }
        return LocalRequest(InstanceSocketPath(), EncodeCommand(words), answer, 130000);
    };
    if (!args.send.empty()) {
        std::string answer;
        if (!handOver(args.send, answer)) {
            std::fprintf(stderr, "haldmoor3: Haldmoor3 is not running (its command channel does not answer).\n");
            return 1;
        }
        std::fputs(answer.c_str(), stdout);
        return answer.rfind("Error:", 0) == 0 ? 1 : 0;
    }

    // The single-instance rule: the local mutex decides, the global one only exists.
    NamedMutex localMutex;
    NamedMutex globalMutex;
    bool anotherInstance = false;
    localMutex.Create("Haldmoor3", &anotherInstance);
    globalMutex.Create("Global\\Haldmoor3");

    if (anotherInstance) {
        std::string answer;
        if (!handOver({"front"}, answer)) {
            std::fprintf(stderr, "haldmoor3: another instance runs but did not answer.\n");
            return 1;
        }
        std::fputs(answer.c_str(), stdout);
        return answer.rfind("Error:", 0) == 0 ? 1 : 0;
    }

    // Leftovers of a self-update; errors are ignored. Only the instance that runs does this: a second
    // start that hands over a command neither waits nor deletes files in the folder it was started in.
    fs::DeleteFile(UpdateThread::kNewProgramName);
    RealClock().Sleep(100);
    fs::DeleteFile(UpdateThread::kUpdaterCopyName);
    const UpdateTuning update = UpdateTuningSetting(registry, updateKey, args.headless);
    if (!args.headless) {
        if (!desktop) {
            std::fprintf(stderr,
                         "haldmoor3: this build has no window front-end.\n"
                         "Run it without a display: haldmoor3 --headless\n");
            return 2;
        }
        if (!DisplayAvailable()) {
            std::fprintf(stderr,
                         "haldmoor3: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                         "Run it without a window: haldmoor3 --headless\n");
            return 2;
        }
        return desktop(argc, argv, jotwell, registry, update);
    }
    return RunHeadless(jotwell, registry, update, args.metricsFile);
}

}  // namespace hm
