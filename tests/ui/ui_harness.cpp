#include "ui_harness.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPixmap>
#include <QTableWidget>
#include <QThread>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/clock.h"
#include "platform/process.h"
#include "servers/server_config_array.h"
#include "platform/socket.h"
#include "support/binaries.h"
#include "ui/event_list_view.h"
#include "ui/status_list.h"

namespace hm::ui_test {

namespace stdfs = std::filesystem;

int RecordingPresenter::Exec(QDialog& dialog) {
    dialog.show();
    WaitFor([&] { return dialog.isVisible(); }, std::chrono::seconds(2));
    const int result = onExec ? onExec(dialog) : QDialog::Rejected;
    dialog.hide();
    return result;
}

QStringList Lines(const QListWidget* list) {
    QStringList lines;
    for (int row = 0; row < list->count(); ++row) lines << list->item(row)->text();
    return lines;
}

QPushButton* Ok(QDialog& dialog) { return dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok); }

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count()) return false;
        QCoreApplication::sendPostedEvents();
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

std::string SaveShot(QWidget& widget, const std::string& name) {
    const char* dir = std::getenv("HM_SHOTS_DIR");
    const std::string folder = dir && *dir ? dir : "build/ui-shots";
    QDir().mkpath(QString::fromStdString(folder));
    const std::string path = folder + "/" + name + ".png";
    widget.grab().save(QString::fromStdString(path));
    return path;
}

void UiHarness::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps two builds' runs of the same test apart.
    folder = stdfs::temp_directory_path() / ("hm_ui_" + std::to_string(QCoreApplication::applicationPid()) + "_" +
                                             info->test_suite_name() + "_" + info->name());
    stdfs::remove_all(folder);
    stdfs::create_directories(folder / "run");
    stdfs::permissions(folder / "run", stdfs::perms::owner_all);
    // The program's own start reads these; the manager and the programs it starts see the same ones.
    setenv("HALDMOOR3_REGISTRY", (folder / "registry.reg").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (folder / "run").c_str(), 1);
    setenv("HALDMOOR3_HELP_DIR", (test_support::BinDir() + "/help").c_str(), 1);
}

void UiHarness::TearDown() {
    Close();
    // A test that failed half-way may leave servers behind.
    for (int pid : GameServerProcesses()) {
        if (auto process = Process::Attach(static_cast<uint32_t>(pid), std::string())) process->Terminate();
    }
    stdfs::remove_all(folder);
}

void UiHarness::Prepare(const HarnessOptions& chosen) {
    options = chosen;
    const std::string environment = "HALDMOOR3_REGISTRY=" + (folder / "registry.reg").string() + " ";
    ASSERT_EQ(test_support::MakeInstallation(folder.string(), environment), 0);
    if (options.demoConfigs > 0) {
        basePort = FindFreeTcpPort();
        ASSERT_NE(basePort, 0);
        auto maker = Process::Spawn(test_support::BinDir() + "/k3ded",
                                    "demo-configs \"" + (folder / "cfg").string() + "\" " + std::to_string(basePort) + " " +
                                        std::to_string(options.demoConfigs),
                                    folder.string(), (folder / "demo-configs.out").string());
        ASSERT_TRUE(maker && maker->Wait(60000) == Process::WaitResult::Exited && maker->ExitCode() == 0);
        if (!options.autoLaunch) ChangeStoredConfigurations([](CServerConfigArray& store) { store.globalOptions.autoLaunchAtStart = 0; });
    }
}

void UiHarness::ChangeStoredConfigurations(const std::function<void(CServerConfigArray&)>& change) {
    const std::string cfg = (folder / "cfg").string() + "/";
    CServerConfigArray store;
    ASSERT_EQ(store.Load(cfg, nullptr), StoreLoad::Loaded);
    change(store);
    ASSERT_TRUE(store.Store(cfg, nullptr));
}

void UiHarness::Open(bool tray) {
    closed = false;
    registry = std::make_unique<Registry>((folder / "registry.reg").string());
    loop = std::make_unique<QtEventLoop>();
    window = std::make_unique<MainWindow>(presenter);
    window->SetTrayAvailable(tray);
    // The library is looked for as at a start; a stand-in file never loads, so no log is ever written.
    jotwell = std::make_unique<JotwellBinding>();
    if (options.jotwellPresent) {
        stdfs::create_directories(folder / "lib");
        std::ofstream(folder / "lib" / kJotwellFileName) << "not a library";
        jotwell->BindAtStartup((folder / "lib").string(), *registry);
    }
    window->SetJotwellPresent(jotwell->jotwellPresent());
    ManagerContext context;
    context.clock = &RealClock();
    context.loop = loop.get();
    context.view = window.get();
    context.registry = registry.get();
    context.jotwell = jotwell.get();
    context.workingFolder = folder.string();
    context.timerPeriodMs = options.timerPeriodMs;
    manager = std::make_unique<ServerManager>(context);
    window->Attach(manager.get());
    window->SetClosedHandler([this] { closed = true; });
}

void UiHarness::StartUp() { manager->StartUp(); }

void UiHarness::Close() {
    if (!manager) return;
    window->hide();
    manager->ShutDown();
    window->Attach(nullptr);
    manager.reset();
    window.reset();
    loop.reset();
    QCoreApplication::sendPostedEvents();
}

bool UiHarness::WaitForRunningServers(int count) {
    return WaitFor([&] {
        int running = 0;
        StatusList* list = window->statusList();
        for (int row = 0; row < list->rowCount(); ++row) {
            const QTableWidgetItem* pid = list->item(row, 0);
            if (pid && pid->text().toUInt() != 0) ++running;
        }
        int loggedIn = 0;
        for (const std::string& text : EventTexts()) loggedIn += text.find("player(s) assumed") != std::string::npos;
        return running >= count && loggedIn >= count;
    });
}

std::vector<std::string> UiHarness::EventTexts() const {
    std::vector<std::string> texts;
    QListWidget* list = window->eventList()->list();
    for (int row = 0; row < list->count(); ++row) texts.push_back(list->item(row)->text().mid(21).toStdString());
    return texts;
}

bool UiHarness::HasEvent(const std::string& text) const {
    for (const std::string& line : EventTexts())
        if (line == text) return true;
    return false;
}

std::vector<int> UiHarness::GameServerProcesses() const {
    // Every process whose command line names this folder's game server.
    std::vector<int> pids;
    const std::string needle = (folder / "game").string();
    for (const auto& entry : stdfs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (text.str().find(needle) != std::string::npos && text.str().find("main.exe") != std::string::npos)
            pids.push_back(std::stoi(name));
    }
    return pids;
}

}  // namespace hm::ui_test
