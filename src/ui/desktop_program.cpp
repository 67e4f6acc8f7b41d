#include "ui/desktop_program.h"

#include <QApplication>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "app/command_server.h"
#include "app/program.h"
#include "app/server_manager.h"
#include "eventlog/jotwell_binding.h"
#include "platform/clock.h"
#include "ui/app_icon.h"
#include "ui/main_window.h"
#include "ui/presenter.h"
#include "ui/qt_event_loop.h"

namespace hm {

namespace {

std::atomic<bool> g_exitSignal{false};
extern "C" void OnDesktopExitSignal(int) { g_exitSignal.store(true); }

}  // namespace

int RunDesktop(int argc, char** argv, JotwellBinding& jotwell, Registry& registry, const UpdateTuning& update) {
    const std::string metricsFile = MetricsFileArgument(argc, argv);  // before Qt takes its own arguments
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Haldmoor3"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(AppIcon());
    // Matches the window to haldmoor3.desktop (a Wayland desktop takes the task bar icon from there).
    QGuiApplication::setDesktopFileName(QStringLiteral("haldmoor3"));

    QtEventLoop loop;
    DialogPresenter presenter;
    MainWindow window(presenter);
    window.SetJotwellPresent(jotwell.jotwellPresent());

    ManagerContext context;
    context.clock = &RealClock();
    context.loop = &loop;
    context.view = &window;
    context.jotwell = &jotwell;
    context.registry = &registry;
    context.timerPeriodMs = TimerPeriodSetting();
    context.consoleTimeoutMs = ConsoleTimeoutSetting();
    context.update = update;
    context.metricsFile = metricsFile;

    // A signal acts as "Exit", as in the headless program: servers keep running.
    std::signal(SIGTERM, OnDesktopExitSignal);
    std::signal(SIGINT, OnDesktopExitSignal);
    std::signal(SIGHUP, OnDesktopExitSignal);
    std::signal(SIGPIPE, SIG_IGN);

    if (jotwell.useGlobalJotwell()) jotwell.WriteGlobalLog("");
    int result = 0;
    {
        ServerManager manager(context);
        window.Attach(&manager);
        window.SetClosedHandler([] { QApplication::quit(); });
        // The anti-cheat and the remote info server options join the dialog with their own dialogs.
        CommandServer commands(loop, manager);
        if (!commands.Start(InstanceSocketPath())) {
            std::fprintf(stderr, "Cannot open the command channel %s; --send will not reach this instance.\n",
                         InstanceSocketPath().c_str());
        }
        QTimer signalWatch;
        QObject::connect(&signalWatch, &QTimer::timeout, [&manager] {
            if (g_exitSignal.exchange(false)) manager.CommandExit();
        });
        signalWatch.start(250);
        manager.StartUp();
        if (manager.initializationFailed()) window.RequestClose();
        QApplication::exec();
        signalWatch.stop();
        commands.Stop();
        window.hide();
        manager.ShutDown();
        window.Attach(nullptr);
        result = manager.initializationFailed() ? 1 : manager.exitStatus;
    }
    if (jotwell.useGlobalJotwell()) {
        jotwell.WriteGlobalLog("Haldmoor3 shutdown.");
        RealClock().Sleep(300);
    }
    return result;
}

}  // namespace hm
